// The info pane under a display: a monitor shows today's availability over its five rows,
// the summary then replaces the upper panel and empties the list; the first column stays at
// its width while the second follows the pane's width; at its least width every text of
// both upper panels still fits; every control has an accessible name.
#include "app/monitor_info_pane.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "controls/color_list.h"
#include "controls/color_static.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

template <typename T>
void Collect(wxWindow* window, std::vector<T*>& found) {
  for (wxWindow* child : window->GetChildren()) {
    if (auto* match = dynamic_cast<T*>(child)) found.push_back(match);
    Collect(child, found);
  }
}

class MonitorInfoPaneUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "info", wxPoint(0, 0), wxSize(300, 420));
    pane_ = new MonitorInfoPane(frame_, wxID_ANY);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return pane_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }

  controls::ColorList* List() {
    std::vector<controls::ColorList*> lists;
    Collect(pane_, lists);
    return lists.size() == 1 ? lists[0] : nullptr;
  }

  void Screenshot(const char* name) { testing_support::ScreenshotIfAsked(frame_, name); }

  wxFrame* frame_ = nullptr;
  MonitorInfoPane* pane_ = nullptr;
};

TEST_F(MonitorInfoPaneUiTest, ShowsAMonitorThenTheSummary) {
  EXPECT_FALSE(pane_->ShowsMonitor());
  engine::MonitorSnapshot monitor;
  monitor.settings.name = "Sales";
  monitor.running = true;
  monitor.notPolledYet = false;
  monitor.current.available = true;
  monitor.current.health = false;
  monitor.todayUptime = 11700;
  monitor.todayDowntime = 300;
  monitor.current.time = 1700000000;
  monitor.lastAlertTime = 1700000000 - 600;
  pane_->ShowMonitor(monitor);
  EXPECT_TRUE(pane_->ShowsMonitor());
  std::vector<std::string> expected = {"Uptime 97.50%", "Current status:", "UP",
                                       "Uptime 3 Hours 15 Minutes", "Downtime 0 Hours 5 Minutes"};
  for (const InfoRow& row : MakeInfoRows(monitor)) {
    expected.insert(expected.end(), {row.label, row.value});
  }
  EXPECT_EQ(pane_->ShownTexts(), expected);
  controls::ColorList* list = List();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->HasCellBitmap(1, 1)) << "no health image";
  EXPECT_FALSE(list->HasCellBitmap(0, 1));
  std::vector<wxWindow*> controls;
  Collect(pane_, controls);
  controls.push_back(pane_);
  for (wxWindow* control : controls) {
    AtkObject* accessible = gtk_widget_get_accessible(control->GetHandle());
    const char* name = accessible ? atk_object_get_name(accessible) : nullptr;
    EXPECT_TRUE(name && *name) << "no accessible name: " << control->GetClassInfo()->GetClassName();
  }
  Screenshot("info_pane_monitor");

  // The value column follows the pane's width, the label column keeps its own.
  const int labelWidth = list->GetColumn(0)->GetWidth();
  for (const int width : {420, 260}) {
    frame_->SetSize(wxSize(width, 420));
    EXPECT_TRUE(PumpUntil([&] {
      return list->GetColumn(0)->GetWidth() == labelWidth &&
             list->GetColumn(1)->GetWidth() == list->GetClientSize().x - labelWidth - 2;
    })) << width;
  }

  std::vector<engine::MonitorSummary> monitors(4);
  monitors[0].running = true;  // not polled yet: up
  monitors[1].running = true;
  monitors[1].notPolledYet = false;  // down
  pane_->ShowSummary(monitors);
  EXPECT_FALSE(pane_->ShowsMonitor());
  EXPECT_EQ(pane_->ShownTexts(),
            (std::vector<std::string>{"Monitor(s): 4", "Monitor(s) Up: 1", "Monitor(s) Down: 1",
                                      "Monitor(s) Off: 2"}));
  EXPECT_EQ(list->GetItemCount(), 0);
  Screenshot("info_pane_summary");

  // At the least width, the widest texts of both upper panels are not cut.
  frame_->SetClientSize(wxSize(pane_->GetMinSize().x, 420));
  monitor.todayUptime = 86400 + 3600 - 60;
  monitor.todayDowntime = 86400 + 3600 - 60;
  for (const bool showMonitor : {true, false}) {
    if (showMonitor) {
      pane_->ShowMonitor(monitor);
    } else {
      pane_->ShowSummary(std::vector<engine::MonitorSummary>(1000));
    }
    EXPECT_TRUE(PumpUntil([&] { return pane_->GetSize().x == pane_->GetMinSize().x; }));
    pane_->Layout();
    std::vector<controls::ColorStatic*> texts;
    Collect(pane_, texts);
    for (controls::ColorStatic* text : texts) {
      if (!text->IsShownOnScreen()) continue;
      EXPECT_GE(text->GetSize().x, text->GetBestSize().x) << text->GetLabel();
    }
  }
  Screenshot("info_pane_narrow");
}

}  // namespace
}  // namespace app
