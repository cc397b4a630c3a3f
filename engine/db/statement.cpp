#include "engine/db/statement.h"

#include <sqlite3.h>

#include <climits>

#include "engine/db/database.h"

namespace db {

Statement::Statement(Database& database, PrepareFunction prepare)
    : handle_(database.handle_),
      busy_(database.busy_),
      prepare_(prepare != nullptr ? prepare : &sqlite3_prepare_v2) {}

Statement::~Statement() { Finalize(); }

int Statement::Prepare(const std::string& sql) {
  // Finalising a statement whose last step failed repeats that old error; it says nothing
  // about the new text, so it is not looked at.
  Finalize();
  if (handle_ == nullptr || !busy_.IsValid()) return SQLITE_MISUSE;
  if (sql.size() >= INT_MAX) return SQLITE_TOOBIG;
  const int length = static_cast<int>(sql.size());
  int rc = busy_.CallWithRetry(prepare_, handle_, sql.c_str(), length, &stmt_, nullptr);
  if (rc == SQLITE_CANTOPEN) {
    rc = busy_.CallWithRetry(prepare_, handle_, sql.c_str(), length, &stmt_, nullptr);
  }
  if (stmt_ != nullptr) Database::AcquireLibrary();
  return rc;
}

int Statement::Execute(Cursor** cursorOut) {
  int rc = SQLITE_MISUSE;
  if (handle_ == nullptr || stmt_ == nullptr || !busy_.IsValid()) {
    cursor_.Clear();
  } else {
    // After a failed step the first reset repeats that step's error; the statement is
    // reset all the same, so the result is not looked at.
    sqlite3_reset(stmt_);
    rc = cursor_.Start(stmt_, busy_);
  }
  if (cursorOut != nullptr) {
    *cursorOut = &cursor_;
    return rc;
  }
  while (rc == SQLITE_OK && !cursor_.IsDone()) rc = cursor_.Next();
  if (stmt_ != nullptr) sqlite3_reset(stmt_);
  return rc;
}

int Statement::Finalize() {
  if (stmt_ == nullptr) return SQLITE_OK;
  const int rc = sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  cursor_.Clear();
  Database::ReleaseLibrary();
  return rc;
}

}  // namespace db
