// A real PostgreSQL 15 server for integration tests: a private cluster in a temporary
// folder, listening only on a free port of 127.0.0.1 (its unix socket lives in the folder),
// with a superuser that logs in over TCP with a password (scram-sha-256). When the test
// runs as root, initdb and the server run as the `postgres` user, which then owns the
// folder. Tests reach it through the PostgreSQL ODBC driver of the test odbcinst.ini
// (odbc_fixture.h). Start one server per test program through PostgresEnvironment.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "tests/support/temp_dir.h"

namespace testing_support {

class PostgresServer {
 public:
  static constexpr const char* kUser = "lumivar";
  static constexpr const char* kPassword = "lumivar-test-secret";
  static constexpr const char* kDatabase = "postgres";

  // Creates the cluster and starts the server. Throws std::runtime_error with the tools'
  // output when that fails.
  PostgresServer();
  // Stops the server (at once, without waiting for clients) and removes the folder. A
  // process that ends without it (killed, crashed) leaves neither behind: a guard process
  // outside the test's process tree then stops the server and removes the folder.
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  int Port() const { return port_; }
  // The temporary folder that holds the cluster.
  const std::string& Folder() const { return dir_.Path(); }
  bool IsRunning() const { return running_; }

  // Stops the server, waiting until it is down (connected clients are disconnected).
  void Stop();
  // Starts it again on the same port and waits until it accepts connections.
  void Start();

  // An ODBC connection text for the PostgreSQL driver to this server, without a DSN; the
  // user and password are quoted as connection values.
  std::string ConnectionString(std::string_view user, std::string_view password) const;
  std::string ConnectionString() const { return ConnectionString(kUser, kPassword); }

  // Runs SQL as the superuser with psql over the unix socket; throws with psql's output
  // when it fails.
  void RunSql(const std::string& sql) const;

  // The server's own log (for failure messages).
  std::string ServerLog() const;

 private:
  void Create();
  void WriteSettings() const;
  void StartOnce();
  void StopNow();
  void StartGuard();
  void DisarmGuard();

  TempDir dir_;
  std::string dataDir_;
  std::string socketDir_;
  int port_ = 0;
  bool running_ = false;
  bool asPostgresUser_ = false;
  int guardFd_ = -1;  // the guard's input; closing it without "done" sets it off
};

// Starts one server for a whole test program:
//   ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);
// and tests use PostgresEnvironment::Server(). The server is stopped and removed after the
// last test.
class PostgresEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  // The running server; only between SetUp and TearDown.
  static PostgresServer& Server();
};

}  // namespace testing_support
