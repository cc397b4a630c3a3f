// The program's icon as wx bitmaps and icon bundles, made from the embedded art.
// UI thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

namespace app {

// The icon at 16, 32 or 48 pixels (the nearest of them for other sizes).
wxBitmap AppIconBitmap(int size);
// All sizes, for a top-level window.
wxIconBundle AppIconBundle();

}  // namespace app
