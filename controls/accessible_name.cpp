#include "controls/accessible_name.h"

#include <gtk/gtk.h>
#include <wx/control.h>
#include <wx/window.h>

namespace controls {

namespace {

void NameWidget(GtkWidget* widget, const char* name) {
  if (widget == nullptr) return;
  if (AtkObject* accessible = gtk_widget_get_accessible(widget)) {
    atk_object_set_name(accessible, name);
  }
}

// The widget that takes the focus: the child of a scrolled window, else the widget itself.
GtkWidget* FocusWidget(GtkWidget* widget) {
  if (widget != nullptr && GTK_IS_SCROLLED_WINDOW(widget)) {
    if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget))) return child;
  }
  return widget;
}

void Relate(GtkWidget* widget, GtkWidget* labelWidget) {
  AtkObject* accessible = gtk_widget_get_accessible(widget);
  AtkObject* labelAccessible = gtk_widget_get_accessible(labelWidget);
  if (accessible == nullptr || labelAccessible == nullptr) return;
  atk_object_add_relationship(accessible, ATK_RELATION_LABELLED_BY, labelAccessible);
  atk_object_add_relationship(labelAccessible, ATK_RELATION_LABEL_FOR, accessible);
}

}  // namespace

void SetAccessibleName(wxWindow* window, const wxString& name, wxWindow* label) {
  if (window == nullptr) return;
  GtkWidget* widget = window->GetHandle();
  if (widget == nullptr) return;
  const wxScopedCharBuffer utf8 = name.utf8_str();
  NameWidget(widget, utf8.data());
  GtkWidget* focus = FocusWidget(widget);
  if (focus != widget) NameWidget(focus, utf8.data());
  if (label != nullptr && label->GetHandle() != nullptr) {
    Relate(focus, label->GetHandle());
  }
}

wxString NameFromLabel(const wxString& label) {
  wxString name = wxControl::RemoveMnemonics(label);
  if (name.EndsWith("...")) {
    name.RemoveLast(3);
  } else if (name.EndsWith(":") || name.EndsWith(".")) {
    name.RemoveLast();
  }
  return name;
}

}  // namespace controls
