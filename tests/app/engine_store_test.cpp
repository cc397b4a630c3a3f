// Start-up and exit over the real monitor store, in a data folder of the test's own: the
// log lines reach the data file, the monitors of the saved running set start again, and
// exit saves the store and records the running set. Monitors point at a data source that
// does not exist, so their polls fail at once.
#include "app/engine_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server.h"
#include "engine/report/email_reporter.h"
#include "engine/store/server_storage.h"
#include "tests/engine/monitor_fixture.h"

namespace app {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class NoLock : public IInstanceLock {
 public:
  bool TryAcquire() override { return true; }
  void Release() override {}
};

class MemorySettings : public IStartupSettings {
 public:
  void Load() override {}
  void Save() override { ++saves; }
  std::string StartedMonitors() const override { return started; }
  void SetStartedMonitors(std::string value) override { started = std::move(value); }
  std::string started;
  int saves = 0;
};

class EngineStoreTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Server::SetStopTimeout(2s);
    // Three saved monitors, as a previous run left them.
    engine::ServerStorage previous;
    previous.LoadAll();
    for (const char* name : {"Sales", "Stock", "Staff"}) {
      auto monitor = previous.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = name;
      monitor->address = "lumivar-test-no-such-source";
      ids_.push_back(monitor->id);
    }
    ASSERT_EQ(previous.SaveAll(), 0);
  }
  void TearDown() override {
    engine::Server::SetStopTimeout(120s);
    MonitorTest::TearDown();
  }

  std::vector<std::string> LogLines(const std::string& text) {
    std::vector<std::string> ids;
    for (const auto& row : engine::testing::DataRows(
             "SELECT monitorId, type FROM Log WHERE text = '" + text + "' ORDER BY rowid")) {
      EXPECT_EQ(row[1], "0");
      ids.push_back(row[0]);
    }
    return ids;
  }

  std::vector<std::string> ids_;
};

TEST_F(EngineStoreTest, StartAndExitOverTheRealStore) {
  engine::ServerStorage storage;
  engine::EMailReporter reporter;
  EngineMonitorStore store(storage, &reporter);
  engine::Services::SetStorage(&storage);
  NoLock lock;
  MemorySettings settings;
  settings.started = " " + ids_[0] + ";" + ids_[2] + ";";
  AppLifecycle life(lock, settings, store, nullptr);

  ASSERT_EQ(life.Start({}, nullptr, [] { return true; }), AppLifecycle::StartResult::kStarted);
  std::vector<MonitorState> states = store.Monitors();
  ASSERT_EQ(states.size(), 3u);
  EXPECT_EQ(states[0].id, ids_[0]);
  EXPECT_TRUE(states[0].running);
  EXPECT_FALSE(states[1].running);
  EXPECT_TRUE(states[2].running);
  EXPECT_THAT(LogLines("Application opened."), ElementsAre(ids_[0], ids_[1], ids_[2]));

  // The user stops one monitor and starts another before closing the program.
  storage.StopServer(ids_[0]);
  storage.StartServer(ids_[1]);
  life.Exit();

  EXPECT_EQ(settings.started, " " + ids_[1] + ";" + ids_[2] + ";");
  EXPECT_EQ(settings.saves, 1);
  for (const MonitorState& m : store.Monitors()) EXPECT_FALSE(m.running) << m.id;
  EXPECT_THAT(LogLines("Application closed."), ElementsAre(ids_[0], ids_[1], ids_[2]));
  // The store was saved: every monitor is in the configuration file.
  std::vector<std::string> saved;
  for (const auto& row : engine::testing::ConfigRows("SELECT id FROM ODBCDataSources"))
    saved.push_back(row[0]);
  EXPECT_THAT(saved, UnorderedElementsAre(ids_[0], ids_[1], ids_[2]));
}

}  // namespace
}  // namespace app
