// The info lists under a display: growing the panel grows the box and the chart both ways
// while the list widens, keeps its height and follows the bottom edge; the list is as tall
// as its rows; items and legend names are replaced, not appended.
#include "controls/info_list.h"

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/statbox.h>

#include "controls/attribute_list.h"
#include "controls/graphic.h"
#include "tests/support/wx_test_support.h"

namespace controls {
namespace {

::testing::Environment* const kWxEnvironment =
    ::testing::AddGlobalTestEnvironment(new ui_testing::WxEnvironment);

using ui_testing::PumpUntil;

class InfoListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "info list", wxPoint(0, 0), wxSize(900, 700));
    info_ = new InfoGraphicList(frame_, wxID_ANY, "Values");
    info_->SetItems({"Connection Time", "Test Queries Total Time"}, "");
    info_->SetSize(info_->GetBestSize());
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return info_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    ui_testing::PumpOnce();
  }

  // Resizes the panel and waits for its layout.
  void Resize(const wxSize& size) {
    info_->SetSize(size);
    info_->Layout();
    ASSERT_TRUE(PumpUntil([&] { return info_->GetSize() == size; }));
  }

  wxFrame* frame_ = nullptr;
  InfoGraphicList* info_ = nullptr;
};

TEST_F(InfoListTest, GrowingMovesTheListDownAndGrowsBoxAndChart) {
  const struct {
    int dw;
    int dh;
  } cases[] = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {37, 120}, {-20, -30}};
  for (const auto& c : cases) {
    const wxSize start = info_->GetSize();
    const wxRect list = info_->GetList()->GetRect();
    const wxRect chart = info_->GetChart()->GetRect();
    const wxRect box = info_->GetBox()->GetRect();
    Resize(start + wxSize(c.dw, c.dh));
    SCOPED_TRACE(testing::Message() << "change " << c.dw << "x" << c.dh);
    EXPECT_EQ(info_->GetList()->GetRect(),
              wxRect(list.x, list.y + c.dh, list.width + c.dw, list.height));
    EXPECT_EQ(info_->GetChart()->GetRect(),
              wxRect(chart.GetPosition(), chart.GetSize() + wxSize(c.dw, c.dh)));
    EXPECT_EQ(info_->GetBox()->GetRect(),
              wxRect(box.GetPosition(), box.GetSize() + wxSize(c.dw, c.dh)));
  }
}

TEST_F(InfoListTest, ItemsReplaceTheRowsAndTheListShowsThemAll) {
  info_->SetItems({"one", "two", "three"}, "Today");
  Resize(info_->GetBestSize());
  AttributeList* list = info_->GetList();
  ASSERT_EQ(list->GetItemCount(), 3);
  EXPECT_EQ(list->GetCellText(2, AttributeList::kAttributeColumn), "three");
  EXPECT_EQ(info_->GetBox()->GetLabel(), "Today");
  // Once the rows are laid out, the last one lies wholly inside the list.
  const auto rowRect = [list](int row) { return list->GetItemRect(list->RowToItem(row)); };
  ASSERT_TRUE(PumpUntil([&] { return rowRect(2).y > rowRect(1).y && rowRect(1).y > 0; }));
  EXPECT_LE(rowRect(2).GetBottom(), list->GetClientSize().y) << "the last row is cut";
  EXPECT_LE(list->GetClientSize().y - rowRect(2).GetBottom(), rowRect(2).height)
      << "room for another row";

  info_->SetSeriesNames({"a", "b"});
  info_->SetSeriesNames({"c"});
  EXPECT_EQ(info_->GetChart()->Model().SeriesName(0), "c");
  EXPECT_EQ(info_->GetChart()->Model().SeriesName(1), "");
  EXPECT_EQ(info_->GetChart()->Model().LeftMargin(), InfoGraphicList::kChartLeftMargin);
}

}  // namespace
}  // namespace controls
