// The main window's toolbar: New, Start, Stop and Settings with the program's 32-pixel
// images. UI thread only.
#pragma once

#include <span>

class wxToolBar;

namespace app {

// The toolbar's items in order; controls::kToolSeparator stands for a separator.
std::span<const int> MainToolItems();

// Adds the toolbar's items to an empty toolbar and realises it. Each button has its normal
// and disabled image, its name as short help and the command's status-bar prompt as long
// help. When the images do not load, an error is logged, nothing is added and the result
// is false.
bool FillMainToolBar(wxToolBar* toolbar);

}  // namespace app
