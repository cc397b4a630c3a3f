// ODBC set-up for integration tests: a unixODBC configuration of the test program's own
// (odbcinst.ini with the SQLite and PostgreSQL drivers, odbc.ini files for data sources)
// in a temporary folder, helpers for SQLite files reached through the SQLite ODBC driver,
// and a loopback listener that accepts connections and never answers (a server that
// hangs at login).
//
// unixODBC reads ODBCSYSINI and ODBCINI once, when the process first needs them, and keeps
// the paths: OdbcTestConfig::Get() must come before the first ODBC call of the process (at
// the start of a test program, e.g. from OdbcEnvironment) and sets both variables for the
// rest of the process. The odbcinst.ini has no "Threading" line, so the driver manager
// runs with its default, as on a user's machine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testing_support {

// The drivers' names in the test odbcinst.ini (those of Debian's packages).
inline constexpr const char* kSqliteDriverName = "SQLite3";
inline constexpr const char* kPostgresDriverName = "PostgreSQL Unicode";

class OdbcTestConfig {
 public:
  // The process's configuration, written on first call; throws std::runtime_error when a
  // driver is not installed. Lives until the process exits; its folder is removed then.
  // Thread-safe.
  static OdbcTestConfig& Get();

  // The folder that ODBCSYSINI names: odbcinst.ini and the system odbc.ini. The user
  // odbc.ini (ODBCINI) is "user-odbc.ini" in it.
  const std::string& Folder() const { return dir_.Path(); }

  // Adds (or replaces) a data source for a SQLite file through the SQLite driver; a user
  // data source unless system is set. The file need not exist yet.
  void AddSqliteDsn(const std::string& name, const std::string& databasePath,
                    const std::string& description = "", bool system = false);
  // Adds (or replaces) a data source for a PostgreSQL server on 127.0.0.1 (no user or
  // password: those come with the connection text).
  void AddPostgresDsn(const std::string& name, int port, const std::string& database,
                      const std::string& description = "", bool system = false);
  void RemoveDsn(const std::string& name);

 private:
  using Entries = std::vector<std::pair<std::string, std::string>>;
  OdbcTestConfig();
  void AddDsn(const std::string& name, const Entries& entries, bool system);
  void WriteDsnFiles();

  TempDir dir_;
  std::mutex mutex_;
  // Data sources by name: system flag and the entries of their section.
  std::map<std::string, std::pair<bool, Entries>> dsns_;
};

// A global test environment that writes the configuration before any test runs:
//   ::testing::AddGlobalTestEnvironment(new OdbcEnvironment);
class OdbcEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
};

// A connection text for a SQLite file through the SQLite driver, without a data source.
std::string SqliteConnectionString(const std::string& databasePath);

// Runs statements in order on a SQLite file (made when missing) through the SQLite ODBC
// driver; throws std::runtime_error with the driver's message when one fails.
void RunSqliteStatements(const std::string& databasePath,
                         const std::vector<std::string>& statements);

// Listens on a free port of 127.0.0.1, accepts every connection and never sends a byte;
// the connections stay open until HangUp or until the listener is destroyed.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  int Port() const { return port_; }
  // The number of connections accepted so far.
  int Accepted() const;
  // Closes every connection accepted so far, and from now on each one as it is accepted.
  void HangUp();

 private:
  void AcceptLoop();

  int listenFd_ = -1;
  int wakeFd_ = -1;  // an eventfd that ends the loop
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<int> connections_;  // -1 once closed
  bool hungUp_ = false;
  std::thread thread_;
};

}  // namespace testing_support
