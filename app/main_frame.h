// The main window: the menu bar, the toolbar, a one-pane status bar, the tree pane on the
// left (the monitor tree above the info pane) and one view at a time on the right. It runs
// the monitor commands, switches views when the tree's selection changes, refreshes what
// shows a monitor when the monitor reports, has the HTML pages rebuilt off the UI thread,
// hides into the tray icon when minimised (where there is one), once an hour lets the
// e-mail report decide whether it is due, and at local midnight has every monitor's
// today's figures start again.
//
// Everything here runs on the UI thread and never waits on a monitor: stops and deletes
// return at once and their completions (OnMonitorStopped, OnMonitorDeleted) refresh the
// window. Other threads reach the frame through the application's user-interface bridge.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <wx/frame.h>
#include <wx/timer.h>

#include "app/views/report_base_view.h"
#include "app/window_placement.h"

class wxNotificationMessageBase;
class wxSimplebook;

namespace controls {
class PaneSplitter;
}

namespace engine {
class EMailReporter;
class PageWriter;
class ServerStorage;
}  // namespace engine

namespace app {

class BaseView;
class MonitorInfoPane;
class MonitorTree;
class TrayIcon;
struct NewMonitorData;

struct MainFrameOptions {
  // Receives the window's placement when the window closes.
  std::function<void(const WindowPlacement&)> savePlacement;
  // Asks a yes/no question; true for yes. Default: a message box.
  std::function<bool(wxWindow* parent, const wxString& question)> confirm;
  // Runs the new-monitor wizard over the record; true when it was finished.
  std::function<bool(wxWindow* parent, NewMonitorData& data)> runNewMonitorWizard;
  // Runs the settings dialog.
  std::function<void(wxWindow* parent)> runSettings;
  // The tray's Exit. Default: the window closes.
  std::function<void()> requestExit;
  // When the user closes the window (the close box, the tray's Exit): called once the
  // current view's edits are committed and before anything closes; false keeps the
  // window open and everything in it. Never called for an unattended close. Default:
  // nothing is asked.
  std::function<bool(wxWindow* parent)> saveBeforeClose;
  // The reporter of the hourly check; null: no check.
  engine::EMailReporter* reporter = nullptr;
  // Whether the HTML pages are written into the data folder.
  bool writePages = true;
  // Whether the notification-area icon is made where the desktop has one.
  bool trayIcon = true;
  // Makes the view of a code in place of the program's own when it returns one (tests).
  std::function<BaseView*(wxWindow* parent, int code)> makeView;
};

class CMainFrame : public wxFrame {
 public:
  // The store must outlive the window.
  CMainFrame(engine::ServerStorage& storage, MainFrameOptions options = {});
  ~CMainFrame() override;

  // Start-up: shows the window as the saved placement says (minimised and maximised
  // windows keep their default place and announce the start with a notification), shows
  // the summary of all monitors, builds the tree with "Monitors" selected and starts the
  // hourly check.
  void RestorePlacementAndStart(const WindowPlacement& placement);

  // Brings the window back (show) or puts it away (hide): into the tray when there is
  // one, else minimised, so it can always be found again.
  bool ShowInTaskbar(bool show);

  // A desktop notification (the tray balloon); kind is 0 error, 1 information. A click on
  // it brings the window back.
  void ShowBalloon(const std::string& title, const std::string& text, int kind);

  // The view with this code becomes the current one (the current view saves first and may
  // refuse); for the current view itself, it saves and reloads. False for an unknown code
  // or a refusal.
  bool SwitchView(int code);
  // The current view reloads for the selected monitor; false without a current view.
  bool RefreshCurrentView(int hint);
  // Refreshes what shows the monitor: the pages, its tree node (""; the whole tree is
  // rebuilt), the current view and the info pane.
  void UpdateForServer(const std::string& monitorId);

  // A monitor has new data ("" stands for the selected one). Notifications are collected
  // and handled together once the UI thread is free.
  void OnMonitorUpdated(const std::string& monitorId);
  // A stop has completed: as a notification from that monitor.
  void OnMonitorStopped(const std::string& monitorId);
  // A view applied the user's edit to the monitor: its node, the info pane and the pages
  // show it at once.
  void OnMonitorEdited(const std::string& monitorId);
  // A delete has completed: the pages and the info pane are refreshed.
  void OnMonitorDeleted(const std::string& monitorId);
  // A removal the configuration file refused has put records back (see
  // IUserInterface::RemovalRefused): the views, the info pane and the pages show them.
  void OnRemovalRefused(const std::string& monitorId);
  // Every monitor's today's figures start again from the data file, read by the engine off
  // this thread; done at the start and whenever the local day turns over.
  void RenewTodayFigures();
  // The engine has renewed them: the info pane shows the monitor it shows anew.
  void OnTodayFiguresRenewed();
  // The HTML pages were written: the views that show them reload.
  void OnPagesWritten();

  // The commands of the menus, the toolbar and the tray, callable directly.
  void OnMonitorNew();
  void OnMonitorStart();
  void OnMonitorStop();
  void OnMonitorDelete();
  void OnStartAll();
  void OnStopAll();
  void OnTrayIconClick();
  void OnTrayExit();
  // The next close (and one under way while the user is asked) has nobody to answer: it
  // asks nothing and cannot be kept from closing (SIGTERM, SIGHUP).
  void SetUnattendedClose() { unattendedClose_ = true; }

  // The identifier of the monitor selected in the tree; "" for none.
  std::string GetSelectedServerId() const;

  // The placement as it would be saved now.
  WindowPlacement CurrentPlacement() const;

  MonitorTree* Tree() const { return tree_; }
  MonitorInfoPane* InfoPane() const { return info_; }
  BaseView* CurrentView() const { return current_; }
  BaseView* View(int code) const;
  // The code of the current view; -1 before the first switch.
  int CurrentViewCode() const;
  bool HasTrayIcon() const { return tray_ != nullptr; }
  bool IsFirstShowPending() const { return firstShowPending_; }
  engine::PageWriter* Pages() const { return pages_.get(); }
  // How many notifications arrived, and the last one's identifier.
  int MonitorUpdatesNoted() const { return monitorUpdates_; }
  const std::string& LastUpdatedMonitor() const { return lastUpdatedMonitor_; }

  // The menu bar's items take their states (enabled, checked) whenever the toolbar's do,
  // not only as their menu opens: an accessibility client reads a closed menu as it is, and
  // its click on an item there finds the item as the user would.
  void OnInternalIdle() override;

 private:
  BaseView* MakeView(int code);
  // Stores a report view's period on its monitor.
  ReportPeriodSink ReportPeriods();
  void CreateViews();
  void BindCommands();
  void UpdateMinimumSize();
  void OnSelectionChanged(const std::string& monitorId, int viewCode);
  void HandleMonitorUpdates();
  void UpdateInfo(const std::string& monitorId);
  // Renews today's figures when the local day differs from the one they were renewed for,
  // then waits for the next midnight.
  void CheckDayTurnover();
  void RequestPages();
  void MoveFocusBetweenPanes();
  void OnIconize(wxIconizeEvent& event);
  void OnClose(wxCloseEvent& event);

  engine::ServerStorage& storage_;
  MainFrameOptions options_;

  controls::PaneSplitter* splitter_ = nullptr;
  MonitorTree* tree_ = nullptr;
  MonitorInfoPane* info_ = nullptr;
  wxSimplebook* book_ = nullptr;
  std::map<int, BaseView*> views_;      // by view code
  std::map<BaseView*, int> bookPages_;  // the page of each view in the book
  BaseView* current_ = nullptr;

  std::unique_ptr<TrayIcon> tray_;
  std::unique_ptr<engine::PageWriter> pages_;
  wxTimer hourly_;
  wxTimer dayTurnover_;
  std::int64_t figuresDay_ = 0;  // local midnight of the day today's figures were renewed for
  std::string infoMonitorId_;    // the monitor the info pane shows; "" for the summary

  // Monitors that reported since the last refresh, each with the number of its latest
  // report: refreshed in that order, so the monitor that reported last comes last.
  std::unordered_map<std::string, std::uint64_t> updated_;
  std::uint64_t updateNumber_ = 0;
  bool updatesQueued_ = false;
  // The tree node whose view was last accepted: a view that refuses to give up the right
  // side gets its node selected again.
  std::string shownMonitorId_;
  int shownImage_ = 0;
  bool restoringSelection_ = false;
  int monitorUpdates_ = 0;
  std::string lastUpdatedMonitor_;

  bool firstShowPending_ = false;
  bool closed_ = false;  // the window is on its way out
  bool askingToClose_ = false;
  bool unattendedClose_ = false;
  // Notifications are kept while they may still be on screen (and clicked).
  std::deque<std::unique_ptr<wxNotificationMessageBase>> notifications_;
};

}  // namespace app
