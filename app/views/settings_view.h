// The settings view of a monitor: its name, data source, user, password and polling
// interval, its own connection text and its time-outs. "Update" checks the interval,
// applies the fields to the monitor and saves it; "Cancel" reloads them. The fields are
// loaded when the view becomes current, when the selection changes, on Cancel and after
// Update; a poll's notification refreshes only the header, so unsaved typing stays.
// "Test Connection" tests what the fields show, unsaved edits included. UI thread only.
// A save for a monitor deleted meanwhile saves nothing and says nothing.
#pragma once

#include <wx/string.h>

#include <functional>
#include <string>

#include "app/views/base_view.h"
#include "engine/store/monitor_snapshot.h"

class wxButton;
class wxCheckBox;
class wxTextCtrl;

namespace platform {
class IOdbc;
}

namespace app {

// The monitor's log row when the window closed on a polling interval that did not pass the
// check (the text the user typed).
std::string IntervalNotChangedText(const std::string& typed);

class ODBCSettingsView : public BaseView {
 public:
  // Shows a message to the user (text, caption).
  using MessageFunction = std::function<void(const wxString& text, const wxString& caption)>;

  // message: defaults to a message box; odbc: the driver layer the connection test uses,
  // the system's when null.
  ODBCSettingsView(wxWindow* parent, SnapshotSource snapshots, engine::IWindowStore& storage,
                   MessageFunction message = {}, platform::IOdbc* odbc = nullptr);

  // Called after the fields were applied to a monitor (its identifier), so that what shows
  // its name elsewhere follows at once.
  using SavedFunction = std::function<void(const std::string& monitorId)>;

  // Saving applies the fields to the monitor they were loaded from (nothing when it is
  // gone) and saves it; an interval outside 1 to 71,582 minutes is refused with a message.
  // At close (kSaveClosing) no one may be there to answer: the other fields are saved with
  // the stored interval, and the monitor's log says that the interval was not changed.
  bool UpdateView(bool save, int hint) override;
  void SetSavedHandler(SavedFunction saved) { saved_ = std::move(saved); }

  // The settings the fields show now.
  engine::MonitorSettings FieldSettings() const;
  // The monitor whose fields are loaded, "" for none.
  const std::string& LoadedMonitorId() const { return loadedId_; }

  // The controls, for tests.
  wxTextCtrl* NameCtrl() const { return name_; }
  wxTextCtrl* DataSourceCtrl() const { return dataSource_; }
  wxTextCtrl* UserCtrl() const { return user_; }
  wxTextCtrl* PasswordCtrl() const { return password_; }
  wxTextCtrl* IntervalCtrl() const { return interval_; }
  wxCheckBox* ConnectionStringCheck() const { return useConnectionString_; }
  wxTextCtrl* ConnectionStringCtrl() const { return connectionString_; }
  wxCheckBox* CustomTimeoutsCheck() const { return customTimeouts_; }
  wxTextCtrl* LoginTimeoutCtrl() const { return loginTimeout_; }
  wxTextCtrl* QueryTimeoutCtrl() const { return queryTimeout_; }
  wxButton* UpdateButton() const { return update_; }
  wxButton* CancelButton() const { return cancel_; }
  wxButton* TestButton() const { return test_; }

 private:
  void LoadFields(const engine::MonitorSnapshot& monitor);
  void EnableFields();
  void OnUpdate(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);
  void OnTest(wxCommandEvent& event);

  engine::IWindowStore& storage_;
  MessageFunction message_;
  SavedFunction saved_;
  platform::IOdbc* odbc_;
  std::string loadedId_;
  engine::MonitorSettings loaded_;  // the settings the fields were loaded from
  wxTextCtrl* name_ = nullptr;
  wxTextCtrl* dataSource_ = nullptr;
  wxTextCtrl* user_ = nullptr;
  wxTextCtrl* password_ = nullptr;
  wxTextCtrl* interval_ = nullptr;
  wxCheckBox* useConnectionString_ = nullptr;
  wxTextCtrl* connectionString_ = nullptr;
  wxCheckBox* customTimeouts_ = nullptr;
  wxTextCtrl* loginTimeout_ = nullptr;
  wxTextCtrl* queryTimeout_ = nullptr;
  wxButton* test_ = nullptr;
  wxButton* update_ = nullptr;
  wxButton* cancel_ = nullptr;
};

}  // namespace app
