// The monitor tree under a display: rebuilding, selecting by code, by the toolkit and by a
// right click, each change reported once with its view; renaming, adding and removing a
// monitor's node, as the model and the accessible cells read it; the order GTK shows; nodes
// are never renamed in place. No context menu is ever opened.
#include "app/monitor_tree.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using Call = std::pair<std::string, int>;  // (monitor identifier, view code)
std::vector<Call> Calls(std::initializer_list<Call> calls) { return calls; }

class MonitorTreeUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "tree", wxPoint(0, 0), wxSize(260, 420));
    tree_ = new MonitorTree(frame_, wxID_ANY, [this] { return monitors_; });
    tree_->SetSelectionHandler(
        [this](const std::string& id, int view) { calls_.emplace_back(id, view); });
    frame_->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame_->GetSizer()->Add(tree_, 1, wxEXPAND);
    frame_->Show();
    ASSERT_TRUE(ui_testing::PumpUntil([this] { return tree_->IsShownOnScreen(); }));
    tree_->UpdateServer("");
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }

  // The handler's calls while `act` ran and the events it caused were handled.
  template <typename Act>
  std::vector<Call> CallsOf(Act act) {
    calls_.clear();
    act();
    PumpFor(std::chrono::milliseconds(50));
    return std::exchange(calls_, {});
  }

  // The node at these child positions from the top.
  wxDataViewItem At(const std::vector<int>& path) {
    wxDataViewItem item;
    for (int i : path) item = tree_->GetNthChild(item, static_cast<unsigned>(i));
    return item;
  }

  // GTK's view of the model: each node's depth and text, depth first.
  std::vector<std::pair<int, std::string>> Shown() {
    std::pair<MonitorTree*, std::vector<std::pair<int, std::string>>> walk{tree_, {}};
    gtk_tree_model_foreach(
        gtk_tree_view_get_model(GTK_TREE_VIEW(tree_->GtkGetTreeView())),
        [](GtkTreeModel*, GtkTreePath* path, GtkTreeIter* iter, gpointer data) -> gboolean {
          auto* w = static_cast<decltype(walk)*>(data);
          w->second.emplace_back(
              gtk_tree_path_get_depth(path) - 1,
              w->first->GetItemText(wxDataViewItem(iter->user_data)).utf8_string());
          return FALSE;
        },
        &walk);
    return walk.second;
  }

  std::vector<engine::MonitorSummary> monitors_ = {{.id = "a", .name = "Accounts"},
                                                   {.id = "b", .name = "Billing"}};
  std::vector<Call> calls_;
  wxFrame* frame_ = nullptr;
  MonitorTree* tree_ = nullptr;
};

TEST_F(MonitorTreeUiTest, RebuildSelectsTheMonitorsRootExpandedWhenItHasMonitors) {
  for (const bool empty : {false, true}) {
    if (empty) monitors_.clear();
    EXPECT_EQ(CallsOf([&] { tree_->UpdateServer(""); }), Calls({{"", 0}}));
    EXPECT_EQ(tree_->GetSelection(), At({0}));
    EXPECT_EQ(tree_->GetSelectedImage(), kTreeMonitors);
    EXPECT_EQ(tree_->GetChildCount(At({0})), empty ? 0 : 2);
    EXPECT_EQ(tree_->IsExpanded(At({0})), !empty);
  }
  // An empty "Monitors" still takes the first monitor.
  monitors_.push_back({.id = "n", .name = "New"});
  tree_->UpdateServer("n");
  EXPECT_EQ(tree_->GetItemText(At({0, 0})), "New");
}

TEST_F(MonitorTreeUiTest, EverySelectionChangeIsReportedOnceWithItsView) {
  enum How { kCode, kToolkit, kRightClick };
  const struct {
    How how;
    const char* id;  // kCode: SelectServer(id, image); else the node at `path`
    int image;
    std::vector<int> path;
    std::vector<Call> calls;
    int selectedImage;
  } cases[] = {
      {kCode, "b", kTreeConnectionTime, {}, Calls({{"b", 8}}), kTreeConnectionTime},
      {kCode, "b", 0, {}, Calls({{"b", 9}}), kTreeMonitor},
      {kCode, "a", kTreeHealthHistory, {}, Calls({{"", 0}}), -1},  // not a direct child
      {kCode, "gone", 0, {}, Calls({{"", 0}}), -1},
      {kToolkit, "", 0, {0, 0, 2, 3}, Calls({{"a", 24}}), kTreeTestQueriesHistory},
      {kToolkit, "", 0, {1, 1}, Calls({{"", 29}}), kTreeSms},
      {kToolkit, "", 0, {}, Calls({{"", 0}}), -1},
      {kRightClick, "", 0, {0, 1, 3}, Calls({{"b", 27}}), kTreeAlerts},
      {kRightClick, "", 0, {0, 1, 3}, Calls({}), kTreeAlerts},  // already selected
  };
  for (const wxDataViewItem& node : {At({0, 0}), At({0, 0, 2}), At({1})}) tree_->Expand(node);
  for (const auto& c : cases) {
    const wxDataViewItem item = At(c.path);
    SCOPED_TRACE(c.how == kCode ? wxString(c.id) : tree_->GetItemText(item));
    EXPECT_EQ(CallsOf([&] {
                if (c.how == kCode) {
                  tree_->SelectServer(c.id, c.image);
                } else if (c.how == kToolkit) {  // as a right click or a deselection
                  auto* view = GTK_TREE_VIEW(tree_->GtkGetTreeView());
                  gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(view));
                  if (c.path.empty()) return;
                  GtkTreePath* path = gtk_tree_path_new_from_indicesv(
                      const_cast<int*>(c.path.data()), c.path.size());
                  gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path);
                  gtk_tree_path_free(path);
                } else {
                  wxDataViewEvent event(wxEVT_DATAVIEW_ITEM_CONTEXT_MENU, tree_, item);
                  tree_->ProcessWindowEvent(event);
                }
              }),
              c.calls);
    EXPECT_EQ(tree_->GetSelectedImage(), c.selectedImage);
    EXPECT_EQ(tree_->GetSelection().IsOk(), c.selectedImage >= 0);
    if (!c.calls.empty()) {
      EXPECT_EQ(tree_->GetSelectedServerId(), c.calls[0].first);
    }
  }
}

TEST_F(MonitorTreeUiTest, UpdatesRenameOrAddOnlyTheirMonitorsNode) {
  tree_->SelectServer("a", kTreeTestQueries);
  const wxDataViewItem selected = tree_->GetSelection();
  monitors_[0].name = "Accounts (old)";
  monitors_[1].name = "Billing EU";
  monitors_.push_back({.id = "c", .name = "Catalog"});
  EXPECT_EQ(CallsOf([&] { tree_->UpdateServers({"b", "unknown", "c"}); }), Calls({}));
  EXPECT_EQ(tree_->GetItemText(At({0, 0})), "Accounts");
  EXPECT_EQ(tree_->GetItemText(At({0, 1})), "Billing EU");
  EXPECT_EQ(tree_->GetItemText(At({0, 2})), "Catalog");
  EXPECT_EQ(tree_->GetChildCount(At({0})), 3);
  EXPECT_EQ(tree_->GetChildCount(At({0, 2})), tree_->GetChildCount(At({0, 1})));
  EXPECT_EQ(tree_->GetSelection(), selected);
}

TEST_F(MonitorTreeUiTest, RemovingTheSelectedMonitorLeavesTheNextSelectionToTheCaller) {
  for (const char* selected : {"b", "a"}) {  // the removed monitor's node, then another
    tree_->SelectServer(selected, kTreeLog);
    EXPECT_EQ(CallsOf([&] { tree_->RemoveServer("b"); }), Calls({}));
    EXPECT_FALSE(tree_->FindServerItem("b").IsOk());
    EXPECT_EQ(tree_->GetSelectedImage(), selected == std::string("b") ? -1 : kTreeLog);
    monitors_.erase(monitors_.begin() + 1);
    monitors_.push_back({.id = "b", .name = "Billing"});
    tree_->UpdateServer("b");
  }
  EXPECT_EQ(CallsOf([&] { tree_->SelectServer("a", 0); }), Calls({{"a", 9}}));
}

// Each change of the nodes reaches the accessible cells that a screen reader has read
// before: each shown row's accessible text is the node's text as it is now.
TEST_F(MonitorTreeUiTest, AccessibleCellsReadTheNodesAsTheyAreNow) {
  AtkObject* table = gtk_widget_get_accessible(tree_->GtkGetTreeView());
  ASSERT_TRUE(ATK_IS_TABLE(table));
  const auto read = [table] {  // the text part of each shown row's cell
    std::vector<std::string> texts;
    for (int row = 0, rows = atk_table_get_n_rows(ATK_TABLE(table)); row < rows; ++row) {
      AtkObject* cell = atk_table_ref_at(ATK_TABLE(table), row, 0);
      if (cell == nullptr) continue;
      const int parts = atk_object_get_n_accessible_children(cell);
      AtkObject* text = parts > 0 ? atk_object_ref_accessible_child(cell, parts - 1)
                                  : ATK_OBJECT(g_object_ref(cell));
      const char* name = atk_object_get_name(text);
      texts.emplace_back(name != nullptr ? name : "");
      g_object_unref(text);
      g_object_unref(cell);
    }
    return texts;
  };
  using Texts = std::vector<std::string>;
  const struct {
    const char* change;
    std::function<void()> act;
    Texts texts;
  } changes[] = {
      {"renamed",
       [&] {
         monitors_[0].name = "Accounts EU";
         tree_->UpdateServer("a");
       },
       {"Monitors", "Accounts EU", "Billing", "Actions"}},
      {"added",
       [&] {
         monitors_.push_back({.id = "c", .name = "Catalog"});
         tree_->UpdateServer("c");
       },
       {"Monitors", "Accounts EU", "Billing", "Catalog", "Actions"}},
      {"removed",
       [&] { tree_->RemoveServer("b"); },
       {"Monitors", "Accounts EU", "Catalog", "Actions"}},
      {"rebuilt",
       [&] {
         monitors_ = {{.id = "c", .name = "Catalog 2"}};
         tree_->UpdateServer("");
       },
       {"Monitors", "Catalog 2", "Actions"}},
  };
  EXPECT_EQ(read(), Texts({"Monitors", "Accounts", "Billing", "Actions"}));
  for (const auto& c : changes) {
    SCOPED_TRACE(c.change);
    c.act();
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(read(), c.texts);
  }
}

TEST_F(MonitorTreeUiTest, ASecondClickOnTheSelectedNodeOpensNoEditor) {
  const wxDataViewItem actions = At({1});
  ASSERT_EQ(tree_->GetItemText(actions), "Actions");
  tree_->Select(actions);
  const wxRect rect = tree_->GetItemRect(actions, tree_->GetColumn(0));
  wxUIActionSimulator sim;
  sim.MouseMove(tree_->GetMainWindow()->ClientToScreen(rect.GetPosition() + rect.GetSize() / 2));
  PumpFor(std::chrono::milliseconds(50));
  for (int click = 0; click < 2; ++click) {
    sim.MouseClick();
    PumpFor(std::chrono::milliseconds(700));  // longer than a double click
  }
  tree_->EditItem(actions, tree_->GetColumn(0));
  PumpFor(std::chrono::milliseconds(100));
  sim.Text("Renamed");
  sim.Char(WXK_RETURN);
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(tree_->GetItemText(actions), "Actions");
  EXPECT_EQ(tree_->GetItemText(At({0})), "Monitors");
}

TEST_F(MonitorTreeUiTest, TheToolkitShowsTheRowsInTheirOrder) {
  const std::vector<TreeRow> rows = BuildTreeRows(monitors_);
  std::vector<std::pair<int, std::string>> expected;
  for (const TreeRow& row : rows) {
    const int depth = row.parent < 0 ? 0 : expected[static_cast<std::size_t>(row.parent)].first + 1;
    expected.emplace_back(depth, row.text);
  }
  EXPECT_EQ(Shown(), expected);
  AtkObject* accessible = gtk_widget_get_accessible(tree_->GtkGetTreeView());
  EXPECT_STREQ(atk_object_get_name(accessible), "Monitors View");
  if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
    tree_->SelectServer("b", kTreeHistory);
    tree_->Expand(tree_->GetSelection());
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_TRUE(
        testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/monitor_tree.png"));
  }
}

}  // namespace
}  // namespace app
