// The main window's menu bar: Monitor, View, Tools and Help. UI thread only.
#pragma once

class wxMenuBar;

namespace app {

// A new menu bar; the caller (the frame) takes it over.
wxMenuBar* CreateMainMenuBar();

}  // namespace app
