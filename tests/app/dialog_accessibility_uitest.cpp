// What a screen reader is given for the program's modal windows, read from the toolkit's
// accessible objects in this process (the program test reaches them through AT-SPI only
// while no modal window blocks the program): dialogs have the role "dialog", a message box
// is named after its title, and the controls inside carry names.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/checklst.h>
#include <wx/combobox.h>
#include <wx/msgdlg.h>
#include <wx/statbmp.h>

#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/dialogs/alert_dialog.h"
#include "app/dialogs/new_monitor_wizard.h"
#include "controls/accessible_name.h"
#include "tests/app/ui_test_support.h"

namespace app {
namespace {

using ui_testing::PumpUntil;

AtkObject* Accessible(wxWindow* window) { return gtk_widget_get_accessible(window->GetHandle()); }

std::string Name(AtkObject* accessible) {
  const gchar* name = accessible != nullptr ? atk_object_get_name(accessible) : nullptr;
  return name != nullptr ? name : "";
}

template <class T>
std::vector<T*> ChildrenOf(wxWindow* parent) {
  std::vector<T*> found;
  for (wxWindow* child : parent->GetChildren()) {
    if (auto* typed = dynamic_cast<T*>(child)) found.push_back(typed);
    const std::vector<T*> deeper = ChildrenOf<T>(child);
    found.insert(found.end(), deeper.begin(), deeper.end());
  }
  return found;
}

// The names of a check list box's cells, row by row: "check box name | text name".
std::vector<std::string> CellNames(wxCheckListBox* list) {
  GtkWidget* widget = list->GetHandle();
  if (GTK_IS_SCROLLED_WINDOW(widget)) widget = gtk_bin_get_child(GTK_BIN(widget));
  AtkObject* table = gtk_widget_get_accessible(widget);
  std::vector<std::string> rows;
  if (!ATK_IS_TABLE(table)) return rows;
  for (int row = 0; row < atk_table_get_n_rows(ATK_TABLE(table)); ++row) {
    std::string names;
    for (int column = 0; column < atk_table_get_n_columns(ATK_TABLE(table)); ++column) {
      AtkObject* cell = atk_table_ref_at(ATK_TABLE(table), row, column);
      names += (column > 0 ? " | " : "") + Name(cell);
      if (cell != nullptr) g_object_unref(cell);
    }
    rows.push_back(names);
  }
  return rows;
}

class DialogAccessibilityUiTest : public ::testing::Test {
 protected:
  void SetUp() override { controls::ExposeDialogsAsDialogs(); }
};

TEST_F(DialogAccessibilityUiTest, AboutIsADialogWithANamedIcon) {
  CAboutDlg about(nullptr);
  about.Show();
  ASSERT_TRUE(PumpUntil([&] { return about.IsShownOnScreen(); }));
  EXPECT_EQ(atk_object_get_role(Accessible(&about)), ATK_ROLE_DIALOG);
  const std::vector<wxStaticBitmap*> icons = ChildrenOf<wxStaticBitmap>(&about);
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(Name(Accessible(icons[0])), "Lumivar");
}

TEST_F(DialogAccessibilityUiTest, ConfigureAlertNamesTheEntriesOfItsComboBoxes) {
  AlertDialog dialog(nullptr, {}, {}, {});
  dialog.Show();
  ASSERT_TRUE(PumpUntil([&] { return dialog.IsShownOnScreen(); }));
  EXPECT_EQ(atk_object_get_role(Accessible(&dialog)), ATK_ROLE_DIALOG);
  const std::vector<wxComboBox*> combos = ChildrenOf<wxComboBox>(&dialog);
  ASSERT_EQ(combos.size(), 3u);
  for (wxComboBox* combo : combos) {
    GtkWidget* entry = gtk_bin_get_child(GTK_BIN(combo->GetHandle()));
    ASSERT_TRUE(GTK_IS_ENTRY(entry));
    EXPECT_FALSE(Name(gtk_widget_get_accessible(entry)).empty());
    EXPECT_EQ(Name(gtk_widget_get_accessible(entry)), Name(Accessible(combo)));
  }
}

TEST_F(DialogAccessibilityUiTest, TheWizardsCheckBoxCellsAreNamedAfterTheirRows) {
  auto* wizard = new NewMonitorWizard(nullptr, NewMonitorData{});
  wizard->Show();
  ASSERT_TRUE(PumpUntil([&] { return wizard->IsShownOnScreen(); }));
  EXPECT_EQ(atk_object_get_role(Accessible(wizard)), ATK_ROLE_DIALOG);
  const std::vector<std::string> actions = CellNames(wizard->ActionsList());
  EXPECT_EQ(actions, (std::vector<std::string>{"Message Box Action | Message Box Action",
                                               "Popup Balloon Action | Popup Balloon Action"}));
  const std::vector<std::string> alerts = CellNames(wizard->AlertsList());
  ASSERT_FALSE(alerts.empty());
  for (const std::string& row : alerts) {
    const std::size_t bar = row.find(" | ");
    ASSERT_NE(bar, std::string::npos) << row;
    EXPECT_FALSE(row.substr(0, bar).empty()) << row;
    EXPECT_EQ(row.substr(0, bar), row.substr(bar + 3)) << row;
  }
  wizard->Destroy();
  ui_testing::PumpOnce();
}

// The delete question: the toolkit names a message box after its icon ("Question"); it is
// named after its title instead. Answered from a toolkit timer inside its modal run.
TEST_F(DialogAccessibilityUiTest, AMessageBoxIsAnAlertNamedAfterItsTitle) {
  struct Seen {
    std::string name;
    AtkRole role = ATK_ROLE_INVALID;
    int tries = 0;
  } seen;
  g_timeout_add(
      20,
      [](gpointer data) -> gboolean {
        auto* seen = static_cast<Seen*>(data);
        GList* windows = gtk_window_list_toplevels();
        GtkWidget* box = nullptr;
        for (GList* it = windows; it != nullptr; it = it->next) {
          if (GTK_IS_MESSAGE_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) {
            box = GTK_WIDGET(it->data);
          }
        }
        g_list_free(windows);
        if (box == nullptr) return ++seen->tries < 500;
        AtkObject* accessible = gtk_widget_get_accessible(box);
        seen->name = Name(accessible);
        seen->role = atk_object_get_role(accessible);
        gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_NO);
        return FALSE;
      },
      &seen);
  wxMessageDialog question(nullptr, "Delete the monitor?", "Lumivar", wxYES_NO | wxICON_QUESTION);
  EXPECT_EQ(question.ShowModal(), wxID_NO);
  EXPECT_EQ(seen.name, "Lumivar");
  EXPECT_EQ(seen.role, ATK_ROLE_ALERT);
}

}  // namespace
}  // namespace app
