#include "engine/actions/action.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server_health.h"
#include "tests/engine/action_fakes.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::ConfigRows;
using testing::DataRows;
using testing::FakeSmtp;
using testing::Rows;
using testing::ThreadTrace;
using Strings = std::vector<std::string>;

constexpr std::int64_t kNow = 1'700'000'000;

// The threads of this process now.
std::size_t ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

class ActionTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetUi(&ui_);
    Services::SetStorage(&store_);
    Action::SetSmtpClientFactory(&FakeSmtp::Create);
    std::lock_guard lock(monitor_->Mutex());
    availability_ = monitor_->FindHealthAttributeByName("Monitor Availability")->id;
  }
  void TearDown() override {
    smtp_.Release();
    EXPECT_TRUE(Action::WaitForRunningActions(60s));
    Action::SetSmtpClientFactory(nullptr);
    MonitorTest::TearDown();
  }

  std::shared_ptr<Action> AddAction(std::int32_t type, const std::string& name = "Act") {
    auto action = std::make_shared<Action>(type);
    action->name = name;
    action->fromAddress = "ops@example.com";
    action->toAddress = "dba@example.com";
    action->uiType = 3;  // nothing to show
    store_.AddAction(action);
    return action;
  }
  std::string AddAlert(const std::shared_ptr<Action>& action) {
    std::lock_guard lock(monitor_->Mutex());
    return monitor_->AddAlert(action->id, availability_, 0, 0, Alert::kError).id;
  }
  platform::Status Fire(const std::shared_ptr<Action>& action, const std::string& alertId,
                        std::int32_t alertType = Alert::kError, std::string subject = "S",
                        std::string text = "T") {
    return action->Run(FiringAlert{monitorId_, alertId, alertType}, subject, text);
  }
  static void WaitForActions() { ASSERT_TRUE(Action::WaitForRunningActions(60s)); }
  Alert AlertCopy(const std::string& alertId) {
    std::lock_guard lock(monitor_->Mutex());
    const Alert* alert = monitor_->FindAlert(alertId);
    return alert != nullptr ? *alert : Alert();
  }
  // The monitor's log lines as "type|text", oldest first.
  Strings Log() {
    Strings lines;
    for (const auto& row : DataRows("SELECT type, text FROM Log WHERE monitorId = '" + monitorId_ +
                                    "' ORDER BY rowid")) {
      lines.push_back(row[0] + "|" + row[1]);
    }
    return lines;
  }

  FakeClock clock_{kNow};
  ScopedClock scopedClock_{&clock_};
  testing::RecordingUi ui_;
  FakeSmtp smtp_;
  ServerStorage store_;
  std::shared_ptr<ODBCDataSource> monitor_;
  std::string monitorId_ = (monitor_ = store_.AddNewODBCDataSource())->id;
  std::string availability_;
};

// ---- the record ----

TEST_F(ActionTest, SaveAndLoadKeepEveryColumn) {
  Action action(Action::kExecuteSql);
  EXPECT_EQ(action.pollsCount, 1);
  EXPECT_EQ(action.port, 25);
  EXPECT_EQ(action.uiType, Action::kMessageBox);
  EXPECT_EQ(action.id.size(), 36u);
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
  db::Database database;
  ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kConfigFileName), 0);
  EXPECT_EQ(action.Save(database), 0);
  const Rows expected = {{action.id, "Ops' pager — Zoë", "2", "smtp.example.com", "2525", "1",
                          "o'brien", "p;w}d'x", "ops@example.com", "dba@example.com", "Sales DSN",
                          "UPDATE t SET s='down' WHERE n='Zoë'", "/opt/it's here/run me", "1",
                          "3"}};
  EXPECT_EQ(ConfigRows("SELECT * FROM Actions"), expected);

  db::Statement statement(database);
  db::Cursor* cursor = nullptr;
  ASSERT_EQ(statement.Prepare("SELECT * FROM Actions"), 0);
  ASSERT_EQ(statement.Execute(&cursor), 0);
  Action loaded;
  ASSERT_EQ(loaded.Load(*cursor), 0);
  cursor->Next();
  EXPECT_NE(Action().Load(*cursor), 0);
  statement.Finalize();
  EXPECT_EQ(loaded.Save(database), 0);  // the same row again
  EXPECT_EQ(ConfigRows("SELECT * FROM Actions"), expected);
}

// ---- user-interface actions and the bookkeeping of a firing ----

TEST_F(ActionTest, UserInterfaceActionsGoThroughTheInterface) {
  enum Firing { kErrorAlert, kClearAlert, kTestRun };
  // The end of a firing refreshes the alert's own monitor, never "the selected one".
  const std::string kUpdated = "updated:" + monitorId_;
  const struct {
    std::int32_t uiType;
    Firing firing;
    Strings calls;
  } cases[] = {
      {0, kErrorAlert, {"box:S|T|error", kUpdated}},
      {0, kClearAlert, {"box:S|T|info", kUpdated}},
      {0, kTestRun, {"box:Action Test|Lumivar Action Test|info", "test:0"}},
      {1, kErrorAlert, {"balloon:S|T|error", kUpdated}},
      {1, kClearAlert, {"balloon:S|T|info", kUpdated}},
      {2, kErrorAlert, {"restore", kUpdated}},
      {3, kClearAlert, {kUpdated}},
  };
  auto action = AddAction(Action::kUserInterface);
  const std::string alertId = AddAlert(action);
  std::size_t logLines = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.calls.front());
    ui_.Clear();
    action->uiType = c.uiType;
    if (c.firing == kTestRun) {
      EXPECT_EQ(action->RunTest(), platform::kOk);
    } else {
      EXPECT_EQ(Fire(action, alertId, c.firing == kErrorAlert ? 0 : 1), platform::kOk);
      logLines += 2;
    }
    WaitForActions();
    EXPECT_EQ(ui_.Calls(), c.calls);
    EXPECT_EQ(Log().size(), logLines);  // a test run writes none
  }
}

TEST_F(ActionTest, FiringLogsTwoLinesAndSetsTheAlert) {
  auto action = AddAction(Action::kUserInterface, "Pager");
  const std::string alertId = AddAlert(action);
  Fire(action, alertId, Alert::kError, "Down", "Sales is 'down'\r\nnow");
  WaitForActions();
  Fire(action, alertId, Alert::kClear, "Up", "again");
  WaitForActions();
  EXPECT_EQ(Log(), (Strings{"1|ERROR: Down Sales is  down \r now", "1|Action Pager Succeeded",
                            "1|CLEAR: Up again", "1|Action Pager Succeeded"}));
  EXPECT_TRUE(AlertCopy(alertId).done);
  std::lock_guard lock(monitor_->Mutex());
  EXPECT_EQ(monitor_->current.lastAlertTime, kNow);
}

TEST_F(ActionTest, UnverifiedMailServerCertificateIsNamedInTheLog) {
  auto mail = AddAction(Action::kEmail, "Mail");
  const std::string alertId = AddAlert(mail);
  smtp_.connectStatus = platform::kTlsWrongHost;
  Fire(mail, alertId, Alert::kError, "Down", "now");
  WaitForActions();
  EXPECT_EQ(Log(), (Strings{"1|ERROR: Down now", "1|Action Mail Failed",
                            "1|" + platform::GetSystemErrorText(platform::kTlsWrongHost)}));
  EXPECT_EQ(AlertCopy(alertId).lastResult, platform::kTlsWrongHost);
}

TEST_F(ActionTest, ThousandInstantFiringsEachLogTheirTwoLines) {
  auto action = AddAction(Action::kUserInterface, "Instant");
  const std::string alertId = AddAlert(action);
  constexpr std::size_t kFirings = 1000;
  for (std::size_t i = 0; i < kFirings; ++i) ASSERT_EQ(Fire(action, alertId), platform::kOk);
  WaitForActions();
  const Strings log = Log();
  ASSERT_EQ(log.size(), 2 * kFirings);
  for (std::size_t i = 0; i < log.size(); i += 2) {
    ASSERT_EQ(log[i] + "/" + log[i + 1], "1|ERROR: S T/1|Action Instant Succeeded") << i;
  }
  EXPECT_EQ(ui_.Calls().size(), kFirings);
  EXPECT_TRUE(AlertCopy(alertId).done);
}

TEST_F(ActionTest, FiringsExecuteOneAfterTheOther) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail, "Mail");
  auto notice = AddAction(Action::kUserInterface, "Notice");
  notice->uiType = 0;
  const std::string first = AddAlert(mail);
  Fire(mail, first, Alert::kError, "First", "one");
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  Fire(notice, AddAlert(notice), Alert::kError, "Second", "two");
  EXPECT_TRUE(ui_.Calls().empty());
  EXPECT_FALSE(AlertCopy(first).done);

  smtp_.Release();
  WaitForActions();
  EXPECT_EQ(Log(), (Strings{"1|ERROR: First one", "1|Action Mail Succeeded", "1|ERROR: Second two",
                            "1|Action Notice Succeeded"}));
  const std::string updated = "updated:" + monitorId_;
  EXPECT_EQ(ui_.Calls(), (Strings{updated, "box:Second|two|error", updated}));
}

TEST_F(ActionTest, ExecutionsOfEveryKindRunInFiringOrderOnOneThread) {
  testing::FailingOdbc odbc(-1);
  Action::SetOdbc(&odbc);
  const struct {
    std::int32_t type;
    std::int32_t uiType;
    std::string call;  // what the execution asks of its fake
  } cases[] = {
      {Action::kEmail, 0, "smtp"},      {Action::kUserInterface, Action::kBalloon, "balloon"},
      {Action::kExecuteSql, 0, "odbc"}, {Action::kUserInterface, Action::kMessageBox, "box"},
      {Action::kSms, 0, "smtp"},
  };
  Strings expected;
  std::vector<std::pair<std::shared_ptr<Action>, std::string>> actions;
  for (const auto& c : cases) {
    auto action = AddAction(c.type);
    action->uiType = c.uiType;
    actions.emplace_back(action, AddAlert(action));
    expected.push_back(c.call);
  }
  // Two rounds, the second after the queue ran empty: still the same thread.
  ThreadTrace trace;
  for (int round = 0; round < 2; ++round) {
    for (const auto& [action, alertId] : actions) ASSERT_EQ(Fire(action, alertId), platform::kOk);
    WaitForActions();
  }
  Action::SetOdbc(nullptr);
  const auto calls = trace.Calls();
  Strings order;
  for (const auto& call : calls) order.push_back(call.what);
  const Strings round = expected;
  expected.insert(expected.end(), round.begin(), round.end());
  EXPECT_EQ(order, expected);
  for (const auto& call : calls) {
    EXPECT_EQ(call.thread, calls.front().thread) << call.what;
    EXPECT_NE(call.thread, std::this_thread::get_id()) << call.what;
  }
}

TEST_F(ActionTest, QueuedFiringsStartNoThreads) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail, "Mail");
  auto notice = AddAction(Action::kUserInterface, "Notice");
  const std::string noticeAlert = AddAlert(notice);
  ASSERT_EQ(Fire(mail, AddAlert(mail)), platform::kOk);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  const std::size_t threads = ThreadCount();
  constexpr std::size_t kFirings = 100;
  for (std::size_t i = 0; i < kFirings; ++i) {
    ASSERT_EQ(i % 10 == 0 ? notice->RunTest() : Fire(notice, noticeAlert), platform::kOk);
  }
  EXPECT_EQ(ThreadCount(), threads);
  smtp_.Release();
  WaitForActions();
  const Strings log = Log();
  ASSERT_EQ(log.size(), 2 + 2 * (kFirings - kFirings / 10));
  EXPECT_EQ(log[1], "1|Action Mail Succeeded");
  EXPECT_EQ(log.back(), "1|Action Notice Succeeded");
}

TEST_F(ActionTest, ResultReachesItsAlertAfterTheAlertsMoved) {
  smtp_.blockInConnect = true;
  smtp_.connectStatus = 535;
  auto mail = AddAction(Action::kEmail, "Mail");
  const std::string alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  {
    std::lock_guard lock(monitor_->Mutex());
    for (int i = 0; i < 100; ++i) monitor_->alerts.insert(monitor_->alerts.begin(), Alert());
  }
  smtp_.Release();
  WaitForActions();
  EXPECT_TRUE(AlertCopy(alertId).done);
  EXPECT_EQ(AlertCopy(alertId).lastResult, 535u);
  EXPECT_EQ(Log().back(), "1|Action Mail Failed");
  std::lock_guard lock(monitor_->Mutex());
  EXPECT_EQ(std::count_if(monitor_->alerts.begin(), monitor_->alerts.end(),
                          [](const Alert& a) { return a.done; }),
            1);
}

// ---- lifetimes ----

TEST_F(ActionTest, DeletingTheActionForgetsItsRunningAndQueuedExecutions) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail);
  const std::string alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  // Queued behind the running one: they never start.
  Fire(mail, alertId);
  mail->RunTest();
  {
    std::lock_guard lock(monitor_->Mutex());
    monitor_->FindAlert(alertId)->lastResult = 77;
  }
  store_.DeleteActionById(mail->id);
  // A poll that took the action list before the delete fires it late: refused.
  EXPECT_NE(Fire(mail, alertId), platform::kOk);
  mail.reset();  // the worker's snapshot is all that is left of it
  smtp_.Release();
  WaitForActions();
  EXPECT_EQ(smtp_.Clients(), 1);
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(ui_.Calls().empty());
  EXPECT_EQ(AlertCopy(alertId).lastResult, 77u);
  EXPECT_FALSE(AlertCopy(alertId).done);
}

TEST_F(ActionTest, DeletingTheAlertOrTheMonitorWhileItRuns) {
  smtp_.blockInConnect = true;
  auto mail = AddAction(Action::kEmail);
  // The alert goes: the monitor still logs the firing.
  std::string alertId = AddAlert(mail);
  Fire(mail, alertId);
  ASSERT_TRUE(smtp_.WaitForConnects(1));
  monitor_->TakeAlerts({alertId});
  smtp_.Release();
  WaitForActions();
  EXPECT_EQ(Log().size(), 2u);

  // The monitor goes: nothing more is written for it.
  FakeSmtp blocking;
  blocking.blockInConnect = true;
  Fire(mail, AddAlert(mail));
  ASSERT_TRUE(blocking.WaitForConnects(1));
  std::weak_ptr<Server> gone = monitor_;
  store_.DeleteServer(monitorId_);
  monitor_.reset();
  ASSERT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + 10s));
  ASSERT_TRUE(store_.WaitForStops(std::chrono::steady_clock::now() + 10s));  // the deletion
  EXPECT_TRUE(gone.expired());
  ui_.Clear();
  blocking.Release();
  WaitForActions();
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(ui_.Calls(), Strings{"updated:" + monitorId_});  // the UI drops it
}

TEST_F(ActionTest, EditingAlertsWhileAlertsFire) {
  auto action = AddAction(Action::kUserInterface);
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
      monitor_->AddTestQuery().value = i;
    }
    if (i % 10 == 0) {
      testing::DeleteFirstTestQuery(*monitor_);
      std::lock_guard lock(action->Mutex());
      action->pollsCount = i % 3;
    }
  }
  poll.join();
  WaitForActions();
  // Every firing wrote its alert row and, through its action, its two log lines.
  const int firings = std::stoi(DataRows("SELECT count(*) FROM AlertsData")[0][0]);
  EXPECT_GT(firings, 0);
  EXPECT_EQ(Log().size(), 2u * static_cast<std::size_t>(firings));
}

// ---- the kinds of action ----

TEST_F(ActionTest, StatusOfEachKind) {
  const struct {
    std::int32_t type;
    std::string path;
    platform::Status expected;
  } cases[] = {
      {7, "", platform::kFailure},  // a type outside 0 to 4
      {-1, "", platform::kFailure},
      {Action::kExecuteProgram, "", platform::kFileNotFound},
      {Action::kExecuteProgram, "/nonexistent/tool", platform::kFileNotFound},
      {Action::kExecuteProgram, "/bin/true", platform::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + c.path);
    auto action = AddAction(c.type);
    action->path = c.path;
    const std::string alertId = AddAlert(action);
    Fire(action, alertId);
    WaitForActions();
    EXPECT_EQ(AlertCopy(alertId).lastResult, c.expected);
    EXPECT_EQ(Log().back(), std::string("1|Action Act ") + (c.expected ? "Failed" : "Succeeded"));
  }
}

TEST_F(ActionTest, EmailAndSmsSendTheSameMessage) {
  for (std::int32_t type : {Action::kEmail, Action::kSms}) {
    FakeSmtp smtp;
    auto action = AddAction(type);
    action->server = "mail.example.com";
    action->port = 65561;  // only the low 16 bits are used
    action->auth = true;
    action->userName = "ops";
    action->password = "s3cr;t";
    Fire(action, AddAlert(action), Alert::kError, "Down\r\nBcc: x\tnow", "line1\r\nline2 ünï");
    WaitForActions();
    EXPECT_EQ(smtp.Calls(), (Strings{"Connect mail.example.com:25 auth=1 ops/s3cr;t tls=0 "
                                     "timeout=20000",
                                     "SendText cp=65001 from=\"Lumivar\" <ops@example.com> "
                                     "to=\"\" <dba@example.com> subject=Down  Bcc: x now "
                                     "text=line1\r\nline2 ünï",
                                     "EndMessage", "Disconnect QUIT", "Release"}));
  }
  // An address that could add an SMTP command fails before any connection.
  auto action = AddAction(Action::kEmail);
  for (const char* to : {"dba@example.com\r\nRCPT TO:<x@example.com>", "<dba@example.com>"}) {
    FakeSmtp smtp;
    action->toAddress = to;
    const std::string alertId = AddAlert(action);
    Fire(action, alertId);
    WaitForActions();
    EXPECT_EQ(smtp.Clients(), 0);
    EXPECT_EQ(AlertCopy(alertId).lastResult, platform::kFailure);
  }
}

// ---- test runs ----

TEST_F(ActionTest, TestRunShowsItsResultWithTheLockFree) {
  auto action = AddAction(Action::kUserInterface);
  bool lockWasFree = false;
  ui_.onTestResult = [&] {
    lockWasFree = ActionLock().try_lock();
    if (lockWasFree) ActionLock().unlock();
  };
  EXPECT_EQ(action->RunTest(), platform::kOk);
  WaitForActions();
  EXPECT_TRUE(lockWasFree);
  action->type = 9;
  action->RunTest();
  WaitForActions();
  EXPECT_EQ(ui_.Calls(), (Strings{"test:0", "test:1"}));
  EXPECT_TRUE(Log().empty());
}

}  // namespace
}  // namespace engine
