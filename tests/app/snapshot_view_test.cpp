// What the snapshot view shows of a monitor copy: the two rows' texts and the chart's two
// series from the monitor's recent history.
#include <gtest/gtest.h>

#include "app/views/snapshot_view.h"

namespace app {
namespace {

TEST(SnapshotViewTest, RowsShowTheCurrentTimesOrADash) {
  const struct {
    std::int64_t connection;
    std::int64_t request;
    std::array<std::string, 2> texts;
  } cases[] = {{12, 340, {"12 ms", "340 ms"}},
               {-1, -1, {"-", "-"}},
               {0, -1, {"0 ms", "-"}},
               {5000000000, 7, {"5000000000 ms", "7 ms"}}};
  for (const auto& c : cases) {
    engine::MonitorSnapshot monitor;
    monitor.current.connectionTime = c.connection;
    monitor.current.requestTime = c.request;
    EXPECT_EQ(SnapshotRowTexts(monitor), c.texts) << c.connection << " " << c.request;
  }
}

TEST(SnapshotViewTest, SeriesFollowTheNewestTenPollsOldestFirstWithGaps) {
  const struct {
    std::size_t entries;
    std::size_t first;  // the first entry charted
  } cases[] = {{0, 0}, {1, 0}, {4, 0}, {10, 0}, {12, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    engine::MonitorSnapshot monitor;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(c.entries); ++i) {
      const bool failed = i % 3 == 1;  // no times
      monitor.history.push_back({failed ? -1 : 10 + i, failed ? -1 : 100 + i, 1000 + 60 * i});
    }
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

}  // namespace
}  // namespace app
