// The actions views and dialogs under a display against a real store: a notification
// while the add dialog runs shows no half-made row, Cancel leaves nothing and OK one new
// selected row; the e-mail dialog's port, authentication box and refused numbers; the
// views and the four dialogs as the user sees them.
#include "app/views/actions_view.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dataview.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs/action_dialogs.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

void Click(wxWindow* control, wxEventType type) {
  wxCommandEvent event(type, control->GetId());
  event.SetEventObject(control);
  if (auto* box = dynamic_cast<wxCheckBox*>(control)) event.SetInt(box->GetValue() ? 1 : 0);
  control->GetEventHandler()->ProcessEvent(event);
  // A command that opens a modal window opens it on the loop's next turn.
  wxTheApp->ProcessPendingEvents();
}

class ActionsViewUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    const struct {
      int type;
      const char* name;
      int polls;
      const char* target;  // the recipient or the query
    } actions[] = {
        {0, "On-call mail", 3, "oncall@example.org"},
        {0, "Team mail", 1, "team@example.org"},
        {2, "Record outage", 1, "INSERT INTO outages(at)\r\nVALUES (CURRENT_TIMESTAMP)"},
        {2, "Wake batch", -1, "UPDATE jobs SET state = 1"},
    };
    for (const auto& a : actions) {
      engine::ActionSettings settings{a.name, a.type, a.polls, "smtp.example.org"};
      (a.type == 0 ? settings.toAddress : settings.sqlQuery) = a.target;
      settings.datasourceName = "ops";
      ASSERT_FALSE(storage_.AddAction(settings).empty());
    }
    frame_ = new wxFrame(nullptr, wxID_ANY, "actions", wxPoint(0, 0), wxSize(760, 420));
    frame_->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    MonitorTest::TearDown();
  }

  ActionsView* MakeView(int kind) {
    auto* view = new ActionsView(
        frame_, SnapshotsOf(storage_), storage_, kind, [this] { ++pages_; },
        [this](const wxString& question) {
          questions_.push_back(question);
          return true;
        },
        [this](ActionDialog& dialog) { return run_(dialog); });
    frame_->GetSizer()->Clear(true);
    frame_->GetSizer()->Add(view, 1, wxEXPAND);
    frame_->Layout();
    view->InitView();
    view->UpdateView(false, kRefreshShow);
    return view;
  }
  std::vector<std::string> Names(int kind) const {
    std::vector<std::string> names;
    for (const auto& a : storage_.GetActionSnapshots()) {
      if (a.settings.type == kind) names.push_back(a.settings.name);
    }
    return names;
  }

  engine::ServerStorage storage_;
  wxFrame* frame_ = nullptr;
  std::function<int(ActionDialog&)> run_;
  std::vector<wxString> questions_;
  int pages_ = 0;
};

TEST_F(ActionsViewUiTest, ANotificationDuringAddShowsNoHalfMadeRowAndOnlyOkStores) {
  ActionsView* view = MakeView(0);
  wxDataViewListCtrl* list = view->List();
  ASSERT_EQ(list->GetItemCount(), 2);
  for (const bool accept : {false, true}) {
    SCOPED_TRACE(accept);
    int rowsDuringDialog = -1;
    run_ = [&](ActionDialog& dialog) {
      dialog.NameCtrl()->ChangeValue("Pager");
      view->UpdateView(false, kRefreshNotify);  // a poll ends while the dialog is open
      rowsDuringDialog = list->GetItemCount();
      if (!accept) return static_cast<int>(wxID_CANCEL);
      EXPECT_TRUE(dialog.Accept());
      return dialog.GetReturnCode();
    };
    Click(view->AddButton(), wxEVT_BUTTON);
    EXPECT_EQ(rowsDuringDialog, 2);
  }
  EXPECT_EQ(Names(0), (std::vector<std::string>{"On-call mail", "Team mail", "Pager"}));
  ASSERT_EQ(list->GetItemCount(), 3);
  EXPECT_EQ(list->GetSelectedRow(), 2);
  EXPECT_EQ(list->GetTextValue(2, 0), "Pager");
  EXPECT_EQ(list->GetTextValue(2, 1), "1");
  EXPECT_TRUE(view->EditButton()->IsEnabled());

  // Remove All asks, then removes the e-mail actions only; saving the view asks for pages.
  // A removal waits only briefly for the file's lock: the added action's save is done.
  ASSERT_TRUE(storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  Click(view->RemoveAllButton(), wxEVT_BUTTON);
  EXPECT_EQ(questions_, std::vector<wxString>{"Remove all actions?"});
  EXPECT_EQ(list->GetItemCount(), 0);
  EXPECT_FALSE(view->TestButton()->IsEnabled());
  EXPECT_EQ(Names(2).size(), 2u);
  EXPECT_EQ(pages_, 0);
  view->UpdateView(true, kRefreshShow);
  EXPECT_EQ(pages_, 1);
}

// A button that opens a modal window opens it once the button's event has returned (an
// accessibility client's action returns with it), and a second press before that turn of
// the loop opens no second window.
TEST_F(ActionsViewUiTest, ModalWindowsOpenAfterTheButtonsEventReturns) {
  ActionsView* view = MakeView(0);
  int dialogs = 0;
  run_ = [&](ActionDialog&) {
    ++dialogs;
    return static_cast<int>(wxID_CANCEL);
  };
  const struct {
    const char* name;
    wxButton* button;
    int dialogs;    // dialogs run after the turn
    int questions;  // questions asked after the turn
  } cases[] = {
      {"Add", view->AddButton(), 1, 0},
      {"Edit", view->EditButton(), 1, 0},
      {"Remove All", view->RemoveAllButton(), 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs = 0;
    questions_.clear();
    for (int press = 0; press < 2; ++press) {
      wxCommandEvent event(wxEVT_BUTTON, c.button->GetId());
      event.SetEventObject(c.button);
      c.button->GetEventHandler()->ProcessEvent(event);
    }
    EXPECT_EQ(dialogs + static_cast<int>(questions_.size()), 0) << "opened inside the event";
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(dialogs, c.dialogs);
    EXPECT_EQ(static_cast<int>(questions_.size()), c.questions);
  }
}

TEST_F(ActionsViewUiTest, EmailDialogPortAuthenticationAndRefusedNumbers) {
  std::vector<wxString> messages;
  const engine::ActionSettings fresh = ActionsModel(storage_, 1).NewAction();
  auto dialog = std::make_unique<ActionEmailDialog>(
      frame_, fresh, [&](const wxString& text, const wxString&) { messages.push_back(text); });
  dialog->Show();
  EXPECT_EQ(dialog->PortCtrl()->GetValue(), "25");
  EXPECT_EQ(dialog->PollsCtrl()->GetValue(), "1");
  EXPECT_TRUE(dialog->PasswordCtrl()->HasFlag(wxTE_PASSWORD));
  for (const bool auth : {true, false, true}) {
    dialog->AuthCheck()->SetValue(auth);
    Click(dialog->AuthCheck(), wxEVT_CHECKBOX);
    EXPECT_EQ(dialog->UserCtrl()->IsEnabled(), auth);
    EXPECT_EQ(dialog->PasswordCtrl()->IsEnabled(), auth);
  }
  dialog->ServerCtrl()->ChangeValue("mail.example.org");
  EXPECT_EQ(dialog->Settings(), fresh) << "the box changes nothing before OK";

  const struct {
    const char* port;
    const char* polls;
    bool accepted;
  } attempts[] = {
      {"abc", "2", false}, {"70000", "2", false}, {"587", "x", false}, {"587", "2", true}};
  for (const auto& attempt : attempts) {
    SCOPED_TRACE(attempt.port);
    messages.clear();
    dialog->PortCtrl()->ChangeValue(attempt.port);
    dialog->PollsCtrl()->ChangeValue(attempt.polls);
    EXPECT_EQ(dialog->Accept(), attempt.accepted);
    EXPECT_EQ(messages.size(), attempt.accepted ? 0u : 1u);
    EXPECT_EQ(dialog->IsShown(), !attempt.accepted);
    if (!attempt.accepted) {
      EXPECT_EQ(dialog->Settings(), fresh);
    }
  }
  engine::ActionSettings expected = fresh;
  expected.server = "mail.example.org";
  expected.port = 587;
  expected.auth = true;
  expected.pollsCount = 2;
  EXPECT_EQ(dialog->Settings(), expected);
}

TEST_F(ActionsViewUiTest, ViewsAndDialogsAsShown) {
  const int nameWidth = Settings::Instance().GetLayout().actionsSQLNameWidth;
  ActionsView* sql = MakeView(2);  // refreshed before its list is laid out
  EXPECT_EQ(Settings::Instance().GetLayout().actionsSQLNameWidth, nameWidth);
  EXPECT_EQ(sql->List()->GetTextValue(0, 3), "INSERT INTO outages(at)...");
  EXPECT_EQ(sql->List()->GetTextValue(1, 1), "-");
  testing_support::ScreenshotIfAsked(frame_, "actions_sql_view");
  ActionsView* mail = MakeView(0);
  EXPECT_EQ(mail->List()->GetSelectedRow(), 0);
  testing_support::ScreenshotIfAsked(frame_, "actions_email_view");

  auto programDialog = std::make_unique<ActionProgramDialog>(
      frame_, engine::ActionSettings{"Restart agent", 3}, ActionDialog::MessageFunction{},
      [](wxWindow*) { return std::optional<wxString>("/usr/local/bin/restart-agent"); });
  Click(programDialog->BrowseButton(), wxEVT_BUTTON);
  EXPECT_EQ(programDialog->PathCtrl()->GetValue(), "/usr/local/bin/restart-agent");

  engine::ActionSettings ui{"Page the desk", 4};
  ui.uiType = 7;
  auto uiDialog = std::make_unique<ActionUiDialog>(frame_, ui);
  EXPECT_EQ(uiDialog->KindChoice()->GetSelection(), wxNOT_FOUND);
  ASSERT_TRUE(uiDialog->Accept());
  EXPECT_EQ(uiDialog->Settings().uiType, 7);
  uiDialog->KindChoice()->SetSelection(1);

  std::vector<std::pair<const char*, std::unique_ptr<ActionDialog>>> dialogs;
  dialogs.emplace_back("action_email_dialog",
                       MakeActionDialog(frame_, storage_.GetActionSnapshots()[0].settings));
  dialogs.emplace_back("action_sql_dialog",
                       MakeActionDialog(frame_, storage_.GetActionSnapshots()[2].settings));
  dialogs.emplace_back("action_program_dialog", std::move(programDialog));
  dialogs.emplace_back("action_ui_dialog", std::move(uiDialog));
  for (auto& [name, dialog] : dialogs) {
    dialog->Show();
    ASSERT_TRUE(PumpUntil([&] { return dialog->IsShownOnScreen(); }));
    testing_support::ScreenshotIfAsked(dialog.get(), name);
    dialog->Hide();
  }
}

}  // namespace
}  // namespace app
