// The monitor tree's model without a display: the rows built from the store's summaries and
// the view each node kind shows.
#include <gtest/gtest.h>

#include "app/monitor_tree.h"

namespace app {
namespace {

TEST(MonitorTreeRowsTest, RootsThenEachMonitorsSubtreeInStoreOrder) {
  const std::vector<TreeRow> actions = {{-1, "Actions", kTreeActions, ""},
                                        {-2, "E-Mail", kTreeEmail, ""},
                                        {-2, "SMS", kTreeSms, ""},
                                        {-2, "Execute SQL", kTreeExecuteSql, ""},
                                        {-2, "Execute Program", kTreeExecuteProgram, ""},
                                        {-2, "User Interface", kTreeUserInterface, ""}};
  // -2 stands for the "Actions" row, wherever it lands.
  auto withActions = [&](std::vector<TreeRow> rows) {
    const int at = static_cast<int>(rows.size());
    for (TreeRow row : actions)
      rows.push_back({row.parent == -2 ? at : -1, row.text, row.image, ""});
    return rows;
  };
  EXPECT_EQ(BuildTreeRows({}), withActions({{-1, "Monitors", kTreeMonitors, ""}}));
  EXPECT_EQ(BuildTreeRows({{.id = "b", .name = "Billing", .type = 2},
                           {.id = "a", .name = "Archive", .type = 1}}),
            withActions({
                {-1, "Monitors", kTreeMonitors, ""},
                {0, "Billing", kTreeMonitor, "b"},
                {1, "Connection Time", kTreeConnectionTime, "b"},
                {1, "Test queries", kTreeTestQueries, "b"},
                {1, "History", kTreeHistory, "b"},
                {4, "Availability history", kTreeAvailabilityHistory, "b"},
                {4, "Health history", kTreeHealthHistory, "b"},
                {4, "Connection Time history", kTreeConnectionTimeHistory, "b"},
                {4, "Test Queries history", kTreeTestQueriesHistory, "b"},
                {1, "Alerts", kTreeAlerts, "b"},
                {1, "Log", kTreeLog, "b"},
                // Another type: the root's image and no history reports.
                {0, "Archive", kTreeMonitors, "a"},
                {11, "Connection Time", kTreeConnectionTime, "a"},
                {11, "Test queries", kTreeTestQueries, "a"},
                {11, "History", kTreeHistory, "a"},
                {11, "Alerts", kTreeAlerts, "a"},
                {11, "Log", kTreeLog, "a"},
            }));
}

TEST(MonitorTreeRowsTest, EachImageShowsItsView) {
  const struct {
    int image, viewForType2, viewForOtherTypes;
  } cases[] = {
      {0, 0, 0},    {1, 9, 9},    {2, 0, 0},    {3, 8, 0},    {4, 19, 19},
      {5, 20, 20},  {6, 21, 21},  {7, 22, 22},  {8, 23, 23},  {9, 24, 24},
      {10, 27, 27}, {11, 26, 26}, {12, 33, 33}, {13, 28, 28}, {14, 29, 29},
      {15, 30, 30}, {16, 31, 31}, {17, 32, 32}, {18, 0, 0},   {-1, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ViewCodeForImage(c.image, 2), c.viewForType2) << c.image;
    EXPECT_EQ(ViewCodeForImage(c.image, 1), c.viewForOtherTypes) << c.image;
  }
}

}  // namespace
}  // namespace app
