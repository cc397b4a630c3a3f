// The base view under a display, over a real store: the header follows the selected
// monitor (its name, data source and status, through snapshots), a poll's notification
// refreshes it, a monitor that is gone shows "Lumivar"; the band is painted in its colour
// and the status line in the engine's red; a view that may not grow taller keeps its least
// height however large its window.
#include "app/views/base_view.h"

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/settings.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <vector>

#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/app/ui_test_support.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

class BaseViewUiTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Services::SetStorage(&store_);
    frame_ = new wxFrame(nullptr, wxID_ANY, "view", wxPoint(0, 0), wxSize(640, 400));
  }
  void TearDown() override {
    store_.StopAll();
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
    store_.Clear();
    MonitorTest::TearDown();
  }

  BaseView* AddView(bool growWidth, bool growHeight, wxSize formSize = wxDefaultSize) {
    auto* view = new BaseView(frame_, SnapshotsOf(store_), formSize, growWidth, growHeight);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    EXPECT_TRUE(PumpUntil([view] { return view->IsShownOnScreen(); }));
    return view;
  }

  // The colour painted at a point of the view, from the screen.
  static wxColour PixelAt(BaseView* view, wxPoint at) {
    const wxImage image = testing_support::GrabWindow(view);
    if (!image.IsOk()) return wxNullColour;
    return wxColour(image.GetRed(at.x, at.y), image.GetGreen(at.x, at.y),
                    image.GetBlue(at.x, at.y));
  }
  // Whether the colour shows at one of the points, once the view has been painted.
  static bool Shows(BaseView* view, const wxColour& colour, const std::vector<wxPoint>& points) {
    view->Refresh();
    view->Update();
    return PumpUntil([&] {
      for (const wxPoint& at : points) {
        if (PixelAt(view, at) == colour) return true;
      }
      return false;
    });
  }

  void Screenshot(const char* name) { testing_support::ScreenshotIfAsked(frame_, name); }

  engine::ServerStorage store_;
  wxFrame* frame_ = nullptr;
};

TEST_F(BaseViewUiTest, HeaderFollowsTheSelectedMonitor) {
  BaseView* view = AddView(true, true);
  const wxColour band = HeaderBandColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT),
                                         wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
  view->InitView();
  view->UpdateView(false, kRefreshShow);
  EXPECT_EQ(view->Header(), (HeaderTexts{"Lumivar", ""}));
  EXPECT_TRUE(Shows(view, band, {{4, 4}})) << "no header band";
  Screenshot("base_view_none");

  engine::MonitorSettings settings;
  settings.name = "Sales";
  settings.address = "lumivar-test-no-such-source";
  const std::string id = store_.AddMonitor(settings);
  ASSERT_FALSE(id.empty());
  view->SetMonitorId(id);
  view->UpdateView(false, kRefreshShow);
  const HeaderTexts stopped = view->Header();
  EXPECT_EQ(stopped.title, "Sales (lumivar-test-no-such-source)");
  EXPECT_EQ(stopped.status, store_.GetMonitorSnapshot(id)->statusText);
  EXPECT_FALSE(stopped.status.empty());
  Screenshot("base_view_monitor");

  // Its first poll fails: the notification brings the error and the engine's red.
  store_.StartServer(id);
  ASSERT_TRUE(PumpUntil([&] {
    const auto snapshot = store_.GetMonitorSnapshot(id);
    return snapshot && !snapshot->statusColor.inactiveCaption;
  }));
  view->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(view->Header().status, store_.GetMonitorSnapshot(id)->statusText);
  EXPECT_NE(view->Header().status, stopped.status);
  std::vector<wxPoint> leftEdge;
  for (int y = 0; y < 80; ++y) leftEdge.push_back({2, y});
  EXPECT_TRUE(Shows(view, *wxRED, leftEdge)) << "no red status line";
  Screenshot("base_view_failed");

  // Renamed through the store: the header shows the new name with the bare name rule.
  settings.name = "Stock";
  settings.address = "";
  ASSERT_EQ(store_.ApplyMonitorSettings(id, settings), 0);
  view->UpdateView(false, kRefreshNotify);
  EXPECT_EQ(view->Header().title, "Stock");

  // The selected monitor is deleted: the view finds nothing and says so.
  store_.StopAll();
  view->SetMonitorId("no-such-monitor");
  view->UpdateView(false, kRefreshShow);
  EXPECT_EQ(view->Header(), (HeaderTexts{"Lumivar", ""}));
}

TEST_F(BaseViewUiTest, SizeLimitsBoundTheViewInItsWindow) {
  const struct {
    const char* name;
    bool growWidth, growHeight;
  } cases[] = {
      {"grows both ways", true, true},
      {"grows in width only", true, false},
      {"grows in neither", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frame_->DestroyChildren();
    frame_->SetSize(wxSize(400, 300));
    BaseView* view = AddView(c.growWidth, c.growHeight, wxSize(300, 150));
    view->InitView();
    const wxSize least = view->GetMinSize();
    EXPECT_GE(least.x, 300);
    EXPECT_GE(least.y, 150);
    frame_->SetSize(wxSize(900, 700));
    ASSERT_TRUE(PumpUntil([&] { return frame_->GetClientSize().y > 600; }));
    frame_->Layout();
    PumpFor(std::chrono::milliseconds(20));
    const wxSize size = view->GetSize();
    EXPECT_EQ(size.x > least.x, c.growWidth) << size.x;
    EXPECT_EQ(size.y > least.y, c.growHeight) << size.y;
    if (!c.growHeight) {
      EXPECT_EQ(size.y, least.y);
    }
    if (!c.growWidth) {
      EXPECT_EQ(size.x, least.x);
    }
  }
}

}  // namespace
}  // namespace app
