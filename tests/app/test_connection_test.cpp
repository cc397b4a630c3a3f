// The connection test without a display: the log texts with their CRLF line ends, the
// inputs a test copies (the engine's connection text, the time-outs), the parsing of the
// settings fields, and runs against a scripted driver and the real driver manager.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/test_connection_dialog.h"
#include "tests/engine/fake_odbc.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

const ::testing::Environment* const kOdbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);

TEST(ConnectionTestParsing, IntervalsAndTimeouts) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> interval;
    std::int32_t timeout;
  };
  const std::vector<Case> cases = {
      {"1", 1, 1},
      {" 15 ", 15, 15},
      {"71582", 71582, 71582},
      {"71583", std::nullopt, 71583},
      {"0", std::nullopt, 0},
      {"", std::nullopt, 0},
      {"abc", std::nullopt, 0},
      {"12x", std::nullopt, 12},
      {"-5", std::nullopt, 0},
      {"99999999999", std::nullopt, 2147483647},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParsePollingInterval(c.text), c.interval) << c.text;
    EXPECT_EQ(ParseTimeout(c.text), c.timeout) << c.text;
  }
}

TEST(ConnectionTestInput, TextAndTimeouts) {
  engine::MonitorSettings plain;
  plain.address = "sales";
  plain.username = "ann";
  plain.password = "p;w}d";
  plain.customTimeouts = true;
  plain.loginTimeout = 3;
  plain.queryTimeout = 4;
  engine::MonitorSettings custom = plain;
  custom.customConnectionString = true;
  custom.connectionString = "Driver=X;Database=/tmp/a b;";

  struct Case {
    engine::MonitorSettings settings;
    bool customAllowed;
    std::string text;
    std::int32_t login;
    std::int32_t query;
  };
  const std::vector<Case> cases = {
      {plain, true, "DSN=sales;UID=ann;PWD={p;w}}d}", 3, 4},
      {plain, false, "DSN=sales;UID=ann;PWD={p;w}}d}", 15, 15},  // the wizard's source
      {custom, true, "Driver=X;Database=/tmp/a b;", 3, 4},
  };
  for (const Case& c : cases) {
    const ConnectionTestInput input = MakeConnectionTestInput(c.settings, c.customAllowed);
    EXPECT_EQ(input.connectionText, c.text);
    EXPECT_EQ(input.loginTimeout, c.login);
    EXPECT_EQ(input.queryTimeout, c.query);
    EXPECT_FALSE(input.query.has_value());
  }
}

TEST(ConnectionTestLog, ExactTexts) {
  const std::string start = "Running connectivity tests...\r\n\r\nAttempting connection\r\n";
  struct Case {
    const char* name;
    std::int32_t connectCode;
    std::string connectText;
    std::optional<std::string> query;
    std::int32_t queryCode;
    std::string expected;
    bool silent = false;  // the driver fails without a word
  };
  const std::vector<Case> cases = {
      {"success", 0, "", std::nullopt, 0,
       start + "Connection established\r\nVerifying option settings\r\n"
               "Disconnecting from server\r\n\r\nTESTS COMPLETED SUCCESSFULLY!\r\n"},
      {"connect fails", -1, "[unixODBC]first\n[unixODBC]second", std::nullopt, 0,
       start + "[unixODBC]first\r\n[unixODBC]second\r\nTESTS FAILED!\r\n"},
      {"query succeeds", 0, "", "SELECT 1", 0,
       start + "Connection established\r\nExecute test query\r\n"
               "Disconnecting from server\r\n\r\nTESTS COMPLETED SUCCESSFULLY!\r\n"},
      {"query fails", 0, "", "SELECT 1", -1,
       start + "Connection established\r\nExecute test query\r\nno such table\r\n"
               "TESTS FAILED!\r\n"},
      {"silent failure", 0, "", std::nullopt, 0, start + "Connection failed.\r\nTESTS FAILED!\r\n",
       true},
  };
  for (const Case& c : cases) {
    auto odbc = std::make_shared<engine::testing::FakeOdbc>();
    odbc->SetConnectError(c.connectCode, c.connectText);
    if (c.silent) odbc->FailConnectSilently();
    if (c.queryCode != 0) odbc->SetError("SELECT 1", c.queryCode, "no such table");
    ConnectionTestInput input;
    input.connectionText = "DSN=x";
    input.loginTimeout = 7;
    input.query = c.query;
    std::vector<std::string> logs;
    RunConnectionTest(*odbc, input, [&](const std::string& log) { logs.push_back(log); });
    ASSERT_FALSE(logs.empty()) << c.name;
    EXPECT_EQ(logs.front(), "Running connectivity tests...\r\n\r\n") << c.name;
    EXPECT_EQ(logs.back(), c.expected) << c.name;
    EXPECT_EQ(odbc->LastConnectionText(), "DSN=x") << c.name;
    EXPECT_EQ(odbc->LastLoginTimeout(), 7) << c.name;
    EXPECT_EQ(odbc->Queries("SELECT 1"), c.query ? 1 : 0) << c.name;
  }
}

TEST(ConnectionTestRealDriver, MissingSourceAndSqliteQuery) {
  testing_support::TempDir dir;
  const std::string path = dir.Path() + "/t.db";
  testing_support::RunSqliteStatements(path, {"CREATE TABLE t (v INTEGER)"});
  struct Case {
    std::string connectionText;
    std::optional<std::string> query;
    std::string ending;
  };
  const std::vector<Case> cases = {
      {"DSN=lumivar_missing_source;UID=;PWD=", std::nullopt, "\r\nTESTS FAILED!\r\n"},
      {testing_support::SqliteConnectionString(path), std::nullopt,
       "Disconnecting from server\r\n\r\nTESTS COMPLETED SUCCESSFULLY!\r\n"},
      {testing_support::SqliteConnectionString(path), "SELECT v FROM t",
       "Execute test query\r\nDisconnecting from server\r\n\r\nTESTS COMPLETED SUCCESSFULLY!\r\n"},
      {testing_support::SqliteConnectionString(path), "SELECT v FROM missing",
       "\r\nTESTS FAILED!\r\n"},
  };
  for (const Case& c : cases) {
    ConnectionTestInput input;
    input.connectionText = c.connectionText;
    input.query = c.query;
    std::string last;
    const platform::OdbcError error = RunConnectionTest(
        platform::SystemOdbc(), input, [&](const std::string& log) { last = log; });
    ASSERT_GE(last.size(), c.ending.size()) << c.connectionText;
    EXPECT_EQ(last.substr(last.size() - c.ending.size()), c.ending) << last;
    if (error.Failed()) {
      // The driver's text, with CRLF line ends only.
      EXPECT_FALSE(error.text.empty());
      EXPECT_NE(last.find(error.text.substr(0, error.text.find('\n'))), std::string::npos);
      EXPECT_EQ(last.find("\n\n"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace app
