// The lumivar program driven from outside as a screen reader's user would drive it: the
// program runs as its own process under the display, in a D-Bus session of the test's own
// with the accessibility bus, and the test reaches its window only through AT-SPI. Two
// monitors were running at the last exit; the test selects one of them in the tree by its
// name, presses the toolbar's Stop, and sees the commands' states follow and the exit
// record keep only the other monitor running. The menu commands that open a modal window
// answer the client's action before the window opens, so the client sees the window and
// closes it. Values that change in a list (a history figure, a test query's name as it is
// typed, an alert's status) and a monitor's name in the tree after it was renamed read as
// they are now; dialogs are exposed as dialogs, and the controls inside them carry names.
// What the exit could not save or show is told, never lost in silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_lifecycle.h"
#include "app/settings/settings.h"
#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/report/report_logic.h"
#include "engine/store/server_storage.h"
#include "platform/registry.h"
#include "tests/app/program_fixture.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/atspi_client.h"
#include "tests/support/foreign_lock.h"

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

  // Saves one stopped monitor "Sales" with a test query "Orders" and an error alert on its
  // availability that shows a message box on the first failed poll.
  void SaveStoppedMonitorWithAlert() {
    testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
    engine::ServerStorage store;
    store.LoadAll();
    engine::MonitorSettings sales;
    sales.name = "Sales";
    sales.address = "lumivar-test-no-such-source";
    const std::string id = store.AddMonitor(sales);
    ASSERT_FALSE(id.empty());
    ASSERT_FALSE(store.AddTestQuery(id, {"Orders", "SELECT 1"}).empty());
    engine::ActionSettings box;
    box.name = "Box";
    box.type = 4;  // user interface: a message box
    const std::string action = store.AddAction(box);
    ASSERT_FALSE(action.empty());
    const std::optional<engine::MonitorSnapshot> snapshot = store.GetMonitorSnapshot(id);
    ASSERT_TRUE(snapshot);
    std::string availability;
    for (const auto& attribute : snapshot->attributes) {
      if (attribute.displayName == "Monitor Availability") availability = attribute.id;
    }
    ASSERT_FALSE(availability.empty());
    ASSERT_FALSE(store.AddAlert(id, {action, availability, 0, 2, 0}).empty());  // "=" 0
    // A store that goes drops what was committed behind a write under way.
    ASSERT_TRUE(store.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    // A sample from three days back: today's figures count from midnight.
    db::Database data;
    ASSERT_EQ(engine::DataFiles::OpenDatabase(data, engine::DataFiles::kDataFileName), 0);
    ASSERT_EQ(
        db::Database::ExecSQL(
            data,
            engine::sql::InsertOdbcDataSourceData(
                {.monitorId = id, .time = std::time(nullptr) - 3 * 86400, .available = true})),
        0);
    app::SettingsValues values;
    values.layout.wndMode = 1;
    values.layout.wndX = 40;
    values.layout.wndY = 40;
    values.layout.wndWidth = 1000;
    values.layout.wndHeight = 700;
    platform::FileSettingsStore settings(SettingsFile());
    EXPECT_TRUE(app::Settings(values).Save(settings));
  }

  // Starts the program and waits for its application object.
  AtspiNode StartAndFindApplication(pid_t* pid) {
    *pid = Start();
    AtspiNode app;
    WaitFor(
        [&] {
          app = client_->FindApplication(*pid);
          return app || WaitExit(*pid, 0ms) != -1;
        },
        60s);
    return app;
  }

  // Starts the program with a stopped monitor "Sales" that has an alert, and finds its main
  // window and the tree in it; fails the test when one of them does not come.
  struct Started {
    pid_t program = -1;
    AtspiNode app;
    AtspiNode frame;
    AtspiNode tree;
  };
  void StartWithMonitorAndFindTree(Started* started) {
    SaveStoppedMonitorWithAlert();
    if (HasFatalFailure()) return;
    started->app = StartAndFindApplication(&started->program);
    ASSERT_TRUE(started->app) << "the program did not register: "
                              << StandardError(started->program);
    started->frame = WaitForShowing(started->app, "frame", "Lumivar");
    ASSERT_TRUE(started->frame) << started->app.Describe(3);
    started->tree = WaitForNode(started->frame, "tree table", "Monitors View");
    ASSERT_TRUE(started->tree) << started->frame.Describe(8);
  }

  // Selects the monitor "Sales" in the tree, types the new name into the settings view's
  // "Display Name" and presses Update; *node is the monitor's cell in the tree.
  void RenameSales(const Started& started, const std::string& newName, AtspiNode* node) {
    *node = WaitForNode(started.tree, "table cell", "Sales");
    ASSERT_TRUE(*node) << started.tree.Describe(3);
    ASSERT_TRUE(node->SelectRow());
    const AtspiNode name = WaitForShowing(started.frame, "text", "Display Name");
    const AtspiNode update = WaitForShowing(started.frame, "push button", "Update");
    ASSERT_TRUE(name && update) << started.frame.Describe(16);
    ASSERT_TRUE(name.SetText(newName));
    ASSERT_TRUE(update.DoDefaultAction());
  }

  std::string ConfigFile() const { return root_.File("docs") + "/Lumivar/varnholt.cfg"; }

  // Starts the program with its monitor "Sales", has another process hold the
  // configuration file's write lock, and renames the monitor "Sales Renamed" in the
  // settings view; the window shows the new name.
  void RenameWhileTheFileIsHeld(Started* started,
                                std::unique_ptr<testing_support::ForeignProcessLock>* holder,
                                AtspiNode* monitor) {
    ASSERT_NO_FATAL_FAILURE(StartWithMonitorAndFindTree(started));
    *holder = std::make_unique<testing_support::ForeignProcessLock>(ConfigFile());
    ASSERT_TRUE((*holder)->Held());
    ASSERT_NO_FATAL_FAILURE(RenameSales(*started, "Sales Renamed", monitor));
    ASSERT_TRUE(WaitForName(*monitor, "Sales Renamed"));
  }

  // With the file held and the monitor renamed (RenameWhileTheFileIsHeld), shows the
  // monitor's test queries and presses Remove on "Orders".
  void RemoveOrdersWhileTheFileIsHeld(
      Started* out, std::unique_ptr<testing_support::ForeignProcessLock>* holder) {
    AtspiNode monitor;
    ASSERT_NO_FATAL_FAILURE(RenameWhileTheFileIsHeld(out, holder, &monitor));
    const Started& started = *out;
    ASSERT_TRUE(monitor.DoAction("expand or contract")) << monitor.Describe(1);
    const AtspiNode view = WaitForNode(started.tree, "table cell", "Test queries");
    ASSERT_TRUE(view && view.SelectRow()) << started.tree.Describe(3);
    const AtspiNode queries = WaitForShowing(started.frame, "table", "Test Queries");
    ASSERT_TRUE(queries) << started.frame.Describe(16);
    const AtspiNode orders = queries.CellAt(0, 1);
    ASSERT_TRUE(WaitForName(orders, "Orders")) << queries.Describe(3);
    ASSERT_TRUE(orders.SelectRow());
    const AtspiNode remove = WaitForShowing(started.frame, "push button", "Remove");
    ASSERT_TRUE(remove) << started.frame.Describe(16);
    ASSERT_TRUE(remove.DoDefaultAction());
  }

  // The test queries the file holds, and whether the user was told that the file refused
  // a removal: in the alert box, or on standard error, or in the log at exit.
  std::vector<std::string> QueriesInTheFile() {
    testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
    std::vector<std::string> names;
    for (const auto& row : engine::testing::ConfigRows("SELECT name FROM TestQueries")) {
      names.push_back(row.at(0));
    }
    return names;
  }

  // The first object under `root` with that role and name that is on screen (the views
  // not shown stay in the tree, hidden).
  static AtspiNode FindShowing(const AtspiNode& root, const std::string& role,
                               const std::string& name, int maxDepth = 24) {
    std::deque<std::pair<AtspiNode, int>> queue{{root, 0}};
    while (!queue.empty()) {
      auto [node, depth] = std::move(queue.front());
      queue.pop_front();
      if (!node || (depth > 0 && !node.HasState("showing"))) continue;
      if (depth > 0 && node.Role() == role && (name.empty() || node.Name() == name)) return node;
      if (depth >= maxDepth) continue;
      for (int i = 0, n = node.ChildCount(); i < n; ++i)
        queue.emplace_back(node.Child(i), depth + 1);
    }
    return {};
  }
  AtspiNode WaitForShowing(const AtspiNode& root, const std::string& role,
                           const std::string& name) {
    AtspiNode found;
    WaitFor(
        [&] {
          client_->Dispatch();
          found = FindShowing(root, role, name);
          return static_cast<bool>(found);
        },
        30s);
    return found;
  }
  // Waits until the object's name is `name` (or, with prefix, starts with it).
  bool WaitForName(const AtspiNode& node, const std::string& name, bool prefix = false) {
    return WaitFor(
        [&] {
          client_->Dispatch();
          const std::string now = node.CurrentName();
          return prefix ? now.starts_with(name) : now == name;
        },
        30s);
  }
  // The text part of a cell made of an image and a text, or the cell itself.
  static AtspiNode TextOf(const AtspiNode& cell) {
    const int parts = cell.ChildCount();
    return parts > 0 ? cell.Child(parts - 1) : cell;
  }
  // The objects of these roles under `root` that have no name, as "role in 'parent'".
  static std::vector<std::string> Unnamed(const AtspiNode& root,
                                          const std::vector<std::string>& roles) {
    std::vector<std::string> unnamed;
    std::deque<AtspiNode> queue{root};
    while (!queue.empty()) {
      const AtspiNode node = std::move(queue.front());
      queue.pop_front();
      const std::string role = node.Role();
      if (std::find(roles.begin(), roles.end(), role) != roles.end() && node.Name().empty()) {
        unnamed.push_back(role + " in '" + node.Parent().Name() + "'");
      }
      for (int i = 0, n = node.ChildCount(); i < n; ++i) queue.push_back(node.Child(i));
    }
    return unnamed;
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

  // Waits until the application has (or, with present false, no longer has) a window that
  // matches; that window, or an empty node.
  AtspiNode WaitForChild(const AtspiNode& app, const std::function<bool(const AtspiNode&)>& match,
                         bool present) {
    AtspiNode found;
    WaitFor(
        [&] {
          client_->Dispatch();
          found = {};
          for (int i = 0; i < app.ChildCount() && !found; ++i) {
            const AtspiNode window = app.Child(i);
            if (window && match(window)) found = window;
          }
          return static_cast<bool>(found) == present;
        },
        30s);
    return found;
  }

  // A window of that name.
  AtspiNode WaitForWindow(const AtspiNode& app, const std::string& name, bool present = true) {
    return WaitForChild(
        app, [&](const AtspiNode& window) { return window.Name() == name; }, present);
  }

  // A window that is not the main window, such as a message box.
  AtspiNode WaitForBox(const AtspiNode& app, bool present) {
    return WaitForChild(
        app,
        [](const AtspiNode& window) {
          return window.Role() != "frame" && window.HasState("showing");
        },
        present);
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
    EXPECT_EQ(window.Role(), "dialog");
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

// The items of a menu bar's menu that is not open show their states as they are, and a
// client's click on one does what choosing it does: Delete is disabled while the tree's
// root is selected and offers no click (the click's own refusal is tested in the program's
// process, menu_images_uitest.cpp), the View menu's Toolbar check item hides and shows the
// toolbar, and Delete with a monitor selected asks and deletes it. The toolkit says nothing
// on standard error (the fixture checks that).
TEST_F(ProgramAtspiTest, ItemsOfAClosedMenuDoWhatChoosingThemDoes) {
  Started started;
  ASSERT_NO_FATAL_FAILURE(StartWithMonitorAndFindTree(&started));
  const AtspiNode& app = started.app;
  const AtspiNode& frame = started.frame;
  const AtspiNode& tree = started.tree;
  const AtspiNode root = WaitForNode(tree, "table cell", "Monitors");
  ASSERT_TRUE(root && root.HasState("selected")) << tree.Describe(3);
  const AtspiNode remove = WaitForNode(frame, "menu item", "Delete");
  const AtspiNode toolbar = WaitForNode(frame, "check menu item", "Toolbar");
  ASSERT_TRUE(remove && toolbar) << frame.Describe(8);
  ASSERT_TRUE(WaitForEnabled(remove, false));
  EXPECT_FALSE(remove.DoDefaultAction());

  for (const bool shown : {false, true}) {
    SCOPED_TRACE(shown ? "shown again" : "hidden");
    ASSERT_TRUE(toolbar.DoDefaultAction());
    EXPECT_TRUE(WaitFor(
        [&] {
          client_->Dispatch();
          return static_cast<bool>(FindShowing(frame, "push button", "New")) == shown &&
                 toolbar.HasState("checked") == shown;
        },
        30s))
        << frame.Describe(4);
  }

  const AtspiNode sales = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(sales && sales.SelectRow()) << tree.Describe(3);
  ASSERT_TRUE(WaitForEnabled(remove, true));
  ASSERT_TRUE(remove.DoDefaultAction());
  const AtspiNode confirm = WaitForBox(app, true);
  ASSERT_TRUE(confirm) << app.Describe(2);
  const AtspiNode yes = WaitForNode(confirm, "push button", "Yes");
  ASSERT_TRUE(yes) << confirm.Describe(8);
  ASSERT_TRUE(yes.DoDefaultAction());
  EXPECT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return !tree.Find("table cell", "Sales");
      },
      30s))
      << tree.Describe(3);
  EXPECT_FALSE(WaitForBox(app, false)) << "the confirmation stayed";

  ASSERT_EQ(kill(started.program, SIGTERM), 0);
  EXPECT_EQ(WaitExit(started.program, 30s), 0) << StandardError(started.program);
}

// Values written into list cells in place (a history figure reloaded for another period, a
// test query's name as it is typed, an alert's status when it fires) read as they are now.
TEST_F(ProgramAtspiTest, ChangedListValuesReadAsTheyAreNow) {
  Started started;
  ASSERT_NO_FATAL_FAILURE(StartWithMonitorAndFindTree(&started));
  const pid_t program = started.program;
  const AtspiNode& app = started.app;
  const AtspiNode& frame = started.frame;
  const AtspiNode& tree = started.tree;
  const AtspiNode monitor = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(monitor) << tree.Describe(3);
  ASSERT_TRUE(monitor.DoAction("expand or contract")) << monitor.Describe(1);
  const auto showView = [&](const char* node) {
    const AtspiNode cell = WaitForNode(tree, "table cell", node);
    return cell && cell.SelectRow();
  };

  // An alert's status when the first poll fails and the alert fires; its message box has
  // a named text and icon and is a dialog.
  ASSERT_TRUE(showView("Alerts")) << tree.Describe(3);
  const AtspiNode alerts = WaitForShowing(frame, "table", "Alerts");
  ASSERT_TRUE(alerts) << frame.Describe(16);
  const AtspiNode status = alerts.CellAt(0, 7);
  ASSERT_TRUE(status) << alerts.Describe(3);
  EXPECT_EQ(status.CurrentName(), "");
  const AtspiNode start = WaitForNode(frame, "push button", "Start");
  ASSERT_TRUE(start);
  ASSERT_TRUE(WaitForEnabled(start, true));
  ASSERT_TRUE(start.DoDefaultAction());
  EXPECT_TRUE(WaitForName(status, "ERROR. Alert", true)) << alerts.Describe(3);
  const AtspiNode box = WaitForShowing(app, "dialog", "Lumivar - Alert");
  ASSERT_TRUE(box) << app.Describe(1);
  EXPECT_EQ(Unnamed(box, {"text", "icon", "push button"}), std::vector<std::string>{})
      << box.Describe(8);
  const AtspiNode close = box.Find("push button", "Close");
  ASSERT_TRUE(close);
  EXPECT_TRUE(close.DoDefaultAction());

  // A history figure: "Today" holds the failed poll, down since midnight, "Yesterday" no
  // row at all. The figure's cell is read before the first load too.
  ASSERT_TRUE(showView("History"));
  const AtspiNode figures = WaitForShowing(frame, "table", "Availability");
  ASSERT_TRUE(figures) << frame.Describe(16);
  const AtspiNode upShare = TextOf(figures.CellAt(2, 1));
  ASSERT_TRUE(upShare) << figures.Describe(4);
  EXPECT_TRUE(WaitForName(upShare, "0.00%")) << upShare.CurrentName();
  const AtspiNode period = WaitForShowing(frame, "combo box", "Period");
  ASSERT_TRUE(period) << frame.Describe(16);
  EXPECT_EQ(Unnamed(period.Parent(), {"text", "spin button", "combo box"}),
            std::vector<std::string>{})
      << period.Parent().Describe(6);
  for (const char* picker : {"From date", "From time", "To date", "To time"}) {
    EXPECT_TRUE(period.Parent().Find("text", picker, 8)) << picker;
  }
  EXPECT_TRUE(period.Parent().Find("spin button", "To time", 8)) << period.Parent().Describe(8);
  ASSERT_TRUE(period.SelectChild(engine::kPeriodYesterday));
  EXPECT_TRUE(WaitForName(upShare, "-")) << upShare.CurrentName();

  // A test query's name as it is typed into its entry.
  ASSERT_TRUE(showView("Test queries"));
  const AtspiNode queries = WaitForShowing(frame, "table", "Test Queries");
  ASSERT_TRUE(queries) << frame.Describe(16);
  const AtspiNode name = queries.CellAt(0, 1);
  ASSERT_TRUE(WaitForName(name, "Orders")) << queries.Describe(3);
  ASSERT_TRUE(name.SelectRow());
  const AtspiNode entry = WaitForShowing(frame, "text", "Name");
  ASSERT_TRUE(entry) << frame.Describe(16);
  ASSERT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return entry.CurrentName() == "Name" && entry.SetText("Stock levels");
      },
      30s));
  EXPECT_TRUE(WaitForName(name, "Stock levels")) << name.CurrentName();

  ASSERT_EQ(kill(program, SIGTERM), 0);
  EXPECT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
}

// A monitor renamed through Update in its settings view reads under its new name in the
// tree, for a client that read the node under its old name before.
TEST_F(ProgramAtspiTest, ARenamedMonitorReadsUnderItsNewNameInTheTree) {
  Started started;
  ASSERT_NO_FATAL_FAILURE(StartWithMonitorAndFindTree(&started));
  const pid_t program = started.program;
  AtspiNode monitor;
  ASSERT_NO_FATAL_FAILURE(RenameSales(started, "Sales Renamed", &monitor));

  // Read as a screen reader reads: through the client's cache, which the program's events
  // keep current; then asked of the program anew.
  EXPECT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return monitor.Name() == "Sales Renamed";
      },
      30s))
      << monitor.Name();
  EXPECT_EQ(monitor.CurrentName(), "Sales Renamed");

  ASSERT_EQ(kill(program, SIGTERM), 0);
  EXPECT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
}

// The window is closed while another program holds the configuration file: the rename the
// window shows is not lost unseen. Before the window goes, a box names the file and asks;
// Keep Running leaves the window up with the new name; Try Again once the holder has let
// go writes it, and the program ends.
TEST_F(ProgramAtspiTest, ClosingWhileTheFileIsHeldAsksBeforeAnEditIsLost) {
  Started started;
  std::unique_ptr<testing_support::ForeignProcessLock> holder;
  AtspiNode monitor;
  ASSERT_NO_FATAL_FAILURE(RenameWhileTheFileIsHeld(&started, &holder, &monitor));
  const pid_t program = started.program;
  const AtspiNode& frame = started.frame;
  const std::string config = ConfigFile();

  const auto waitForBox = [&](bool present) { return WaitForBox(started.app, present); };
  for (const char* answer : {"Keep Running", "Try Again"}) {
    SCOPED_TRACE(answer);
    ASSERT_TRUE(AskWindowToClose("Lumivar"));
    const AtspiNode box = waitForBox(true);
    ASSERT_TRUE(box) << started.app.Describe(2) << StandardError(program);
    EXPECT_TRUE(box.Find("label", "", 8)
                    .Name()
                    .starts_with("The configuration could not be saved to " + config +
                                 ": database is locked."))
        << box.Describe(8);
    // Asked before the window goes.
    EXPECT_TRUE(frame.HasState("showing"));
    if (std::string(answer) == "Try Again") {
      ASSERT_TRUE(holder->Release());
    }
    const AtspiNode button = WaitForNode(box, "push button", answer);
    ASSERT_TRUE(button) << box.Describe(8);
    ASSERT_TRUE(button.DoDefaultAction());
    if (std::string(answer) == "Keep Running") {
      EXPECT_FALSE(waitForBox(false)) << "the box stayed";
      EXPECT_EQ(WaitExit(program, 500ms), -1) << "the program ended";
      EXPECT_TRUE(frame.HasState("showing"));
      EXPECT_EQ(monitor.CurrentName(), "Sales Renamed");
    }
  }
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  EXPECT_EQ(engine::testing::ConfigRows("SELECT name FROM ODBCDataSources"),
            engine::testing::Rows{{"Sales Renamed"}});
}

// A monitor deleted while another program holds the configuration file is not lost unseen
// at the close: a box names the file and asks while the window still shows, and Keep
// Running leaves the monitor out of the window and its rows in both files. Once the holder
// lets go, the deletion reaches the file by itself, then its data rows go; the window then
// closes without asking, and the next start does not bring the monitor back.
TEST_F(ProgramAtspiTest, AMonitorDeletedWhileTheFileIsHeldReachesItOnceLetGo) {
  Started started;
  ASSERT_NO_FATAL_FAILURE(StartWithMonitorAndFindTree(&started));
  const pid_t program = started.program;
  const AtspiNode& app = started.app;
  const AtspiNode& frame = started.frame;
  const AtspiNode& tree = started.tree;
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  const engine::testing::Rows ids = engine::testing::ConfigRows("SELECT id FROM ODBCDataSources");
  ASSERT_EQ(ids.size(), 1u);
  const std::string of = "'" + ids[0][0] + "'";
  // The monitor's rows in each table of the configuration file, and in the data file.
  const auto configRows = [&] {
    return engine::testing::ConfigRows(
        "SELECT (SELECT count(*) FROM ODBCDataSources WHERE id = " + of +
        "), (SELECT count(*) FROM TestQueries WHERE monitorId = " + of +
        "), (SELECT count(*) > 0 FROM HealthAttributes WHERE monitorId = " + of +
        "), (SELECT count(*) FROM Alerts WHERE monitorId = " + of + ")");
  };
  const auto dataRows = [&] {
    return engine::testing::DataRows("SELECT count(*) FROM ODBCDataSourcesData WHERE monitorId = " +
                                     of);
  };
  ASSERT_EQ(configRows(), (engine::testing::Rows{{"1", "1", "1", "1"}}));
  ASSERT_EQ(dataRows(), engine::testing::Rows{{"1"}});
  const auto salesShown = [&] {
    client_->Dispatch();
    return static_cast<bool>(tree.Find("table cell", "Sales"));
  };

  auto holder = std::make_unique<testing_support::ForeignProcessLock>(ConfigFile());
  ASSERT_TRUE(holder->Held());
  const AtspiNode sales = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(sales && sales.SelectRow()) << tree.Describe(3);
  const AtspiNode remove = WaitForNode(frame, "menu item", "Delete");
  ASSERT_TRUE(remove) << frame.Describe(8);
  ASSERT_TRUE(remove.DoDefaultAction());
  const AtspiNode confirm = WaitForBox(app, true);
  ASSERT_TRUE(confirm) << app.Describe(2);
  const AtspiNode yes = WaitForNode(confirm, "push button", "Yes");
  ASSERT_TRUE(yes) << confirm.Describe(8);
  ASSERT_TRUE(yes.DoDefaultAction());
  ASSERT_TRUE(WaitFor([&] { return !salesShown(); }, 30s)) << tree.Describe(3);
  ASSERT_FALSE(WaitForBox(app, false)) << "the confirmation stayed";

  ASSERT_TRUE(AskWindowToClose("Lumivar"));
  const AtspiNode box = WaitForBox(app, true);
  ASSERT_TRUE(box) << app.Describe(2) << StandardError(program);
  EXPECT_TRUE(box.Find("label", "", 8)
                  .Name()
                  .starts_with("The configuration could not be saved to " + ConfigFile() +
                               ": database is locked."))
      << box.Describe(8);
  EXPECT_TRUE(frame.HasState("showing"));
  const AtspiNode keep = WaitForNode(box, "push button", "Keep Running");
  ASSERT_TRUE(keep) << box.Describe(8);
  ASSERT_TRUE(keep.DoDefaultAction());
  EXPECT_FALSE(WaitForBox(app, false)) << "the box stayed";
  EXPECT_EQ(WaitExit(program, 500ms), -1) << "the program ended";
  EXPECT_TRUE(frame.HasState("showing"));
  EXPECT_FALSE(salesShown());
  // The data rows wait for the configuration rows.
  EXPECT_EQ(dataRows(), engine::testing::Rows{{"1"}});

  ASSERT_TRUE(holder->Release());
  EXPECT_TRUE(WaitFor(
      [&] {
        return configRows() == engine::testing::Rows{{"0", "0", "0", "0"}};
      },
      30s))
      << testing::PrintToString(configRows());
  EXPECT_TRUE(WaitFor([&] { return dataRows() == engine::testing::Rows{{"0"}}; }, 30s));
  ASSERT_TRUE(AskWindowToClose("Lumivar"));
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
  EXPECT_EQ(configRows(), (engine::testing::Rows{{"0", "0", "0", "0"}}));

  pid_t again = -1;
  const AtspiNode restarted = StartAndFindApplication(&again);
  ASSERT_TRUE(restarted) << "the program did not register: " << StandardError(again);
  const AtspiNode monitors = WaitForNode(restarted, "tree table", "Monitors View");
  ASSERT_TRUE(monitors && WaitForNode(monitors, "table cell", "Monitors"))
      << restarted.Describe(12);
  EXPECT_FALSE(monitors.Find("table cell", "Sales")) << monitors.Describe(3);
  ASSERT_EQ(kill(again, SIGTERM), 0);
  EXPECT_EQ(WaitExit(again, 30s), 0) << StandardError(again);
}

// The window is closed while the settings file cannot be written (a line in it no longer
// parses): the monitor the user stopped is not restarted unseen at the next start. Before
// the window goes, a box names the file and asks; Keep Running leaves the window up; Try
// Again once the file is mended records the running set without the stopped monitor.
TEST_F(ProgramAtspiTest, ClosingWhileTheSettingsCannotBeSavedAsksBeforeAStopIsLost) {
  const std::vector<std::string> ids = SaveRunningMonitors({"Sales", "Stock"});
  ASSERT_EQ(ids.size(), 2u);
  pid_t program = -1;
  const AtspiNode app = StartAndFindApplication(&program);
  ASSERT_TRUE(app) << "the program did not register: " << StandardError(program);
  const AtspiNode frame = WaitForShowing(app, "frame", "Lumivar");
  ASSERT_TRUE(frame) << app.Describe(3);
  const AtspiNode tree = WaitForNode(frame, "tree table", "Monitors View");
  ASSERT_TRUE(tree) << frame.Describe(8);
  const AtspiNode sales = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(sales && sales.SelectRow()) << tree.Describe(3);
  const AtspiNode stop = WaitForNode(app, "push button", "Stop");
  const AtspiNode start = WaitForNode(app, "push button", "Start");
  ASSERT_TRUE(stop && start) << app.Describe(12);
  ASSERT_TRUE(WaitForEnabled(stop, true));
  ASSERT_TRUE(stop.DoDefaultAction());
  ASSERT_TRUE(WaitForEnabled(start, true));

  const std::string good = ReadSettingsFile();
  std::ofstream(SettingsFile(), std::ios::trunc) << good << "a line without an equals sign\n";
  for (const char* answer : {"Keep Running", "Try Again"}) {
    SCOPED_TRACE(answer);
    ASSERT_TRUE(AskWindowToClose("Lumivar"));
    const AtspiNode box = WaitForBox(app, true);
    ASSERT_TRUE(box) << app.Describe(2) << StandardError(program);
    EXPECT_TRUE(
        box.Find("label", "", 8)
            .Name()
            .starts_with("The settings could not be saved to " + SettingsFile() + ": line "))
        << box.Describe(8);
    EXPECT_TRUE(frame.HasState("showing"));
    if (std::string(answer) == "Try Again") std::ofstream(SettingsFile(), std::ios::trunc) << good;
    const AtspiNode button = WaitForNode(box, "push button", answer);
    ASSERT_TRUE(button) << box.Describe(8);
    ASSERT_TRUE(button.DoDefaultAction());
    if (std::string(answer) == "Keep Running") {
      EXPECT_FALSE(WaitForBox(app, false)) << "the box stayed";
      EXPECT_EQ(WaitExit(program, 500ms), -1) << "the program ended";
      EXPECT_TRUE(frame.HasState("showing"));
    }
  }
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
  const std::string running = platform::FileSettingsStore(SettingsFile()).Read("startedMonitors");
  EXPECT_FALSE(app::IsInStartedMonitors(running, ids[0])) << running;
  EXPECT_TRUE(app::IsInStartedMonitors(running, ids[1])) << running;
}

// SIGTERM while another program holds the configuration file and a rename waits for it:
// nobody is asked; the program ends, says why on standard error, and leaves one row in the
// monitor's log, which the Log view shows at the next start.
TEST_F(ProgramAtspiTest, ASigtermWhileTheFileIsHeldLeavesTheLostEditInTheLog) {
  Started started;
  std::unique_ptr<testing_support::ForeignProcessLock> holder;
  AtspiNode monitor;
  ASSERT_NO_FATAL_FAILURE(RenameWhileTheFileIsHeld(&started, &holder, &monitor));
  const pid_t program = started.program;
  const std::string config = ConfigFile();

  ASSERT_EQ(kill(program, SIGTERM), 0);
  EXPECT_EQ(WaitExit(program, 60s), 0) << StandardError(program);
  const std::string failure =
      "The configuration could not be saved to " + config + ": database is locked.";
  EXPECT_NE(StandardError(program).find(failure), std::string::npos) << StandardError(program);
  EXPECT_TRUE(holder->Release());
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  const engine::testing::Rows ids = engine::testing::ConfigRows("SELECT id FROM ODBCDataSources");
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(
      engine::testing::DataRows("SELECT monitorId, text FROM Log WHERE text LIKE "
                                "'The configuration could not be saved%'"),
      (engine::testing::Rows{{ids[0][0], failure + " The changes that were not saved are lost."}}));
  EXPECT_EQ(engine::testing::ConfigRows("SELECT name FROM ODBCDataSources"),
            engine::testing::Rows{{"Sales"}});
}

// The window is closed right after a test query is removed while another program holds the
// configuration file, and a rename waits for it too. Whichever comes first, the removal's
// refusal or the close, the user is not left with a removal undone in silence: either the
// refusal is told (and "Orders" is back in the window and in the file), or the close's
// question names the removal, which Try Again, once the holder lets go, writes.
TEST_F(ProgramAtspiTest, ClosingRightAfterARemovalWhileTheFileIsHeldLosesNothingUntold) {
  Started started;
  std::unique_ptr<testing_support::ForeignProcessLock> holder;
  ASSERT_NO_FATAL_FAILURE(RemoveOrdersWhileTheFileIsHeld(&started, &holder));
  const pid_t program = started.program;
  ASSERT_TRUE(AskWindowToClose("Lumivar"));

  const AtspiNode question = WaitForChild(
      started.app,
      [](const AtspiNode& w) { return static_cast<bool>(w.Find("push button", "Try Again", 8)); },
      true);
  ASSERT_TRUE(question) << started.app.Describe(2) << StandardError(program);
  const std::string asked = question.Find("label", "", 8).Name();
  EXPECT_TRUE(asked.starts_with("The configuration could not be saved to " + ConfigFile() +
                                ": database is locked."))
      << asked;
  const bool named =
      asked.find(
          "Still in it, though removed in the window: the test query \"Orders\" of the "
          "monitor \"Sales Renamed\".") != std::string::npos;
  // Refused before the close: told in the alert box, which waits or shows beside the question.
  // (The removal's refusal is the only message this program has to show.)
  const bool shownInABox = static_cast<bool>(started.app.Find("dialog", "Lumivar - Alert", 1));
  ASSERT_TRUE(holder->Release());
  const AtspiNode again = WaitForNode(question, "push button", "Try Again");
  ASSERT_TRUE(again && again.DoDefaultAction());
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);

  const std::vector<std::string> queries = QueriesInTheFile();
  if (named) {
    EXPECT_EQ(queries, std::vector<std::string>{}) << "Try Again did not write the removal";
  } else {
    // Told in a box the user saw, or, never shown, on standard error at the exit.
    EXPECT_TRUE(shownInABox ||
                StandardError(program).find("could not be saved") != std::string::npos)
        << StandardError(program);
    EXPECT_EQ(queries, std::vector<std::string>{"Orders"});
  }
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  EXPECT_EQ(engine::testing::ConfigRows("SELECT name FROM ODBCDataSources"),
            engine::testing::Rows{{"Sales Renamed"}});
}

// SIGTERM right after a test query is removed while another program holds the file, which
// lets go shortly after: the exit saves without asking, and either the removal reaches the
// file or the user is told on standard error and in the log that the file still holds it.
TEST_F(ProgramAtspiTest, ASigtermRightAfterARemovalWhileTheFileIsHeldLosesNothingUntold) {
  Started started;
  std::unique_ptr<testing_support::ForeignProcessLock> holder;
  ASSERT_NO_FATAL_FAILURE(RemoveOrdersWhileTheFileIsHeld(&started, &holder));
  const pid_t program = started.program;
  ASSERT_EQ(kill(program, SIGTERM), 0);
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(holder->Release());
  ASSERT_EQ(WaitExit(program, 60s), 0) << StandardError(program);

  const std::string told = StandardError(program);
  if (QueriesInTheFile() == std::vector<std::string>{"Orders"}) {
    EXPECT_NE(told.find("could not be saved to " + ConfigFile()), std::string::npos) << told;
    testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
    EXPECT_FALSE(engine::testing::DataRows("SELECT 1 FROM Log WHERE text LIKE "
                                           "'%could not be saved%'")
                     .empty());
  } else {
    EXPECT_EQ(QueriesInTheFile(), std::vector<std::string>{});
  }
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  EXPECT_EQ(engine::testing::ConfigRows("SELECT name FROM ODBCDataSources"),
            engine::testing::Rows{{"Sales Renamed"}});
}

// A running monitor deleted while another program holds the configuration file, then the
// close's question answered Exit Without Saving: the file still holds the monitor, and the
// next start shows it running again with the others, not stopped without a word.
TEST_F(ProgramAtspiTest, ARunningMonitorWhoseDeletionIsGivenUpRunsAgainAtTheNextStart) {
  const std::vector<std::string> ids = SaveRunningMonitors({"Sales", "Stock"});
  ASSERT_EQ(ids.size(), 2u);
  pid_t program = -1;
  const AtspiNode app = StartAndFindApplication(&program);
  ASSERT_TRUE(app) << "the program did not register: " << StandardError(program);
  const AtspiNode frame = WaitForShowing(app, "frame", "Lumivar");
  ASSERT_TRUE(frame) << app.Describe(3);
  const AtspiNode tree = WaitForNode(frame, "tree table", "Monitors View");
  ASSERT_TRUE(tree) << frame.Describe(8);
  const AtspiNode sales = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(sales && sales.SelectRow()) << tree.Describe(3);
  ASSERT_TRUE(WaitForEnabled(WaitForNode(app, "push button", "Stop"), true));

  auto holder = std::make_unique<testing_support::ForeignProcessLock>(ConfigFile());
  ASSERT_TRUE(holder->Held());
  const AtspiNode remove = WaitForNode(frame, "menu item", "Delete");
  ASSERT_TRUE(remove && remove.DoDefaultAction()) << frame.Describe(8);
  const AtspiNode confirm = WaitForBox(app, true);
  ASSERT_TRUE(confirm) << app.Describe(2);
  const AtspiNode yes = WaitForNode(confirm, "push button", "Yes");
  ASSERT_TRUE(yes && yes.DoDefaultAction()) << confirm.Describe(8);
  ASSERT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return !tree.Find("table cell", "Sales");
      },
      30s))
      << tree.Describe(3);
  ASSERT_FALSE(WaitForBox(app, false)) << "the confirmation stayed";

  ASSERT_TRUE(AskWindowToClose("Lumivar"));
  const AtspiNode box = WaitForBox(app, true);
  ASSERT_TRUE(box) << app.Describe(2) << StandardError(program);
  EXPECT_NE(box.Find("label", "", 8).Name().find("the monitor \"Sales\""), std::string::npos)
      << box.Describe(8);
  const AtspiNode drop = WaitForNode(box, "push button", "Exit Without Saving");
  ASSERT_TRUE(drop && drop.DoDefaultAction()) << box.Describe(8);
  ASSERT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
  ASSERT_TRUE(holder->Release());

  const std::string running = platform::FileSettingsStore(SettingsFile()).Read("startedMonitors");
  EXPECT_TRUE(app::IsInStartedMonitors(running, ids[0])) << running;
  EXPECT_TRUE(app::IsInStartedMonitors(running, ids[1])) << running;
  pid_t again = -1;
  const AtspiNode restarted = StartAndFindApplication(&again);
  ASSERT_TRUE(restarted) << "the program did not register: " << StandardError(again);
  const AtspiNode monitors = WaitForNode(restarted, "tree table", "Monitors View");
  ASSERT_TRUE(monitors) << restarted.Describe(12);
  const AtspiNode back = WaitForNode(monitors, "table cell", "Sales");
  ASSERT_TRUE(back && back.SelectRow()) << monitors.Describe(3);
  EXPECT_TRUE(WaitForEnabled(WaitForNode(restarted, "push button", "Stop"), true))
      << "Sales came back stopped";
  ASSERT_EQ(kill(again, SIGTERM), 0);
  EXPECT_EQ(WaitExit(again, 30s), 0) << StandardError(again);
}

// The welcome view's web page leaves the accessibility tree while another view is shown,
// and comes back with its view.
TEST_F(ProgramAtspiTest, TheWelcomePageLeavesTheTreeWhileAnotherViewShows) {
  Started started;
  ASSERT_NO_FATAL_FAILURE(StartWithMonitorAndFindTree(&started));
  const pid_t program = started.program;
  const AtspiNode& frame = started.frame;
  const AtspiNode& tree = started.tree;

  // The page's objects come from the web engine, under widgets of its own that report no
  // states; the page itself reports whether it shows.
  const auto pageShowing = [&] {
    const AtspiNode page = frame.Find("document web", "", 24);
    return page && page.HasState("showing");
  };
  ASSERT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return pageShowing();
      },
      30s))
      << frame.Describe(14);
  const AtspiNode monitor = WaitForNode(tree, "table cell", "Sales");
  ASSERT_TRUE(monitor && monitor.SelectRow());
  EXPECT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return !pageShowing();
      },
      30s))
      << frame.Describe(14);

  const AtspiNode root = WaitForNode(tree, "table cell", "Monitors");
  ASSERT_TRUE(root && root.SelectRow());
  EXPECT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return pageShowing();
      },
      30s))
      << frame.Describe(14);

  ASSERT_EQ(kill(program, SIGTERM), 0);
  EXPECT_EQ(WaitExit(program, 30s), 0) << StandardError(program);
}

// With no monitor at all, an alert message the program never showed is kept for the next
// start, which says it once: the test of a message-box action is pressed while the note the
// last exit left is up, so the action's message waits for that box, and a SIGTERM ends both.
TEST_F(ProgramAtspiTest, AMessageNeverShownWithNoMonitorIsToldOnceAtTheNextStart) {
  {
    testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
    engine::ServerStorage store;
    store.LoadAll();
    engine::ActionSettings box;
    box.name = "Box";
    box.type = 4;  // user interface: a message box
    ASSERT_FALSE(store.AddAction(box).empty());
    ASSERT_TRUE(store.WaitForSaves(std::chrono::steady_clock::now() + 20s));
    app::SettingsValues values;
    values.layout.wndMode = 1;
    values.layout.wndWidth = 1000;
    values.layout.wndHeight = 700;
    platform::FileSettingsStore settings(SettingsFile());
    ASSERT_TRUE(app::Settings(values).Save(settings));
    ASSERT_TRUE(settings.Write("lostAtLastExit", "an older note"));
  }
  pid_t program = -1;
  const AtspiNode app = StartAndFindApplication(&program);
  ASSERT_TRUE(app) << "the program did not register: " << StandardError(program);
  const AtspiNode frame = WaitForShowing(app, "frame", "Lumivar");
  ASSERT_TRUE(frame) << app.Describe(3);
  ASSERT_TRUE(WaitForBox(app, true)) << app.Describe(2);  // the older note
  const AtspiNode tree = WaitForNode(frame, "tree table", "Monitors View");
  ASSERT_TRUE(tree) << frame.Describe(8);
  const AtspiNode actions = WaitForNode(tree, "table cell", "Actions");
  ASSERT_TRUE(actions && actions.DoAction("expand or contract")) << tree.Describe(3);
  const AtspiNode kind = WaitForNode(tree, "table cell", "User Interface");
  ASSERT_TRUE(kind && kind.SelectRow()) << tree.Describe(3);
  const AtspiNode list = WaitForShowing(frame, "table", "User Interface Actions");
  ASSERT_TRUE(list) << frame.Describe(16);
  const AtspiNode row = WaitForNode(list, "table cell", "Box");
  // The first row comes selected.
  ASSERT_TRUE(row && (row.HasState("selected") || row.SelectRow())) << list.Describe(3);
  const AtspiNode test = WaitForShowing(frame, "push button", "Test");
  ASSERT_TRUE(test) << frame.Describe(16);
  ASSERT_TRUE(WaitForEnabled(test, true));
  ASSERT_TRUE(test.DoDefaultAction());
  // The test's own result comes after its message was handed to the alert box.
  ASSERT_TRUE(WaitFor(
      [&] {
        client_->Dispatch();
        return static_cast<bool>(app.Find("label", "Action test successfuly completed", 12));
      },
      30s))
      << app.Describe(8);
  EXPECT_FALSE(app.Find("dialog", "Lumivar - Alert", 1)) << app.Describe(2);
  ASSERT_EQ(kill(program, SIGTERM), 0);
  ASSERT_EQ(WaitExit(program, 60s), 0) << StandardError(program);

  const std::string message = "Action Test: Lumivar Action Test";
  EXPECT_NE(StandardError(program).find("lumivar: " + message + "\n"), std::string::npos)
      << StandardError(program);
  EXPECT_EQ(platform::FileSettingsStore(SettingsFile()).Read("lostAtLastExit"), message);

  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "the next start" : "the start after it");
    const pid_t next = Start();
    ASSERT_GT(next, 0);
    ASSERT_TRUE(WaitFor([&] { return WindowCount("Lumivar") >= (first ? 2 : 1); }, 60s))
        << StandardError(next);
    // A second report would open a box of its own over the first.
    EXPECT_FALSE(WaitFor([&] { return WindowCount("Lumivar") > (first ? 2 : 1); }, 2s));
    ASSERT_EQ(kill(next, SIGTERM), 0);
    ASSERT_EQ(WaitExit(next, 60s), 0) << StandardError(next);
    const std::string said = StandardError(next);
    const std::string told = "lumivar: When Lumivar last exited: " + message + "\n";
    EXPECT_EQ(said.find(told) != std::string::npos, first) << said;
    // Said once, and only there.
    const std::size_t at = said.find(message);
    EXPECT_TRUE(at == std::string::npos || said.find(message, at + 1) == std::string::npos) << said;
  }
}

}  // namespace
