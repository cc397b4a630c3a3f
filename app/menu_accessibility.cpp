#include "app/menu_accessibility.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <array>

namespace app {
namespace {

using DoAction = gboolean (*)(AtkAction*, gint);

// The toolkit's click for menu items, kept for the cases that go its way.
DoAction toolkitClick = nullptr;

gboolean ClickMenuItem(AtkAction* action, gint index) {
  GtkWidget* item = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
  GtkWidget* menu = item != nullptr ? gtk_widget_get_parent(item) : nullptr;
  if (index != 0 || !GTK_IS_MENU_ITEM(item) || !GTK_IS_MENU(menu) || gtk_widget_get_mapped(menu) ||
      gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)) != nullptr) {
    return toolkitClick(action, index);
  }
  if (!gtk_widget_is_sensitive(item) || !gtk_widget_get_visible(item)) return FALSE;
  // What choosing the item ends with: its "activate", which a check item answers by
  // toggling and the program by running the item's command.
  gtk_widget_activate(item);
  return TRUE;
}

}  // namespace

void RouteClosedMenuItemClicks() {
  static const bool done = [] {
    // Each kind of item has its own copy of the menu item's action table.
    const std::array<GType, 3> kinds = {GTK_TYPE_MENU_ITEM_ACCESSIBLE,
                                        GTK_TYPE_CHECK_MENU_ITEM_ACCESSIBLE,
                                        GTK_TYPE_RADIO_MENU_ITEM_ACCESSIBLE};
    for (const GType kind : kinds) {
      // Kept for the life of the process, so the table stays.
      auto* actions = static_cast<AtkActionIface*>(
          g_type_interface_peek(g_type_class_ref(kind), ATK_TYPE_ACTION));
      if (actions == nullptr || actions->do_action == nullptr) continue;
      if (toolkitClick == nullptr) toolkitClick = actions->do_action;
      if (actions->do_action == toolkitClick) actions->do_action = &ClickMenuItem;
    }
    return true;
  }();
  (void)done;
}

}  // namespace app
