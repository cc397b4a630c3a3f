// An alert: a health attribute compared with a threshold under a condition operator; when
// the condition holds for the action's number of consecutive polls, the alert fires its
// action once. One row of the Alerts table, plus the run-time counter and the outcome of
// the last firing. A value record: the monitor that owns it guards it with its own lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/db/cursor.h"
#include "engine/db/database.h"
#include "platform/status.h"

namespace engine {

class Alert {
 public:
  static constexpr std::int32_t kError = 0;  // alertType: the attribute went wrong
  static constexpr std::int32_t kClear = 1;  // alertType: the attribute is fine again

  // A new alert of that monitor with a fresh identifier: enabled, threshold 0, condition
  // ">", an error alert, no action and no attribute.
  explicit Alert(std::string monitorId = {});

  // Reads the current row of a "SELECT * FROM Alerts" cursor; SQLITE_MISUSE when the
  // cursor has no such row. The run-time fields are left as they are.
  int Load(db::Cursor& cursor);
  // Writes (or replaces) this alert's row; the statement's result.
  int Save(db::Database& database) const;

  std::string monitorId;
  std::string id;
  std::string actionId;
  std::string healthAttributeId;
  bool enable = true;
  std::int64_t threshold = 0;
  std::int32_t condition = 1;  // index into kConditionOperators
  std::int32_t alertType = kError;
  // Run time only: consecutive polls on which the condition held (above the action's
  // pollsCount once the alert has fired in the current run).
  std::int32_t counter = 0;
  std::string customMessage;  // stored with the row; nothing else reads it
  // Run time only: false from the firing until the action's execution has finished.
  bool done = false;
  // Run time only: the status of the last finished execution, 0 for success.
  platform::Status lastResult = 0;
};

// An alert's condition operator as shown to the user, by its condition number.
inline constexpr std::array<std::string_view, 6> kConditionOperators = {"<",  ">",  "=",
                                                                        "<=", ">=", "<>"};
// "" for a number outside the table.
std::string_view ConditionOperatorText(int condition);

}  // namespace engine
