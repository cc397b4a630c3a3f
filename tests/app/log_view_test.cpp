// The log view's rules without a display: the type and time texts of a line, newest first,
// when a refresh reads the log again and when widths are stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/views/log_view.h"
#include "tests/engine/monitor_fixture.h"

namespace app {
namespace {

using engine::testing::LocalTime;

class LogViewTest : public engine::testing::MonitorTest {};

TEST_F(LogViewTest, LinesShowTypeAndTimeNewestFirst) {
  const std::vector<engine::LogRow> rows = {
      {LocalTime(2023, 11, 14, 9, 5), 0, "started"},
      {LocalTime(2023, 11, 14, 22, 13), 1, "down"},
      {LocalTime(2023, 11, 14, 22, 13), 2, "mail sent"},
      {LocalTime(2024, 1, 2, 0, 7), -1, "midnight"},
  };
  const std::vector<LogLine> expected = {
      {"INFO", "02 Jan 2024 12:07 AM", "midnight"},
      {"INFO", "14 Nov 2023 10:13 PM", "mail sent"},
      {"ALERT", "14 Nov 2023 10:13 PM", "down"},
      {"INFO", "14 Nov 2023 09:05 AM", "started"},
  };
  EXPECT_EQ(MakeLogLines(rows), expected);
  EXPECT_TRUE(MakeLogLines({}).empty());
}

TEST(LogViewRules, ReloadOnShowOrOnAPollOfTheMonitorShown) {
  engine::MonitorSnapshot monitor;
  monitor.id = "sales";
  monitor.current.time = 1000;
  monitor.lastAlertTime = 900;
  const LogState same{1000, 900};
  struct Case {
    const char* name;
    int hint;
    std::string shownId;
    LogState shownState;
    bool reload;
  } cases[] = {
      {"show, same state", kRefreshShow, "sales", same, true},
      {"show after another monitor", kRefreshShow, "stock", same, true},
      {"notify, nothing new", kRefreshNotify, "sales", same, false},
      {"notify, new poll", kRefreshNotify, "sales", {990, 900}, true},
      {"notify, alert action ended", kRefreshNotify, "sales", {1000, 0}, true},
      {"notify, another monitor shown", kRefreshNotify, "stock", same, true},
      {"notify, nothing shown", kRefreshNotify, "", {}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogNeedsReload(c.hint, c.shownId, c.shownState, monitor), c.reload) << c.name;
  }
}

TEST(LogViewRules, WidthsStoredOnlyWithAllThreeColumnsLaidOut) {
  EXPECT_EQ(LogWidthsToStore({}), std::nullopt);
  EXPECT_EQ(LogWidthsToStore({100, 120}), std::nullopt);
  EXPECT_EQ(LogWidthsToStore({0, 0, 0}), std::nullopt);
  EXPECT_EQ(LogWidthsToStore({90, 130, 400}), (std::array<int, 3>{90, 130, 400}));
}

TEST(LogViewRules, ARowShowsEachLineBreakAsOneBlank) {
  const struct {
    const char* message;
    const char* row;
  } cases[] = {
      {"Monitor started", "Monitor started"},
      {"ERROR On Sales\r\nValue: 12\r\n", "ERROR On Sales Value: 12 "},
      {"one\ntwo\rthree", "one two three"},
      {"\r\n\r\n", "  "},
      {"On Sales\r\r\nValue", "On Sales Value"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(OneLine(c.message), c.row) << c.message;
  EXPECT_EQ(MessageLines("On Sales\r\r\nValue: 12\r\nThreshold\rEnd\n"),
            "On Sales\nValue: 12\nThreshold\nEnd\n");
}

}  // namespace
}  // namespace app
