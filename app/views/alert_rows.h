// The texts and states the alerts view and the alert dialog show for an alert, computed
// from snapshots only: the seven cells of a row, the run-time status, the row's check box,
// and the threshold as the dialog shows and reads it. Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/alert_listing.h"
#include "engine/store/monitor_snapshot.h"

namespace app {

inline constexpr std::size_t kAlertColumnCount = 7;
using AlertRowTexts = std::array<std::string, kAlertColumnCount>;

// The action with that identifier, or null.
const engine::ActionSnapshot* FindActionSnapshot(const std::vector<engine::ActionSnapshot>& actions,
                                                 const std::string& actionId);

// "" when the counter is 0 or the action is gone; "WARNING. counter/pollsCount" below the
// action's polls count; then "<T>. Alert Failed. (<code> <text>)" once the fired action
// finished with a non-zero status, "<T>. Alert Succedded." once it finished, else
// "<T>. Alert Started.", where T is "ERROR" or "CLEAR". A status without a text of its own
// shows its code alone.
std::string AlertStatusText(const engine::AlertSnapshot& alert,
                            const engine::ActionSnapshot* action);

// Attribute, condition, threshold, action, alert type (engine::ListAlert), current value and
// status. A boolean attribute shows its value as "Clear" (not 0) or "Error" (0); -1 shows as
// "-" for numbers. A missing attribute leaves its four cells empty, a missing action its
// name and the status.
AlertRowTexts MakeAlertRowTexts(const engine::MonitorSnapshot& monitor,
                                const engine::AlertSnapshot& alert,
                                const engine::ActionSnapshot* action);

// The row's box: the alert is enabled and its attribute's test query, if that exists, too.
bool AlertChecked(const engine::MonitorSnapshot& monitor, const engine::AlertSnapshot& alert);

// The threshold in the dialog's edit, as the row shows it.
using engine::ThresholdText;
// The edit's text as a threshold: its leading signed integer after blanks, clamped to the
// 32-bit range; 0 when it holds no number. A lone "-" is -1, the text shown for -1.
std::int64_t ParseThreshold(std::string_view text);

}  // namespace app
