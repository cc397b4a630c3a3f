#include "app/toolbar.h"

#include <wx/log.h>
#include <wx/toolbar.h>

#include <algorithm>
#include <array>
#include <vector>

#include "app/command_ids.h"
#include "controls/image_strip.h"
#include "res/art.h"
#include "res/strings.h"

namespace app {
namespace {

constexpr std::array kItems = {
    static_cast<int>(kIdMonitorNew),  controls::kToolSeparator, static_cast<int>(kIdMonitorStart),
    static_cast<int>(kIdMonitorStop), controls::kToolSeparator, static_cast<int>(kIdSettings),
};

const char* ToolName(int command) {
  switch (command) {
    case kIdMonitorNew:
      return "New";
    case kIdMonitorStart:
      return "Start";
    case kIdMonitorStop:
      return "Stop";
    case kIdSettings:
      return "Settings";
    default:
      return "";
  }
}

controls::ImageStrip LoadStrip(bool disabled) {
  const res::ArtStrip art = res::ToolbarStrip(disabled);
  return controls::ImageStrip::FromPng(art.png.data, art.png.size, art.imageSize, art.count);
}

}  // namespace

std::span<const int> MainToolItems() { return kItems; }

bool FillMainToolBar(wxToolBar* toolbar) {
  const controls::ImageStrip normal = LoadStrip(false);
  const controls::ImageStrip disabled = LoadStrip(true);
  const std::vector<int> images = controls::MapToolImages(kItems);
  int needed = 0;
  for (int image : images) needed = std::max(needed, image + 1);
  if (normal.GetCount() < needed || disabled.GetCount() < needed) {
    wxLogError("The toolbar's images could not be loaded.");
    return false;
  }
  toolbar->SetToolBitmapSize(normal.GetImage(0).GetSize());
  for (std::size_t i = 0; i < kItems.size(); ++i) {
    const int command = kItems[i];
    if (command == controls::kToolSeparator) {
      toolbar->AddSeparator();
      continue;
    }
    const char* prompt = res::FindString(PromptStringId(command));
    const wxString name = wxString::FromUTF8(ToolName(command));
    toolbar->AddTool(command, name, normal.GetBitmap(images[i]), disabled.GetBitmap(images[i]),
                     wxITEM_NORMAL, name,
                     prompt != nullptr ? wxString::FromUTF8(prompt) : wxString());
  }
  return toolbar->Realize();
}

}  // namespace app
