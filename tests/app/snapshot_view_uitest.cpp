// The snapshot view under a display: the rows and the chart follow the selected monitor's
// copy (a never-polled monitor shows dashes and an empty chart, failed polls are gaps),
// a poll's notification refreshes them, and the view grows in width only.
#include "app/views/snapshot_view.h"

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <map>
#include <string>

#include "controls/attribute_list.h"
#include "controls/graphic.h"
#include "controls/info_list.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

class SnapshotViewUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "snapshot", wxPoint(0, 0), wxSize(700, 560));
    view_ = new ODBCSnapshotView(frame_, [this](const std::string& id) {
      const auto found = monitors_.find(id);
      return found == monitors_.end() ? std::nullopt
                                      : std::optional<engine::MonitorSnapshot>(found->second);
    });
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return view_->IsShownOnScreen(); }));
    view_->InitView();
    frame_->Layout();
  }
  void TearDown() override {
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }

  void Select(const std::string& id, int hint = kRefreshShow) {
    view_->SetMonitorId(id);
    view_->UpdateView(false, hint);
  }
  std::string Row(unsigned row) const {
    return view_->Info()
        ->GetList()
        ->GetCellText(row, controls::AttributeList::kValueColumn)
        .utf8_string();
  }
  const controls::ChartModel& Chart() const { return view_->Info()->GetChart()->Model(); }

  std::map<std::string, engine::MonitorSnapshot> monitors_;
  wxFrame* frame_ = nullptr;
  ODBCSnapshotView* view_ = nullptr;
};

TEST_F(SnapshotViewUiTest, ANeverPolledMonitorShowsDashesAndAnEmptyChart) {
  monitors_["new"].id = "new";
  Select("new");
  EXPECT_EQ(Row(0), "-");
  EXPECT_EQ(Row(1), "-");
  EXPECT_TRUE(Chart().Series(0).empty());
  EXPECT_TRUE(Chart().Series(1).empty());
  EXPECT_EQ(view_->Info()->GetList()->GetItemCount(), 2);
  EXPECT_EQ(Chart().SeriesName(1), "Test Queries Total Time");
  EXPECT_EQ(Chart().VerticalTitle(), "Values in ms");
  EXPECT_EQ(Chart().LegendMode(), 2);
  EXPECT_EQ(Chart().DenseLimit(), 10);
}

TEST_F(SnapshotViewUiTest, PollsWithGapsShowAndNotificationsRefreshThem) {
  engine::MonitorSnapshot& monitor = monitors_["Sales"];
  monitor.settings.name = "Sales";
  monitor.settings.address = "sales-dsn";
  const std::int64_t start = 1796212800;
  for (int i = 0; i < 14; ++i) {
    const bool failed = i == 5 || i == 9 || i == 10;
    monitor.history.push_back(
        {failed ? -1 : 40 + 7 * (i % 4), failed ? -1 : 120 + 15 * (i % 5), start + 300 * i});
  }
  monitor.current.connectionTime = 61;
  monitor.current.requestTime = 180;
  Select("Sales");
  EXPECT_EQ(Row(1), "180 ms");
  ASSERT_EQ(Chart().Series(0).size(), 10u);
  EXPECT_EQ(Chart().Series(1)[5].value, -1.0);
  if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
    PumpFor(std::chrono::milliseconds(300));
    testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/snapshot_view.png");
  }

  // A failed poll: the notification shows it.
  monitor.current.connectionTime = -1;
  monitor.history.push_back({-1, -1, start + 300 * 14});
  Select("Sales", kRefreshNotify);
  EXPECT_EQ(Row(0), "-");
  EXPECT_EQ(Chart().Series(0).back().value, -1.0);
  // The monitor is gone: the rows and the chart stay, the header says so.
  monitors_.clear();
  Select("Sales", kRefreshNotify);
  EXPECT_EQ(Row(1), "180 ms");
  EXPECT_EQ(Chart().Series(0).size(), 10u);
  EXPECT_EQ(view_->Header().title, "Lumivar");
}

TEST_F(SnapshotViewUiTest, GrowsInWidthOnly) {
  const wxSize least = view_->GetMinSize();
  EXPECT_EQ(view_->GetMaxSize().y, least.y);
  EXPECT_EQ(view_->GetMaxSize().x, -1);
  const wxSize chart = view_->Info()->GetChart()->GetSize();
  frame_->SetSize(frame_->GetSize() + wxSize(120, 200));
  ASSERT_TRUE(PumpUntil([&] { return view_->GetSize().x == frame_->GetClientSize().x; }));
  EXPECT_EQ(view_->GetSize().y, least.y);
  EXPECT_EQ(view_->Info()->GetChart()->GetSize(), chart + wxSize(120, 0));
}

}  // namespace
}  // namespace app
