// A health attribute: a named value of a monitor that alerts watch. Built-in attributes
// (availability, health, connection time, total query time) are recognised by their
// name; the others stand for one test query's value. One row of the HealthAttributes
// table. A value record: the monitor that owns it guards it with its own lock.
#pragma once

#include <cstdint>
#include <string>

#include "engine/db/cursor.h"
#include "engine/db/database.h"

namespace engine {

class HealthAttribute {
 public:
  static constexpr std::int32_t kNumeric = 0;
  static constexpr std::int32_t kBoolean = 1;

  // A numeric attribute with a fresh identifier.
  HealthAttribute();
  HealthAttribute(std::string name, std::string testQueryId);

  // Reads the current row of a "SELECT * FROM HealthAttributes" cursor (the monitor
  // column is not read); SQLITE_MISUSE when the cursor has no such row.
  int Load(db::Cursor& cursor);
  // Writes (or replaces) this attribute's row for that monitor; the statement's result.
  int Save(db::Database& database, const std::string& monitorId) const;

  std::string name;
  std::string id;
  std::string testQueryId;  // "" for a built-in attribute
  std::int32_t type = kNumeric;
};

}  // namespace engine
