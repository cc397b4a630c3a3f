// The monitor store: load order, the whole graph saved and loaded back, saving one monitor
// or action, deletes that return at once (also while an action runs, and of a week of
// rows on a locked data file), lookups, stops of several hung monitors, and lookups from
// other threads while the lists change.
#include <gtest/gtest.h>

#include <gmock/gmock.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_changes.h"
#include "engine/data/data_files.h"
#include "engine/db/busy_event.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server_health.h"
#include "engine/store/server_storage.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/slow_sync.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::ConfigRows;
using testing::DataRows;
using testing::ExecData;
using testing::FakeOdbc;

void ExecConfig(const std::string& sql) {
  db::Database database;
  ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kConfigFileName), 0);
  ASSERT_EQ(db::Database::ExecSQL(database, sql), 0) << sql;
}

bool Running(const Server& server) {
  std::lock_guard lock(server.Mutex());
  return server.running;
}

std::chrono::steady_clock::time_point In(std::chrono::milliseconds wait) {
  return std::chrono::steady_clock::now() + wait;
}

// One row a minute for `minutes` minutes into the sample tables, in one transaction.
void AddMinuteRows(const std::string& monitorId, int minutes) {
  db::Database database;
  ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kDataFileName), 0);
  const std::string minute =
      "WITH RECURSIVE m(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM m "
      "WHERE n < " +
      std::to_string(minutes - 1) + ") ";
  for (const std::string& sql : std::vector<std::string>{
           "BEGIN",
           minute + "INSERT INTO ODBCDataSourcesData SELECT '" + monitorId +
               "', printf('%010d', 1700000000 + 60 * n), '1', '1', '0', '', '5', '7' FROM m",
           minute + "INSERT INTO TestQueriesData SELECT '" + monitorId +
               "', 'query', printf('%010d', 1700000000 + 60 * n), '3', '0', '' FROM m",
           "INSERT INTO AlertsData VALUES ('" + monitorId + "', 'alert', '1700000000', 'a', 't')",
           "COMMIT",
       }) {
    ASSERT_EQ(db::Database::ExecSQL(database, sql), 0) << sql;
  }
}

std::string CountOf(const std::string& table, const std::string& monitorId) {
  return DataRows("SELECT count(*) FROM " + table + " WHERE monitorId = '" + monitorId + "'")
      .at(0)
      .at(0);
}

class StoreTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetUi(&ui_);
    Services::SetStorage(&store_);
    Server::SetStopTimeout(300ms);
  }
  void TearDown() override {
    store_.Clear();
    Action::WaitForRunningActions(10s);
    Action::SetOdbc(nullptr);
    Server::SetStopTimeout(120s);
    MonitorTest::TearDown();
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& server : store_.GetServerList()) {
      std::lock_guard lock(server->Mutex());
      names.push_back(server->name);
    }
    return names;
  }

  std::shared_ptr<ODBCDataSource> AddMonitor(const std::string& name,
                                             std::shared_ptr<FakeOdbc> odbc = nullptr) {
    auto monitor = store_.AddNewODBCDataSource();
    if (odbc) monitor->SetOdbc(std::move(odbc));
    std::lock_guard lock(monitor->Mutex());
    monitor->name = name;
    return monitor;
  }

  testing::FakeUi ui_;
  ServerStorage store_;
};

TEST_F(StoreTest, LoadsInOrderOfCreationTimeAndReloadsWithoutDuplicates) {
  DataFiles::CreateConfigTables();
  const struct {
    const char* id;
    const char* creationTime;
  } rows[] = {{"c", "300"}, {"a", "100"}, {"b1", "200"}, {"b2", "200"}, {"b3", "200"}};
  for (const auto& row : rows) {
    ExecConfig(std::string("INSERT INTO ODBCDataSources VALUES ('") + row.id + "', '" + row.id +
               "', 'dsn', 'u', 'p', '0', '', '15', '" + row.creationTime + "', '0', '15', '15')");
  }
  ASSERT_EQ(store_.LoadAll(), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b1", "b2", "b3", "c"}));

  auto odbc = std::make_shared<FakeOdbc>();
  auto first = store_.GetServer(0);
  first->SetOdbc(odbc);
  first->Start();
  EXPECT_TRUE(store_.AnyRunning());
  ASSERT_EQ(store_.LoadAll(), 0);
  ASSERT_TRUE(store_.WaitForStops(In(20s)));
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b1", "b2", "b3", "c"}));
  EXPECT_FALSE(Running(*first));
  EXPECT_NE(store_.GetServer(0), first);
  EXPECT_FALSE(store_.AnyRunning());
  EXPECT_TRUE(store_.AnyStopped());
}

TEST_F(StoreTest, Lookups) {
  auto a = AddMonitor("a");
  auto b = AddMonitor("b");
  auto action = std::make_shared<Action>();
  store_.AddAction(action);
  EXPECT_EQ(store_.GetServerCount(), 2);
  EXPECT_EQ(store_.GetServer(1), b);
  EXPECT_EQ(store_.GetServer(2), nullptr);
  EXPECT_EQ(store_.GetServer(-1), nullptr);
  EXPECT_EQ(store_.FindServerIndex(b->id), 1);
  EXPECT_EQ(store_.FindServerIndex("unknown"), -1);
  EXPECT_EQ(store_.GetServerById(a->id), a);
  EXPECT_EQ(store_.GetServerById("unknown"), nullptr);
  EXPECT_EQ(store_.GetAction(0), action);
  EXPECT_EQ(store_.GetAction(1), nullptr);
  EXPECT_EQ(store_.FindActionIndex(action->id), 0);
  EXPECT_EQ(store_.FindActionIndex("unknown"), -1);
  EXPECT_EQ(store_.GetActionById(action->id), action);
  EXPECT_EQ(store_.GetActionById("unknown"), nullptr);
  // A new monitor has the four built-in attributes.
  std::lock_guard lock(a->Mutex());
  EXPECT_EQ(a->healthAttributes.size(), 4u);
}

// Every stored field of an action, a monitor, its test queries and alerts, as one text.
std::string Fields(const Action& a) {
  return a.id + "|" + a.name + "|" + std::to_string(a.type) + "|" + a.server + "|" +
         std::to_string(a.port) + "|" + std::to_string(a.auth) + "|" + a.userName + "|" +
         a.password + "|" + a.fromAddress + "|" + a.toAddress + "|" + a.datasourceName + "|" +
         a.sqlQuery + "|" + a.path + "|" + std::to_string(a.uiType) + "|" +
         std::to_string(a.pollsCount);
}
std::string Fields(const ODBCDataSource& m) {
  std::string text = m.id + "|" + m.name + "|" + m.address + "|" + m.username + "|" + m.password +
                     "|" + std::to_string(m.pollingInterval) + "|" +
                     std::to_string(m.creationTime) + "|" +
                     std::to_string(m.customConnectionString) + "|" + m.connectionString + "|" +
                     std::to_string(m.customTimeouts) + "|" + std::to_string(m.loginTimeout) + "|" +
                     std::to_string(m.queryTimeout);
  for (const TestQuery& q : m.testQueries) {
    text += "\nquery " + q.id + "|" + q.name + "|" + q.query + "|" + std::to_string(q.enable) +
            "|" + std::to_string(q.type);
  }
  for (const HealthAttribute& h : m.healthAttributes) {
    text += "\nattribute " + h.id + "|" + h.name + "|" + h.testQueryId;
  }
  for (const Alert& a : m.alerts) {
    text += "\nalert " + a.id + "|" + a.monitorId + "|" + a.actionId + "|" + a.healthAttributeId +
            "|" + std::to_string(a.enable) + "|" + std::to_string(a.threshold) + "|" +
            std::to_string(a.condition) + "|" + std::to_string(a.alertType) + "|" + a.customMessage;
  }
  return text;
}

TEST_F(StoreTest, SavesAndLoadsTheWholeGraph) {
  const std::string odd = "Zürich's \"data\" – ☃ 数据";
  auto action = std::make_shared<Action>(Action::kExecuteSql);
  action->name = odd;
  action->server = "smtp.example.org";
  action->port = 2525;
  action->auth = true;
  action->userName = "user'1";
  action->password = "p;w}'d";
  action->fromAddress = "from@example.org";
  action->toAddress = "to@example.org";
  action->datasourceName = "dsn's";
  action->sqlQuery = "UPDATE t SET s = 'down' WHERE n = 'x'";
  action->path = "/opt/it's/run";
  action->uiType = 2;
  action->pollsCount = 3;
  store_.AddAction(action);
  auto monitor = AddMonitor(odd);
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->address = "dsn'x";
    monitor->username = "ü'ser";
    monitor->password = "p'w;{}";
    monitor->pollingInterval = 7;
    monitor->creationTime = 1'700'000'001;
    monitor->customConnectionString = true;
    monitor->connectionString = "Driver=SQLite3;Database=/tmp/o'dd.db";
    monitor->customTimeouts = true;
    monitor->loginTimeout = 21;
    monitor->queryTimeout = 22;
    TestQuery& query = monitor->AddTestQuery();
    query.name = odd;
    query.query = "SELECT count(*) FROM t WHERE s = 'open'";
    query.enable = false;
    query.type = 3;
    Alert& alert =
        monitor->AddAlert(action->id, monitor->healthAttributes.back().id, 5, 4, Alert::kClear);
    alert.threshold = 6'000'000'000;
    alert.enable = false;
    alert.customMessage = odd;
  }
  ASSERT_EQ(store_.SaveAll(), 0);

  ServerStorage loaded;
  ASSERT_EQ(loaded.LoadAll(), 0);
  ASSERT_EQ(loaded.GetServerCount(), 1);
  auto copy = std::dynamic_pointer_cast<ODBCDataSource>(loaded.GetServer(0));
  ASSERT_NE(copy, nullptr);
  {
    // The stored attributes replace the one made for the loaded test query.
    std::lock_guard lock(copy->Mutex());
    EXPECT_EQ(Fields(*copy), Fields(*monitor));
    EXPECT_EQ(copy->healthAttributes.size(), 5u);
    EXPECT_EQ(copy->GetAttributeDisplayName(&copy->healthAttributes.back()),
              odd + " Test Query Value");
  }
  ASSERT_EQ(loaded.GetActionList().size(), 1u);
  EXPECT_EQ(Fields(loaded.GetAction(0)->Snapshot()), Fields(*action));
}

TEST_F(StoreTest, AnEditIsSavedOnItsOwn) {
  auto monitor = AddMonitor("first name");
  auto action = std::make_shared<Action>();
  store_.AddAction(action);
  ASSERT_EQ(store_.SaveServer(monitor->id), 0);
  ASSERT_EQ(store_.SaveAction(action->id), 0);
  EXPECT_EQ(store_.SaveServer("unknown"), SQLITE_NOTFOUND);
  EXPECT_EQ(store_.SaveAction("unknown"), SQLITE_NOTFOUND);
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->name = "second name";
    monitor->AddTestQuery().query = "select 1";
  }
  ASSERT_EQ(store_.SaveServer(monitor->id), 0);
  ASSERT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + 20s));

  // As after a crash: nothing but these saves reached the file.
  ServerStorage other;
  ASSERT_EQ(other.LoadAll(), 0);
  ASSERT_EQ(other.GetServerCount(), 1);
  auto loaded = other.GetServer(0);
  std::lock_guard lock(loaded->Mutex());
  EXPECT_EQ(loaded->name, "second name");
  EXPECT_EQ(loaded->testQueries.size(), 1u);
  EXPECT_EQ(loaded->healthAttributes.size(), 5u);
  EXPECT_EQ(other.FindActionIndex(action->id), 0);
}

TEST_F(StoreTest, DeleteReturnsThePositionToSelectNext) {
  auto a = AddMonitor("a");
  auto b = AddMonitor("b");
  auto c = AddMonitor("c");
  EXPECT_EQ(store_.DeleteServer("unknown"), 0);
  EXPECT_EQ(store_.GetServerCount(), 3);
  EXPECT_EQ(store_.DeleteServer(c->id), 1);
  EXPECT_EQ(store_.DeleteServer(a->id), 0);
  EXPECT_EQ(Names(), std::vector<std::string>{"b"});
  store_.DuplicateServer(b->id);
  EXPECT_EQ(store_.GetServerCount(), 1);
}

TEST_F(StoreTest, ADeletedMonitorLeavesNoRowInEitherFile) {
  auto odbc = std::make_shared<FakeOdbc>();
  odbc->SetConnectError(-1, "down");
  auto monitor = AddMonitor("doomed", odbc);
  auto kept = AddMonitor("kept", odbc);
  for (const auto& m : {monitor, kept}) {
    {
      std::lock_guard lock(m->Mutex());
      m->AddTestQuery().query = "q";
      m->AddAlert("action", m->healthAttributes[0].id, 0, 0, Alert::kError);
    }
    ASSERT_EQ(store_.SaveServer(m->id), 0);
    m->Start();
    ASSERT_TRUE(ui_.WaitForUpdates(m == monitor ? 1 : 2));
    ServerHealth::AddAlertsData(m->id, "alert", 1, "action", "title");
  }
  // Both monitors' rows are in the file before one of them goes.
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  kept->Stop();
  // Deleted while running: the stop is part of the deletion.
  EXPECT_EQ(store_.DeleteServer(monitor->id), 0);
  ASSERT_TRUE(ui_.WaitForEvents("deleted ", 1));
  EXPECT_EQ(ui_.EventsOf("deleted "), std::vector<std::string>{monitor->id});
  EXPECT_FALSE(Running(*monitor));

  const std::string where = " WHERE monitorId = '" + monitor->id + "'";
  for (const char* table : {"TestQueries", "HealthAttributes", "Alerts"}) {
    EXPECT_TRUE(ConfigRows(std::string("SELECT * FROM ") + table + where).empty()) << table;
    EXPECT_FALSE(ConfigRows(std::string("SELECT * FROM ") + table).empty()) << table;
  }
  EXPECT_TRUE(ConfigRows("SELECT * FROM ODBCDataSources WHERE id = '" + monitor->id + "'").empty());
  for (const char* table : {"ODBCDataSourcesData", "TestQueriesData", "AlertsData", "Log"}) {
    EXPECT_TRUE(DataRows(std::string("SELECT * FROM ") + table + where).empty()) << table;
    EXPECT_FALSE(DataRows(std::string("SELECT * FROM ") + table).empty()) << table;
  }
}

// A year of one-minute rows, deleted while another connection holds the data file: the
// monitor leaves the store at once, its rows go once the file is free, the other
// monitor's rows stay, and caches learn of the deletion.
// When the configuration file refuses a deletion (held by another connection past the
// bound of one write, or unwritable), the record comes back where it was, so nothing
// returns unseen at the next start, and the user and the window are told once.
TEST_F(StoreTest, DeletionsTheFileRefusesAreToldAndKeepTheRecord) {
  auto monitor = AddMonitor("m");
  std::string alertId;
  std::string queryId;
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->AddDefaultAttributes();
    alertId = monitor->AddAlert("a", monitor->healthAttributes.front().id, 0, 0, 0).id;
    queryId = monitor->AddTestQuery().id;
  }
  auto action = std::make_shared<Action>();
  auto other = std::make_shared<Action>();
  store_.AddAction(action);
  store_.AddAction(other);
  ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
  const auto shown = [&] {
    std::lock_guard lock(monitor->Mutex());
    return std::vector<bool>{
        monitor->FindAlert(alertId) != nullptr, monitor->FindTestQuery(queryId) != nullptr,
        store_.GetActionById(action->id) != nullptr, store_.GetActionById(other->id) != nullptr};
  };
  const struct {
    const char* what;
    std::function<int()> remove;
    const char* refused;  // the monitor the window hears of, or "" for actions
  } cases[] = {
      {"alert", [&] { return store_.DeleteAlert(monitor->id, alertId); }, "m"},
      {"all alerts", [&] { return store_.DeleteAllAlerts(monitor->id); }, "m"},
      {"action", [&] { return store_.DeleteAction(action->id); }, ""},
      {"actions",
       [&] {
         return store_.DeleteActions({action->id, other->id});
       },
       ""},
      {"test query", [&] { return store_.DeleteTestQuery(monitor->id, queryId); }, "m"},
      {"all test queries", [&] { return store_.DeleteAllTestQueries(monitor->id); }, "m"},
  };
  for (const testing::ConfigRefusal::Kind kind : testing::ConfigRefusal::kKinds) {
    SCOPED_TRACE(testing::ConfigRefusal::Name(kind));
    testing::ConfigRefusal refusal(kind);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      const std::size_t told = ui_.EventsOf("error: ").size();
      const std::size_t refusals = ui_.EventsOf("refused ").size();
      ASSERT_EQ(c.remove(), SQLITE_OK);
      ASSERT_TRUE(store_.WaitForSaves(In(20s)));
      EXPECT_EQ(shown(), (std::vector<bool>{true, true, true, true}));
      const std::vector<std::string> errors = ui_.EventsOf("error: ");
      ASSERT_EQ(errors.size(), told + 1);
      EXPECT_NE(errors.back().find(DataFiles::kConfigFileName), std::string::npos);
      if (kind == testing::ConfigRefusal::Kind::kHeldLock) {
        EXPECT_NE(errors.back().find("locked"), std::string::npos);
      }
      const std::vector<std::string> heard = ui_.EventsOf("refused ");
      ASSERT_EQ(heard.size(), refusals + 1);
      EXPECT_EQ(heard.back(), std::string(c.refused).empty() ? "" : monitor->id);
    }
  }
  // In the same order as before.
  EXPECT_EQ(store_.GetAction(0)->id, action->id);
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM TestQueries"), (testing::Rows{{"1"}}));
  EXPECT_FALSE(store_.HasUnsavedEdits());
  EXPECT_EQ(store_.DeleteAlert(monitor->id, alertId), SQLITE_OK);
  EXPECT_EQ(store_.DeleteActions({action->id, other->id}), SQLITE_OK);
  EXPECT_EQ(store_.DeleteAllTestQueries(monitor->id), SQLITE_OK);
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  EXPECT_TRUE(ConfigRows("SELECT * FROM Alerts").empty());
  EXPECT_TRUE(ConfigRows("SELECT * FROM Actions").empty());
  EXPECT_TRUE(ConfigRows("SELECT * FROM TestQueries").empty());
  EXPECT_TRUE(store_.GetActionList().empty());
}

// Removals that the file refuses in one attempt, queued behind an edit the worker keeps
// trying under a held lock, put every record back where it was.
TEST_F(StoreTest, RemovalsRefusedTogetherPutEveryRecordBackWhereItWas) {
  IWindowStore& window = store_;
  const std::string monitorId = window.AddMonitor({});
  const std::string attributeId = window.GetMonitorSnapshot(monitorId)->attributes.at(0).id;
  std::vector<std::string> alerts;
  for (int i = 0; i < 4; ++i) alerts.push_back(window.AddAlert(monitorId, {"a", attributeId, i}));
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  const auto shown = [&] {
    const MonitorSnapshot monitor = *window.GetMonitorSnapshot(monitorId);
    std::vector<std::string> ids;
    for (const AlertSnapshot& alert : monitor.alerts) ids.push_back(alert.id);
    return ids;
  };
  ASSERT_EQ(shown(), alerts);
  const std::chrono::milliseconds retryLimit = db::BusyEvent::RetryLimit();
  db::BusyEvent::SetRetryLimit(0ms);  // the worker tells the held lock at its first attempt
  {
    testing::ConfigRefusal lock(testing::ConfigRefusal::Kind::kHeldLock);
    EXPECT_EQ(window.ApplyMonitorSettings(monitorId, {}), SQLITE_OK);
    ASSERT_TRUE(ui_.WaitForEvents("error: ", 1));
    EXPECT_EQ(window.DeleteAlert(monitorId, alerts[2]), SQLITE_OK);
    EXPECT_EQ(window.DeleteAlert(monitorId, alerts[0]), SQLITE_OK);
    ASSERT_TRUE(ui_.WaitForEvents("refused ", 2));
  }
  db::BusyEvent::SetRetryLimit(retryLimit);
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  EXPECT_EQ(shown(), alerts);
}

// On a slow disk (each sync 40 ms) the saves' worker holds the file's lock through a long
// commit; an edit and its removal made while that commit syncs the file, as a user clicks
// Remove just after typing, are never refused by the program's own save, and the file ends
// as the window.
TEST_F(StoreTest, OnASlowDiskARemovalRightAfterAnEditIsNeverRefused) {
  IWindowStore& window = store_;
  const std::string monitorId = window.AddMonitor({});
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  const std::string attributeId = window.GetMonitorSnapshot(monitorId)->attributes.at(0).id;
  const auto addQuery = [&] { return window.AddTestQuery(monitorId, {"q", "SELECT 1"}); };
  const auto addAlert = [&] { return window.AddAlert(monitorId, {"a", attributeId, 1, 0, 0}); };
  const auto addAction = [&] {
    ActionSettings settings;
    settings.name = "a";
    return window.AddAction(settings);
  };
  const struct {
    const char* what;
    std::function<void()> editThenRemove;
  } cases[] = {
      {"test query",
       [&] {
         const std::string id = addQuery();
         window.ChangeTestQuery(monitorId, id, {"q2", "SELECT 2"});
         EXPECT_EQ(window.DeleteTestQuery(monitorId, id), SQLITE_OK);
       }},
      {"all test queries",
       [&] {
         const std::string id = addQuery();
         addQuery();
         window.ChangeTestQuery(monitorId, id, {"q2", "SELECT 2"});
         EXPECT_EQ(window.DeleteAllTestQueries(monitorId), SQLITE_OK);
       }},
      {"alert",
       [&] {
         const std::string id = addAlert();
         window.ChangeAlert(monitorId, id, {"b", attributeId, 2, 0, 0});
         EXPECT_EQ(window.DeleteAlert(monitorId, id), SQLITE_OK);
       }},
      {"all alerts",
       [&] {
         addAlert();
         window.EnableAlert(monitorId, addAlert(), false);
         EXPECT_EQ(window.DeleteAllAlerts(monitorId), SQLITE_OK);
       }},
      {"action",
       [&] {
         const std::string id = addAction();
         ActionSettings settings;
         settings.name = "b";
         window.ChangeAction(id, settings);
         EXPECT_EQ(window.DeleteAction(id), SQLITE_OK);
       }},
      {"all actions",
       [&] {
         std::vector<std::string> ids{addAction(), addAction()};
         EXPECT_EQ(window.DeleteActions(ids), SQLITE_OK);
       }},
  };
  const auto fileCounts = [&] {
    return ConfigRows(
        "SELECT (SELECT count(*) FROM TestQueries), (SELECT count(*) FROM Alerts), "
        "(SELECT count(*) FROM HealthAttributes), (SELECT count(*) FROM Actions)");
  };
  const auto windowCounts = [&] {
    const MonitorSnapshot monitor = *window.GetMonitorSnapshot(monitorId);
    return testing::Rows{{std::to_string(monitor.testQueries.size()),
                          std::to_string(monitor.alerts.size()),
                          std::to_string(monitor.attributes.size()),
                          std::to_string(window.GetActionSnapshots().size())}};
  };
  testing_support::SlowSync slow(40ms);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const long syncs = testing_support::SlowSync::SyncsBegun(DataFiles::kConfigFileName);
    // A slow write of the worker's own: once its commit syncs the file, the file's lock is
    // held for the rest of the commit, longer than one attempt on the file waits for it.
    window.ApplyMonitorSettings(monitorId, {});
    ASSERT_TRUE(
        testing_support::SlowSync::WaitForSyncBegun(DataFiles::kConfigFileName, syncs, 60s));
    c.editThenRemove();
    EXPECT_EQ(windowCounts(), (testing::Rows{{"0", "0", "4", "0"}}));
    ASSERT_TRUE(store_.WaitForSaves(In(60s)));
    EXPECT_TRUE(ui_.EventsOf("error: ").empty());
    EXPECT_TRUE(ui_.EventsOf("refused ").empty());
    EXPECT_EQ(fileCounts(), windowCounts());
    EXPECT_FALSE(store_.HasUnsavedEdits());
  }
}

// The exit's save waits for the program's own slow write past its bound instead of
// meeting that write's lock and asking the user about it.
TEST_F(StoreTest, OnASlowDiskTheExitsSaveWaitsForTheProgramsOwnWrite) {
  IWindowStore& window = store_;
  const std::string monitorId = window.AddMonitor({});
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  testing_support::SlowSync slow(100ms);
  MonitorSettings renamed;
  renamed.name = "Renamed";
  window.ApplyMonitorSettings(monitorId, renamed);
  window.DeleteTestQuery(monitorId, window.AddTestQuery(monitorId, {"q", "SELECT 1"}));
  FileFailure failure;
  EXPECT_EQ(store_.SaveAll(&failure, 10ms), SQLITE_OK) << failure.text;
  EXPECT_FALSE(store_.HasUnsavedEdits());
  EXPECT_EQ(ConfigRows("SELECT name FROM ODBCDataSources"), (testing::Rows{{"Renamed"}}));
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM TestQueries"), (testing::Rows{{"0"}}));
  EXPECT_TRUE(ui_.EventsOf("error: ").empty());
}

// A monitor's deletion that the file refuses stays pending and counts as unsaved work; it
// is tried again until the file takes it, all its rows at once, and only then are its data
// rows deleted and "saved again" said.
TEST_F(StoreTest, AMonitorsDeletionTheFileRefusesIsTriedUntilItIsInTheFile) {
  auto monitor = AddMonitor("m");
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->AddDefaultAttributes();
    monitor->AddAlert("a", monitor->healthAttributes.front().id, 0, 0, 0);
    monitor->AddTestQuery();
  }
  ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
  AddMinuteRows(monitor->id, 60);
  const std::chrono::milliseconds retryLimit = db::BusyEvent::RetryLimit();
  db::BusyEvent::SetRetryLimit(0ms);  // the worker tells a held lock at once
  auto holder = std::make_unique<testing::ConfigRefusal>(testing::ConfigRefusal::Kind::kHeldLock);
  EXPECT_EQ(store_.DeleteServer(monitor->id), 0);
  EXPECT_EQ(store_.GetServerById(monitor->id), nullptr);
  ASSERT_TRUE(ui_.WaitForEvents("error: ", 1));
  EXPECT_TRUE(store_.HasUnsavedEdits());
  FileFailure failure;
  EXPECT_NE(store_.SaveAll(&failure, 100ms), SQLITE_OK);
  EXPECT_NE(failure.text.find("locked"), std::string::npos);
  EXPECT_EQ(CountOf("ODBCDataSourcesData", monitor->id), "60");  // kept while it may return
  EXPECT_TRUE(ui_.EventsOf("info: ").empty());
  holder.reset();
  db::BusyEvent::SetRetryLimit(retryLimit);

  ASSERT_TRUE(ui_.WaitForEvents("deleted ", 1));
  EXPECT_FALSE(store_.HasUnsavedEdits());
  EXPECT_EQ(ui_.EventsOf("error: ").size(), 1u);
  ASSERT_EQ(ui_.EventsOf("info: ").size(), 1u);
  EXPECT_NE(ui_.EventsOf("info: ")[0].find("again"), std::string::npos);
  for (const char* table : {"ODBCDataSources", "TestQueries", "HealthAttributes", "Alerts"}) {
    EXPECT_EQ(ConfigRows(std::string("SELECT count(*) FROM ") + table), (testing::Rows{{"0"}}))
        << table;
  }
  EXPECT_EQ(CountOf("ODBCDataSourcesData", monitor->id), "0");
}

TEST_F(StoreTest, DeletingAMonitorWithAWeekOfRowsReturnsAtOnce) {
  constexpr int kWeekOfMinutes = 7 * 24 * 60;
  auto doomed = AddMonitor("doomed");
  auto kept = AddMonitor("kept");
  ASSERT_EQ(store_.SaveServer(doomed->id), 0);
  AddMinuteRows(doomed->id, kWeekOfMinutes);
  AddMinuteRows(kept->id, 24 * 60);
  doomed->AddLog("doomed's line", 0);
  kept->AddLog("kept's line", 0);
  ASSERT_EQ(CountOf("ODBCDataSourcesData", doomed->id), std::to_string(kWeekOfMinutes));
  const std::uint64_t generation = MonitorDataGeneration(doomed->id);

  testing::DataFileLock lock;
  EXPECT_EQ(store_.DeleteServer(doomed->id), 0);
  EXPECT_EQ(store_.GetServerById(doomed->id), nullptr);
  EXPECT_EQ(store_.FindServerIndex(doomed->id), -1);
  EXPECT_EQ(store_.GetServer(0), kept);
  EXPECT_FALSE(store_.IsStopPending(doomed->id));
  EXPECT_TRUE(ui_.EventsOf("deleted ").empty());  // its rows wait for the file
  lock.Release();

  ASSERT_TRUE(ui_.WaitForEvents("deleted ", 1));
  EXPECT_EQ(ui_.EventsOf("deleted "), std::vector<std::string>{doomed->id});
  EXPECT_EQ(MonitorDataGeneration(doomed->id), generation + 1);
  for (const char* table : {"ODBCDataSourcesData", "TestQueriesData", "AlertsData", "Log"}) {
    EXPECT_EQ(CountOf(table, doomed->id), "0") << table;
  }
  EXPECT_TRUE(ConfigRows("SELECT * FROM ODBCDataSources WHERE id = '" + doomed->id + "'").empty());
  EXPECT_EQ(CountOf("ODBCDataSourcesData", kept->id), "1440");
  EXPECT_EQ(CountOf("TestQueriesData", kept->id), "1440");
  EXPECT_EQ(CountOf("AlertsData", kept->id), "1");
  EXPECT_EQ(CountOf("Log", kept->id), "1");
}

// Stopping hung monitors returns at once with every stop pending, and a start is refused
// meanwhile; each stop completes when its connect ends or, past the bound, abandons it.
TEST_F(StoreTest, StopAllReturnsAtOnceAndEveryStopCompletes) {
  for (const bool endsWithinTheBound : {true, false}) {
    SCOPED_TRACE(endsWithinTheBound ? "connects end" : "connects outlast the bound");
    Server::SetStopTimeout(endsWithinTheBound ? 60s : 300ms);
    auto odbc = std::make_shared<FakeOdbc>();
    odbc->BlockConnects(true);
    std::vector<std::string> ids;
    for (const char* name : {"a", "b", "c"}) {
      auto monitor = AddMonitor(name, odbc);
      monitor->Start();
      ids.push_back(monitor->id);
    }
    auto idle = AddMonitor("never started");
    ASSERT_TRUE(odbc->WaitForConnects(3));
    EXPECT_TRUE(store_.AnyRunning());

    store_.StopAll();
    if (endsWithinTheBound) {
      for (const std::string& id : ids) EXPECT_TRUE(store_.IsStopPending(id));
      EXPECT_FALSE(store_.IsStopPending(idle->id));
      EXPECT_FALSE(store_.WaitForStops(In(0ms)));
      EXPECT_EQ(store_.GetServerById(ids[0])->Start(), 1u);
      odbc->Release();
    }
    ASSERT_TRUE(store_.WaitForStops(In(20s)));
    EXPECT_FALSE(store_.AnyRunning());
    for (const std::string& id : ids) EXPECT_FALSE(store_.IsStopPending(id));
    std::vector<std::string> stopped;
    for (const auto& row :
         DataRows("SELECT monitorId FROM Log WHERE text = 'Monitor stopped.' ORDER BY rowid")) {
      stopped.push_back(row.at(0));
    }
    EXPECT_THAT(stopped, ::testing::UnorderedElementsAreArray(ids));
    odbc->Release();
    EXPECT_TRUE(odbc->WaitForUnblocked());
    store_.Clear();
    ExecData("DELETE FROM Log");
  }
}

TEST_F(StoreTest, DeletingAMonitorAndItsActionWhileTheActionRuns) {
  // An SQL action whose statement hangs until released.
  auto actionOdbc = std::make_shared<FakeOdbc>();
  actionOdbc->BlockQueries(true);
  Action::SetOdbc(actionOdbc.get());
  auto action = std::make_shared<Action>(Action::kExecuteSql);
  action->datasourceName = "target";
  action->sqlQuery = "UPDATE t SET s = 'down'";
  store_.AddAction(action);

  auto odbc = std::make_shared<FakeOdbc>();
  odbc->SetConnectError(-1, "down");
  auto monitor = AddMonitor("failing", odbc);
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->AddAlert(action->id, monitor->healthAttributes[0].id, 0, 0, Alert::kError);
  }
  monitor->Poll();  // unavailable: the availability alert fires
  ASSERT_TRUE(actionOdbc->WaitForBlocked());

  const std::string id = monitor->id;
  store_.DeleteServer(id);
  store_.DeleteActionById(action->id);
  monitor.reset();
  action.reset();
  EXPECT_EQ(store_.GetServerCount(), 0);
  EXPECT_TRUE(store_.GetActionList().empty());

  actionOdbc->Release();
  EXPECT_TRUE(Action::WaitForRunningActions(10s));
  EXPECT_TRUE(store_.WaitForStops(In(20s)));
  EXPECT_TRUE(DataRows("SELECT * FROM Log WHERE monitorId = '" + id + "'").empty());
}

TEST_F(StoreTest, LookupsFromOtherThreadsWhileTheListsChange) {
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!done.load()) {
        for (const auto& server : store_.GetServerList()) {
          auto same = store_.GetServerById(server->id);
          if (same) {
            std::lock_guard lock(same->Mutex());
            (void)same->name.size();
          }
        }
        for (int index = 0; index < 4; ++index) {
          if (auto action = store_.GetAction(index)) (void)store_.FindActionIndex(action->id);
        }
        (void)store_.AnyRunning();
        (void)store_.GetServer(store_.GetServerCount() - 1);
      }
    });
  }
  for (int round = 0; round < 30; ++round) {
    auto monitor = AddMonitor("m" + std::to_string(round));
    auto action = std::make_shared<Action>();
    store_.AddAction(action);
    if (round % 2 == 1) {
      store_.DeleteServer(monitor->id);
      store_.DeleteAction(0);
    }
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(store_.GetServerCount(), 15);
  EXPECT_EQ(store_.GetActionList().size(), 15u);
}

}  // namespace
}  // namespace engine
