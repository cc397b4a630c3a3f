// Every view and dialog at the main window's default size, over a store with a monitor, its
// test query, alerts, actions of every kind and log rows: each column heading, each list
// value (but the free text of a list's last column) and each label fits its column or
// control (its text extent within the width), no list needs sideways scrolling, no control
// lies outside the window that holds it, the snapshot view is whole at the window's least
// size, the log's selected message shows line by line, and every dialog fits a 1366x768
// screen and opens centred on the main window. With LUMIVAR_SCREENSHOT_DIR set, each is
// saved there.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dataview.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/webview.h>

#include <memory>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/dialogs/action_dialogs.h"
#include "app/dialogs/alert_dialog.h"
#include "app/dialogs/new_monitor_wizard.h"
#include "app/dialogs/settings_dialog.h"
#include "app/dialogs/test_connection_dialog.h"
#include "app/main_frame.h"
#include "app/monitor_tree.h"
#include "app/views/base_view.h"
#include "app/views/log_view.h"
#include "app/views/report_base_view.h"
#include "controls/font_scale.h"
#include "engine/data/log_writer.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

// The smallest screen every window must fit, less a panel's height.
const wxSize kSmallScreen(1366, 768 - 40);
// Room a heading or a cell needs beside its text; an image before a cell's text adds its
// width and a gap.
constexpr int kTextMargin = 8;
constexpr int kImageRoom = 16 + 4;
// 28 Sep 2026, late in the evening: a time whose text is among the widest.
constexpr std::int64_t kWideTime = 1790636280;

// How much wider than its window the list's content is (0 when it needs no scrolling).
int SidewaysOverflow(wxWindow* window) {
  GtkWidget* widget = window->GetHandle();
  if (widget == nullptr || !GTK_IS_SCROLLED_WINDOW(widget)) return 0;
  GtkAdjustment* h = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(widget));
  return std::max(0,
                  static_cast<int>(gtk_adjustment_get_upper(h) - gtk_adjustment_get_page_size(h)));
}

wxString CellText(wxDataViewModel* model, const wxDataViewItem& item, unsigned column,
                  bool* image) {
  wxVariant value;
  model->GetValue(value, item, column);
  *image = false;
  if (value.GetType() == "wxDataViewIconText") {
    wxDataViewIconText cell;
    cell << value;
    *image = cell.GetBitmapBundle().IsOk();
    return cell.GetText();
  }
  return value.GetType() == "string" ? value.GetString() : wxString();
}

class Faults {
 public:
  explicit Faults(std::string where) : where_(std::move(where)) {}
  ~Faults() {
    for (const std::string& fault : faults_) ADD_FAILURE() << where_ << ": " << fault;
  }
  void Add(const wxString& fault) { faults_.push_back(fault.utf8_string()); }

  // Walks the window's shown children.
  void Check(wxWindow* window) {
    for (wxWindow* child : window->GetChildren()) {
      if (!child->IsShown() || child->IsTopLevel()) continue;
      // Screen rectangles: a static box's children are placed relative to the box's parent.
      const wxRect inside = window->GetScreenRect();
      const wxRect rect = child->GetScreenRect();
      // A static box's own rectangle reads shifted by its label on GTK: its children tell.
      if (!rect.IsEmpty() && !inside.Contains(rect) && !wxDynamicCast(child, wxStaticBox))
        Add(wxString::Format("%s \"%s\" at %d,%d %dx%d lies outside its parent at %d,%d %dx%d",
                             child->GetClassInfo()->GetClassName(), child->GetLabel(), rect.x,
                             rect.y, rect.width, rect.height, inside.x, inside.y, inside.width,
                             inside.height));
      if (auto* list = wxDynamicCast(child, wxDataViewCtrl)) {
        CheckList(list);
      } else if (auto* text = wxDynamicCast(child, wxStaticText)) {
        const int width = controls::TextWidth(text, text->GetLabelText());
        if (width > text->GetSize().x)
          Add(wxString::Format("label \"%s\" needs %d, has %d", text->GetLabelText(), width,
                               text->GetSize().x));
      } else if (wxDynamicCast(child, wxButton) || wxDynamicCast(child, wxCheckBox) ||
                 wxDynamicCast(child, wxRadioButton)) {
        if (child->GetBestSize().x > child->GetSize().x)
          Add(wxString::Format("\"%s\" needs %d, has %d", child->GetLabel(), child->GetBestSize().x,
                               child->GetSize().x));
      } else if (!wxDynamicCast(child, wxWebView)) {
        Check(child);
      }
    }
  }

  void CheckList(wxDataViewCtrl* list) {
    const wxString name = list->GetColumnCount() > 0 ? list->GetColumn(0)->GetTitle() : "";
    if (const int overflow = SidewaysOverflow(list); overflow > 0) {
      wxString widths;
      for (unsigned i = 0; i < list->GetColumnCount(); ++i)
        widths << " " << list->GetColumn(i)->GetWidth();
      Add(wxString::Format("list \"%s\" is %d wider than its %d (columns%s)", name, overflow,
                           list->GetClientSize().x, widths));
    }
    // The last column with a heading may hold free text longer than any width.
    int last = -1;
    for (unsigned i = 0; i < list->GetColumnCount(); ++i)
      if (!list->GetColumn(i)->GetTitle().empty()) last = static_cast<int>(i);
    // Without a heading, every column holds values that must show whole.
    const bool header = !list->HasFlag(wxDV_NO_HEADER);
    if (!header) last = -1;
    wxDataViewItemArray rows;
    if (auto* model = dynamic_cast<wxDataViewVirtualListModel*>(list->GetModel())) {
      for (unsigned row = 0; row < model->GetCount(); ++row) rows.push_back(model->GetItem(row));
    } else if (list->GetModel() != nullptr) {
      list->GetModel()->GetChildren(wxDataViewItem(), rows);
    }
    for (unsigned i = 0; i < list->GetColumnCount(); ++i) {
      wxDataViewColumn* column = list->GetColumn(i);
      const wxString title = column->GetTitle();
      if (header && !title.empty() &&
          controls::TextWidth(list, title) + list->FromDIP(kTextMargin) > column->GetWidth()) {
        Add(wxString::Format("heading \"%s\" needs %d, has %d", title,
                             controls::TextWidth(list, title), column->GetWidth()));
      }
      if (static_cast<int>(i) == last || (header && title.empty())) continue;
      for (const wxDataViewItem& row : rows) {
        bool image = false;
        const wxString text = CellText(list->GetModel(), row, column->GetModelColumn(), &image);
        const int needs = controls::TextWidth(list, text) + list->FromDIP(kTextMargin) +
                          (image ? list->FromDIP(kImageRoom) : 0);
        if (!text.empty() && needs > column->GetWidth())
          Add(wxString::Format("value \"%s\" of \"%s\" needs %d, has %d", text, title, needs,
                               column->GetWidth()));
      }
    }
  }

 private:
  std::string where_;
  std::vector<std::string> faults_;
};

class DefaultSizeUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Services::SetStorage(&storage_);
    id_ = storage_.AddMonitor({"Sales", "sales-db"});
    const std::string query = storage_.AddTestQuery(id_, {"Orders", "SELECT COUNT(*) FROM orders"});
    const std::string mail =
        storage_.AddAction({"Mail the DBA", 0, 3, "smtp.example.org", 25, false, "", "",
                            "monitor@example.org", "dba@example.org"});
    storage_.AddAction({"Page on call", 1, 2, "smtp.example.org", 25, false, "", "",
                        "monitor@example.org", "5550100@sms.example.org"});
    storage_.AddAction({"Log to audit", 2, 1, "", 25, false, "", "", "", "", "audit-dsn",
                        "INSERT INTO audit VALUES (1)"});
    storage_.AddAction({"Restart service", 3, 1, "", 25, false, "", "", "", "", "", "",
                        "/usr/local/bin/restart-sales"});
    storage_.AddAction({"Show window", 4, 1});
    const engine::MonitorSnapshot monitor = *storage_.GetMonitorSnapshot(id_);
    for (const engine::AttributeSnapshot& attribute : monitor.attributes) {
      if (attribute.displayName == "Connection Time (ms.)")
        storage_.AddAlert(id_, {mail, attribute.id, 1000, 1, 0});
      if (attribute.displayName == "Monitor Availability")
        storage_.AddAlert(id_, {mail, attribute.id, 0, 1, 1});
    }
    (void)query;
    {
      const std::shared_ptr<engine::Server> server = storage_.GetServerById(id_);
      std::lock_guard lock(server->Mutex());
      server->GetData()->time = kWideTime;
      server->GetData()->lastAlertTime = kWideTime;
    }
    engine::WriteLogRow(id_, 0, "Monitor started");
    engine::WriteLogRow(id_, 1,
                        "ERROR Test Query Value On Sales\r\nValue: 12\r\nThreshold: 10\r\n");
    MainFrameOptions options;
    options.writePages = false;
    options.trayIcon = false;
    frame_ = new CMainFrame(storage_, options);
    defaultSize_ = frame_->GetSize();
    frame_->RestorePlacementAndStart({0, 0, defaultSize_.x, defaultSize_.y, kShowNormal});
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
    PumpFor(std::chrono::milliseconds(100));
  }
  void TearDown() override {
    if (frame_) frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    storage_.Clear();
    MonitorTest::TearDown();
  }

  // Shows a view and waits for what it loads.
  void ShowNode(int image) {
    frame_->Tree()->SelectServer(id_, image);
    Settle();
  }
  void Settle() {
    BaseView* view = frame_->CurrentView();
    PumpUntil([view] {
      auto* log = dynamic_cast<LogView*>(view);
      auto* report = dynamic_cast<ReportBaseView*>(view);
      return (log == nullptr || !log->Busy()) && (report == nullptr || !report->Loading());
    });
    PumpFor(std::chrono::milliseconds(150));
  }
  void CheckFrame(const std::string& name, bool treePane = true) {
    {
      Faults faults(name);
      faults.Check(frame_->CurrentView());
      if (treePane) faults.Check(frame_->Tree()->GetParent());
    }
    testing_support::ScreenshotIfAsked(frame_, name);
  }
  void CheckDialog(wxWindow* dialog, const std::string& name) {
    InspectDialog(dialog, name);
    dialog->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  void InspectDialog(wxWindow* dialog, const std::string& name) {
    dialog->Show();
    ASSERT_TRUE(PumpUntil([dialog] { return dialog->IsShownOnScreen(); }));
    PumpFor(std::chrono::milliseconds(100));
    {
      Faults faults(name);
      const wxSize size = dialog->GetSize();
      if (size.x > kSmallScreen.x || size.y > kSmallScreen.y)
        faults.Add(wxString::Format("%dx%d is larger than a small screen", size.x, size.y));
      const wxPoint centre = dialog->GetScreenRect().GetPosition() + size / 2;
      const wxPoint frameCentre =
          frame_->GetScreenRect().GetPosition() + frame_->GetScreenRect().GetSize() / 2;
      if (std::abs(centre.x - frameCentre.x) > 2 || std::abs(centre.y - frameCentre.y) > 2)
        faults.Add(wxString::Format("centred at %d,%d, not on the main window's %d,%d", centre.x,
                                    centre.y, frameCentre.x, frameCentre.y));
      faults.Check(dialog);
    }
    testing_support::ScreenshotIfAsked(dialog, name);
  }

  engine::ServerStorage storage_;
  std::string id_;
  wxWeakRef<CMainFrame> frame_;
  wxSize defaultSize_;
};

TEST_F(DefaultSizeUiTest, TheMainWindowFitsASmallScreen) {
  EXPECT_LE(defaultSize_.x, kSmallScreen.x);
  EXPECT_LE(defaultSize_.y, kSmallScreen.y);
  EXPECT_EQ(frame_->GetSize(), defaultSize_);
}

TEST_F(DefaultSizeUiTest, EveryViewShowsItsTextsWhole) {
  const struct {
    int image;
    const char* name;
  } nodes[] = {
      {0, "monitor_summary"},
      {kTreeConnectionTime, "snapshot_view"},
      {kTreeTestQueries, "test_queries_view"},
      {kTreeHistory, "history_view"},
      {kTreeAlerts, "alerts_view"},
      {kTreeLog, "log_view"},
  };
  for (const auto& node : nodes) {
    ShowNode(node.image);
    if (auto* log = dynamic_cast<LogView*>(frame_->CurrentView())) {
      // The selected alert's whole message shows below the list, line by line.
      auto* model = static_cast<wxDataViewVirtualListModel*>(log->List()->GetModel());
      ASSERT_EQ(model->GetCount(), 2u);
      log->List()->Select(model->GetItem(0));
      wxDataViewEvent event(wxEVT_DATAVIEW_SELECTION_CHANGED, log->List(), model->GetItem(0));
      log->List()->ProcessWindowEvent(event);
      EXPECT_EQ(log->MessageText().utf8_string(), MessageLines(log->Lines()[0].message));
      EXPECT_EQ(log->MessageText().Freq('\n'), 3);
    }
    CheckFrame(node.name);
  }
  // The reports under "History" show the monitor selected there.
  for (const auto& [code, name] :
       {std::pair{21, "availability_report"}, std::pair{22, "health_report"},
        std::pair{23, "connection_time_report"}, std::pair{24, "test_queries_report"},
        std::pair{25, "alerts_report"}}) {
    ShowNode(kTreeHistory);
    ASSERT_TRUE(frame_->SwitchView(code));
    Settle();
    CheckFrame(name);
  }
  // The settings view is the monitor's own node.
  ShowNode(0);
  CheckFrame("settings_view");
  for (const auto& [code, name] :
       {std::pair{28, "actions_email_view"}, std::pair{29, "actions_sms_view"},
        std::pair{30, "actions_sql_view"}, std::pair{31, "actions_program_view"},
        std::pair{32, "actions_ui_view"}}) {
    ASSERT_TRUE(frame_->SwitchView(code));
    Settle();
    CheckFrame(name);
  }
}

TEST_F(DefaultSizeUiTest, TheSnapshotViewIsWholeAtTheLeastWindowSize) {
  frame_->SetSize(frame_->GetMinSize());
  ShowNode(kTreeConnectionTime);
  // The view gets at least its least size. The tree pane is at its least width too, where
  // long texts may be cut.
  BaseView* view = frame_->CurrentView();
  EXPECT_GE(view->GetSize().x, view->GetBestSize().x);
  EXPECT_GE(view->GetSize().y, view->GetBestSize().y);
  CheckFrame("snapshot_view_least_size", false);
}

TEST_F(DefaultSizeUiTest, EveryDialogFitsAndOpensCentred) {
  const engine::MonitorSnapshot monitor = *storage_.GetMonitorSnapshot(id_);
  const std::vector<engine::ActionSnapshot> actions = storage_.GetActionSnapshots();
  CheckDialog(new SettingsDialog(frame_, {}), "settings_dialog");
  CheckDialog(new AlertDialog(frame_, monitor.alerts.front().settings, monitor.attributes, actions),
              "alert_dialog");
  CheckDialog(new ActionEmailDialog(frame_, actions[0].settings, {}), "action_email_dialog");
  CheckDialog(new ActionEmailDialog(frame_, actions[1].settings, {}), "action_sms_dialog");
  CheckDialog(new ActionSqlDialog(frame_, actions[2].settings, {}), "action_sql_dialog");
  CheckDialog(new ActionProgramDialog(frame_, actions[3].settings, {}), "action_program_dialog");
  CheckDialog(new ActionUiDialog(frame_, actions[4].settings, {}), "action_ui_dialog");
  CheckDialog(new CAboutDlg(frame_), "about_dialog");
  auto odbc = std::make_shared<engine::testing::FakeOdbc>();
  CheckDialog(
      new TestConnectionDialog(frame_, MakeConnectionTestInput(monitor.settings, true), *odbc),
      "test_connection_dialog");
  NewMonitorWizardHooks hooks;
  hooks.listDataSources = [] { return std::vector<std::string>{"sales-db", "stock-db"}; };
  auto* wizard = new NewMonitorWizard(frame_, NewMonitorData{}, hooks);
  for (int page = NewMonitorWizard::kConnectionPage; page <= NewMonitorWizard::kFinishPage;
       ++page) {
    wizard->ShowPage(wizard->PageAt(static_cast<NewMonitorWizard::Page>(page)));
    InspectDialog(wizard, "new_monitor_wizard_" + std::to_string(page + 1));
  }
  wizard->Destroy();
}

}  // namespace
}  // namespace app
