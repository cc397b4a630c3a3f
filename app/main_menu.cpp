#include "app/main_menu.h"

#include <wx/menu.h>

#include "app/command_ids.h"
#include "app/menu_accessibility.h"
#include "app/menu_images.h"
#include "res/strings.h"

namespace app {
namespace {

// Every item goes through the builder, so commands with an image show it; an accessibility
// client's click on an item of a closed menu runs its command.
class ItemMaker {
 public:
  ItemMaker() : builder_(MenuImages::Main()) {
    EnableMenuImages();
    RouteClosedMenuItemClicks();
  }

  void operator()(wxMenu* menu, int id, const char* label, wxItemKind kind = wxITEM_NORMAL) {
    const char* prompt = res::FindString(PromptStringId(id));
    builder_.Append(menu, id, wxString::FromUTF8(label),
                    prompt != nullptr ? wxString::FromUTF8(prompt) : wxString(), kind);
  }

 private:
  MenuBuilder builder_;
};

}  // namespace

wxMenu* CreateMonitorMenu() {
  ItemMaker append;
  auto* monitor = new wxMenu;
  append(monitor, kIdMonitorNew, "&New");
  monitor->AppendSeparator();
  append(monitor, kIdMonitorStart, "&Start");
  append(monitor, kIdMonitorStop, "S&top");
  monitor->AppendSeparator();
  append(monitor, kIdMonitorDelete, "&Delete");
  return monitor;
}

wxMenuBar* CreateMainMenuBar() {
  ItemMaker append;
  wxMenu* monitor = CreateMonitorMenu();

  auto* view = new wxMenu;
  append(view, kIdViewToolbar, "&Toolbar", wxITEM_CHECK);
  append(view, kIdViewStatusBar, "&Status Bar", wxITEM_CHECK);

  auto* tools = new wxMenu;
  append(tools, kIdSettings, "&Settings");

  auto* help = new wxMenu;
  append(help, kIdOnlineHelp, "Online &Help");
  help->AppendSeparator();
  append(help, kIdAppAbout, "&About Lumivar...");

  auto* bar = new wxMenuBar;
  bar->Append(monitor, "&Monitor");
  bar->Append(view, "&View");
  bar->Append(tools, "Tools");
  bar->Append(help, "&Help");
  return bar;
}

}  // namespace app
