// The chart rendered into a memory bitmap: its frame, axes and series have their colours,
// and a disabled chart shows the button face and none of its series. Text pixels are never
// compared. With LUMIVAR_SCREENSHOT_DIR set, charts in each legend mode and a disabled one
// are saved there as charts.png.
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

// Series 0 lies level at 5 from point 0 to point 4, then has a gap; series 1 zigzags.
void Fill(Graphic* chart, int mode) {
  chart->SetLegendMode(mode);
  chart->SetDenseLimit(10);
  chart->SetAxisTitles("Values in ms", "Time");
  chart->SetSeriesNames({"Connection Time", "Test Queries Total Time"});
  GraphPoints first, second;
  for (int i = 0; i < 12; ++i) {
    const std::int64_t t = 1700000000 + 60 * i;
    Graphic::AddPoint(first, {i == 5 ? -1.0 : 5.0, t});
    Graphic::AddPoint(second, {i % 4 == 3 ? -1.0 : 120.0 + 40 * (i % 3), t});
  }
  chart->SetSeries(first, 0);
  chart->SetSeries(second, 1);
}

wxImage Render(const Graphic& chart) {
  wxBitmap bitmap(300, 200, 24);
  {
    wxMemoryDC dc(bitmap);
    chart.Render(dc, bitmap.GetSize());
  }
  return bitmap.ConvertToImage();
}

wxColour At(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

TEST(Graphic, PaintsFrameAxesAndSeries) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "chart", wxDefaultPosition, wxSize(660, 480));
  auto* chart = new Graphic(frame, wxID_ANY, "Chart");
  Fill(chart, 1);
  const int axisY = 200 - ChartModel::kTopMargin - chart->Model().BottomMargin();
  const double ys = (axisY - ChartModel::kTopMargin) / chart->Model().MaxValue();
  const wxColour blue(100, 100, 255);
  struct Case {
    const char* what;
    int x, y;
    wxColour colour;
  } const cases[] = {
      {"frame", 0, 100, *wxBLACK},
      {"frame", 150, 199, *wxBLACK},
      {"value axis", 55, axisY - 20, wxColour(100, 100, 100)},
      {"time axis", 150, axisY, wxColour(100, 100, 100)},
      {"right line", 294, 30, wxColour(200, 200, 200)},
      {"series", 55 + 240 * 2 / 11 + 5, int((axisY - 1) - 5 * ys), blue},  // points 2 to 3
      {"background", 150, 20, wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)},
  };
  const wxImage on = Render(*chart);
  for (const auto& c : cases) EXPECT_EQ(At(on, c.x, c.y), c.colour) << c.what;

  chart->Disable();
  const wxImage off = Render(*chart);
  EXPECT_EQ(At(off, 150, 20), wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  EXPECT_EQ(At(off, 0, 100), *wxBLACK);
  for (int y = 0; y < off.GetHeight(); ++y) {
    for (int x = 0; x < off.GetWidth(); ++x) {
      ASSERT_NE(At(off, x, y), blue) << x << "," << y;
      ASSERT_NE(At(off, x, y), wxColour(255, 100, 100)) << x << "," << y;
    }
  }
  frame->Destroy();
}

TEST(Graphic, Screenshots) {
  const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR");
  if (dir == nullptr) GTEST_SKIP() << "no screenshot folder";
  auto* frame = new wxFrame(nullptr, wxID_ANY, "charts", wxDefaultPosition, wxSize(660, 480));
  auto* grid = new wxGridSizer(2, 2, 4, 4);
  for (int i = 0; i < 4; ++i) {  // legend modes 0, 1, 2, and 2 disabled
    auto* chart = new Graphic(frame, wxID_ANY, "Chart");
    Fill(chart, i < 3 ? i : 2);
    chart->Enable(i < 3);
    grid->Add(chart, 1, wxEXPAND);
  }
  frame->SetSizer(grid);
  frame->Show();
  ASSERT_TRUE(ui_testing::PumpUntil([frame] { return frame->IsShownOnScreen(); }));
  ui_testing::PumpFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(testing_support::SaveWindowScreenshot(frame, std::string(dir) + "/charts.png"));
  frame->Destroy();
}

}  // namespace
}  // namespace controls
