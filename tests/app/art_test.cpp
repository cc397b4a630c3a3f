#include <gtest/gtest.h>
#include <wx/init.h>

#include "controls/image_strip.h"
#include "res/art.h"

namespace {

// Every embedded strip decodes into its number of images at its size, and no image is
// blank (each has opaque pixels) or fully opaque (each is a shape, not a tile).
TEST(ArtTest, EveryStripDecodesAtItsSize) {
  wxInitializer init;
  struct Case {
    const char* name;
    res::ArtStrip art;
    int size, count;
  } const cases[] = {
      {"toolbar", res::ToolbarStrip(false), 32, 4},
      {"toolbar disabled", res::ToolbarStrip(true), 32, 4},
      {"menu", res::MenuStrip(false), 16, 5},
      {"menu disabled", res::MenuStrip(true), 16, 5},
      {"tree", res::TreeStrip(), 16, 18},
      {"icon 16", {res::AppIconPng(16), 16, 1}, 16, 1},
      {"icon 32", {res::AppIconPng(32), 32, 1}, 32, 1},
      {"icon 48", {res::AppIconPng(48), 48, 1}, 48, 1},
      {"status", res::StatusStrip(), 16, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.art.imageSize, c.size);
    EXPECT_EQ(c.art.count, c.count);
    const auto strip =
        controls::ImageStrip::FromPng(c.art.png.data, c.art.png.size, c.size, c.count);
    ASSERT_TRUE(strip.IsOk());
    for (int i = 0; i < strip.GetCount(); ++i) {
      const wxImage& image = strip.GetImage(i);
      ASSERT_TRUE(image.HasAlpha()) << i;
      int opaque = 0;
      for (int y = 0; y < c.size; ++y) {
        for (int x = 0; x < c.size; ++x) opaque += image.GetAlpha(x, y) > 0 ? 1 : 0;
      }
      EXPECT_GT(opaque, c.size * c.size / 8) << "image " << i << " is nearly blank";
      EXPECT_LT(opaque, c.size * c.size) << "image " << i << " has no transparent pixel";
    }
  }
}

}  // namespace
