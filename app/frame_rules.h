// The main window's rules that need no window: which view codes exist and in which order the
// views are made, when the monitor commands are enabled, which monitor is selected after a
// delete, when the hourly check asks for the e-mail report, and when the day turns over.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/store/monitor_snapshot.h"

namespace app {

// The view codes in the order the views are made: the welcome page, the snapshot, the
// settings, test queries, history and reports, alerts, log, the actions page, then the five
// action kinds (E-Mail, SMS, Execute SQL, Execute Program, User Interface).
inline constexpr std::array<int, 18> kViewCreationOrder = {0,  8,  9,  19, 20, 21, 22, 23, 24,
                                                           25, 27, 26, 33, 28, 29, 30, 31, 32};
// The views whose forms give the right side its least size.
inline constexpr std::array<int, 12> kViewsSizingTheWindow = {0,  9,  19, 20, 21, 22,
                                                              23, 24, 25, 27, 26, 33};

// Whether a view has this code.
bool IsViewCode(int code);

// What the monitor commands look at.
struct CommandState {
  bool monitorSelected = false;
  bool selectedRunning = false;
  bool selectedStopPending = false;
  bool anyStartable = false;  // some monitor is neither running nor stopping
  bool anyStoppable = false;  // some monitor is running and not stopping
};

// The state for the selected monitor ("" for none) among these monitors. A selection that
// names no monitor counts as none.
CommandState MakeCommandState(const std::vector<engine::MonitorSummary>& monitors,
                              const std::string& selectedId);

// Start: the selected monitor when it is stopped (and not still stopping), else with no
// selection when some monitor can start. Stop likewise. Delete: a monitor is selected.
bool CanStart(const CommandState& state);
bool CanStop(const CommandState& state);
bool CanDelete(const CommandState& state);

// After the monitor at deletedIndex has gone, leaving `remaining` monitors: the index of
// the monitor to select (the one before it, or the first), or -1 for "Monitors" when none
// is left.
int SelectionAfterDelete(int deletedIndex, int remaining);

// The hourly check: asks for the e-mail report unless the report is switched off (mode 0).
// True when it asked.
bool RunHourlyReportCheck(int reportMode, const std::function<void()>& checkAndSend);

// How long the window waits from `now` before it looks whether the local day has turned
// over: until the next local midnight, but at least a second and at most an hour, so that
// a clock that jumps or a machine that slept is noticed within the hour.
int DayTurnoverWaitMs(std::int64_t now);

}  // namespace app
