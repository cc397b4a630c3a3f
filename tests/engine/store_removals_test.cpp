// Removals the configuration file refuses, however the saves' attempts split them: the
// records come back in the order they had, none comes back whose parent has left the file,
// and once the exit has begun a removal is unsaved work, kept until it is in the file or
// given up, and named when it is not. The attempts are split by holding the worker's
// openings of the file at the door (slow_sync.h), never by timing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/actions/action.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/slow_sync.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::ConfigRefusal;
using testing::ConfigRows;
using testing_support::SlowSync;

std::chrono::steady_clock::time_point In(std::chrono::milliseconds wait) {
  return std::chrono::steady_clock::now() + wait;
}

std::vector<std::string> Column(const testing::Rows& rows) {
  std::vector<std::string> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  return values;
}

class RemovalTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetStorage(&store_);
    Server::SetStopTimeout(300ms);
  }
  void TearDown() override {
    SlowSync::StopHoldingOpens();
    store_.Clear();
    Action::WaitForRunningActions(10s);
    Server::SetStopTimeout(120s);
    MonitorTest::TearDown();
  }

  // Hands each removal over while the attempt that carries the one before it waits at the
  // file's door, so each goes to an attempt of its own; then lets every attempt in.
  void RemoveInAttemptsOfTheirOwn(const std::vector<std::function<void()>>& removals) {
    SlowSync::HoldOpens(DataFiles::kConfigFileName);
    long opens = SlowSync::OpensBegun();
    for (std::size_t i = 0; i < removals.size(); ++i) {
      removals[i]();
      if (i > 0) SlowSync::LetOpenIn();
      ASSERT_TRUE(SlowSync::WaitForOpenBegun(opens++, 20s)) << "removal " << i;
    }
    SlowSync::StopHoldingOpens();
  }

  std::string monitorId_;
  SlowSync counting_{0ms};  // openings are counted and held; nothing is slowed
  ServerStorage store_;
  IWindowStore& window_ = store_;
};

// Records removed one after another while another program holds the file come back in the
// order they had before the first of them left, and the next save keeps that order.
TEST_F(RemovalTest, RefusedRemovalsComeBackInTheirOrderHoweverTheAttemptsSplitThem) {
  monitorId_ = window_.AddMonitor({"m"});
  const std::string attributeId = window_.GetMonitorSnapshot(monitorId_)->attributes.at(0).id;
  std::vector<std::string> queries, alerts, actions;
  for (const char* name : {"A", "B", "C", "D"}) {
    queries.push_back(window_.AddTestQuery(monitorId_, {name, "SELECT 1"}));
    alerts.push_back(window_.AddAlert(monitorId_, {"", attributeId, 1}));
    ActionSettings action;
    action.name = name;
    actions.push_back(window_.AddAction(action));
  }
  ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
  const auto shownQueries = [&] {
    std::vector<std::string> ids;
    const MonitorSnapshot monitor = *window_.GetMonitorSnapshot(monitorId_);
    for (const auto& q : monitor.testQueries) ids.push_back(q.id);
    return ids;
  };
  const auto shownAlerts = [&] {
    std::vector<std::string> ids;
    const MonitorSnapshot monitor = *window_.GetMonitorSnapshot(monitorId_);
    for (const auto& a : monitor.alerts) ids.push_back(a.id);
    return ids;
  };
  const auto shownActions = [&] {
    std::vector<std::string> ids;
    for (const auto& a : window_.GetActionSnapshots()) ids.push_back(a.id);
    return ids;
  };
  const auto query = [&](int i) {
    return [&, i] { window_.DeleteTestQuery(monitorId_, queries[i]); };
  };
  const auto alert = [&](int i) { return [&, i] { window_.DeleteAlert(monitorId_, alerts[i]); }; };
  const auto action = [&](int i) { return [&, i] { window_.DeleteAction(actions[i]); }; };
  const struct {
    const char* what;
    std::vector<std::function<void()>> removals;  // as Remove pressed on what is selected next
    std::function<std::vector<std::string>()> shown;
    const std::vector<std::string>& before;
    const char* table;
  } cases[] = {
      {"two test queries", {query(1), query(2)}, shownQueries, queries, "TestQueries"},
      {"three test queries", {query(1), query(2), query(3)}, shownQueries, queries, "TestQueries"},
      {"test queries from the end",
       {query(3), query(2), query(0)},
       shownQueries,
       queries,
       "TestQueries"},
      {"two alerts", {alert(1), alert(2)}, shownAlerts, alerts, "Alerts"},
      {"an alert, then the list",
       {alert(2), [&] { window_.DeleteAllAlerts(monitorId_); }},
       shownAlerts,
       alerts,
       "Alerts"},
      {"three actions", {action(1), action(2), action(0)}, shownActions, actions, "Actions"},
      {"an action, then the rest",
       {action(1),
        [&] {
          window_.DeleteActions({actions[0], actions[3]});
        }},
       shownActions,
       actions,
       "Actions"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t refused = ui_.EventsOf("refused ").size();
    {
      ConfigRefusal lock(ConfigRefusal::Kind::kHeldLock);
      RemoveInAttemptsOfTheirOwn(c.removals);
      ASSERT_TRUE(ui_.WaitForEvents("refused ", refused + c.removals.size()));
    }
    ASSERT_TRUE(store_.WaitForSaves(In(20s)));
    EXPECT_EQ(c.shown(), c.before);
    // Written in the window's order, and read back so.
    ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
    EXPECT_EQ(Column(ConfigRows(std::string("SELECT id FROM ") + c.table + " ORDER BY rowid")),
              c.before);
  }
  EXPECT_FALSE(store_.HasUnsavedEdits());
}

// An alert's removal refused while the removal of its test query, handed over behind it, is
// taken by the file: the alert left the file with its attribute and stays out of the window;
// refused together, both come back.
TEST_F(RemovalTest, AnAlertNeverComesBackOnAnAttributeThatHasGone) {
  for (const bool queryTaken : {true, false}) {
    SCOPED_TRACE(queryTaken ? "the query's removal is taken" : "both are refused");
    monitorId_ = window_.AddMonitor({"m"});
    const std::string queryId = window_.AddTestQuery(monitorId_, {"q", "SELECT 1"});
    std::string attributeId;
    const MonitorSnapshot added = *window_.GetMonitorSnapshot(monitorId_);
    for (const auto& attribute : added.attributes) {
      if (attribute.testQueryId == queryId) attributeId = attribute.id;
    }
    ASSERT_FALSE(attributeId.empty());
    const std::string alertId = window_.AddAlert(monitorId_, {"", attributeId, 1});
    const std::string other = window_.AddAlert(monitorId_, {"", "", 1});
    ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
    const std::string mine = " WHERE monitorId = '" + monitorId_ + "'";
    const std::size_t refused = ui_.EventsOf("refused ").size();

    auto lock = std::make_unique<ConfigRefusal>(ConfigRefusal::Kind::kHeldLock);
    SlowSync::HoldOpens(DataFiles::kConfigFileName);
    const long opens = SlowSync::OpensBegun();
    EXPECT_EQ(window_.DeleteAlert(monitorId_, alertId), SQLITE_OK);
    ASSERT_TRUE(SlowSync::WaitForOpenBegun(opens, 20s));
    EXPECT_EQ(window_.DeleteTestQuery(monitorId_, queryId), SQLITE_OK);
    SlowSync::LetOpenIn();
    // The alert's attempt has been refused; the query's waits at the door.
    ASSERT_TRUE(SlowSync::WaitForOpenBegun(opens + 1, 20s));
    if (queryTaken) lock.reset();
    SlowSync::StopHoldingOpens();
    ASSERT_TRUE(ui_.WaitForEvents("refused ", refused + (queryTaken ? 1 : 2)));
    lock.reset();
    ASSERT_TRUE(store_.WaitForSaves(In(20s)));

    const MonitorSnapshot shown = *window_.GetMonitorSnapshot(monitorId_);
    std::vector<std::string> alertsShown;
    for (const auto& alert : shown.alerts) alertsShown.push_back(alert.id);
    const std::vector<std::string> expected =
        queryTaken ? std::vector<std::string>{other} : std::vector<std::string>{alertId, other};
    EXPECT_EQ(alertsShown, expected);
    EXPECT_EQ(shown.testQueries.size(), queryTaken ? 0u : 1u);
    ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
    EXPECT_EQ(Column(ConfigRows("SELECT id FROM Alerts" + mine + " ORDER BY rowid")), expected);
    EXPECT_EQ(ConfigRows("SELECT count(*) FROM TestQueries" + mine),
              (testing::Rows{{queryTaken ? "0" : "1"}}));
    store_.DeleteServer(monitorId_);
    ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  }
}

// The close or the exit begins while a removal waits for a file another program holds, or
// that cannot be written: the removal is not put back but kept with the edits, named while
// it is not in the file, and then it reaches the file (Try Again), is dropped and the record
// stays in the file (Exit Without Saving), or is refused and told as before (Keep Running).
TEST_F(RemovalTest, ARemovalWaitingWhenTheExitBeginsIsUnsavedWorkUntilTheUserDecides) {
  enum class Choice { kTryAgain, kExitWithoutSaving, kKeepRunning };
  for (const ConfigRefusal::Kind kind : ConfigRefusal::kKinds) {
    for (const Choice choice :
         {Choice::kTryAgain, Choice::kExitWithoutSaving, Choice::kKeepRunning}) {
      SCOPED_TRACE(ConfigRefusal::Name(kind));
      SCOPED_TRACE(static_cast<int>(choice));
      ASSERT_EQ(store_.LoadAll(), SQLITE_OK);  // the exit's rule is off again
      monitorId_ = window_.AddMonitor({"Sales"});
      const std::string orders = window_.AddTestQuery(monitorId_, {"Orders", "SELECT 1"});
      const std::string other = window_.AddTestQuery(monitorId_, {"Other", "SELECT 2"});
      ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
      const std::size_t errors = ui_.EventsOf("error: ").size();
      const std::size_t refused = ui_.EventsOf("refused ").size();
      const std::string names =
          "SELECT name FROM TestQueries WHERE monitorId = '" + monitorId_ + "' ORDER BY rowid";

      auto refusal = std::make_unique<ConfigRefusal>(kind);
      if (kind == ConfigRefusal::Kind::kHeldLock) {
        // The edit is tried again quietly; the removal is handed over behind it, and the
        // exit begins while the attempt that carries it is under way.
        SlowSync::HoldOpens(DataFiles::kConfigFileName);
        const long opens = SlowSync::OpensBegun();
        window_.ChangeTestQuery(monitorId_, other, {"Other2", "SELECT 2"});
        ASSERT_TRUE(SlowSync::WaitForOpenBegun(opens, 20s));
        window_.DeleteTestQuery(monitorId_, orders);
        SlowSync::LetOpenIn();
        ASSERT_TRUE(SlowSync::WaitForOpenBegun(opens + 1, 20s));
        store_.SetExiting(true);
        SlowSync::StopHoldingOpens();
      } else {
        store_.SetExiting(true);
        window_.ChangeTestQuery(monitorId_, other, {"Other2", "SELECT 2"});
        window_.DeleteTestQuery(monitorId_, orders);
      }
      FileFailure failure;
      std::vector<std::string> unremoved;
      EXPECT_NE(store_.SaveAll(&failure, 200ms, &unremoved), SQLITE_OK);
      EXPECT_EQ(unremoved,
                std::vector<std::string>{"the test query \"Orders\" of the monitor \"Sales\""});
      EXPECT_TRUE(store_.HasUnsavedEdits());
      EXPECT_EQ(window_.GetMonitorSnapshot(monitorId_)->testQueries.size(), 1u);
      // The exit asks or reports; nothing was put back or told meanwhile.
      EXPECT_EQ(ui_.EventsOf("refused ").size(), refused);
      EXPECT_EQ(ui_.EventsOf("error: ").size(), errors);

      switch (choice) {
        case Choice::kTryAgain:
          refusal.reset();
          EXPECT_EQ(store_.SaveAll(&failure, 1s, &unremoved), SQLITE_OK);
          EXPECT_EQ(Column(ConfigRows(names)), std::vector<std::string>{"Other2"});
          EXPECT_EQ(ui_.EventsOf("refused ").size(), refused);
          break;
        case Choice::kExitWithoutSaving:
          store_.DropUnsavedEdits();
          refusal.reset();
          EXPECT_FALSE(store_.HasUnsavedEdits());
          ASSERT_TRUE(store_.WaitForSaves(In(20s)));
          EXPECT_EQ(Column(ConfigRows(names)), (std::vector<std::string>{"Orders", "Other"}));
          break;
        case Choice::kKeepRunning: {
          store_.SetExiting(false);
          ASSERT_TRUE(ui_.WaitForEvents("refused ", refused + 1));
          std::vector<std::string> shown;
          const MonitorSnapshot monitor = *window_.GetMonitorSnapshot(monitorId_);
          for (const auto& q : monitor.testQueries) {
            shown.push_back(q.id);
          }
          EXPECT_EQ(shown, (std::vector<std::string>{orders, other}));
          ASSERT_TRUE(ui_.WaitForEvents("error: ", errors + 1));
          EXPECT_EQ(ui_.EventsOf("error: ").size(), errors + 1);
          refusal.reset();
          window_.ChangeTestQuery(monitorId_, other, {"Other2", "SELECT 2"});
          ASSERT_TRUE(store_.WaitForSaves(In(20s)));
          EXPECT_EQ(Column(ConfigRows(names)), (std::vector<std::string>{"Orders", "Other2"}));
          break;
        }
      }
      EXPECT_FALSE(store_.HasUnsavedEdits());
    }
  }
}

// An alert whose removal the file does not hold at exit is named as its row in the alerts
// view reads (attribute, condition and threshold, action, type), so the user can tell which
// of the monitor's alerts the file still holds.
TEST_F(RemovalTest, AnAlertNotRemovedFromTheFileIsNamedAsTheAlertsViewListsIt) {
  const struct {
    const char* name;
    // The alerts added, by attribute display name ("" for one that does not exist), action
    // ("" for none), threshold, condition and type; all are removed together, or the first.
    struct Added {
      const char* attribute;
      const char* action;
      std::int64_t threshold;
      std::int32_t condition;
      std::int32_t type;
    };
    std::vector<Added> alerts;
    bool all;
    std::string named;
  } cases[] = {
      {"a number compared",
       {{"Connection Time (ms.)", "Mail DBA", 500, 1, 0}},
       false,
       "the alert \"Connection Time (ms.) > 500, Mail DBA, Error\" of the monitor \"Sales\""},
      {"a boolean attribute",
       {{"Monitor Availability", "Mail DBA", 0, 2, 1}},
       false,
       "the alert \"Monitor Availability, Mail DBA, Clear\" of the monitor \"Sales\""},
      {"a test query's value, no threshold, no action",
       {{"Orders Test Query Value", "", -1, 5, 0}},
       false,
       "the alert \"Orders Test Query Value <> -, Error\" of the monitor \"Sales\""},
      {"an attribute that does not exist",
       {{"", "Mail DBA", 7, 0, 1}},
       false,
       "the alert \"Mail DBA, Clear\" of the monitor \"Sales\""},
      {"all of them",
       {{"Connection Time (ms.)", "Mail DBA", 500, 4, 0}, {"Monitor Health", "", 0, 1, 1}},
       true,
       "the alerts \"Connection Time (ms.) >= 500, Mail DBA, Error\", \"Monitor Health, "
       "Clear\" of the monitor \"Sales\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(store_.LoadAll(), SQLITE_OK);
    monitorId_ = window_.AddMonitor({"Sales"});
    window_.AddTestQuery(monitorId_, {"Orders", "SELECT 1"});
    ActionSettings mail;
    mail.name = "Mail DBA";
    const std::string mailId = window_.AddAction(mail);
    const MonitorSnapshot monitor = *window_.GetMonitorSnapshot(monitorId_);
    std::vector<std::string> alertIds;
    for (const auto& added : c.alerts) {
      std::string attributeId = "no-such-attribute";
      for (const auto& attribute : monitor.attributes) {
        if (attribute.displayName == added.attribute) attributeId = attribute.id;
      }
      ASSERT_TRUE(*added.attribute == 0 || attributeId != "no-such-attribute") << added.attribute;
      alertIds.push_back(
          window_.AddAlert(monitorId_, {*added.action == 0 ? "" : mailId, attributeId,
                                        added.threshold, added.condition, added.type}));
    }
    ASSERT_EQ(store_.SaveAll(), SQLITE_OK);

    store_.SetExiting(true);
    {
      ConfigRefusal refusal(ConfigRefusal::Kind::kUnwritable);
      if (c.all) {
        EXPECT_EQ(window_.DeleteAllAlerts(monitorId_), SQLITE_OK);
      } else {
        EXPECT_EQ(window_.DeleteAlert(monitorId_, alertIds.at(0)), SQLITE_OK);
      }
      FileFailure failure;
      std::vector<std::string> unremoved;
      EXPECT_NE(store_.SaveAll(&failure, 200ms, &unremoved), SQLITE_OK);
      EXPECT_EQ(unremoved, std::vector<std::string>{c.named});
      store_.DropUnsavedEdits();
    }
    ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  }
}

// A monitor deleted while it ran and whose deletion is not in the file stays known as such
// (waiting, or given up at exit), so the exit can record it as running; once the file takes
// the deletion it is forgotten.
TEST_F(RemovalTest, AMonitorsDeletionNotInTheFileIsKnownWithItsRunningState) {
  auto odbc = std::make_shared<testing::FakeOdbc>();
  monitorId_ = window_.AddMonitor({"Sales"});
  const std::string idle = window_.AddMonitor({"Idle"});
  ASSERT_EQ(store_.SaveAll(), SQLITE_OK);
  auto running = std::dynamic_pointer_cast<ODBCDataSource>(store_.GetServerById(monitorId_));
  running->SetOdbc(odbc);
  store_.StartServer(monitorId_);
  ASSERT_TRUE(store_.AnyRunning());

  auto lock = std::make_unique<ConfigRefusal>(ConfigRefusal::Kind::kHeldLock);
  store_.DeleteServer(monitorId_);
  store_.DeleteServer(idle);
  const auto unfinished = [&] {
    std::vector<std::pair<std::string, bool>> out;
    for (const auto& d : store_.UnfinishedDeletions()) out.emplace_back(d.id, d.running);
    return out;
  };
  const std::vector<std::pair<std::string, bool>> both{{monitorId_, true}, {idle, false}};
  EXPECT_EQ(unfinished(), both);
  store_.SetExiting(true);
  EXPECT_NE(store_.SaveAll(nullptr, 100ms), SQLITE_OK);
  store_.DropUnsavedEdits();  // given up: the file keeps both, and the next start finds them
  lock.reset();
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  EXPECT_EQ(unfinished(), both);
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM ODBCDataSources"), (testing::Rows{{"2"}}));

  ASSERT_EQ(store_.LoadAll(), SQLITE_OK);
  EXPECT_TRUE(unfinished().empty());
  store_.DeleteServer(idle);
  ASSERT_TRUE(ui_.WaitForEvents("deleted ", 1));
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM ODBCDataSources"), (testing::Rows{{"1"}}));
  EXPECT_TRUE(unfinished().empty());
}

}  // namespace
}  // namespace engine
