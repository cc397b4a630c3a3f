// The main window and the engine's way to it, under a display: the window comes up
// titled "Lumivar" with its menus, is placed from the saved placement and hands it back
// when it closes (closing the alert box with it); calls from engine threads reach it
// only through the UI thread's queue.
#include <gtest/gtest.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "app/about_dialog.h"
#include "app/app_user_interface.h"
#include "app/command_ids.h"
#include "app/exit_signals.h"
#include "app/main_frame.h"
#include "app/thread_message_box.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpOnce;
using ui_testing::PumpUntil;

class MainWindowTest : public ::testing::Test {
 protected:
  CMainFrame* Open(const WindowPlacement& placement) {
    frame_ = new CMainFrame(store_, Options([this](const WindowPlacement& p) { saved_ = p; }));
    frame_->RestorePlacementAndStart(placement);
    PumpUntil([this] { return frame_->IsShown(); });
    return frame_.get();
  }
  void TearDown() override {
    if (frame_) frame_->Destroy();
    ThreadMessageBox::CloseCurrent();
    PumpFor(std::chrono::milliseconds(20));
  }

  static MainFrameOptions Options(std::function<void(const WindowPlacement&)> save) {
    MainFrameOptions options;
    options.savePlacement = std::move(save);
    options.writePages = false;
    options.trayIcon = false;
    return options;
  }

  engine::ServerStorage store_;
  wxWeakRef<CMainFrame> frame_;
  std::optional<WindowPlacement> saved_;
};

TEST_F(MainWindowTest, OpensTitledLumivarWithItsMenus) {
  CMainFrame* frame = Open({30, 40, 640, 480, kShowNormal});
  EXPECT_EQ(frame->GetTitle(), "Lumivar");
  EXPECT_TRUE(frame->GetIcons().IsOk());

  wxMenuBar* bar = frame->GetMenuBar();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->GetMenuCount(), 4u);
  EXPECT_EQ(bar->GetMenuLabel(0), "&Monitor");
  EXPECT_EQ(bar->GetMenuLabel(1), "&View");
  EXPECT_EQ(bar->GetMenuLabel(2), "Tools");
  EXPECT_EQ(bar->GetMenuLabel(3), "&Help");
  const struct {
    int id;
    const char* label;
    const char* prompt;
  } items[] = {
      {kIdMonitorNew, "&New", "Create new ODBC Data Source monitor."},
      {kIdMonitorStart, "&Start", "Start selected monitor."},
      {kIdMonitorStop, "S&top", "Stop selected monitor."},
      {kIdMonitorDelete, "&Delete", "Delete selected monitor."},
      {kIdViewToolbar, "&Toolbar", "Show or hide the toolbar."},
      {kIdViewStatusBar, "&Status Bar", "Show or hide the status bar."},
      {kIdSettings, "&Settings", "Open settings dialog."},
      {kIdOnlineHelp, "Online &Help", "Browse online help."},
      {kIdAppAbout, "&About Lumivar...", "Show the program's name and version."},
  };
  for (const auto& item : items) {
    wxMenuItem* menuItem = bar->FindItem(item.id);
    ASSERT_NE(menuItem, nullptr) << item.label;
    EXPECT_EQ(menuItem->GetItemLabel(), item.label);
    EXPECT_EQ(menuItem->GetHelp(), item.prompt);
  }
  EXPECT_EQ(bar->GetMenu(0)->GetMenuItemCount(), 6u);  // with two separators

  // The toolbar: New | Start Stop | Settings, each with its name as tooltip and its prompt.
  wxToolBar* toolbar = frame->GetToolBar();
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(toolbar->GetToolsCount(), 6u);
  for (const auto& [id, name] :
       {std::pair{kIdMonitorNew, "New"}, std::pair{kIdMonitorStart, "Start"},
        std::pair{kIdMonitorStop, "Stop"}, std::pair{kIdSettings, "Settings"}}) {
    EXPECT_EQ(toolbar->GetToolShortHelp(id), name);
    EXPECT_EQ(toolbar->GetToolLongHelp(id), bar->FindItem(id)->GetHelp());
  }

  // The status bar is shown and the View menu toggles it.
  ASSERT_NE(frame->GetStatusBar(), nullptr);
  frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
  EXPECT_TRUE(bar->IsChecked(kIdViewStatusBar));
  wxCommandEvent toggle(wxEVT_MENU, kIdViewStatusBar);
  frame->GetEventHandler()->ProcessEvent(toggle);
  EXPECT_FALSE(frame->GetStatusBar()->IsShown());
  frame->GetEventHandler()->ProcessEvent(toggle);
  EXPECT_TRUE(frame->GetStatusBar()->IsShown());
}

// A normal window takes the saved rectangle and hands it back once when it closes. SIGTERM
// and SIGHUP arrive together at logout, and each closes the window; the first close may
// hide it (a notification popup is still on screen), so a second save would record a
// minimised window.
TEST_F(MainWindowTest, ANormalWindowTakesTheSavedRectangleAndSavesItOnceAtClose) {
  int saves = 0;
  frame_ = new CMainFrame(store_, Options([this, &saves](const WindowPlacement& p) {
                            ++saves;
                            saved_ = p;
                          }));
  CMainFrame* frame = frame_.get();
  frame->RestorePlacementAndStart({30, 40, 900, 700, kShowNormal});
  ASSERT_TRUE(PumpUntil([frame] { return frame->IsShown(); }));
  EXPECT_FALSE(frame->IsFirstShowPending());
  EXPECT_EQ(frame->GetSize(), wxSize(900, 700));
  PumpUntil([frame] { return frame->GetPosition() == wxPoint(30, 40); });
  EXPECT_EQ(frame->GetPosition(), wxPoint(30, 40));

  frame->SetSize(50, 60, 950, 720);
  frame->ShowBalloon("Lumivar", "Lumivar is started.", kAlertKindInformation);
  PumpFor(std::chrono::milliseconds(100));
  frame->Close(true);
  frame->Close(true);
  EXPECT_EQ(saves, 1);
  ASSERT_TRUE(saved_.has_value());
  EXPECT_EQ(saved_->width, 950);
  EXPECT_EQ(saved_->height, 720);
  EXPECT_EQ(saved_->mode, kShowNormal);
  EXPECT_TRUE(PumpUntil([this] { return !frame_; }));
}

TEST_F(MainWindowTest, AnOffScreenOrEmptyRectangleStillGivesAUsableWindow) {
  CMainFrame* frame = Open({20000, 20000, 0, 0, 0});
  const wxRect r = frame->GetRect();
  EXPECT_GE(r.width, 320);
  EXPECT_GE(r.height, 240);
  EXPECT_TRUE(frame->IsShown());
}

TEST_F(MainWindowTest, AMaximisedStartKeepsTheDefaultPlaceAndWaitsForTheFirstShow) {
  CMainFrame* frame = Open({5, 5, 300, 300, kShowMaximized});
  EXPECT_TRUE(frame->IsFirstShowPending());
  EXPECT_TRUE(frame->IsMaximized());
  EXPECT_NE(frame->GetSize(), wxSize(300, 300));
}

TEST_F(MainWindowTest, ClosingTheWindowClosesTheAlertBox) {
  Open({30, 40, 640, 480, kShowNormal});
  ThreadMessageBox::ShowAsync("Alert", "text", 0);
  ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
  wxWeakRef<ThreadMessageBox> box(ThreadMessageBox::Current());
  frame_->Close();
  EXPECT_EQ(ThreadMessageBox::Current(), nullptr);
  EXPECT_TRUE(PumpUntil([&box, this] { return !box && !frame_; }));
}

TEST_F(MainWindowTest, EngineCallsReachTheWindowOnlyThroughTheUiThread) {
  CMainFrame* frame = Open({30, 40, 640, 480, kShowNormal});
  AppUserInterface ui([this]() -> CMainFrame* { return frame_.get(); });

  // Fifty updates for five monitors from five threads.
  std::vector<std::thread> workers;
  for (int t = 0; t < 5; ++t) {
    workers.emplace_back([&ui] {
      for (int i = 0; i < 10; ++i) ui.MonitorUpdated("M" + std::to_string(i % 5));
    });
  }
  for (auto& w : workers) w.join();
  ui.ShowAlertMessage("Alert", "from the engine", engine::IUserInterface::MessageKind::kError);
  // Nothing has touched the window on the calling threads.
  EXPECT_EQ(frame->MonitorUpdatesNoted(), 0);
  EXPECT_EQ(ThreadMessageBox::Current(), nullptr);

  ASSERT_TRUE(PumpUntil([frame] { return frame->MonitorUpdatesNoted() >= 5; }));
  ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
  PumpFor(std::chrono::milliseconds(50));
  // Updates waiting together are delivered once per monitor.
  EXPECT_GE(frame->MonitorUpdatesNoted(), 5);
  EXPECT_LE(frame->MonitorUpdatesNoted(), 50);
  EXPECT_EQ(ThreadMessageBox::Current()->MessageText(), "from the engine");

  ui.MonitorUpdated("");
  ASSERT_TRUE(PumpUntil([frame] { return frame->LastUpdatedMonitor().empty(); }));

  // Once the window is gone, calls still return and do nothing.
  frame->Close();
  ASSERT_TRUE(PumpUntil([this] { return !frame_; }));
  ui.MonitorUpdated("M1");
  ui.RestoreMainWindow();
  ui.ShowBalloon("title", "text", engine::IUserInterface::MessageKind::kInformation);
  PumpFor(std::chrono::milliseconds(50));
}

TEST_F(MainWindowTest, WorkQueuedAfterTheReceiverIsGoneIsDropped) {
  Open({30, 40, 640, 480, kShowNormal});
  AppUserInterface ui([this]() -> CMainFrame* { return frame_.get(); });
  SetUiThreadReceiver(nullptr);
  ui.MonitorUpdated("M1");
  EXPECT_FALSE(PostToUiThread([] {}));
  SetUiThreadReceiver(wxTheApp);
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(frame_->MonitorUpdatesNoted(), 0);
  // The dropped batch does not keep later updates from waking the UI thread.
  ui.MonitorUpdated("M2");
  EXPECT_TRUE(PumpUntil([this] { return frame_->MonitorUpdatesNoted() == 1; }));
  EXPECT_EQ(frame_->LastUpdatedMonitor(), "M2");
  // Nor does it keep the monitor it held from reporting again.
  ui.MonitorUpdated("M1");
  EXPECT_TRUE(PumpUntil([this] { return frame_->MonitorUpdatesNoted() == 2; }));
  EXPECT_EQ(frame_->LastUpdatedMonitor(), "M1");
}

}  // namespace
}  // namespace app

namespace app {
namespace {

// Ends the open modal dialogs once one is open; re-queues itself until then.
void EndModalsWhenOpen(ModalDialogTracker& tracker, int& attempts) {
  if (++attempts > 2000) return;
  if (tracker.Empty()) {
    wxTheApp->CallAfter([&tracker, &attempts] { EndModalsWhenOpen(tracker, attempts); });
    return;
  }
  tracker.EndAll();
}

TEST(ModalDialogTrackerTest, EndsAnOpenDialogAndANativeMessageBox) {
  ModalDialogTracker tracker;
  int attempts = 0;
  {
    CAboutDlg about;
    EXPECT_EQ(about.GetTitle(), "About Lumivar");
    wxTheApp->CallAfter([&] { EndModalsWhenOpen(tracker, attempts); });
    EXPECT_EQ(about.ShowModal(), wxID_CANCEL);
    EXPECT_TRUE(tracker.Empty());
  }
  attempts = 0;
  wxTheApp->CallAfter([&] { EndModalsWhenOpen(tracker, attempts); });
  wxMessageBox("Action test successfuly completed", "Lumivar", wxOK | wxICON_INFORMATION);
  EXPECT_LT(attempts, 2000);
  EXPECT_TRUE(tracker.Empty());
}

}  // namespace
}  // namespace app
