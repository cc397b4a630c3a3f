// The chart under a display: rendered into a memory bitmap, its frame, axes and series
// have their colours and a disabled chart shows none of its series; on the screen,
// disabling repaints at once. Text pixels are never compared. With LUMIVAR_SCREENSHOT_DIR
// set, a chart in each legend mode and a disabled one are saved there.
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/settings.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <string>

#include "controls/graphic.h"
#include "tests/support/screenshot.h"
#include "tests/support/wx_test_support.h"

namespace controls {
namespace {

::testing::Environment* const kWxEnvironment =
    ::testing::AddGlobalTestEnvironment(new ui_testing::WxEnvironment);

using ui_testing::PumpUntil;

constexpr int kWidth = 300;
constexpr int kHeight = 200;
const wxColour kSeriesColour(100, 100, 255);

void Fill(Graphic* chart, int mode) {
  chart->SetLegendMode(mode);
  chart->SetDenseLimit(10);
  chart->SetAxisTitles("Values in ms", "Time");
  chart->SetSeriesNames({"Connection Time", "Test Queries Total Time"});
  GraphPoints first;
  GraphPoints second;
  for (int i = 0; i < 12; ++i) {
    const std::int64_t t = 1700000000 + 60 * i;
    Graphic::AddPoint(first, {i == 5 ? -1.0 : 5.0, t});  // level, with one gap
    Graphic::AddPoint(second, {i % 4 == 3 ? -1.0 : 120.0 + 40 * (i % 3), t});
  }
  chart->SetSeries(first, 0);
  chart->SetSeries(second, 1);
}

wxImage RenderToImage(const Graphic& chart) {
  wxBitmap bitmap(kWidth, kHeight, 24);
  {
    wxMemoryDC dc(bitmap);
    chart.Render(dc, wxSize(kWidth, kHeight));
  }
  return bitmap.ConvertToImage();
}

wxColour At(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

bool Contains(const wxImage& image, const wxColour& colour) {
  for (int y = 0; y < image.GetHeight(); ++y) {
    for (int x = 0; x < image.GetWidth(); ++x) {
      if (At(image, x, y) == colour) return true;
    }
  }
  return false;
}

class GraphicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "chart", wxDefaultPosition, wxSize(660, 480));
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    EXPECT_TRUE(PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
  }

  wxFrame* frame_ = nullptr;
};

TEST_F(GraphicTest, PaintsFrameAxesAndSeries) {
  auto* chart = new Graphic(frame_, wxID_ANY, "Chart", wxDefaultPosition, wxSize(kWidth, kHeight));
  Fill(chart, 1);
  const ChartModel& model = chart->Model();
  const int axisY = kHeight - ChartModel::kTopMargin - model.BottomMargin();
  const int plotHeight = axisY - ChartModel::kTopMargin;
  // Series 0 lies level at 5 from point 0 to point 4.
  const int levelY = static_cast<int>((axisY - 1) - 5.0 * plotHeight / model.MaxValue());
  const int levelX = 55 + (kWidth - 5 - 55) * 2 / 11 + 5;  // between points 2 and 3

  struct Case {
    const char* what;
    int x, y;
    wxColour colour;
  } const cases[] = {
      {"frame", 0, kHeight / 2, *wxBLACK},
      {"frame", kWidth / 2, kHeight - 1, *wxBLACK},
      {"value axis", 55, axisY - 20, wxColour(100, 100, 100)},
      {"time axis", 150, axisY, wxColour(100, 100, 100)},
      {"right line", kWidth - 6, 30, wxColour(200, 200, 200)},
      {"series", levelX, levelY, kSeriesColour},
      {"background", 150, 20, wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)},
  };
  const wxImage on = RenderToImage(*chart);
  for (const auto& c : cases) {
    EXPECT_EQ(At(on, c.x, c.y), c.colour) << c.what << " " << At(on, c.x, c.y).GetAsString();
  }

  chart->Disable();
  const wxImage off = RenderToImage(*chart);
  EXPECT_EQ(At(off, 150, 20), wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  EXPECT_EQ(At(off, 0, kHeight / 2), *wxBLACK);
  EXPECT_FALSE(Contains(off, kSeriesColour));
  EXPECT_FALSE(Contains(off, wxColour(255, 100, 100)));
}

TEST_F(GraphicTest, DisablingRepaintsAtOnce) {
  const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
  const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  if (window == face) GTEST_SKIP() << "the theme paints both alike";
  auto* chart = new Graphic(frame_, wxID_ANY, "Chart", wxPoint(0, 0), wxSize(kWidth, kHeight));
  Fill(chart, 0);
  auto backgroundIs = [chart](const wxColour& colour) {
    const wxImage image = testing_support::GrabWindow(chart);
    return image.IsOk() && At(image, 150, 20) == colour;
  };
  ASSERT_TRUE(PumpUntil([&] { return backgroundIs(window); }));
  chart->Disable();
  EXPECT_TRUE(PumpUntil([&] { return backgroundIs(face); }));
  chart->Enable();
  EXPECT_TRUE(PumpUntil([&] { return backgroundIs(window); }));
}

TEST_F(GraphicTest, Screenshots) {
  const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR");
  if (dir == nullptr) GTEST_SKIP() << "no screenshot folder";
  auto* grid = new wxGridSizer(2, 2, 4, 4);
  for (int i = 0; i < 4; ++i) {
    auto* chart = new Graphic(frame_, wxID_ANY, "Chart");
    Fill(chart, i < 3 ? i : 2);
    if (i == 3) chart->Disable();
    grid->Add(chart, 1, wxEXPAND);
  }
  frame_->SetSizer(grid);
  frame_->Layout();
  ui_testing::PumpFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/charts.png"));
}

}  // namespace
}  // namespace controls
