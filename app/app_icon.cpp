#include "app/app_icon.h"

#include <wx/image.h>

#include "res/art.h"

namespace app {

wxBitmap AppIconBitmap(int size) {
  const int nearest = size <= 16 ? 16 : size <= 32 ? 32 : 48;
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  const res::PngData png = res::AppIconPng(nearest);
  return wxBitmap::NewFromPNGData(png.data, png.size);
}

wxIconBundle AppIconBundle() {
  wxIconBundle bundle;
  for (int size : {16, 32, 48}) {
    wxIcon icon;
    icon.CopyFromBitmap(AppIconBitmap(size));
    bundle.AddIcon(icon);
  }
  return bundle;
}

}  // namespace app
