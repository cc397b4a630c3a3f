// The application object: runs the start-up sequence (single instance, autorun wait,
// settings, store, main window, the monitors restarted) and the exit sequence (running
// set recorded, store and settings saved, everything stopped within a bound, saved again,
// the mark released last), after which the process ends at once. It owns the bridge
// through which engine threads reach the windows, closes the main window in order on
// SIGTERM or SIGHUP, and tells the user of files that could not be read or written (a
// line on standard error, and a message box while the main window exists). Alert messages
// that had not reached the screen when the exit began are told on standard error and in
// every monitor's log. UI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include "app/app_lifecycle.h"
#include "engine/report/email_reporter.h"
#include "engine/store/server_storage.h"

namespace app {

class AppUserInterface;
class CMainFrame;
class ExitSignalWatch;
class ModalDialogTracker;

class OrbanelApp : public wxApp {
 public:
  OrbanelApp();
  ~OrbanelApp() override;

  // The running application object, or nullptr (in tests, for instance).
  static OrbanelApp* Get();

  bool OnInit() override;
  // Runs the exit sequence and, after a completed start, ends the process (status 0).
  int OnExit() override;

  // Whether the start ended because another instance of this user runs.
  static bool EndedAsSecondInstance();

  // The main window; nullptr before it is made and after it has closed.
  CMainFrame* GetMainFrame() const;

  // The store of every monitor and action, for the life of the process.
  engine::ServerStorage* GetServerStorage() { return &storage_; }
  std::vector<std::shared_ptr<engine::Action>> GetActionList() const {
    return storage_.GetActionList();
  }
  // The reporter the hourly check goes through.
  engine::EMailReporter* GetEMailReporter() { return &reporter_; }
  // The monitor selected in the main window's tree; null when there is no main window or
  // the selection names no monitor.
  std::shared_ptr<engine::Server> GetSelectedServer() const;

  // Ends open modal dialogs and closes the main window, so that the exit sequence runs.
  // An unattended exit (a signal) asks nothing; otherwise edits that cannot be saved are
  // asked about before the window closes, and the user may keep the program running.
  void RequestOrderlyExit(bool unattended);

  void OnAppAbout();

 private:
  bool CreateMainWindow();
  void ReportProblem(const std::string& message);
  void InstallUiServices();
  void RemoveUiServices();

  engine::EMailReporter reporter_;
  engine::ServerStorage storage_;
  std::unique_ptr<IInstanceLock> lock_;
  std::unique_ptr<IStartupSettings> settings_;
  std::unique_ptr<IMonitorStore> store_;
  std::unique_ptr<AppLifecycle> lifecycle_;
  std::unique_ptr<ModalDialogTracker> modalDialogs_;
  std::unique_ptr<ExitSignalWatch> exitSignals_;
  std::unique_ptr<wxTimer> exitRetry_;  // made when first needed, once wx runs
  wxWeakRef<CMainFrame> frame_;
  bool exitUnattended_ = false;
};

}  // namespace app
