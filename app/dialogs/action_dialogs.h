// The four modal "Configure Action" dialogs: one for e-mail and SMS actions, one for SQL,
// one for programs and one for user-interface actions. Each edits a copy of an action's
// settings; the copy takes the controls' values only when OK passes its checks, so Cancel
// (or a refused OK) leaves it as given. The caller writes it to the store. UI thread only.
#pragma once

#include <wx/dialog.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/store/monitor_snapshot.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxFlexGridSizer;
class wxTextCtrl;

namespace app {

// A whole number typed in a field: an optional sign and decimal digits (blanks around
// allowed) within least..greatest; empty otherwise.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text, std::int64_t least,
                                             std::int64_t greatest);

// The names of the user-interface kinds, in uiType order.
inline constexpr const char* kUiTypeNames[] = {"Message Box", "Popup Balloon",
                                               "Show Application Window"};

class ActionDialog : public wxDialog {
 public:
  // Shows a message to the user (text, caption).
  using MessageFunction = std::function<void(const wxString& text, const wxString& caption)>;

  // The settings as OK accepted them; before that, as given.
  const engine::ActionSettings& Settings() const { return settings_; }

  // What OK does: checks the numbers (a refused one gets a message, its field the focus,
  // and false), takes every control into the settings and ends the dialog with wxID_OK.
  bool Accept();

  wxTextCtrl* NameCtrl() const { return name_; }
  wxTextCtrl* PollsCtrl() const { return polls_; }
  wxButton* OkButton() const { return ok_; }

 protected:
  // message: defaults to a message box over the dialog.
  ActionDialog(wxWindow* parent, const engine::ActionSettings& settings, MessageFunction message);

  // A label and its control in the grid; the control is named after the label and, with
  // grow, takes the grid's width.
  void AddRow(const wxString& label, wxWindow* ctrl, bool grow = true);
  // The grid the dialog's own rows go into, below "Display Name:".
  wxFlexGridSizer* Grid() const { return grid_; }
  // Adds the polls line and the buttons below the grid, fills name and polls, and sizes
  // the dialog; the constructors of the kinds call it last.
  void Finish();
  // Shows a refusal and puts the focus on the field.
  void Refuse(wxTextCtrl* field, const wxString& text);

  // Checks the kind's own fields and takes them into out; false after Refuse.
  virtual bool TakeFields(engine::ActionSettings& out) = 0;

 private:
  void OnOk(wxCommandEvent& event);

  engine::ActionSettings settings_;
  MessageFunction message_;
  wxFlexGridSizer* grid_ = nullptr;
  wxTextCtrl* name_ = nullptr;
  wxTextCtrl* polls_ = nullptr;
  wxButton* ok_ = nullptr;
};

// E-mail and SMS actions. The authentication box only enables and disables the user name
// and the password; the port must be 1 to 65535.
class ActionEmailDialog : public ActionDialog {
 public:
  ActionEmailDialog(wxWindow* parent, const engine::ActionSettings& settings,
                    MessageFunction message = {});

  wxTextCtrl* ServerCtrl() const { return server_; }
  wxTextCtrl* PortCtrl() const { return port_; }
  wxCheckBox* AuthCheck() const { return auth_; }
  wxTextCtrl* UserCtrl() const { return user_; }
  wxTextCtrl* PasswordCtrl() const { return password_; }
  wxTextCtrl* SenderCtrl() const { return sender_; }
  wxTextCtrl* SendToCtrl() const { return sendTo_; }

 protected:
  bool TakeFields(engine::ActionSettings& out) override;

 private:
  void EnableLogin();

  wxTextCtrl* server_ = nullptr;
  wxTextCtrl* port_ = nullptr;
  wxCheckBox* auth_ = nullptr;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
  wxTextCtrl* sender_ = nullptr;
  wxTextCtrl* sendTo_ = nullptr;
};

class ActionSqlDialog : public ActionDialog {
 public:
  ActionSqlDialog(wxWindow* parent, const engine::ActionSettings& settings,
                  MessageFunction message = {});

  wxTextCtrl* DataSourceCtrl() const { return dataSource_; }
  wxTextCtrl* UserCtrl() const { return user_; }
  wxTextCtrl* PasswordCtrl() const { return password_; }
  wxTextCtrl* QueryCtrl() const { return query_; }

 protected:
  bool TakeFields(engine::ActionSettings& out) override;

 private:
  wxTextCtrl* dataSource_ = nullptr;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
  wxTextCtrl* query_ = nullptr;
};

class ActionProgramDialog : public ActionDialog {
 public:
  // Asks for a file to open; empty when the user cancelled.
  using ChooseFile = std::function<std::optional<wxString>(wxWindow* parent)>;

  // choose: defaults to a file-open dialog.
  ActionProgramDialog(wxWindow* parent, const engine::ActionSettings& settings,
                      MessageFunction message = {}, ChooseFile choose = {});

  wxTextCtrl* PathCtrl() const { return path_; }
  wxButton* BrowseButton() const { return browse_; }

 protected:
  bool TakeFields(engine::ActionSettings& out) override;

 private:
  ChooseFile choose_;
  wxTextCtrl* path_ = nullptr;
  wxButton* browse_ = nullptr;
};

// A uiType outside 0 to 2 leaves the list unselected, and OK without a selection keeps it.
class ActionUiDialog : public ActionDialog {
 public:
  ActionUiDialog(wxWindow* parent, const engine::ActionSettings& settings,
                 MessageFunction message = {});

  wxChoice* KindChoice() const { return kind_; }

 protected:
  bool TakeFields(engine::ActionSettings& out) override;

 private:
  wxChoice* kind_ = nullptr;
};

// The dialog for the settings' type (0 and 1 e-mail, 2 SQL, 3 program, 4 user interface);
// null for any other type.
std::unique_ptr<ActionDialog> MakeActionDialog(wxWindow* parent,
                                               const engine::ActionSettings& settings,
                                               ActionDialog::MessageFunction message = {});

}  // namespace app
