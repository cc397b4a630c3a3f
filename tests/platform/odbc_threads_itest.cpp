// The ODBC layer under the thread patterns of many running monitors: connections made and
// dropped on many threads at once, and stops that cancel a poll at any point of its
// statement (executing, fetching, reading the value, closing the cursor), with the SQLite
// driver and with PostgreSQL. A fault here is a crash or a sanitizer report, not a wrong
// value.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/odbc.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::IOdbcConnection;
using platform::OdbcFirstValue;
using platform::SystemOdbc;

// The ODBC configuration must be in place before the first ODBC call of the process.
[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::PostgresEnvironment);

TEST(OdbcThreads, ManyThreadsConnectAndDisconnectAtOnceThroughTheSqliteDriver) {
  testing_support::TempDir dir;
  constexpr int kThreads = 8;
  constexpr int kRounds = 400;
  std::vector<std::string> texts;
  for (int i = 0; i < kThreads; ++i) {
    const std::string file = dir.File("f" + std::to_string(i) + ".db");
    testing_support::RunSqliteStatements(file, {"CREATE TABLE v (n)", "INSERT INTO v VALUES (1)"});
    texts.push_back(testing_support::SqliteConnectionString(file));
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, text = texts[i]] {
      for (int round = 0; round < kRounds; ++round) {
        std::shared_ptr<IOdbcConnection> connection;
        if (SystemOdbc().Connect(text, 15, &connection).Failed()) {
          ++failures;
          continue;
        }
        if (round % 8 == 0) {
          OdbcFirstValue value;
          if (connection->QueryFirstValue("SELECT n FROM v", 15, &value).Failed()) ++failures;
        }
        connection->Close();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// Polls of a wide value on fresh connections, each cancelled from another thread after a
// random pause, so that over the rounds the cancel meets every step of the poll. A poll
// either gives its value or fails; the next statement is refused.
void CancelPollsAtRandomPoints(const std::string& connectionText, const std::string& sql,
                               int rounds) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> pause(0, 400);
  int refused = 0;
  for (int round = 0; round < rounds; ++round) {
    std::shared_ptr<IOdbcConnection> connection;
    ASSERT_FALSE(SystemOdbc().Connect(connectionText, 15, &connection).Failed());
    const int pauseUs = pause(random);
    std::thread poll([&] {
      for (int i = 0; i < 3; ++i) {
        OdbcFirstValue value;
        if (connection->QueryFirstValue(sql, 15, &value).text == platform::kOdbcCancelledText) {
          ++refused;
          break;
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    connection->Cancel();
    poll.join();
    connection->Close();
  }
  // At least some cancels came before the poll's last statement.
  EXPECT_GT(refused, 0);
}

TEST(OdbcThreads, CancelsLandingAnywhereInAPollOfTheSqliteDriver) {
  testing_support::TempDir dir;
  const std::string file = dir.File("wide.db");
  testing_support::RunSqliteStatements(
      file, {"CREATE TABLE w (s TEXT)", "INSERT INTO w VALUES (printf('%.*c', 3000, 'x'))",
             "INSERT INTO w SELECT s FROM w", "INSERT INTO w SELECT s FROM w"});
  CancelPollsAtRandomPoints(testing_support::SqliteConnectionString(file), "SELECT s FROM w", 300);
}

TEST(OdbcThreads, CancelsLandingAnywhereInAPollOfPostgres) {
  CancelPollsAtRandomPoints(testing_support::PostgresEnvironment::Server().ConnectionString(),
                            "SELECT repeat('x', 3000) FROM generate_series(1, 4)", 100);
}

}  // namespace
