// Accessible names for wx windows. This wx build has no accessibility support of its own,
// so the name is set on the native GTK widget's ATK object, where AT-SPI clients read it.
// UI thread only; the window must be created.
#pragma once

#include <wx/string.h>

class wxDataViewCtrl;
class wxWindow;

namespace controls {

// Gives the window its accessible name. A window that wraps its widget in a scrolled window
// (a multi-line text, a list) names the inner widget too, which is what a screen reader
// focuses; so do a combo box its entry and a date or time picker the entries and spin
// buttons it is made of. With a label, the window is also marked as labelled by it (and the
// label as its label), as for an entry with a label beside it.
void SetAccessibleName(wxWindow* window, const wxString& name, wxWindow* label = nullptr);

// Makes every later change of a value in the list's model reach the accessible cells:
// the toolkit's list redraws a changed value but tells its accessible cells only of
// changed rows, so each changed value is announced as a changed row. Call once per list.
void KeepAccessibleCellsCurrent(wxDataViewCtrl* list);

// Names each check box cell of a native list (a check list box) after the text of its row,
// for the rows it has now.
void NameCheckBoxCells(wxWindow* list);

// From now on, every dialog window of the process is exposed with the role "dialog" (not
// "frame"), and every message box is named after its title (not after its icon's kind).
void ExposeDialogsAsDialogs();

// The name a label or a caption gives: without its mnemonic marks and without a closing
// colon, ellipsis or full stop ("T&est Connection..." names "Test Connection").
wxString NameFromLabel(const wxString& label);

}  // namespace controls
