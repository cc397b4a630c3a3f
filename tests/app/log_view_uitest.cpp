// The log view under a display, over a real store and a data file of the test's own: the
// rows of the selected monitor newest first, a selected line's message under the list,
// Clear that asks first ("No" changes nothing; "Yes" deletes only this monitor's rows and
// leaves the message; a clearing another program's lock refuses keeps the rows and is told
// once), nothing without a monitor, and the column widths stored only once the columns
// exist. A log longer than the list takes at once fills it whole; a poll puts its rows on
// top keeping the selected line, and the lines in view unless the list is at its top; a
// change of monitor and Clear start the list afresh.
#include "app/views/log_view.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sqlite3.h>
#include <wx/button.h>
#include <wx/dataview.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "app/settings/settings.h"
#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/db/busy_event.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/foreign_lock.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

class LogViewUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Services::SetStorage(&store_);
    frame_ = new wxFrame(nullptr, wxID_ANY, "log", wxPoint(0, 0), wxSize(700, 420));
    // A poll of a monitor shows in its snapshot as a later time of its current sample.
    auto snapshots = [this, source = SnapshotsOf(store_)](const std::string& id) {
      std::optional<engine::MonitorSnapshot> monitor = source(id);
      if (monitor) monitor->current.time += polls_;
      return monitor;
    };
    view_ = new LogView(frame_, snapshots, store_, [this](wxWindow*, const wxString& question) {
      questions_.push_back(question.ToStdString());
      return answer_;
    });
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return view_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    store_.Clear();
    MonitorTest::TearDown();
  }

  std::string AddMonitor(const char* name) {
    engine::MonitorSettings settings;
    settings.name = name;
    settings.address = "lumivar-test-no-such-source";
    return store_.AddMonitor(settings);
  }
  void Show(const std::string& id, int hint = kRefreshShow) {
    view_->SetMonitorId(id);
    view_->UpdateView(false, hint);
    ASSERT_TRUE(PumpUntil([this] { return !view_->Busy(); }));
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const LogLine& line : view_->Lines()) messages.push_back(line.message);
    return messages;
  }
  static std::size_t StoredRows(const std::string& id) {
    return engine::testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + id + "'").size();
  }
  void Select(unsigned int row) {
    wxDataViewCtrl* list = view_->List();
    const wxDataViewItem item =
        list->GetModel() != nullptr
            ? static_cast<wxDataViewVirtualListModel*>(list->GetModel())->GetItem(row)
            : wxDataViewItem();
    list->Select(item);
    wxDataViewEvent event(wxEVT_DATAVIEW_SELECTION_CHANGED, list, item);
    list->ProcessWindowEvent(event);
  }
  void ClickClear() {
    wxCommandEvent click(wxEVT_BUTTON, view_->ClearButton()->GetId());
    click.SetEventObject(view_->ClearButton());
    view_->ClearButton()->ProcessWindowEvent(click);
    wxTheApp->ProcessPendingEvents();  // the question opens on the loop's next turn
    ASSERT_TRUE(PumpUntil([this] { return !view_->Busy(); }));
  }
  void Screenshot(const char* name) { testing_support::ScreenshotIfAsked(frame_, name); }

  // Rows "row 0" to "row <count - 1>" of the monitor's log, one a second, the last a day ago.
  static void WriteRows(const std::string& id, int count) {
    const std::int64_t first = static_cast<std::int64_t>(std::time(nullptr)) - 86400 - count;
    engine::testing::ExecData(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(count - 1) + ") INSERT INTO Log SELECT '" + id + "', printf('%010d', " +
        std::to_string(first) + " + i), '0', 'row ' || i FROM n");
  }
  // A poll of the monitor shown: its state moves on and the window notifies the view.
  void Poll() {
    ++polls_;
    view_->UpdateView(false, kRefreshNotify);
    ASSERT_TRUE(PumpUntil([this] { return !view_->Busy(); }));
  }
  wxDataViewVirtualListModel* Model() const {
    return static_cast<wxDataViewVirtualListModel*>(view_->List()->GetModel());
  }
  unsigned int ListRows() const { return Model()->GetCount(); }
  // The row of an item; -1 for none.
  int RowOf(const wxDataViewItem& item) const {
    return item.IsOk() ? static_cast<int>(Model()->GetRow(item)) : -1;
  }
  int SelectedRow() const { return RowOf(view_->List()->GetSelection()); }
  int TopRow() const { return RowOf(view_->List()->GetTopItem()); }
  void ScrollTo(int row) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(view_->List()->GtkGetTreeView()), path, nullptr,
                                 TRUE, 0, 0);
    gtk_tree_path_free(path);
  }

  engine::ServerStorage store_;
  wxFrame* frame_ = nullptr;
  LogView* view_ = nullptr;
  std::vector<std::string> questions_;
  bool answer_ = false;
  std::int64_t polls_ = 0;
};

TEST_F(LogViewUiTest, ClearAsksThenDeletesOnlyThisMonitorsRows) {
  const std::string sales = AddMonitor("Sales");
  const std::string stock = AddMonitor("Stock");
  engine::WriteLogRow(sales, 0, "Monitor started");
  engine::WriteLogRow(stock, 1, "Stock is down");
  engine::WriteLogRow(sales, 1, "Database is not available: login failed for user report");
  view_->InitView();
  Show(sales);
  ASSERT_EQ(Messages(),
            (std::vector<std::string>{"Database is not available: login failed for user report",
                                      "Monitor started"}));
  EXPECT_EQ(view_->Lines()[0].type, "ALERT");
  Select(0);
  const wxString message = view_->MessageText();
  EXPECT_EQ(message, "Database is not available: login failed for user report");
  Screenshot("log_view");

  struct Step {
    bool answer;
    std::size_t salesRows;
    std::size_t lines;
  } steps[] = {{false, 2, 2}, {true, 0, 0}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.answer ? "Yes" : "No");
    questions_.clear();
    answer_ = step.answer;
    ClickClear();
    EXPECT_EQ(questions_, std::vector<std::string>{"Are you sure you want to clear log?"});
    EXPECT_EQ(view_->Lines().size(), step.lines);
    EXPECT_EQ(StoredRows(sales), step.salesRows);
    EXPECT_EQ(StoredRows(stock), 1u);
    EXPECT_EQ(view_->MessageText(), message);
  }
  Screenshot("log_view_cleared");
}

// Another program holds the data file past the bound: "Yes" leaves every row, in the file
// and in the list, and the user is told once why; once the file is free, Clear deletes them.
TEST_F(LogViewUiTest, AClearTheDataFileRefusesKeepsTheRowsAndIsToldOnce) {
  struct RetryLimit {
    RetryLimit() { db::BusyEvent::SetRetryLimit(std::chrono::milliseconds(100)); }
    ~RetryLimit() { db::BusyEvent::SetRetryLimit(db::BusyEvent::kDefaultRetryLimit); }
  };
  const std::string sales = AddMonitor("Sales");
  engine::WriteLogRow(sales, 0, "Monitor started");
  view_->InitView();
  Show(sales);
  answer_ = true;
  const std::string path = engine::DataFiles::DataFolder() + engine::DataFiles::kDataFileName;
  {
    testing_support::ForeignProcessLock lock(path);
    ASSERT_TRUE(lock.Held());
    RetryLimit limit;
    ClickClear();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Monitor started"});
    EXPECT_TRUE(lock.Release());
  }
  EXPECT_EQ(StoredRows(sales), 1u);
  EXPECT_EQ(ui_.EventsOf("error: "),
            std::vector<std::string>{engine::LogClearFailureText("Sales", path, SQLITE_BUSY)});

  ClickClear();
  EXPECT_TRUE(view_->Lines().empty());
  EXPECT_EQ(StoredRows(sales), 0u);
  EXPECT_EQ(ui_.EventsOf("error: ").size(), 1u);
}

TEST_F(LogViewUiTest, NothingWithoutAMonitorAndWidthsOnlyOnceColumnsExist) {
  LayoutSettings layout = Settings::Instance().GetLayout();
  layout.logTypeWidth = 77;
  Settings::Instance().SetLayout(layout);
  // Before the first InitView the list has no columns: nothing is stored.
  view_->UpdateView(true, kRefreshShow);
  EXPECT_EQ(Settings::Instance().GetLayout().logTypeWidth, 77);

  view_->InitView();
  Show("");
  answer_ = true;
  ClickClear();
  EXPECT_TRUE(questions_.empty());
  EXPECT_TRUE(view_->Lines().empty());

  const std::string sales = AddMonitor("Sales");
  engine::WriteLogRow(sales, 0, "Monitor started");
  Show(sales);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Monitor started"});
  // A notification without a new poll reads nothing.
  engine::WriteLogRow(sales, 0, "written later");
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_FALSE(view_->Busy());

  wxDataViewCtrl* list = view_->List();
  list->GetColumn(0)->SetWidth(91);
  list->GetColumn(1)->SetWidth(133);
  ASSERT_TRUE(PumpUntil([list] {
    return list->GetColumn(0)->GetWidth() == 91 && list->GetColumn(1)->GetWidth() == 133;
  }));
  view_->UpdateView(true, kRefreshShow);
  const LayoutSettings stored = Settings::Instance().GetLayout();
  EXPECT_EQ(stored.logTypeWidth, 91);
  EXPECT_EQ(stored.logDateWidth, 133);
  EXPECT_EQ(stored.logMessageWidth, list->GetColumn(2)->GetWidth());
}

TEST_F(LogViewUiTest, APollPutsItsRowsOnTopKeepingTheSelectedLineAndTheLinesInView) {
  const std::string sales = AddMonitor("Sales");
  WriteRows(sales, 1200);  // more than the list takes at once
  view_->InitView();
  Show(sales);
  ASSERT_EQ(view_->Lines().size(), 1200u);
  EXPECT_EQ(ListRows(), 1200u);
  EXPECT_EQ(view_->Lines().front().message, "row 1199");
  EXPECT_EQ(view_->Lines().back().message, "row 0");
  Select(2);
  ASSERT_EQ(view_->MessageText(), "row 1197");
  Screenshot("log_view_long");

  // At the top, the new rows come into view.
  engine::WriteLogRow(sales, 1, "Database is not available");
  engine::WriteLogRow(sales, 0, "Monitor polled");
  Poll();
  ASSERT_EQ(view_->Lines().size(), 1202u);
  EXPECT_EQ(ListRows(), 1202u);
  EXPECT_EQ(Messages()[0], "Monitor polled");
  EXPECT_EQ(Messages()[1], "Database is not available");
  EXPECT_EQ(view_->Lines()[1].type, "ALERT");
  EXPECT_EQ(Messages()[2], "row 1199");
  EXPECT_EQ(SelectedRow(), 4);
  EXPECT_EQ(view_->MessageText(), "row 1197");
  EXPECT_TRUE(PumpUntil([this] { return TopRow() == 0; })) << TopRow();

  // Scrolled down, the lines in view stay in view.
  ScrollTo(600);
  ASSERT_TRUE(PumpUntil([this] { return TopRow() >= 590; })) << TopRow();
  PumpFor(std::chrono::milliseconds(50));
  const int top = TopRow();
  const std::string inView = view_->Lines()[static_cast<std::size_t>(top)].message;
  engine::WriteLogRow(sales, 0, "Monitor polled again");
  Poll();
  EXPECT_EQ(Messages()[0], "Monitor polled again");
  EXPECT_EQ(SelectedRow(), 5);
  EXPECT_TRUE(PumpUntil([&] { return TopRow() == top + 1; })) << TopRow() << " after " << top;
  EXPECT_EQ(view_->Lines()[static_cast<std::size_t>(top + 1)].message, inView);
  EXPECT_EQ(Messages(), [&] {
    std::vector<std::string> all;
    for (const engine::LogRow& row : engine::LoadLog(sales, 0)) all.insert(all.begin(), row.text);
    return all;
  }());
}

TEST_F(LogViewUiTest, AChangeOfMonitorAndClearStartTheListAfresh) {
  const std::string sales = AddMonitor("Sales");
  const std::string stock = AddMonitor("Stock");
  WriteRows(sales, 700);
  engine::WriteLogRow(stock, 1, "Stock is down");
  view_->InitView();
  Show(sales);
  Select(3);
  ASSERT_EQ(view_->MessageText(), "row 696");

  // Another monitor: its rows only, nothing selected; the message stays until a line is.
  Show(stock);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Stock is down"});
  EXPECT_EQ(ListRows(), 1u);
  EXPECT_EQ(SelectedRow(), -1);
  EXPECT_EQ(view_->MessageText(), "row 696");
  // A poll of the monitor shown now goes on top of its rows.
  engine::WriteLogRow(stock, 0, "Stock is up");
  Poll();
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Stock is up", "Stock is down"}));

  // Back to the first, then cleared: its polls start from nothing.
  Show(sales);
  EXPECT_EQ(ListRows(), 700u);
  Select(0);
  answer_ = true;
  ClickClear();
  EXPECT_TRUE(view_->Lines().empty());
  EXPECT_EQ(ListRows(), 0u);
  EXPECT_EQ(SelectedRow(), -1);
  engine::WriteLogRow(sales, 0, "Monitor polled");
  Poll();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Monitor polled"});
  EXPECT_EQ(ListRows(), 1u);
}

}  // namespace
}  // namespace app
