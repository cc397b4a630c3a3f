// Stopping and deleting a monitor whose poll runs a long statement on a PostgreSQL server
// started by the test: the call returns at once, the statement is cancelled on the
// server, a start is refused until the stop completes, and nothing is committed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/postgres_server.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing_support::PostgresEnvironment;
using testing_support::PostgresServer;

[[maybe_unused]] auto* const odbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OdbcEnvironment);
[[maybe_unused]] auto* const postgresEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

constexpr const char* kSleep = "SELECT pg_sleep(60)";

// The system's driver manager; a cancel is recorded and held until the test lets it go,
// so that the stop stays pending for as long as the test looks at it.
class HeldCancelOdbc : public platform::IOdbc, public std::enable_shared_from_this<HeldCancelOdbc> {
 public:
  platform::OdbcError Connect(std::string_view text, int loginTimeout,
                              std::shared_ptr<platform::IOdbcConnection>* connection) override {
    std::shared_ptr<platform::IOdbcConnection> real;
    platform::OdbcError error = platform::SystemOdbc().Connect(text, loginTimeout, &real);
    if (real) *connection = std::make_shared<Connection>(shared_from_this(), std::move(real));
    return error;
  }
  platform::OdbcError ListDataSources(std::vector<platform::OdbcDataSource>* sources) override {
    return platform::SystemOdbc().ListDataSources(sources);
  }

  bool WaitForCancel() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 20s, [&] { return cancels_ > 0; });
  }
  void LetCancelGo() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    cv_.notify_all();
  }

 private:
  class Connection : public platform::IOdbcConnection {
   public:
    Connection(std::shared_ptr<HeldCancelOdbc> owner,
               std::shared_ptr<platform::IOdbcConnection> real)
        : owner_(std::move(owner)), real_(std::move(real)) {}
    platform::OdbcError QueryFirstValue(std::string_view sql, int timeout,
                                        platform::OdbcFirstValue* value) override {
      return real_->QueryFirstValue(sql, timeout, value);
    }
    platform::OdbcError Execute(std::string_view sql, int timeout) override {
      return real_->Execute(sql, timeout);
    }
    void Cancel() override {
      {
        std::unique_lock lock(owner_->mutex_);
        ++owner_->cancels_;
        owner_->cv_.notify_all();
        owner_->cv_.wait(lock, [&] { return owner_->released_; });
      }
      real_->Cancel();
    }
    void Close() override { real_->Close(); }

   private:
    std::shared_ptr<HeldCancelOdbc> owner_;
    std::shared_ptr<platform::IOdbcConnection> real_;
  };

  std::mutex mutex_;
  std::condition_variable cv_;
  int cancels_ = 0;
  bool released_ = false;
};

// Records completed stops and deletions.
class CompletionUi : public testing::FakeUi {
 public:
  void MonitorStopped(std::string id) override { Add("stopped " + id); }
  void MonitorDeleted(std::string id) override { Add("deleted " + id); }
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void ClearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  bool WaitFor(const std::string& event) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 30s, [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }

 private:
  void Add(std::string event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    cv_.notify_all();
  }
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
};

class StopTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetUi(&ui_);
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

  CompletionUi ui_;
};

TEST_F(StopTest, StopAndDeleteReturnWhileTheServerRunsTheStatement) {
  for (const bool deleting : {false, true}) {
    SCOPED_TRACE(deleting ? "delete" : "stop");
    ui_.ClearEvents();
    ServerStorage store;
    auto odbc = std::make_shared<HeldCancelOdbc>();
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
    EXPECT_TRUE(ui_.Events().empty());
    odbc->LetCancelGo();

    ASSERT_TRUE(ui_.WaitFor("stopped " + id));
    if (deleting) {
      ASSERT_TRUE(ui_.WaitFor("deleted " + id));
    }
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
