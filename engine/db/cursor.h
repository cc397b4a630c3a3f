// The rows of an executed statement, read by column position. A Cursor belongs to the
// Statement that hands it out and is used on that statement's thread only. Column values
// are copied out (texts as UTF-8 std::string), so nothing a caller keeps dies at the next
// step.
#pragma once

#include <cstdint>
#include <string>

#include "engine/db/busy_event.h"

struct sqlite3_stmt;

namespace db {

class Cursor {
 public:
  Cursor() = default;
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  // Binds the cursor to a statement and steps to its first row.
  int Start(sqlite3_stmt* stmt, BusyEvent busy);
  // Steps to the next row: 0 for a row or the end (ask IsDone), else the SQLite error.
  // A failed step ends the cursor (IsDone becomes true); after the end nothing is stepped
  // again, so a query is never restarted behind the caller's back.
  int Next();
  // True at the end of the rows, after a failed step, and when no statement is bound.
  bool IsDone() const { return done_ || stmt_ == nullptr; }

  int ColumnCount() const;
  // Column values of the current row; 0 or "" when there is no current row or the value
  // is NULL.
  std::int32_t GetInt(int column) const;
  std::int64_t GetInt64(int column) const;
  std::string GetText(int column) const;

 private:
  friend class Statement;
  void Clear();
  bool HasRow() const { return stmt_ != nullptr && !done_; }

  sqlite3_stmt* stmt_ = nullptr;
  BusyEvent busy_;
  bool done_ = false;
  bool rowsDelivered_ = false;
};

}  // namespace db
