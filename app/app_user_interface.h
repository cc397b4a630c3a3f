// The application's side of the engine's interface to the user interface. Engine threads
// call it at any time; every call copies its arguments, queues the work for the UI thread
// and returns at once. On the UI thread the work finds the main window anew, so a call
// that arrives after the window has gone does nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/user_interface.h"

namespace app {

class CMainFrame;

// The text of an action test's result box: "Action test successfuly completed" for 0,
// else "Action test error: 0X" + eight upper-case hexadecimal digits + " " + the
// status's text.
std::string FormatActionTestResult(std::uint32_t status);

class AppUserInterface : public engine::IUserInterface {
 public:
  // mainFrame gives the main window, or nullptr when there is none; called on the UI
  // thread only.
  explicit AppUserInterface(std::function<CMainFrame*()> mainFrame);
  ~AppUserInterface() override;

  void MonitorUpdated(std::string monitorId) override;
  void MonitorStopped(std::string monitorId) override;
  void MonitorDeleted(std::string monitorId) override;
  void RemovalRefused(std::string monitorId) override;
  void TodayFiguresRenewed() override;
  void PagesWritten() override;
  void ShowBalloon(std::string title, std::string text, MessageKind kind) override;
  void RestoreMainWindow() override;
  void ShowAlertMessage(std::string caption, std::string text, MessageKind kind) override;
  void ShowActionTestResult(std::uint32_t status) override;

 private:
  struct Shared;
  // Shared with the queued work, which may run after this object is gone.
  std::shared_ptr<Shared> shared_;
};

}  // namespace app
