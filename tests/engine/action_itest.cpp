// Actions against real peers: e-mail and SMS to an SMTP server (aiosmtpd on 127.0.0.1),
// SQL statements through the driver manager on SQLite files (SQLite ODBC driver) and on a
// PostgreSQL server, all started by the test.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/action.h"
#include "engine/clock.h"
#include "engine/db/statement.h"
#include "engine/odbc_data_source.h"
#include "engine/server_storage.h"
#include "engine/services.h"
#include "platform/odbc.h"
#include "tests/engine/action_fakes.h"
#include "tests/support/loopback.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/postgres_server.h"
#include "tests/support/smtp_server.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::RecordingUi;
using testing_support::OdbcTestConfig;
using testing_support::PostgresEnvironment;
using testing_support::PostgresServer;
using testing_support::ScopedEnv;
using testing_support::SmtpTestServer;
using testing_support::TempDir;
using Strings = std::vector<std::string>;

[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

// Every row of a query on a SQLite file, its columns joined by "|".
Strings SqliteRows(const std::string& path, const std::string& sql) {
  Strings rows;
  db::Database database;
  if (database.Open(path) != SQLITE_OK) return {"<no file>"};
  db::Statement statement(database);
  db::Cursor* cursor = nullptr;
  if (statement.Prepare(sql) != SQLITE_OK || statement.Execute(&cursor) != SQLITE_OK) {
    return {"<failed: " + sql + ">"};
  }
  for (; !cursor->IsDone(); cursor->Next()) {
    std::string row;
    for (int c = 0; c < cursor->ColumnCount(); ++c) row += (c ? "|" : "") + cursor->GetText(c);
    rows.push_back(row);
  }
  return rows;
}

std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

class ActionPeersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerStorage::CreateConfigTables();
    ServerStorage::CreateDataTables();
    Services::SetUi(&ui_);
    Services::SetStorage(&store_);
    monitor_ = store_.AddNewODBCDataSource();
    std::lock_guard lock(monitor_->Mutex());
    availability_ = monitor_->FindHealthAttributeByName("Monitor Availability")->id;
  }
  void TearDown() override {
    EXPECT_TRUE(Action::WaitForRunningActions(60s));
    Services::SetStorage(nullptr);
    Services::SetUi(nullptr);
  }

  std::shared_ptr<Action> AddAction(std::int32_t type) {
    auto action = std::make_shared<Action>(type);
    action->name = "Act";
    store_.AddAction(action);
    return action;
  }
  // Fires the action for a new error alert and returns the alert's result.
  platform::Status FireAndWait(const std::shared_ptr<Action>& action,
                               const std::string& subject = "Subject",
                               const std::string& text = "Text") {
    std::string alertId;
    {
      std::lock_guard lock(monitor_->Mutex());
      alertId = monitor_->AddAlert(action->id, availability_, 0, 0, Alert::kError).id;
    }
    EXPECT_EQ(action->Run(FiringAlert{monitor_->id, alertId, Alert::kError}, subject, text),
              platform::kOk);
    EXPECT_TRUE(Action::WaitForRunningActions(60s));
    std::lock_guard lock(monitor_->Mutex());
    const Alert* alert = monitor_->FindAlert(alertId);
    EXPECT_TRUE(alert != nullptr && alert->done);
    return alert != nullptr ? alert->lastResult : 12345;
  }
  Strings LastLogLine() {
    db::Database database;
    ServerStorage::OpenDatabase(database, ServerStorage::kDataFileName);
    db::Statement statement(database);
    db::Cursor* cursor = nullptr;
    statement.Prepare("SELECT text FROM Log ORDER BY rowid DESC LIMIT 1");
    statement.Execute(&cursor);
    return {cursor->GetText(0)};
  }

  TempDir dir_;
  ScopedEnv documents_{"LUMIVAR_DOCUMENTS_DIR", dir_.Path()};
  RecordingUi ui_;
  ServerStorage store_;
  std::shared_ptr<ODBCDataSource> monitor_;
  std::string availability_;
};

// ---- e-mail and SMS ----

TEST_F(ActionPeersTest, EmailAndSmsReachTheServerAsTheSameMessage) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  const std::string subject = "14 Nov 2023 ERROR Monitor Availability On Größe\r\nBcc: x";
  const std::string text = "Zeile 1\r\nZeile 2 ✓ 'quoted'";
  for (std::int32_t type : {Action::kEmail, Action::kSms}) {
    auto action = AddAction(type);
    action->server = "127.0.0.1";
    action->port = server.Port();
    action->auth = true;
    action->userName = "tim";
    action->password = "tanstaaftanstaaf";
    action->fromAddress = "ops@example.com";
    action->toAddress = "dba@example.com";
    EXPECT_EQ(FireAndWait(action, subject, text), platform::kOk) << type;
  }
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& message : messages) {
    EXPECT_EQ(message["mail_from"], "ops@example.com");
    EXPECT_EQ(message["rcpt_tos"], "dba@example.com");
    EXPECT_EQ(message["auth_user"], "tim");
    EXPECT_EQ(message["from"], "Lumivar <ops@example.com>");
    EXPECT_EQ(message["to"], "dba@example.com");
    EXPECT_EQ(message["subject_count"], "1");
    EXPECT_EQ(message["subject"], "14 Nov 2023 ERROR Monitor Availability On Größe  Bcc: x");
    EXPECT_EQ(message["content_type"], "text/plain");
    EXPECT_EQ(message["charset"], "utf-8");
    EXPECT_EQ(WithoutCr(message["body"]), "Zeile 1\nZeile 2 ✓ 'quoted'\n");
    EXPECT_EQ(message["defects"], "0");
  }
  for (const char* field : {"subject", "from", "to", "body", "content_type", "cte", "commands"}) {
    EXPECT_EQ(messages[0][field], messages[1][field]) << field;
  }
  EXPECT_EQ(LastLogLine(), Strings{"Action Act Succeeded"});
}

TEST_F(ActionPeersTest, EmailFailuresBecomeTheStatus) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  auto action = AddAction(Action::kEmail);
  action->server = "127.0.0.1";
  action->port = server.Port();
  action->auth = true;
  action->userName = "tim";
  action->password = "wrong";
  action->fromAddress = "ops@example.com";
  action->toAddress = "dba@example.com";
  EXPECT_EQ(FireAndWait(action), 535u);
  EXPECT_EQ(LastLogLine(), Strings{"Action Act Failed"});

  action->port = testing_support::UnusedLoopbackPort();
  EXPECT_EQ(FireAndWait(action), platform::kWsaEconnrefused);
  EXPECT_TRUE(server.Messages().empty());
}

// ---- SQL ----

TEST_F(ActionPeersTest, SqlStatementsRunOnTheDataSource) {
  const std::string target = dir_.File("target.db");
  testing_support::RunSqliteStatements(
      target, {"CREATE TABLE t (n TEXT, s TEXT)", "INSERT INTO t VALUES ('Zoë', 'up')"});
  OdbcTestConfig::Get().AddSqliteDsn("Lumivar Action Target", target);

  // Saved and loaded first: the apostrophes of the statement survive the file.
  Action edited(Action::kExecuteSql);
  edited.name = "Act";
  edited.datasourceName = "Lumivar Action Target";
  edited.sqlQuery = "UPDATE t SET s = 'down' WHERE n = 'Zoë'";
  {
    db::Database config;
    ASSERT_EQ(ServerStorage::OpenDatabase(config, ServerStorage::kConfigFileName), SQLITE_OK);
    ASSERT_EQ(edited.Save(config), SQLITE_OK);
  }
  ASSERT_EQ(store_.LoadAll(), SQLITE_OK);
  monitor_ = store_.AddNewODBCDataSource();
  {
    std::lock_guard lock(monitor_->Mutex());
    availability_ = monitor_->FindHealthAttributeByName("Monitor Availability")->id;
  }
  auto action = store_.GetActionById(edited.id);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(FireAndWait(action), platform::kOk);
  EXPECT_EQ(SqliteRows(target, "SELECT n, s FROM t"), Strings{"Zoë|down"});

  // A statement that changes no row succeeds.
  action->sqlQuery = "UPDATE t SET s = 'x' WHERE n = 'nobody'";
  EXPECT_EQ(FireAndWait(action), platform::kOk);
  // A failing statement, and a data source that does not exist, give the ODBC code.
  action->sqlQuery = "UPDATE no_such_table SET s = 1";
  EXPECT_EQ(FireAndWait(action), 0xFFFFFFFFu);
  EXPECT_EQ(LastLogLine(), Strings{"Action Act Failed"});
  action->datasourceName = "No Such Data Source";
  action->sqlQuery = "SELECT 1";
  EXPECT_EQ(FireAndWait(action), 0xFFFFFFFFu);
  EXPECT_EQ(SqliteRows(target, "SELECT n, s FROM t"), Strings{"Zoë|down"});
}

TEST_F(ActionPeersTest, SqlActionLogsInWithAPasswordHoldingSeparators) {
  PostgresServer& server = PostgresEnvironment::Server();
  server.RunSql("DROP ROLE IF EXISTS action_login");
  server.RunSql("CREATE ROLE action_login LOGIN PASSWORD 'p;w}d{x=PWD=y '");
  server.RunSql("DROP TABLE IF EXISTS action_marks");
  server.RunSql("CREATE TABLE action_marks (what text)");
  server.RunSql("GRANT INSERT ON action_marks TO action_login");
  OdbcTestConfig::Get().AddPostgresDsn("Lumivar Action PostgreSQL", server.Port(),
                                       PostgresServer::kDatabase);

  auto action = AddAction(Action::kExecuteSql);
  action->datasourceName = "Lumivar Action PostgreSQL";
  action->userName = "action_login";
  action->password = "p;w}d{x=PWD=y ";
  action->sqlQuery = "INSERT INTO action_marks VALUES ('it''s down')";
  EXPECT_EQ(FireAndWait(action), platform::kOk);

  std::shared_ptr<platform::IOdbcConnection> connection;
  ASSERT_FALSE(platform::SystemOdbc().Connect(server.ConnectionString(), 15, &connection).Failed());
  platform::OdbcFirstValue value;
  ASSERT_FALSE(
      connection->QueryFirstValue("SELECT string_agg(what, ',') FROM action_marks", 15, &value)
          .Failed());
  EXPECT_EQ(value.text, "it's down");
  connection->Close();

  action->password = "wrong";
  EXPECT_EQ(FireAndWait(action), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace engine
