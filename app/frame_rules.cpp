#include "app/frame_rules.h"

#include <algorithm>

#include "engine/clock.h"

namespace app {

bool IsViewCode(int code) {
  return std::find(kViewCreationOrder.begin(), kViewCreationOrder.end(), code) !=
         kViewCreationOrder.end();
}

CommandState MakeCommandState(const std::vector<engine::MonitorSummary>& monitors,
                              const std::string& selectedId) {
  CommandState state;
  for (const engine::MonitorSummary& m : monitors) {
    if (!m.running && !m.stopPending) state.anyStartable = true;
    if (m.running && !m.stopPending) state.anyStoppable = true;
    if (!selectedId.empty() && m.id == selectedId) {
      state.monitorSelected = true;
      state.selectedRunning = m.running;
      state.selectedStopPending = m.stopPending;
    }
  }
  return state;
}

bool CanStart(const CommandState& state) {
  if (!state.monitorSelected) return state.anyStartable;
  return !state.selectedRunning && !state.selectedStopPending;
}

bool CanStop(const CommandState& state) {
  if (!state.monitorSelected) return state.anyStoppable;
  return state.selectedRunning && !state.selectedStopPending;
}

bool CanDelete(const CommandState& state) { return state.monitorSelected; }

int SelectionAfterDelete(int deletedIndex, int remaining) {
  if (remaining <= 0) return -1;
  return std::clamp(deletedIndex - 1, 0, remaining - 1);
}

bool RunHourlyReportCheck(int reportMode, const std::function<void()>& checkAndSend) {
  if (reportMode == 0 || !checkAndSend) return false;
  checkAndSend();
  return true;
}

int DayTurnoverWaitMs(std::int64_t now) {
  constexpr std::int64_t kLeastMs = 1000;
  constexpr std::int64_t kMostMs = 3'600'000;
  return static_cast<int>(
      std::clamp((engine::NextLocalMidnight(now) - now) * 1000, kLeastMs, kMostMs));
}

}  // namespace app
