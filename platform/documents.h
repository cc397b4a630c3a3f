// The data folder: the user's documents folder plus "Lumivar/". The documents folder is
// $LUMIVAR_DOCUMENTS_DIR when set (tests point it at a temporary folder), else the XDG
// documents folder, else $HOME/Documents. Any thread may call.
#pragma once

#include <string>

namespace platform {

// The data folder as an absolute path ending in "/". Missing folders on the way are
// created (mode 0700) on every call. When the folder cannot be resolved or created the
// intended path is still returned, so that opening a file there fails; the current
// directory is never used instead.
std::string GetDocumentsFolder();

}  // namespace platform
