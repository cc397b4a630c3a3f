// The period memory of the report views as pure state steps: what the period bar shows,
// what is remembered on the monitor and what is loaded, for the view being shown, a
// period chosen from the list, a click on "&Refresh" and a poll of the shown monitor.
// No window and no clock: `now` is passed in. Any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/report/report_logic.h"

namespace app {

// What the bar shows: the list index and the pickers' range.
struct PeriodBar {
  int period = engine::kPeriodToday;
  std::int64_t start = 0;
  std::int64_t end = 0;

  bool operator==(const PeriodBar&) const = default;
};

// A monitor's remembered period (both times 0: none yet).
struct PeriodMemory {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int32_t period = 0;

  bool operator==(const PeriodMemory&) const = default;
};

// The outcome of one step.
struct PeriodStep {
  PeriodBar bar;                             // the list selection and the pickers
  bool setPickers = false;                   // false: the pickers keep what they show
  std::optional<PeriodMemory> store;         // remembered on the monitor
  std::optional<engine::PeriodBounds> load;  // loaded
  bool reversed = false;                     // refused: the start lies after the end
};

// The view is shown for a monitor: no memory (or an index outside the list) selects
// "Today"; a remembered named period is computed again at `now`; a remembered custom range
// reselects "Custom Period" with its dates. Each loads.
PeriodStep PeriodOnShow(const PeriodMemory& memory, std::int64_t now);

// A list entry is chosen while the bar shows `bar`. "Custom Period" enables the pickers,
// remembers only the index and loads nothing; a named period fills the pickers, is
// remembered and loads. An index outside the list changes nothing.
PeriodStep PeriodOnChoose(int period, const PeriodBar& bar, std::int64_t now);

// "&Refresh" while the bar shows `bar`: a named period is computed again at `now`, as
// when it is chosen. With "Custom Period" a reversed range is refused and stores nothing;
// otherwise the pickers' range (equal ends included) is remembered and loaded.
PeriodStep PeriodOnRefresh(const PeriodBar& bar, std::int64_t now);

// The shown monitor polled: a named period moves on to `now` and reloads; a custom
// period reloads the remembered range and leaves the pickers as the user left them.
PeriodStep PeriodOnPoll(const PeriodMemory& memory, const PeriodBar& bar, std::int64_t now);

}  // namespace app
