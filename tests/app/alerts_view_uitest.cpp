// The alerts view and the alert dialog under a display against a real store: Add with a
// notification during the dialog, the dialog's enabling and refusal, the buttons, stored
// column widths, the boxes of alerts on a disabled test query, double clicks, and
// screenshots.
#include "app/views/alerts_view.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dataview.h>
#include <wx/frame.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialogs/alert_dialog.h"
#include "app/settings/settings.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

void Choose(wxComboBox* combo, const wxString& text) {
  combo->SetSelection(combo->FindString(text));
  wxCommandEvent choose(wxEVT_COMBOBOX, combo->GetId());
  choose.SetEventObject(combo);
  combo->GetEventHandler()->ProcessEvent(choose);
}

class AlertsViewUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    id_ = storage_.AddMonitor({"Sales", "sales-db"});
    queryId_ = storage_.AddTestQuery(id_, {"Orders", "SELECT COUNT(*) FROM orders"});
    mailId_ = storage_.AddAction({"Mail DBA", 0, 3});
    uiId_ = storage_.AddAction({"Show window", 4, 1});
    frame_ = new wxFrame(nullptr, wxID_ANY, "alerts", wxPoint(0, 0), wxSize(900, 360));
    const SnapshotSource stored = SnapshotsOf(storage_);
    auto polled = [this, stored](const std::string& id) {
      std::optional<engine::MonitorSnapshot> monitor = stored(id);
      if (monitor && polled_) polled_(*monitor);
      return monitor;
    };
    view_ = new AlertsView(
        frame_, polled, storage_,
        [this](const wxString& question) { return questions_.push_back(question), answer_; },
        [this](const wxString& text) { messages_.push_back(text); },
        [this](AlertDialog& dialog) { return runDialog_ ? runDialog_(dialog) : wxID_CANCEL; });
    frame_->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame_->GetSizer()->Add(view_, 1, wxEXPAND);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return view_->IsShownOnScreen(); }));
    view_->InitView();
    view_->SetMonitorId(id_);
    view_->UpdateView(false, kRefreshShow);
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    MonitorTest::TearDown();
  }

  engine::MonitorSnapshot Monitor() const { return *storage_.GetMonitorSnapshot(id_); }
  std::string AttributeId(const std::string& name) const {
    for (const auto& attribute : Monitor().attributes) {
      if (attribute.displayName == name) return attribute.id;
    }
    return {};
  }
  void AddAlert(const std::string& attribute, const std::string& action) {
    storage_.AddAlert(id_, {action, AttributeId(attribute), 1000, 1, 0});
    view_->UpdateView(false, kRefreshShow);
  }
  // A real double click on a cell; returns once the list has reported the activation.
  void DoubleClick(unsigned row, unsigned column) {
    wxDataViewListCtrl* list = view_->List();
    int activations = 0;
    auto count = [&](wxDataViewEvent& event) { ++activations, event.Skip(); };
    list->Bind(wxEVT_DATAVIEW_ITEM_ACTIVATED, count);
    const wxRect rect = list->GetItemRect(list->RowToItem(row), list->GetColumn(column));
    wxUIActionSimulator sim;
    sim.MouseMove(list->GetMainWindow()->ClientToScreen(rect.GetPosition() + rect.GetSize() / 2));
    PumpFor(std::chrono::milliseconds(50));
    sim.MouseDblClick();
    EXPECT_TRUE(PumpUntil([&] { return activations == 1; }));
    list->Unbind(wxEVT_DATAVIEW_ITEM_ACTIVATED, count);
  }
  bool Box(unsigned row) const { return view_->List()->GetToggleValue(row, 0); }

  engine::ServerStorage storage_;
  std::string id_, queryId_, mailId_, uiId_;
  bool answer_ = false;
  std::vector<wxString> questions_, messages_;
  std::function<int(AlertDialog&)> runDialog_;
  std::function<void(engine::MonitorSnapshot&)> polled_;
  wxFrame* frame_ = nullptr;
  AlertsView* view_ = nullptr;
};

TEST_F(AlertsViewUiTest, AddKeepsNothingUntilOkAndSelectsTheNewRow) {
  AddAlert("Monitor Availability", mailId_);
  for (const int answer : {wxID_CANCEL, wxID_OK}) {
    const int rows = answer == wxID_OK ? 2 : 1;
    int rowsDuringDialog = -1;
    runDialog_ = [&](AlertDialog& dialog) {
      Choose(dialog.AttributeCombo(), "Connection Time (ms.)");
      Choose(dialog.ActionCombo(), "Show window");
      dialog.ThresholdEdit()->ChangeValue("-5");
      view_->UpdateView(false, kRefreshNotify);  // a poll's notification meanwhile
      rowsDuringDialog = view_->List()->GetItemCount();
      return answer == wxID_OK && dialog.Accept() ? wxID_OK : wxID_CANCEL;
    };
    view_->Add();
    EXPECT_EQ(rowsDuringDialog, 1);
    ASSERT_EQ(view_->List()->GetItemCount(), rows);
    ASSERT_EQ(Monitor().alerts.size(), static_cast<std::size_t>(rows));
    EXPECT_EQ(view_->List()->GetSelectedRow(), rows - 1);
  }
  EXPECT_EQ(Monitor().alerts.back().settings,
            (engine::AlertSettings{uiId_, AttributeId("Connection Time (ms.)"), -5, 1, 0}));
  EXPECT_EQ(view_->RowIds().back(), Monitor().alerts.back().id);
}

TEST_F(AlertsViewUiTest, TheDialogFollowsTheAttributeAndRefusesOkWithoutAnAction) {
  AlertDialog dialog(frame_, {}, Monitor().attributes, storage_.GetActionSnapshots(),
                     [this](const wxString& text) { messages_.push_back(text); });
  dialog.Show();
  ASSERT_TRUE(PumpUntil([&] { return dialog.IsShownOnScreen(); }));
  testing_support::ScreenshotIfAsked(&dialog, "alert_dialog");
  for (const auto& [attribute, numeric] : {std::pair{"Monitor Availability", false},
                                           {"Connection Time (ms.)", true},
                                           {"Monitor Health", false},
                                           {"Orders Test Query Value", true}}) {
    Choose(dialog.AttributeCombo(), attribute);
    for (wxWindow* window :
         std::vector<wxWindow*>{dialog.ConditionLabel(), dialog.ConditionCombo(),
                                dialog.ThresholdLabel(), dialog.ThresholdEdit()}) {
      EXPECT_EQ(window->IsEnabled(), numeric) << attribute;
    }
  }
  EXPECT_FALSE(dialog.Accept());
  EXPECT_EQ(messages_, std::vector<wxString>{"Select Attribute and Action."});
  EXPECT_EQ(dialog.Alert(), engine::AlertSettings{});
  dialog.Hide();
}

TEST_F(AlertsViewUiTest, ButtonsFollowRowsSelectionAndArrowKeysStatusesRefreshWidthsStay) {
  EXPECT_FALSE(view_->RemoveAllButton()->IsEnabled());
  AddAlert("Connection Time (ms.)", mailId_);
  AddAlert("Monitor Availability", uiId_);
  EXPECT_TRUE(view_->RemoveAllButton()->IsEnabled());
  view_->List()->UnselectAll();
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_FALSE(view_->EditButton()->IsEnabled());
  EXPECT_FALSE(view_->RemoveButton()->IsEnabled());
  view_->List()->SetFocus();
  wxUIActionSimulator().Char(WXK_DOWN);
  EXPECT_TRUE(PumpUntil([this] { return view_->EditButton()->IsEnabled(); }));
  EXPECT_TRUE(view_->RemoveButton()->IsEnabled());

  polled_ = [](engine::MonitorSnapshot& monitor) {
    monitor.alerts[0].counter = 2;
    monitor.alerts[1] = {monitor.alerts[1].id,      monitor.alerts[1].settings, true, 2, true,
                         platform::kWsaEconnrefused};
  };
  view_->List()->SelectRow(1);
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(view_->List()->GetTextValue(0, 7), "WARNING. 2/3");
  EXPECT_TRUE(view_->List()->GetTextValue(1, 7).StartsWith("ERROR. Alert Failed. (0X274D No "));
  EXPECT_EQ(view_->List()->GetSelectedRow(), 1);
  testing_support::ScreenshotIfAsked(frame_, "alerts_view");

  // A wider window widens no stored column: GTK gives the room to the last column.
  const LayoutSettings before = Settings::Instance().GetLayout();
  wxDataViewColumn* last = view_->List()->GetColumn(view_->List()->GetColumnCount() - 1);
  const int room = last->GetWidth();
  frame_->SetSize(1200, 400);
  EXPECT_TRUE(PumpUntil([&] { return last->GetWidth() > room + 200; }));
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(Settings::Instance().GetLayout(), before);
}

TEST_F(AlertsViewUiTest, DoubleClicksAndBoxesOfAlertsOnADisabledTestQuery) {
  AddAlert("Orders Test Query Value", mailId_);
  int dialogs = 0;
  runDialog_ = [&](AlertDialog& dialog) {
    ++dialogs;
    dialog.ClearButton()->SetValue(true);
    return dialog.Accept() ? wxID_OK : wxID_CANCEL;
  };
  // A double click on a box toggles it twice and opens nothing; elsewhere it edits.
  DoubleClick(0, AlertsView::kEnableColumn);
  EXPECT_TRUE(Box(0) && Monitor().alerts[0].enable);
  EXPECT_EQ(dialogs, 0);
  DoubleClick(0, AlertsView::kFirstTextColumn);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Monitor().alerts[0].settings.alertType, 1);
  EXPECT_EQ(view_->List()->GetTextValue(0, AlertsView::kFirstTextColumn + 4), "Clear");

  storage_.EnableTestQuery(id_, queryId_, false);
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_FALSE(Box(0));
  for (const bool yes : {false, true}) {
    answer_ = yes;
    view_->List()->SetToggleValue(true, 0, 0);  // as a click does, with its event
    wxDataViewEvent changed(wxEVT_DATAVIEW_ITEM_VALUE_CHANGED, view_->List(),
                            view_->List()->GetColumn(0), view_->List()->RowToItem(0));
    view_->List()->GetEventHandler()->ProcessEvent(changed);
    EXPECT_EQ(questions_.back(), "Enable Alert's associated Test Query?");
    EXPECT_TRUE(Box(0));
    EXPECT_EQ(Monitor().testQueries[0].enable, yes);
    view_->UpdateView(false, kRefreshNotify);
    EXPECT_EQ(Box(0), yes);
  }
}

}  // namespace
}  // namespace app
