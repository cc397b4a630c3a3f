// The test queries view under a display against a real store: a click on a row's check box
// flips the query's enable flag and a click elsewhere does not, arrow down then typing edits
// the newly selected query only, notifications touch only the results, typing reaches the
// monitor and the file only when the field is left or the window closes (also under
// another connection's lock), Remove from the keyboard goes row after row, and the column
// widths are stored on refresh and on leave.
#include "app/views/test_queries_view.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <string>

#include "app/settings/settings.h"
#include "controls/graphic.h"
#include "engine/data/data_files.h"
#include "engine/db/database.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

class TestQueriesViewUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::MonitorSettings settings;
    settings.name = "Sales";
    settings.address = "sales-db";
    id_ = storage_.AddMonitor(settings);
    ASSERT_FALSE(id_.empty());
    for (const char* name : {"Orders", "Stock", "Users"}) {
      ASSERT_FALSE(
          storage_.AddTestQuery(id_, {name, std::string("SELECT COUNT(*)\nFROM ") + name}).empty());
    }
    // The tests watch the file, hold its lock and refuse it: their own edits come after these.
    ASSERT_TRUE(storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    frame_ = new wxFrame(nullptr, wxID_ANY, "test queries", wxPoint(0, 0), wxSize(760, 620));
    // The store's snapshots with the polls' values the test gives.
    const SnapshotSource stored = SnapshotsOf(storage_);
    auto polled = [this, stored](const std::string& id) {
      std::optional<engine::MonitorSnapshot> monitor = stored(id);
      if (monitor && polled_) {
        for (engine::TestQuerySnapshot& query : monitor->testQueries) {
          query.value = 40;
          for (std::int64_t i = 0; i < 6; ++i) {
            query.history.push_back({static_cast<std::int32_t>(30 + 3 * i), 1700000000 + 60 * i});
          }
        }
      }
      return monitor;
    };
    view_ =
        new TestQueriesView(frame_, polled, storage_, [this](const wxString&) { return answer_; });
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return view_->IsShownOnScreen(); }));
    view_->InitView();
    view_->SetMonitorId(id_);
    view_->UpdateView(false, kRefreshShow);
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(100));
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    MonitorTest::TearDown();
  }

  engine::MonitorSnapshot Monitor() const { return *storage_.GetMonitorSnapshot(id_); }
  wxString Cell(unsigned row, unsigned column) const {
    return view_->List()->GetTextValue(row, column);
  }
  // A real click at the middle of a cell.
  void ClickCell(unsigned row, unsigned column) {
    wxDataViewListCtrl* list = view_->List();
    const wxRect rect =
        list->GetItemRect(list->RowToItem(static_cast<int>(row)), list->GetColumn(column));
    wxUIActionSimulator sim;
    sim.MouseMove(list->GetMainWindow()->ClientToScreen(
        wxPoint(rect.x + rect.width / 2, rect.y + rect.height / 2)));
    PumpFor(std::chrono::milliseconds(50));
    sim.MouseClick();
  }

  void PressRemoveAll() {
    wxCommandEvent press(wxEVT_BUTTON, view_->RemoveAllButton()->GetId());
    press.SetEventObject(view_->RemoveAllButton());
    view_->RemoveAllButton()->GetEventHandler()->ProcessEvent(press);
    wxTheApp->ProcessPendingEvents();  // the question opens on the loop's next turn
  }

  engine::ServerStorage storage_;
  std::string id_;
  bool answer_ = false;
  bool polled_ = false;
  wxFrame* frame_ = nullptr;
  TestQueriesView* view_ = nullptr;
};

TEST_F(TestQueriesViewUiTest, ACheckBoxClickFlipsTheFlagAndAClickElsewhereDoesNot) {
  const struct {
    unsigned column;
    bool enabled;  // query 1's flag after the click
  } clicks[] = {
      {TestQueriesView::kNameColumn, true},
      {TestQueriesView::kEnableColumn, false},
      {TestQueriesView::kResultColumn, false},
      {TestQueriesView::kEnableColumn, true},
  };
  for (const auto& click : clicks) {
    SCOPED_TRACE(click.column);
    ClickCell(1, click.column);
    EXPECT_TRUE(PumpUntil([&] { return Monitor().testQueries[1].enable == click.enabled; }));
    PumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(Monitor().testQueries[1].enable, click.enabled);
    EXPECT_EQ(view_->List()->GetToggleValue(1, TestQueriesView::kEnableColumn), click.enabled);
    EXPECT_TRUE(Monitor().testQueries[0].enable);
  }
}

TEST_F(TestQueriesViewUiTest, ArrowDownThenTypingEditsTheNewRowOnly) {
  EXPECT_EQ(Cell(1, TestQueriesView::kQueryColumn), "SELECT COUNT(*)");
  EXPECT_EQ(Cell(1, TestQueriesView::kResultColumn), "-");
  EXPECT_FALSE(view_->NameEdit()->IsEnabled());
  EXPECT_FALSE(view_->Chart()->IsEnabled());
  EXPECT_FALSE(view_->TestButton()->IsEnabled());
  ClickCell(0, TestQueriesView::kNameColumn);
  ASSERT_TRUE(PumpUntil([this] { return view_->NameEdit()->GetValue() == "Orders"; }));
  view_->List()->SetFocus();
  wxUIActionSimulator sim;
  sim.Char(WXK_DOWN);
  ASSERT_TRUE(PumpUntil([this] { return view_->NameEdit()->GetValue() == "Stock"; }));
  EXPECT_EQ(view_->QueryEdit()->GetValue(), "SELECT COUNT(*)\nFROM Stock");

  view_->NameEdit()->SetFocus();
  view_->NameEdit()->SetInsertionPointEnd();
  sim.Text("2");
  ASSERT_TRUE(PumpUntil([this] { return Cell(1, TestQueriesView::kNameColumn) == "Stock2"; }));
  EXPECT_EQ(Cell(0, TestQueriesView::kNameColumn), "Orders");
  EXPECT_EQ(Cell(2, TestQueriesView::kNameColumn), "Users");
  EXPECT_TRUE(view_->Chart()->IsEnabled());
  EXPECT_TRUE(view_->TestButton()->IsEnabled());

  // A poll's notification while the user types refreshes results and the chart only.
  polled_ = true;
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(view_->NameEdit()->GetValue(), "Stock2");
  EXPECT_EQ(view_->NameEdit()->GetInsertionPoint(), 6);
  EXPECT_EQ(view_->List()->GetSelectedRow(), 1);
  EXPECT_EQ(Cell(2, TestQueriesView::kResultColumn), "40");
  EXPECT_EQ(view_->Chart()->Model().Series(0).size(), 6u);
  if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
    PumpFor(std::chrono::milliseconds(300));
    testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/test_queries_view.png");
  }

  view_->UpdateView(true, kRefreshShow);
  const engine::MonitorSnapshot committed = Monitor();
  EXPECT_EQ(committed.testQueries[0].settings.name, "Orders");
  EXPECT_EQ(committed.testQueries[1].settings.name, "Stock2");
  EXPECT_EQ(committed.testQueries[1].settings.query, "SELECT COUNT(*)\nFROM Stock");
  EXPECT_EQ(committed.testQueries[2].settings.name, "Users");
}

// Typing shows in the list at once; the monitor (whose polls run the query) and the file
// get it when the field is left or the window closes, the monitor also while another
// connection holds the file.
TEST_F(TestQueriesViewUiTest, TypingReachesTheFileWhenTheFieldIsLeft) {
  const std::string where = " FROM TestQueries WHERE id = '" + Monitor().testQueries[0].id + "'";
  db::Database watcher;
  ASSERT_EQ(engine::DataFiles::OpenDatabase(watcher, engine::DataFiles::kConfigFileName), 0);
  const std::int64_t before = engine::testing::DataVersion(watcher);
  ClickCell(0, TestQueriesView::kNameColumn);
  ASSERT_TRUE(PumpUntil([this] { return view_->NameEdit()->GetValue() == "Orders"; }));
  view_->NameEdit()->SetFocus();
  view_->NameEdit()->SetInsertionPointEnd();
  const std::string typed = " of the last quarter, by region";
  ASSERT_EQ(typed.size() + 9, 40u);
  wxUIActionSimulator sim;
  sim.Text(("123456789" + typed).c_str());
  const std::string name = "Orders123456789" + typed;
  ASSERT_TRUE(PumpUntil([&] { return Cell(0, TestQueriesView::kNameColumn) == wxString(name); }));
  EXPECT_EQ(Monitor().testQueries[0].settings.name, "Orders");
  EXPECT_EQ(engine::testing::DataVersion(watcher), before);
  EXPECT_EQ(engine::testing::ConfigRows("SELECT name" + where)[0][0], "Orders");

  sim.Char(WXK_TAB);
  ASSERT_TRUE(PumpUntil([this] { return view_->QueryEdit()->HasFocus(); }));
  EXPECT_EQ(Monitor().testQueries[0].settings.name, name);
  EXPECT_TRUE(
      PumpUntil([&] { return engine::testing::ConfigRows("SELECT name" + where)[0][0] == name; }));

  db::Database holder;
  ASSERT_EQ(engine::DataFiles::OpenDatabase(holder, engine::DataFiles::kConfigFileName), 0);
  ASSERT_EQ(db::Database::ExecSQL(holder, "BEGIN EXCLUSIVE"), 0);
  view_->QueryEdit()->SetInsertionPointEnd();
  sim.Text(" WHERE 1");
  const std::string query = "SELECT COUNT(*)\nFROM Orders WHERE 1";
  ASSERT_TRUE(PumpUntil([&] { return view_->QueryEdit()->GetValue() == wxString(query); }));
  EXPECT_EQ(Monitor().testQueries[0].settings.query, "SELECT COUNT(*)\nFROM Orders");
  view_->NameEdit()->SetFocus();
  EXPECT_TRUE(PumpUntil([this] { return view_->NameEdit()->HasFocus(); }));
  EXPECT_EQ(Monitor().testQueries[0].settings.query, query);
  EXPECT_FALSE(storage_.WaitForSaves(std::chrono::steady_clock::now()));
  ASSERT_EQ(db::Database::ExecSQL(holder, "COMMIT"), 0);
  holder.Close();
  EXPECT_TRUE(PumpUntil(
      [&] { return engine::testing::ConfigRows("SELECT query" + where)[0][0] == query; }));

  // The window closes while the field still has the focus.
  view_->NameEdit()->SetInsertionPointEnd();
  sim.Text("!");
  ASSERT_TRUE(PumpUntil([&] { return view_->NameEdit()->GetValue() == wxString(name + "!"); }));
  EXPECT_EQ(Monitor().testQueries[0].settings.name, name);
  view_->UpdateView(true, kSaveClosing);
  EXPECT_EQ(Monitor().testQueries[0].settings.name, name + "!");
  EXPECT_TRUE(PumpUntil(
      [&] { return engine::testing::ConfigRows("SELECT name" + where)[0][0] == name + "!"; }));
}

// Remove keeps a row selected, so the keyboard can remove one row after another.
TEST_F(TestQueriesViewUiTest, RemovingFromTheKeyboardSelectsTheNextRow) {
  ClickCell(0, TestQueriesView::kNameColumn);
  ASSERT_TRUE(PumpUntil([this] { return view_->NameEdit()->GetValue() == "Orders"; }));
  view_->RemoveButton()->SetFocus();
  wxUIActionSimulator sim;
  for (const char* left : {"Stock", "Users", ""}) {
    SCOPED_TRACE(left);
    const std::size_t count = Monitor().testQueries.size();
    sim.Char(' ');
    ASSERT_TRUE(PumpUntil([&] { return Monitor().testQueries.size() == count - 1; }));
    EXPECT_EQ(view_->NameEdit()->GetValue(), wxString(left));
    EXPECT_EQ(view_->List()->GetSelectedRow(), *left != '\0' ? 0 : wxNOT_FOUND);
  }
  EXPECT_FALSE(view_->RemoveButton()->IsEnabled());
}

TEST_F(TestQueriesViewUiTest, RemoveAllAsksAndWidthsAreStoredOnRefreshAndLeave) {
  answer_ = false;
  PressRemoveAll();
  EXPECT_EQ(Monitor().testQueries.size(), 3u);
  answer_ = true;
  {
    // Refused by the file: the rows go at once and come back when the window hears of the
    // refusal, which is told once.
    engine::testing::ConfigRefusal refusal(engine::testing::ConfigRefusal::Kind::kUnwritable);
    PressRemoveAll();
    EXPECT_EQ(view_->List()->GetItemCount(), 0);
    ASSERT_TRUE(storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  }
  ASSERT_EQ(ui_.EventsOf("refused " + id_).size(), 1u);
  view_->RemovalRefused(id_);  // as the main window passes the notice on
  EXPECT_EQ(view_->List()->GetItemCount(), 3);
  EXPECT_EQ(Monitor().testQueries.size(), 3u);
  EXPECT_EQ(ui_.EventsOf("error: ").size(), 1u);
  PressRemoveAll();
  EXPECT_TRUE(Monitor().testQueries.empty());
  EXPECT_EQ(view_->List()->GetItemCount(), 0);
  EXPECT_FALSE(view_->QueryEdit()->IsEnabled());
  if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
    PumpFor(std::chrono::milliseconds(300));
    testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/test_queries_empty.png");
  }

  const struct {
    bool save;
    int hint;
    int width;
  } steps[] = {{false, kRefreshNotify, 123}, {true, kRefreshShow, 171}};
  for (const auto& step : steps) {
    view_->List()->GetColumn(TestQueriesView::kNameColumn)->SetWidth(step.width);
    view_->List()->GetColumn(TestQueriesView::kResultColumn)->SetWidth(step.width + 1);
    ASSERT_TRUE(PumpUntil([&] {
      return view_->List()->GetColumn(TestQueriesView::kNameColumn)->GetWidth() == step.width;
    }));
    view_->UpdateView(step.save, step.hint);
    const LayoutSettings layout = Settings::Instance().GetLayout();
    EXPECT_EQ(layout.testQueriesNameWidth, step.width);
    EXPECT_EQ(layout.testQueriesResultWidth, step.width + 1);
  }
}

}  // namespace
}  // namespace app
