// Stopping and deleting a monitor whose poll runs a long statement on a PostgreSQL server
// started by the test: the call returns at once, the statement is cancelled on the
// server, a start is refused until the stop completes, and nothing is committed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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
using testing_support::PostgresEnvironment;

[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

constexpr const char* kSleep = "SELECT pg_sleep(60)";

class StopTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Server::SetStopTimeout(60s);
  }
  void TearDown() override {
    MonitorTest::TearDown();
    Server::SetStopTimeout(120s);
  }

  // How many sessions of the server run the long statement now; -1 when it cannot be
  // asked.
  static int SleepingSessions() {
    std::shared_ptr<platform::IOdbcConnection> connection;
    if (platform::SystemOdbc()
            .Connect(PostgresEnvironment::Server().ConnectionString(), 5, &connection)
            .Failed()) {
      return -1;
    }
    platform::OdbcFirstValue value;
    const platform::OdbcError error = connection->QueryFirstValue(
        std::string("SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query = '") +
            kSleep + "'",
        5, &value);
    connection->Close();
    return error.Failed() ? -1 : platform::LeadingInteger(value.text);
  }
  static bool WaitForSleepingSessions(int count) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (SleepingSessions() != count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
};

TEST_F(StopTest, StopAndDeleteReturnWhileTheServerRunsTheStatement) {
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
      monitor->connectionString = PostgresEnvironment::Server().ConnectionString();
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
