#include "app/main_frame.h"

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/display.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/notifmsg.h>
#include <wx/simplebook.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
// After wx/notifmsg.h, which declares the base class.
#include <wx/generic/notifmsg.h>

#include <algorithm>
#include <chrono>
#include <unordered_set>
#include <utility>

#include "app/app_icon.h"
#include "app/command_ids.h"
#include "app/frame_rules.h"
#include "app/main_menu.h"
#include "app/modal_command.h"
#include "app/monitor_info_pane.h"
#include "app/monitor_tree.h"
#include "app/new_monitor.h"
#include "app/online_help.h"
#include "app/thread_message_box.h"
#include "app/toolbar.h"
#include "app/tray_icon.h"
#include "app/views/actions_view.h"
#include "app/views/alerts_report_view.h"
#include "app/views/alerts_view.h"
#include "app/views/availability_view.h"
#include "app/views/base_view.h"
#include "app/views/connection_time_report_view.h"
#include "app/views/health_report_view.h"
#include "app/views/history_view.h"
#include "app/views/log_view.h"
#include "app/views/settings_view.h"
#include "app/views/snapshot_view.h"
#include "app/views/test_queries_report_view.h"
#include "app/views/test_queries_view.h"
#include "app/views/welcome_view.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"
#include "controls/pane_splitter.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/server.h"
#include "engine/report/email_reporter.h"
#include "engine/report/page_writer.h"
#include "engine/services.h"
#include "engine/settings_source.h"
#include "engine/store/server_storage.h"
#include "res/strings.h"

namespace app {
namespace {

constexpr int kDefaultWidth = 960;
constexpr int kDefaultHeight = 680;
constexpr int kMinWindowWidth = 320;
constexpr int kMinWindowHeight = 240;
constexpr std::size_t kNotificationsKept = 8;
constexpr int kHourMs = 3'600'000;
// The window's close waits this long for a page build under way.
constexpr std::chrono::seconds kPageWriterBound{2};
// The Part's forms are laid out in dialog units; the views' least height leaves this much
// room beyond their forms.
constexpr int kViewExtraHeight = 40;

std::vector<Rect> DisplayWorkAreas() {
  std::vector<Rect> areas;
  for (unsigned i = 0; i < wxDisplay::GetCount(); ++i) {
    const wxRect r = wxDisplay(i).GetClientArea();
    Rect area{r.x, r.y, r.width, r.height};
    if (wxDisplay(i).IsPrimary())
      areas.insert(areas.begin(), area);
    else
      areas.push_back(area);
  }
  return areas;
}

// The layout's window size scaled to the font, within a small screen and the display.
wxSize DefaultSize() {
  const wxSize wanted = controls::FontScaled(wxSize(kDefaultWidth, kDefaultHeight));
  const Rect size = DefaultWindowSize(wanted.x, wanted.y, DisplayWorkAreas());
  return wxSize(size.width, size.height);
}

wxString ProductName() {
  const char* name = res::FindString(131);
  return name != nullptr ? wxString::FromUTF8(name) : wxString("Lumivar");
}

bool AskYesNo(wxWindow* parent, const wxString& question) {
  return wxMessageBox(question, ProductName(), wxYES_NO | wxICON_QUESTION, parent) == wxYES;
}

}  // namespace

CMainFrame::CMainFrame(engine::ServerStorage& storage, MainFrameOptions options)
    : wxFrame(nullptr, wxID_ANY, "Lumivar", wxDefaultPosition, DefaultSize()),
      storage_(storage),
      options_(std::move(options)) {
  if (!options_.confirm) options_.confirm = &AskYesNo;
  SetIcons(AppIconBundle());
  SetMenuBar(CreateMainMenuBar());
  wxToolBar* toolbar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT);
  FillMainToolBar(toolbar);
  controls::SetAccessibleName(toolbar, "Toolbar");
  CreateStatusBar(1);
  controls::SetAccessibleName(GetStatusBar(), "Status Bar");

  splitter_ = new controls::PaneSplitter(this);
  auto* treePane = new wxPanel(splitter_, wxID_ANY);
  controls::SetAccessibleName(treePane, "Monitors View");
  tree_ = new MonitorTree(treePane, wxID_ANY, [this] { return storage_.GetMonitorSummaries(); });
  info_ = new MonitorInfoPane(treePane, wxID_ANY);
  auto* paneSizer = new wxBoxSizer(wxVERTICAL);
  paneSizer->Add(tree_, 1, wxEXPAND);
  paneSizer->Add(info_, 0, wxEXPAND);
  treePane->SetSizer(paneSizer);

  book_ = new wxSimplebook(splitter_, wxID_ANY);
  controls::SetAccessibleName(book_, "View");
  controls::SetAccessibleName(splitter_, "Panes");
  CreateViews();
  // The tree pane starts wide enough for its fixed nodes and for whole times below them.
  splitter_->SetInitialWidth(std::max(
      {splitter_->InitialWidth(), tree_->WidestFixedNodeWidth(), info_->WholeTextWidth()}));
  splitter_->SplitPanes(treePane, book_);
  UpdateMinimumSize();

  tree_->SetSelectionHandler([this](const std::string& monitorId, int viewCode) {
    OnSelectionChanged(monitorId, viewCode);
  });

  if (options_.writePages) {
    pages_ = std::make_unique<engine::PageWriter>();
  } else {
    pages_ = std::make_unique<engine::PageWriter>(
        [](const engine::HtmlSnapshot&) { return engine::PageWrites{}; });
  }

  if (options_.trayIcon && TrayIcon::Available()) {
    tray_ = std::make_unique<TrayIcon>(
        TrayCommands{[this] { OnTrayIconClick(); }, [this] { return !IsShown() || !IsActive(); },
                     [this] { OnStartAll(); }, [this] { OnStopAll(); }, [this] { OnTrayExit(); }});
  }

  hourly_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    const engine::ISettingsSource* settings = engine::Services::Settings();
    if (settings == nullptr || options_.reporter == nullptr) return;
    RunHourlyReportCheck(settings->GetMail().mode, [this] { options_.reporter->CheckAndSend(); });
  });

  dayTurnover_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { CheckDayTurnover(); });

  BindCommands();
  Bind(wxEVT_ICONIZE, &CMainFrame::OnIconize, this);
  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
}

CMainFrame::~CMainFrame() {
  hourly_.Stop();
  dayTurnover_.Stop();
  if (pages_) pages_->Shutdown(std::chrono::milliseconds(0));
}

ReportPeriodSink CMainFrame::ReportPeriods() {
  return [this](const std::string& monitorId, std::int64_t start, std::int64_t end,
                std::int32_t period) { storage_.SetReportPeriod(monitorId, start, end, period); };
}

BaseView* CMainFrame::MakeView(int code) {
  if (options_.makeView) {
    if (BaseView* view = options_.makeView(book_, code)) return view;
  }
  switch (code) {
    case 0:
    case 33: {
      auto* welcome = new WelcomeView(book_, SnapshotsOf(storage_));
      const std::string folder = engine::DataFiles::DataFolder();
      if (!folder.empty()) {
        welcome->SetPage(folder + (code == 0 ? engine::DataFiles::kIndexPageFileName
                                             : engine::DataFiles::kActionsPageFileName));
      }
      return welcome;
    }
    case 8:
      return new ODBCSnapshotView(book_, SnapshotsOf(storage_));
    case 9:
      return new ODBCSettingsView(book_, SnapshotsOf(storage_), storage_);
    case 19:
      return new TestQueriesView(book_, SnapshotsOf(storage_), storage_);
    case 26:
      return new LogView(book_, SnapshotsOf(storage_), storage_);
    case 20:
      return new HistoryView(book_, SnapshotsOf(storage_), ReportPeriods());
    case 21:
      return new AvailabilityReportView(book_, SnapshotsOf(storage_), ReportPeriods());
    case 22:
      return new HealthReportView(book_, SnapshotsOf(storage_), ReportPeriods());
    case 23:
      return new ConnectionTimeReportView(book_, SnapshotsOf(storage_), ReportPeriods());
    case 24:
      return new TestQueriesReportView(book_, SnapshotsOf(storage_), ReportPeriods());
    case 25:
      return new AlertsReportView(book_, SnapshotsOf(storage_), ReportPeriods());
    case 27:
      return new AlertsView(book_, SnapshotsOf(storage_), storage_);
    case 28:
    case 29:
    case 30:
    case 31:
    case 32:
      return new ActionsView(book_, SnapshotsOf(storage_), storage_, code - 28,
                             [this] { RequestPages(); });
    default:
      return new BaseView(book_, SnapshotsOf(storage_));
  }
}

void CMainFrame::CreateViews() {
  // Each view is made once and lives as long as the window.
  for (int code : kViewCreationOrder) {
    BaseView* view = MakeView(code);
    if (auto* settings = dynamic_cast<ODBCSettingsView*>(view)) {
      settings->SetSavedHandler(
          [this](const std::string& monitorId) { OnMonitorEdited(monitorId); });
    }
    views_[code] = view;
    bookPages_[view] = static_cast<int>(book_->GetPageCount());
    book_->AddPage(view, wxString::Format("View %d", code));
  }
}

void CMainFrame::UpdateMinimumSize() {
  wxSize view;
  for (int code : kViewsSizingTheWindow) {
    const wxSize size = views_.at(code)->GetBestSize();
    view.x = std::max(view.x, size.x);
    view.y = std::max(view.y, size.y);
  }
  view.y += kViewExtraHeight;
  const wxSize pane = tree_->GetParent()->GetBestSize();
  splitter_->SetPaneMinimums(pane.x, view.x);
  const controls::SplitterLimits limits = splitter_->Limits();
  const int width = limits.minimum + splitter_->GetSashSize() + view.x;
  const int height = std::max(view.y, pane.y);
  SetMinClientSize(wxSize(std::max(width, FromDIP(kMinWindowWidth)),
                          std::max(height, FromDIP(kMinWindowHeight))));
}

void CMainFrame::BindCommands() {
  auto command = [this](int id, std::function<void()> run) {
    Bind(
        wxEVT_MENU, [run = std::move(run)](wxCommandEvent&) { run(); }, id);
  };
  // The commands that open a modal window open it once their event has returned.
  auto modal = [this, command](int id, void (CMainFrame::*run)()) {
    command(id, [this, run] { OpenModalLater(this, [this, run] { (this->*run)(); }); });
  };
  modal(kIdMonitorNew, &CMainFrame::OnMonitorNew);
  command(kIdMonitorStart, [this] { OnMonitorStart(); });
  command(kIdMonitorStop, [this] { OnMonitorStop(); });
  modal(kIdMonitorDelete, &CMainFrame::OnMonitorDelete);
  command(kIdMonitorDuplicate, [this] {
    const std::string id = GetSelectedServerId();
    storage_.DuplicateServer(id);
    UpdateForServer(id);
  });
  command(kIdSettings, [this] {
    OpenModalLater(this, [this] {
      if (options_.runSettings) options_.runSettings(this);
    });
  });
  command(kIdOnlineHelp, [] { OpenOnlineHelp(); });
  command(kIdViewToolbar, [this] {
    GetToolBar()->Show(!GetToolBar()->IsShown());
    SendSizeEvent();
  });
  command(kIdViewStatusBar, [this] {
    GetStatusBar()->Show(!GetStatusBar()->IsShown());
    SendSizeEvent();
  });
  command(kIdNextPane, [this] { MoveFocusBetweenPanes(); });
  command(kIdPrevPane, [this] { MoveFocusBetweenPanes(); });

  auto enable = [this](int id, bool (*rule)(const CommandState&)) {
    Bind(
        wxEVT_UPDATE_UI,
        [this, rule](wxUpdateUIEvent& e) {
          e.Enable(rule(MakeCommandState(storage_.GetMonitorSummaries(), GetSelectedServerId())));
        },
        id);
  };
  enable(kIdMonitorStart, &CanStart);
  enable(kIdMonitorStop, &CanStop);
  enable(kIdMonitorDelete, &CanDelete);
  enable(kIdMonitorDuplicate, &CanDelete);
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) { e.Check(GetToolBar() != nullptr && GetToolBar()->IsShown()); },
      kIdViewToolbar);
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) {
        e.Check(GetStatusBar() != nullptr && GetStatusBar()->IsShown());
      },
      kIdViewStatusBar);

  wxAcceleratorEntry keys[] = {
      {wxACCEL_NORMAL, WXK_F6, kIdNextPane},
      {wxACCEL_SHIFT, WXK_F6, kIdPrevPane},
  };
  SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
}

void CMainFrame::OnInternalIdle() {
  wxFrame::OnInternalIdle();
  if (GetMenuBar() != nullptr && wxUpdateUIEvent::CanUpdate(this)) DoMenuUpdates();
}

void CMainFrame::RestorePlacementAndStart(const WindowPlacement& placement) {
  const int mode = EffectiveShowMode(placement.mode);
  if (mode == kShowNormal) {
    const Rect r =
        FitToDisplays({placement.x, placement.y, placement.width, placement.height},
                      DisplayWorkAreas(), FromDIP(kMinWindowWidth), FromDIP(kMinWindowHeight));
    SetSize(r.x, r.y, r.width, r.height);
    Show();
  } else {
    // The saved rectangle is not applied: the window keeps its default place.
    firstShowPending_ = true;
    if (mode == kShowMaximized) {
      Maximize();
      Show();
    } else {
      Show();
      ShowInTaskbar(false);
    }
    ShowBalloon(ProductName().utf8_string(), "Lumivar is started.", kAlertKindInformation);
  }
  info_->ShowSummary(storage_.GetMonitorSummaries());
  tree_->UpdateServer("");
  RequestPages();
  hourly_.Start(kHourMs);
  RenewTodayFigures();
  dayTurnover_.StartOnce(DayTurnoverWaitMs(engine::Clock::Now()));
}

void CMainFrame::RenewTodayFigures() {
  figuresDay_ = engine::LocalMidnight(engine::Clock::Now());
  engine::Server::RenewTodayFigures(storage_.GetServerList());
}

void CMainFrame::CheckDayTurnover() {
  const std::int64_t now = engine::Clock::Now();
  if (engine::LocalMidnight(now) != figuresDay_) RenewTodayFigures();
  dayTurnover_.StartOnce(DayTurnoverWaitMs(now));
}

void CMainFrame::OnTodayFiguresRenewed() {
  if (!infoMonitorId_.empty()) UpdateInfo(infoMonitorId_);
}

bool CMainFrame::ShowInTaskbar(bool show) {
  if (show) {
    if (!IsShown()) Show();
    if (IsIconized()) Iconize(false);
    Raise();
  } else if (tray_ != nullptr) {
    Hide();
  } else if (!IsIconized()) {
    Iconize(true);
  }
  return true;
}

void CMainFrame::OnIconize(wxIconizeEvent& event) {
  event.Skip();
  // Minimising puts the window into the tray, where there is one.
  if (event.IsIconized() && tray_ != nullptr) CallAfter([this] { Hide(); });
}

void CMainFrame::ShowBalloon(const std::string& title, const std::string& text, int kind) {
  const int flags = kind == kAlertKindError ? wxICON_ERROR : wxICON_INFORMATION;
  const wxString wxTitle = wxString::FromUTF8(title);
  const wxString wxText = wxString::FromUTF8(text);

  std::unique_ptr<wxNotificationMessageBase> note =
      std::make_unique<wxNotificationMessage>(wxTitle, wxText, this, flags);
  bool shown;
  {
    // Without a notification service the desktop notification fails; the program's own
    // popup stands in for it then.
    wxLogNull quiet;
    shown = note->Show();
  }
  if (!shown) {
    note = std::make_unique<wxGenericNotificationMessage>(wxTitle, wxText, this, flags);
    shown = note->Show();
  }
  if (!shown) return;
  note->Bind(wxEVT_NOTIFICATION_MESSAGE_CLICK, [this](wxCommandEvent&) { OnTrayIconClick(); });
  notifications_.push_back(std::move(note));
  while (notifications_.size() > kNotificationsKept) notifications_.pop_front();
}

BaseView* CMainFrame::View(int code) const {
  const auto found = views_.find(code);
  return found != views_.end() ? found->second : nullptr;
}

int CMainFrame::CurrentViewCode() const {
  for (const auto& [code, view] : views_) {
    if (view == current_) return code;
  }
  return -1;
}

bool CMainFrame::SwitchView(int code) {
  BaseView* next = IsViewCode(code) ? View(code) : nullptr;
  if (next == nullptr) return false;
  // The view saves for the monitor it shows before it learns of the new selection.
  if (current_ != nullptr && !current_->UpdateView(true, kRefreshShow)) return false;
  next->SetMonitorId(GetSelectedServerId());
  if (next != current_) {
    book_->ChangeSelection(static_cast<std::size_t>(bookPages_.at(next)));
    current_ = next;
    next->InitView();
  }
  return next->UpdateView(false, kRefreshShow);
}

bool CMainFrame::RefreshCurrentView(int hint) {
  if (current_ == nullptr) return false;
  current_->SetMonitorId(GetSelectedServerId());
  return current_->UpdateView(false, hint);
}

std::string CMainFrame::GetSelectedServerId() const {
  return tree_ != nullptr ? tree_->GetSelectedServerId() : std::string();
}

void CMainFrame::OnSelectionChanged(const std::string& monitorId, int viewCode) {
  if (restoringSelection_) return;
  UpdateInfo(monitorId);
  if (SwitchView(viewCode)) {
    shownMonitorId_ = monitorId;
    shownImage_ = tree_->GetSelectedImage();
    return;
  }
  // The current view keeps the right side (what the user typed there does not pass its
  // checks): its node is selected again, so that the selection and the view agree and a
  // later refresh does not load another monitor into the view.
  CallAfter([this] {
    restoringSelection_ = true;
    if (shownMonitorId_.empty())
      tree_->SelectMonitorsRoot();
    else
      tree_->SelectServer(shownMonitorId_, shownImage_ == kTreeMonitor ? 0 : shownImage_);
    restoringSelection_ = false;
    UpdateInfo(shownMonitorId_);
  });
}

void CMainFrame::UpdateInfo(const std::string& monitorId) {
  // With a monitor node selected, the pane shows the monitor named (the one that reported
  // last); else the counts of all monitors.
  if (!GetSelectedServerId().empty() && !monitorId.empty()) {
    if (const auto monitor = storage_.GetMonitorSnapshot(monitorId)) {
      info_->ShowMonitor(*monitor);
      infoMonitorId_ = monitorId;
      return;
    }
  }
  info_->ShowSummary(storage_.GetMonitorSummaries());
  infoMonitorId_.clear();
}

void CMainFrame::RequestPages() {
  if (pages_) pages_->Request();
}

void CMainFrame::UpdateForServer(const std::string& monitorId) {
  RequestPages();
  tree_->UpdateServer(monitorId);
  RefreshCurrentView(kRefreshNotify);
  UpdateInfo(monitorId.empty() ? GetSelectedServerId() : monitorId);
}

void CMainFrame::OnMonitorUpdated(const std::string& monitorId) {
  ++monitorUpdates_;
  lastUpdatedMonitor_ = monitorId;
  // A monitor that reports again moves to the end, so the info pane shows the last one.
  updated_[monitorId] = ++updateNumber_;
  if (updatesQueued_) return;
  updatesQueued_ = true;
  CallAfter([this] { HandleMonitorUpdates(); });
}

void CMainFrame::HandleMonitorUpdates() {
  updatesQueued_ = false;
  std::vector<std::pair<std::uint64_t, std::string>> ids;
  ids.reserve(updated_.size());
  for (auto& [id, number] : updated_) ids.emplace_back(number, id);
  updated_.clear();
  std::sort(ids.begin(), ids.end());
  // One reading of the store for the whole batch, however many monitors reported.
  const std::vector<engine::MonitorSummary> monitors = storage_.GetMonitorSummaries();
  std::unordered_set<std::string> present;
  present.reserve(monitors.size());
  for (const engine::MonitorSummary& monitor : monitors) present.insert(monitor.id);
  const std::string selected = GetSelectedServerId();
  std::vector<std::string> known;
  for (const auto& [number, reported] : ids) {
    const std::string& id = reported.empty() ? selected : reported;
    // A monitor deleted meanwhile refreshes nothing.
    if (!id.empty() && present.contains(id)) known.push_back(id);
  }
  if (known.empty()) return;
  tree_->UpdateServers(known, monitors);
  RequestPages();
  RefreshCurrentView(kRefreshNotify);
  UpdateInfo(known.back());
}

void CMainFrame::OnMonitorEdited(const std::string& monitorId) {
  RequestPages();
  tree_->UpdateServer(monitorId);
  // The pane follows only a monitor still selected: a save on the way to another node
  // leaves the pane to that one.
  if (monitorId == GetSelectedServerId()) UpdateInfo(monitorId);
}

void CMainFrame::OnMonitorStopped(const std::string& monitorId) { OnMonitorUpdated(monitorId); }

void CMainFrame::OnMonitorDeleted(const std::string&) {
  RequestPages();
  UpdateInfo(GetSelectedServerId());
}

void CMainFrame::OnRemovalRefused(const std::string& monitorId) {
  RequestPages();
  for (const auto& [code, view] : views_) view->RemovalRefused(monitorId);
  UpdateInfo(GetSelectedServerId());
}

void CMainFrame::OnPagesWritten() {
  for (const auto& [code, view] : views_) view->PagesWritten();
}

void CMainFrame::OnMonitorNew() {
  if (!options_.runNewMonitorWizard) return;
  NewMonitorData data;
  if (!options_.runNewMonitorWizard(this, data)) return;
  const std::string id = CommitNewMonitor(storage_, data);
  if (id.empty()) return;
  UpdateForServer(id);
  tree_->SelectServer(id, 0);
}

void CMainFrame::OnMonitorStart() {
  const std::string id = GetSelectedServerId();
  if (!id.empty())
    storage_.StartServer(id);
  else
    storage_.StartAll();
  UpdateForServer(id);
}

void CMainFrame::OnMonitorStop() {
  const std::string id = GetSelectedServerId();
  if (!id.empty())
    storage_.StopServer(id);
  else
    storage_.StopAll();
  UpdateForServer(id);
}

void CMainFrame::OnMonitorDelete() {
  const std::string id = GetSelectedServerId();
  const int index = storage_.FindServerIndex(id);
  if (index < 0) return;
  if (!options_.confirm(this, "Delete monitor now?")) return;
  storage_.DeleteServer(id);
  tree_->RemoveServer(id);
  const std::vector<engine::MonitorSummary> left = storage_.GetMonitorSummaries();
  const int next = SelectionAfterDelete(index, static_cast<int>(left.size()));
  if (next < 0)
    tree_->SelectMonitorsRoot();
  else
    tree_->SelectServer(left[static_cast<std::size_t>(next)].id, 0);
  UpdateForServer(GetSelectedServerId());
}

void CMainFrame::OnStartAll() {
  storage_.StartAll();
  OnMonitorUpdated("");
  UpdateInfo(GetSelectedServerId());
}

void CMainFrame::OnStopAll() {
  storage_.StopAll();
  OnMonitorUpdated("");
  UpdateInfo(GetSelectedServerId());
}

void CMainFrame::OnTrayIconClick() {
  ShowInTaskbar(true);
  if (firstShowPending_) {
    firstShowPending_ = false;
    SwitchView(0);
  }
}

void CMainFrame::OnTrayExit() {
  if (options_.requestExit)
    options_.requestExit();
  else
    Close(true);
}

void CMainFrame::MoveFocusBetweenPanes() {
  wxWindow* focus = FindFocus();
  const bool inTree = focus != nullptr && (focus == tree_ || tree_->IsDescendant(focus));
  if (inTree && current_ != nullptr)
    current_->SetFocus();
  else
    tree_->SetFocus();
}

WindowPlacement CMainFrame::CurrentPlacement() const {
  const wxRect r = GetRect();
  return {r.x, r.y, r.width, r.height, ShowModeToSave(!IsShown() || IsIconized(), IsMaximized())};
}

void CMainFrame::OnClose(wxCloseEvent&) {
  // A second close on the way out (SIGTERM and SIGHUP together at logout) finds the window
  // perhaps already hidden; the first one saved its placement.
  if (closed_ || askingToClose_) return;
  // What the current view holds is committed; its answer does not stop the close.
  if (current_ != nullptr) current_->UpdateView(true, kSaveClosing);
  if (!unattendedClose_ && options_.saveBeforeClose) {
    askingToClose_ = true;
    const bool close = options_.saveBeforeClose(this);
    askingToClose_ = false;
    // A signal that came while the user was asked closes the window all the same.
    if (!close && !unattendedClose_) return;
  }
  closed_ = true;
  if (options_.savePlacement) options_.savePlacement(CurrentPlacement());
  hourly_.Stop();
  dayTurnover_.Stop();
  // The pages stop before the engine shuts down; a build still running is left to end on
  // its own.
  if (pages_) pages_->Shutdown(kPageWriterBound);
  // The tray's Exit may be what closes the window: the icon goes once its menu is done.
  if (tray_) tray_.release()->Destroy();
  ThreadMessageBox::CloseCurrent();
  notifications_.clear();
  Destroy();
  // Closing the main window ends the program, also while a notification popup (a window
  // of its own) is still on screen.
  if (wxTheApp != nullptr) wxTheApp->ExitMainLoop();
}

}  // namespace app
