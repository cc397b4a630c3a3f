// The main window's menu bar: Monitor, View, Tools and Help, and the Monitor menu alone for
// the monitor tree's context menu. UI thread only.
#pragma once

class wxMenu;
class wxMenuBar;

namespace app {

// A new menu bar; the caller (the frame) takes it over.
wxMenuBar* CreateMainMenuBar();

// A new Monitor menu (New, Start, Stop, Delete with their images); the caller takes it over.
wxMenu* CreateMonitorMenu();

}  // namespace app
