#include "controls/accessible_name.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>
#include <wx/control.h>
#include <wx/dataview.h>
#include <wx/datetimectrl.h>
#include <wx/window.h>

#include <string>
#include <vector>

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

// Names every entry (a spin button is one) inside the widget.
void NameEntries(GtkWidget* widget, const char* name) {
  if (GTK_IS_ENTRY(widget)) NameWidget(widget, name);
  if (!GTK_IS_CONTAINER(widget)) return;
  gtk_container_forall(
      GTK_CONTAINER(widget),
      [](GtkWidget* child, gpointer data) { NameEntries(child, static_cast<const char*>(data)); },
      const_cast<char*>(name));
}

// Turns each changed value into a changed item, which the toolkit's list passes on to its
// accessible cells.
class ValueToItemNotifier : public wxDataViewModelNotifier {
 public:
  bool ItemAdded(const wxDataViewItem&, const wxDataViewItem&) override { return true; }
  bool ItemDeleted(const wxDataViewItem&, const wxDataViewItem&) override { return true; }
  bool ItemChanged(const wxDataViewItem&) override { return true; }
  bool ValueChanged(const wxDataViewItem& item, unsigned int) override {
    if (inside_ || GetOwner() == nullptr) return true;
    inside_ = true;
    GetOwner()->ItemChanged(item);
    inside_ = false;
    return true;
  }
  bool Cleared() override { return true; }
  void Resort() override {}

 private:
  bool inside_ = false;
};

gboolean ExposeDialog(GSignalInvocationHint*, guint count, const GValue* params, gpointer) {
  if (count == 0 || !G_VALUE_HOLDS_OBJECT(&params[0])) return TRUE;
  GObject* object = G_OBJECT(g_value_get_object(&params[0]));
  if (object == nullptr || !GTK_IS_WINDOW(object)) return TRUE;
  GtkWindow* window = GTK_WINDOW(object);
  AtkObject* accessible = gtk_widget_get_accessible(GTK_WIDGET(window));
  if (accessible == nullptr) return TRUE;
  if (GTK_IS_MESSAGE_DIALOG(window)) {
    const gchar* title = gtk_window_get_title(window);
    if (title != nullptr && *title != 0) atk_object_set_name(accessible, title);
  } else if (gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_DIALOG) {
    atk_object_set_role(accessible, ATK_ROLE_DIALOG);
  }
  return TRUE;
}

}  // namespace

void KeepAccessibleCellsCurrent(wxDataViewCtrl* list) {
  if (list != nullptr && list->GetModel() != nullptr) {
    list->GetModel()->AddNotifier(new ValueToItemNotifier);
  }
}

void NameCheckBoxCells(wxWindow* list) {
  if (list == nullptr || list->GetHandle() == nullptr) return;
  AtkObject* table = gtk_widget_get_accessible(FocusWidget(list->GetHandle()));
  if (table == nullptr || !ATK_IS_TABLE(table)) return;
  const int rows = atk_table_get_n_rows(ATK_TABLE(table));
  const int columns = atk_table_get_n_columns(ATK_TABLE(table));
  for (int row = 0; row < rows; ++row) {
    std::vector<AtkObject*> boxes;
    std::string text;
    for (int column = 0; column < columns; ++column) {
      AtkObject* cell = atk_table_ref_at(ATK_TABLE(table), row, column);
      if (cell == nullptr) continue;
      if (GTK_IS_BOOLEAN_CELL_ACCESSIBLE(cell)) {
        boxes.push_back(cell);
        continue;
      }
      const gchar* name = atk_object_get_name(cell);
      if (text.empty() && name != nullptr) text = name;
      g_object_unref(cell);
    }
    for (AtkObject* cell : boxes) {
      if (!text.empty()) atk_object_set_name(cell, text.c_str());
      g_object_unref(cell);
    }
  }
}

void ExposeDialogsAsDialogs() {
  static const bool installed = [] {
    g_signal_add_emission_hook(g_signal_lookup("show", GTK_TYPE_WIDGET), 0, ExposeDialog, nullptr,
                               nullptr);
    return true;
  }();
  (void)installed;
}

void SetAccessibleName(wxWindow* window, const wxString& name, wxWindow* label) {
  if (window == nullptr) return;
  GtkWidget* widget = window->GetHandle();
  if (widget == nullptr) return;
  const wxScopedCharBuffer utf8 = name.utf8_str();
  NameWidget(widget, utf8.data());
  GtkWidget* focus = FocusWidget(widget);
  if (focus != widget) NameWidget(focus, utf8.data());
  if (GTK_IS_COMBO_BOX(widget) || dynamic_cast<wxDateTimePickerCtrl*>(window) != nullptr) {
    NameEntries(widget, utf8.data());
  }
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
