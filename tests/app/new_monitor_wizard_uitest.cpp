// The new-monitor wizard under a display, driven by pressing its buttons without its modal
// loop (the interval check, the alert rows tied to the actions, the connection test's input,
// the data on Finish), then modal runs of the entry point committed to a real store.
#include "app/dialogs/new_monitor_wizard.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/checklst.h>
#include <wx/combobox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/dialogs/test_connection_dialog.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

void Press(wxButton* button) {
  wxCommandEvent event(wxEVT_BUTTON, button->GetId());
  event.SetEventObject(button);
  button->ProcessWindowEvent(event);
}
void Press(wxWizard& wizard, wxWindowID id) {
  Press(wxDynamicCast(wizard.FindWindow(id), wxButton));
}

// Sets a row's check as a click on its box does, with the list's notification.
void Click(wxCheckListBox* list, unsigned row, bool check) {
  list->Check(row, check);
  wxCommandEvent event(wxEVT_CHECKLISTBOX, list->GetId());
  event.SetEventObject(list);
  event.SetInt(static_cast<int>(row));
  list->ProcessWindowEvent(event);
}

// Appends the mnemonic letters of the labels of window and its children.
void AddMnemonics(wxWindow* window, std::string& letters) {
  if (wxDynamicCast(window, wxStaticText) || wxDynamicCast(window, wxButton) ||
      wxDynamicCast(window, wxCheckBox)) {
    const wxString label = window->GetLabel();
    for (size_t i = 0; i + 1 < label.size(); ++i) {
      if (label[i] != '&') continue;
      if (label[i + 1] != '&') letters += static_cast<char>(wxTolower(label[i + 1]));
      ++i;
    }
  }
  for (wxWindow* child : window->GetChildren()) AddMnemonics(child, letters);
}

std::vector<bool> Checks(const wxCheckListBox* list) {
  std::vector<bool> checks;
  for (unsigned row = 0; row < list->GetCount(); ++row) checks.push_back(list->IsChecked(row));
  return checks;
}

class NewMonitorWizardUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    NewMonitorWizardHooks hooks;
    // A long name must not widen the wizard.
    hooks.listDataSources = [] {
      return std::vector<std::string>{"Sales DB", "Stock", std::string(150, 'W')};
    };
    hooks.testConnection = [this](wxWindow*, const ConnectionTestInput& input) {
      tested_.push_back(input);
    };
    hooks.message = [this](const wxString& text, const wxString&) { messages_.push_back(text); };
    wizard_ = new NewMonitorWizard(nullptr, NewMonitorData{}, std::move(hooks));
    wizard_->ShowPage(wizard_->PageAt(NewMonitorWizard::kConnectionPage));
    wizard_->Show();
    ASSERT_TRUE(ui_testing::PumpUntil([this] { return wizard_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    wizard_->Destroy();
    ui_testing::PumpFor(std::chrono::milliseconds(20));
    MonitorTest::TearDown();
  }
  void Next() { Press(*wizard_, wxID_FORWARD); }

  NewMonitorWizard* wizard_ = nullptr;
  std::vector<ConnectionTestInput> tested_;
  std::vector<wxString> messages_;
};

TEST_F(NewMonitorWizardUiTest, TypedFieldsReachTheTestTheSummaryAndFinish) {
  EXPECT_EQ(wizard_->DataSourceCtrl()->GetString(1), "Stock");
  EXPECT_LT(wizard_->GetSize().x, 800);
  GtkWidget* entry = gtk_bin_get_child(GTK_BIN(wizard_->DataSourceCtrl()->GetHandle()));
  EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(entry)), "ODBC Datasource");
  for (const char* text : {"0", "71583"}) {
    wizard_->IntervalCtrl()->SetValue(text);
    Next();
    EXPECT_EQ(wizard_->CurrentPage(), 0) << text;
  }
  EXPECT_EQ(messages_,
            std::vector<wxString>(
                2, "The polling interval must be a whole number of minutes from 1 to 71582."));
  wizard_->NameCtrl()->SetValue("Sales & Co");
  wizard_->DataSourceCtrl()->SetValue("Sales DB");
  wizard_->UserCtrl()->SetValue("ann");
  wizard_->PasswordCtrl()->SetValue("p;w");
  wizard_->IntervalCtrl()->SetValue("71582");
  Press(wizard_->TestButton());
  ASSERT_EQ(tested_.size(), 1u);
  EXPECT_EQ(tested_[0].connectionText, "DSN=Sales DB;UID=ann;PWD={p;w}");

  const char* const dir = std::getenv("LUMIVAR_SCREENSHOT_DIR");
  for (int page = 0; page < 4; ++page) {
    ASSERT_EQ(wizard_->CurrentPage(), page);
    if (dir != nullptr) {
      ui_testing::PumpFor(std::chrono::milliseconds(200));
      testing_support::SaveWindowScreenshot(
          wizard_, std::string(dir) + "/new_monitor_wizard_" + std::to_string(page + 1) + ".png");
    }
    if (page < 3) Next();
  }
  EXPECT_EQ(wizard_->GetTitle(), "New Monitor Wizard - Finish");
  EXPECT_FALSE(wizard_->StartCheck()->GetValue());
  Next();  // Finish
  EXPECT_EQ(wizard_->GetReturnCode(), wxID_OK);
  NewMonitorData expected;
  expected.name = "Sales & Co";
  expected.dataSource = "Sales DB";
  expected.userName = "ann";
  expected.password = "p;w";
  expected.pollingInterval = 71582;
  expected.startMonitor = false;
  EXPECT_EQ(NewMonitorSummary(wizard_->Data()), NewMonitorSummary(expected));
  EXPECT_EQ(wizard_->Data().startMonitor, false);
}

TEST_F(NewMonitorWizardUiTest, AlertRowsFollowTheActionsAndStayClearedWhenOneComesBack) {
  Next();
  Click(wizard_->ActionsList(), 0, false);
  Click(wizard_->ActionsList(), 1, false);
  Next();
  wxCheckListBox* alerts = wizard_->AlertsList();
  const std::vector<bool> none(6, false);
  EXPECT_EQ(Checks(alerts), none);
  Click(alerts, 0, true);
  Click(alerts, 4, true);
  EXPECT_EQ(Checks(alerts), none);

  Press(*wizard_, wxID_BACKWARD);
  Click(wizard_->ActionsList(), 0, true);
  Next();
  EXPECT_EQ(Checks(alerts), none);
  Click(alerts, 2, true);  // allowed now
  Click(alerts, 3, true);  // its balloon action is still off
  EXPECT_EQ(Checks(alerts), std::vector<bool>({false, false, true, false, false, false}));
  Next();
  EXPECT_EQ(wizard_->SummaryText()->GetLabelText(),
            wxString::FromUTF8(NewMonitorSummary(wizard_->Data())));
  EXPECT_TRUE(wizard_->Data().messageBoxAction && wizard_->Data().healthError);
  EXPECT_FALSE(wizard_->Data().balloonAction || wizard_->Data().availabilityError);
}

TEST_F(NewMonitorWizardUiTest, LongValuesLeaveEverySummaryLineOnThePage) {
  wizard_->NameCtrl()->SetValue(
      "A name of many words, long enough for two or three lines of the page");
  wizard_->DataSourceCtrl()->SetValue(wizard_->DataSourceCtrl()->GetString(2));
  wizard_->UserCtrl()->SetValue("a long user name of a few words as well");
  for (int i = 0; i < 3; ++i) Next();
  const wxStaticText* summary = wizard_->SummaryText();
  EXPECT_LE(summary->GetBestSize().y, summary->GetSize().y);
}

TEST_F(NewMonitorWizardUiTest, EachPageHasDistinctMnemonics) {
  for (int page = 0; page < 4; ++page) {
    std::string letters;
    AddMnemonics(wizard_->PageAt(NewMonitorWizard::Page(page)), letters);
    for (wxWindow* child : wizard_->GetChildren()) {
      if (wxDynamicCast(child, wxButton)) AddMnemonics(child, letters);
    }
    EXPECT_EQ(std::set<char>(letters.begin(), letters.end()).size(), letters.size())
        << page << ": " << letters;
    if (page < 3) Next();
  }
}

// Runs the entry point modally; steps drive the wizard from inside its loop.
bool RunWith(NewMonitorData& data, std::function<void(NewMonitorWizard&)> steps) {
  wxTheApp->CallAfter([steps] {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* wizard = dynamic_cast<NewMonitorWizard*>(window);
      if (wizard == nullptr || !wizard->IsModal()) continue;
      steps(*wizard);
      if (wizard->IsModal()) wizard->EndModal(wxID_ABORT);
      return;
    }
  });
  return RunNewMonitorWizard(nullptr, data);
}

TEST_F(NewMonitorWizardUiTest, CancelKeepsTheDataAndFinishedRunsCommit) {
  NewMonitorData data;
  EXPECT_FALSE(RunWith(data, [](NewMonitorWizard& wizard) {
    EXPECT_FALSE(wizard.FindWindow(wxID_BACKWARD)->IsEnabled());
    wizard.NameCtrl()->SetValue("typed");
    Press(wizard, wxID_FORWARD);
    Press(wizard, wxID_CANCEL);
    EXPECT_EQ(wizard.GetReturnCode(), wxID_CANCEL);
  }));
  EXPECT_EQ(data.name, "");

  engine::ServerStorage storage;
  for (const bool start : {false, true}) {
    NewMonitorData run;
    ASSERT_TRUE(RunWith(run, [start](NewMonitorWizard& wizard) {
      wizard.DataSourceCtrl()->SetValue("lumivar-test-no-such-source");
      for (int i = 0; i < 3; ++i) Press(wizard, wxID_FORWARD);
      wizard.StartCheck()->SetValue(start);
      Press(wizard, wxID_FORWARD);
    }));
    const std::optional<engine::MonitorSnapshot> monitor =
        storage.GetMonitorSnapshot(CommitNewMonitor(storage, run));
    ASSERT_TRUE(monitor.has_value());
    EXPECT_EQ(monitor->running, start);
    EXPECT_EQ(monitor->alerts.size(), 6u);
    EXPECT_EQ(storage.GetActionSnapshots().size(), 2u);
  }
  storage.StopAll();
  EXPECT_TRUE(storage.WaitForStops(std::chrono::steady_clock::now() + std::chrono::seconds(30)));
}

}  // namespace
}  // namespace app
