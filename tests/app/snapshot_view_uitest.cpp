// The snapshot view under a display: the rows and the chart follow the selected monitor's
// copy (a never-polled monitor shows dashes and an empty chart, failed polls are gaps),
// a poll's notification refreshes them, and the view grows in width only.
#include "app/views/snapshot_view.h"

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <ctime>
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

  static engine::MonitorSnapshot Monitor(const std::string& name) {
    engine::MonitorSnapshot monitor;
    monitor.id = name;
    monitor.settings.name = name;
    monitor.settings.address = "sales-dsn";
    return monitor;
  }

  std::map<std::string, engine::MonitorSnapshot> monitors_;
  wxFrame* frame_ = nullptr;
  ODBCSnapshotView* view_ = nullptr;
};

TEST_F(SnapshotViewUiTest, ANeverPolledMonitorShowsDashesAndAnEmptyChart) {
  monitors_["new"] = Monitor("new");
  Select("new");
  EXPECT_EQ(Row(0), "-");
  EXPECT_EQ(Row(1), "-");
  EXPECT_TRUE(Chart().Series(0).empty());
  EXPECT_TRUE(Chart().Series(1).empty());
  EXPECT_TRUE(Chart().ValueLabels().empty());

  // The set-up of the first showing.
  controls::AttributeList* list = view_->Info()->GetList();
  ASSERT_EQ(list->GetItemCount(), 2);
  EXPECT_EQ(list->GetCellText(1, controls::AttributeList::kAttributeColumn),
            "Test Queries Total Time");
  EXPECT_EQ(Chart().SeriesName(0), "Connection Time");
  EXPECT_EQ(Chart().SeriesName(1), "Test Queries Total Time");
  EXPECT_EQ(Chart().VerticalTitle(), "Values in ms");
  EXPECT_EQ(Chart().HorizontalTitle(), "Time");
  EXPECT_EQ(Chart().LegendMode(), 2);
  EXPECT_EQ(Chart().DenseLimit(), 10);
  EXPECT_EQ(view_->Header().title, "new (sales-dsn)");
}

TEST_F(SnapshotViewUiTest, PollsWithGapsFillRowsAndChartAndNotificationsRefreshThem) {
  engine::MonitorSnapshot monitor = Monitor("Sales");
  const std::int64_t start = 1796212800;
  for (int i = 0; i < 14; ++i) {
    const bool failed = i == 5 || i == 9 || i == 10;
    monitor.history.push_back(
        {failed ? -1 : 40 + 7 * (i % 4), failed ? -1 : 120 + 15 * (i % 5), start + 300 * i});
  }
  monitor.current.connectionTime = 61;
  monitor.current.requestTime = 180;
  monitors_["Sales"] = monitor;
  Select("Sales");
  EXPECT_EQ(Row(0), "61 ms");
  EXPECT_EQ(Row(1), "180 ms");
  ASSERT_EQ(Chart().Series(0).size(), 10u);
  EXPECT_EQ(Chart().Series(0).front().time, start + 300 * 4);
  EXPECT_EQ(Chart().Series(1)[5].value, -1.0);

  if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
    PumpFor(std::chrono::milliseconds(300));
    testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/snapshot_view.png");
  }

  // A poll failed: the notification shows it; the chart gains the gap.
  monitors_["Sales"].current.connectionTime = -1;
  monitors_["Sales"].current.requestTime = -1;
  monitors_["Sales"].history.push_back({-1, -1, start + 300 * 14});
  Select("Sales", kRefreshNotify);
  EXPECT_EQ(Row(0), "-");
  EXPECT_EQ(Row(1), "-");
  EXPECT_EQ(Chart().Series(0).back().value, -1.0);

  // The monitor is gone: the rows and chart stay, the header says so.
  monitors_.clear();
  Select("Sales", kRefreshNotify);
  EXPECT_EQ(Chart().Series(0).size(), 10u);
  EXPECT_EQ(Row(0), "-");
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
