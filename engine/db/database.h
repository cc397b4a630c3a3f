// One SQLite connection to one file. Every operation makes its own Database, opens the
// file, runs its statements and closes it again; a Database and its statements belong to
// one thread. Results are SQLite result codes, 0 for success.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "engine/db/busy_event.h"

struct sqlite3;

namespace db {

class Database {
 public:
  Database() = default;
  ~Database() { Close(); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the file (UTF-8 path) for reading and writing, creating it (mode 0600, UTF-16le
  // text) when missing. On failure the object stays closed.
  int Open(const std::string& path);
  // Closes the connection; 0 when nothing was open. A statement still alive keeps the
  // connection until it ends, then it is released.
  int Close();

  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }
  // Bounds how long this connection's calls retry a busy answer (BusyEvent), in place of
  // the process-wide limit: for statements made after this call, until the next Open.
  void LimitBusyWaits(std::chrono::milliseconds limit) { busy_.LimitRetries(limit); }
  // Back to the process-wide limit, as after Open.
  void UseProcessBusyLimit() { busy_.LimitRetries(std::chrono::milliseconds(-1)); }
  // Rows changed by the last INSERT, UPDATE or DELETE on this connection; 0 when closed.
  int Changes() const;
  // True while a transaction is open on the connection; false when closed.
  bool InTransaction() const;

  // Start-up and exit of the SQLite library. ShutdownLibrary shuts SQLite down only when
  // no connection or statement of this process is alive (else it answers SQLITE_BUSY and
  // leaves it running); opening a database afterwards works either way.
  static int InitializeLibrary();
  static int ShutdownLibrary();

  // True when the file has a table of that name; false on any failure.
  static bool TableExists(Database& database, std::string_view name);
  // Prepares and runs one statement to its end.
  static int ExecSQL(Database& database, const std::string& sql);

 private:
  friend class Statement;
  // Counts connections and statements alive, so that ShutdownLibrary never pulls SQLite
  // from under them.
  static void AcquireLibrary();
  static void ReleaseLibrary();

  sqlite3* handle_ = nullptr;
  BusyEvent busy_;
  std::string path_;
};

}  // namespace db
