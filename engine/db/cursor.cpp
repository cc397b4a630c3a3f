#include "engine/db/cursor.h"

#include <sqlite3.h>

#include <thread>

namespace db {

namespace {

constexpr int kLockedRounds = 100;

}  // namespace

int Cursor::Start(sqlite3_stmt* stmt, BusyEvent busy) {
  stmt_ = stmt;
  busy_ = busy;
  done_ = false;
  rowsDelivered_ = false;
  return Next();
}

int Cursor::Next() {
  if (stmt_ == nullptr || !busy_.IsValid()) return SQLITE_MISUSE;
  if (done_) return SQLITE_OK;
  // A step that gives a row takes or lets go of no lock another connection waits for, so
  // rows pass without the busy pacing; a busy answer goes through it, and every other
  // result wakes the file's waiters as the pacing would.
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_BUSY) {
    rc = busy_.CallWithRetry(sqlite3_step, stmt_);
  } else if (rc != SQLITE_ROW) {
    busy_.Raise();
  }
  // A locked table before the first row is waited out by starting over, a bounded number
  // of times: a lock held by another statement of this same thread never goes away while
  // we wait. After rows were handed out, starting over would deliver them twice, so the
  // error is returned.
  for (int round = 0; rc == SQLITE_LOCKED && !rowsDelivered_ && round < kLockedRounds; ++round) {
    sqlite3_reset(stmt_);
    std::this_thread::yield();
    rc = busy_.CallWithRetry(sqlite3_step, stmt_);
  }
  if (rc == SQLITE_ROW) {
    rowsDelivered_ = true;
    return SQLITE_OK;
  }
  // The end or a failure: release the statement's lock on the file at once.
  done_ = true;
  sqlite3_reset(stmt_);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int Cursor::ColumnCount() const { return stmt_ == nullptr ? 0 : sqlite3_column_count(stmt_); }

std::int32_t Cursor::GetInt(int column) const {
  return HasRow() ? sqlite3_column_int(stmt_, column) : 0;
}

std::int64_t Cursor::GetInt64(int column) const {
  return HasRow() ? sqlite3_column_int64(stmt_, column) : 0;
}

std::string Cursor::GetText(int column) const {
  if (!HasRow()) return {};
  const auto* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  const int length = sqlite3_column_bytes(stmt_, column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

void Cursor::Clear() {
  stmt_ = nullptr;
  busy_ = BusyEvent();
  done_ = false;
  rowsDelivered_ = false;
}

}  // namespace db
