// Images beside menu items: every item of the menu bar and of the tree's context menu is
// made through MenuBuilder, which gives a normal item its 16-pixel image when its command
// has one; while a menu opens, disabled items show the disabled image. UI thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/menuitem.h>
#include <wx/string.h>

#include <span>
#include <vector>

#include "controls/image_strip.h"

class wxMenu;

namespace app {

// The commands of the menu image strip, in strip order.
std::span<const int> MenuImageCommands();

// The image index of `command` in a command list, searched from the last entry, so the last
// occurrence wins; -1 when the list does not hold it.
int FindMenuImage(std::span<const int> commands, int command);

// Menu images by command: image i of each strip belongs to commands[i].
class MenuImages {
 public:
  MenuImages(std::vector<int> commands, controls::ImageStrip normal, controls::ImageStrip disabled);

  // The program's menu images. When the art does not load, an error is logged once and
  // the list is empty.
  static const MenuImages& Main();

  bool Has(int command) const { return Index(command) >= 0; }
  // The command's image for an enabled or a disabled item; an invalid bitmap when it has none.
  wxBitmap Image(int command, bool enabled) const;

 private:
  int Index(int command) const;

  std::vector<int> commands_;
  controls::ImageStrip normal_;
  controls::ImageStrip disabled_;
};

// Makes menu items. Normal items whose command has an image get it before they are
// appended (GTK shows no image set later on a new item); check and radio items never get
// one. Each menu it appends to shows its disabled items' disabled images when it opens.
// The images must outlive the menus.
class MenuBuilder {
 public:
  explicit MenuBuilder(const MenuImages& images) : images_(images) {}

  wxMenuItem* Append(wxMenu* menu, int id, const wxString& text, const wxString& help = {},
                     wxItemKind kind = wxITEM_NORMAL);

 private:
  const MenuImages& images_;
  std::vector<wxMenu*> tracked_;
};

// Gives every imaged normal item of `menu` the image for its state, on the toolkit's item
// as well as on wx's copy. A submenu has its own open event and is handled there.
void ShowMenuImageStates(wxMenu* menu, const MenuImages& images);

// Switches GTK's menu images on for this process (GTK shows none otherwise). Needs wx
// initialised; later calls do nothing.
void EnableMenuImages();

}  // namespace app
