// Starting what a program action names: an executable file is started directly, anything
// else (a document, a folder, a URL) is handed to the desktop's opener, xdg-open. No shell
// is ever involved and the path is always one argument. The started process gets no file
// descriptor of ours beyond the standard ones (stdin is /dev/null), runs in a session of
// its own and is reaped by a background thread when it ends, so it never stays a zombie.
// Any thread may call.
#pragma once

#include <string>

#include "platform/status.h"

namespace engine {

// Starts the program or opener for `path` and returns without waiting for it. 0 when the
// process was started; 2 for an empty path or a path that names nothing and is not a URL
// (and when xdg-open is missing), 5 when the path cannot be reached for lack of rights,
// else the start's error as a status. processId, when given, receives the process started
// (0 on failure).
platform::Status StartProgram(const std::string& path, int* processId = nullptr);

}  // namespace engine
