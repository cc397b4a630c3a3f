// The store's calls for the views: settings applied and read back through a snapshot and
// through the file, every edit saved as it is made, unknown identifiers refused without
// a change, what a snapshot shows of a stopped and of a polling monitor, and views
// reading and editing while monitors poll without pause (run under ThreadSanitizer too).
#include "engine/store/monitor_snapshot.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <sstream>
#include <thread>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_reads.h"
#include "engine/data/log_writer.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/odbc.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::FakeOdbc;

constexpr std::int64_t kStart = 1'700'000'000;

// The fields, each followed by '|'.
template <typename... Fields>
std::string Join(const Fields&... fields) {
  std::ostringstream text;
  ((text << fields << '|'), ...);
  return text.str();
}

// Every stored field of a monitor's snapshot and of the actions, as one text.
std::string Stored(const MonitorSnapshot& m, const std::vector<ActionSnapshot>& actions) {
  const MonitorSettings& s = m.settings;
  std::string text = Join(m.id, s.name, s.address, s.username, s.password, s.pollingInterval,
                          s.customConnectionString, s.connectionString, s.customTimeouts,
                          s.loginTimeout, s.queryTimeout, m.creationTime);
  for (const TestQuerySnapshot& q : m.testQueries) {
    text += "\nquery " + Join(q.id, q.settings.name, q.settings.query, q.enable);
  }
  for (const AttributeSnapshot& a : m.attributes) {
    text += "\nattribute " + Join(a.id, a.displayName, a.testQueryId, a.type);
  }
  for (const AlertSnapshot& a : m.alerts) {
    const AlertSettings& s = a.settings;
    text += "\nalert " + Join(a.id, s.actionId, s.healthAttributeId, s.threshold, s.condition,
                              s.alertType, a.enable);
  }
  for (const ActionSnapshot& a : actions) {
    const ActionSettings& s = a.settings;
    text += "\naction " + Join(a.id, s.name, s.type, s.pollsCount, s.server, s.port, s.auth,
                               s.userName, s.password, s.fromAddress, s.toAddress, s.datasourceName,
                               s.sqlQuery, s.path, s.uiType);
  }
  return text;
}

std::string Stored(const ServerStorage& store, const std::string& id) {
  const std::optional<MonitorSnapshot> snapshot = store.GetMonitorSnapshot(id);
  if (!snapshot) return "no monitor " + id;
  return Stored(*snapshot, store.GetActionSnapshots());
}

// What a store loaded from the file holds of the monitor once the writer's saves are done.
std::string Reloaded(ServerStorage& writer, const std::string& id) {
  EXPECT_TRUE(writer.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  ServerStorage loaded;
  EXPECT_EQ(loaded.LoadAll(), 0);
  return Stored(loaded, id);
}

// Waits (bounded) until the condition holds; the result says whether it did.
bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

class SnapshotTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetStorage(&store_);
    Server::SetStopTimeout(300ms);
  }
  void TearDown() override {
    store_.Clear();
    Action::WaitForRunningActions(10s);
    Server::SetStopTimeout(120s);
    Clock::Set(nullptr);
    // A poll abandoned by a test may still read this clock after the test: keep it.
    static auto* retired = new std::vector<std::unique_ptr<FakeClock>>;
    if (clock_) retired->push_back(std::move(clock_));
    MonitorTest::TearDown();
  }

  std::shared_ptr<FakeOdbc> UseClock(FakeClock::Mode mode) {
    clock_ = std::make_unique<FakeClock>(kStart, mode);
    Clock::Set(clock_.get());
    return std::make_shared<FakeOdbc>(clock_.get());
  }

  std::string NewMonitor(std::shared_ptr<FakeOdbc> odbc = nullptr) {
    auto monitor = store_.AddNewODBCDataSource();
    if (odbc) monitor->SetOdbc(std::move(odbc));
    return monitor->id;
  }

  MonitorSnapshot Snapshot(const std::string& id) const {
    std::optional<MonitorSnapshot> snapshot = store_.GetMonitorSnapshot(id);
    EXPECT_TRUE(snapshot.has_value());
    return snapshot.value_or(MonitorSnapshot{});
  }

  ServerStorage store_;
  std::unique_ptr<FakeClock> clock_;
};

TEST_F(SnapshotTest, SettingsAppliedReadBackFromTheSnapshotAndFromTheFile) {
  const MonitorSettings cases[] = {
      {},
      // Name, address, user, password, interval, custom text, text, custom time-outs,
      // login, query.
      {"Zürich's \"data\" – ☃ 数据", "dsn'x", "ü'ser", "p'w;{}", 7, true,
       "Driver=SQLite3;Database=/tmp/o'dd.db", true, 21, 22},
      {.pollingInterval = -5, .loginTimeout = -1, .queryTimeout = 0},  // nothing is validated
      {.pollingInterval = INT32_MAX, .loginTimeout = INT32_MIN},
  };
  for (const MonitorSettings& settings : cases) {
    // Applied to a monitor, and given to a new one as the new-monitor wizard does.
    const std::string applied = NewMonitor();
    ASSERT_EQ(store_.ApplyMonitorSettings(applied, settings), 0);
    int status = -1;
    const std::string added = store_.AddMonitor(settings, &status);
    ASSERT_EQ(status, 0);
    for (const std::string& id : {applied, added}) {
      const MonitorSnapshot snapshot = Snapshot(id);
      EXPECT_EQ(snapshot.settings, settings) << settings.name;
      EXPECT_EQ(snapshot.attributes.size(), 4u);  // the built-in ones
      EXPECT_FALSE(snapshot.running);
      EXPECT_EQ(Reloaded(store_, id), Stored(store_, id)) << settings.name;
    }
  }
}

// Each edit shows in the next snapshot and is in the file at once.
TEST_F(SnapshotTest, EveryEditShowsAndIsSavedAsItIsMade) {
  const std::string id = NewMonitor();
  std::string actionId;
  std::string queryId;
  std::string alertId;
  MonitorSnapshot m;  // taken after each step
  std::vector<ActionSnapshot> actions;
  const auto queryAttribute = [&]() -> const AttributeSnapshot* {
    for (const AttributeSnapshot& a : m.attributes) {
      if (a.testQueryId == queryId) return &a;
    }
    return nullptr;
  };
  const auto added = [](std::string* idOut, const std::function<std::string(int*)>& add) {
    int status = -1;
    *idOut = add(&status);
    return status;
  };
  // Name, type, polls, server, port, authentication, user, password, from, to, data
  // source, SQL, program, message kind; every field changes.
  const ActionSettings mail{
      "Mail o'clock", Action::kSms, 3,     "smtp.example.org", 2525,
      true,           "u",          "p'w", "from@example.org", "to@example.org"};
  const ActionSettings changed{
      "Run", Action::kExecuteSql,    1,           "mail", 25, false, "v", "q", "f@x.org", "t@x.org",
      "dsn", "UPDATE t SET s = 'x'", "/bin/true", 2};
  const TestQuerySettings query{"Open", "SELECT count(*)\r\nFROM t"};
  AlertSettings alert{"", "", 6'000'000'000, 0, Alert::kError};

  const struct {
    const char* step;
    std::function<int()> edit;
    std::function<bool()> shows;
  } steps[] = {
      {"settings", [&] { return store_.ApplyMonitorSettings(id, {.name = "Orders"}); },
       [&] { return m.settings.name == "Orders"; }},
      {"add action",
       [&] { return added(&actionId, [&](int* s) { return store_.AddAction(mail, s); }); },
       [&] { return actions.size() == 1 && actions[0].settings == mail; }},
      {"change action", [&] { return store_.ChangeAction(actionId, changed); },
       [&] { return actions[0].id == actionId && actions[0].settings == changed; }},
      {"add test query",
       [&] {
         return added(&queryId, [&](int* s) {
           return store_.AddTestQuery(id, {"Orders", "SELECT 1"}, s);
         });
       },
       [&] {
         return m.testQueries.size() == 1 && m.testQueries[0].enable && queryAttribute() &&
                queryAttribute()->displayName == "Orders Test Query Value";
       }},
      {"change test query", [&] { return store_.ChangeTestQuery(id, queryId, query); },
       [&] {
         return m.FindTestQuery(queryId)->settings == query &&
                queryAttribute()->displayName == "Open Test Query Value";
       }},
      {"disable test query", [&] { return store_.EnableTestQuery(id, queryId, false); },
       [&] { return !m.FindTestQuery(queryId)->enable; }},
      {"add alert",
       [&] {
         alert.actionId = actionId;
         alert.healthAttributeId = queryAttribute()->id;
         return added(&alertId, [&](int* s) {
           return store_.AddAlert(id, {actionId, alert.healthAttributeId, -5, 4, Alert::kClear}, s);
         });
       },
       [&] {
         return m.alerts.size() == 1 && m.alerts[0].enable && m.alerts[0].settings.threshold == -5;
       }},
      {"change alert", [&] { return store_.ChangeAlert(id, alertId, alert); },
       [&] { return m.alerts[0].id == alertId && m.alerts[0].settings == alert; }},
      {"disable alert", [&] { return store_.EnableAlert(id, alertId, false); },
       [&] { return !m.alerts[0].enable; }},
      {"alert on a built-in attribute",
       [&] {
         std::string unused;
         return added(&unused, [&](int* s) {
           return store_.AddAlert(id, {actionId, m.attributes[0].id, 0, 1, 0}, s);
         });
       },
       [&] { return m.alerts.size() == 2; }},
      {"delete alert", [&] { return store_.DeleteAlert(id, alertId); },
       [&] { return m.alerts.size() == 1 && m.alerts[0].id != alertId; }},
      // The test query goes with its attribute; an alert on that attribute would go too.
      {"delete test query", [&] { return store_.DeleteTestQuery(id, queryId); },
       [&] { return m.testQueries.empty() && m.attributes.size() == 4 && m.alerts.size() == 1; }},
      {"delete all alerts", [&] { return store_.DeleteAllAlerts(id); },
       [&] { return m.alerts.empty(); }},
      {"delete action", [&] { return store_.DeleteAction(actionId); },
       [&] { return actions.empty(); }},
      // Kept in memory only.
      {"report period", [&] { return store_.SetReportPeriod(id, 100, 200, 4); },
       [&] { return m.reportStart == 100 && m.reportEnd == 200 && m.reportPeriod == 4; }},
  };
  for (const auto& step : steps) {
    ASSERT_EQ(step.edit(), 0) << step.step;
    ASSERT_TRUE(store_.WaitForStops(std::chrono::steady_clock::now() + 20s));  // row deletions
    m = Snapshot(id);
    actions = store_.GetActionSnapshots();
    EXPECT_TRUE(step.shows()) << step.step;
    EXPECT_EQ(Reloaded(store_, id), Stored(m, actions)) << step.step;
  }
}

TEST_F(SnapshotTest, UnknownIdentifiersAreRefusedAndChangeNothing) {
  const std::string id = NewMonitor();
  const std::string actionId = store_.AddAction({.name = "a"});
  const std::string queryId = store_.AddTestQuery(id, {"q", "SELECT 1"});
  const std::string alertId = store_.AddAlert(id, {actionId, "", 0, 1, 0});
  const std::string before = Stored(store_, id);
  const std::string unknown = "unknown";

  const struct {
    const char* call;
    std::function<int()> run;
  } calls[] = {
      {"apply", [&] { return store_.ApplyMonitorSettings(unknown, {.name = "x"}); }},
      {"report period", [&] { return store_.SetReportPeriod(unknown, 1, 2, 3); }},
      {"clear log", [&] { return store_.ClearLog(unknown); }},
      {"add query to unknown monitor",
       [&] {
         int status = 0;
         EXPECT_EQ(store_.AddTestQuery(unknown, {"x", "x"}, &status), "");
         return status;
       }},
      {"change query of unknown monitor",
       [&] {
         return store_.ChangeTestQuery(unknown, queryId, {"x", "x"});
       }},
      {"change unknown query",
       [&] {
         return store_.ChangeTestQuery(id, unknown, {"x", "x"});
       }},
      {"enable unknown query", [&] { return store_.EnableTestQuery(id, unknown, false); }},
      {"delete unknown query", [&] { return store_.DeleteTestQuery(id, unknown); }},
      {"delete query of unknown monitor", [&] { return store_.DeleteTestQuery(unknown, queryId); }},
      {"add alert to unknown monitor",
       [&] {
         int status = 0;
         EXPECT_EQ(store_.AddAlert(unknown, {}, &status), "");
         return status;
       }},
      {"change unknown alert", [&] { return store_.ChangeAlert(id, unknown, {}); }},
      {"change alert of unknown monitor", [&] { return store_.ChangeAlert(unknown, alertId, {}); }},
      {"enable unknown alert", [&] { return store_.EnableAlert(id, unknown, false); }},
      {"delete unknown alert", [&] { return store_.DeleteAlert(id, unknown); }},
      {"delete alert of unknown monitor", [&] { return store_.DeleteAlert(unknown, alertId); }},
      {"delete all alerts of unknown monitor", [&] { return store_.DeleteAllAlerts(unknown); }},
      {"change unknown action", [&] { return store_.ChangeAction(unknown, {.name = "x"}); }},
      {"delete unknown action", [&] { return store_.DeleteAction(unknown); }},
      {"test unknown action", [&] { return store_.TestAction(unknown); }},
  };
  for (const auto& call : calls) {
    EXPECT_EQ(call.run(), SQLITE_NOTFOUND) << call.call;
    EXPECT_EQ(Stored(store_, id), before) << call.call;
  }
  EXPECT_EQ(Reloaded(store_, id), before);
  EXPECT_FALSE(store_.GetMonitorSnapshot(unknown).has_value());
  EXPECT_FALSE(store_.GetActionSnapshot(unknown).has_value());
}

TEST_F(SnapshotTest, AStoppedAndAPollingMonitor) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  odbc->SetConnectError(-1, "no route\nsecond line");
  odbc->SetValue("SELECT 7", "7");
  const std::string first = NewMonitor(odbc);
  const std::string second = NewMonitor(odbc);
  store_.ApplyMonitorSettings(first, {.name = "First", .address = "dsn1", .pollingInterval = 1});
  store_.ApplyMonitorSettings(second, {.name = "Second"});
  const std::string queryId = store_.AddTestQuery(first, {"Seven", "SELECT 7"});
  const std::string actionId = store_.AddAction(
      {.name = "Nothing", .type = Action::kUserInterface, .pollsCount = 3, .uiType = 3});
  const std::string availability = Snapshot(first).attributes[0].id;
  store_.AddAlert(first, {actionId, availability, 0, 1, Alert::kError});

  // Running, stop pending, next poll, status.
  const auto state = [](const MonitorSnapshot& m) {
    return Join(m.running, m.stopPending, m.nextPollTime, m.statusText);
  };
  const MonitorSnapshot stopped = Snapshot(first);
  EXPECT_EQ(state(stopped), Join(0, 0, 0, "Monitor stopped"));
  EXPECT_TRUE(stopped.notPolledYet);
  EXPECT_EQ(stopped.statusColor, StatusColor::InactiveCaption());
  EXPECT_EQ(stopped.typeName, "ODBC Data Source");

  store_.StartServer(first);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  // The polling thread names its next poll once this one is stored.
  ASSERT_TRUE(WaitFor([&] { return Snapshot(first).nextPollTime == kStart + 60; }));
  MonitorSnapshot polled = Snapshot(first);
  EXPECT_EQ(state(polled), Join(1, 0, kStart + 60, "no route"));  // code -1 is not shown
  EXPECT_FALSE(polled.notPolledYet);
  EXPECT_EQ(polled.statusColor, StatusColor::Rgb(255, 0, 0));
  EXPECT_FALSE(polled.current.available);
  EXPECT_EQ(polled.current.time, kStart);
  EXPECT_EQ(polled.history.size(), 1u);
  EXPECT_EQ(polled.attributes[0].value, 0);  // availability
  ASSERT_EQ(polled.alerts.size(), 1u);
  EXPECT_EQ(polled.alerts[0].counter, 1);  // one of the action's three polls
  ASSERT_EQ(polled.testQueries.size(), 1u);
  EXPECT_EQ(polled.testQueries[0].history.size(), 1u);

  std::string summaries;  // id, name, running, stop pending, not polled yet, available once polled
  for (const MonitorSummary& m : store_.GetMonitorSummaries()) {
    summaries += Join(m.id, m.name, m.running, m.stopPending, m.notPolledYet,
                      m.notPolledYet ? "-" : std::to_string(m.available));
  }
  EXPECT_EQ(summaries, Join(first, "First", 1, 0, 0, 0) + Join(second, "Second", 0, 0, 1, "-"));

  // New settings reach the next poll without a restart.
  odbc->ClearConnectError();
  ASSERT_EQ(store_.ApplyMonitorSettings(first,
                                        {.name = "First", .address = "dsn2", .pollingInterval = 1}),
            0);
  clock_->Advance(60s);
  ASSERT_TRUE(odbc->WaitForConnects(2));
  ASSERT_TRUE(ui_.WaitForUpdates(2));
  EXPECT_EQ(odbc->LastConnectionText(), platform::BuildDsnConnectionString("dsn2", "", ""));
  polled = Snapshot(first);
  EXPECT_TRUE(polled.current.available);
  EXPECT_EQ(polled.statusText, "ODBC Data Source is available");
  EXPECT_EQ(polled.testQueries[0].value, 7);
  EXPECT_EQ(polled.alerts[0].counter, 0);
  FlushLogRows(std::chrono::steady_clock::now() + 20s);
  EXPECT_EQ(LoadLog(first, 0).size(), 1u);  // "Monitor started." once

  // A stop stays pending while a connect that cannot be cancelled hangs.
  Server::SetStopTimeout(120s);
  odbc->BlockConnects(true);
  clock_->Advance(60s);
  ASSERT_TRUE(odbc->WaitForBlocked());
  store_.StopServer(first);
  const MonitorSnapshot stopping = Snapshot(first);
  EXPECT_EQ(Join(stopping.running, stopping.stopPending, stopping.nextPollTime), Join(1, 1, 0));
  EXPECT_TRUE(store_.GetMonitorSummaries()[0].stopPending);
  odbc->Release();
  ASSERT_TRUE(store_.WaitForStops(std::chrono::steady_clock::now() + 20s));
  EXPECT_EQ(state(Snapshot(first)), Join(0, 0, 0, "Monitor stopped"));
}

// Views take snapshots and read the data file on a worker while the user interface edits
// and monitors poll back to back.
TEST_F(SnapshotTest, ViewsReadAndEditWhileMonitorsPoll) {
  auto odbc = UseClock(FakeClock::Mode::kAutoAdvance);
  odbc->SetValue("SELECT 1", "1");
  const std::string a = NewMonitor(odbc);
  const std::string b = NewMonitor(odbc);
  const std::string actionId = store_.AddAction(
      {.name = "Nothing", .type = Action::kUserInterface, .pollsCount = 1, .uiType = 3});
  store_.AddTestQuery(a, {"one", "SELECT 1"});
  store_.StartServer(a);
  store_.StartServer(b);
  ASSERT_TRUE(odbc->WaitForConnects(2));

  std::atomic<bool> done{false};
  std::atomic<int> passes{0};
  std::thread view([&] {
    while (!done.load()) {
      for (const MonitorSummary& summary : store_.GetMonitorSummaries()) {
        const std::optional<MonitorSnapshot> snapshot = store_.GetMonitorSnapshot(summary.id);
        if (!snapshot) continue;
        std::vector<std::string> ids;
        for (const TestQuerySnapshot& q : snapshot->testQueries) ids.push_back(q.id);
        for (const AlertSnapshot& alert : snapshot->alerts) {
          if (!alert.settings.healthAttributeId.empty()) {
            EXPECT_NE(snapshot->FindAttribute(alert.settings.healthAttributeId), nullptr);
          }
        }
        const auto samples = LoadSamples(summary.id, 0, INT64_MAX);
        for (std::size_t i = 1; i < samples.size(); ++i) {
          EXPECT_LE(samples[i - 1].time, samples[i].time);
        }
        EXPECT_LE(LoadLog(summary.id, 5).size(), 5u);
        LoadTestQuerySamples(summary.id, ids, 0, INT64_MAX);
        LoadAlertsData(summary.id, 10);
      }
      store_.GetActionSnapshots();
      passes.fetch_add(1);
    }
  });

  // Each address and interval comes twice; every third round deletes its new test query,
  // every fourth an alert.
  constexpr int kRounds = 6;
  MonitorSettings last;
  for (int round = 0; round < kRounds; ++round) {
    last = {.name = "Orders " + std::to_string(round),
            .address = "dsn" + std::to_string(round % 3),
            .pollingInterval = round % 3};
    ASSERT_EQ(store_.ApplyMonitorSettings(a, last), 0);
    const std::string queryId =
        store_.AddTestQuery(a, {"q" + std::to_string(round), "SELECT " + std::to_string(round)});
    ASSERT_FALSE(queryId.empty());
    EXPECT_EQ(store_.EnableTestQuery(a, queryId, round % 2 == 0), 0);
    const std::string attribute = Snapshot(a).attributes.back().id;
    const std::string alertId = store_.AddAlert(a, {actionId, attribute, round, 1, 0});
    EXPECT_EQ(store_.ChangeAlert(a, alertId, {actionId, attribute, -round, 0, 0}), 0);
    EXPECT_EQ(store_.ChangeAction(actionId, {.name = "Nothing " + std::to_string(round),
                                             .type = Action::kUserInterface,
                                             .pollsCount = 1 + round % 2,
                                             .uiType = 3}),
              0);
    // A deletion waits only briefly for the file's lock, which the saves' worker holds
    // while it writes these edits.
    EXPECT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + 20s));
    if (round % 3 == 2) {
      EXPECT_EQ(store_.DeleteTestQuery(a, queryId), 0);
    }
    if (round % 4 == 3) {
      EXPECT_EQ(store_.DeleteAlert(a, Snapshot(a).alerts.front().id), 0);
    }
    ASSERT_TRUE(odbc->WaitForConnects(odbc->Connects() + 2));
  }
  ASSERT_TRUE(WaitFor([&] { return passes.load() >= 3; }));
  done = true;
  view.join();
  store_.StopAll();
  ASSERT_TRUE(store_.WaitForStops(std::chrono::steady_clock::now() + 20s));
  EXPECT_TRUE(Action::WaitForRunningActions(10s));

  const MonitorSnapshot result = Snapshot(a);
  EXPECT_EQ(result.settings, last);
  EXPECT_FALSE(result.running);
  EXPECT_EQ(result.testQueries.size(), 1u + kRounds - kRounds / 3);
  EXPECT_EQ(Reloaded(store_, a), Stored(store_, a));
}

}  // namespace
}  // namespace engine
