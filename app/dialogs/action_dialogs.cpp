#include "app/dialogs/action_dialogs.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cctype>
#include <utility>

#include "app/modal_command.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"

namespace app {
namespace {

constexpr const char* kTitle = "Configure Action";
constexpr std::int32_t kMinPort = 1;
constexpr std::int32_t kMaxPort = 65535;
constexpr std::int64_t kMinInt32 = -2147483648LL;
constexpr std::int64_t kMaxInt32 = 2147483647LL;

}  // namespace

std::optional<std::int32_t> ParseWholeNumber(std::string_view text, std::int64_t least,
                                             std::int64_t greatest) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > kMaxInt32 + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < least || value > greatest || value < kMinInt32 || value > kMaxInt32) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// ---- the common part ----

ActionDialog::ActionDialog(wxWindow* parent, const engine::ActionSettings& settings,
                           MessageFunction message)
    : wxDialog(parent, wxID_ANY, kTitle), settings_(settings), message_(std::move(message)) {
  if (!message_) {
    message_ = [this](const wxString& text, const wxString& caption) {
      OpenModalLater(this, [this, text, caption] {
        wxMessageBox(text, caption, wxOK | wxICON_EXCLAMATION, this);
      });
    };
  }
  const int gap = FromDIP(6);
  grid_ = new wxFlexGridSizer(2, gap, gap);
  grid_->AddGrowableCol(1);
  name_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(260, -1)));
  AddRow("Display Name:", name_);
}

void ActionDialog::AddRow(const wxString& label, wxWindow* ctrl, bool grow) {
  auto* text = new wxStaticText(this, wxID_ANY, label);
  const auto* edit = dynamic_cast<wxTextCtrl*>(ctrl);
  grid_->Add(text, 0, edit && edit->IsMultiLine() ? wxALIGN_TOP | wxTOP : wxALIGN_CENTER_VERTICAL,
             FromDIP(4));
  grid_->Add(ctrl, grow ? 1 : 0, grow ? wxEXPAND : 0);
  controls::SetAccessibleName(ctrl, controls::NameFromLabel(label), text);
}

void ActionDialog::Finish() {
  const int gap = FromDIP(6);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(grid_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * gap);

  auto* line = new wxBoxSizer(wxHORIZONTAL);
  auto* before = new wxStaticText(this, wxID_ANY, "Poll");
  polls_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(60, -1)));
  auto* after = new wxStaticText(this, wxID_ANY, "times consecutively before reporting.");
  controls::SetAccessibleName(polls_, "Polls before reporting", before);
  line->Add(before, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  line->Add(polls_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
  line->Add(after, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(line, 0, wxLEFT | wxRIGHT | wxTOP, 2 * gap);

  auto* buttons = new wxStdDialogButtonSizer;
  ok_ = new wxButton(this, wxID_OK, "OK");
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
  controls::SetAccessibleName(ok_, "OK");
  controls::SetAccessibleName(cancel, "Cancel");
  buttons->AddButton(ok_);
  buttons->AddButton(cancel);
  buttons->Realize();
  ok_->SetDefault();
  sizer->Add(buttons, 0, wxEXPAND | wxALL, 2 * gap);
  SetSizerAndFit(sizer);
  SetMinSize(GetSize());

  SetText(name_, settings_.name);
  SetText(polls_, std::to_string(settings_.pollsCount));
  ok_->Bind(wxEVT_BUTTON, &ActionDialog::OnOk, this);
  name_->SetFocus();
  CentreOnParent();
}

void ActionDialog::Refuse(wxTextCtrl* field, const wxString& text) {
  message_(text, kTitle);
  field->SetFocus();
  field->SelectAll();
}

bool ActionDialog::Accept() {
  const std::optional<std::int32_t> polls = ParseWholeNumber(Text(polls_), kMinInt32, kMaxInt32);
  if (!polls) {
    Refuse(polls_, "The number of polls must be a whole number.");
    return false;
  }
  engine::ActionSettings edited = settings_;
  if (!TakeFields(edited)) return false;
  edited.name = Text(name_);
  edited.pollsCount = *polls;
  settings_ = std::move(edited);
  SetReturnCode(wxID_OK);
  if (IsModal()) {
    EndModal(wxID_OK);
  } else {
    Hide();
  }
  return true;
}

void ActionDialog::OnOk(wxCommandEvent&) { Accept(); }

// ---- e-mail and SMS ----

ActionEmailDialog::ActionEmailDialog(wxWindow* parent, const engine::ActionSettings& settings,
                                     MessageFunction message)
    : ActionDialog(parent, settings, std::move(message)) {
  server_ = new wxTextCtrl(this, wxID_ANY);
  port_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(70, -1)));
  auth_ = new wxCheckBox(this, wxID_ANY, "SMTP Server Requires Authentication.");
  controls::SetAccessibleName(auth_, "SMTP Server Requires Authentication");
  user_ = new wxTextCtrl(this, wxID_ANY);
  password_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
  sender_ = new wxTextCtrl(this, wxID_ANY);
  sendTo_ = new wxTextCtrl(this, wxID_ANY);
  AddRow("SMTP Server:", server_);
  AddRow("SMTP Server Port:", port_, false);
  Grid()->AddSpacer(0);
  Grid()->Add(auth_);
  AddRow("User Name:", user_);
  AddRow("Password:", password_);
  AddRow("Sender Address:", sender_);
  AddRow("Send To:", sendTo_);

  const engine::ActionSettings& s = Settings();
  SetText(server_, s.server);
  SetText(port_, std::to_string(s.port));
  auth_->SetValue(s.auth);
  SetText(user_, s.userName);
  SetText(password_, s.password);
  SetText(sender_, s.fromAddress);
  SetText(sendTo_, s.toAddress);
  EnableLogin();
  auth_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { EnableLogin(); });
  Finish();
}

void ActionEmailDialog::EnableLogin() {
  user_->Enable(auth_->GetValue());
  password_->Enable(auth_->GetValue());
}

bool ActionEmailDialog::TakeFields(engine::ActionSettings& out) {
  const std::optional<std::int32_t> port = ParseWholeNumber(Text(port_), kMinPort, kMaxPort);
  if (!port) {
    Refuse(port_, "The SMTP server port must be a whole number from 1 to 65535.");
    return false;
  }
  out.server = Text(server_);
  out.port = *port;
  out.auth = auth_->GetValue();
  out.userName = Text(user_);
  out.password = Text(password_);
  out.fromAddress = Text(sender_);
  out.toAddress = Text(sendTo_);
  return true;
}

// ---- SQL ----

ActionSqlDialog::ActionSqlDialog(wxWindow* parent, const engine::ActionSettings& settings,
                                 MessageFunction message)
    : ActionDialog(parent, settings, std::move(message)) {
  dataSource_ = new wxTextCtrl(this, wxID_ANY);
  user_ = new wxTextCtrl(this, wxID_ANY);
  password_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
  query_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(-1, 90)),
                          wxTE_MULTILINE);
  AddRow("ODBC Datasource Name:", dataSource_);
  AddRow("User Name:", user_);
  AddRow("Password:", password_);
  AddRow("SQL Query:", query_);
  Grid()->AddGrowableRow(4);

  const engine::ActionSettings& s = Settings();
  SetText(dataSource_, s.datasourceName);
  SetText(user_, s.userName);
  SetText(password_, s.password);
  SetText(query_, s.sqlQuery);
  Finish();
}

bool ActionSqlDialog::TakeFields(engine::ActionSettings& out) {
  out.datasourceName = Text(dataSource_);
  out.userName = Text(user_);
  out.password = Text(password_);
  out.sqlQuery = Text(query_);
  return true;
}

// ---- program ----

ActionProgramDialog::ActionProgramDialog(wxWindow* parent, const engine::ActionSettings& settings,
                                         MessageFunction message, ChooseFile choose)
    : ActionDialog(parent, settings, std::move(message)), choose_(std::move(choose)) {
  if (!choose_) {
    choose_ = [](wxWindow* owner) -> std::optional<wxString> {
      wxFileDialog dialog(owner, "Open", "", "", wxFileSelectorDefaultWildcardStr, wxFD_OPEN);
      if (dialog.ShowModal() != wxID_OK) return std::nullopt;
      return dialog.GetPath();
    };
  }
  auto* line = new wxBoxSizer(wxHORIZONTAL);
  path_ = new wxTextCtrl(this, wxID_ANY);
  browse_ = new wxButton(this, wxID_ANY, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  controls::SetAccessibleName(browse_, "Browse");
  line->Add(path_, 1, wxALIGN_CENTER_VERTICAL);
  line->Add(browse_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, FromDIP(4));
  auto* label = new wxStaticText(this, wxID_ANY, "Program Path:");
  Grid()->Add(label, 0, wxALIGN_CENTER_VERTICAL);
  Grid()->Add(line, 1, wxEXPAND);
  controls::SetAccessibleName(path_, "Program Path", label);

  SetText(path_, Settings().path);
  browse_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    OpenModalLater(this, [this] {
      if (const std::optional<wxString> chosen = choose_(this)) path_->ChangeValue(*chosen);
    });
  });
  Finish();
}

bool ActionProgramDialog::TakeFields(engine::ActionSettings& out) {
  out.path = Text(path_);
  return true;
}

// ---- user interface ----

ActionUiDialog::ActionUiDialog(wxWindow* parent, const engine::ActionSettings& settings,
                               MessageFunction message)
    : ActionDialog(parent, settings, std::move(message)) {
  wxArrayString names;
  for (const char* name : kUiTypeNames) names.Add(name);
  kind_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, names);
  AddRow("Action:", kind_);

  const std::int32_t type = Settings().uiType;
  if (type >= 0 && type < static_cast<std::int32_t>(names.size())) kind_->SetSelection(type);
  Finish();
}

bool ActionUiDialog::TakeFields(engine::ActionSettings& out) {
  if (kind_->GetSelection() != wxNOT_FOUND) out.uiType = kind_->GetSelection();
  return true;
}

std::unique_ptr<ActionDialog> MakeActionDialog(wxWindow* parent,
                                               const engine::ActionSettings& settings,
                                               ActionDialog::MessageFunction message) {
  switch (settings.type) {
    case 0:
    case 1:
      return std::make_unique<ActionEmailDialog>(parent, settings, std::move(message));
    case 2:
      return std::make_unique<ActionSqlDialog>(parent, settings, std::move(message));
    case 3:
      return std::make_unique<ActionProgramDialog>(parent, settings, std::move(message));
    case 4:
      return std::make_unique<ActionUiDialog>(parent, settings, std::move(message));
    default:
      return nullptr;
  }
}

}  // namespace app
