// The whole main window over a real store with monitors on the fake ODBC layer: the tree's
// selection switches the right page, a notification from an engine thread refreshes only
// what it concerns, a delete selects the monitor before, a stop whose poll hangs in the
// driver never stops the event loop, the tray's open brings the window back, and at local
// midnight every monitor's today's figures start again.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/toolbar.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/app_user_interface.h"
#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/monitor_info_pane.h"
#include "app/monitor_tree.h"
#include "app/views/base_view.h"
#include "app/views/settings_view.h"
#include "engine/clock.h"
#include "engine/monitor/server.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using namespace std::chrono_literals;
using engine::testing::FakeOdbc;
using ui_testing::PumpFor;
using ui_testing::PumpUntil;

constexpr const char* kQuery = "SELECT 1";

// A settings view whose edits may not pass its checks: it then keeps the right side.
class RefusingView : public BaseView {
 public:
  RefusingView(wxWindow* parent, SnapshotSource snapshots, const bool* refuse)
      : BaseView(parent, std::move(snapshots)), refuse_(refuse) {}
  bool UpdateView(bool save, int hint) override {
    if (save && *refuse_) return false;
    return BaseView::UpdateView(save, hint);
  }

 private:
  const bool* refuse_;
};

class MainFrameTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Services::SetStorage(&store_);
    engine::Services::SetUi(&ui_);
    odbc_->SetValue(kQuery, "1");
  }
  void TearDown() override {
    store_.StopAll();
    if (frame_) frame_->Destroy();
    PumpFor(20ms);
    odbc_->Release();
    store_.Clear();
    MonitorTest::TearDown();
    // What the store's threads queued for the window meanwhile (a deletion's notice, a
    // stop's) runs now, while the fixture that ui_ finds the window through is still here;
    // the window is gone, so it does nothing.
    PumpFor(20ms);
  }

  std::string AddMonitor(const std::string& name) {
    engine::MonitorSettings settings;
    settings.name = name;
    settings.address = "dsn";
    const std::string id = store_.AddMonitor(settings);
    store_.GetServerById(id)->SetOdbc(odbc_);
    store_.AddTestQuery(id, {"query", kQuery});
    return id;
  }

  CMainFrame* Open(int mode = kShowNormal) {
    MainFrameOptions options;
    options.makeView = [this](wxWindow* parent, int code) -> BaseView* {
      if (code != 9) return nullptr;
      if (realSettings_) {
        return new ODBCSettingsView(parent, SnapshotsOf(store_), store_,
                                    [this](const wxString& text, const wxString&) {
                                      messages_.push_back(text.utf8_string());
                                    });
      }
      return new RefusingView(parent, SnapshotsOf(store_), &refuse_);
    };
    options.confirm = [this](wxWindow*, const wxString& question) {
      questions_.push_back(question.utf8_string());
      return answer_;
    };
    options.trayIcon = false;
    frame_ = new CMainFrame(store_, std::move(options));
    frame_->RestorePlacementAndStart({20, 20, 900, 640, mode});
    EXPECT_TRUE(PumpUntil([this] { return frame_->IsShown(); }));
    return frame_.get();
  }

  std::string NodeText(const std::string& id) const {
    const wxDataViewItem item = frame_->Tree()->FindServerItem(id);
    return item.IsOk() ? frame_->Tree()->GetItemText(item).utf8_string() : "";
  }

  // Whether the toolbar's button is enabled once the window has updated its commands.
  bool ToolEnabled(int id) const {
    frame_->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    return frame_->GetToolBar()->GetToolEnabled(id);
  }

  bool InfoShows(const std::string& text) const {
    for (const std::string& shown : frame_->InfoPane()->ShownTexts())
      if (shown == text) return true;
    return false;
  }

  void Screenshot(const char* name) {
    const char* folder = std::getenv("LUMIVAR_SCREENSHOTS");
    if (folder == nullptr) return;
    PumpFor(300ms);
    testing_support::SaveWindowScreenshot(frame_, std::string(folder) + "/" + name + ".png");
  }

  engine::ServerStorage store_;
  std::shared_ptr<FakeOdbc> odbc_ = std::make_shared<FakeOdbc>();
  wxWeakRef<CMainFrame> frame_;
  AppUserInterface ui_{[this]() -> CMainFrame* { return frame_.get(); }};
  std::vector<std::string> questions_;
  bool answer_ = true;
  bool refuse_ = false;
  bool realSettings_ = false;          // the settings view is the program's own
  std::vector<std::string> messages_;  // what it told the user
};

TEST_F(MainFrameTest, TheTreeSelectionSwitchesTheRightPage) {
  const std::string id = AddMonitor("Orders");
  CMainFrame* frame = Open();
  EXPECT_EQ(frame->Tree()->GetSelectedImage(), kTreeMonitors);
  EXPECT_EQ(frame->CurrentViewCode(), 0);
  EXPECT_TRUE(InfoShows("Monitor(s): 1"));
  Screenshot("frame-summary");

  const struct {
    int image;
    int view;
  } nodes[] = {{kTreeConnectionTime, 8}, {0, 9},
               {kTreeTestQueries, 19},   {kTreeLog, 26},
               {kTreeAlerts, 27},        {kTreeHistory, 20}};
  for (const auto& node : nodes) {
    frame->Tree()->SelectServer(id, node.image);
    EXPECT_EQ(frame->CurrentViewCode(), node.view) << node.image;
    EXPECT_EQ(frame->GetSelectedServerId(), id);
    EXPECT_EQ(frame->CurrentView()->MonitorId(), id);
  }
  EXPECT_TRUE(InfoShows("Orders"));
  Screenshot("frame-monitor");

  // The view codes that name no view change nothing.
  for (int code : {1, 7, 10, 18, 34}) EXPECT_FALSE(frame->SwitchView(code)) << code;
  EXPECT_EQ(frame->CurrentViewCode(), 20);
}

TEST_F(MainFrameTest, ANotificationRefreshesItsNodeAndTheSelectedMonitorsView) {
  const std::string a = AddMonitor("A");
  const std::string b = AddMonitor("B");
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(b, 0);
  for (const auto& [id, name] : {std::pair{a, "A renamed"}, std::pair{b, "B renamed"}}) {
    engine::MonitorSettings settings = store_.GetMonitorSnapshot(id)->settings;
    settings.name = name;
    ASSERT_EQ(store_.ApplyMonitorSettings(id, settings), 0);
  }

  std::thread([this, a] { ui_.MonitorUpdated(a); }).join();
  ASSERT_TRUE(PumpUntil([&] { return NodeText(a) == "A renamed"; }));
  // Only the notifying monitor's node is renamed; the current view shows the selected one.
  EXPECT_EQ(NodeText(b), "B");
  EXPECT_EQ(frame->CurrentView()->Header().title, "B renamed (dsn)");

  // An identifier that names no monitor any more refreshes nothing.
  std::thread([this] { ui_.MonitorUpdated("gone"); }).join();
  PumpFor(50ms);
  EXPECT_EQ(NodeText(b), "B");
}

// Reports that wait together are handled in one pass, in the order of each monitor's
// latest report: the info pane ends on the monitor that reported last, also when it had
// reported before in the same batch; one deleted meanwhile is left out.
TEST_F(MainFrameTest, ABatchOfReportsEndsOnTheMonitorThatReportedLast) {
  const std::string a = AddMonitor("A");
  const std::string b = AddMonitor("B");
  const std::string c = AddMonitor("C");
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(a, 0);
  const struct {
    std::vector<std::string> reports;
    const char* shown;
  } cases[] = {
      {{a, b, a}, "A"},
      {{b, a, c, b}, "B"},
      {{c, b, a, b, c}, "C"},
      {{b, "gone", "gone"}, "B"},
  };
  for (const auto& step : cases) {
    SCOPED_TRACE(step.shown);
    for (const std::string& id : step.reports) frame->OnMonitorUpdated(id);
    ASSERT_TRUE(PumpUntil([&] { return InfoShows(step.shown); }));
    for (const char* other : {"A", "B", "C"}) {
      if (other != std::string(step.shown)) {
        EXPECT_FALSE(InfoShows(other)) << other;
      }
    }
  }
}

TEST_F(MainFrameTest, DeletingAMonitorSelectsTheOneBefore) {
  const std::string first = AddMonitor("first");
  const std::string second = AddMonitor("second");
  const std::string third = AddMonitor("third");
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(third, kTreeLog);

  answer_ = false;
  frame->OnMonitorDelete();
  ASSERT_EQ(questions_, std::vector<std::string>{"Delete monitor now?"});
  EXPECT_EQ(store_.GetServerCount(), 3);
  EXPECT_EQ(NodeText(third), "third");
  EXPECT_EQ(frame->Tree()->GetSelectedImage(), kTreeLog);

  answer_ = true;
  frame->OnMonitorDelete();
  EXPECT_FALSE(frame->Tree()->FindServerItem(third).IsOk());
  EXPECT_EQ(frame->GetSelectedServerId(), second);
  EXPECT_EQ(frame->CurrentViewCode(), 9);

  frame->Tree()->SelectServer(first, 0);
  frame->OnMonitorDelete();
  EXPECT_EQ(frame->GetSelectedServerId(), second);
  frame->OnMonitorDelete();
  EXPECT_EQ(frame->Tree()->GetSelectedImage(), kTreeMonitors);
  EXPECT_EQ(frame->CurrentViewCode(), 0);
  EXPECT_TRUE(engine::Server::WaitForHelpers(std::chrono::steady_clock::now() + 20s));
  EXPECT_TRUE(PumpUntil([this] { return InfoShows("Monitor(s): 0"); }));
}

// The settings view's Update renames the node and the info pane at once, without waiting
// for the monitor's next notification.
TEST_F(MainFrameTest, UpdateInTheSettingsViewRenamesTheNodeAtOnce) {
  realSettings_ = true;
  const std::string id = AddMonitor("Orders");
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(id, 0);
  auto* view = dynamic_cast<ODBCSettingsView*>(frame->CurrentView());
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(InfoShows("Orders"));
  view->NameCtrl()->ChangeValue("Orders EU");
  wxCommandEvent press(wxEVT_BUTTON, view->UpdateButton()->GetId());
  press.SetEventObject(view->UpdateButton());
  view->UpdateButton()->GetEventHandler()->ProcessEvent(press);
  EXPECT_EQ(NodeText(id), "Orders EU");
  EXPECT_TRUE(InfoShows("Orders EU"));
  EXPECT_EQ(view->Header().title, "Orders EU (dsn)");
  EXPECT_TRUE(messages_.empty());
  Screenshot("frame-renamed");
}

// Deleting the monitor whose settings hold an interval the check refuses: the view has
// nothing left to save, so nothing is said and the monitor before it is selected.
TEST_F(MainFrameTest, DeletingAMonitorWhoseSettingsHoldAnInvalidInterval) {
  realSettings_ = true;
  const std::string first = AddMonitor("first");
  const std::string second = AddMonitor("second");
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(second, 0);
  auto* view = dynamic_cast<ODBCSettingsView*>(frame->CurrentView());
  ASSERT_NE(view, nullptr);
  view->IntervalCtrl()->ChangeValue("0");
  frame->OnMonitorDelete();
  PumpFor(100ms);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(frame->GetSelectedServerId(), first);
  EXPECT_EQ(frame->CurrentViewCode(), 9);
  EXPECT_EQ(view->LoadedMonitorId(), first);
  EXPECT_EQ(view->IntervalCtrl()->GetValue().utf8_string(),
            std::to_string(store_.GetMonitorSnapshot(first)->settings.pollingInterval));
}

// A view that refuses to give up the right side keeps it, and its node is selected again,
// so a later refresh still shows the view's own monitor.
TEST_F(MainFrameTest, ARefusedSwitchSelectsTheViewsNodeAgain) {
  const std::string a = AddMonitor("A");
  const std::string b = AddMonitor("B");
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(a, 0);
  ASSERT_EQ(frame->CurrentViewCode(), 9);

  refuse_ = true;
  frame->Tree()->SelectServer(b, kTreeLog);
  EXPECT_TRUE(PumpUntil([frame, a] { return frame->GetSelectedServerId() == a; }));
  EXPECT_EQ(frame->Tree()->GetSelectedImage(), kTreeMonitor);
  EXPECT_EQ(frame->CurrentViewCode(), 9);
  frame->RefreshCurrentView(kRefreshNotify);
  EXPECT_EQ(frame->CurrentView()->MonitorId(), a);

  refuse_ = false;
  frame->Tree()->SelectServer(b, kTreeLog);
  EXPECT_EQ(frame->CurrentViewCode(), 26);
  EXPECT_EQ(frame->GetSelectedServerId(), b);
}

// The poll hangs in the driver and so does the cancel: the stop completes only when the
// driver lets go, and the window keeps working meanwhile.
TEST_F(MainFrameTest, StoppingAMonitorWhosePollHangsNeverStopsTheWindow) {
  const std::string id = AddMonitor("stuck");
  CMainFrame* frame = Open();
  odbc_->BlockQueries(true);
  odbc_->BlockCancels(true);
  store_.StartServer(id);
  ASSERT_TRUE(odbc_->WaitForBlocked());
  frame->Tree()->SelectServer(id, 0);
  EXPECT_FALSE(ToolEnabled(kIdMonitorStart));
  EXPECT_TRUE(ToolEnabled(kIdMonitorStop));

  std::atomic<int> ticks{0};
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&ticks](wxTimerEvent&) { ++ticks; });
  timer.Start(10);
  frame->OnMonitorStop();
  ASSERT_TRUE(PumpUntil([&ticks] { return ticks >= 5; }));
  EXPECT_TRUE(store_.IsStopPending(id));
  EXPECT_FALSE(ToolEnabled(kIdMonitorStart));
  EXPECT_FALSE(ToolEnabled(kIdMonitorStop));

  odbc_->Release();
  ASSERT_TRUE(PumpUntil([this] { return ToolEnabled(kIdMonitorStart); }, 20s));
  EXPECT_FALSE(ToolEnabled(kIdMonitorStop));
  EXPECT_TRUE(PumpUntil([this] { return InfoShows("OFF"); }));
  timer.Stop();
}

// Two stopped monitors were down before midnight; once the local day has turned over, the
// selected one's pane and the other one's figures show nothing of yesterday, without a
// poll.
TEST_F(MainFrameTest, AtMidnightTodaysFiguresStartAgainForEveryMonitor) {
  const std::int64_t midnight = engine::testing::LocalTime(2024, 3, 4);
  engine::FakeClock clock(midnight - 150);
  engine::ScopedClock installed(&clock);
  const std::string a = AddMonitor("A");
  const std::string b = AddMonitor("B");
  odbc_->SetConnectError(-1, "unable to open database file");
  for (std::int64_t time : {midnight - 150, midnight - 90}) {
    clock.SetNow(time);
    for (const std::string& id : {a, b}) store_.GetServerById(id)->Poll();
  }
  clock.SetNow(midnight - 1);
  CMainFrame* frame = Open();
  frame->Tree()->SelectServer(a, 0);
  ASSERT_TRUE(PumpUntil([this] { return InfoShows("Downtime 0 Hours 1 Minutes"); }));
  EXPECT_TRUE(InfoShows("Uptime 0.00%"));

  // The window looks a second after it opened, at midnight.
  clock.SetNow(midnight + 40);
  ASSERT_TRUE(PumpUntil([this] { return InfoShows("Downtime 0 Hours 0 Minutes"); }, 20s));
  EXPECT_TRUE(InfoShows("Uptime 100.00%"));
  EXPECT_EQ(store_.GetMonitorSnapshot(b)->todayDowntime, 0);
  Screenshot("frame-after-midnight");
}

TEST_F(MainFrameTest, TheTraysOpenBringsTheWindowBackOnTheWelcomePage) {
  const std::string id = AddMonitor("M");
  CMainFrame* frame = Open(kShowMinimized);
  EXPECT_TRUE(frame->IsFirstShowPending());
  frame->Tree()->SelectServer(id, 0);
  EXPECT_EQ(frame->CurrentViewCode(), 9);

  frame->OnTrayIconClick();
  EXPECT_TRUE(PumpUntil([frame] { return frame->IsShown() && !frame->IsIconized(); }));
  EXPECT_FALSE(frame->IsFirstShowPending());
  EXPECT_EQ(frame->CurrentViewCode(), 0);
  // Later opens leave the page as it is.
  frame->SwitchView(9);
  frame->OnTrayIconClick();
  EXPECT_EQ(frame->CurrentViewCode(), 9);
}

}  // namespace
}  // namespace app
