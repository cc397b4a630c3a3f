// The ODBC layer against the real driver manager: the SQLite ODBC driver on files made by
// the tests, a PostgreSQL server started for this program, and a listener that never
// answers.
#include "platform/odbc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "tests/support/odbc_fixture.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::IOdbcConnection;
using platform::OdbcError;
using platform::OdbcFirstValue;
using platform::SystemOdbc;
using testing::HasSubstr;
using testing_support::OdbcTestConfig;
using testing_support::PostgresEnvironment;
using testing_support::PostgresServer;
using Kind = OdbcFirstValue::Kind;
using Clock = std::chrono::steady_clock;

// The ODBC configuration must be in place before the first ODBC call of the process.
[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::shared_ptr<IOdbcConnection> MustConnect(const std::string& text, int loginTimeout = 15) {
  std::shared_ptr<IOdbcConnection> connection;
  OdbcError error = SystemOdbc().Connect(text, loginTimeout, &connection);
  EXPECT_FALSE(error.Failed()) << text << ": " << error.code << " " << error.text;
  return connection;
}

// ---------------------------------------------------------------------------------------
// Pure helpers

// Plain values give the text as it stands; values that could end early or add attributes
// are quoted.
TEST(OdbcConnectionString, QuotesOnlyValuesThatNeedIt) {
  struct Case {
    const char* value;
    const char* quoted;
  } cases[] = {
      {"x;DRIVER=/tmp/evil.so", "{x;DRIVER=/tmp/evil.so}"},
      {"a}b", "{a}}b}"},
      {"{abc}", "{{abc}}}"},
      {"}}", "{}}}}}"},
      {" lead", "{ lead}"},
      {"trail ", "{trail }"},
      {"\ttab", "{\ttab}"},
      {"in side", "in side"},
      {"p=w", "p=w"},
      {"", ""},
      {"ä€", "ä€"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::QuoteConnectionValue(c.value), c.quoted) << c.value;
    EXPECT_EQ(platform::BuildDsnConnectionString(c.value, "sa", c.value),
              std::string("DSN=") + c.quoted + ";UID=sa;PWD=" + c.quoted);
  }
}

TEST(OdbcLeadingInteger, ReadsTheIntegerAtTheStartAndClamps) {
  struct Case {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"42", 42},
      {"42abc", 42},
      {"  -7", -7},
      {" \t\n+5x", 5},
      {"12.9", 12},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"- 3", 0},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-99999999999999999999999", -2147483647 - 1},
      {"00000000000000000000042", 42},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::LeadingInteger(c.text), c.value) << c.text;
}

// ---------------------------------------------------------------------------------------
// SQLite, through a data source and through a connection text of its own

class SqliteOdbc : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    database_ = dir_.File("monitored.db");
    testing_support::RunSqliteStatements(database_, {"CREATE TABLE t (n INTEGER, s TEXT)",
                                                     "INSERT INTO t VALUES (42, 'zweiundvierzig')",
                                                     "INSERT INTO t VALUES (NULL, NULL)"});
    dsn_ = "Lumivar SQLite " + std::to_string(++counter_);
    OdbcTestConfig::Get().AddSqliteDsn(dsn_, database_, "test file");
  }
  void TearDown() override { OdbcTestConfig::Get().RemoveDsn(dsn_); }

  std::string ConnectionText() const {
    return GetParam() ? platform::BuildDsnConnectionString(dsn_, "", "")
                      : testing_support::SqliteConnectionString(database_);
  }

  testing_support::TempDir dir_;
  std::string database_;
  std::string dsn_;
  static inline int counter_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Connections, SqliteOdbc, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "ThroughDsn" : "CustomText"; });

TEST_P(SqliteOdbc, ReadsTheFirstColumnOfTheFirstRow) {
  auto connection = MustConnect(ConnectionText());
  ASSERT_TRUE(connection);
  struct Case {
    const char* sql;
    Kind kind;
    const char* text;
  } cases[] = {
      {"SELECT 42", Kind::kText, "42"},
      {"SELECT n, s FROM t WHERE n = 42", Kind::kText, "42"},
      {"SELECT s FROM t ORDER BY n DESC", Kind::kText, "zweiundvierzig"},
      {"SELECT n FROM t WHERE n IS NULL", Kind::kNull, ""},
      {"SELECT NULL, 5", Kind::kNull, ""},
      {"SELECT 0", Kind::kText, "0"},
      {"SELECT ' -7x'", Kind::kText, " -7x"},
      {"SELECT 99999999999", Kind::kText, "99999999999"},
      {"SELECT 1 WHERE 0", Kind::kNoRow, ""},
      {"CREATE TABLE made_by_a_query (x)", Kind::kNoRow, ""},
      {"SELECT 'äé€😀'", Kind::kText, "äé€😀"},
  };
  for (const Case& c : cases) {
    OdbcFirstValue value;
    value.text = "left over";
    OdbcError error = connection->QueryFirstValue(c.sql, 15, &value);
    EXPECT_FALSE(error.Failed()) << c.sql << ": " << error.text;
    EXPECT_EQ(value.kind, c.kind) << c.sql;
    EXPECT_EQ(value.text, c.text) << c.sql;
  }
  // A long value is read up to the bound.
  OdbcFirstValue value;
  ASSERT_FALSE(
      connection->QueryFirstValue("SELECT '123' || hex(zeroblob(5000))", 15, &value).Failed());
  EXPECT_EQ(value.text.size(), platform::kOdbcMaxValueBytes);
  EXPECT_EQ(value.text.substr(0, 5), "12300");
  EXPECT_EQ(platform::LeadingInteger(value.text), 2147483647);
  connection->Close();
}

TEST_P(SqliteOdbc, ExecutesStatementsAndReportsFailuresWithTheWholeDiagnosticText) {
  auto connection = MustConnect(ConnectionText());
  ASSERT_TRUE(connection);
  OdbcFirstValue value;
  OdbcError error = connection->QueryFirstValue("SELECT * FROM \"täble€\"", 15, &value);
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.text, "[SQLite]no such table: täble€ (1)");
  EXPECT_EQ(error.sqlState, "HY000");
  EXPECT_EQ(value.kind, Kind::kNoRow);
  error = connection->Execute("INSERT INTO nowhere VALUES (1)", 15);
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.text, "[SQLite]no such table: nowhere (1)");

  // The connection stays usable; a statement that touches no row or returns rows succeeds.
  EXPECT_FALSE(connection->Execute("INSERT INTO t VALUES (7, 'sieben €')", 15).Failed());
  EXPECT_FALSE(connection->Execute("UPDATE t SET s = 'x' WHERE n = 12345", 15).Failed());
  EXPECT_FALSE(connection->Execute("SELECT * FROM t", 15).Failed());
  connection->Close();

  // The effect is in the file, seen through a connection of its own.
  auto reader = MustConnect(testing_support::SqliteConnectionString(database_));
  ASSERT_TRUE(reader);
  ASSERT_FALSE(reader->QueryFirstValue("SELECT s FROM t WHERE n = 7", 15, &value).Failed());
  EXPECT_EQ(value.text, "sieben €");
}

TEST_P(SqliteOdbc, CancelEndsARunningStatementAndRefusesLaterOnes) {
  auto connection = MustConnect(ConnectionText());
  ASSERT_TRUE(connection);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    connection->Cancel();
  });
  OdbcFirstValue value;
  OdbcError error = connection->QueryFirstValue(
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 2000000000) "
      "SELECT count(*) FROM c",
      0, &value);
  canceller.join();
  EXPECT_EQ(error.code, -1);
  EXPECT_THAT(error.text, HasSubstr("interrupted"));

  error = connection->QueryFirstValue("SELECT 1", 15, &value);
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.text, platform::kOdbcCancelledText);
  connection->Close();
  error = connection->Execute("SELECT 1", 15);
  EXPECT_EQ(error.text, platform::kOdbcClosedText);
  connection->Close();  // twice is harmless
}

TEST(SqliteOdbcDataSources, AMissingDataSourceGivesTheDriverManagersError) {
  std::shared_ptr<IOdbcConnection> connection;
  OdbcError error = SystemOdbc().Connect("DSN=No Such Source;UID=;PWD=", 15, &connection);
  EXPECT_FALSE(connection);
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.sqlState, "IM002");
  EXPECT_EQ(error.text,
            "[unixODBC][Driver Manager]Data source name not found and no default driver "
            "specified");
}

TEST(SqliteOdbcDataSources, NonAsciiNamesWorkAndTheListShowsUserAndSystemSources) {
  testing_support::TempDir dir;
  std::string file = dir.File("prüfung.db");
  testing_support::RunSqliteStatements(
      file, {"CREATE TABLE größe (wert)", "INSERT INTO größe VALUES ('groß')"});
  OdbcTestConfig::Get().AddSqliteDsn("Prüfung €", file, "Prüfdatei");
  OdbcTestConfig::Get().AddSqliteDsn("Lumivar System Source", file, "system file", true);

  auto connection = MustConnect(platform::BuildDsnConnectionString("Prüfung €", "", ""));
  ASSERT_TRUE(connection);
  OdbcFirstValue value;
  OdbcError error = connection->QueryFirstValue("SELECT wert FROM größe", 15, &value);
  EXPECT_FALSE(error.Failed()) << error.text;
  EXPECT_EQ(value.text, "groß");
  connection->Close();

  std::vector<platform::OdbcDataSource> sources;
  ASSERT_FALSE(SystemOdbc().ListDataSources(&sources).Failed());
  auto find = [&](const std::string& name) -> const platform::OdbcDataSource* {
    for (const auto& source : sources) {
      if (source.name == name) return &source;
    }
    return nullptr;
  };
  const platform::OdbcDataSource* user = find("Prüfung €");
  ASSERT_NE(user, nullptr);
  EXPECT_FALSE(user->system);
  EXPECT_EQ(user->description, testing_support::kSqliteDriverName);
  const platform::OdbcDataSource* system = find("Lumivar System Source");
  ASSERT_NE(system, nullptr);
  EXPECT_TRUE(system->system);
  // User sources come first.
  EXPECT_LT(user, system);

  OdbcTestConfig::Get().RemoveDsn("Prüfung €");
  OdbcTestConfig::Get().RemoveDsn("Lumivar System Source");
  ASSERT_FALSE(SystemOdbc().ListDataSources(&sources).Failed());
  EXPECT_EQ(find("Prüfung €"), nullptr);
}

// A monitor polls one named data source for months, one connection at a time: a
// connection must give back all the heap it took, whatever the driver loaded to read the
// data source's entries. (Under the sanitizers the allocator is theirs; their leak check
// guards this there.)
TEST(SqliteOdbcLongRun, ConnectionsToANamedSourceOneAtATimeLeaveTheHeapFlat) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocator keeps no mallinfo";
#else
  testing_support::TempDir dir;
  const std::string file = dir.File("polled.db");
  testing_support::RunSqliteStatements(file, {"CREATE TABLE v (n)", "INSERT INTO v VALUES (7)"});
  OdbcTestConfig::Get().AddSqliteDsn("Lumivar Long Run", file, "polled file");
  const std::string text = platform::BuildDsnConnectionString("Lumivar Long Run", "", "");
  auto poll = [&] {
    std::shared_ptr<IOdbcConnection> connection;
    const OdbcError error = SystemOdbc().Connect(text, 15, &connection);
    ASSERT_FALSE(error.Failed()) << error.text;
    OdbcFirstValue value;
    ASSERT_FALSE(connection->QueryFirstValue("SELECT n FROM v", 15, &value).Failed());
    ASSERT_EQ(value.text, "7");
    connection->Close();
  };
  constexpr int kWarmUp = 200;
  constexpr int kConnects = 3000;
  constexpr std::size_t kBoundPerConnect = 100;  // bytes
  for (int i = 0; i < kWarmUp; ++i) ASSERT_NO_FATAL_FAILURE(poll());
  const std::size_t before = mallinfo2().uordblks;
  for (int i = 0; i < kConnects; ++i) ASSERT_NO_FATAL_FAILURE(poll());
  const std::size_t after = mallinfo2().uordblks;
  OdbcTestConfig::Get().RemoveDsn("Lumivar Long Run");
  const std::size_t grown = after > before ? after - before : 0;
  EXPECT_LT(grown / kConnects, kBoundPerConnect)
      << "the heap in use grew " << grown << " bytes over " << kConnects << " connections";
#endif
}

TEST(SqliteOdbcThreads, ManyThreadsPollAtOnce) {
  testing_support::TempDir dir;
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < kThreads; ++i) {
    std::string file = dir.File("f" + std::to_string(i) + ".db");
    testing_support::RunSqliteStatements(
        file, {"CREATE TABLE v (n)", "INSERT INTO v VALUES (" + std::to_string(i) + ")"});
    threads.emplace_back([file, i, &good] {
      for (int round = 0; round < 20; ++round) {
        std::shared_ptr<IOdbcConnection> connection;
        if (SystemOdbc()
                .Connect(testing_support::SqliteConnectionString(file), 15, &connection)
                .Failed()) {
          return;
        }
        OdbcFirstValue value;
        bool ok = !connection->QueryFirstValue("SELECT n FROM v", 15, &value).Failed() &&
                  value.text == std::to_string(i);
        connection->Close();
        if (!ok) return;
      }
      ++good;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kThreads);
}

// ---------------------------------------------------------------------------------------
// PostgreSQL

class PostgresOdbc : public ::testing::Test {
 protected:
  PostgresServer& Server() { return PostgresEnvironment::Server(); }
};

TEST_F(PostgresOdbc, QueriesGiveTheFirstValueOrTheDriversError) {
  auto connection = MustConnect(Server().ConnectionString());
  ASSERT_TRUE(connection);
  struct Case {
    const char* sql;
    Kind kind;
    const char* text;
  } cases[] = {
      {"SELECT 6 * 7", Kind::kText, "42"},
      {"SELECT NULL::int", Kind::kNull, ""},
      {"SELECT 1 WHERE false", Kind::kNoRow, ""},
      {"SELECT 12345678901234", Kind::kText, "12345678901234"},
  };
  OdbcFirstValue value;
  for (const Case& c : cases) {
    ASSERT_FALSE(connection->QueryFirstValue(c.sql, 15, &value).Failed()) << c.sql;
    EXPECT_EQ(value.kind, c.kind) << c.sql;
    EXPECT_EQ(value.text, c.text) << c.sql;
  }
  OdbcError error = connection->QueryFirstValue("SELECT * FROM \"täble€\"", 15, &value);
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.sqlState, "42P01");
  EXPECT_THAT(error.text, HasSubstr("relation \"täble€\" does not exist"));

  // A long message reaches the driver manager in pieces, cut even inside a character; it
  // comes back whole.
  std::string longText;
  for (int i = 0; i < 700; ++i) longText += "é";
  error = connection->Execute("DO $$BEGIN RAISE EXCEPTION '" + longText + "'; END$$", 15);
  EXPECT_EQ(error.code, -1);
  EXPECT_THAT(error.text, HasSubstr("ERROR: " + longText + ";"));

  // A batch whose later statement fails reports that failure.
  error = connection->Execute("CREATE TEMP TABLE w (n int); INSERT INTO nowhere VALUES (1)", 15);
  EXPECT_EQ(error.code, -1);
  EXPECT_THAT(error.text, HasSubstr("\"nowhere\" does not exist"));
  EXPECT_FALSE(
      connection->Execute("UPDATE pg_class SET relname = relname WHERE false", 15).Failed());
}

// The program runs in the user's locale (the user interface sets it) and its tests in the
// C locale: text must pass intact in both.
TEST_F(PostgresOdbc, NonAsciiTextPassesIntactWhateverTheLocale) {
  testing_support::TempDir dir;
  std::string file = dir.File("locale.db");
  testing_support::RunSqliteStatements(file, {"CREATE TABLE x (n)"});
  for (const char* locale : {"C.UTF-8", "C"}) {
    if (setlocale(LC_ALL, locale) == nullptr) continue;
    for (const std::string& text :
         {Server().ConnectionString(), testing_support::SqliteConnectionString(file)}) {
      auto connection = MustConnect(text);
      ASSERT_TRUE(connection);
      OdbcFirstValue value;
      EXPECT_FALSE(connection->QueryFirstValue("SELECT 'Größe ≤ 5 €'", 15, &value).Failed());
      EXPECT_EQ(value.text, "Größe ≤ 5 €") << locale << " " << text;
      OdbcError error = connection->QueryFirstValue("SELECT * FROM \"Maß€\"", 15, &value);
      EXPECT_THAT(error.text, HasSubstr("Maß€")) << locale << " " << text;
    }
  }
  setlocale(LC_ALL, "C");
}

TEST_F(PostgresOdbc, ARefusedLoginGivesTheDriversText) {
  std::shared_ptr<IOdbcConnection> connection;
  OdbcError error = SystemOdbc().Connect(
      Server().ConnectionString(PostgresServer::kUser, "wrong password"), 15, &connection);
  EXPECT_FALSE(connection);
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.sqlState, "08001");
  EXPECT_THAT(error.text, HasSubstr("password authentication failed for user \"lumivar\""));
  EXPECT_NE(error.text.back(), '\n');
}

TEST_F(PostgresOdbc, ValuesWithSeparatorsAndBracesReachTheDriverIntact) {
  const std::string password = " a;b}c{d}}=PWD=x ";
  Server().RunSql("DROP ROLE IF EXISTS odd_login");
  Server().RunSql("CREATE ROLE odd_login LOGIN PASSWORD ' a;b}c{d}}=PWD=x '");
  OdbcTestConfig::Get().AddPostgresDsn("Lumivar PostgreSQL", Server().Port(),
                                       PostgresServer::kDatabase);
  for (const std::string& text :
       {platform::BuildDsnConnectionString("Lumivar PostgreSQL", "odd_login", password),
        Server().ConnectionString("odd_login", password)}) {
    auto connection = MustConnect(text);
    ASSERT_TRUE(connection) << text;
    OdbcFirstValue value;
    ASSERT_FALSE(connection->QueryFirstValue("SELECT current_user", 15, &value).Failed());
    EXPECT_EQ(value.text, "odd_login");
  }
  // Unquoted, the same password would be cut at its first ';'.
  std::shared_ptr<IOdbcConnection> connection;
  EXPECT_TRUE(SystemOdbc()
                  .Connect("DSN=Lumivar PostgreSQL;UID=odd_login;PWD=" + password, 15, &connection)
                  .Failed());
}

// A long query ends by its query time-out (the connection goes on working) or by a cancel
// from another thread (the connection then refuses further statements).
TEST_F(PostgresOdbc, TheQueryTimeOutOrACancelEndsALongQuery) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "time-out");
    auto connection = MustConnect(Server().ConnectionString());
    ASSERT_TRUE(connection);
    auto canceller = std::async(std::launch::async, [&] {
      if (!cancel) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      connection->Cancel();
    });
    OdbcFirstValue value;
    OdbcError error = connection->QueryFirstValue("SELECT pg_sleep(30)", cancel ? 0 : 1, &value);
    canceller.get();
    EXPECT_EQ(error.code, -1);
    EXPECT_EQ(error.sqlState, "57014");
    EXPECT_THAT(error.text, HasSubstr(cancel ? "canceling statement due to user request"
                                             : "statement timeout"));
    error = connection->QueryFirstValue("SELECT 1", 15, &value);
    EXPECT_EQ(error.text, cancel ? platform::kOdbcCancelledText : "");
    connection->Close();
  }
}

TEST_F(PostgresOdbc, CancelRacingTheEndOfStatementsIsHarmless) {
  auto connection = MustConnect(Server().ConnectionString());
  ASSERT_TRUE(connection);
  std::atomic<bool> stop{false};
  std::thread queries([&] {
    OdbcFirstValue value;
    while (!stop) {
      if (connection->QueryFirstValue("SELECT 1", 15, &value).text ==
          platform::kOdbcCancelledText) {
        break;
      }
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  connection->Cancel();
  queries.join();
  stop = true;
  connection->Close();
}

TEST_F(PostgresOdbc, AServerThatGoesAwayAndComesBack) {
  auto before = MustConnect(Server().ConnectionString());
  ASSERT_TRUE(before);
  Server().Stop();
  OdbcFirstValue value;
  OdbcError lost = before->QueryFirstValue("SELECT 1", 15, &value);
  EXPECT_TRUE(lost.Failed());
  EXPECT_FALSE(lost.text.empty());
  before->Close();

  std::shared_ptr<IOdbcConnection> connection;
  OdbcError refused = SystemOdbc().Connect(Server().ConnectionString(), 5, &connection);
  EXPECT_FALSE(connection);
  EXPECT_EQ(refused.code, -1);
  EXPECT_THAT(refused.text, HasSubstr("refused"));

  Server().Start();
  auto after = MustConnect(Server().ConnectionString());
  ASSERT_TRUE(after);
  EXPECT_FALSE(after->QueryFirstValue("SELECT 2", 15, &value).Failed());
  EXPECT_EQ(value.text, "2");
}

// The connection text of a PostgreSQL server that accepts and never answers.
std::string SilentServerText(const testing_support::SilentListener& silent) {
  return "Driver=" + std::string(testing_support::kPostgresDriverName) +
         ";Servername=127.0.0.1;Port=" + std::to_string(silent.Port()) +
         ";Database=x;SSLmode=disable;UID=u;PWD=p";
}

// A server that accepts and never answers holds one connection attempt, and nothing else:
// other connections, to the same driver and to others, go on meanwhile. The attempt ends
// when that server hangs up.
TEST_F(PostgresOdbc, ASilentServerHoldsOnlyItsOwnConnectionAttempt) {
  testing_support::TempDir dir;
  std::string file = dir.File("other.db");
  testing_support::RunSqliteStatements(file, {"CREATE TABLE v (n)", "INSERT INTO v VALUES (3)"});

  std::future<OdbcError> hung;  // declared first: the listener's end lets it finish
  testing_support::SilentListener silent;
  hung = std::async(std::launch::async, [text = SilentServerText(silent)] {
    std::shared_ptr<IOdbcConnection> connection;
    return SystemOdbc().Connect(text, 60, &connection);
  });
  auto start = Clock::now();
  while (silent.Accepted() == 0 && SecondsSince(start) < 30) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(silent.Accepted(), 1);

  // Meanwhile, on this thread: the real server and a SQLite file answer.
  OdbcFirstValue value;
  auto postgres = MustConnect(Server().ConnectionString());
  ASSERT_TRUE(postgres);
  EXPECT_FALSE(postgres->QueryFirstValue("SELECT 5", 15, &value).Failed());
  EXPECT_EQ(value.text, "5");
  auto sqlite = MustConnect(testing_support::SqliteConnectionString(file));
  ASSERT_TRUE(sqlite);
  EXPECT_FALSE(sqlite->QueryFirstValue("SELECT n FROM v", 15, &value).Failed());
  EXPECT_EQ(value.text, "3");
  EXPECT_EQ(hung.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

  silent.HangUp();
  ASSERT_EQ(hung.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  OdbcError error = hung.get();
  EXPECT_EQ(error.code, -1);
  EXPECT_FALSE(error.text.empty());
}

TEST_F(PostgresOdbc, TheLoginTimeOutEndsAnAttemptOnASilentServer) {
  std::future<OdbcError> attempt;  // declared first: the listener's end lets it finish
  testing_support::SilentListener silent;
  attempt = std::async(std::launch::async, [text = SilentServerText(silent)] {
    std::shared_ptr<IOdbcConnection> connection;
    return SystemOdbc().Connect(text, 1, &connection);
  });
  // Far beyond the time-out: a time-out that never fires fails here instead of hanging.
  ASSERT_EQ(attempt.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  OdbcError error = attempt.get();
  EXPECT_EQ(error.code, -1);
  EXPECT_THAT(error.text, HasSubstr("timeout expired"));
  EXPECT_GE(silent.Accepted(), 1);
}

// ---------------------------------------------------------------------------------------
// The server fixture itself

bool SomethingListensOn(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// A test program killed (or crashed) in the middle leaves no server running and no folder.
TEST(PostgresServerFixture, AKilledTestLeavesNeitherServerNorFolderBehind) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);  // the server must not hold it open
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    try {
      PostgresServer server;
      std::string info = std::to_string(server.Port()) + " " + server.Folder();
      if (write(fds[1], info.data(), info.size()) == static_cast<ssize_t>(info.size())) {
        kill(getpid(), SIGKILL);
      }
    } catch (...) {
    }
    _exit(1);
  }
  close(fds[1]);
  std::string info;
  char buffer[512];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) info.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child could not start a server";
  std::size_t blank = info.find(' ');
  ASSERT_NE(blank, std::string::npos) << info;
  int port = std::stoi(info.substr(0, blank));
  std::string folder = info.substr(blank + 1);

  auto start = Clock::now();
  while ((SomethingListensOn(port) || std::filesystem::exists(folder)) &&
         SecondsSince(start) < 30) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(SomethingListensOn(port)) << port;
  EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
}

}  // namespace
