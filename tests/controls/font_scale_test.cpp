// Sizes scaled to the program's font: the scale itself, the link between shown and stored
// column widths, fitting columns into a list and flowing
// parts into lines.
#include "controls/font_scale.h"

#include <gtest/gtest.h>

#include <vector>

namespace controls {
namespace {

TEST(FontScaleTest, ScalesByTheAlphabetsWidth) {
  const struct {
    int pixels, alphabet, scaled;
  } cases[] = {
      {100, kLayoutAlphabetWidth, 100},  // the layout font itself
      {100, 422, 135},                   // a wider font, rounded to the nearest pixel
      {960, 422, 1298},
      {100, 156, 50},  // a narrower one
      {100, 0, 100},   // nothing measured: as it is
      {0, 422, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ScaleToFont(c.pixels, c.alphabet), c.scaled) << c.pixels << " " << c.alphabet;
}

TEST(FontScaleTest, DefaultsAreStoredAsTheLayoutWidthAndTheUsersAsTheyAre) {
  // Layout default 100, shown 135 on this font.
  EXPECT_EQ(ShownColumnWidth(100, 100, 135), 135);  // never set by the user
  EXPECT_EQ(ShownColumnWidth(0, 100, 135), 135);    // nothing stored
  EXPECT_EQ(ShownColumnWidth(90, 100, 135), 90);    // the user's
  EXPECT_EQ(StoredColumnWidth(135, 100, 135), 100);
  EXPECT_EQ(StoredColumnWidth(90, 100, 135), 90);
  EXPECT_EQ(StoredColumnWidth(100, 100, 135), 100);
  // A round trip through the settings keeps both kinds.
  for (int shown : {135, 90, 240})
    EXPECT_EQ(ShownColumnWidth(StoredColumnWidth(shown, 100, 135), 100, 135), shown);
}

TEST(FontScaleTest, ColumnsNarrowTowardsTheirLeastWidthToFit) {
  const struct {
    const char* what;
    std::vector<int> widths, least;
    int available;
    std::vector<int> fitted;
  } cases[] = {
      {"room enough", {200, 100}, {100, 50}, 400, {200, 100}},
      {"exactly", {200, 100}, {100, 50}, 300, {200, 100}},
      {"in proportion to the room above the least", {200, 100}, {100, 50}, 240, {160, 80}},
      {"never below the least", {200, 100}, {100, 50}, 100, {100, 50}},
      {"a column at its least keeps it", {200, 100}, {200, 50}, 250, {200, 50}},
      {"no columns", {}, {}, 100, {}},
  };
  for (const auto& c : cases) {
    const std::vector<int> fitted = FitWidthsInto(c.widths, c.least, c.available);
    EXPECT_EQ(fitted, c.fitted) << c.what;
    int total = 0;
    for (int width : fitted) total += width;
    int least = 0;
    for (int width : c.least) least += width;
    EXPECT_LE(total, std::max(c.available, least)) << c.what;
  }
}

TEST(FontScaleTest, PartsFlowIntoLinesThatFit) {
  const struct {
    const char* what;
    std::vector<int> widths;
    int available;
    std::vector<int> lines;
  } cases[] = {
      {"one line", {100, 80, 250, 250}, 700, {0, 0, 0, 0}},
      {"the last part wraps", {100, 80, 250, 250}, 600, {0, 0, 0, 1}},
      {"three parts, then one", {100, 80, 250, 250}, 430, {0, 0, 0, 1}},
      {"each part alone", {100, 80, 250, 250}, 260, {0, 0, 1, 2}},
      {"a part wider than the line", {100, 300}, 200, {0, 1}},
      {"nothing", {}, 100, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(FlowIntoLines(c.widths, c.available), c.lines) << c.what;
}

}  // namespace
}  // namespace controls
