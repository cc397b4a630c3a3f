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

// Local midnight that begins that day, in the time zone the process uses now.
std::int64_t Midnight(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

// The wait runs to the next local midnight, which a day of 23 or 25 hours moves by an hour
// from 24 hours after the last one; within [1 s, 1 h].
TEST(FrameRulesTest, TheDayTurnoverIsLookedForAtLocalMidnight) {
  const struct {
    const char* zone;
    int month, shortDay, longDay;  // in 2024, days of 23 and 25 hours
    int longMonth;
  } zones[] = {{"America/New_York", 3, 10, 3, 11}, {"Europe/Berlin", 3, 31, 27, 10}};
  for (const auto& z : zones) {
    testing_support::ScopedEnv tz("TZ", z.zone);
    tzset();
    const std::int64_t shortEnd = Midnight(2024, z.month, z.shortDay + 1);
    const std::int64_t longEnd = Midnight(2024, z.longMonth, z.longDay + 1);
    const struct {
      const char* name;
      std::int64_t now;
      int waitMs;
    } cases[] = {
        {"23:30 of a 23-hour day", shortEnd - 1800, 1'800'000},
        {"23:59:30 of a 23-hour day", shortEnd - 30, 30'000},
        {"23:30 of a 25-hour day", longEnd - 1800, 1'800'000},
        {"a second before midnight", longEnd - 1, 1000},
        {"midnight itself: the next is a day away", longEnd, 3'600'000},
        {"the morning of a 25-hour day", longEnd - 20 * 3600, 3'600'000},
    };
    for (const auto& c : cases) {
      EXPECT_EQ(DayTurnoverWaitMs(c.now), c.waitMs) << z.zone << ": " << c.name;
    }
  }
}

}  // namespace
}  // namespace app
