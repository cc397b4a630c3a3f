// What the snapshot view shows of a monitor copy: the two rows' texts and the chart's two
// series from the monitor's recent history.
#include <gtest/gtest.h>

#include <vector>

#include "app/views/snapshot_view.h"

namespace app {
namespace {

TEST(SnapshotViewTest, RowsShowTheCurrentTimesOrADash) {
  const struct {
    std::int64_t connection;
    std::int64_t request;
    std::array<std::string, 2> texts;
  } cases[] = {
      {12, 340, {"12 ms", "340 ms"}},
      {-1, -1, {"-", "-"}},
      {0, -1, {"0 ms", "-"}},
      {5000000000, 7, {"5000000000 ms", "7 ms"}},
  };
  for (const auto& c : cases) {
    engine::MonitorSnapshot monitor;
    monitor.current.connectionTime = c.connection;
    monitor.current.requestTime = c.request;
    EXPECT_EQ(SnapshotRowTexts(monitor), c.texts) << c.connection << " " << c.request;
  }
}

std::vector<engine::ServerHistoryEntry> History(std::size_t count) {
  std::vector<engine::ServerHistoryEntry> history;
  for (std::size_t i = 0; i < count; ++i) {
    const auto n = static_cast<std::int64_t>(i);
    // Every third poll failed: no times.
    const bool failed = i % 3 == 1;
    history.push_back({failed ? -1 : 10 + n, failed ? -1 : 100 + n, 1000 + 60 * n});
  }
  return history;
}

TEST(SnapshotViewTest, SeriesFollowTheNewestTenPollsOldestFirst) {
  const struct {
    std::size_t entries;
    std::size_t first;  // the first entry charted
  } cases[] = {{0, 0}, {1, 0}, {4, 0}, {10, 0}, {12, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    engine::MonitorSnapshot monitor;
    monitor.history = History(c.entries);
    const std::array<controls::GraphPoints, 2> series = SnapshotSeries(monitor);
    ASSERT_EQ(series[0].size(), c.entries - c.first);
    ASSERT_EQ(series[1].size(), series[0].size());
    for (std::size_t i = 0; i < series[0].size(); ++i) {
      const engine::ServerHistoryEntry& entry = monitor.history[c.first + i];
      EXPECT_EQ(series[0][i].time, entry.time);
      EXPECT_EQ(series[1][i].time, entry.time);
      EXPECT_EQ(series[0][i].value, static_cast<double>(entry.connectionTime));
      EXPECT_EQ(series[1][i].value, static_cast<double>(entry.requestTime));
    }
  }
}

TEST(SnapshotViewTest, AFailedPollIsAGapInBothSeries) {
  engine::MonitorSnapshot monitor;
  monitor.history = {{-1, -1, 100}, {0, 3, 160}, {25, -1, 220}};
  const std::array<controls::GraphPoints, 2> series = SnapshotSeries(monitor);
  ASSERT_EQ(series[0].size(), 3u);
  EXPECT_EQ(series[0][0].value, -1.0);
  EXPECT_EQ(series[1][0].value, -1.0);
  EXPECT_EQ(series[0][1].value, 0.0);
  EXPECT_EQ(series[1][2].value, -1.0);
  EXPECT_EQ(series[0][2].value, 25.0);
}

}  // namespace
}  // namespace app
