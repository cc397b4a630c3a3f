// One prepared SQL statement on an open Database. A Statement copies the database's
// connection when it is made and is used on that thread only; it should end before its
// Database is closed (if it does not, the connection is released when it ends).
#pragma once

#include <string>

#include "engine/db/busy_event.h"
#include "engine/db/cursor.h"

struct sqlite3;
struct sqlite3_stmt;

namespace db {

class Database;

class Statement {
 public:
  // The compile function; tests pass their own to provoke its failures.
  using PrepareFunction = int (*)(sqlite3*, const char*, int, sqlite3_stmt**, const char**);

  // prepare: nullptr for sqlite3_prepare_v2.
  explicit Statement(Database& database, PrepareFunction prepare = nullptr);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Compiles the first statement of the UTF-8 text; the statement held before is
  // finalised first. Busy answers are retried (see BusyEvent); SQLITE_CANTOPEN is tried
  // exactly once more. SQLITE_MISUSE on a database that was not open.
  int Prepare(const std::string& sql);
  // Runs the statement from its start. With cursorOut null it runs to the end and returns
  // the first failing step's code; otherwise it stops after the first step and hands out
  // the statement's cursor (also on failure, then already done), positioned on the first
  // row or done. SQLITE_MISUSE when nothing is prepared or the database was not open.
  int Execute(Cursor** cursorOut);
  // Frees the held statement (0 when there is none). The statement is gone afterwards
  // whatever the result says.
  int Finalize();

 private:
  sqlite3* handle_;
  BusyEvent busy_;
  sqlite3_stmt* stmt_ = nullptr;
  Cursor cursor_;
  PrepareFunction prepare_;
};

}  // namespace db
