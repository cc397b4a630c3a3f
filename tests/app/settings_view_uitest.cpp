// The monitor settings view and the connection-test dialog under a display: Cancel reloads
// and Update stores, the check boxes enable their fields, an invalid interval is refused
// (at close the other fields are saved and the log says so; for a deleted monitor nothing
// is said), a notification leaves what the user typed, and the connection-test dialog
// shows its running log and closes at once while the driver hangs (against the scripted
// driver, which holds the connect until released).
#include "app/views/settings_view.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/test_connection_dialog.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

void Click(wxWindow* control, wxEventType type, int value = 0) {
  wxCommandEvent event(type, control->GetId());
  event.SetEventObject(control);
  event.SetInt(value);
  control->GetEventHandler()->ProcessEvent(event);
}

void Check(wxCheckBox* box, bool value) {
  box->SetValue(value);
  Click(box, wxEVT_CHECKBOX, value ? 1 : 0);
}

std::string Text(const wxTextCtrl* ctrl) { return ctrl->GetValue().utf8_string(); }

class SettingsViewUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    stored_.name = "Sales";
    stored_.address = "sales-dsn";
    stored_.username = "ann";
    stored_.password = "secret";
    stored_.pollingInterval = 5;
    stored_.connectionString = "Driver=X";
    stored_.loginTimeout = 20;
    stored_.queryTimeout = 30;
    id_ = store_.AddMonitor(stored_);
    ASSERT_FALSE(id_.empty());

    frame_ = new wxFrame(nullptr, wxID_ANY, "settings", wxPoint(0, 0), wxSize(720, 480));
    view_ = new ODBCSettingsView(
        frame_, SnapshotsOf(store_), store_,
        [this](const wxString& text, const wxString&) { messages_.push_back(text); }, odbc_.get());
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return view_->IsShownOnScreen(); }));
    view_->InitView();
    view_->SetMonitorId(id_);
    view_->UpdateView(false, kRefreshShow);
    frame_->Layout();
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    MonitorTest::TearDown();
  }

  engine::MonitorSettings Stored() const { return store_.GetMonitorSnapshot(id_)->settings; }

  engine::ServerStorage store_;
  engine::MonitorSettings stored_;
  std::string id_;
  std::shared_ptr<engine::testing::FakeOdbc> odbc_ = std::make_shared<engine::testing::FakeOdbc>();
  std::vector<wxString> messages_;
  wxFrame* frame_ = nullptr;
  ODBCSettingsView* view_ = nullptr;
};

// Types into every field and flips both check boxes: the settings that then show.
engine::MonitorSettings Edit(ODBCSettingsView* view) {
  view->NameCtrl()->ChangeValue("Stock");
  view->DataSourceCtrl()->ChangeValue("stock-dsn");
  view->UserCtrl()->ChangeValue("bob");
  view->PasswordCtrl()->ChangeValue("p;w}");
  view->IntervalCtrl()->ChangeValue("71582");
  Check(view->ConnectionStringCheck(), true);
  view->ConnectionStringCtrl()->ChangeValue("Driver=Y;Database=z");
  Check(view->CustomTimeoutsCheck(), true);
  view->LoginTimeoutCtrl()->ChangeValue("7");
  view->QueryTimeoutCtrl()->ChangeValue("abc");  // not a number: 0
  engine::MonitorSettings edited{"Stock", "stock-dsn",           "bob", "p;w}", 71582,
                                 true,    "Driver=Y;Database=z", true,  7,      0};
  return edited;
}

TEST_F(SettingsViewUiTest, CancelRestoresAndUpdateStores) {
  EXPECT_EQ(view_->FieldSettings(), stored_);
  testing_support::ScreenshotIfAsked(frame_, "settings_view");

  engine::MonitorSettings edited = Edit(view_);
  EXPECT_EQ(view_->FieldSettings(), edited);
  Click(view_->CancelButton(), wxEVT_BUTTON);
  EXPECT_EQ(view_->FieldSettings(), stored_);
  EXPECT_EQ(Stored(), stored_);

  Edit(view_);
  Click(view_->UpdateButton(), wxEVT_BUTTON);
  EXPECT_EQ(Stored(), edited);
  EXPECT_EQ(view_->FieldSettings(), edited);
  EXPECT_EQ(Text(view_->QueryTimeoutCtrl()), "0");  // shown again from the monitor
  EXPECT_TRUE(messages_.empty());

  // The engine's -1 (default time-outs) survives an Update that leaves its field alone.
  edited.loginTimeout = -1;
  store_.ApplyMonitorSettings(id_, edited);
  Click(view_->CancelButton(), wxEVT_BUTTON);
  Click(view_->UpdateButton(), wxEVT_BUTTON);
  EXPECT_EQ(Stored().loginTimeout, -1);
}

TEST_F(SettingsViewUiTest, InvalidIntervalIsRefused) {
  struct Case {
    const char* interval;
    bool accepted;
  };
  const std::vector<Case> cases = {{"0", false}, {"71583", false}, {"71582", true}};
  for (const Case& c : cases) {
    messages_.clear();
    view_->NameCtrl()->ChangeValue(c.interval);  // marks what was stored
    view_->IntervalCtrl()->ChangeValue(c.interval);
    EXPECT_EQ(view_->UpdateView(true, kRefreshShow), c.accepted) << c.interval;
    EXPECT_EQ(messages_.size(), c.accepted ? 0u : 1u) << c.interval;
    EXPECT_EQ(Stored().name == c.interval, c.accepted) << c.interval;
    EXPECT_EQ(Text(view_->IntervalCtrl()), c.interval);  // the field is left for correcting
  }
}

// At the window's close the view asks nothing, as no one may be there to answer: the other
// fields are saved with the stored interval, and the log says the interval was kept.
TEST_F(SettingsViewUiTest, ClosingWithAnInvalidIntervalSavesTheOtherFields) {
  engine::MonitorSettings edited = Edit(view_);
  view_->IntervalCtrl()->ChangeValue("0");
  EXPECT_TRUE(view_->UpdateView(true, kSaveClosing));
  EXPECT_TRUE(messages_.empty());
  edited.pollingInterval = stored_.pollingInterval;
  EXPECT_EQ(Stored(), edited);
  ASSERT_TRUE(store_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  EXPECT_EQ(engine::testing::ConfigRows("SELECT name, pollingInterval FROM ODBCDataSources"),
            (engine::testing::Rows{{"Stock", "5"}}));
  EXPECT_EQ(engine::testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + id_ + "'"),
            (engine::testing::Rows{{IntervalNotChangedText("0")}}));
}

// The monitor went while its fields held what the check refuses: nothing to save or say.
TEST_F(SettingsViewUiTest, AMonitorDeletedMeanwhileIsNeitherSavedNorRefused) {
  view_->IntervalCtrl()->ChangeValue("0");
  store_.DeleteServer(id_);
  for (const int hint : {kRefreshShow, kSaveClosing}) {
    EXPECT_TRUE(view_->UpdateView(true, hint));
  }
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(store_.GetServerCount(), 0);
}

TEST_F(SettingsViewUiTest, CheckBoxesEnableTheirFields) {
  struct Case {
    bool connectionString;
    bool timeouts;
  };
  const std::vector<Case> cases = {{true, false}, {false, true}, {false, false}};
  for (const Case& c : cases) {
    Check(view_->ConnectionStringCheck(), c.connectionString);
    Check(view_->CustomTimeoutsCheck(), c.timeouts);
    EXPECT_EQ(view_->ConnectionStringCtrl()->IsEnabled(), c.connectionString);
    EXPECT_EQ(view_->UserCtrl()->IsEnabled(), !c.connectionString);
    EXPECT_EQ(view_->PasswordCtrl()->IsEnabled(), !c.connectionString);
    EXPECT_EQ(view_->LoginTimeoutCtrl()->IsEnabled(), c.timeouts);
    EXPECT_EQ(view_->QueryTimeoutCtrl()->IsEnabled(), c.timeouts);
  }
}

TEST_F(SettingsViewUiTest, NotificationLeavesTypedFields) {
  view_->NameCtrl()->ChangeValue("Typed");
  Check(view_->CustomTimeoutsCheck(), true);
  engine::MonitorSettings renamed = stored_;
  renamed.name = "Renamed elsewhere";
  store_.ApplyMonitorSettings(id_, renamed);

  view_->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(view_->Header().title, "Renamed elsewhere (sales-dsn)");
  EXPECT_EQ(Text(view_->NameCtrl()), "Typed");
  EXPECT_TRUE(view_->CustomTimeoutsCheck()->GetValue());

  // Another monitor selected: its fields load even on a notification.
  engine::MonitorSettings other = stored_;
  other.name = "Other";
  const std::string otherId = store_.AddMonitor(other);
  view_->SetMonitorId(otherId);
  view_->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(view_->FieldSettings(), other);
  EXPECT_EQ(view_->LoadedMonitorId(), otherId);
}

// A key press the dialog receives.
void PressEscape(wxWindow* window) {
  wxKeyEvent key(wxEVT_CHAR_HOOK);
  key.m_keyCode = WXK_ESCAPE;
  key.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(key);
}

TEST_F(SettingsViewUiTest, DialogShowsTheRunningLogAndOkAtTheEnd) {
  struct Case {
    const char* name;
    std::int32_t connectCode;
    const char* ending;
  };
  const std::vector<Case> cases = {
      {"test_connection_ok", 0, "TESTS COMPLETED SUCCESSFULLY!\r\n"},
      {"test_connection_failed", -1, "[fake]no such source\r\nTESTS FAILED!\r\n"},
  };
  for (const Case& c : cases) {
    odbc_->SetConnectError(c.connectCode, "[fake]no such source");
    odbc_->BlockConnects(true);
    auto* dialog = new TestConnectionDialog(
        frame_, MakeConnectionTestInput(view_->FieldSettings(), true), odbc_);
    dialog->Show();
    ASSERT_TRUE(dialog->StartTest());
    ASSERT_TRUE(odbc_->WaitForBlocked());
    ASSERT_TRUE(PumpUntil([&] { return dialog->Log().find("Attempting") != std::string::npos; }));
    EXPECT_TRUE(dialog->Running());
    EXPECT_FALSE(dialog->OkButton()->IsEnabled());

    odbc_->Release();
    ASSERT_TRUE(PumpUntil([&] { return !dialog->Running(); }));
    EXPECT_TRUE(dialog->OkButton()->IsEnabled());
    const std::string log = dialog->Log();
    EXPECT_EQ(log.substr(log.size() - std::string(c.ending).size()), c.ending);
    EXPECT_EQ(dialog->LogCtrl()->GetValue(), LogForDisplay(log));
    testing_support::ScreenshotIfAsked(dialog, c.name);
    dialog->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(odbc_->LastConnectionText(), "DSN=sales-dsn;UID=ann;PWD=secret");
}

// Receives the work posted to the UI thread while it exists, and counts it.
class CountingReceiver : public wxEvtHandler {
 public:
  CountingReceiver() { SetUiThreadReceiver(this); }
  ~CountingReceiver() override { SetUiThreadReceiver(wxTheApp); }
  void QueueEvent(wxEvent* event) override {
    ++posted;
    wxEvtHandler::QueueEvent(event);
  }
  std::atomic<int> posted = 0;
};

// A driver that never answers (a login time-out of 0 against a silent server) must not hold
// the modal dialog, nor the window under it: Escape and the close box end it at once, and
// the abandoned worker, released later, touches and reports nothing.
TEST_F(SettingsViewUiTest, ModalDialogClosesAtOnceWhileTheDriverHangs) {
  const struct {
    const char* name;
    std::function<void(wxDialog&)> close;
  } cases[] = {
      {"Escape", [](wxDialog& dialog) { PressEscape(&dialog); }},
      {"close box", [](wxDialog& dialog) { dialog.Close(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CountingReceiver receiver;
    odbc_->BlockConnects(true);
    ConnectionTestInput input = MakeConnectionTestInput(view_->FieldSettings(), true);
    input.loginTimeout = 0;
    int result = 0;
    bool blockedWhileOpen = false;
    bool blockedAfterClose = false;
    int postedAtClose = 0;
    {
      TestConnectionDialog dialog(frame_, input, odbc_);
      // Should the dialog refuse to close, this ends its loop so that the test goes on.
      wxTimer rescue;
      rescue.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (dialog.IsModal()) dialog.EndModal(wxID_ABORT);
      });
      rescue.StartOnce(30'000);
      wxTheApp->CallAfter([&] {
        blockedWhileOpen = odbc_->WaitForBlocked() && dialog.Running();
        c.close(dialog);
      });
      result = dialog.ShowModal();
      rescue.Stop();
      blockedAfterClose = odbc_->WaitForBlocked(std::chrono::milliseconds(0));
      postedAtClose = receiver.posted;
    }
    EXPECT_TRUE(blockedWhileOpen);
    EXPECT_EQ(result, wxID_CANCEL) << "the dialog did not close while the driver hung";
    EXPECT_TRUE(blockedAfterClose) << "the close waited for the driver";

    odbc_->Release();
    // The worker has ended once it no longer holds the driver layer.
    ASSERT_TRUE(PumpUntil([this] { return odbc_.use_count() == 1; }));
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(receiver.posted, postedAtClose) << "the abandoned worker reported";
  }
}

TEST_F(SettingsViewUiTest, WorkerOutlivesADestroyedDialog) {
  odbc_->BlockConnects(true);
  auto* dialog = new TestConnectionDialog(frame_, ConnectionTestInput{}, odbc_);
  ASSERT_TRUE(dialog->StartTest());
  ASSERT_TRUE(odbc_->WaitForBlocked());
  dialog->Destroy();  // as when its parent goes away
  PumpFor(std::chrono::milliseconds(20));
  odbc_->Release();
  ASSERT_TRUE(PumpUntil([this] { return odbc_.use_count() == 1; }));
  // The worker's last report arrives with no dialog left to show it.
  PumpFor(std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace app
