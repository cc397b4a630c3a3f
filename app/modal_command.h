// Commands that open a modal window (a dialog, a message box, the wizard, a file chooser)
// open it on a later turn of the event loop, so that the command's event returns first: an
// accessibility client that activated the command gets its answer, and no modal loop runs
// inside the handling of its request. UI thread only.
#pragma once

#include <functional>

class wxEvtHandler;

namespace app {

// Runs open on a later turn of owner's event loop. Dropped when owner is destroyed first,
// and while another command's window is still waiting to open (a command activated twice
// before the loop came round).
void OpenModalLater(wxEvtHandler* owner, std::function<void()> open);

}  // namespace app
