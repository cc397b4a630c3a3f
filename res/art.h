// The program's own art, embedded as PNG data. Read-only; any thread may call.
#pragma once

#include <cstddef>

namespace res {

struct PngData {
  const unsigned char* data;
  std::size_t size;
};

// The program's icon at 16, 32 or 48 pixels; {nullptr, 0} for other sizes.
PngData AppIconPng(int size);

// A horizontal strip of `count` square images of `imageSize` pixels, side by side.
struct ArtStrip {
  PngData png;
  int imageSize;
  int count;
};

// The toolbar's images at 32 pixels: New, Start, Stop, Settings.
ArtStrip ToolbarStrip(bool disabled);

// The menu images at 16 pixels: New, Start, Stop, Delete, Settings.
ArtStrip MenuStrip(bool disabled);

// The monitor tree's 18 node images at 16 pixels, indexed by node kind.
ArtStrip TreeStrip();

// The status images at 16 pixels, indexed by StatusImage.
ArtStrip StatusStrip();
enum StatusImage : int { kStatusUp = 0, kStatusDown = 1, kStatusOff = 2 };

}  // namespace res
