// The polling thread: cadence on a fake clock, Start and Stop, a hung poll abandoned by a
// bounded Stop, destruction of a running monitor, and the user interface editing a
// monitor while it polls (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
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

class ThreadTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Server::SetStopTimeout(300ms);
  }
  void TearDown() override {
    Server::SetStopTimeout(120s);
    Clock::Set(nullptr);
    // A poll abandoned by a test may still read this clock after the test: keep it.
    static auto* retired = new std::vector<std::unique_ptr<FakeClock>>;
    retired->push_back(std::move(clock_));
    MonitorTest::TearDown();
  }

  // Installs a fresh clock; a fake ODBC layer that spends its time on it.
  std::shared_ptr<FakeOdbc> UseClock(FakeClock::Mode mode, double scale = 1.0) {
    clock_ = std::make_unique<FakeClock>(1'700'000'000, mode, scale);
    Clock::Set(clock_.get());
    return std::make_shared<FakeOdbc>(clock_.get());
  }

  std::shared_ptr<ODBCDataSource> NewMonitor(std::shared_ptr<FakeOdbc> odbc,
                                             std::int32_t interval = 1) {
    auto monitor = std::make_shared<ODBCDataSource>();
    monitor->SetOdbc(std::move(odbc));
    std::lock_guard lock(monitor->Mutex());
    monitor->pollingInterval = interval;
    monitor->AddTestQuery().query = "q";
    return monitor;
  }

  std::unique_ptr<FakeClock> clock_;
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
    monitor->Stop();
    const std::vector<std::int64_t> times = odbc->ConnectTimes();
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_EQ(times[i] - times[i - 1], c.expectedGap) << "interval " << c.interval;
    }
    std::lock_guard lock(monitor->Mutex());
    EXPECT_EQ(monitor->pollingInterval, c.interval);  // the stored value stays
  }
}

// On the system clock: an interval far beyond any real one (a damaged file) must wait,
// not overflow into a deadline in the past and poll without pause.
TEST_F(ThreadTest, AHugeIntervalOnTheSystemClockWaitsInsteadOfPollingWithoutPause) {
  auto odbc = std::make_shared<FakeOdbc>();
  auto monitor = NewMonitor(odbc, INT32_MAX);
  ASSERT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  monitor->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);  // the wait wakes on Stop
  EXPECT_EQ(odbc->Connects(), 1);
}

TEST_F(ThreadTest, StartAndStopAreIdempotentAndWriteOneLineEach) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  auto monitor = NewMonitor(odbc);
  monitor->Stop();  // not running: nothing at all
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 0u);

  EXPECT_EQ(monitor->Start(), 0u);
  EXPECT_EQ(monitor->Start(), 1u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  EXPECT_EQ(odbc->Connects(), 1);  // one thread, polling at once
  EXPECT_EQ(LogCount(monitor->id, "Monitor started."), 1u);
  {
    std::lock_guard lock(monitor->Mutex());
    EXPECT_TRUE(monitor->running);
  }
  monitor->Stop();
  monitor->Stop();
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 1u);
  {
    std::lock_guard lock(monitor->Mutex());
    EXPECT_FALSE(monitor->running);
  }

  // A new start is a new session that polls at once again.
  EXPECT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(2));
  monitor->Stop();
  EXPECT_EQ(odbc->Connects(), 2);
  EXPECT_EQ(LogCount(monitor->id, "Monitor started."), 2u);
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 2u);
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
  a->Stop();
  const int aPolls = odbcA->Connects();
  const int bPolls = odbcB->Connects();
  EXPECT_TRUE(odbcB->WaitForConnects(bPolls + 3));
  EXPECT_EQ(odbcA->Connects(), aPolls);
  b->Stop();
}

TEST_F(ThreadTest, AHungQueryIsCancelledAndAbandonedAndCommitsNothing) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  odbc->BlockQueries(true);
  auto monitor = NewMonitor(odbc);
  monitor->Start();
  ASSERT_TRUE(odbc->WaitForBlocked());

  const auto start = std::chrono::steady_clock::now();
  monitor->Stop();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 5s);
  EXPECT_EQ(odbc->Cancels(), 1);  // the cancel ends the query...
  ASSERT_TRUE(odbc->WaitForUnblocked());
  std::this_thread::sleep_for(100ms);  // ...and the abandoned poll returns

  std::lock_guard lock(monitor->Mutex());
  EXPECT_FALSE(monitor->running);
  EXPECT_TRUE(monitor->notPolledYet);
  EXPECT_TRUE(monitor->history.empty());
  EXPECT_EQ(ui_.UpdateCount(), 0u);
  EXPECT_TRUE(testing::DataRows("SELECT * FROM ODBCDataSourcesData").empty());
  EXPECT_TRUE(testing::DataRows("SELECT * FROM TestQueriesData").empty());
  EXPECT_EQ(LogCount(monitor->id, "Monitor stopped."), 1u);
}

TEST_F(ThreadTest, AMonitorDeletedWhileItsAbandonedPollHangsIsNeverTouched) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  odbc->BlockConnects(true);  // a connect cannot be cancelled
  auto monitor = NewMonitor(odbc);
  monitor->Start();
  ASSERT_TRUE(odbc->WaitForBlocked());
  monitor.reset();  // the destructor stops within the bound and frees the monitor
  odbc->Release();
  ASSERT_TRUE(odbc->WaitForUnblocked());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ui_.UpdateCount(), 0u);
  EXPECT_TRUE(testing::DataRows("SELECT * FROM ODBCDataSourcesData").empty());
}

TEST_F(ThreadTest, ANewStartWhileTheOldPollHangsGivesNoInterleavedCommits) {
  auto odbc = UseClock(FakeClock::Mode::kManual);
  odbc->BlockConnects(true);
  auto monitor = NewMonitor(odbc);
  monitor->Start();
  ASSERT_TRUE(odbc->WaitForBlocked());
  monitor->Stop();
  odbc->BlockConnects(false);  // the abandoned connect stays blocked
  ASSERT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  odbc->Release();
  ASSERT_TRUE(odbc->WaitForUnblocked());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ui_.UpdateCount(), 1u);
  EXPECT_EQ(testing::DataRows("SELECT * FROM ODBCDataSourcesData").size(), 1u);
  {
    std::lock_guard lock(monitor->Mutex());
    EXPECT_EQ(monitor->history.size(), 1u);
  }
  monitor->Stop();
}

TEST_F(ThreadTest, DestroyingARunningMonitorStopsIt) {
  auto odbc = UseClock(FakeClock::Mode::kScaled);
  std::string id;
  {
    ODBCDataSource monitor;  // not even owned by a shared_ptr
    monitor.SetOdbc(odbc);
    id = monitor.id;
    monitor.Start();
    ASSERT_TRUE(ui_.WaitForUpdates(1));
  }
  EXPECT_EQ(LogCount(id, "Monitor stopped."), 1u);

  auto shared = NewMonitor(odbc);
  shared->Start();
  ASSERT_TRUE(ui_.WaitForUpdates(2));
  id = shared->id;
  shared.reset();
  EXPECT_EQ(LogCount(id, "Monitor stopped."), 1u);
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
    if (round % 4 == 3) monitor->DeleteTestQuery(0);
    if (round % 5 == 4) monitor->DeleteAlert(alertId);
    ASSERT_TRUE(odbc->WaitForConnects(odbc->Connects() + 1));
  }
  store.StopAll();
  EXPECT_TRUE(Action::WaitForRunningActions(10s));
  std::lock_guard lock(monitor->Mutex());
  EXPECT_FALSE(monitor->notPolledYet);
  EXPECT_GT(monitor->current.lastAlertTime, 0);
}

}  // namespace
}  // namespace engine
