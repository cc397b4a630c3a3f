#include "controls/image_strip.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <vector>

namespace controls {
namespace {

// A strip whose n-th image of `width` pixels is filled with the grey value 10 * n.
wxImage MakeStrip(int stripWidth, int height, int width) {
  wxImage strip(stripWidth, height);
  for (int x = 0; x < stripWidth; ++x) {
    const auto v = static_cast<unsigned char>(10 * (x / width));
    for (int y = 0; y < height; ++y) strip.SetRGB(x, y, v, v, v);
  }
  return strip;
}

TEST(ImageStripTest, CutsAStripOrRefusesIt) {
  wxInitializer init;
  struct Case {
    int stripWidth, stripHeight, imageWidth, imageHeight, count;
  } const cases[] = {
      {128, 32, 32, 32, 4},                                               // the toolbar's strip
      {80, 16, 16, 16, 5},  {16, 16, 16, 16, 1},   {100, 32, 32, 32, 0},  // width not a multiple
      {128, 32, 32, 16, 0},                                               // height differs
      {128, 32, 0, 32, 0},  {128, 32, -32, 32, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.stripWidth << "x" << c.stripHeight << " by " << c.imageWidth);
    const ImageStrip strip(MakeStrip(c.stripWidth, c.stripHeight, 32), c.imageWidth, c.imageHeight);
    EXPECT_EQ(strip.GetCount(), c.count);
    EXPECT_EQ(strip.IsOk(), c.count > 0);
  }
}

TEST(ImageStripTest, ImagesComeInStripOrderAtTheirSize) {
  wxInitializer init;
  const ImageStrip strip(MakeStrip(128, 32, 32), 32, 32);
  ASSERT_EQ(strip.GetCount(), 4);
  for (int i = 0; i < 4; ++i) {
    const wxImage& image = strip.GetImage(i);
    EXPECT_EQ(image.GetSize(), wxSize(32, 32));
    EXPECT_EQ(image.GetRed(0, 0), 10 * i);
    EXPECT_EQ(image.GetRed(31, 31), 10 * i);
  }
}

TEST(ImageStripTest, DisabledImagesAreGreyLighterAndHalfTransparent) {
  wxInitializer init;
  wxImage strip(32, 16);
  strip.InitAlpha();
  for (int x = 0; x < 32; ++x) {
    for (int y = 0; y < 16; ++y) {
      strip.SetRGB(x, y, x < 16 ? 200 : 0, x < 16 ? 0 : 0, x < 16 ? 0 : 200);
      strip.SetAlpha(x, y, x < 16 ? 255 : 0);
    }
  }
  const ImageStrip disabled = ImageStrip(strip, 16, 16).Disabled();
  ASSERT_EQ(disabled.GetCount(), 2);
  const wxImage& red = disabled.GetImage(0);
  EXPECT_EQ(red.GetRed(3, 3), red.GetGreen(3, 3));
  EXPECT_EQ(red.GetRed(3, 3), red.GetBlue(3, 3));
  EXPECT_GE(red.GetRed(3, 3), 128);
  EXPECT_EQ(red.GetAlpha(3, 3), 127);
  EXPECT_EQ(disabled.GetImage(1).GetAlpha(3, 3), 0);  // transparent stays transparent
}

TEST(ImageStripTest, APngStripOfTheWrongShapeIsRefused) {
  wxInitializer init;
  EXPECT_FALSE(ImageStrip::FromPng(nullptr, 0, 16, 1).IsOk());
  const unsigned char notPng[] = {1, 2, 3, 4};
  EXPECT_FALSE(ImageStrip::FromPng(notPng, sizeof notPng, 16, 1).IsOk());
}

TEST(MapToolImagesTest, SeparatorsTakeNoImage) {
  constexpr int S = kToolSeparator;
  struct Case {
    std::vector<int> items;
    std::vector<int> indices;
  } const cases[] = {
      {{101, S, 102, 103, S, 104}, {0, -1, 1, 2, -1, 3}},  // the main toolbar
      {{S, 101, 102}, {-1, 0, 1}},
      {{S, S}, {-1, -1}},
      {{}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(MapToolImages(c.items), c.indices);
}

}  // namespace
}  // namespace controls
