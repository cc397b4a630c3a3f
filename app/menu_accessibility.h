// How an accessibility client's "click" on a menu item reaches the program. UI thread only.
#pragma once

namespace app {

// From the first call on, for the rest of the process: a client's click on an item of a
// menu that is not open (a menu bar's drop-down, say) activates the item as choosing it
// does, if it is enabled and shown, and is refused otherwise. A click on an item of an open
// menu or of the menu bar, or on an item that opens a submenu, goes the toolkit's way. (The
// toolkit's way for a closed menu grabs input for the never-shown drop-down and then looks
// for the menu among the item's accessible parents, where it is not, and so prints failed
// assertions on standard error.) Later calls do nothing.
void RouteClosedMenuItemClicks();

}  // namespace app
