#include "app/dialogs/settings_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "app/autostart.h"
#include "app/dialogs/action_dialogs.h"
#include "app/dialogs/test_connection_dialog.h"
#include "app/modal_command.h"
#include "app/settings/settings.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"

namespace app {
namespace {

constexpr const char* kCaption = "Settings";
// The least width of an e-mail field, in the layout font.
constexpr int kMailFieldWidth = 150;

}  // namespace

int ReportModeSelection(int mode) { return mode >= 0 && mode <= 3 ? mode : 0; }

std::string WithCrlfLineEnds(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      result += "\r\n";
    } else if (text[i] == '\n') {
      result += "\r\n";
    } else {
      result += text[i];
    }
  }
  return result;
}

SettingsDialog::SettingsDialog(wxWindow* parent, const SettingsDialogValues& values,
                               MessageFunction message)
    : wxDialog(parent, wxID_ANY, kCaption), values_(values), showMessage_(std::move(message)) {
  if (!showMessage_) {
    showMessage_ = [this](const wxString& text, const wxString& caption) {
      OpenModalLater(this, [this, text, caption] {
        wxMessageBox(text, caption, wxOK | wxICON_EXCLAMATION, this);
      });
    };
  }
  const int gap = FromDIP(6);
  // Adds a labelled control to a two-column grid.
  const auto row = [](wxWindow* box, wxFlexGridSizer* grid, const wxString& label, wxWindow* ctrl,
                      int flags = wxEXPAND) {
    auto* text = new wxStaticText(box, wxID_ANY, label);
    // A multi-line field's label stays beside its first line.
    const bool tall = ctrl->HasFlag(wxTE_MULTILINE);
    grid->Add(text, 0, tall ? int{wxTOP} : int{wxALIGN_CENTER_VERTICAL},
              tall ? ctrl->FromDIP(4) : 0);
    grid->Add(ctrl, 1, flags);
    controls::SetAccessibleName(ctrl, controls::NameFromLabel(label), text);
  };
  const auto named = [](wxWindow* ctrl) {
    controls::SetAccessibleName(ctrl, controls::NameFromLabel(ctrl->GetLabel()));
  };
  auto* sizer = new wxBoxSizer(wxVERTICAL);

  auto* general = new wxStaticBoxSizer(wxVERTICAL, this, "General");
  startOnLogin_ = new wxCheckBox(general->GetStaticBox(), wxID_ANY, "Open Lumivar on startup.");
  named(startOnLogin_);
  general->Add(startOnLogin_, 0, wxALL, gap);
  sizer->Add(general, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * gap);

  auto* alert = new wxStaticBoxSizer(wxVERTICAL, this, "Alert Message Template");
  wxStaticBox* alertBox = alert->GetStaticBox();
  auto* alertGrid = new wxFlexGridSizer(2, gap, gap);
  alertGrid->AddGrowableCol(1);
  title_ = new wxTextCtrl(alertBox, wxID_ANY);
  message_ = new wxTextCtrl(alertBox, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(-1, 110)),
                            wxTE_MULTILINE);
  row(alertBox, alertGrid, "Title:", title_);
  row(alertBox, alertGrid, "Message:", message_);
  alert->Add(alertGrid, 0, wxEXPAND | wxALL, gap);
  alert->Add(
      new wxStaticText(alertBox, wxID_ANY, "In the alert template you can use these variables:"), 0,
      wxLEFT | wxRIGHT, gap);
  auto* variables = new wxBoxSizer(wxHORIZONTAL);
  variables->Add(new wxStaticText(alertBox, wxID_ANY,
                                  "%ALERT_TIME% - time and date of alert operation\n"
                                  "%MONITOR_NAME% - Monitor display name\n"
                                  "%SERVER_NAME% - Monitor server name\n"
                                  "%ATTRIBUTE_NAME% - Attribute name\n"),
                 1, wxRIGHT, 2 * gap);
  variables->Add(new wxStaticText(alertBox, wxID_ANY,
                                  "%ATTRIBUTE_TYPE% - Attribute type (ERROR/CLEAR)\n"
                                  "%ATTRIBUTE_VALUE% - Attribute value \n"
                                  "%ERROR_DESCRIPTION% - Error text description\n"
                                  "%ERROR_NUMBER% - Error number"),
                 1);
  alert->Add(variables, 0, wxEXPAND | wxALL, gap);
  sizer->Add(alert, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * gap);

  auto* mail = new wxStaticBoxSizer(wxVERTICAL, this, "E-Mail Reports");
  wxStaticBox* mailBox = mail->GetStaticBox();
  // Two labelled fields a line, so that the dialog fits a small screen.
  auto* mailGrid = new wxFlexGridSizer(4, gap, 2 * gap);
  mailGrid->AddGrowableCol(1);
  mailGrid->AddGrowableCol(3);
  server_ = new wxTextCtrl(mailBox, wxID_ANY);
  port_ = new wxTextCtrl(mailBox, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(70, -1)), 0,
                         wxTextValidator(wxFILTER_DIGITS));
  auth_ = new wxCheckBox(mailBox, wxID_ANY, "SMTP Server Requires Authentication.");
  named(auth_);
  user_ = new wxTextCtrl(mailBox, wxID_ANY);
  password_ =
      new wxTextCtrl(mailBox, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
  sender_ = new wxTextCtrl(mailBox, wxID_ANY);
  sendTo_ = new wxTextCtrl(mailBox, wxID_ANY);
  // The fields of both columns start equally wide and share the width the dialog has.
  for (wxTextCtrl* field : {server_, user_, password_, sender_, sendTo_})
    field->SetMinSize(wxSize(controls::FontScaled(kMailFieldWidth), -1));
  const wxString modes[] = {"Never", "Daily", "Weekly", "Monthly"};
  mode_ = new wxChoice(mailBox, wxID_ANY, wxDefaultPosition, wxDefaultSize, 4, modes);
  row(mailBox, mailGrid, "SMTP Server:", server_);
  row(mailBox, mailGrid, "SMTP Server Port:", port_, 0);
  mailGrid->AddSpacer(0);
  mailGrid->Add(auth_);
  mailGrid->AddSpacer(0);
  mailGrid->AddSpacer(0);
  row(mailBox, mailGrid, "User Name:", user_);
  row(mailBox, mailGrid, "Password:", password_);
  row(mailBox, mailGrid, "Sender Address:", sender_);
  row(mailBox, mailGrid, "Send To:", sendTo_);
  row(mailBox, mailGrid, "Send E-Mail Reports:", mode_, 0);
  mail->Add(mailGrid, 0, wxEXPAND | wxALL, gap);
  sizer->Add(mail, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * gap);

  auto* buttons = new wxStdDialogButtonSizer;
  ok_ = new wxButton(this, wxID_OK, "OK");
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
  named(ok_);
  named(cancel);
  buttons->AddButton(ok_);
  buttons->AddButton(cancel);
  buttons->Realize();
  ok_->SetDefault();
  sizer->Add(buttons, 0, wxEXPAND | wxALL, 2 * gap);
  SetSizerAndFit(sizer);
  SetMinSize(GetSize());

  startOnLogin_->SetValue(values_.startOnLogin);
  title_->ChangeValue(Wx(values_.alertTemplate.title));
  message_->ChangeValue(LogForDisplay(values_.alertTemplate.message));
  const engine::MailSettings& m = values_.mail;
  server_->ChangeValue(Wx(m.server));
  port_->ChangeValue(std::to_string(m.port));
  auth_->SetValue(m.auth != 0);
  user_->ChangeValue(Wx(m.userName));
  password_->ChangeValue(Wx(m.password));
  sender_->ChangeValue(Wx(m.fromAddress));
  sendTo_->ChangeValue(Wx(m.toAddress));
  mode_->SetSelection(ReportModeSelection(m.mode));
  EnableLogin();

  auth_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { EnableLogin(); });
  ok_->Bind(wxEVT_BUTTON, &SettingsDialog::OnOk, this);
  CentreOnParent();
}

void SettingsDialog::EnableLogin() {
  user_->Enable(auth_->GetValue());
  password_->Enable(auth_->GetValue());
}

void SettingsDialog::OnOk(wxCommandEvent&) {
  const std::optional<std::int32_t> port = ParseWholeNumber(Text(port_), 1, 65535);
  if (!port) {
    showMessage_("The SMTP server port must be a whole number from 1 to 65535.", kCaption);
    port_->SetFocus();
    port_->SelectAll();
    return;
  }
  values_.startOnLogin = startOnLogin_->GetValue();
  values_.alertTemplate.title = Text(title_);
  values_.alertTemplate.message = WithCrlfLineEnds(Text(message_));
  engine::MailSettings& m = values_.mail;
  m.server = Text(server_);
  m.port = *port;
  m.auth = auth_->GetValue() ? 1 : 0;
  m.userName = Text(user_);
  m.password = Text(password_);
  m.fromAddress = Text(sender_);
  m.toAddress = Text(sendTo_);
  m.mode = ReportModeSelection(mode_->GetSelection());
  SetReturnCode(wxID_OK);
  if (IsModal()) {
    EndModal(wxID_OK);
  } else {
    Hide();
  }
}

void RunSettingsDialog(wxWindow* parent) { RunSettingsDialogWith(parent, {}); }

void RunSettingsDialogWith(wxWindow* parent, const SettingsDialogRun& run) {
  Settings& settings = Settings::Instance();
  const SettingsValues copy = settings.Get();
  const AutostartEntry entry(run.autostartFolder.empty() ? AutostartFolder() : run.autostartFolder);
  SettingsDialog dialog(parent, {entry.Exists(), copy.alertTemplate, copy.mail}, run.message);
  const int result = run.run ? run.run(dialog) : dialog.ShowModal();
  if (result != wxID_OK) {
    settings.SetAlertTemplate(copy.alertTemplate);
    settings.SetMail(copy.mail);
    settings.SetRunApp(copy.runApp);
    return;
  }
  const SettingsDialogValues& edited = dialog.Values();
  settings.SetAlertTemplate(edited.alertTemplate);
  settings.SetMail(edited.mail);
  settings.SetRunApp(edited.startOnLogin ? 1 : 0);
  const bool entryDone =
      edited.startOnLogin ? entry.Write(run.programPath.empty() ? ProgramPath() : run.programPath)
                          : entry.Remove();
  const bool saved = run.save ? run.save() : settings.Save();
  const auto tell = [&](const wxString& text) {
    if (run.message) {
      run.message(text, kCaption);
    } else {
      wxMessageBox(text, kCaption, wxOK | wxICON_EXCLAMATION, parent);
    }
  };
  if (!entryDone) {
    tell(wxString::Format(edited.startOnLogin ? "The start-up entry could not be written:\n%s"
                                              : "The start-up entry could not be removed:\n%s",
                          Wx(entry.Path().empty() ? "(no configuration folder)" : entry.Path())));
  }
  if (!saved) tell("The settings could not be saved.");
}

}  // namespace app
