// Today's figures of a monitor, which the info pane shows, on days of 23 and 25 hours:
// after each poll they count that poll, at local midnight the engine renews them from the
// file for running and stopped monitors alike, and they always equal a walk over the
// file's rows.
#include <gtest/gtest.h>

#include "engine/clock.h"
#include "engine/data/statements.h"
#include "engine/monitor/odbc_data_source.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::LocalTime;
using testing::WalkRows;
using Figures = std::pair<std::int64_t, std::int64_t>;  // up, down in seconds

class TodayFiguresTest : public testing::MonitorTest {
 protected:
  void TearDown() override {
    Clock::Set(nullptr);
    MonitorTest::TearDown();
  }
  // A monitor whose database cannot be opened.
  std::shared_ptr<ODBCDataSource> DownMonitor() {
    auto monitor = std::make_shared<ODBCDataSource>();
    monitor->SetOdbc(odbc_);
    return monitor;
  }
  void PollAt(Server& monitor, std::int64_t time) {
    clock_.SetNow(time);
    monitor.Poll();
  }
  static Figures Shown(const Server& monitor) {
    std::lock_guard lock(monitor.Mutex());
    return {monitor.todayUptime, monitor.todayDowntime};
  }

  FakeClock clock_;
  std::shared_ptr<testing::FakeOdbc> odbc_ = std::make_shared<testing::FakeOdbc>(&clock_);
};

// Per day: a monitor down since the day before, polled every 1 or 10 minutes from 23:40:20
// to 00:30:20, and one made at 23:56, polled each minute and stopped before 23:59. The
// figures are looked at after every poll and at 00:00:10, once the engine has renewed them.
TEST_F(TodayFiguresTest, AcrossMidnightOnDaysOf23And25Hours) {
  const struct {
    const char* zone;
    int month, day, hours;
  } days[] = {{"America/New_York", 3, 10, 23},
              {"America/New_York", 11, 3, 25},
              {"Europe/Berlin", 3, 31, 23},
              {"Europe/Berlin", 10, 27, 25}};
  Clock::Set(&clock_);
  odbc_->SetConnectError(-1, "unable to open database file");
  for (const auto& d : days) {
    testing_support::ScopedEnv zone("TZ", d.zone);
    tzset();
    const std::string day =
        std::string(d.zone) + " 2024-" + std::to_string(d.month) + "-" + std::to_string(d.day);
    const std::int64_t start = LocalTime(2024, d.month, d.day);
    const std::int64_t end = LocalTime(2024, d.month, d.day + 1);
    ASSERT_EQ(end - start, d.hours * 3600) << day;
    EXPECT_EQ(LocalMidnight(end - 1), start) << day;
    EXPECT_EQ(NextLocalMidnight(start + 5 * 3600), end) << day;

    auto stopped = DownMonitor();
    for (int minute = 4; minute >= 2; --minute) PollAt(*stopped, end - minute * 60);
    EXPECT_EQ(Shown(*stopped), Figures(0, 120)) << day;
    EXPECT_EQ(Shown(*stopped), WalkRows(stopped->id, start, end - 120)) << day;
    for (int interval : {1, 10}) {
      const std::string name = day + ", every " + std::to_string(interval) + " min";
      auto running = DownMonitor();
      // Its first sample, down, was the day before.
      testing::ExecData(
          sql::InsertOdbcDataSourceData({.monitorId = running->id, .time = start - 3600}));
      std::int64_t polled = 0;
      for (std::int64_t t = end - 1180; t <= end + 1820; t += interval * 60) {
        if (polled < end && t > end) {
          clock_.SetNow(end + 10);
          EXPECT_EQ(Shown(*running), Figures(0, polled - start)) << name << ": yesterday's";
          const std::size_t renewals = ui_.EventsOf("today").size();
          Server::RenewTodayFigures({running, stopped});
          ASSERT_TRUE(ui_.WaitForEvents("today", renewals + 1)) << name;
          EXPECT_EQ(Shown(*running), WalkRows(running->id, end, end + 10)) << name;
          EXPECT_EQ(Shown(*stopped), WalkRows(stopped->id, end, end + 10)) << name;
          EXPECT_EQ(Shown(*stopped), Figures(0, 0)) << name;
        }
        PollAt(*running, polled = t);
        const std::int64_t midnight = t > end ? end : start;
        EXPECT_EQ(Shown(*running), WalkRows(running->id, midnight, t)) << name << " at " << t;
        EXPECT_EQ(Shown(*running), Figures(0, t - midnight)) << name << " at " << t;
      }
    }
  }
}

}  // namespace
}  // namespace engine
