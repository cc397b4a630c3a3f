// The main window: the menu bar and the status bar for now, placed from the saved window
// settings at start-up and handing its placement back when it closes. The toolbar, the
// tree pane, the views, the tray icon and the hourly timer join it later. Everything here
// runs on the UI thread; other threads reach the frame through the application's
// user-interface bridge.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include <wx/frame.h>

#include "app/window_placement.h"

class wxNotificationMessageBase;

namespace app {

class CMainFrame : public wxFrame {
 public:
  // Receives the window's placement when the window closes.
  using PlacementSaver = std::function<void(const WindowPlacement&)>;

  explicit CMainFrame(PlacementSaver savePlacement);
  ~CMainFrame() override;

  // Start-up: shows the window as the saved placement says. Minimised and maximised
  // windows keep their default place and announce the start with a notification.
  void RestorePlacementAndStart(const WindowPlacement& placement);

  // Brings the window back (show) or puts it away (hide). Without a tray it is minimised
  // rather than hidden, so it can always be found again.
  bool ShowInTaskbar(bool show);

  // A desktop notification (the tray balloon); kind is 0 error, 1 information. A click on
  // it brings the window back.
  void ShowBalloon(const std::string& title, const std::string& text, int kind);

  // A monitor has new data.
  void OnMonitorUpdated(const std::string& monitorId);
  // A stop or a delete of the monitor has completed; the HTML pages were written. The
  // tree and the views that show them join the window later.
  void OnMonitorStopped(const std::string& monitorId) { lastStoppedMonitor_ = monitorId; }
  void OnMonitorDeleted(const std::string& monitorId) { lastDeletedMonitor_ = monitorId; }
  void OnPagesWritten() { ++pagesWritten_; }

  // The identifier of the monitor selected in the tree; "" for none. The tree pane is
  // not part of the window yet, so nothing is selected.
  std::string GetSelectedServerId() const { return {}; }

  // The placement as it would be saved now.
  WindowPlacement CurrentPlacement() const;

  bool IsFirstShowPending() const { return firstShowPending_; }
  int MonitorUpdatesNoted() const { return monitorUpdates_; }
  const std::string& LastUpdatedMonitor() const { return lastUpdatedMonitor_; }

 private:
  void OnClose(wxCloseEvent& event);

  PlacementSaver savePlacement_;
  bool firstShowPending_ = false;
  bool closed_ = false;  // the window is on its way out
  int monitorUpdates_ = 0;
  std::string lastUpdatedMonitor_;
  std::string lastStoppedMonitor_;
  std::string lastDeletedMonitor_;
  int pagesWritten_ = 0;
  // Notifications are kept while they may still be on screen (and clicked).
  std::deque<std::unique_ptr<wxNotificationMessageBase>> notifications_;
};

}  // namespace app
