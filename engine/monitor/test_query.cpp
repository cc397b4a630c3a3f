#include "engine/monitor/test_query.h"

#include <sqlite3.h>

#include "engine/data/statements.h"
#include "platform/guid.h"

namespace engine {

namespace {

// Columns of a TestQueries row.
enum Column { kMonitorId, kId, kName, kQuery, kEnable, kType, kColumnCount };

}  // namespace

TestQuery::TestQuery() : id(platform::NewGuidString()) {}

bool TestQuery::IsSameSample(const TestQuery& other) const {
  return value == other.value && errorCode == other.errorCode &&
         errorDescription == other.errorDescription;
}

void TestQuery::ResetSample() {
  value = -1;
  errorCode = 0;
  errorDescription.clear();
}

int TestQuery::Load(db::Cursor& cursor) {
  if (cursor.IsDone() || cursor.ColumnCount() < kColumnCount) return SQLITE_MISUSE;
  id = cursor.GetText(kId);
  name = cursor.GetText(kName);
  query = cursor.GetText(kQuery);
  enable = cursor.GetInt(kEnable) != 0;
  type = cursor.GetInt(kType);
  return SQLITE_OK;
}

int TestQuery::Save(db::Database& database, const std::string& monitorId) const {
  return db::Database::ExecSQL(
      database, sql::InsertOrReplaceTestQuery(monitorId, id, name, query, enable, type));
}

}  // namespace engine
