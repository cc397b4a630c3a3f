// Work that the end of the process may cut off: a configuration file left in the middle
// of a commit, deletions whose helpers are still waiting, and a stop whose cancel hangs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine::testing {
namespace {

using namespace std::chrono_literals;

class CutOffTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetStorage(&store_);
  }
  void TearDown() override {
    odbc_->Release();
    Server::WaitForHelpers(std::chrono::steady_clock::now() + 20s);
    store_.Clear();
    Server::SetStopTimeout(120s);
    MonitorTest::TearDown();
  }
  std::shared_ptr<ODBCDataSource> NewSavedMonitor() {
    auto monitor = store_.AddNewODBCDataSource();
    monitor->SetOdbc(odbc_);
    EXPECT_EQ(store_.SaveServer(monitor->id), 0);
    EXPECT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + 20s));
    return monitor;
  }
  static std::size_t ConfigCount(const std::string& sql) { return ConfigRows(sql).size(); }

  std::shared_ptr<FakeOdbc> odbc_ = std::make_shared<FakeOdbc>();
  ServerStorage store_;
};

// A process killed inside a commit leaves the file changed and a journal beside it; the
// next start rolls it back to the last complete save and loads that, every time.
TEST_F(CutOffTest, AConfigurationFileCutOffInACommitIsRolledBack) {
  const std::string id = NewSavedMonitor()->id;
  const std::string path = DataFiles::DataFolder() + DataFiles::kConfigFileName;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    // A small cache makes the changes reach the file before the commit.
    sqlite3_exec(db, "PRAGMA cache_size = 1; BEGIN IMMEDIATE; DELETE FROM ODBCDataSources", nullptr,
                 nullptr, nullptr);
    for (int i = 0; i < 3000; ++i) {
      const std::string insert = "INSERT INTO Actions (id, name) VALUES ('" + std::to_string(i) +
                                 "', '" + std::string(300, 'x') + "')";
      sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr);
    }
    kill(getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(std::filesystem::exists(path + "-journal"));
  for (int start = 0; start < 2; ++start) {
    ServerStorage next;
    FileFailure failure;
    EXPECT_EQ(next.LoadAll(&failure), SQLITE_OK) << failure.text;
    EXPECT_FALSE(next.RefusesConfigWrites());
    EXPECT_NE(next.GetServerById(id), nullptr);
    EXPECT_TRUE(next.GetActionList().empty());
  }
}

// A deletion whose helper is still waiting (for a stop, for the data file) has already
// taken its configuration rows, so an exit that comes now loads nothing of it again.
TEST_F(CutOffTest, DeletionsReachTheConfigurationBeforeTheyWait) {
  enum Kind { kMonitorInAHungConnect, kTestQueryWhileAPollHoldsTheDataFile };
  for (Kind kind : {kMonitorInAHungConnect, kTestQueryWhileAPollHoldsTheDataFile}) {
    SCOPED_TRACE(kind);
    auto monitor = NewSavedMonitor();
    const std::string id = monitor->id;
    int status = -1;
    const std::string queryId = store_.AddTestQuery(id, {"q", "SELECT 1"}, &status);
    ASSERT_EQ(status, 0);
    // The query's row is in the file, and no save holds the file's lock when it goes.
    ASSERT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + 20s));
    ASSERT_EQ(ConfigCount("SELECT * FROM TestQueries WHERE id = '" + queryId + "'"), 1u);
    std::string row;
    std::unique_lock gate(Server::DataFileGate(), std::defer_lock);
    if (kind == kMonitorInAHungConnect) {
      odbc_->BlockConnects(true);
      ASSERT_EQ(monitor->Start(), 0u);
      ASSERT_TRUE(odbc_->WaitForBlocked());
      monitor.reset();
      store_.DeleteServer(id);
      row = "SELECT * FROM ODBCDataSources WHERE id = '" + id + "'";
    } else {
      gate.lock();
      ASSERT_EQ(store_.DeleteTestQuery(id, queryId), SQLITE_OK);
      row = "SELECT * FROM TestQueries WHERE id = '" + queryId + "'";
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (ConfigCount(row) != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    EXPECT_EQ(ConfigCount(row), 0u);
    // Once the worker is done with the deletion, its helper has started.
    ASSERT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + 20s));
    EXPECT_FALSE(Server::WaitForHelpers(std::chrono::steady_clock::now()));  // still waiting
    EXPECT_EQ(store_.SaveAll(), SQLITE_OK);
    ServerStorage next;
    ASSERT_EQ(next.LoadAll(), SQLITE_OK);
    EXPECT_EQ(ConfigCount("SELECT * FROM ODBCDataSources WHERE id = '" + id + "'"),
              kind == kMonitorInAHungConnect ? 0u : 1u);
    EXPECT_EQ(ConfigCount("SELECT * FROM TestQueries WHERE id = '" + queryId + "'"), 0u);
    if (gate.owns_lock()) gate.unlock();
    odbc_->Release();
    ASSERT_TRUE(Server::WaitForHelpers(std::chrono::steady_clock::now() + 20s));
  }
}

// A cancel that waits for an unreachable server does not hold the stop past its bound.
TEST_F(CutOffTest, AStopEndsWithinItsBoundWhileTheCancelWaits) {
  Server::SetStopTimeout(200ms);
  auto monitor = NewSavedMonitor();
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->AddTestQuery().query = "SELECT 1";
  }
  odbc_->BlockQueries(true);
  odbc_->BlockCancels(true);
  ASSERT_EQ(monitor->Start(), 0u);
  ASSERT_TRUE(odbc_->WaitForBlocked());
  ASSERT_TRUE(monitor->Stop());
  // Far beyond the bound, but the cancel is still held.
  EXPECT_TRUE(monitor->WaitForStop(std::chrono::steady_clock::now() + 20s));
  EXPECT_EQ(odbc_->Cancels(), 0);
  EXPECT_EQ(monitor->Start(), 0u);
  monitor->Stop();
}

}  // namespace
}  // namespace engine::testing
