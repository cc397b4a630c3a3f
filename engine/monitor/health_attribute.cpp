#include "engine/monitor/health_attribute.h"

#include <sqlite3.h>

#include <utility>

#include "engine/data/statements.h"
#include "platform/guid.h"

namespace engine {

namespace {

// Columns of a HealthAttributes row.
enum Column { kMonitorId, kId, kName, kTestQueryId, kType, kColumnCount };

}  // namespace

HealthAttribute::HealthAttribute() : id(platform::NewGuidString()) {}

HealthAttribute::HealthAttribute(std::string name, std::string testQueryId)
    : name(std::move(name)), id(platform::NewGuidString()), testQueryId(std::move(testQueryId)) {}

int HealthAttribute::Load(db::Cursor& cursor) {
  if (cursor.IsDone() || cursor.ColumnCount() < kColumnCount) return SQLITE_MISUSE;
  id = cursor.GetText(kId);
  name = cursor.GetText(kName);
  testQueryId = cursor.GetText(kTestQueryId);
  type = cursor.GetInt(kType);
  return SQLITE_OK;
}

int HealthAttribute::Save(db::Database& database, const std::string& monitorId) const {
  return db::Database::ExecSQL(
      database, sql::InsertOrReplaceHealthAttribute(monitorId, id, name, testQueryId, type));
}

}  // namespace engine
