// What the header band of every view says and how it is coloured: the monitor's name with
// its data source over its status, "Lumivar" over nothing when no monitor is selected; a
// band that differs from the window in light and dark themes; the engine's status colour
// kept, the theme's inactive-caption colour replaced by the band.
#include "app/views/base_view.h"

#include <gtest/gtest.h>

namespace app {
namespace {

TEST(BaseViewTest, HeaderTexts) {
  const struct {
    const char* name;
    bool selected;
    const char* monitorName;
    const char* address;
    const char* status;
    HeaderTexts expected;
  } cases[] = {
      {"name and data source",
       true,
       "Sales",
       "sales_dsn",
       "Stopped",
       {"Sales (sales_dsn)", "Stopped"}},
      {"no data source", true, "Sales", "", "Running", {"Sales", "Running"}},
      {"blanks kept as they are",
       true,
       " Sales ",
       " dsn",
       "[1C] no such source",
       {" Sales  ( dsn)", "[1C] no such source"}},
      {"empty name", true, "", "dsn", "", {" (dsn)", ""}},
      {"nothing selected", false, "", "", "", {"Lumivar", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine::MonitorSnapshot monitor;
    monitor.settings.name = c.monitorName;
    monitor.settings.address = c.address;
    monitor.statusText = c.status;
    EXPECT_EQ(MakeHeaderTexts(c.selected ? &monitor : nullptr), c.expected);
  }
}

int Distance(const wxColour& a, const wxColour& b) {
  return std::abs(a.Red() - b.Red()) + std::abs(a.Green() - b.Green()) +
         std::abs(a.Blue() - b.Blue());
}

TEST(BaseViewTest, BandAndStatusColours) {
  const struct {
    const char* name;
    wxColour highlight, window;
    wxColour band;
  } themes[] = {
      {"light", wxColour(53, 132, 228), wxColour(255, 255, 255), wxColour(205, 224, 248)},
      {"dark", wxColour(21, 83, 158), wxColour(36, 36, 36), wxColour(32, 48, 67)},
      {"highlight equal to window", wxColour(90, 90, 90), wxColour(90, 90, 90),
       wxColour(90, 90, 90)},
  };
  for (const auto& t : themes) {
    SCOPED_TRACE(t.name);
    const wxColour band = HeaderBandColour(t.highlight, t.window);
    EXPECT_EQ(band, t.band);
    if (t.highlight != t.window) {
      EXPECT_GE(Distance(band, t.window), 20) << "the band vanishes into the window";
    }
    EXPECT_EQ(StatusLineColour(engine::StatusColor::InactiveCaption(), band), band);
    EXPECT_EQ(StatusLineColour(engine::StatusColor::Rgb(255, 0, 0), band), wxColour(255, 0, 0));
  }
}

}  // namespace
}  // namespace app
