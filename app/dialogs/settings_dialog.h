// The modal "Settings" dialog: the start-at-login entry, the alert message template and the
// e-mail report's schedule and SMTP account. The dialog edits a copy of the values; only
// RunSettingsDialog assigns them to the process-wide settings object, on OK, together with
// writing or removing the autostart entry and saving the settings. UI thread only.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <string>
#include <string_view>

#include "engine/settings_source.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxTextCtrl;

namespace app {

// The selection of the report schedule list ("Never", "Daily", "Weekly", "Monthly") for a
// stored mode; a mode outside 0 to 3 shows as "Never".
int ReportModeSelection(int mode);

// A multi-line text as stored: every line end ("\r\n", "\n" or a lone "\r") as "\r\n".
std::string WithCrlfLineEnds(std::string_view text);

// What the dialog edits.
struct SettingsDialogValues {
  bool startOnLogin = false;
  engine::AlertMessageTemplate alertTemplate;
  engine::MailSettings mail;

  bool operator==(const SettingsDialogValues&) const = default;
};

class SettingsDialog : public wxDialog {
 public:
  // Shows a message to the user (text, caption).
  using MessageFunction = std::function<void(const wxString& text, const wxString& caption)>;

  // message: defaults to a message box over the dialog.
  SettingsDialog(wxWindow* parent, const SettingsDialogValues& values,
                 MessageFunction message = {});

  // The values as the controls held them when OK was accepted; before that, as given.
  const SettingsDialogValues& Values() const { return values_; }

  // The controls, for tests.
  wxCheckBox* StartOnLoginCheck() const { return startOnLogin_; }
  wxTextCtrl* TitleCtrl() const { return title_; }
  wxTextCtrl* MessageCtrl() const { return message_; }
  wxTextCtrl* ServerCtrl() const { return server_; }
  wxTextCtrl* PortCtrl() const { return port_; }
  wxCheckBox* AuthCheck() const { return auth_; }
  wxTextCtrl* UserCtrl() const { return user_; }
  wxTextCtrl* PasswordCtrl() const { return password_; }
  wxTextCtrl* SenderCtrl() const { return sender_; }
  wxTextCtrl* SendToCtrl() const { return sendTo_; }
  wxChoice* ModeChoice() const { return mode_; }
  wxButton* OkButton() const { return ok_; }

 private:
  // OK: an invalid port is refused with a message and the dialog stays open; otherwise the
  // controls' values are taken and the dialog ends with wxID_OK.
  void OnOk(wxCommandEvent& event);
  void EnableLogin();

  SettingsDialogValues values_;
  MessageFunction showMessage_;
  wxCheckBox* startOnLogin_ = nullptr;
  wxTextCtrl* title_ = nullptr;
  wxTextCtrl* message_ = nullptr;
  wxTextCtrl* server_ = nullptr;
  wxTextCtrl* port_ = nullptr;
  wxCheckBox* auth_ = nullptr;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
  wxTextCtrl* sender_ = nullptr;
  wxTextCtrl* sendTo_ = nullptr;
  wxChoice* mode_ = nullptr;
  wxButton* ok_ = nullptr;
};

// What RunSettingsDialogWith may be given instead of the real thing, for tests.
struct SettingsDialogRun {
  std::string autostartFolder;                     // "" for AutostartFolder()
  std::string programPath;                         // "" for ProgramPath()
  std::function<bool()> save;                      // empty: Settings::Instance().Save()
  std::function<int(SettingsDialog& dialog)> run;  // empty: dialog.ShowModal()
  SettingsDialog::MessageFunction message;         // empty: message boxes
};

// The Settings command: keeps a copy of the settings, shows the dialog with the box checked
// exactly when the autostart entry exists, and on OK assigns the edits through the settings
// object's setters, writes or removes the entry, sets runApp to the box and saves the
// settings; an entry or a save that failed is reported. Any other end restores the copied
// values and touches no file.
void RunSettingsDialog(wxWindow* parent);
void RunSettingsDialogWith(wxWindow* parent, const SettingsDialogRun& run);

}  // namespace app
