#include "app/views/settings_view.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

#include <utility>

#include "app/dialogs/test_connection_dialog.h"
#include "app/modal_command.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"
#include "engine/data/log_writer.h"
#include "engine/store/window_store.h"
#include "platform/odbc.h"

namespace app {

namespace {

constexpr const char* kIntervalMessage =
    "The polling interval must be a whole number of minutes from %d to %d.";

}  // namespace

std::string IntervalNotChangedText(const std::string& typed) {
  return "The polling interval was not changed: \"" + typed +
         "\" is not a whole number of minutes from " + std::to_string(kMinPollingInterval) +
         " to " + std::to_string(kMaxPollingInterval) + ".";
}

ODBCSettingsView::ODBCSettingsView(wxWindow* parent, SnapshotSource snapshots,
                                   engine::IWindowStore& storage, MessageFunction message,
                                   platform::IOdbc* odbc)
    : BaseView(parent, std::move(snapshots), wxDefaultSize, true, false),
      storage_(storage),
      message_(std::move(message)),
      odbc_(odbc) {
  if (!message_) {
    message_ = [this](const wxString& text, const wxString& caption) {
      OpenModalLater(this, [this, text, caption] {
        wxMessageBox(text, caption, wxOK | wxICON_EXCLAMATION, this);
      });
    };
  }
  const int gap = FromDIP(6);
  auto* columns = new wxBoxSizer(wxHORIZONTAL);
  auto* fields = new wxBoxSizer(wxVERTICAL);

  // Adds a labelled control to a two-column grid.
  const auto row = [this](wxWindow* box, wxFlexGridSizer* grid, const wxString& label,
                          wxWindow* ctrl, const wxString& unit = "") {
    auto* text = new wxStaticText(box, wxID_ANY, label);
    grid->Add(text, 0, wxALIGN_CENTER_VERTICAL);
    if (unit.empty()) {
      grid->Add(ctrl, 1, wxEXPAND);
    } else {
      auto* line = new wxBoxSizer(wxHORIZONTAL);
      line->Add(ctrl, 0, wxALIGN_CENTER_VERTICAL);
      line->Add(new wxStaticText(box, wxID_ANY, unit), 0, wxALIGN_CENTER_VERTICAL | wxLEFT,
                FromDIP(4));
      grid->Add(line, 1, wxEXPAND);
    }
    controls::SetAccessibleName(ctrl, controls::NameFromLabel(label), text);
  };
  const wxTextValidator digits(wxFILTER_DIGITS);
  const wxSize numberSize = FromDIP(wxSize(70, -1));

  auto* general = new wxStaticBoxSizer(wxVERTICAL, this, "General");
  wxStaticBox* generalBox = general->GetStaticBox();
  auto* generalGrid = new wxFlexGridSizer(2, gap, gap);
  generalGrid->AddGrowableCol(1);
  name_ = new wxTextCtrl(generalBox, wxID_ANY);
  dataSource_ = new wxTextCtrl(generalBox, wxID_ANY);
  user_ = new wxTextCtrl(generalBox, wxID_ANY);
  password_ =
      new wxTextCtrl(generalBox, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
  interval_ = new wxTextCtrl(generalBox, wxID_ANY, "", wxDefaultPosition, numberSize, 0, digits);
  row(generalBox, generalGrid, "Display Name:", name_);
  row(generalBox, generalGrid, "Data Source Name:", dataSource_);
  row(generalBox, generalGrid, "User name:", user_);
  row(generalBox, generalGrid, "Password:", password_);
  row(generalBox, generalGrid, "Polling Interval:", interval_, "minute(s).");
  general->Add(generalGrid, 0, wxEXPAND | wxALL, gap);
  fields->Add(general, 0, wxEXPAND | wxBOTTOM, gap);

  auto* advanced = new wxStaticBoxSizer(wxVERTICAL, this, "Advanced Settings");
  wxStaticBox* advancedBox = advanced->GetStaticBox();
  auto* advancedGrid = new wxFlexGridSizer(2, gap, gap);
  advancedGrid->AddGrowableCol(1);
  useConnectionString_ = new wxCheckBox(advancedBox, wxID_ANY, "Connection &String:");
  controls::SetAccessibleName(useConnectionString_, "Connection String");
  connectionString_ = new wxTextCtrl(advancedBox, wxID_ANY);
  controls::SetAccessibleName(connectionString_, "Connection string text");
  advancedGrid->Add(useConnectionString_, 0, wxALIGN_CENTER_VERTICAL);
  advancedGrid->Add(connectionString_, 1, wxEXPAND);
  customTimeouts_ = new wxCheckBox(advancedBox, wxID_ANY, "Custom &Timeouts:");
  controls::SetAccessibleName(customTimeouts_, "Custom Timeouts");
  advancedGrid->Add(customTimeouts_, 0, wxALIGN_CENTER_VERTICAL);
  advancedGrid->AddSpacer(0);
  loginTimeout_ =
      new wxTextCtrl(advancedBox, wxID_ANY, "", wxDefaultPosition, numberSize, 0, digits);
  queryTimeout_ =
      new wxTextCtrl(advancedBox, wxID_ANY, "", wxDefaultPosition, numberSize, 0, digits);
  row(advancedBox, advancedGrid, "Login Timeout:", loginTimeout_, "Sec.");
  row(advancedBox, advancedGrid, "Query Timeout:", queryTimeout_, "Sec.");
  advanced->Add(advancedGrid, 0, wxEXPAND | wxALL, gap);
  fields->Add(advanced, 0, wxEXPAND);

  auto* buttons = new wxBoxSizer(wxVERTICAL);
  test_ = new wxButton(this, wxID_ANY, "T&est Connection...");
  update_ = new wxButton(this, wxID_ANY, "&Update");
  cancel_ = new wxButton(this, wxID_ANY, "&Cancel");
  for (wxButton* button : {test_, update_, cancel_}) {
    controls::SetAccessibleName(button, controls::NameFromLabel(button->GetLabel()));
    buttons->Add(button, 0, wxEXPAND | wxBOTTOM, gap);
  }

  columns->Add(fields, 1, wxEXPAND | wxALL, gap);
  columns->Add(buttons, 0, wxTOP | wxRIGHT, gap);
  Body()->Add(columns, 0, wxEXPAND);

  useConnectionString_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { EnableFields(); });
  customTimeouts_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { EnableFields(); });
  update_->Bind(wxEVT_BUTTON, &ODBCSettingsView::OnUpdate, this);
  cancel_->Bind(wxEVT_BUTTON, &ODBCSettingsView::OnCancel, this);
  test_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    OpenModalLater(this, [this] {
      wxCommandEvent event(wxEVT_BUTTON, test_->GetId());
      OnTest(event);
    });
  });
  EnableFields();
  SetSizeLimits(true, false);
}

engine::MonitorSettings ODBCSettingsView::FieldSettings() const {
  engine::MonitorSettings settings;
  settings.name = Text(name_);
  settings.address = Text(dataSource_);
  settings.username = Text(user_);
  settings.password = Text(password_);
  settings.pollingInterval = ParsePollingInterval(Text(interval_)).value_or(0);
  settings.customConnectionString = useConnectionString_->GetValue();
  settings.connectionString = Text(connectionString_);
  settings.customTimeouts = customTimeouts_->GetValue();
  // An untouched field keeps the monitor's value, which may be the engine's -1 (the
  // default time-outs) that the parsing would turn into 0 (none).
  const auto timeout = [](const wxTextCtrl* ctrl, std::int32_t loaded) {
    const std::string text = Text(ctrl);
    return text == std::to_string(loaded) ? loaded : ParseTimeout(text);
  };
  settings.loginTimeout = timeout(loginTimeout_, loaded_.loginTimeout);
  settings.queryTimeout = timeout(queryTimeout_, loaded_.queryTimeout);
  return settings;
}

bool ODBCSettingsView::UpdateView(bool save, int hint) {
  if (save) {
    // A monitor deleted meanwhile leaves nothing to save, and nothing to refuse.
    const std::optional<engine::MonitorSnapshot> stored =
        loadedId_.empty() ? std::nullopt : storage_.GetMonitorSnapshot(loadedId_);
    if (!stored) return BaseView::UpdateView(save, hint);
    engine::MonitorSettings settings = FieldSettings();
    if (!ParsePollingInterval(Text(interval_))) {
      if (hint != kSaveClosing) {
        message_(wxString::Format(kIntervalMessage, kMinPollingInterval, kMaxPollingInterval),
                 "Monitor Settings");
        interval_->SetFocus();
        return false;
      }
      settings.pollingInterval = stored->settings.pollingInterval;
      engine::WriteLogRow(loadedId_, 0, IntervalNotChangedText(Text(interval_)));
    }
    // The store reports a file it cannot write itself.
    storage_.ApplyMonitorSettings(loadedId_, settings);
    if (saved_) saved_(loadedId_);
    return BaseView::UpdateView(save, hint);
  }
  // A notification about the loaded monitor leaves the fields as the user has them.
  if (hint != kRefreshNotify || MonitorId() != loadedId_) {
    if (const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor()) {
      LoadFields(*monitor);
    }
  }
  return BaseView::UpdateView(save, hint);
}

void ODBCSettingsView::LoadFields(const engine::MonitorSnapshot& monitor) {
  loadedId_ = MonitorId();
  loaded_ = monitor.settings;
  const engine::MonitorSettings& s = monitor.settings;
  SetText(name_, s.name);
  SetText(dataSource_, s.address);
  SetText(user_, s.username);
  SetText(password_, s.password);
  SetText(interval_, std::to_string(s.pollingInterval));
  useConnectionString_->SetValue(s.customConnectionString);
  SetText(connectionString_, s.connectionString);
  customTimeouts_->SetValue(s.customTimeouts);
  SetText(loginTimeout_, std::to_string(s.loginTimeout));
  SetText(queryTimeout_, std::to_string(s.queryTimeout));
  EnableFields();
}

void ODBCSettingsView::EnableFields() {
  const bool custom = useConnectionString_->GetValue();
  connectionString_->Enable(custom);
  user_->Enable(!custom);
  password_->Enable(!custom);
  const bool timeouts = customTimeouts_->GetValue();
  loginTimeout_->Enable(timeouts);
  queryTimeout_->Enable(timeouts);
}

void ODBCSettingsView::OnUpdate(wxCommandEvent&) {
  if (UpdateView(true, kRefreshShow)) UpdateView(false, kRefreshShow);
}

void ODBCSettingsView::OnCancel(wxCommandEvent&) { UpdateView(false, kRefreshShow); }

void ODBCSettingsView::OnTest(wxCommandEvent&) {
  TestConnectionDialog dialog(this, MakeConnectionTestInput(FieldSettings(), true),
                              odbc_ != nullptr ? *odbc_ : platform::SystemOdbc());
  dialog.ShowModal();
}

}  // namespace app
