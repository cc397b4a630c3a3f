// The e-mail report's due test against the stored time, the SMTP exchange it drives, and
// cancelling a report at exit. The SMTP client is a scripted fake; the stored time lives
// in a settings file in a temporary folder.
#include "engine/email_reporter.h"

#include <gtest/gtest.h>
#include <time.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "mail/smtp.h"
#include "platform/registry.h"
#include "platform/time_format.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using platform::Status;
using testing_support::ScopedEnv;
using testing_support::TempDir;

constexpr std::int64_t kNow = 1765120500;  // 07 Dec 2025 03:15 PM UTC
constexpr std::int64_t kHour = 3600;

// What the fake clients were asked, in order, over all clients of a test.
struct Script {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> calls;
  Status connectStatus = 0;
  bool blockInConnect = false;  // Connect waits until cancelled
  bool cancelled = false;
  std::string subject, senderName, senderAddress, recipientName, recipientAddress, html;
  std::uint16_t port = 0;
  std::uint32_t timeout = 0;
  bool auth = false;

  void Add(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
    changed.notify_all();
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
  int Count(const std::string& call) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }
};
Script* script = nullptr;

class FakeClient : public Smtp::IClient {
 public:
  Status Release() override {
    script->Add("Release");
    delete this;
    return 0;
  }
  Status Cancel() override {
    std::lock_guard lock(script->mutex);
    script->cancelled = true;
    script->changed.notify_all();
    return 0;
  }
  Status Connect(const Smtp::IConnectionParams& params) override {
    script->Add("Connect " + params.GetServer());
    std::unique_lock lock(script->mutex);
    script->port = params.GetPort();
    script->timeout = params.GetTimeout();
    script->auth = params.GetUseAuthentication();
    if (script->blockInConnect) {
      script->changed.wait(lock, [] { return script->cancelled; });
      return platform::kWsaEintr;
    }
    return script->connectStatus;
  }
  Status Disconnect(bool sendQuit) override {
    script->Add(sendQuit ? "Disconnect QUIT" : "Disconnect");
    return 0;
  }
  Status BeginMessage(Smtp::IMessageBody**, int, const Smtp::IMessageInfo&,
                      std::uint16_t) override {
    script->Add("BeginMessage");
    return 1;
  }
  Status SendText(const std::string&, const Smtp::IMessageInfo&, std::uint16_t) override {
    script->Add("SendText");
    return 1;
  }
  Status SendHtml(const std::string& html, const Smtp::IMessageInfo& info,
                  std::uint16_t codePage) override {
    {
      std::lock_guard lock(script->mutex);
      script->html = html;
      script->subject = info.GetSubject();
      script->senderName = info.GetSender().GetName();
      script->senderAddress = info.GetSender().GetAddress();
      script->recipientName = info.GetRecipient(0).GetName();
      script->recipientAddress = info.GetRecipient(0).GetAddress();
    }
    script->Add("SendHtml " + std::to_string(codePage) + " " +
                std::to_string(info.GetRecipientCount()));
    return 0;
  }
  Status EndMessage() override {
    script->Add("EndMessage");
    return 0;
  }
};

Status CreateFakeClient(Smtp::IClient** client) {
  *client = new FakeClient;
  return 0;
}

class EMailReportTest : public testing::Test {
 protected:
  void SetUp() override {
    tzset();
    script = &script_;
    EMailReporter::SetSmtpClientFactory(CreateFakeClient);
    platform::SetRegistryBasePath("Software\\Test Company\\Lumivar\\");
  }
  void TearDown() override {
    EMailReporter::SetSmtpClientFactory(nullptr);
    platform::SetRegistryBasePath("");
    script = nullptr;
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

  Script script_;
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
    EXPECT_EQ(script_.Count("EndMessage"), sends) << c.name;
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
  EXPECT_EQ(script_.Count("EndMessage"), 3);
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
  EXPECT_TRUE(script_.Calls().empty());
}

TEST_F(EMailReportTest, TheReportIsOneHtmlMessageInUtf8) {
  EXPECT_EQ(EMailReporter::SendPage(Settings(1), "<HTML>page</HTML>"), 0u);
  EXPECT_EQ(script_.Calls(),
            (std::vector<std::string>{"Connect mail.example.com", "SendHtml 65001 1", "EndMessage",
                                      "Disconnect QUIT", "Release"}));
  EXPECT_EQ(script_.subject, "Lumivar Report 07 Dec 2025 03:15 PM");
  EXPECT_EQ(script_.senderName, "Lumivar");
  EXPECT_EQ(script_.senderAddress, "lumivar@example.com");
  EXPECT_EQ(script_.recipientName, "");
  EXPECT_EQ(script_.recipientAddress, "boss@example.com");
  EXPECT_EQ(script_.html, "<HTML>page</HTML>");
  EXPECT_EQ(script_.port, 2525);
  EXPECT_EQ(script_.timeout, 30000u);
  EXPECT_TRUE(script_.auth);
}

TEST_F(EMailReportTest, AFailedStepEndsTheExchangeWithoutQuit) {
  script_.connectStatus = 535;  // login refused
  EXPECT_EQ(EMailReporter::SendPage(Settings(1), "page"), 535u);
  EXPECT_EQ(script_.Calls(),
            (std::vector<std::string>{"Connect mail.example.com", "Disconnect", "Release"}));
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
  EXPECT_TRUE(script_.Calls().empty());
}

TEST_F(EMailReportTest, ShutdownCancelsARunningReportAndStopsNewOnes) {
  script_.blockInConnect = true;
  EMailReporter reporter;
  ASSERT_TRUE(reporter.CheckAndSend(Settings(1)));
  {
    std::unique_lock lock(script_.mutex);
    ASSERT_TRUE(script_.changed.wait_for(lock, 10s, [&] { return !script_.calls.empty(); }));
  }
  EXPECT_FALSE(reporter.WaitForReports(50ms));
  EXPECT_TRUE(reporter.Shutdown(10s));
  EXPECT_EQ(script_.Calls(),
            (std::vector<std::string>{"Connect mail.example.com", "Disconnect", "Release"}));
  clock_.SetNow(kNow + 40 * 24 * kHour);
  EXPECT_FALSE(reporter.CheckAndSend(Settings(1)));
}

}  // namespace
}  // namespace engine
