#include "controls/image_strip.h"

#include <wx/log.h>
#include <wx/mstream.h>

namespace controls {

wxImage DecodePng(const unsigned char* data, std::size_t size) {
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  if (data == nullptr || size == 0) return wxImage();
  const wxLogNull quiet;  // a failure is the caller's to report
  wxMemoryInputStream stream(data, size);
  wxImage image;
  if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG)) return wxImage();
  return image;
}

wxImage MakeDisabledImage(const wxImage& image) {
  if (!image.IsOk()) return wxImage();
  wxImage out = image.ConvertToGreyscale();
  if (!out.HasAlpha()) out.InitAlpha();
  unsigned char* rgb = out.GetData();
  unsigned char* alpha = out.GetAlpha();
  const int pixels = out.GetWidth() * out.GetHeight();
  for (int i = 0; i < pixels; ++i) {
    for (int c = 0; c < 3; ++c)
      rgb[3 * i + c] = static_cast<unsigned char>(128 + rgb[3 * i + c] / 2);
    alpha[i] = static_cast<unsigned char>(alpha[i] / 2);
  }
  return out;
}

ImageStrip::ImageStrip(const wxImage& strip, int imageWidth, int imageHeight) {
  if (!strip.IsOk() || imageWidth <= 0 || imageHeight <= 0) return;
  if (strip.GetHeight() != imageHeight || strip.GetWidth() % imageWidth != 0) return;
  const int count = strip.GetWidth() / imageWidth;
  images_.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    images_.push_back(strip.GetSubImage(wxRect(i * imageWidth, 0, imageWidth, imageHeight)));
  }
}

ImageStrip ImageStrip::FromPng(const unsigned char* data, std::size_t size, int imageSize,
                               int count) {
  ImageStrip strip(DecodePng(data, size), imageSize, imageSize);
  if (strip.GetCount() != count) return ImageStrip();
  return strip;
}

ImageStrip ImageStrip::Disabled() const {
  ImageStrip out;
  out.images_.reserve(images_.size());
  for (const wxImage& image : images_) out.images_.push_back(MakeDisabledImage(image));
  return out;
}

std::vector<int> MapToolImages(std::span<const int> items) {
  std::vector<int> indices;
  indices.reserve(items.size());
  int next = 0;
  for (int item : items) indices.push_back(item == kToolSeparator ? -1 : next++);
  return indices;
}

}  // namespace controls
