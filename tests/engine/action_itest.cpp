// Actions against real peers: e-mail and SMS to an SMTP server (aiosmtpd on 127.0.0.1),
// SQL statements through the driver manager on SQLite files (SQLite ODBC driver) and on a
// PostgreSQL server, all started by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/actions/action.h"
#include "engine/monitor/odbc_data_source.h"
#include "platform/odbc.h"
#include "tests/engine/action_fakes.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/loopback.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/postgres_server.h"
#include "tests/support/smtp_server.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::DataRows;
using testing::Rows;
using testing_support::OdbcTestConfig;
using testing_support::PostgresEnvironment;
using testing_support::PostgresServer;
using testing_support::SmtpTestServer;

[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

class ActionPeersTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetStorage(&store_);
  }
  void TearDown() override {
    EXPECT_TRUE(Action::WaitForRunningActions(60s));
    MonitorTest::TearDown();
  }

  std::shared_ptr<Action> AddAction(std::int32_t type) {
    auto action = std::make_shared<Action>(type);
    action->name = "Act";
    store_.AddAction(action);
    return action;
  }
  // Fires the action for a new alert of the store's first monitor; the alert's result.
  platform::Status FireAndWait(const std::shared_ptr<Action>& action, const std::string& subject,
                               const std::string& text) {
    auto monitor = store_.GetServer(0);
    std::string alertId;
    {
      std::lock_guard lock(monitor->Mutex());
      alertId = monitor->AddAlert(action->id, "", 0, 0, Alert::kError).id;
    }
    EXPECT_EQ(action->Run(FiringAlert{monitor->id, alertId, Alert::kError}, subject, text), 0u);
    EXPECT_TRUE(Action::WaitForRunningActions(60s));
    std::lock_guard lock(monitor->Mutex());
    const Alert* alert = monitor->FindAlert(alertId);
    return alert != nullptr && alert->done ? alert->lastResult : 12345;
  }
  // An e-mail or SMS action for the test server's account.
  std::shared_ptr<Action> MailAction(std::int32_t type, int port, const std::string& password) {
    auto action = AddAction(type);
    action->server = "127.0.0.1";
    action->port = port;
    action->auth = true;
    action->userName = "tim";
    action->password = password;
    action->fromAddress = "ops@example.com";
    action->toAddress = "dba@example.com";
    return action;
  }
  platform::Status FireAndWait(const std::shared_ptr<Action>& action) {
    return FireAndWait(action, "S", "T");
  }
  std::string LastLogLine() {
    return DataRows("SELECT text FROM Log ORDER BY rowid DESC LIMIT 1").at(0).at(0);
  }

  ServerStorage store_;
  std::shared_ptr<ODBCDataSource> monitor_ = store_.AddNewODBCDataSource();
};

TEST_F(ActionPeersTest, EmailAndSmsReachTheServerAsTheSameMessage) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  for (std::int32_t type : {Action::kEmail, Action::kSms}) {
    auto action = MailAction(type, server.Port(), "tanstaaftanstaaf");
    EXPECT_EQ(FireAndWait(action, "ERROR On Größe\r\nBcc: x", "Zeile 1\r\nZeile 2 ✓ 'q'"), 0u);
  }
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& message : messages) {
    EXPECT_EQ(message["mail_from"] + " " + message["rcpt_tos"], "ops@example.com dba@example.com");
    EXPECT_EQ(message["auth_user"], "tim");
    EXPECT_EQ(message["from"], "Lumivar <ops@example.com>");
    EXPECT_EQ(message["to"], "dba@example.com");
    EXPECT_EQ(message["subject"], "ERROR On Größe  Bcc: x");
    EXPECT_EQ(message["subject_count"], "1");
    EXPECT_EQ(message["content_type"] + " " + message["charset"], "text/plain utf-8");
    EXPECT_EQ(message["body"], "Zeile 1\r\nZeile 2 ✓ 'q'\r\n");
    EXPECT_EQ(message["defects"], "0");
  }
  EXPECT_EQ(messages[0]["cte"], messages[1]["cte"]);
  EXPECT_EQ(messages[0]["commands"], messages[1]["commands"]);
  EXPECT_EQ(LastLogLine(), "Action Act Succeeded");
}

TEST_F(ActionPeersTest, EmailFailuresBecomeTheStatus) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  auto action = MailAction(Action::kEmail, server.Port(), "wrong");
  EXPECT_EQ(FireAndWait(action), 535u);
  EXPECT_EQ(LastLogLine(), "Action Act Failed");
  action->port = testing_support::UnusedLoopbackPort();
  EXPECT_EQ(FireAndWait(action), platform::kWsaEconnrefused);
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(ActionPeersTest, SqlStatementsRunOnTheDataSource) {
  const std::string target = dir_.File("target.db");
  testing_support::RunSqliteStatements(
      target, {"CREATE TABLE t (n TEXT, s TEXT)", "INSERT INTO t VALUES ('Zoë', 'up')"});
  OdbcTestConfig::Get().AddSqliteDsn("Lumivar Action Target", target);
  auto rows = [&] {
    db::Database database;
    database.Open(target);
    db::Statement statement(database);
    db::Cursor* cursor = nullptr;
    statement.Prepare("SELECT n || '|' || s FROM t");
    statement.Execute(&cursor);
    return cursor->GetText(0);
  };

  auto action = AddAction(Action::kExecuteSql);
  action->datasourceName = "Lumivar Action Target";
  action->sqlQuery = "UPDATE t SET s = 'down' WHERE n = 'Zoë'";
  ASSERT_EQ(store_.SaveAction(action->id), 0);  // the statement's apostrophes survive the file
  ASSERT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  ASSERT_EQ(store_.LoadAll(), 0);
  store_.AddNewODBCDataSource();
  action = store_.GetActionById(action->id);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(FireAndWait(action), 0u);
  EXPECT_EQ(rows(), "Zoë|down");

  action->sqlQuery = "UPDATE t SET s = 'x' WHERE n = 'nobody'";  // no row: still success
  EXPECT_EQ(FireAndWait(action), 0u);
  action->sqlQuery = "UPDATE no_such_table SET s = 1";
  EXPECT_EQ(FireAndWait(action), 0xFFFFFFFFu);
  EXPECT_EQ(LastLogLine(), "Action Act Failed");
  action->datasourceName = "No Such Data Source";
  EXPECT_EQ(FireAndWait(action), 0xFFFFFFFFu);
  EXPECT_EQ(rows(), "Zoë|down");
}

TEST_F(ActionPeersTest, SqlActionLogsInWithAPasswordHoldingSeparators) {
  PostgresServer& server = PostgresEnvironment::Server();
  server.RunSql("DROP TABLE IF EXISTS action_marks");
  server.RunSql("DROP ROLE IF EXISTS action_login");
  server.RunSql("CREATE ROLE action_login LOGIN PASSWORD 'p;w}d{x=PWD=y '");
  server.RunSql("CREATE TABLE action_marks (what text)");
  server.RunSql("GRANT INSERT ON action_marks TO action_login");
  OdbcTestConfig::Get().AddPostgresDsn("Lumivar Action PostgreSQL", server.Port(),
                                       PostgresServer::kDatabase);

  auto action = AddAction(Action::kExecuteSql);
  action->datasourceName = "Lumivar Action PostgreSQL";
  action->userName = "action_login";
  action->password = "p;w}d{x=PWD=y ";
  action->sqlQuery = "INSERT INTO action_marks VALUES ('it''s down')";
  EXPECT_EQ(FireAndWait(action), 0u);
  std::shared_ptr<platform::IOdbcConnection> connection;
  ASSERT_FALSE(platform::SystemOdbc().Connect(server.ConnectionString(), 15, &connection).Failed());
  platform::OdbcFirstValue value;
  connection->QueryFirstValue("SELECT string_agg(what, ',') FROM action_marks", 15, &value);
  EXPECT_EQ(value.text, "it's down");
  connection->Close();

  action->password = "wrong";
  EXPECT_EQ(FireAndWait(action), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace engine
