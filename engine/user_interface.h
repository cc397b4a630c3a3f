// The engine's only way to the user interface. Polling threads, action workers and the
// e-mail report call it from any thread; the application implements it by handing copies
// of the arguments to the UI thread, and tests pass a fake. Every call returns at once.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

class IUserInterface {
 public:
  enum class MessageKind { kError = 0, kInformation = 1 };

  virtual ~IUserInterface() = default;

  // A monitor has new data (the engine always names it).
  virtual void MonitorUpdated(std::string monitorId) = 0;
  // A stop asked for earlier has completed: the monitor is not running and its polling
  // thread has ended or been abandoned.
  virtual void MonitorStopped(std::string /*monitorId*/) {}
  // A deleted monitor's stop and row deletion have completed.
  virtual void MonitorDeleted(std::string /*monitorId*/) {}
  // A removal that the configuration file refused has put the records back: the views
  // that list them show them again. monitorId names the monitor whose test queries or
  // alerts came back; "" for actions.
  virtual void RemovalRefused(std::string /*monitorId*/) {}
  // Every monitor's today's figures were read anew from the data file (the day turned
  // over, or the program started).
  virtual void TodayFiguresRenewed() {}
  // The HTML pages asked of the page writer have been written.
  virtual void PagesWritten() {}
  // A tray balloon (a desktop notification where there is no tray).
  virtual void ShowBalloon(std::string title, std::string text, MessageKind kind) = 0;
  // Brings the main window back from the tray or the task bar.
  virtual void RestoreMainWindow() = 0;
  // Adds a message to the alert window, opening it when it is closed.
  virtual void ShowAlertMessage(std::string caption, std::string text, MessageKind kind) = 0;
  // The outcome of an action's test run: 0 for success, else a status (platform/status.h).
  virtual void ShowActionTestResult(std::uint32_t status) = 0;
};

}  // namespace engine
