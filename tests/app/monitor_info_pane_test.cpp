// What the info pane says about a monitor and about all monitors: health and status OFF
// until a running monitor has been polled, no next poll while stopped, today's uptime share
// (100% without any time) and spans without leading zeros, a full day shown as 24 or 25
// hours; monitors counted by state. Texts stay the same under a German locale.
#include "app/monitor_info_pane.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <time.h>

#include <vector>

#include "res/art.h"

namespace app {
namespace {

std::int64_t Local(int year, int month, int day, int hour, int min) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_isdst = -1;
  return mktime(&t);
}

struct MonitorState {
  bool running;
  bool polled;
  bool available;
  bool health;
  std::int64_t pollTime;
  std::int64_t lastAlert;
  std::int64_t uptime;
  std::int64_t downtime;
};

engine::MonitorSnapshot Snapshot(const MonitorState& s) {
  engine::MonitorSnapshot monitor;
  monitor.settings.name = "Sales";
  monitor.settings.pollingInterval = 5;
  monitor.running = s.running;
  monitor.notPolledYet = !s.polled;
  monitor.current.available = s.available;
  monitor.current.health = s.health;
  monitor.current.time = s.pollTime;
  monitor.lastAlertTime = s.lastAlert;
  monitor.todayUptime = s.uptime;
  monitor.todayDowntime = s.downtime;
  return monitor;
}

class MonitorInfoTextsTest : public ::testing::Test {
 protected:
  void TearDown() override { setlocale(LC_ALL, "C"); }
};

TEST_F(MonitorInfoTextsTest, RowsAndAvailabilityOfOneMonitor) {
  const std::int64_t polled = Local(2023, 11, 14, 22, 13);
  const std::int64_t alerted = Local(2023, 11, 14, 21, 59);
  const char* const kPolled = "14 Nov 2023 10:13 PM";
  const char* const kNext = "14 Nov 2023 10:18 PM";
  const char* const kAlerted = "14 Nov 2023 09:59 PM";
  constexpr int kUp = res::kStatusUp, kDown = res::kStatusDown, kOff = res::kStatusOff;
  struct Rows {
    const char* health;
    int image;
    const char *lastAlert, *lastPoll, *nextPoll;
  };
  const struct {
    const char* name;
    MonitorState state;
    Rows rows;
    AvailabilityTexts texts;
  } cases[] = {
      {"stopped after polls",
       {false, true, true, true, polled, alerted, 5 * 3600 + 7 * 60 + 35, 0},
       {"OFF", kOff, kAlerted, kPolled, "-"},
       {"Uptime 100.00%", "OFF", kOff, "Uptime 5 Hours 7 Minutes", "Downtime 0 Hours 0 Minutes"}},
      {"running, not polled yet",
       {true, false, true, false, 0, 0, 0, 0},
       {"OFF", kOff, "-", "-", "-"},
       {"Uptime 100.00%", "OFF", kOff, "Uptime 0 Hours 0 Minutes", "Downtime 0 Hours 0 Minutes"}},
      {"running, healthy",
       {true, true, true, true, polled, 0, 10 * 3600 + 60, 12020},
       {"OK", kUp, "-", kPolled, kNext},
       {"Uptime 75.00%", "UP", kUp, "Uptime 10 Hours 1 Minutes", "Downtime 3 Hours 20 Minutes"}},
      {"running, available but unhealthy",
       {true, true, true, false, polled, alerted, 11700, 300},
       {"ERROR", kDown, kAlerted, kPolled, kNext},
       {"Uptime 97.50%", "UP", kUp, "Uptime 3 Hours 15 Minutes", "Downtime 0 Hours 5 Minutes"}},
      {"running, down all day",
       {true, true, false, false, polled, alerted, 0, 86400},
       {"ERROR", kDown, kAlerted, kPolled, kNext},
       {"Uptime 0.00%", "DOWN", kDown, "Uptime 0 Hours 0 Minutes", "Downtime 24 Hours 0 Minutes"}},
      {"a day of 25 hours",
       {true, true, true, true, polled, 0, 90000 - 600, 600},
       {"OK", kUp, "-", kPolled, kNext},
       {"Uptime 99.33%", "UP", kUp, "Uptime 24 Hours 50 Minutes", "Downtime 0 Hours 10 Minutes"}},
  };
  // The texts are the program's own, not the locale's.
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    if (setlocale(LC_ALL, locale) == nullptr) continue;
    SCOPED_TRACE(locale);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      const engine::MonitorSnapshot monitor = Snapshot(c.state);
      const std::vector<InfoRow> expected = {
          {"Name", "Sales"},
          {"Health", c.rows.health, c.rows.image},
          {"Last alert", c.rows.lastAlert},
          {"Last polled at", c.rows.lastPoll},
          {"Next poll at", c.rows.nextPoll},
      };
      EXPECT_EQ(MakeInfoRows(monitor), expected);
      EXPECT_EQ(MakeAvailabilityTexts(monitor), c.texts);
    }
  }
}

engine::MonitorSummary Summary(bool running, bool polled, bool available) {
  engine::MonitorSummary monitor;
  monitor.running = running;
  monitor.notPolledYet = !polled;
  monitor.available = available;
  return monitor;
}

TEST_F(MonitorInfoTextsTest, CountsByState) {
  const struct {
    const char* name;
    std::vector<engine::MonitorSummary> monitors;
    MonitorCounts expected;
  } cases[] = {
      {"none", {}, {0, 0, 0, 0}},
      {"mixed",
       {
           Summary(false, true, true),    // stopped, last sample up: off
           Summary(false, false, false),  // never started: off
           Summary(true, false, false),   // running, not polled yet: up
           Summary(true, true, true),     // up
           Summary(true, true, false),    // down
           Summary(true, true, false),    // down
       },
       {6, 2, 2, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CountMonitors(c.monitors), c.expected);
  }
}

}  // namespace
}  // namespace app
