// The notification-area icon: a click opens the main window, a right click offers
// Open Window | Start All Monitors, Stop All Monitors | Exit. Made only where the desktop
// has a notification area (TrayIcon::Available). UI thread only.
#pragma once

#include <functional>

#include <wx/taskbar.h>

class wxMenu;

namespace app {

struct TrayCommands {
  std::function<void()> openWindow;
  std::function<bool()> canOpenWindow;  // false while the window is in front
  std::function<void()> startAll;
  std::function<void()> stopAll;
  std::function<void()> exit;
};

class TrayIcon : public wxTaskBarIcon {
 public:
  // Whether this desktop shows notification-area icons.
  static bool Available();

  // Shows the program's icon with the tip "Lumivar".
  explicit TrayIcon(TrayCommands commands);
  ~TrayIcon() override;

  // The right-click menu as it would be shown (the caller owns it).
  wxMenu* MakeMenu();

 protected:
  wxMenu* CreatePopupMenu() override { return MakeMenu(); }

 private:
  TrayCommands commands_;
};

}  // namespace app
