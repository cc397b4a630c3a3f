// The new-monitor wizard: four pages (connection settings, actions, alerts, finish) that
// fill a NewMonitorData; the caller commits it after Finish. The summary text, the rule that
// ties the alert rows to the actions and the list of data source names are free functions.
// UI thread only.
#pragma once

#include <wx/wizard.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/new_monitor.h"
#include "platform/odbc.h"

class wxButton;
class wxCheckBox;
class wxCheckListBox;
class wxComboBox;
class wxStaticText;
class wxTextCtrl;

namespace app {

struct ConnectionTestInput;

// The rows of the alerts page, in their order on the page.
inline constexpr int kWizardAlertRows = 6;
// The text of a row ("Monitor Availability Error (Message Box)", ...).
const char* WizardAlertRowText(int row);
// The flag a row stands for.
bool& WizardAlertRowFlag(NewMonitorData& data, int row);
// Whether a row may be checked: its action (message box or balloon) is chosen.
bool WizardAlertRowAllowed(const NewMonitorData& data, int row);
// Clears the flags of the rows whose action is not chosen; the alerts page does this each
// time it opens, so a row stays unchecked after its action is chosen again.
void ClearBlockedWizardAlerts(NewMonitorData& data);

// The finish page's text: name, data source, user name and password (masked, only with a
// user name), interval, then the chosen actions and alerts. "\n" line ends.
std::string NewMonitorSummary(const NewMonitorData& data);

// The names of the driver manager's data sources in its order, each once (the first one
// kept), with no limit on their length.
std::vector<std::string> DataSourceNames(const std::vector<platform::OdbcDataSource>& sources);

// What the wizard reaches outside itself; tests replace these.
struct NewMonitorWizardHooks {
  // The data source names for the drop-down; defaults to the driver manager's.
  std::function<std::vector<std::string>()> listDataSources;
  // Runs the connection test for the page's fields; defaults to the modal test dialog.
  std::function<void(wxWindow* parent, const ConnectionTestInput& input)> testConnection;
  // Shows a message (text, caption); defaults to a message box.
  std::function<void(const wxString& text, const wxString& caption)> message;
};

class NewMonitorWizard : public wxWizard {
 public:
  // The pages start from data (only its flags and fields; "Start Monitor" starts
  // unchecked whatever startMonitor says).
  NewMonitorWizard(wxWindow* parent, const NewMonitorData& data, NewMonitorWizardHooks hooks = {});

  // Runs the wizard modally from its first page; true on Finish.
  bool Run();
  // The data as the pages last saved it (a page saves when the user leaves it by Back,
  // Next or Finish).
  const NewMonitorData& Data() const { return data_; }

  enum Page { kConnectionPage, kActionsPage, kAlertsPage, kFinishPage };
  wxWizardPageSimple* PageAt(Page page) const { return pages_[page]; }
  // The page shown now (after Cancel, the page it was on), or -1 before the first page and
  // after Finish.
  int CurrentPage() const;

  // The controls, for tests.
  wxTextCtrl* NameCtrl() const { return name_; }
  wxComboBox* DataSourceCtrl() const { return dataSource_; }
  wxTextCtrl* UserCtrl() const { return user_; }
  wxTextCtrl* PasswordCtrl() const { return password_; }
  wxTextCtrl* IntervalCtrl() const { return interval_; }
  wxButton* TestButton() const { return test_; }
  wxCheckListBox* ActionsList() const { return actions_; }
  wxCheckListBox* AlertsList() const { return alerts_; }
  wxStaticText* SummaryText() const { return summary_; }
  wxCheckBox* StartCheck() const { return start_; }

 private:
  void BuildConnectionPage(wxWizardPageSimple* page);
  void BuildActionsPage(wxWizardPageSimple* page);
  void BuildAlertsPage(wxWizardPageSimple* page);
  void BuildFinishPage(wxWizardPageSimple* page);
  bool ValidateConnection();
  void SaveConnection();
  void GateAlertRows(bool clearFlags);
  void OnTest(wxCommandEvent& event);

  NewMonitorData data_;
  NewMonitorWizardHooks hooks_;
  std::array<wxWizardPageSimple*, 4> pages_{};
  wxTextCtrl* name_ = nullptr;
  wxComboBox* dataSource_ = nullptr;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
  wxTextCtrl* interval_ = nullptr;
  wxButton* test_ = nullptr;
  wxCheckListBox* actions_ = nullptr;
  wxCheckListBox* alerts_ = nullptr;
  wxStaticText* summary_ = nullptr;
  wxCheckBox* start_ = nullptr;
};

// Runs the wizard on a copy of data; on Finish the copy goes back into data and the result
// is true. Cancel leaves data as it was.
bool RunNewMonitorWizard(wxWindow* parent, NewMonitorData& data);

}  // namespace app
