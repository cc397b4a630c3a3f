// Orderly exit on SIGTERM and SIGHUP (logout, kill): the signal is turned into a call on
// the UI thread, which ends any modal dialog and closes the main window, so the usual
// exit sequence saves everything. Created and destroyed on the UI thread.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <wx/modalhook.h>

namespace app {

// Keeps track of the modal dialogs that are open, native message boxes included, and can
// end them all.
class ModalDialogTracker : public wxModalDialogHook {
 public:
  ModalDialogTracker();
  ~ModalDialogTracker() override;

  // Ends every open modal dialog as if it had been cancelled.
  void EndAll();
  bool Empty() const { return open_.empty(); }

 protected:
  int Enter(wxDialog* dialog) override;
  void Exit(wxDialog* dialog) override;

 private:
  std::vector<wxDialog*> open_;
};

class ExitSignalWatch {
 public:
  // onSignal runs on the UI thread (from the event loop) for each SIGTERM or SIGHUP.
  explicit ExitSignalWatch(std::function<void()> onSignal);
  ~ExitSignalWatch();
  ExitSignalWatch(const ExitSignalWatch&) = delete;
  ExitSignalWatch& operator=(const ExitSignalWatch&) = delete;

 private:
  std::unique_ptr<std::function<void()>> onSignal_;
  std::vector<unsigned> sources_;
};

}  // namespace app
