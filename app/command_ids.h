// Command identifiers of the main window's menus, tool bar and tray menu, and the
// string-table identifiers of their status-bar prompts.
#pragma once

#include <wx/defs.h>

namespace app {

enum CommandId : int {
  kIdMonitorNew = wxID_HIGHEST + 1,
  kIdMonitorDelete,
  kIdMonitorStart,
  kIdMonitorStop,
  kIdMonitorDuplicate,
  kIdTrayOpenWindow,
  kIdTrayStartAll,
  kIdTrayStopAll,
  kIdSettings,
  kIdOnlineHelp,
  kIdViewToolbar,
  kIdViewStatusBar,
  kIdNextPane,  // F6: the focus moves between the tree and the view
  kIdPrevPane,  // Shift+F6
  kIdAppAbout = wxID_ABOUT,
  kIdAppExit = wxID_EXIT,
};

// The string-table identifier of a command's status-bar prompt; 0 when it has none.
constexpr unsigned PromptStringId(int command) {
  switch (command) {
    case kIdMonitorNew:
      return 32774;
    case kIdMonitorDelete:
      return 32775;
    case kIdMonitorStart:
      return 32777;
    case kIdMonitorStop:
      return 32778;
    case kIdMonitorDuplicate:
      return 32779;
    case kIdSettings:
      return 32798;
    case kIdOnlineHelp:
      return 32800;
    case kIdAppAbout:
      return 57664;
    case kIdViewToolbar:
      return 59392;
    case kIdViewStatusBar:
      return 59393;
    default:
      return 0;
  }
}

}  // namespace app
