// Screenshots for user-interface tests: a PNG of a window as it is on the screen, taken
// by copying its screen rectangle (under Xvfb, X11). Header-only, so that the test support
// library itself needs no wx; only the tests that include it do. UI thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
#include <wx/window.h>

#include <string>

namespace testing_support {

// The window's pixels as shown now (what lies over it included); an invalid image when
// the window is not on the screen.
inline wxImage GrabWindow(wxWindow* window) {
  if (!window || !window->IsShownOnScreen()) return {};
  window->Update();
  const wxRect rect = window->GetScreenRect();
  if (rect.IsEmpty()) return {};
  wxBitmap bitmap(rect.GetSize(), 24);
  wxMemoryDC memory(bitmap);
  wxScreenDC screen;
  if (!memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y)) return {};
  memory.SelectObject(wxNullBitmap);
  return bitmap.ConvertToImage();
}

// Saves GrabWindow's image as a PNG file; false when there was nothing to save or the
// file could not be written.
inline bool SaveWindowScreenshot(wxWindow* window, const std::string& path) {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  const wxImage image = GrabWindow(window);
  return image.IsOk() && image.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
}

}  // namespace testing_support
