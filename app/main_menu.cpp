#include "app/main_menu.h"

#include <wx/menu.h>

#include "app/command_ids.h"
#include "res/strings.h"

namespace app {
namespace {

void Append(wxMenu* menu, int id, const char* label, wxItemKind kind = wxITEM_NORMAL) {
  const char* prompt = res::FindString(PromptStringId(id));
  menu->Append(id, wxString::FromUTF8(label),
               prompt != nullptr ? wxString::FromUTF8(prompt) : wxString(), kind);
}

}  // namespace

wxMenuBar* CreateMainMenuBar() {
  auto* monitor = new wxMenu;
  Append(monitor, kIdMonitorNew, "&New");
  monitor->AppendSeparator();
  Append(monitor, kIdMonitorStart, "&Start");
  Append(monitor, kIdMonitorStop, "S&top");
  monitor->AppendSeparator();
  Append(monitor, kIdMonitorDelete, "&Delete");

  auto* view = new wxMenu;
  Append(view, kIdViewToolbar, "&Toolbar", wxITEM_CHECK);
  Append(view, kIdViewStatusBar, "&Status Bar", wxITEM_CHECK);

  auto* tools = new wxMenu;
  Append(tools, kIdSettings, "&Settings");

  auto* help = new wxMenu;
  Append(help, kIdOnlineHelp, "Online &Help");
  help->AppendSeparator();
  Append(help, kIdAppAbout, "&About Lumivar...");

  auto* bar = new wxMenuBar;
  bar->Append(monitor, "&Monitor");
  bar->Append(view, "&View");
  bar->Append(tools, "Tools");
  bar->Append(help, "&Help");
  return bar;
}

}  // namespace app
