// The left pane's width limits: the minimum is the content plus the edge on both sides,
// the maximum leaves the right pane its minimum and the sash, and a narrow client keeps
// the left minimum.
#include "controls/pane_splitter.h"

#include <gtest/gtest.h>

namespace controls {
namespace {

TEST(SplitterLimitsTest, MinimumMaximumAndClamping) {
  const struct {
    const char* name;
    int client, leftContent, rightMinimum, sash;
    SplitterLimits limits;
    int position, clamped;
  } cases[] = {
      {"inside the range", 1000, 180, 400, 6, {190, 594}, 240, 240},
      {"below the minimum", 1000, 180, 400, 6, {190, 594}, 0, 190},
      {"at the minimum", 1000, 180, 400, 6, {190, 594}, 190, 190},
      {"above the maximum", 1000, 180, 400, 6, {190, 594}, 990, 594},
      {"at the maximum", 1000, 180, 400, 6, {190, 594}, 594, 594},
      {"negative position", 1000, 180, 400, 6, {190, 594}, -50, 190},
      {"no content, no right minimum", 800, 0, 0, 4, {10, 796}, 900, 796},
      {"too narrow: the left minimum wins", 500, 180, 400, 6, {190, 190}, 240, 190},
      {"no client yet", 0, 180, 400, 6, {190, 190}, 240, 190},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SplitterLimits limits =
        ComputeSplitterLimits(c.client, c.leftContent, c.rightMinimum, c.sash);
    EXPECT_EQ(limits.minimum, c.limits.minimum);
    EXPECT_EQ(limits.maximum, c.limits.maximum);
    EXPECT_EQ(ClampSashPosition(c.position, limits), c.clamped);
  }
}

}  // namespace
}  // namespace controls
