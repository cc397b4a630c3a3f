// Accessible names for wx windows. This wx build has no accessibility support of its own,
// so the name is set on the native GTK widget's ATK object, where AT-SPI clients read it.
// UI thread only; the window must be created.
#pragma once

#include <wx/string.h>

class wxWindow;

namespace controls {

// Gives the window its accessible name. A window that wraps its widget in a scrolled window
// (a multi-line text, a list) names the inner widget too, which is what a screen reader
// focuses. With a label, the window is also marked as labelled by it (and the label as its
// label), as for an entry with a label beside it.
void SetAccessibleName(wxWindow* window, const wxString& name, wxWindow* label = nullptr);

// The name a label or a caption gives: without its mnemonic marks and without a closing
// colon, ellipsis or full stop ("T&est Connection..." names "Test Connection").
wxString NameFromLabel(const wxString& label);

}  // namespace controls
