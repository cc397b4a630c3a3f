#include "engine/action.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/clock.h"
#include "engine/db/statement.h"
#include "engine/odbc_data_source.h"
#include "engine/server_health.h"
#include "engine/server_storage.h"
#include "engine/services.h"
#include "platform/resources.h"
#include "tests/engine/action_fakes.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::FakeSmtp;
using testing::RecordingUi;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using Strings = std::vector<std::string>;

constexpr std::int64_t kNow = 1'700'000'000;

// Every row of a query, its columns joined by "|".
Strings Rows(const char* file, const std::string& sql) {
  Strings rows;
  db::Database database;
  if (ServerStorage::OpenDatabase(database, file) != SQLITE_OK) return {"<no file>"};
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

class ActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerStorage::CreateConfigTables();
    ServerStorage::CreateDataTables();
    Services::SetUi(&ui_);
    Services::SetStorage(&store_);
    Action::SetSmtpClientFactory(&FakeSmtp::Create);
    monitor_ = store_.AddNewODBCDataSource();
    std::lock_guard lock(monitor_->Mutex());
    monitor_->name = "Sales";
    availability_ = monitor_->FindHealthAttributeByName("Monitor Availability")->id;
  }
  void TearDown() override {
    smtp_.Release();
    EXPECT_TRUE(Action::WaitForRunningActions(60s));
    Action::SetSmtpClientFactory(nullptr);
    Services::SetStorage(nullptr);
    Services::SetUi(nullptr);
  }

  std::shared_ptr<Action> AddAction(std::int32_t type, const std::string& name) {
    auto action = std::make_shared<Action>(type);
    action->name = name;
    store_.AddAction(action);
    return action;
  }
  std::string AddAlert(const std::shared_ptr<Action>& action, std::int32_t alertType = 0) {
    std::lock_guard lock(monitor_->Mutex());
    return monitor_->AddAlert(action->id, availability_, 0, 0, alertType).id;
  }
  platform::Status Fire(const std::shared_ptr<Action>& action, const std::string& alertId,
                        std::int32_t alertType = Alert::kError, std::string subject = "Subject",
                        std::string text = "Text") {
    return action->Run(FiringAlert{monitor_->id, alertId, alertType}, subject, text);
  }
  static void WaitForActions() { ASSERT_TRUE(Action::WaitForRunningActions(60s)); }
  Alert AlertCopy(const std::string& alertId) {
    std::lock_guard lock(monitor_->Mutex());
    const Alert* alert = monitor_->FindAlert(alertId);
    return alert != nullptr ? *alert : Alert();
  }
  Strings Log() const {
    return Rows(ServerStorage::kDataFileName, "SELECT type, text FROM Log WHERE monitorId = '" +
                                                  monitorId_() + "' ORDER BY rowid");
  }
  std::string monitorId_() const { return monitor_ ? monitor_->id : deletedMonitorId_; }

  TempDir dir_;
  ScopedEnv documents_{"LUMIVAR_DOCUMENTS_DIR", dir_.Path()};
  FakeClock clock_{kNow};
  ScopedClock scopedClock_{&clock_};
  RecordingUi ui_;
  FakeSmtp smtp_;
  ServerStorage store_;
  std::shared_ptr<ODBCDataSource> monitor_;
  std::string availability_;
  std::string deletedMonitorId_;
};

// ---- the record ----

TEST_F(ActionTest, NewActionDefaults) {
  const Action action(Action::kExecuteSql);
  EXPECT_EQ(action.type, Action::kExecuteSql);
  EXPECT_EQ(action.pollsCount, 1);
  EXPECT_EQ(action.port, 25);
  EXPECT_FALSE(action.auth);
  EXPECT_EQ(action.uiType, Action::kMessageBox);
  EXPECT_EQ(action.id.size(), 36u);
  EXPECT_NE(action.id, Action().id);
  EXPECT_TRUE(action.name.empty() && action.server.empty() && action.sqlQuery.empty() &&
              action.path.empty());
}

TEST_F(ActionTest, SaveAndLoadKeepEveryColumn) {
  Action action(Action::kExecuteSql);
  action.name = "Ops' pager — Zoë";
  action.server = "smtp.example.com";
  action.port = 2525;
  action.auth = true;
  action.userName = "o'brien";
  action.password = "p;w}d'x";
  action.fromAddress = "ops@example.com";
  action.toAddress = "dba@example.com";
  action.datasourceName = "Sales DSN";
  action.sqlQuery = "UPDATE t SET s='down' WHERE n='Zoë'";
  action.path = "/opt/it's here/run me";
  action.uiType = 1;
  action.pollsCount = 3;
  {
    db::Database database;
    ASSERT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kConfigFileName), SQLITE_OK);
    EXPECT_EQ(action.Save(database), SQLITE_OK);
  }
  EXPECT_EQ(Rows(ServerStorage::kConfigFileName, "SELECT * FROM Actions"),
            Strings{action.id +
                    "|Ops' pager — Zoë|2|smtp.example.com|2525|1|o'brien|p;w}d'x|ops@example.com|"
                    "dba@example.com|Sales DSN|UPDATE t SET s='down' WHERE n='Zoë'|/opt/it's "
                    "here/run me|1|3"});

  db::Database database;
  ASSERT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kConfigFileName), SQLITE_OK);
  db::Statement statement(database);
  db::Cursor* cursor = nullptr;
  ASSERT_EQ(statement.Prepare("SELECT * FROM Actions"), SQLITE_OK);
  ASSERT_EQ(statement.Execute(&cursor), SQLITE_OK);
  Action loaded;
  ASSERT_EQ(loaded.Load(*cursor), SQLITE_OK);
  for (auto [a, b] : {std::pair{&loaded.id, &action.id},
                      {&loaded.name, &action.name},
                      {&loaded.server, &action.server},
                      {&loaded.userName, &action.userName},
                      {&loaded.password, &action.password},
                      {&loaded.fromAddress, &action.fromAddress},
                      {&loaded.toAddress, &action.toAddress},
                      {&loaded.datasourceName, &action.datasourceName},
                      {&loaded.sqlQuery, &action.sqlQuery},
                      {&loaded.path, &action.path}}) {
    EXPECT_EQ(*a, *b);
  }
  EXPECT_EQ(loaded.type, 2);
  EXPECT_EQ(loaded.port, 2525);
  EXPECT_TRUE(loaded.auth);
  EXPECT_EQ(loaded.uiType, 1);
  EXPECT_EQ(loaded.pollsCount, 3);
  cursor->Next();
  EXPECT_EQ(Action().Load(*cursor), SQLITE_MISUSE);
}

// ---- user-interface actions and the bookkeeping of a firing ----

TEST_F(ActionTest, UserInterfaceActionsGoThroughTheInterface) {
  enum Firing { kErrorAlert, kClearAlert, kTestRun };
  const struct {
    std::int32_t uiType;
    Firing firing;
    Strings calls;
  } cases[] = {
      {0, kErrorAlert, {"box:Subject|Text|error", "updated:"}},
      {0, kClearAlert, {"box:Subject|Text|info", "updated:"}},
      {0, kTestRun, {"box:Action Test|Lumivar Action Test|info", "test:0"}},
      {1, kErrorAlert, {"balloon:Subject|Text|error", "updated:"}},
      {1, kClearAlert, {"balloon:Subject|Text|info", "updated:"}},
      {1, kTestRun, {"balloon:Action Test|Lumivar Action Test|info", "test:0"}},
      {2, kErrorAlert, {"restore", "updated:"}},
      {2, kTestRun, {"restore", "test:0"}},
      {3, kClearAlert, {"updated:"}},
  };
  auto action = AddAction(Action::kUserInterface, "Notice");
  const std::string alertId = AddAlert(action);
  std::size_t logLines = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("uiType " + std::to_string(c.uiType) + " firing " + std::to_string(c.firing));
    ui_.Clear();
    action->uiType = c.uiType;
    if (c.firing == kTestRun) {
      EXPECT_EQ(action->RunTest(), platform::kOk);
    } else {
      EXPECT_EQ(Fire(action, alertId, c.firing == kErrorAlert ? Alert::kError : Alert::kClear),
                platform::kOk);
      logLines += 2;
    }
    WaitForActions();
    EXPECT_EQ(ui_.Calls(), c.calls);
    // A test run writes no log line.
    EXPECT_EQ(Log().size(), logLines);
  }
}

TEST_F(ActionTest, FiringLogsTwoLinesAndSetsTheAlert) {
  auto action = AddAction(Action::kUserInterface, "Pager");
  action->uiType = 3;
  const std::string alertId = AddAlert(action);
  {
    std::lock_guard lock(monitor_->Mutex());
    monitor_->FindAlert(alertId)->lastResult = 77;
  }
  Fire(action, alertId, Alert::kError, "Down", "Sales is 'down'\r\nnow");
  WaitForActions();
  Fire(action, alertId, Alert::kClear, "Up", "again");
  WaitForActions();
  EXPECT_EQ(Log(), (Strings{"1|ERROR: Down Sales is  down \r now", "1|Action Pager Succeeded",
                            "1|CLEAR: Up again", "1|Action Pager Succeeded"}));
  const Alert alert = AlertCopy(alertId);
  EXPECT_TRUE(alert.done);
  EXPECT_EQ(alert.lastResult, 0u);
  std::lock_guard lock(monitor_->Mutex());
  EXPECT_EQ(monitor_->current.lastAlertTime, kNow);
}

TEST_F(ActionTest, ThousandInstantFiringsEachLogTheirTwoLines) {
  auto action = AddAction(Action::kUserInterface, "Instant");
  action->uiType = 3;
  const std::string alertId = AddAlert(action);
  constexpr int kFirings = 1000;
  for (int i = 0; i < kFirings; ++i) ASSERT_EQ(Fire(action, alertId), platform::kOk);
  WaitForActions();

  const Strings log = Log();
  ASSERT_EQ(log.size(), 2u * kFirings);
  for (std::size_t i = 0; i < log.size(); i += 2) {
    ASSERT_EQ(log[i], "1|ERROR: Subject Text") << i;
    ASSERT_EQ(log[i + 1], "1|Action Instant Succeeded") << i;
  }
  EXPECT_EQ(ui_.Calls().size(), static_cast<std::size_t>(kFirings));
  EXPECT_TRUE(AlertCopy(alertId).done);
}

TEST_F(ActionTest, FiringsExecuteOneAfterTheOther) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail, "Mail");
  mail->fromAddress = "a@example.com";
  mail->toAddress = "b@example.com";
  auto notice = AddAction(Action::kUserInterface, "Notice");
  const std::string first = AddAlert(mail);
  const std::string second = AddAlert(notice);

  Fire(mail, first, Alert::kError, "First", "one");
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  Fire(notice, second, Alert::kError, "Second", "two");
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(ui_.Calls().empty());
  EXPECT_FALSE(AlertCopy(first).done);

  smtp_.Release();
  WaitForActions();
  EXPECT_EQ(Log(), (Strings{"1|ERROR: First one", "1|Action Mail Succeeded", "1|ERROR: Second two",
                            "1|Action Notice Succeeded"}));
  EXPECT_EQ(ui_.Calls(), (Strings{"updated:", "box:Second|two|error", "updated:"}));
}

TEST_F(ActionTest, ResultReachesItsAlertAfterTheAlertsMoved) {
  smtp_.blockInConnect = true;
  smtp_.connectStatus = 535;
  auto mail = AddAction(Action::kEmail, "Mail");
  mail->fromAddress = "a@example.com";
  mail->toAddress = "b@example.com";
  const std::string alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  {
    std::lock_guard lock(monitor_->Mutex());
    for (int i = 0; i < 100; ++i) monitor_->alerts.insert(monitor_->alerts.begin(), Alert());
  }
  smtp_.Release();
  WaitForActions();

  const Alert alert = AlertCopy(alertId);
  EXPECT_TRUE(alert.done);
  EXPECT_EQ(alert.lastResult, 535u);
  std::lock_guard lock(monitor_->Mutex());
  for (const Alert& other : monitor_->alerts) {
    if (other.id != alertId) {
      EXPECT_FALSE(other.done);
    }
  }
  EXPECT_EQ(Log().back(), "1|Action Mail Failed");
}

// ---- lifetimes ----

TEST_F(ActionTest, DeletingTheActionWhileItRunsForgetsTheExecution) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail, "Mail");
  mail->fromAddress = "a@example.com";
  mail->toAddress = "b@example.com";
  const std::string alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  {
    std::lock_guard lock(monitor_->Mutex());
    monitor_->FindAlert(alertId)->lastResult = 77;
  }
  store_.DeleteActionById(mail->id);
  mail.reset();  // the worker's snapshot is all that is left of it
  smtp_.Release();
  WaitForActions();

  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(ui_.Calls().empty());
  EXPECT_EQ(AlertCopy(alertId).lastResult, 77u);
  EXPECT_FALSE(AlertCopy(alertId).done);
}

TEST_F(ActionTest, DeletingTheMonitorOrTheAlertWhileItRuns) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail, "Mail");
  mail->fromAddress = "a@example.com";
  mail->toAddress = "b@example.com";

  // The alert goes: the monitor still logs the firing.
  std::string alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  monitor_->DeleteAlert(alertId);
  smtp_.Release();
  WaitForActions();
  EXPECT_EQ(Log().size(), 2u);

  // The monitor goes: nothing more is written for it.
  FakeSmtp blocking;
  blocking.blockInConnect = true;
  alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(blocking.WaitForConnects(1));
  deletedMonitorId_ = monitor_->id;
  std::weak_ptr<Server> gone = monitor_;
  store_.DeleteServer(monitor_->id);
  monitor_.reset();
  EXPECT_TRUE(gone.expired());
  ui_.Clear();
  blocking.Release();
  WaitForActions();
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(ui_.Calls(), Strings{"updated:"});
}

TEST_F(ActionTest, EditingAlertsWhileAlertsFire) {
  auto action = AddAction(Action::kUserInterface, "Notice");
  action->uiType = 3;
  AddAlert(action);
  constexpr int kPolls = 300;

  std::thread poll([&] {
    for (int i = 0; i < kPolls; ++i) {
      const auto actions = store_.GetActionList();
      std::vector<AlertFiring> firings;
      {
        std::lock_guard lock(monitor_->Mutex());
        monitor_->current.available = (i / 3) % 2 == 0;
        monitor_->current.health = monitor_->EvaluateHealth();
        firings = monitor_->CheckAlerts(actions);
      }
      ServerHealth::FireAlerts(std::move(firings));
    }
  });
  for (int i = 0; i < kPolls; ++i) {
    {
      std::lock_guard lock(monitor_->Mutex());
      monitor_->AddAlert(action->id, availability_, 0, 0, i % 3 == 0 ? 1 : 0);
      if (monitor_->alerts.size() > 6) monitor_->alerts.erase(monitor_->alerts.begin());
      TestQuery& query = monitor_->AddTestQuery();
      query.value = i;
    }
    if (i % 10 == 0) {
      monitor_->DeleteTestQuery(0);
      std::lock_guard lock(action->Mutex());
      action->pollsCount = i % 3;
    }
  }
  poll.join();
  WaitForActions();

  // Every firing wrote its alert row and, through its action, its two log lines.
  const Strings firings = Rows(ServerStorage::kDataFileName, "SELECT count(*) FROM AlertsData");
  ASSERT_EQ(firings.size(), 1u);
  EXPECT_GT(std::stoi(firings[0]), 0);
  EXPECT_EQ(Log().size(), 2u * std::stoul(firings[0]));
}

// ---- the kinds of action ----

TEST_F(ActionTest, StatusOfEachKind) {
  const struct {
    const char* what;
    std::int32_t type;
    std::string path;
    platform::Status expected;
  } cases[] = {
      {"type outside 0 to 4", 7, "", platform::kFailure},
      {"type -1", -1, "", platform::kFailure},
      {"program with an empty path", Action::kExecuteProgram, "", platform::kFileNotFound},
      {"program that does not exist", Action::kExecuteProgram, "/nonexistent/tool",
       platform::kFileNotFound},
      {"program", Action::kExecuteProgram, "/bin/true", platform::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto action = AddAction(c.type, "Act");
    action->path = c.path;
    const std::string alertId = AddAlert(action);
    Fire(action, alertId);
    WaitForActions();
    EXPECT_EQ(AlertCopy(alertId).lastResult, c.expected);
    EXPECT_EQ(Log().back(), std::string("1|Action Act ") + (c.expected ? "Failed" : "Succeeded"));
  }
}

TEST_F(ActionTest, EmailAndSmsSendTheSameMessage) {
  const Strings expected = {
      "Connect mail.example.com:25 auth=1 ops/s3cr;t tls=0 timeout=20000",
      "SendText cp=65001 from=\"Lumivar\" <ops@example.com> to=\"\" <dba@example.com> "
      "subject=Down  Bcc: x now text=line1\r\nline2 ünï",
      "EndMessage",
      "Disconnect QUIT",
      "Release",
  };
  for (std::int32_t type : {Action::kEmail, Action::kSms}) {
    SCOPED_TRACE(type);
    FakeSmtp smtp;
    auto action = AddAction(type, "Mail");
    action->server = "mail.example.com";
    action->port = 65561;  // only the low 16 bits are used
    action->auth = true;
    action->userName = "ops";
    action->password = "s3cr;t";
    action->fromAddress = "ops@example.com";
    action->toAddress = "dba@example.com";
    const std::string alertId = AddAlert(action);
    Fire(action, alertId, Alert::kError, "Down\r\nBcc: x\tnow", "line1\r\nline2 ünï");
    WaitForActions();
    EXPECT_EQ(smtp.Calls(), expected);
    EXPECT_EQ(AlertCopy(alertId).lastResult, 0u);
  }
}

TEST_F(ActionTest, EmailFailures) {
  auto action = AddAction(Action::kEmail, "Mail");
  action->server = "mail.example.com";
  action->fromAddress = "ops@example.com";
  action->toAddress = "dba@example.com";
  const std::string alertId = AddAlert(action);

  // A refused login: the status is the server's reply, no QUIT.
  {
    FakeSmtp smtp;
    smtp.connectStatus = 535;
    Fire(action, alertId);
    WaitForActions();
    EXPECT_EQ(smtp.Calls(), (Strings{"Connect mail.example.com:25 auth=0 / tls=0 timeout=20000",
                                     "Disconnect", "Release"}));
    EXPECT_EQ(AlertCopy(alertId).lastResult, 535u);
    EXPECT_EQ(Log().back(), "1|Action Mail Failed");
  }
  // An address that could inject an SMTP command: status 1 before any connection.
  for (const char* to :
       {"dba@example.com\r\nRCPT TO:<x@example.com>", "<dba@example.com>", "dba@example.com\n"}) {
    FakeSmtp smtp;
    action->toAddress = to;
    Fire(action, alertId);
    WaitForActions();
    EXPECT_EQ(smtp.Clients(), 0);
    EXPECT_EQ(AlertCopy(alertId).lastResult, platform::kFailure);
  }
}

// ---- test runs ----

TEST_F(ActionTest, TestRunShowsItsResultWithTheLockFree) {
  auto action = AddAction(Action::kUserInterface, "Notice");
  action->uiType = 3;
  bool lockWasFree = false;
  ui_.onTestResult = [&] {
    lockWasFree = ActionLock().try_lock();
    if (lockWasFree) ActionLock().unlock();
  };
  EXPECT_EQ(action->RunTest(), platform::kOk);
  WaitForActions();
  EXPECT_TRUE(lockWasFree);
  EXPECT_EQ(ui_.Calls(), Strings{"test:0"});

  ui_.Clear();
  action->type = 9;
  action->RunTest();
  WaitForActions();
  EXPECT_EQ(ui_.Calls(), Strings{"test:1"});
  EXPECT_TRUE(Log().empty());
}

// ---- from the poll's firing to the action ----

TEST_F(ActionTest, FiringStartsTheActionAndWritesTheAlertRow) {
  auto action = AddAction(Action::kUserInterface, "Notice");
  action->uiType = 3;
  const std::string alertId = AddAlert(action);
  std::vector<AlertFiring> firings;
  {
    std::lock_guard lock(monitor_->Mutex());
    monitor_->current.available = false;
    firings = monitor_->CheckAlerts(store_.GetActionList());
  }
  ASSERT_EQ(firings.size(), 1u);
  const std::string title = firings[0].subject;
  ServerHealth::FireAlerts(std::move(firings));
  WaitForActions();
  EXPECT_EQ(Rows(ServerStorage::kDataFileName, "SELECT * FROM AlertsData"),
            Strings{monitor_->id + "|" + alertId + "|1700000000|" + action->id + "|" + title});
  EXPECT_EQ(Log().size(), 2u);
  EXPECT_TRUE(AlertCopy(alertId).done);
}

}  // namespace
}  // namespace engine
