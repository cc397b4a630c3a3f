// The lumivar program itself, started as a separate process under the display with its
// folders in a temporary place: its window comes up titled "Lumivar", a second start ends
// at once without writing anything, and SIGTERM runs the exit sequence, which saves the
// settings and releases the mark.
#include <gtest/gtest.h>

#include "app/settings/settings.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/registry.h"
#include "tests/app/program_fixture.h"
#include "tests/engine/monitor_fixture.h"

namespace {

using namespace std::chrono_literals;
using program_testing::ProgramTest;
using program_testing::WaitFor;

TEST_F(ProgramTest, StartsOnceShowsItsWindowAndExitsInOrderOnSigterm) {
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  // One saved monitor (its data source does not exist, so its polls fail at once).
  std::string id;
  {
    engine::ServerStorage store;
    store.LoadAll();
    auto monitor = store.AddNewODBCDataSource();
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Sales";
      monitor->address = "lumivar-test-no-such-source";
      id = monitor->id;
    }
    ASSERT_EQ(store.SaveAll(), 0);
  }
  // Saved settings: a normal window at a known place; the monitor was running.
  {
    app::SettingsValues values;
    values.startedMonitors = " " + id + ";";
    values.layout.wndMode = 1;
    values.layout.wndX = 60;
    values.layout.wndY = 70;
    values.layout.wndWidth = 900;
    values.layout.wndHeight = 700;
    platform::FileSettingsStore store(SettingsFile());
    ASSERT_TRUE(app::Settings(values).Save(store));
  }
  const std::string before = ReadSettingsFile();

  const pid_t first = Start();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitFor([&] { return WindowShown() || WaitExit(first, 0ms) != -1; }, 30s));
  ASSERT_TRUE(WindowShown()) << "no window titled Lumivar";
  EXPECT_TRUE(LockHeld());

  // A second start ends at once, silently, and writes nothing.
  const pid_t second = Start();
  ASSERT_GT(second, 0);
  const int secondExit = WaitExit(second, 20s);
  EXPECT_EQ(secondExit, 0) << "the second instance kept running, failed or died";
  EXPECT_EQ(StandardError(second), "");
  EXPECT_EQ(ReadSettingsFile(), before);
  EXPECT_EQ(WaitExit(first, 0ms), -1) << "the first instance ended";

  // SIGTERM closes the window through the event loop: the exit sequence records the
  // running monitor, writes the log lines, saves the settings and releases the mark.
  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first, 30s), 0);
  platform::FileSettingsStore saved(SettingsFile());
  EXPECT_EQ(saved.Read("startedMonitors"), " " + id + ";");
  EXPECT_EQ(saved.Read("Interface\\wndMode"), "1");
  EXPECT_EQ(saved.Read("Interface\\wndWidth"), "900");
  EXPECT_EQ(saved.Read("Interface\\wndHeight"), "700");
  EXPECT_FALSE(LockHeld());
  const auto log = engine::testing::DataRows(
      "SELECT monitorId, text FROM Log WHERE text LIKE 'Application%' ORDER BY rowid");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], (std::vector<std::string>{id, "Application opened."}));
  EXPECT_EQ(log[1], (std::vector<std::string>{id, "Application closed."}));
}

TEST_F(ProgramTest, AnAutorunStartHoldsTheMarkWhileItWaits) {
  const pid_t waiting = Start({"autorun"});
  ASSERT_GT(waiting, 0);
  ASSERT_TRUE(WaitFor([this] { return LockHeld(); }, 10s));
  // A start during the wait ends at once.
  const pid_t second = Start();
  EXPECT_EQ(WaitExit(second, 20s), 0);
  // Still waiting: no window yet, nothing written.
  EXPECT_FALSE(WindowShown());
  EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
  kill(waiting, SIGKILL);
  WaitExit(waiting, 10s);
}

}  // namespace
