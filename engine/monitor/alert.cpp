#include "engine/monitor/alert.h"

#include <sqlite3.h>

#include <utility>

#include "engine/data/statements.h"
#include "platform/guid.h"

namespace engine {

namespace {

// Columns of an Alerts row.
enum Column {
  kMonitorId,
  kId,
  kActionId,
  kHealthAttributeId,
  kEnable,
  kThreshold,
  kCondition,
  kAlertType,
  kCustomMessage,
  kColumnCount
};

}  // namespace

Alert::Alert(std::string monitorId)
    : monitorId(std::move(monitorId)), id(platform::NewGuidString()) {}

int Alert::Load(db::Cursor& cursor) {
  if (cursor.IsDone() || cursor.ColumnCount() < kColumnCount) return SQLITE_MISUSE;
  monitorId = cursor.GetText(kMonitorId);
  id = cursor.GetText(kId);
  actionId = cursor.GetText(kActionId);
  healthAttributeId = cursor.GetText(kHealthAttributeId);
  enable = cursor.GetInt(kEnable) != 0;
  threshold = cursor.GetInt64(kThreshold);
  condition = cursor.GetInt(kCondition);
  alertType = cursor.GetInt(kAlertType);
  customMessage = cursor.GetText(kCustomMessage);
  return SQLITE_OK;
}

int Alert::Save(db::Database& database) const {
  sql::AlertRow row;
  row.monitorId = monitorId;
  row.id = id;
  row.actionId = actionId;
  row.healthAttributeId = healthAttributeId;
  row.enable = enable;
  row.threshold = threshold;
  row.condition = condition;
  row.alertType = alertType;
  row.customMessage = customMessage;
  return db::Database::ExecSQL(database, sql::InsertOrReplaceAlert(row));
}

std::string_view ConditionOperatorText(int condition) {
  if (condition < 0 || condition >= static_cast<int>(kConditionOperators.size())) return {};
  return kConditionOperators[static_cast<std::size_t>(condition)];
}

}  // namespace engine
