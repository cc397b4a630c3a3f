// The main window's rules without a window: view codes, when the monitor commands are
// enabled, what is selected after a delete, when the hourly check asks for the report and
// when the window looks whether the day has turned over.
#include "app/frame_rules.h"

#include <gtest/gtest.h>

#include <ctime>

#include "tests/support/temp_dir.h"

namespace app {
namespace {

TEST(FrameRulesTest, ViewCodes) {
  for (int code = -1; code <= 40; ++code) {
    const bool valid = code == 0 || code == 8 || code == 9 || (code >= 19 && code <= 33);
    EXPECT_EQ(IsViewCode(code), valid) << code;
  }
}

engine::MonitorSummary Monitor(const char* id, bool running, bool stopPending = false) {
  engine::MonitorSummary m;
  m.id = id;
  m.running = running;
  m.stopPending = stopPending;
  return m;
}

TEST(FrameRulesTest, MonitorCommandsFollowTheSelectionAndTheOthers) {
  const std::vector<engine::MonitorSummary> mixed = {Monitor("up", true), Monitor("off", false),
                                                     Monitor("stopping", true, true)};
  const std::vector<engine::MonitorSummary> allRunning = {Monitor("a", true), Monitor("b", true)};
  const std::vector<engine::MonitorSummary> allOff = {Monitor("a", false), Monitor("b", false)};
  const std::vector<engine::MonitorSummary> onlyStopping = {Monitor("s", true, true)};
  const struct {
    const std::vector<engine::MonitorSummary>* monitors;
    const char* selected;
    bool start, stop, del;
  } cases[] = {
      {&mixed, "up", false, true, true},
      {&mixed, "off", true, false, true},
      // A monitor on its way down can neither start again nor be stopped twice.
      {&mixed, "stopping", false, false, true},
      {&mixed, "", true, true, false},
      {&allRunning, "", false, true, false},
      {&allOff, "", true, false, false},
      {&onlyStopping, "", false, false, false},
      // A selection that names no monitor (deleted meanwhile) counts as none.
      {&allOff, "gone", true, false, false},
      {&mixed, "gone", true, true, false},
  };
  for (const auto& c : cases) {
    const CommandState state = MakeCommandState(*c.monitors, c.selected);
    EXPECT_EQ(CanStart(state), c.start) << c.selected;
    EXPECT_EQ(CanStop(state), c.stop) << c.selected;
    EXPECT_EQ(CanDelete(state), c.del) << c.selected;
  }
  EXPECT_FALSE(CanStart(MakeCommandState({}, "")));
  EXPECT_FALSE(CanStop(MakeCommandState({}, "")));
}

TEST(FrameRulesTest, DeleteSelectsTheMonitorBefore) {
  const struct {
    int deleted, remaining, selected;
  } cases[] = {{2, 2, 1}, {1, 2, 0}, {0, 2, 0}, {0, 1, 0}, {0, 0, -1}, {5, 3, 2}};
  for (const auto& c : cases)
    EXPECT_EQ(SelectionAfterDelete(c.deleted, c.remaining), c.selected) << c.deleted;
}

TEST(FrameRulesTest, TheHourlyCheckAsksOnlyWhenTheReportIsOn) {
  for (int mode : {0, 1, 2, 3}) {
    int calls = 0;
    EXPECT_EQ(RunHourlyReportCheck(mode, [&calls] { ++calls; }), mode != 0);
    EXPECT_EQ(calls, mode != 0 ? 1 : 0) << mode;
  }
}

// The window looks at the next local midnight (an hour early or late after a day of 23 or
// 25 hours), a second ahead at least and an hour at most.
TEST(FrameRulesTest, TheDayTurnoverIsLookedForAtLocalMidnight) {
  testing_support::ScopedEnv zone("TZ", "Europe/Berlin");
  tzset();
  const std::int64_t shortDayEnd = 1'711'922'400;  // 1 Apr 2024 00:00, after 23 hours
  const std::int64_t longDayEnd = 1'730'070'000;   // 28 Oct 2024 00:00, after 25 hours
  const struct {
    std::int64_t now;
    int waitMs;
  } cases[] = {{shortDayEnd - 1800, 1'800'000},
               {longDayEnd - 1800, 1'800'000},
               {longDayEnd - 1, 1000},
               {longDayEnd, 3'600'000}};
  for (const auto& c : cases) EXPECT_EQ(DayTurnoverWaitMs(c.now), c.waitMs) << c.now;
}

}  // namespace
}  // namespace app
