// The polling thread: cadence on a fake clock, Start and Stop, stops that return at once
// while a poll hangs in the driver or on a locked data file, monitors dropped while they
// run, and the user interface editing a monitor while it polls (run under ThreadSanitizer
// too).
#include <gtest/gtest.h>

#include <climits>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/status.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::FakeOdbc;

std::size_t LogCount(const std::string& monitorId, const std::string& text) {
  return testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + monitorId +
                           "' AND text = '" + text + "'")
      .size();
}

std::chrono::steady_clock::time_point In(std::chrono::milliseconds wait) {
  return std::chrono::steady_clock::now() + wait;
}

// Waits until done() holds, looking every millisecond; false after the time-out.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
  const auto deadline = In(timeout);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool Running(const Server& monitor) {
  std::lock_guard lock(monitor.Mutex());
  return monitor.running;
}

class ThreadTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetUi(&ui_);
    Server::SetStopTimeout(300ms);
  }
  void TearDown() override {
    MonitorTest::TearDown();  // waits for the stops, on this test's clock
    Server::SetStopTimeout(120s);
    Clock::Set(nullptr);
    // A poll abandoned by a test may still read this clock after the test: keep it.
    static auto* retired = new std::vector<std::unique_ptr<FakeClock>>;
    retired->push_back(std::move(clock_));
  }

  // Installs a fresh clock; a fake ODBC layer that spends its time on it.
  std::shared_ptr<FakeOdbc> UseClock(FakeClock::Mode mode, double scale = 1.0) {
    clock_ = std::make_unique<FakeClock>(1'700'000'000, mode, scale);
    Clock::Set(clock_.get());
    return std::make_shared<FakeOdbc>(clock_.get());
  }

  static void Configure(ODBCDataSource& monitor, std::shared_ptr<FakeOdbc> odbc,
                        std::int32_t interval) {
    monitor.SetOdbc(std::move(odbc));
    std::lock_guard lock(monitor.Mutex());
    monitor.pollingInterval = interval;
    monitor.AddTestQuery().query = "q";
  }
  std::shared_ptr<ODBCDataSource> NewMonitor(std::shared_ptr<FakeOdbc> odbc,
                                             std::int32_t interval = 1) {
    auto monitor = std::make_shared<ODBCDataSource>();
    Configure(*monitor, std::move(odbc), interval);
    return monitor;
  }

  static void StopAndWait(Server& monitor) {
    monitor.Stop();
    ASSERT_TRUE(monitor.WaitForStop(In(20s)));
  }

  std::unique_ptr<FakeClock> clock_;
  testing::FakeUi ui_;
};

TEST_F(ThreadTest, PollsStartOneIntervalApartFromTheStartOfThePreviousPoll) {
  struct Case {
    std::int32_t interval;
    std::chrono::milliseconds pollTime;
    std::int64_t expectedGap;
  };
  const Case cases[] = {
      {1, 20s, 60'000},              // waits the rest of the minute
      {1, 70s, 70'000},              // an overrunning poll is followed at once
      {0, 0s, 60'000},               // never less than a minute
      {-5, 0s, 60'000},              //
      {100'000, 0s, 6'000'000'000},  // beyond 32 bits of milliseconds
  };
  for (const Case& c : cases) {
    auto odbc = UseClock(FakeClock::Mode::kAutoAdvance);
    odbc->SetConnectDuration(c.pollTime);
    auto monitor = NewMonitor(odbc, c.interval);
    ASSERT_EQ(monitor->Start(), 0u);
    ASSERT_TRUE(odbc->WaitForConnects(4));
    StopAndWait(*monitor);
    const std::vector<std::int64_t> times = odbc->ConnectTimes();
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_EQ(times[i] - times[i - 1], c.expectedGap) << "interval " << c.interval;
    }
    std::lock_guard lock(monitor->Mutex());
    EXPECT_EQ(monitor->pollingInterval, c.interval);  // the stored value stays
  }
}

// On the system clock: an interval far beyond any real one (a damaged file) must wait,
// not overflow into a deadline in the past and poll without pause; the stop wakes the
// wait, so the thread ends within the stop's bound instead of being abandoned.
TEST_F(ThreadTest, AHugeIntervalOnTheSystemClockWaitsInsteadOfPollingWithoutPause) {
  Server::SetStopTimeout(20s);
  auto odbc = std::make_shared<FakeOdbc>();
  auto monitor = NewMonitor(odbc, INT32_MAX);
  ASSERT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  StopAndWait(*monitor);
  EXPECT_EQ(odbc->Connects(), 1);
}

TEST_F(ThreadTest, StartAndStopAreIdempotentAndWriteOneLineEach) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  auto monitor = NewMonitor(odbc);
  EXPECT_FALSE(monitor->Stop());  // not running: nothing at all
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 0u);

  EXPECT_EQ(monitor->Start(), 0u);
  EXPECT_EQ(monitor->Start(), 1u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  EXPECT_EQ(odbc->Connects(), 1);  // one thread, polling at once
  EXPECT_EQ(LogCount(monitor->id, "Monitor started."), 1u);
  EXPECT_TRUE(Running(*monitor));
  EXPECT_TRUE(monitor->Stop());
  EXPECT_FALSE(monitor->Stop());
  ASSERT_TRUE(monitor->WaitForStop(In(20s)));
  EXPECT_FALSE(monitor->IsStopPending());
  EXPECT_FALSE(Running(*monitor));
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 1u);
  EXPECT_EQ(ui_.EventsOf("stopped "), std::vector<std::string>{monitor->id});

  // A new start is a new session that polls at once again.
  EXPECT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(2));
  StopAndWait(*monitor);
  EXPECT_EQ(odbc->Connects(), 2);
  EXPECT_EQ(LogCount(monitor->id, "Monitor started."), 2u);
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 2u);
  EXPECT_EQ(ui_.EventsOf("stopped ").size(), 2u);
}

TEST_F(ThreadTest, StoppingOneMonitorLeavesAnotherPolling) {
  auto odbcA = UseClock(FakeClock::Mode::kScaled, 6000);  // a minute in 10 ms
  auto odbcB = std::make_shared<FakeOdbc>(clock_.get());
  auto a = NewMonitor(odbcA);
  auto b = NewMonitor(odbcB);
  a->Start();
  b->Start();
  ASSERT_TRUE(odbcA->WaitForConnects(2));
  ASSERT_TRUE(odbcB->WaitForConnects(2));
  StopAndWait(*a);
  const int aPolls = odbcA->Connects();
  const int bPolls = odbcB->Connects();
  EXPECT_TRUE(odbcB->WaitForConnects(bPolls + 3));
  EXPECT_EQ(odbcA->Connects(), aPolls);
  StopAndWait(*b);
}

// The user stops a monitor whose poll hangs in the driver: the stop returns at once; a
// statement is cancelled at once, a connect (which cannot be) is left to end or, past the
// bound, abandoned. Until the stop completes, a start is refused. The poll commits
// nothing.
TEST_F(ThreadTest, AStopReturnsWhileThePollHangsInTheDriver) {
  struct Case {
    const char* name;
    bool inConnect;  // else in a query
    std::chrono::milliseconds bound;
    bool endsWithinTheBound;  // the connect is let go before the bound
  };
  const Case cases[] = {
      {"query: the cancel ends it", false, 20s, true},
      {"connect let go within the bound", true, 20s, true},
      {"connect outlasting the bound", true, 300ms, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Server::SetStopTimeout(c.bound);
    auto odbc = UseClock(FakeClock::Mode::kManual);
    ServerStorage store;
    auto monitor = store.AddNewODBCDataSource();
    Configure(*monitor, odbc, 1);
    const std::size_t stoppedBefore = ui_.EventsOf("stopped ").size();
    const std::size_t updatesBefore = ui_.UpdateCount();
    const std::string where = " WHERE monitorId = '" + monitor->id + "'";
    if (c.inConnect) {
      odbc->BlockConnects(true);
    } else {
      odbc->BlockQueries(true);
    }
    store.StartServer(monitor->id);
    ASSERT_TRUE(odbc->WaitForBlocked());

    store.StopServer(monitor->id);
    if (c.inConnect) {
      // Still inside the fake, and the stop waits for it.
      EXPECT_TRUE(odbc->WaitForBlocked(0ms));
      EXPECT_TRUE(store.IsStopPending(monitor->id));
      EXPECT_EQ(monitor->Start(), 1u);
      store.StartServer(monitor->id);  // refused as well
      if (c.endsWithinTheBound) {
        EXPECT_EQ(ui_.EventsOf("stopped ").size(), stoppedBefore);
        odbc->Release();
      }
    }
    ASSERT_TRUE(ui_.WaitForEvents("stopped ", stoppedBefore + 1));
    EXPECT_FALSE(store.IsStopPending(monitor->id));
    EXPECT_FALSE(Running(*monitor));
    if (!c.endsWithinTheBound) {
      EXPECT_TRUE(odbc->WaitForBlocked(0ms));  // abandoned while still inside
      odbc->Release();
    }
    // The connection the driver handed over after the stop is cancelled as well.
    EXPECT_TRUE(WaitUntil([&] { return odbc->Cancels() == 1; }));
    ASSERT_TRUE(odbc->WaitForUnblocked());
    ASSERT_TRUE(Server::WaitForHelpers(In(20s)));

    EXPECT_EQ(odbc->Connects(), 1);
    EXPECT_EQ(ui_.UpdateCount(), updatesBefore);
    EXPECT_EQ(ui_.EventsOf("stopped ").back(), monitor->id);
    EXPECT_EQ(ui_.EventsOf("stopped ").size(), stoppedBefore + 1);
    EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 1u);
    EXPECT_TRUE(testing::DataRows("SELECT * FROM ODBCDataSourcesData" + where).empty());
    EXPECT_TRUE(testing::DataRows("SELECT * FROM TestQueriesData" + where).empty());
    {
      std::lock_guard lock(monitor->Mutex());
      EXPECT_TRUE(monitor->notPolledYet);
      EXPECT_TRUE(monitor->history.empty());
    }
    // Once the stop has completed the monitor starts again.
    odbc->BlockConnects(false);
    odbc->BlockQueries(false);
    EXPECT_EQ(monitor->Start(), 0u);
    ASSERT_TRUE(ui_.WaitForUpdates(updatesBefore + 1));
    StopAndWait(*monitor);
  }
}

// A poll that has its samples from the driver stores them even when the data file is
// locked by another connection; a stop then returns at once and completes when the lock
// goes. Start too returns at once: its log row waits for the file on the log writer.
TEST_F(ThreadTest, AStopWhileTheDataFileIsLockedCompletesWhenTheLockGoes) {
  Server::SetStopTimeout(60s);
  auto odbc = UseClock(FakeClock::Mode::kManual);
  auto monitor = NewMonitor(odbc);
  testing::DataFileLock lock;
  ASSERT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));  // evaluated: storing, held by the lock

  EXPECT_TRUE(monitor->Stop());
  EXPECT_TRUE(monitor->IsStopPending());
  EXPECT_EQ(monitor->Start(), 1u);
  EXPECT_TRUE(ui_.EventsOf("stopped ").empty());
  lock.Release();
  ASSERT_TRUE(ui_.WaitForEvents("stopped ", 1));
  EXPECT_FALSE(Running(*monitor));
  EXPECT_EQ(odbc->Cancels(), 0);
  EXPECT_EQ(testing::DataRows("SELECT available FROM ODBCDataSourcesData"), (testing::Rows{{"1"}}));
  EXPECT_EQ(testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + monitor->id +
                              "' ORDER BY rowid"),
            (testing::Rows{{"Monitor started."}, {"Monitor stopped."}}));
}

// A test query or a whole monitor deleted while a poll stores its rows on a locked data
// file: the call returns at once, and once the file is free no row of what was deleted
// is left, while the rest of the poll's rows are.
TEST_F(ThreadTest, ADeletionWhileAPollStoresLeavesNoRowOfWhatWasDeleted) {
  Server::SetStopTimeout(60s);
  for (const bool wholeMonitor : {false, true}) {
    SCOPED_TRACE(wholeMonitor ? "monitor" : "test query");
    auto odbc = UseClock(FakeClock::Mode::kManual);
    ServerStorage store;
    auto monitor = store.AddNewODBCDataSource();
    Configure(*monitor, odbc, 1);
    std::string gone;
    std::string kept;
    {
      std::lock_guard lock(monitor->Mutex());
      gone = monitor->testQueries[0].id;
      kept = monitor->AddTestQuery().id;
    }
    const std::size_t updatesBefore = ui_.UpdateCount();
    testing::DataFileLock lock;
    ASSERT_EQ(monitor->Start(), 0u);
    ASSERT_TRUE(ui_.WaitForUpdates(updatesBefore + 1));  // storing, held by the lock
    if (wholeMonitor) {
      store.DeleteServer(monitor->id);
    } else {
      testing::DeleteFirstTestQuery(*monitor);
    }
    lock.Release();
    if (!wholeMonitor) StopAndWait(*monitor);
    ASSERT_TRUE(store.WaitForSaves(In(60s)));  // the deletion's rows start its helper
    ASSERT_TRUE(Server::WaitForHelpers(In(60s)));

    const std::string rows =
        "SELECT id FROM TestQueriesData WHERE monitorId = '" + monitor->id + "'";
    EXPECT_EQ(testing::DataRows(rows), wholeMonitor ? testing::Rows{} : (testing::Rows{{kept}}));
    EXPECT_EQ(testing::DataRows("SELECT * FROM ODBCDataSourcesData WHERE monitorId = '" +
                                monitor->id + "'")
                  .size(),
              wholeMonitor ? 0u : 1u);
  }
}

// A monitor whose owner lets it go without stopping it: a poll under way keeps it until
// the poll ends; then, or at once between polls, it is destroyed, its thread ends and
// "Monitor stopped." is written. Only a monitor owned by a shared_ptr can start.
TEST_F(ThreadTest, AMonitorLetGoWhileItRunsEndsItsThread) {
  for (const bool hangInConnect : {true, false}) {
    SCOPED_TRACE(hangInConnect ? "poll hanging" : "between polls");
    auto odbc = UseClock(FakeClock::Mode::kManual);
    odbc->BlockConnects(hangInConnect);
    auto monitor = NewMonitor(odbc);
    const std::string id = monitor->id;
    const std::size_t updatesBefore = ui_.UpdateCount();
    ASSERT_EQ(monitor->Start(), 0u);
    if (hangInConnect) {
      ASSERT_TRUE(odbc->WaitForBlocked());
    } else {
      ASSERT_TRUE(ui_.WaitForUpdates(updatesBefore + 1));
    }
    std::weak_ptr<Server> weak = monitor;
    monitor.reset();
    if (hangInConnect) {
      EXPECT_FALSE(weak.expired());
      odbc->Release();
    }
    ASSERT_TRUE(WaitUntil([&] { return weak.expired(); }));
    // Written by the destructor, which may run on the polling thread a moment later.
    EXPECT_TRUE(WaitUntil([&] { return LogCount(id, "Monitor stopped.") == 1; }));
    EXPECT_EQ(odbc->Connects(), 1);
  }

  ODBCDataSource notShared;
  EXPECT_EQ(notShared.Start(), platform::kInvalidParameter);
  EXPECT_FALSE(notShared.Stop());
  EXPECT_FALSE(Running(notShared));
}

TEST_F(ThreadTest, ANewStartWhileTheOldPollHangsGivesNoInterleavedCommits) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  odbc->BlockConnects(true);
  auto monitor = NewMonitor(odbc);
  monitor->Start();
  ASSERT_TRUE(odbc->WaitForBlocked());
  StopAndWait(*monitor);       // abandoned after the bound
  odbc->BlockConnects(false);  // the abandoned connect stays blocked
  ASSERT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  odbc->Release();
  ASSERT_TRUE(odbc->WaitForUnblocked());
  EXPECT_TRUE(WaitUntil([&] { return odbc->Cancels() == 1; }));  // the old poll's
  StopAndWait(*monitor);
  EXPECT_EQ(ui_.UpdateCount(), 1u);
  EXPECT_EQ(testing::DataRows("SELECT * FROM ODBCDataSourcesData").size(), 1u);
  std::lock_guard lock(monitor->Mutex());
  EXPECT_EQ(monitor->history.size(), 1u);
}

// The user interface adds, edits and deletes test queries and alerts while the monitor
// polls without pause and action workers report back into its alerts and sample.
TEST_F(ThreadTest, EditingWhilePolling) {
  auto odbc = UseClock(FakeClock::Mode::kAutoAdvance);
  ServerStorage store;
  Services::SetStorage(&store);
  auto action = std::make_shared<Action>(Action::kUserInterface);
  action->uiType = 3;  // does nothing, succeeds at once
  store.AddAction(action);
  auto monitor = store.AddNewODBCDataSource();
  monitor->SetOdbc(odbc);
  std::string availability;
  {
    std::lock_guard lock(monitor->Mutex());
    availability = monitor->FindHealthAttributeByName("Monitor Availability")->id;
    monitor->AddAlert(action->id, availability, 0, 0, Alert::kError);
  }
  monitor->Start();
  ASSERT_TRUE(odbc->WaitForConnects(2));

  for (int round = 0; round < 24; ++round) {
    if (round % 2 == 0) {
      odbc->SetConnectError(-1, "down");  // the availability alert fires
    } else {
      odbc->ClearConnectError();
    }
    std::string alertId;
    {
      std::lock_guard lock(monitor->Mutex());
      TestQuery& query = monitor->AddTestQuery();
      query.name = "q" + std::to_string(round);
      query.query = "select " + std::to_string(round);
      monitor->name = "Orders " + std::to_string(round);
      monitor->pollingInterval = round % 3;
      alertId = monitor->AddAlert(action->id, availability, 0, 0, Alert::kError).id;
      if (!monitor->testQueries.empty()) monitor->testQueries.front().enable = round % 2 == 0;
      (void)monitor->GetStatusText();
    }
    if (round % 4 == 3) testing::DeleteFirstTestQuery(*monitor);
    if (round % 5 == 4) monitor->TakeAlerts({alertId});
    ASSERT_TRUE(odbc->WaitForConnects(odbc->Connects() + 1));
  }
  store.StopAll();
  EXPECT_TRUE(store.WaitForStops(In(20s)));
  EXPECT_TRUE(Action::WaitForRunningActions(10s));
  std::lock_guard lock(monitor->Mutex());
  EXPECT_FALSE(monitor->notPolledYet);
  EXPECT_GT(monitor->current.lastAlertTime, 0);
}

}  // namespace
}  // namespace engine
