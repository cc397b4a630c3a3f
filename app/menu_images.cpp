#include "app/menu_images.h"

#include <gtk/gtk.h>
#include <wx/log.h>
#include <wx/menu.h>

#include <algorithm>
#include <array>
#include <utility>

#include "app/command_ids.h"
#include "res/art.h"

namespace app {
namespace {

constexpr std::array kMenuImageCommands = {
    static_cast<int>(kIdMonitorNew),  static_cast<int>(kIdMonitorStart),
    static_cast<int>(kIdMonitorStop), static_cast<int>(kIdMonitorDelete),
    static_cast<int>(kIdSettings),
};

controls::ImageStrip LoadStrip(bool disabled) {
  const res::ArtStrip art = res::MenuStrip(disabled);
  return controls::ImageStrip::FromPng(art.png.data, art.png.size, art.imageSize, art.count);
}

void TrackImageStates(wxMenu* menu, const MenuImages& images) {
  menu->Bind(wxEVT_MENU_OPEN, [menu, &images](wxMenuEvent& event) {
    // Bring the items' states up to date first, whatever order the toolkit sends them in.
    menu->UpdateUI();
    ShowMenuImageStates(menu, images);
    event.Skip();
  });
}

}  // namespace

std::span<const int> MenuImageCommands() { return kMenuImageCommands; }

int FindMenuImage(std::span<const int> commands, int command) {
  for (std::size_t i = commands.size(); i-- > 0;) {
    if (commands[i] == command) return static_cast<int>(i);
  }
  return -1;
}

MenuImages::MenuImages(std::vector<int> commands, controls::ImageStrip normal,
                       controls::ImageStrip disabled)
    : commands_(std::move(commands)), normal_(std::move(normal)), disabled_(std::move(disabled)) {}

const MenuImages& MenuImages::Main() {
  static const MenuImages images = [] {
    controls::ImageStrip normal = LoadStrip(false);
    controls::ImageStrip disabled = LoadStrip(true);
    const int count = static_cast<int>(kMenuImageCommands.size());
    if (normal.GetCount() != count || disabled.GetCount() != count) {
      wxLogError("The menu images could not be loaded.");
      return MenuImages({}, {}, {});
    }
    return MenuImages({kMenuImageCommands.begin(), kMenuImageCommands.end()}, std::move(normal),
                      std::move(disabled));
  }();
  return images;
}

int MenuImages::Index(int command) const {
  const int index = FindMenuImage(commands_, command);
  const controls::ImageStrip& shortest =
      normal_.GetCount() < disabled_.GetCount() ? normal_ : disabled_;
  return index < shortest.GetCount() ? index : -1;
}

wxBitmap MenuImages::Image(int command, bool enabled) const {
  const int index = Index(command);
  if (index < 0) return wxBitmap();
  return (enabled ? normal_ : disabled_).GetBitmap(index);
}

wxMenuItem* MenuBuilder::Append(wxMenu* menu, int id, const wxString& text, const wxString& help,
                                wxItemKind kind) {
  auto* item = new wxMenuItem(menu, id, text, help, kind);
  if (kind == wxITEM_NORMAL && images_.Has(id)) item->SetBitmap(images_.Image(id, true));
  if (std::find(tracked_.begin(), tracked_.end(), menu) == tracked_.end()) {
    tracked_.push_back(menu);
    TrackImageStates(menu, images_);
  }
  return menu->Append(item);
}

void ShowMenuImageStates(wxMenu* menu, const MenuImages& images) {
  for (wxMenuItem* item : menu->GetMenuItems()) {
    if (!item->IsSubMenu() && item->GetKind() == wxITEM_NORMAL && images.Has(item->GetId())) {
      item->SetBitmap(images.Image(item->GetId(), item->IsEnabled()));
      // The toolkit's item keeps the image it was given; this gives it a new one made from
      // the item's bitmap (no window: drawn at scale 1).
      item->SetupBitmaps(menu->GetWindow());
    }
  }
}

void EnableMenuImages() {
  static const bool done = [] {
    g_object_set(gtk_settings_get_default(), "gtk-menu-images", TRUE, nullptr);
    return true;
  }();
  (void)done;
}

}  // namespace app
