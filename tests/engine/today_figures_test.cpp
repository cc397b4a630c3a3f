// Today's figures of a monitor, which the info pane shows: after each poll they count the
// poll's own sample, at local midnight they start again from the data file for running
// and stopped monitors alike, and they always equal a walk over the file's rows up to now,
// on days of 23 and 25 hours too.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/clock.h"
#include "engine/data/statements.h"
#include "engine/monitor/odbc_data_source.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::LocalTime;
using Figures = std::pair<std::int64_t, std::int64_t>;  // up, down in seconds

// Days of 23 and 25 hours, and the zones in which they are.
struct Day {
  const char* zone;
  int year, month, day;
  std::int64_t hours;
};
constexpr Day kDays[] = {
    {"America/New_York", 2024, 3, 10, 23},
    {"America/New_York", 2024, 11, 3, 25},
    {"Europe/Berlin", 2024, 3, 31, 23},
    {"Europe/Berlin", 2024, 10, 27, 25},
};

std::string Name(const Day& day) {
  return std::string(day.zone) + " " + std::to_string(day.year) + "-" + std::to_string(day.month) +
         "-" + std::to_string(day.day);
}

class TodayFiguresTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Clock::Set(&clock_);
  }
  void TearDown() override {
    Clock::Set(nullptr);
    MonitorTest::TearDown();
  }

  // A monitor whose database cannot be opened.
  std::shared_ptr<ODBCDataSource> DownMonitor() {
    auto monitor = std::make_shared<ODBCDataSource>();
    monitor->SetOdbc(odbc_);
    odbc_->SetConnectError(-1, "unable to open database file");
    return monitor;
  }

  void PollAt(ODBCDataSource& monitor, std::int64_t time) {
    clock_.SetNow(time);
    monitor.Poll();
  }

  // What the info pane would show now.
  static Figures Shown(const Server& monitor) {
    std::lock_guard lock(monitor.Mutex());
    return {monitor.todayUptime, monitor.todayDowntime};
  }

  // The engine renews the figures of these monitors, as the window asks it to at midnight.
  void Renew(std::vector<std::shared_ptr<Server>> monitors) {
    const std::size_t before = ui_.EventsOf("today").size();
    Server::RenewTodayFigures(std::move(monitors));
    ASSERT_TRUE(ui_.WaitForEvents("today", before + 1));
  }

  // Today's figures made here from the monitor's rows in the file: the rows after
  // `midnight` and not after `now` in time order, each ending a span that began at the row
  // before it; the first span begins at midnight, or at the monitor's first row when later.
  static Figures Walk(const Server& monitor, std::int64_t midnight, std::int64_t now) {
    std::vector<std::pair<std::int64_t, bool>> rows;
    for (const auto& row :
         testing::DataRows("SELECT time, available FROM ODBCDataSourcesData WHERE monitorId = '" +
                           monitor.id + "'")) {
      rows.emplace_back(std::stoll(row[0]), row[1] != "0");
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    Figures figures{0, 0};
    if (rows.empty()) return figures;
    std::int64_t previous = std::max(midnight, rows.front().first);
    for (const auto& [time, available] : rows) {
      if (time <= midnight || time > now) continue;
      if (time > previous) (available ? figures.first : figures.second) += time - previous;
      previous = time;
    }
    return figures;
  }

  FakeClock clock_{LocalTime(2024, 1, 1)};
  std::shared_ptr<testing::FakeOdbc> odbc_ = std::make_shared<testing::FakeOdbc>(&clock_);
};

// Polls at 1- and 10-minute intervals from 23:40:20 to 00:30:20, down throughout since
// the day before: after every poll the figures count that poll, and right after midnight
// they are the new day's (nothing yet), not yesterday's.
TEST_F(TodayFiguresTest, ARunningMonitorThatIsDownAcrossMidnight) {
  for (const Day& day : kDays) {
    testing_support::ScopedEnv zone("TZ", day.zone);
    tzset();
    const std::int64_t start = LocalTime(day.year, day.month, day.day);
    const std::int64_t end = LocalTime(day.year, day.month, day.day + 1);
    ASSERT_EQ(end - start, day.hours * 3600) << Name(day);
    EXPECT_EQ(LocalMidnight(end - 1), start) << Name(day);
    EXPECT_EQ(NextLocalMidnight(start + 5 * 3600), end) << Name(day);
    EXPECT_EQ(NextLocalMidnight(end - 1), end) << Name(day);

    for (int interval : {1, 10}) {
      const std::string name = Name(day) + ", every " + std::to_string(interval) + " min";
      auto monitor = DownMonitor();
      // Its first sample, down, was the day before.
      testing::ExecData(
          sql::InsertOdbcDataSourceData({.monitorId = monitor->id, .time = start - 3600}));
      bool renewed = false;
      std::int64_t polled = 0;
      for (std::int64_t t = end - 20 * 60 + 20; t <= end + 30 * 60 + 20; t += interval * 60) {
        if (t > end && !renewed) {
          clock_.SetNow(end + 10);
          EXPECT_EQ(Shown(*monitor), Figures(0, polled - start)) << name << ": yesterday's";
          Renew({monitor});
          renewed = true;
          EXPECT_EQ(Shown(*monitor), Walk(*monitor, end, end + 10)) << name;
          EXPECT_EQ(Shown(*monitor), Figures(0, 0)) << name;
        }
        PollAt(*monitor, t);
        polled = t;
        const std::int64_t midnight = t > end ? end : start;
        EXPECT_EQ(Shown(*monitor), Walk(*monitor, midnight, t)) << name << " at " << t - end;
        EXPECT_EQ(Shown(*monitor), Figures(0, t - midnight)) << name << " at " << t - end;
      }
    }
  }
}

// Made at 23:56, polled every minute and stopped before midnight: before midnight it shows
// the two minutes it was down; after midnight, nothing of yesterday.
TEST_F(TodayFiguresTest, AMonitorStoppedBeforeMidnightShowsNothingOfYesterdayAfterIt) {
  for (const Day& day : kDays) {
    testing_support::ScopedEnv zone("TZ", day.zone);
    tzset();
    const std::int64_t end = LocalTime(day.year, day.month, day.day + 1);
    auto stopped = DownMonitor();
    for (int minute = 4; minute >= 2; --minute) PollAt(*stopped, end - minute * 60);
    EXPECT_EQ(Shown(*stopped), Figures(0, 120)) << Name(day);
    EXPECT_EQ(Shown(*stopped), Walk(*stopped, LocalMidnight(end - 1), end - 120)) << Name(day);

    clock_.SetNow(end + 40);
    Renew({stopped});
    EXPECT_EQ(Shown(*stopped), Figures(0, 0)) << Name(day);
    EXPECT_EQ(Shown(*stopped), Walk(*stopped, end, end + 40)) << Name(day);
  }
}

}  // namespace
}  // namespace engine
