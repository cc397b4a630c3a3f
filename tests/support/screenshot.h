// Screenshots for user-interface tests: the pixels of a window as the X server shows them,
// read by ImageMagick's `import` from the root window (under Xvfb). A wxScreenDC blit is
// not used: on GTK 3 it keeps returning the pixels of its first grab. Header-only, so that
// the test support library itself needs no wx; only the tests that include it do. UI
// thread only.
#pragma once

#include <stdlib.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/window.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/wx_test_support.h"

namespace testing_support {

// The window's screen rectangle as shown now (what lies over it included); an invalid
// image when the window is not on the screen or the grab failed.
inline wxImage GrabWindow(wxWindow* window) {
  if (!window || !window->IsShownOnScreen()) return {};
  window->Update();
  wxYield();  // hands the painting done so far to the X server
  const wxRect rect = window->GetScreenRect();
  if (rect.IsEmpty()) return {};
  char path[] = "/tmp/lumivar-screenshot-XXXXXX.png";
  const int fd = mkstemps(path, 4);
  if (fd < 0) return {};
  close(fd);
  char command[256];
  std::snprintf(command, sizeof command,
                "import -silent -window root -crop %dx%d+%d+%d +repage '%s'", rect.width,
                rect.height, rect.x, rect.y, path);
  wxImage image;
  if (std::system(command) == 0) {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxLogNull quiet;
    image.LoadFile(path, wxBITMAP_TYPE_PNG);
  }
  std::remove(path);
  if (image.IsOk() && image.GetSize() != rect.GetSize()) return {};
  return image;
}

// Saves GrabWindow's image as a PNG file; false when there was nothing to save or the
// file could not be written.
inline bool SaveWindowScreenshot(wxWindow* window, const std::string& path) {
  const wxImage image = GrabWindow(window);
  return image.IsOk() && image.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
}

// With LUMIVAR_SCREENSHOT_DIR set, lets the window's painting settle and saves it as
// <dir>/<name>.png; does nothing otherwise.
inline void ScreenshotIfAsked(wxWindow* window, const std::string& name) {
  const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR");
  if (dir == nullptr) return;
  ui_testing::PumpFor(std::chrono::milliseconds(300));
  SaveWindowScreenshot(window, std::string(dir) + "/" + name + ".png");
}

}  // namespace testing_support
