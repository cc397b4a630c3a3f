#include "app/tray_icon.h"

#include <wx/menu.h>

#include "app/app_icon.h"
#include "app/command_ids.h"

namespace app {

bool TrayIcon::Available() { return wxTaskBarIcon::IsAvailable(); }

TrayIcon::TrayIcon(TrayCommands commands) : commands_(std::move(commands)) {
  SetIcon(wxBitmapBundle::FromIconBundle(AppIconBundle()), "Lumivar");
  // GTK reports a single click as a button press (a double click only when that is not
  // handled): one click opens the window.
  Bind(wxEVT_TASKBAR_LEFT_DOWN, [this](wxTaskBarIconEvent&) {
    if (commands_.openWindow) commands_.openWindow();
  });
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (commands_.openWindow) commands_.openWindow();
      },
      kIdTrayOpenWindow);
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) {
        e.Enable(!commands_.canOpenWindow || commands_.canOpenWindow());
      },
      kIdTrayOpenWindow);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (commands_.startAll) commands_.startAll();
      },
      kIdTrayStartAll);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (commands_.stopAll) commands_.stopAll();
      },
      kIdTrayStopAll);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (commands_.exit) commands_.exit();
      },
      kIdAppExit);
}

TrayIcon::~TrayIcon() { RemoveIcon(); }

wxMenu* TrayIcon::MakeMenu() {
  auto* menu = new wxMenu;
  menu->Append(kIdTrayOpenWindow, "Open Window", "Open Main Application Window");
  menu->AppendSeparator();
  menu->Append(kIdTrayStartAll, "Start All Monitors", "Start All Monitors");
  menu->Append(kIdTrayStopAll, "Stop All Monitors", "Stop All Monitors");
  menu->AppendSeparator();
  menu->Append(kIdAppExit, "Exit");
  return menu;
}

}  // namespace app
