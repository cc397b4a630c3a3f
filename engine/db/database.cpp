#include "engine/db/database.h"

#include <fcntl.h>
#include <glib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <mutex>

#include "engine/db/statement.h"

namespace db {

namespace {

std::mutex libraryMutex;
int libraryUsers = 0;  // connections and statements alive; guarded by libraryMutex

// Creates a missing file empty and private to its owner before SQLite opens it: the
// files hold passwords, and SQLite gives its journal and write-ahead log the same mode.
// An existing file is never opened here: closing any descriptor of a file drops every
// POSIX lock the process holds on it, and another program reading the file would then
// take itself for its last user and delete the write-ahead log under our connections.
// Every open passes through here, so the mutex keeps the brief descriptor of a file just
// made from outliving the first connection another thread opens on it. Any failure is
// left for SQLite to report.
std::mutex creationMutex;

void CreatePrivateFile(const std::string& path) {
  std::lock_guard lock(creationMutex);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

std::string DoubleApostrophes(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace

void Database::AcquireLibrary() {
  std::lock_guard lock(libraryMutex);
  ++libraryUsers;
}

void Database::ReleaseLibrary() {
  std::lock_guard lock(libraryMutex);
  --libraryUsers;
}

int Database::InitializeLibrary() {
  std::lock_guard lock(libraryMutex);
  return sqlite3_initialize();
}

int Database::ShutdownLibrary() {
  std::lock_guard lock(libraryMutex);
  if (libraryUsers > 0) return SQLITE_BUSY;
  return sqlite3_shutdown();
}

int Database::Open(const std::string& path) {
  Close();
  // sqlite3_open16 gives a new file UTF-16le text, as the files have always had.
  gunichar2* widePath = g_utf8_to_utf16(path.c_str(), -1, nullptr, nullptr, nullptr);
  if (widePath == nullptr) return SQLITE_CANTOPEN;
  CreatePrivateFile(path);
  AcquireLibrary();
  int rc = sqlite3_open16(widePath, &handle_);
  g_free(widePath);
  if (handle_ == nullptr) {
    ReleaseLibrary();
    return rc == SQLITE_OK ? SQLITE_NOMEM : rc;
  }
  if (rc == SQLITE_OK) {
    BusySignal* signal = nullptr;
    rc = BusyEventRegistry::Instance().GetEvent(signal, path);
    if (rc == SQLITE_OK) {
      busy_ = BusyEvent(signal);
      path_ = path;
    }
  }
  if (rc != SQLITE_OK) Close();
  return rc;
}

int Database::Close() {
  int rc = SQLITE_OK;
  if (handle_ != nullptr) {
    rc = sqlite3_close_v2(handle_);
    handle_ = nullptr;
    ReleaseLibrary();
  }
  busy_ = BusyEvent();
  path_.clear();
  return rc;
}

int Database::Changes() const { return handle_ == nullptr ? 0 : sqlite3_changes(handle_); }

bool Database::InTransaction() const {
  return handle_ != nullptr && sqlite3_get_autocommit(handle_) == 0;
}

bool Database::TableExists(Database& database, std::string_view name) {
  Statement statement(database);
  if (statement.Prepare("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = '" +
                        DoubleApostrophes(name) + "'") != SQLITE_OK) {
    return false;
  }
  Cursor* cursor = nullptr;
  if (statement.Execute(&cursor) != SQLITE_OK) return false;
  return cursor->ColumnCount() > 0 && cursor->GetInt(0) > 0;
}

int Database::ExecSQL(Database& database, const std::string& sql) {
  Statement statement(database);
  int rc = statement.Prepare(sql);
  if (rc == SQLITE_OK) rc = statement.Execute(nullptr);
  return rc;
}

}  // namespace db
