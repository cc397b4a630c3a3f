// Image strips: a row of equal images in one picture, cut into single images, and the
// disabled look derived from them. Decoding and cutting need no display; bitmaps do.
// UI thread only (the PNG handler is registered on first use).
#pragma once

#include <wx/bitmap.h>
#include <wx/image.h>

#include <cstddef>
#include <span>
#include <vector>

namespace controls {

// The image in a PNG held in memory; an invalid image when the data does not decode.
wxImage DecodePng(const unsigned char* data, std::size_t size);

// The disabled look of an image: grey, lighter and half transparent.
wxImage MakeDisabledImage(const wxImage& image);

class ImageStrip {
 public:
  ImageStrip() = default;

  // Cuts `strip` into images of imageWidth x imageHeight from left to right. A strip whose
  // height differs or whose width is not a positive multiple of imageWidth is refused:
  // the result holds no image and IsOk() is false.
  ImageStrip(const wxImage& strip, int imageWidth, int imageHeight);

  // Decodes a PNG strip of `count` square images of `imageSize`; refused (IsOk() false)
  // when it does not decode or holds another number or size of images.
  static ImageStrip FromPng(const unsigned char* data, std::size_t size, int imageSize, int count);

  bool IsOk() const { return !images_.empty(); }
  int GetCount() const { return static_cast<int>(images_.size()); }
  const wxImage& GetImage(int index) const { return images_.at(static_cast<std::size_t>(index)); }
  // Needs an initialised display.
  wxBitmap GetBitmap(int index) const { return wxBitmap(GetImage(index)); }

  // The same images with the disabled look.
  ImageStrip Disabled() const;

 private:
  std::vector<wxImage> images_;
};

// The separator's command identifier in a tool list.
inline constexpr int kToolSeparator = 0;

// The image index of each item of a tool list: buttons take the strip's images in order,
// separators take none (-1).
std::vector<int> MapToolImages(std::span<const int> items);

}  // namespace controls
