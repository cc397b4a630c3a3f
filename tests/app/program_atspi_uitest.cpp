// The lumivar program driven from outside as a screen reader's user would drive it: the
// program runs as its own process under the display, in a D-Bus session of the test's own
// with the accessibility bus, and the test reaches its window only through AT-SPI. Two
// monitors were running at the last exit; the test selects one of them in the tree by its
// name, presses the toolbar's Stop, and sees the commands' states follow and the exit
// record keep only the other monitor running. The menu commands that open a modal window
// answer the client's action before the window opens, so the client sees the window and
// closes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "app/app_lifecycle.h"
#include "app/settings/settings.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/registry.h"
#include "tests/app/program_fixture.h"
#include "tests/support/atspi_client.h"

namespace {

using namespace std::chrono_literals;
using program_testing::ProgramTest;
using program_testing::WaitFor;
using testing_support::AtspiClient;
using testing_support::AtspiNode;
using testing_support::DbusSession;

class ProgramAtspiTest : public ProgramTest {
 protected:
  // One session and one client serve every test: libatspi joins one bus per process.
  static void TearDownTestSuite() {
    client_.reset();
    bus_.reset();
    session_.reset();
  }
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    if (!session_) {
      session_.emplace();
      std::string problem;
      if (session_->AccessibilityBusAddress(&problem).empty()) {
        problem_ = "the accessibility bus cannot be started: " + problem;
      } else {
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", session_->Address());
        client_.emplace();
        if (!client_->Connect(&problem)) problem_ = problem;
      }
    }
    if (!problem_.empty()) GTEST_SKIP() << problem_;
    // The program joins the accessibility bus of this session.
    std::erase_if(env_, [](const std::string& e) {
      return e.starts_with("NO_AT_BRIDGE=") || e.starts_with("DBUS_SESSION_BUS_ADDRESS=");
    });
    AddEnv("DBUS_SESSION_BUS_ADDRESS", session_->Address());
  }

  // Saves monitors (their data sources do not exist, so each poll fails at once and the
  // monitor runs on, reporting down) and settings that record them all as running at the
  // last exit; returns their identifiers.
  std::vector<std::string> SaveRunningMonitors(const std::vector<std::string>& names) {
    testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
    std::vector<std::string> ids;
    engine::ServerStorage store;
    store.LoadAll();
    for (const std::string& name : names) {
      auto monitor = store.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = name;
      monitor->address = "lumivar-test-no-such-source";
      ids.push_back(monitor->id);
    }
    EXPECT_EQ(store.SaveAll(), 0);
    app::SettingsValues values;
    for (const std::string& id : ids) values.startedMonitors += " " + id + ";";
    values.layout.wndMode = 1;
    values.layout.wndX = 40;
    values.layout.wndY = 40;
    values.layout.wndWidth = 900;
    values.layout.wndHeight = 640;
    platform::FileSettingsStore settings(SettingsFile());
    EXPECT_TRUE(app::Settings(values).Save(settings));
    return ids;
  }

  // Waits for the object to be found under the application.
  AtspiNode WaitForNode(const AtspiNode& app, const std::string& role, const std::string& name) {
    AtspiNode found;
    WaitFor(
        [&] {
          client_->Dispatch();
          found = app.Find(role, name);
          return static_cast<bool>(found);
        },
        30s);
    return found;
  }

  // Waits until the button's "enabled" state is as expected; false when it stays otherwise.
  bool WaitForEnabled(const AtspiNode& button, bool enabled) {
    return WaitFor(
        [&] {
          client_->Dispatch();
          return button.HasState("enabled") == enabled;
        },
        30s);
  }

  // Waits until the application has (or, with present false, no longer has) a window of
  // that name; the window, or an empty node.
  AtspiNode WaitForWindow(const AtspiNode& app, const std::string& name, bool present = true) {
    AtspiNode found;
    WaitFor(
        [&] {
          client_->Dispatch();
          found = {};
          for (int i = 0; i < app.ChildCount() && !found; ++i) {
            const AtspiNode window = app.Child(i);
            if (window && window.Name() == name) found = window;
          }
          return static_cast<bool>(found) == present;
        },
        30s);
    return found;
  }

  static inline std::optional<DbusSession> session_;
  static inline std::optional<testing_support::ScopedEnv> bus_;
  static inline std::optional<AtspiClient> client_;
  static inline std::string problem_;  // why the tests cannot run, once known
};

TEST_F(ProgramAtspiTest, StopsTheMonitorSelectedInTheTreeThroughTheToolbar) {
  const std::vector<std::string> ids = SaveRunningMonitors({"Sales", "Stock"});
  ASSERT_EQ(ids.size(), 2u);

  const pid_t program = Start();
  ASSERT_GT(program, 0);
  AtspiNode app;
  ASSERT_TRUE(WaitFor(
      [&] {
        app = client_->FindApplication(program);
        return app || WaitExit(program, 0ms) != -1;
      },
      60s))
      << "registered: " << testing::PrintToString(client_->ApplicationNames());
  ASSERT_TRUE(app) << "the program ended: " << StandardError(program);
  EXPECT_EQ(app.Name(), "lumivar");

  const AtspiNode tree = WaitForNode(app, "tree table", "Monitors View");
  ASSERT_TRUE(tree) << app.Describe(12);
  const AtspiNode monitor = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(monitor) << tree.Describe(3);
  ASSERT_TRUE(monitor.SelectRow()) << monitor.Role();

  struct Tool {
    const char* name;
    AtspiNode node;
  };
  Tool tools[] = {{"New", {}}, {"Start", {}}, {"Stop", {}}, {"Settings", {}}};
  for (Tool& tool : tools) {
    tool.node = WaitForNode(app, "push button", tool.name);
    ASSERT_TRUE(tool.node) << tool.name << "\n" << app.Describe(12);
  }
  const AtspiNode& start = tools[1].node;
  const AtspiNode& stop = tools[2].node;

  // Each stage: what was done, then which commands the toolbar offers.
  const struct {
    const char* stage;
    bool startEnabled;
    bool stopEnabled;
  } stages[] = {
      {"the running monitor is selected", false, true},
      {"Stop was pressed", true, false},
  };
  for (const auto& stage : stages) {
    SCOPED_TRACE(stage.stage);
    if (&stage != &stages[0]) {
      ASSERT_TRUE(stop.DoDefaultAction());
    }
    EXPECT_TRUE(WaitForEnabled(stop, stage.stopEnabled)) << app.Describe(12);
    EXPECT_TRUE(WaitForEnabled(start, stage.startEnabled)) << app.Describe(12);
  }

  // The exit records only the monitor that still runs.
  ASSERT_EQ(kill(program, SIGTERM), 0);
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
  platform::FileSettingsStore saved(SettingsFile());
  const std::string running = saved.Read("startedMonitors");
  EXPECT_FALSE(app::IsInStartedMonitors(running, ids[0])) << running;
  EXPECT_TRUE(app::IsInStartedMonitors(running, ids[1])) << running;
}

TEST_F(ProgramAtspiTest, MenuCommandsOpenTheirModalWindowAfterAnsweringTheAction) {
  SaveRunningMonitors({});
  const pid_t program = Start();
  ASSERT_GT(program, 0);
  AtspiNode app;
  ASSERT_TRUE(WaitFor(
      [&] {
        app = client_->FindApplication(program);
        return app || WaitExit(program, 0ms) != -1;
      },
      60s))
      << "registered: " << testing::PrintToString(client_->ApplicationNames());
  ASSERT_TRUE(app) << "the program ended: " << StandardError(program);
  ASSERT_TRUE(WaitForWindow(app, "Lumivar")) << app.Describe(2);

  const struct {
    const char* item;    // the menu item
    const char* window;  // the title of the window it opens
    const char* close;   // the button that closes that window
  } commands[] = {
      {"About Lumivar...", "About Lumivar", "OK"},
      {"New", "New Monitor Wizard - Connection Settings", "Cancel"},
      {"Settings", "Settings", "Cancel"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command.item);
    const AtspiNode item = WaitForNode(app, "menu item", command.item);
    ASSERT_TRUE(item) << app.Describe(12);
    // The action is answered: a modal loop run inside it would leave the call unanswered.
    ASSERT_TRUE(item.DoDefaultAction());
    const AtspiNode window = WaitForWindow(app, command.window);
    ASSERT_TRUE(window) << app.Describe(2);
    const AtspiNode close = WaitForNode(window, "push button", command.close);
    ASSERT_TRUE(close) << window.Describe(12);
    ASSERT_TRUE(close.DoDefaultAction());
    EXPECT_FALSE(WaitForWindow(app, command.window, false)) << app.Describe(2);
    // The program answers again: its window is there and its menu can be read.
    EXPECT_TRUE(WaitForWindow(app, "Lumivar"));
    EXPECT_TRUE(WaitForNode(app, "menu item", command.item));
  }

  ASSERT_EQ(kill(program, SIGTERM), 0);
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
}

}  // namespace
