// The Online Help command: the program's own help page, written into the data folder when
// it is missing and opened in the desktop's browser. User-interface thread.
#pragma once

#include <string>

namespace app {

// The help page's file in the data folder ("help.html"), written from the program's own copy
// when missing; "" when it cannot be written. An existing file is kept as it is.
std::string EnsureHelpPage(const std::string& dataFolder);

// Online Help: EnsureHelpPage in the data folder, then opens it with wxLaunchDefaultBrowser;
// nothing happens when either fails.
void OpenOnlineHelp();

}  // namespace app
