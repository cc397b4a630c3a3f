// Monitors polling real data sources through the driver manager: SQLite files through a
// data source name and through a connection string, a PostgreSQL server started by the
// test (success, refused login, query time-out, the server going away and coming back,
// Stop during a long query, and stopping or deleting through the store: the call returns
// at once, the statement is cancelled on the server, a start is refused until the stop
// completes, nothing is committed), and a server that accepts and never answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/clock.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/engine/watched_odbc.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/postgres_server.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing_support::OdbcTestConfig;
using testing_support::PostgresEnvironment;
using testing_support::PostgresServer;

[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

// Only the store stop test runs this statement, and only the monitor stop test the other;
// their sessions are counted on the server.
constexpr const char* kSleep = "SELECT pg_sleep(61)";
constexpr const char* kStopSleep = "SELECT pg_sleep(60)";

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class RealSourceTest : public testing::MonitorTest {
 protected:
  void TearDown() override {
    Server::SetStopTimeout(120s);
    MonitorTest::TearDown();
  }

  static PostgresServer& Postgres() { return PostgresEnvironment::Server(); }

  // A monitor on a connection string.
  static std::shared_ptr<ODBCDataSource> NewMonitor(const std::vector<std::string>& queries,
                                                    const std::string& connectionString) {
    auto monitor = std::make_shared<ODBCDataSource>();
    std::lock_guard lock(monitor->Mutex());
    monitor->customConnectionString = true;
    monitor->connectionString = connectionString;
    for (const std::string& sql : queries) monitor->AddTestQuery().query = sql;
    return monitor;
  }
  // A monitor on a data source name, user and password.
  static std::shared_ptr<ODBCDataSource> NewDsnMonitor(const std::vector<std::string>& queries,
                                                       const std::string& dsn,
                                                       const std::string& user = "",
                                                       const std::string& password = "") {
    auto monitor = NewMonitor(queries, "");
    std::lock_guard lock(monitor->Mutex());
    monitor->customConnectionString = false;
    monitor->address = dsn;
    monitor->username = user;
    monitor->password = password;
    return monitor;
  }

  // How many sessions of the server run the long statement now; -1 when it cannot be
  // asked.
  static int SleepingSessions(const char* statement = kSleep) {
    std::shared_ptr<platform::IOdbcConnection> connection;
    if (platform::SystemOdbc().Connect(Postgres().ConnectionString(), 5, &connection).Failed()) {
      return -1;
    }
    platform::OdbcFirstValue value;
    const platform::OdbcError error = connection->QueryFirstValue(
        std::string("SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query = '") +
            statement + "'",
        5, &value);
    connection->Close();
    return error.Failed() ? -1 : platform::LeadingInteger(value.text);
  }
  static bool WaitForSleepingSessions(int count, const char* statement = kSleep) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (SleepingSessions(statement) != count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  static std::vector<std::int32_t> Values(ODBCDataSource& monitor) {
    std::lock_guard lock(monitor.Mutex());
    std::vector<std::int32_t> values;
    for (const TestQuery& q : monitor.testQueries) values.push_back(q.value);
    return values;
  }

  static ODBCDataSourceData Current(ODBCDataSource& monitor) {
    std::lock_guard lock(monitor.Mutex());
    return monitor.current;
  }
};

TEST_F(RealSourceTest, SqliteThroughADataSourceNameAndAConnectionString) {
  const std::string file = dir_.File("orders.db");
  testing_support::RunSqliteStatements(
      file, {"CREATE TABLE orders (n, s)", "INSERT INTO orders VALUES (1, 'open')",
             "INSERT INTO orders VALUES (2, 'open')", "INSERT INTO orders VALUES (7, 'ünïcode')"});
  OdbcTestConfig::Get().AddSqliteDsn("Lumivar orders", file);

  const std::vector<std::string> queries = {"SELECT count(*) FROM orders WHERE s = 'open'",
                                            "SELECT n FROM orders WHERE s = 'ünïcode'",
                                            "SELECT n FROM no_such_table"};
  auto byName = NewDsnMonitor(queries, "Lumivar orders");
  auto byText = NewMonitor(queries, testing_support::SqliteConnectionString(file));
  for (const auto& monitor : {byName, byText}) {
    monitor->Poll();
    const ODBCDataSourceData sample = Current(*monitor);
    EXPECT_TRUE(sample.available);
    EXPECT_EQ(sample.errorCode, 0);
    EXPECT_GE(sample.connectionTime, 0);
    EXPECT_GE(sample.requestTime, 0);
    EXPECT_EQ(Values(*monitor), (std::vector<std::int32_t>{2, 7, -1}));
    std::lock_guard lock(monitor->Mutex());
    EXPECT_EQ(monitor->testQueries[2].errorCode, -1);
    EXPECT_THAT(monitor->testQueries[2].errorDescription, HasSubstr("no_such_table"));
  }
  EXPECT_EQ(testing::DataRows("SELECT * FROM ODBCDataSourcesData").size(), 2u);
  EXPECT_EQ(testing::DataRows("SELECT * FROM TestQueriesData").size(), 6u);
}

TEST_F(RealSourceTest, AMissingDataSourceName) {
  auto monitor = NewDsnMonitor({"SELECT 1"}, "Lumivar no such source");
  monitor->Poll();
  const ODBCDataSourceData sample = Current(*monitor);
  EXPECT_FALSE(sample.available);
  EXPECT_EQ(sample.errorCode, -1);
  EXPECT_THAT(sample.errorDescription, HasSubstr("Data source name not found"));
  EXPECT_EQ(Values(*monitor), std::vector<std::int32_t>{-1});
}

TEST_F(RealSourceTest, PostgresSuccessAndRefusedLogin) {
  OdbcTestConfig::Get().AddPostgresDsn("Lumivar PG", Postgres().Port(), PostgresServer::kDatabase);
  auto byName = NewDsnMonitor({"SELECT 42", "SELECT NULL", "SELECT ' -7x'"}, "Lumivar PG",
                              PostgresServer::kUser, PostgresServer::kPassword);
  byName->Poll();
  EXPECT_TRUE(Current(*byName).available);
  EXPECT_EQ(Values(*byName), (std::vector<std::int32_t>{42, -1, -7}));

  auto refused =
      NewMonitor({"SELECT 1"}, Postgres().ConnectionString(PostgresServer::kUser, "wrong"));
  refused->Poll();
  const ODBCDataSourceData sample = Current(*refused);
  EXPECT_FALSE(sample.available);
  EXPECT_EQ(sample.errorCode, -1);
  EXPECT_THAT(sample.errorDescription, HasSubstr("password authentication failed"));
  EXPECT_EQ(sample.connectionTime, -1);
}

TEST_F(RealSourceTest, PostgresQueryTimeOut) {
  auto monitor = NewMonitor({"SELECT pg_sleep(30)", "SELECT 3"}, Postgres().ConnectionString());
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->loginTimeout = 5;
    monitor->queryTimeout = 1;
  }
  monitor->Poll();
  EXPECT_TRUE(Current(*monitor).available);
  std::lock_guard lock(monitor->Mutex());
  EXPECT_EQ(monitor->testQueries[0].value, -1);
  EXPECT_NE(monitor->testQueries[0].errorCode, 0);
  EXPECT_THAT(monitor->testQueries[0].errorDescription, HasSubstr("statement timeout"));
  EXPECT_EQ(monitor->testQueries[1].value, 3);
}

TEST_F(RealSourceTest, PostgresGoingAwayAndComingBack) {
  auto monitor = NewMonitor({"SELECT 1"}, Postgres().ConnectionString());
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->loginTimeout = 5;
  }
  monitor->Poll();
  EXPECT_TRUE(Current(*monitor).available);

  Postgres().Stop();
  monitor->Poll();
  ODBCDataSourceData sample = Current(*monitor);
  EXPECT_FALSE(sample.available);
  EXPECT_EQ(sample.errorCode, -1);
  EXPECT_FALSE(sample.errorDescription.empty());
  EXPECT_EQ(Values(*monitor), std::vector<std::int32_t>{-1});

  Postgres().Start();
  monitor->Poll();
  sample = Current(*monitor);
  EXPECT_TRUE(sample.available);
  EXPECT_EQ(sample.errorCode, 0);
  EXPECT_EQ(Values(*monitor), std::vector<std::int32_t>{1});
  EXPECT_EQ(testing::DataRows("SELECT available FROM ODBCDataSourcesData ORDER BY rowid"),
            (testing::Rows{{"1"}, {"0"}, {"1"}}));
}

// Stop returns while the driver still holds the statement (its cancel held back), and the
// stop completes at its bound all the same; the abandoned poll, cancelled, commits nothing.
TEST_F(RealSourceTest, StopDuringALongQueryReturnsWithinTheBoundAndCommitsNothing) {
  Server::SetStopTimeout(1s);
  auto odbc = std::make_shared<testing::WatchedOdbc>(/*holdCancels=*/true);
  auto monitor = NewMonitor({kStopSleep}, Postgres().ConnectionString());
  monitor->SetOdbc(odbc);
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->queryTimeout = 0;  // no time-out: only the cancel ends it
  }
  monitor->Start();
  ASSERT_TRUE(odbc->WaitForRunning(1));
  ASSERT_TRUE(WaitForSleepingSessions(1, kStopSleep));

  EXPECT_TRUE(monitor->Stop());
  ASSERT_TRUE(odbc->WaitForCancel());
  EXPECT_TRUE(monitor->WaitForStop(std::chrono::steady_clock::now() + 30s));
  // The statement outlasted the stop; once let go, the cancel ends it on the server.
  EXPECT_EQ(SleepingSessions(kStopSleep), 1);
  odbc->LetCancelsGo();
  EXPECT_TRUE(WaitForSleepingSessions(0, kStopSleep));
  EXPECT_TRUE(odbc->WaitForRunning(0));
  std::this_thread::sleep_for(200ms);  // the abandoned poll would commit now
  EXPECT_EQ(ui_.UpdateCount(), 0u);
  EXPECT_TRUE(testing::DataRows("SELECT * FROM ODBCDataSourcesData").empty());
  std::lock_guard lock(monitor->Mutex());
  EXPECT_FALSE(monitor->running);
  EXPECT_TRUE(monitor->notPolledYet);
}

// The connection text of a PostgreSQL server that accepts and never answers.
std::string SilentServerText(const testing_support::SilentListener& silent) {
  return std::string("Driver=") + testing_support::kPostgresDriverName +
         ";Servername=127.0.0.1;Port=" + std::to_string(silent.Port()) +
         ";Database=x;SSLmode=disable;UID=u;PWD=p";
}

// A server that accepts and never answers holds its own monitor's poll, and no other: the
// other monitor polls meanwhile, on its thread and on this one. The held poll ends when
// the server hangs up; on a server that stays silent, by the monitor's login time-out.
TEST_F(RealSourceTest, ASilentServerHoldsOnlyItsOwnMonitorUntilTheLoginTimeOut) {
  testing_support::SilentListener silent;
  const std::string file = dir_.File("other.db");
  testing_support::RunSqliteStatements(file, {"CREATE TABLE v (n)", "INSERT INTO v VALUES (3)"});

  auto hung = NewMonitor({"SELECT 1"}, SilentServerText(silent));
  {
    std::lock_guard lock(hung->Mutex());
    hung->loginTimeout = 60;
  }
  auto other = NewMonitor({"SELECT n FROM v"}, testing_support::SqliteConnectionString(file));

  const auto start = std::chrono::steady_clock::now();
  hung->Start();
  while (silent.Accepted() == 0 && SecondsSince(start) < 30) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(silent.Accepted(), 1);

  // Meanwhile the other monitor polls, on its thread and on this one.
  other->Start();
  ASSERT_TRUE(ui_.WaitForUpdates(1));
  EXPECT_EQ(ui_.Updates()[0], other->id);
  other->Poll();
  other->Poll();
  EXPECT_EQ(Values(*other), std::vector<std::int32_t>{3});
  {
    std::lock_guard lock(hung->Mutex());
    EXPECT_TRUE(hung->notPolledYet);
  }

  silent.HangUp();
  ASSERT_TRUE(ui_.WaitForUpdates(4));
  EXPECT_EQ(ui_.Updates()[3], hung->id);
  ODBCDataSourceData sample = Current(*hung);
  EXPECT_FALSE(sample.available);
  EXPECT_EQ(sample.errorCode, -1);
  EXPECT_FALSE(sample.errorDescription.empty());
  hung->Stop();
  other->Stop();

  testing_support::SilentListener staysSilent;
  auto timed = NewMonitor({"SELECT 1"}, SilentServerText(staysSilent));
  {
    std::lock_guard lock(timed->Mutex());
    timed->loginTimeout = 1;
  }
  timed->Start();
  ASSERT_TRUE(ui_.WaitForUpdates(5));
  EXPECT_EQ(ui_.Updates()[4], timed->id);
  sample = Current(*timed);
  EXPECT_FALSE(sample.available);
  EXPECT_EQ(sample.errorCode, -1);
  EXPECT_THAT(sample.errorDescription, HasSubstr("timeout expired"));
  timed->Stop();
}

// Through the store: the call returns at once, a start is refused until the cancel is
// through, and the statement ends on the server.
TEST_F(RealSourceTest, StopAndDeleteReturnWhileTheServerRunsTheStatement) {
  Server::SetStopTimeout(60s);
  for (const bool deleting : {false, true}) {
    SCOPED_TRACE(deleting ? "delete" : "stop");
    const std::size_t eventsBefore = ui_.Events().size();
    ServerStorage store;
    auto odbc = std::make_shared<testing::WatchedOdbc>(/*holdCancels=*/true);
    auto monitor = store.AddNewODBCDataSource();
    monitor->SetOdbc(odbc);
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->customConnectionString = true;
      monitor->connectionString = Postgres().ConnectionString();
      monitor->queryTimeout = 0;  // only the cancel ends it
      monitor->AddTestQuery().query = kSleep;
    }
    const std::string id = monitor->id;
    store.StartServer(id);
    // The driver's connect is not safe beside another connect: the test asks the server
    // only once the poll is connected.
    ASSERT_TRUE(odbc->WaitForRunning(1));
    ASSERT_TRUE(WaitForSleepingSessions(1));

    if (deleting) {
      EXPECT_EQ(store.DeleteServer(id), 0);
      EXPECT_EQ(store.GetServerById(id), nullptr);
    } else {
      store.StopServer(id);
    }
    // The stop's helper is inside the cancel: the stop is pending, the statement runs.
    ASSERT_TRUE(odbc->WaitForCancel());
    EXPECT_TRUE(monitor->IsStopPending());
    EXPECT_EQ(monitor->Start(), 1u);
    EXPECT_EQ(SleepingSessions(), 1);
    EXPECT_EQ(ui_.Events().size(), eventsBefore);
    odbc->LetCancelsGo();

    ASSERT_TRUE(ui_.WaitForEvent("stopped " + id));
    EXPECT_TRUE(!deleting || ui_.WaitForEvent("deleted " + id));
    EXPECT_TRUE(WaitForSleepingSessions(0));
    EXPECT_FALSE(monitor->IsStopPending());
    EXPECT_EQ(ui_.UpdateCount(), 0u);
    EXPECT_TRUE(testing::DataRows("SELECT * FROM ODBCDataSourcesData").empty());
    EXPECT_TRUE(testing::DataRows("SELECT * FROM TestQueriesData").empty());
    EXPECT_EQ(testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + id + "'").size(),
              deleting ? 0u : 2u);
    std::lock_guard lock(monitor->Mutex());
    EXPECT_FALSE(monitor->running);
    EXPECT_TRUE(monitor->notPolledYet);
  }
}

}  // namespace
}  // namespace engine
