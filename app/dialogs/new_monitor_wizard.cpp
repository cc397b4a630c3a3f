#include "app/dialogs/new_monitor_wizard.h"

#include <gtk/gtk.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/checklst.h>
#include <wx/combobox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

#include <set>
#include <utility>

#include "app/dialogs/test_connection_dialog.h"
#include "app/modal_command.h"
#include "app/wx_text.h"
#include "controls/accessible_name.h"

namespace app {
namespace {

enum class RowAction { kMessageBox, kBalloon };

struct AlertRow {
  const char* text;
  bool NewMonitorData::*flag;
  RowAction action;
};

constexpr AlertRow kAlertRows[kWizardAlertRows] = {
    {"Monitor Availability Error (Message Box)", &NewMonitorData::availabilityError,
     RowAction::kMessageBox},
    {"Monitor Availability Clear (Popup Balloon)", &NewMonitorData::availabilityClear,
     RowAction::kBalloon},
    {"Monitor Health Error (Message Box)", &NewMonitorData::healthError, RowAction::kMessageBox},
    {"Monitor Health Clear (Popup Balloon)", &NewMonitorData::healthClear, RowAction::kBalloon},
    {"Monitor Connection Time Error (Popup Balloon)", &NewMonitorData::connectionTimeError,
     RowAction::kBalloon},
    {"Monitor Connection Time Clear (Popup Balloon)", &NewMonitorData::connectionTimeClear,
     RowAction::kBalloon},
};

constexpr const char* kMessageBoxActionText = "Message Box Action";
constexpr const char* kBalloonActionText = "Popup Balloon Action";
constexpr const char* kPasswordMask = "********";

const char* const kPageTitles[] = {
    "New Monitor Wizard - Connection Settings",
    "New Monitor Wizard - Actions",
    "New Monitor Wizard - Alerts",
    "New Monitor Wizard - Finish",
};

// A page whose check, loading and saving the wizard supplies. The wizard calls Validate
// and TransferDataFromWindow when the user leaves the page by Back, Next or Finish, and
// TransferDataToWindow each time the page is shown.
class HookedPage : public wxWizardPageSimple {
 public:
  explicit HookedPage(wxWizard* parent) : wxWizardPageSimple(parent) {}

  std::function<bool()> validate;
  std::function<void()> load, save;

  bool Validate() override { return validate ? validate() : true; }
  bool TransferDataToWindow() override {
    if (load) load();
    return true;
  }
  bool TransferDataFromWindow() override {
    if (save) save();
    return true;
  }
};

}  // namespace

const char* WizardAlertRowText(int row) { return kAlertRows[row].text; }

bool& WizardAlertRowFlag(NewMonitorData& data, int row) { return data.*kAlertRows[row].flag; }

bool WizardAlertRowAllowed(const NewMonitorData& data, int row) {
  return kAlertRows[row].action == RowAction::kMessageBox ? data.messageBoxAction
                                                          : data.balloonAction;
}

void ClearBlockedWizardAlerts(NewMonitorData& data) {
  for (int row = 0; row < kWizardAlertRows; ++row) {
    if (!WizardAlertRowAllowed(data, row)) WizardAlertRowFlag(data, row) = false;
  }
}

std::string NewMonitorSummary(const NewMonitorData& data) {
  std::string text = "Monitor will be created with settings:\n\n";
  text += "Name: " + data.name + "\n";
  text += "ODBC Datasource: " + data.dataSource + "\n";
  if (!data.userName.empty()) {
    text += "Username: " + data.userName + "\n";
    // Always the same mask, so that the summary tells nothing about the password.
    text += "Password: ";
    text += kPasswordMask;
    text += "\n";
  }
  text += "Polling Interval: " + std::to_string(data.pollingInterval) + " minutes\n\n";
  if (data.messageBoxAction || data.balloonAction) {
    text += "Actions:\n";
    if (data.messageBoxAction) text += std::string("- ") + kMessageBoxActionText + "\n";
    if (data.balloonAction) text += std::string("- ") + kBalloonActionText + "\n";
    text += "\n";
  }
  std::string alerts;
  for (const AlertRow& row : kAlertRows) {
    if (data.*row.flag) alerts += std::string("- ") + row.text + "\n";
  }
  if (!alerts.empty()) text += "Alerts:\n" + alerts + "\n";
  return text;
}

std::vector<std::string> DataSourceNames(const std::vector<platform::OdbcDataSource>& sources) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const platform::OdbcDataSource& source : sources) {
    if (seen.insert(source.name).second) names.push_back(source.name);
  }
  return names;
}

NewMonitorWizard::NewMonitorWizard(wxWindow* parent, const NewMonitorData& data,
                                   NewMonitorWizardHooks hooks)
    : wxWizard(parent, wxID_ANY, kPageTitles[kConnectionPage]),
      data_(data),
      hooks_(std::move(hooks)) {
  if (!hooks_.listDataSources) {
    hooks_.listDataSources = [] {
      std::vector<platform::OdbcDataSource> sources;
      platform::SystemOdbc().ListDataSources(&sources);  // empty when it fails
      return DataSourceNames(sources);
    };
  }
  if (!hooks_.testConnection) {
    hooks_.testConnection = [](wxWindow* parent, const ConnectionTestInput& input) {
      OpenModalLater(parent, [parent, input] {
        TestConnectionDialog dialog(parent, input);
        dialog.ShowModal();
      });
    };
  }
  if (!hooks_.message) {
    hooks_.message = [this](const wxString& text, const wxString& caption) {
      OpenModalLater(this, [this, text, caption] {
        wxMessageBox(text, caption, wxOK | wxICON_EXCLAMATION, this);
      });
    };
  }

  for (auto& page : pages_) page = new HookedPage(this);
  BuildConnectionPage(pages_[kConnectionPage]);
  BuildActionsPage(pages_[kActionsPage]);
  BuildAlertsPage(pages_[kAlertsPage]);
  BuildFinishPage(pages_[kFinishPage]);
  pages_[kConnectionPage]
      ->Chain(pages_[kActionsPage])
      .Chain(pages_[kAlertsPage])
      .Chain(pages_[kFinishPage]);
  for (wxWizardPageSimple* page : pages_) GetPageAreaSizer()->Add(page);

  Bind(wxEVT_WIZARD_PAGE_CHANGED, [this](wxWizardEvent& event) {
    const int page = CurrentPage();
    if (page >= 0) SetTitle(kPageTitles[page]);
    event.Skip();
  });
  // Laying out its first page puts the wizard in the screen's middle; it opens centred on
  // the window it belongs to instead.
  Bind(wxEVT_SHOW, [this, placed = false](wxShowEvent& event) mutable {
    if (event.IsShown() && !placed && GetParent() != nullptr) CentreOnParent();
    placed = placed || event.IsShown();
    event.Skip();
  });
}

int NewMonitorWizard::CurrentPage() const {
  for (int i = 0; i < static_cast<int>(pages_.size()); ++i) {
    if (GetCurrentPage() == pages_[i]) return i;
  }
  return -1;
}

bool NewMonitorWizard::Run() { return RunWizard(pages_[kConnectionPage]); }

void NewMonitorWizard::BuildConnectionPage(wxWizardPageSimple* wizardPage) {
  auto* page = static_cast<HookedPage*>(wizardPage);
  const int gap = FromDIP(6);
  auto* grid = new wxFlexGridSizer(2, gap, gap);
  grid->AddGrowableCol(1);
  const auto row = [&](const wxString& label, wxWindow* ctrl, wxSizer* line = nullptr) {
    auto* text = new wxStaticText(page, wxID_ANY, label);
    grid->Add(text, 0, wxALIGN_CENTER_VERTICAL);
    if (line != nullptr) {
      grid->Add(line, 1, wxEXPAND);
    } else {
      grid->Add(ctrl, 1, wxEXPAND);
    }
    controls::SetAccessibleName(ctrl, controls::NameFromLabel(label), text);
  };

  name_ = new wxTextCtrl(page, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(260, -1)));
  // A fixed width: GTK would widen the box, and the wizard, to its longest name.
  dataSource_ = new wxComboBox(page, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(260, -1)), 0,
                               nullptr, wxCB_DROPDOWN);
  for (const std::string& name : hooks_.listDataSources()) {
    dataSource_->Append(Wx(name));
  }
  dataSource_->SetHint("<Select ODBC Datasource>");
  user_ = new wxTextCtrl(page, wxID_ANY);
  password_ = new wxTextCtrl(page, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
  // Digits only as typed; the page's check refuses what gets in otherwise.
  interval_ = new wxTextCtrl(page, wxID_ANY, "", wxDefaultPosition, FromDIP(wxSize(80, -1)), 0,
                             wxTextValidator(wxFILTER_DIGITS));
  auto* intervalLine = new wxBoxSizer(wxHORIZONTAL);
  intervalLine->Add(interval_, 0, wxALIGN_CENTER_VERTICAL);
  intervalLine->Add(new wxStaticText(page, wxID_ANY, "minute(s)."), 0,
                    wxALIGN_CENTER_VERTICAL | wxLEFT, FromDIP(4));
  row("&Monitor Name:", name_);
  row("ODBC &Datasource:", dataSource_);
  // The box's entry takes the focus, so a screen reader reads its name: the box's.
  GtkWidget* box = dataSource_->GetHandle();
  if (GtkWidget* entry = gtk_bin_get_child(GTK_BIN(box))) {
    atk_object_set_name(gtk_widget_get_accessible(entry),
                        atk_object_get_name(gtk_widget_get_accessible(box)));
  }
  row("&Username:", user_);
  row("&Password:", password_);
  row("Polling &Interval:", interval_, intervalLine);

  test_ = new wxButton(page, wxID_ANY, "T&est Connection...");
  controls::SetAccessibleName(test_, controls::NameFromLabel(test_->GetLabel()));
  test_->Bind(wxEVT_BUTTON, &NewMonitorWizard::OnTest, this);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(grid, 0, wxEXPAND | wxBOTTOM, 2 * gap);
  sizer->Add(test_, 0, wxALIGN_RIGHT);
  page->SetSizer(sizer);

  page->validate = [this] { return ValidateConnection(); };
  page->load = [this] {
    SetText(name_, data_.name);
    SetText(dataSource_, data_.dataSource);
    SetText(user_, data_.userName);
    SetText(password_, data_.password);
    interval_->ChangeValue(std::to_string(data_.pollingInterval));
  };
  page->save = [this] { SaveConnection(); };
  page->load();
}

void NewMonitorWizard::BuildActionsPage(wxWizardPageSimple* wizardPage) {
  auto* page = static_cast<HookedPage*>(wizardPage);
  auto* label = new wxStaticText(page, wxID_ANY, "&Actions:");
  const wxString rows[] = {kMessageBoxActionText, kBalloonActionText};
  actions_ =
      new wxCheckListBox(page, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(-1, 120)), 2, rows);
  controls::SetAccessibleName(actions_, "Actions", label);
  controls::NameCheckBoxCells(actions_);
  actions_->Check(0, data_.messageBoxAction);
  actions_->Check(1, data_.balloonAction);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(label, 0, wxBOTTOM, FromDIP(4));
  sizer->Add(actions_, 1, wxEXPAND);
  page->SetSizer(sizer);
  page->save = [this] {
    data_.messageBoxAction = actions_->IsChecked(0);
    data_.balloonAction = actions_->IsChecked(1);
  };
}

void NewMonitorWizard::BuildAlertsPage(wxWizardPageSimple* wizardPage) {
  auto* page = static_cast<HookedPage*>(wizardPage);
  auto* label = new wxStaticText(page, wxID_ANY, "A&lerts:");
  wxArrayString rows;
  for (const AlertRow& row : kAlertRows) rows.Add(row.text);
  alerts_ = new wxCheckListBox(page, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(-1, 180)), rows);
  controls::SetAccessibleName(alerts_, "Alerts", label);
  controls::NameCheckBoxCells(alerts_);
  for (int row = 0; row < kWizardAlertRows; ++row) {
    alerts_->Check(row, WizardAlertRowFlag(data_, row));
  }
  // A row whose action is not chosen cannot be checked.
  alerts_->Bind(wxEVT_CHECKLISTBOX, [this](wxCommandEvent&) { GateAlertRows(false); });
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(label, 0, wxBOTTOM, FromDIP(4));
  sizer->Add(alerts_, 1, wxEXPAND);
  page->SetSizer(sizer);
  page->load = [this] { GateAlertRows(true); };
  page->save = [this] {
    for (int row = 0; row < kWizardAlertRows; ++row) {
      WizardAlertRowFlag(data_, row) = alerts_->IsChecked(row);
    }
  };
}

void NewMonitorWizard::BuildFinishPage(wxWizardPageSimple* wizardPage) {
  auto* page = static_cast<HookedPage*>(wizardPage);
  // Room for the longest summary: every line of it.
  NewMonitorData longest;
  longest.userName = "x";
  // One line per line of the summary, a long value cut with an ellipsis: wrapped lines
  // would push the last ones out of the page.
  summary_ = new wxStaticText(page, wxID_ANY, NewMonitorSummary(longest), wxDefaultPosition,
                              wxDefaultSize, wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  summary_->SetMinSize(wxSize(FromDIP(400), summary_->GetBestSize().y));
  controls::SetAccessibleName(summary_, "Summary");
  start_ = new wxCheckBox(page, wxID_ANY, "&Start Monitor");
  controls::SetAccessibleName(start_, "Start Monitor");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(summary_, 1, wxEXPAND | wxBOTTOM, FromDIP(6));
  sizer->Add(start_, 0);
  page->SetSizer(sizer);
  page->load = [this, page] {
    summary_->SetLabelText(Wx(NewMonitorSummary(data_)));
    page->Layout();
  };
  page->save = [this] { data_.startMonitor = start_->GetValue(); };
}

bool NewMonitorWizard::ValidateConnection() {
  if (ParsePollingInterval(Text(interval_))) return true;
  hooks_.message(wxString::Format("The polling interval must be a whole number of minutes from "
                                  "%d to %d.",
                                  kMinPollingInterval, kMaxPollingInterval),
                 GetTitle());
  interval_->SetFocus();
  interval_->SelectAll();
  return false;
}

void NewMonitorWizard::SaveConnection() {
  data_.name = Text(name_);
  data_.dataSource = Text(dataSource_);
  data_.userName = Text(user_);
  data_.password = Text(password_);
  if (const std::optional<std::int32_t> interval = ParsePollingInterval(Text(interval_))) {
    data_.pollingInterval = *interval;
  }
}

void NewMonitorWizard::GateAlertRows(bool clearFlags) {
  if (clearFlags) ClearBlockedWizardAlerts(data_);
  for (int row = 0; row < kWizardAlertRows; ++row) {
    if (!WizardAlertRowAllowed(data_, row)) alerts_->Check(row, false);
  }
}

void NewMonitorWizard::OnTest(wxCommandEvent&) {
  // The fields as they stand, whatever their check says.
  SaveConnection();
  engine::MonitorSettings settings;
  settings.address = data_.dataSource;
  settings.username = data_.userName;
  settings.password = data_.password;
  hooks_.testConnection(this, MakeConnectionTestInput(settings, false));
}

bool RunNewMonitorWizard(wxWindow* parent, NewMonitorData& data) {
  NewMonitorWizard wizard(parent, data);
  if (!wizard.Run()) return false;
  data = wizard.Data();
  return true;
}

}  // namespace app
