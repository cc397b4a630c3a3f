// The e-mail report's due test against the stored time, the SMTP exchange it drives, and
// cancelling a report at exit. The SMTP client is the scripted fake of the action tests;
// the stored time lives in a settings file in a temporary folder.
#include "engine/report/email_reporter.h"

#include <gtest/gtest.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "mail/smtp.h"
#include "platform/registry.h"
#include "platform/time_format.h"
#include "tests/engine/action_fakes.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing_support::ScopedEnv;
using testing_support::TempDir;

constexpr std::int64_t kNow = 1765120500;  // 07 Dec 2025 03:15 PM UTC
constexpr std::int64_t kHour = 3600;

class EMailReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tzset();
    EMailReporter::SetSmtpClientFactory(&testing::FakeSmtp::Create);
    platform::SetRegistryBasePath("Software\\Test Company\\Lumivar\\");
  }
  void TearDown() override {
    EMailReporter::SetSmtpClientFactory(nullptr);
    platform::SetRegistryBasePath("");
    tz_.reset();
    tzset();
  }

  static MailSettings Settings(int mode) {
    MailSettings settings;
    settings.mode = mode;
    settings.server = "mail.example.com";
    settings.port = 2525;
    settings.auth = 1;
    settings.userName = "reports";
    settings.password = "secret";
    settings.fromAddress = "lumivar@example.com";
    settings.toAddress = "boss@example.com";
    return settings;
  }
  static std::string Stored() {
    return platform::ReadRegistryString(EMailReporter::kLastReportTimePath);
  }
  static void Store(const std::string& text) {
    ASSERT_TRUE(platform::WriteRegistryString(EMailReporter::kLastReportTimePath, text));
  }

  testing::FakeSmtp smtp_;
  TempDir config_;
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", config_.Path()};
  TempDir docs_;
  ScopedEnv docsEnv_{"LUMIVAR_DOCUMENTS_DIR", docs_.Path()};
  std::optional<ScopedEnv> tz_{std::in_place, "TZ", "UTC"};
  FakeClock clock_{kNow};
  ScopedClock scopedClock_{&clock_};
};

TEST_F(EMailReportTest, DueTestAgainstTheStoredTime) {
  const struct {
    const char* name;
    int mode;
    std::optional<std::int64_t> storedAgo;  // nullopt: no value
    const char* storedText;                 // used when storedAgo is nullopt and not null
    bool due;
  } cases[] = {
      {"never sent", 1, std::nullopt, nullptr, true},
      {"empty value", 1, std::nullopt, "", true},
      {"value that is not a time", 1, std::nullopt, "yesterday", true},
      {"value out of range", 1, std::nullopt, "00 00 25 07 12 2025", true},
      {"daily after 23 hours", 1, 23 * kHour, nullptr, false},
      {"daily after 24 hours", 1, 24 * kHour, nullptr, true},
      {"daily, checked 30 s early", 1, 24 * kHour - 30, nullptr, true},
      {"daily, checked 2 minutes early", 1, 24 * kHour - 120, nullptr, false},
      {"weekly after 6 days 23 hours", 2, (6 * 24 + 23) * kHour, nullptr, false},
      {"weekly after 7 days", 2, 7 * 24 * kHour, nullptr, true},
      {"monthly after 29 days", 3, 29 * 24 * kHour, nullptr, false},
      {"monthly after 30 days", 3, 30 * 24 * kHour, nullptr, true},
      {"unknown mode, just sent", 7, 0, nullptr, true},
      {"negative mode, an hour ago", -1, kHour, nullptr, true},
      {"stored time in the future", 1, -2 * kHour, nullptr, false},
      {"switched off", 0, std::nullopt, nullptr, false},
  };
  int sends = 0;
  for (const auto& c : cases) {
    EMailReporter reporter;
    std::string before;
    if (c.storedAgo) {
      before = platform::TimeToString(kNow - *c.storedAgo);
      Store(before);
    } else {
      before = c.storedText ? c.storedText : "";
      Store(before);
    }
    EXPECT_EQ(reporter.CheckAndSend(Settings(c.mode)), c.due) << c.name;
    ASSERT_TRUE(reporter.WaitForReports(10s)) << c.name;
    if (c.due) ++sends;
    EXPECT_EQ(Stored(), c.due ? platform::TimeToString(kNow) : before) << c.name;
    EXPECT_EQ(smtp_.Count("EndMessage"), sends) << c.name;
  }
}

TEST_F(EMailReportTest, AReportAtTheFirstCheckThenOncePerSpan) {
  EMailReporter reporter;
  std::vector<int> sentAtHour;
  for (int hour = 0; hour < 72; ++hour) {
    clock_.SetNow(kNow + hour * kHour);
    if (reporter.CheckAndSend(Settings(1))) sentAtHour.push_back(hour);
  }
  ASSERT_TRUE(reporter.WaitForReports(10s));
  EXPECT_EQ(sentAtHour, (std::vector<int>{0, 24, 48}));
  EXPECT_EQ(smtp_.Count("EndMessage"), 3);
}

// In the hour repeated when summer time ends, the stored text names two times; it always
// reads as the later one, so a daily report comes a day or a day and an hour after the
// last one, never sooner, and the stored time only moves forward.
TEST_F(EMailReportTest, TheRepeatedHourNeverMakesAReportEarly) {
  tz_.emplace("TZ", "Europe/Berlin");
  tzset();
  constexpr std::int64_t kFirstPass = 1761438600;   // 26 Oct 2025 02:30 CEST
  constexpr std::int64_t kSecondPass = 1761442200;  // 26 Oct 2025 02:30 CET
  ASSERT_EQ(platform::TimeToString(kFirstPass), platform::TimeToString(kSecondPass));
  for (const std::int64_t start : {kFirstPass, kSecondPass}) {
    platform::WriteRegistryString(EMailReporter::kLastReportTimePath, "");
    EMailReporter reporter;
    std::vector<std::int64_t> sent;
    std::int64_t lastRead = 0;
    for (int i = 0; i < 72; ++i) {
      const std::int64_t now = start + i * kHour;
      clock_.SetNow(now);
      if (reporter.CheckAndSend(Settings(1))) sent.push_back(now);
      const std::int64_t read = EMailReporter::ReadLastReportTime();
      EXPECT_EQ(read, EMailReporter::ReadLastReportTime());
      EXPECT_GE(read, lastRead);
      lastRead = read;
    }
    ASSERT_TRUE(reporter.WaitForReports(10s));
    ASSERT_EQ(sent.size(), 3u) << start;
    EXPECT_EQ(sent[1] - sent[0], start == kFirstPass ? 25 * kHour : 24 * kHour);
    EXPECT_EQ(sent[2] - sent[1], 24 * kHour);
  }
}

TEST_F(EMailReportTest, NothingIsSentWhenTheTimeCannotBeStored) {
  platform::SetRegistryBasePath("");
  EMailReporter reporter;
  EXPECT_FALSE(reporter.CheckAndSend(Settings(1)));
  ASSERT_TRUE(reporter.WaitForReports(10s));
  EXPECT_TRUE(smtp_.Calls().empty());
}

constexpr char kConnect[] =
    "Connect mail.example.com:2525 auth=1 reports/secret tls=0 timeout=30000";

TEST_F(EMailReportTest, TheReportIsOneHtmlMessageInUtf8) {
  EXPECT_EQ(EMailReporter::SendPage(Settings(1), "<HTML>page</HTML>"), 0u);
  EXPECT_EQ(smtp_.Calls(),
            (std::vector<std::string>{kConnect,
                                      "SendHtml cp=65001 from=\"Lumivar\" <lumivar@example.com> "
                                      "to=\"\" <boss@example.com> subject=Lumivar Report 07 Dec "
                                      "2025 03:15 PM html=<HTML>page</HTML>",
                                      "EndMessage", "Disconnect QUIT", "Release"}));
}

TEST_F(EMailReportTest, AFailedStepEndsTheExchangeWithoutQuit) {
  smtp_.connectStatus = 535;  // login refused
  EXPECT_EQ(EMailReporter::SendPage(Settings(1), "page"), 535u);
  EXPECT_EQ(smtp_.Calls(), (std::vector<std::string>{kConnect, "Disconnect", "Release"}));
}

TEST_F(EMailReportTest, UnusableSettingsFailBeforeConnecting) {
  MailSettings noRecipient = Settings(1);
  noRecipient.toAddress = "";
  EXPECT_NE(EMailReporter::SendPage(noRecipient, "page"), 0u);
  MailSettings noPort = Settings(1);
  noPort.port = 0;
  EXPECT_NE(EMailReporter::SendPage(noPort, "page"), 0u);
  noPort.port = 70000;
  EXPECT_NE(EMailReporter::SendPage(noPort, "page"), 0u);
  EXPECT_TRUE(smtp_.Calls().empty());
}

TEST_F(EMailReportTest, ShutdownCancelsARunningReportAndStopsNewOnes) {
  smtp_.blockInConnect = true;
  EMailReporter reporter;
  ASSERT_TRUE(reporter.CheckAndSend(Settings(1)));
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  EXPECT_FALSE(reporter.WaitForReports(50ms));
  EXPECT_TRUE(reporter.Shutdown(10s));
  EXPECT_EQ(smtp_.Calls(), (std::vector<std::string>{kConnect, "Cancel", "Disconnect", "Release"}));
  clock_.SetNow(kNow + 40 * 24 * kHour);
  EXPECT_FALSE(reporter.CheckAndSend(Settings(1)));
}

}  // namespace
}  // namespace engine
