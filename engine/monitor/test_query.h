// One test query of a monitor: the SQL text run on each poll with its latest value and
// error and a short history of values; one row of the TestQueries table. A TestQuery is
// a value: the monitor that owns it guards it with its own lock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "engine/db/cursor.h"
#include "engine/db/database.h"

namespace engine {

struct TestQueryHistoryEntry {
  std::int32_t value = -1;
  std::int64_t time = 0;
};

class TestQuery {
 public:
  static constexpr std::size_t kHistorySize = 10;

  // A new test query with a fresh identifier, enabled, without a value.
  TestQuery();

  // True when value, error code and error text equal the other's.
  bool IsSameSample(const TestQuery& other) const;
  // No value, no error.
  void ResetSample();

  // Reads the current row of a "SELECT * FROM TestQueries" cursor; SQLITE_MISUSE when the
  // cursor has no such row.
  int Load(db::Cursor& cursor);
  // Writes (or replaces) the row of this test query for that monitor; the statement's
  // result.
  int Save(db::Database& database, const std::string& monitorId) const;

  std::string id;
  std::string name;
  std::string query;
  std::int32_t value = -1;  // the latest value; -1 for none
  std::int32_t type = 0;    // stored and loaded only
  bool enable = true;
  std::int32_t errorCode = 0;  // ODBC return code of the latest failure
  std::string errorDescription;
  // When not 0, the next sample extends the TestQueriesData row with this time.
  std::int64_t lastStoredTime = 0;
  std::deque<TestQueryHistoryEntry> history;  // at most kHistorySize, oldest first
};

}  // namespace engine
