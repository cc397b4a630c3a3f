// The program's own help page: one short HTML document in UTF-8 that says what the window,
// the tree, the views, the tray icon and the files of the data folder are. Read-only data;
// any thread may call.
#pragma once

namespace res {

// The whole page, never null.
const char* HelpPageHtml();

}  // namespace res
