// The left pane's edge under a display: a drag on the sash moves the left pane's width by
// the distance dragged and stops at both limits, a double-click leaves both panes shown,
// and resizing the window keeps the left width (within the limits).
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/panel.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "controls/pane_splitter.h"
#include "tests/support/screenshot.h"
#include "tests/support/wx_test_support.h"

namespace controls {
namespace {

::testing::Environment* const kWxEnvironment =
    ::testing::AddGlobalTestEnvironment(new ui_testing::WxEnvironment);

using ui_testing::PumpUntil;

// Pumps until the input given so far has been handled: a marker queued behind it has run.
void Settle() {
  bool ran = false;
  wxTheApp->CallAfter([&ran] { ran = true; });
  PumpUntil([&ran] { return ran; });
  for (int i = 0; i < 5; ++i) {
    wxYield();
    wxTheApp->ProcessIdle();
  }
}

constexpr int kLeftContent = 180;
constexpr int kRightMinimum = 300;

class PaneSplitterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "splitter", wxPoint(0, 0), wxSize(900, 500));
    splitter_ = new PaneSplitter(frame_);
    splitter_->SetInitialWidth(PaneSplitter::kInitialWidth);
    left_ = new wxPanel(splitter_);
    right_ = new wxPanel(splitter_);
    left_->SetBackgroundColour(*wxLIGHT_GREY);
    right_->SetBackgroundColour(*wxWHITE);
    splitter_->SetPaneMinimums(kLeftContent, kRightMinimum);
    splitter_->SplitPanes(left_, right_);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] {
      return splitter_->IsShownOnScreen() && splitter_->GetClientSize().x > 800 &&
             splitter_->LeftWidth() == PaneSplitter::kInitialWidth;
    })) << "width "
        << splitter_->LeftWidth();
  }
  void TearDown() override {
    frame_->Destroy();
    Settle();
  }

  // Presses on the middle of the sash, moves by dx in steps and releases.
  void Drag(int dx) {
    const int y = splitter_->GetClientSize().y / 2;
    const wxPoint start = splitter_->ClientToScreen(
        wxPoint(splitter_->LeftWidth() + splitter_->GetSashSize() / 2, y));
    wxUIActionSimulator sim;
    sim.MouseMove(start);
    Settle();
    sim.MouseDown();
    Settle();
    constexpr int kSteps = 5;
    for (int i = 1; i <= kSteps; ++i) {
      sim.MouseMove(start + wxPoint(dx * i / kSteps, 0));
      Settle();
    }
    sim.MouseUp();
    Settle();
  }

  wxFrame* frame_ = nullptr;
  PaneSplitter* splitter_ = nullptr;
  wxPanel* left_ = nullptr;
  wxPanel* right_ = nullptr;
};

TEST_F(PaneSplitterTest, DragMovesTheEdgeWithinItsLimits) {
  const SplitterLimits limits = splitter_->Limits();
  ASSERT_EQ(limits.minimum, kLeftContent + 2 * PaneSplitter::kEdge);
  ASSERT_EQ(limits.maximum,
            splitter_->GetClientSize().x - splitter_->GetSashSize() - kRightMinimum);
  const struct {
    const char* name;
    int dx;
    int expected;  // -1: the minimum, -2: the maximum
  } cases[] = {
      {"wider by the distance", 100, PaneSplitter::kInitialWidth + 100},
      {"narrower by the distance", -60, PaneSplitter::kInitialWidth + 40},
      {"past the left limit", -400, -1},
      {"past the right limit", 1200, -2},
      {"back from the right limit", -50, -3},
  };
  int previous = splitter_->LeftWidth();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int expected = c.expected == -1   ? limits.minimum
                         : c.expected == -2 ? limits.maximum
                         : c.expected == -3 ? previous + c.dx
                                            : c.expected;
    Drag(c.dx);
    EXPECT_TRUE(PumpUntil([&] { return splitter_->LeftWidth() == expected; }))
        << "width " << splitter_->LeftWidth() << ", expected " << expected;
    EXPECT_TRUE(splitter_->IsSplit());
    EXPECT_EQ(left_->GetSize().x, splitter_->LeftWidth());
    previous = splitter_->LeftWidth();
  }
  if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
    testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/pane_splitter.png");
  }
}

TEST_F(PaneSplitterTest, DoubleClickLeavesBothPanes) {
  const int y = splitter_->GetClientSize().y / 2;
  wxUIActionSimulator sim;
  sim.MouseMove(
      splitter_->ClientToScreen(wxPoint(splitter_->LeftWidth() + splitter_->GetSashSize() / 2, y)));
  Settle();
  sim.MouseDblClick();
  Settle();
  EXPECT_TRUE(splitter_->IsSplit());
  EXPECT_TRUE(left_->IsShown());
  EXPECT_TRUE(right_->IsShown());
  EXPECT_EQ(splitter_->LeftWidth(), PaneSplitter::kInitialWidth);
}

TEST_F(PaneSplitterTest, ResizingKeepsTheLeftWidthWithinTheLimits) {
  const struct {
    const char* name;
    int frameWidth;
    bool clamped;  // the width is the new maximum rather than the initial one
  } cases[] = {
      {"wider window", 1200, false},
      {"narrower, still room", 700, false},
      {"too narrow for the right minimum", 520, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frame_->SetSize(wxSize(c.frameWidth, 500));
    ASSERT_TRUE(PumpUntil([&] { return frame_->GetSize().x == c.frameWidth; }));
    Settle();
    const int expected = c.clamped ? splitter_->Limits().maximum : PaneSplitter::kInitialWidth;
    EXPECT_TRUE(PumpUntil([&] { return splitter_->LeftWidth() == expected; }))
        << "width " << splitter_->LeftWidth() << ", expected " << expected;
  }
}

// A window that is laid out small first and then widened still starts at the initial width.
TEST(PaneSplitterStartTest, StartsAtTheInitialWidthAfterASmallFirstLayout) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "small", wxPoint(0, 0), wxSize(120, 200));
  auto* splitter = new PaneSplitter(frame);
  splitter->SetInitialWidth(PaneSplitter::kInitialWidth);
  splitter->SetPaneMinimums(kLeftContent, kRightMinimum);
  splitter->SplitPanes(new wxPanel(splitter), new wxPanel(splitter));
  frame->Show();
  ASSERT_TRUE(PumpUntil([&] { return splitter->IsShownOnScreen(); }));
  Settle();
  EXPECT_TRUE(splitter->IsSplit());
  frame->SetSize(wxSize(900, 500));
  EXPECT_TRUE(PumpUntil([&] { return splitter->LeftWidth() == PaneSplitter::kInitialWidth; }))
      << "width " << splitter->LeftWidth();
  frame->Destroy();
  Settle();
}

}  // namespace
}  // namespace controls
