// The e-mail report against a real SMTP server on loopback (aiosmtpd, parsed back by
// Python's email package), and the exit of a report stuck on a server that never answers.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "engine/clock.h"
#include "engine/report/email_reporter.h"
#include "engine/report/html_report.h"
#include "platform/registry.h"
#include "platform/time_format.h"
#include "tests/support/loopback.h"
#include "tests/support/smtp_server.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing_support::LoopbackListener;
using testing_support::ScopedEnv;
using testing_support::SmtpTestServer;
using testing_support::TempDir;

constexpr std::int64_t kNow = 1765120500;  // 07 Dec 2025 03:15 PM UTC

class EMailReportITest : public testing::Test {
 protected:
  void SetUp() override {
    tzset();
    platform::SetRegistryBasePath("Software\\Test Company\\Lumivar\\");
  }
  void TearDown() override {
    platform::SetRegistryBasePath("");
    tz_.reset();
    tzset();
  }

  MailSettings Settings(std::uint16_t port, const std::string& password = "tanstaaftanstaaf") {
    MailSettings settings;
    settings.mode = 1;
    settings.server = "127.0.0.1";
    settings.port = port;
    settings.auth = 1;
    settings.userName = "tim";
    settings.password = password;
    settings.fromAddress = "lumivar@example.com";
    settings.toAddress = "boss@example.com";
    return settings;
  }
  static std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
  }

  TempDir config_;
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", config_.Path()};
  TempDir docs_;
  ScopedEnv docsEnv_{"LUMIVAR_DOCUMENTS_DIR", docs_.Path()};
  std::optional<ScopedEnv> tz_{std::in_place, "TZ", "UTC"};
  FakeClock clock_{kNow};
  ScopedClock scopedClock_{&clock_};
};

TEST_F(EMailReportITest, TheReportArrivesAsHtmlInUtf8) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  EMailReporter reporter;
  ASSERT_TRUE(reporter.CheckAndSend(Settings(server.Port())));
  ASSERT_TRUE(reporter.WaitForReports(60s));
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto& m = messages[0];
  EXPECT_EQ(m["content_type"], "text/html");
  EXPECT_EQ(m["charset"], "utf-8");
  EXPECT_EQ(m["subject"], "Lumivar Report 07 Dec 2025 03:15 PM");
  EXPECT_EQ(m["from"], "Lumivar <lumivar@example.com>");
  EXPECT_EQ(m["to"], "boss@example.com");
  EXPECT_EQ(m["mail_from"], "lumivar@example.com");
  EXPECT_EQ(m["rcpt_tos"], "boss@example.com");
  EXPECT_EQ(m["auth_user"], "tim");
  EXPECT_EQ(m["defects"], "0");
  std::string page;
  HtmlReport::BuildReportPage(page);
  // The message ends the last line of the body once more.
  const std::string body = WithoutCr(m["body"]);
  EXPECT_TRUE(body == page || body == page + "\n") << body;
  EXPECT_NE(page.find("Lumivar Report<BR>\n"), std::string::npos);
}

TEST_F(EMailReportITest, ARefusedLoginSendsNothingAndKeepsTheNewTime) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  EXPECT_NE(EMailReporter::SendPage(Settings(server.Port(), "wrong"), "<HTML></HTML>"), 0u);

  EMailReporter reporter;
  ASSERT_TRUE(reporter.CheckAndSend(Settings(server.Port(), "wrong")));
  ASSERT_TRUE(reporter.WaitForReports(60s));
  EXPECT_TRUE(server.Messages().empty());
  EXPECT_EQ(platform::ReadRegistryString(EMailReporter::kLastReportTimePath),
            platform::TimeToString(kNow));
  EXPECT_FALSE(reporter.CheckAndSend(Settings(server.Port())));  // not before a day has passed
}

TEST_F(EMailReportITest, ExitEndsAReportWaitingOnASilentServer) {
  LoopbackListener silent;
  EMailReporter reporter;
  ASSERT_TRUE(reporter.CheckAndSend(Settings(silent.Port())));
  const int connection = silent.Accept(10s);
  ASSERT_GE(connection, 0);
  EXPECT_FALSE(reporter.WaitForReports(200ms));  // waiting for the greeting
  // The wait for the greeting outlasts the bound: only the cancel ends the report in it.
  constexpr auto kBound = 20s;
  static_assert(kBound < std::chrono::milliseconds(EMailReporter::kTimeoutMs));
  EXPECT_TRUE(reporter.Shutdown(kBound));
  close(connection);
}

}  // namespace
}  // namespace engine
