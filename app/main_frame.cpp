#include "app/main_frame.h"

#include <wx/app.h>
#include <wx/display.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/notifmsg.h>
// After wx/notifmsg.h, which declares the base class.
#include <wx/generic/notifmsg.h>
#include <wx/statusbr.h>

#include <vector>

#include "app/app_icon.h"
#include "app/command_ids.h"
#include "app/main_menu.h"
#include "app/thread_message_box.h"
#include "res/strings.h"

namespace app {
namespace {

constexpr int kMinWindowWidth = 320;
constexpr int kMinWindowHeight = 240;
constexpr std::size_t kNotificationsKept = 8;

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

wxString ProductName() {
  const char* name = res::FindString(131);
  return name != nullptr ? wxString::FromUTF8(name) : wxString("Lumivar");
}

}  // namespace

CMainFrame::CMainFrame(PlacementSaver savePlacement)
    : wxFrame(nullptr, wxID_ANY, "Lumivar", wxDefaultPosition, wxSize(800, 600)),
      savePlacement_(std::move(savePlacement)) {
  SetIcons(AppIconBundle());
  SetMenuBar(CreateMainMenuBar());
  CreateStatusBar(1);

  // Commands whose parts (the monitor store, the dialogs, the toolbar) are not part of
  // the window yet stay disabled.
  for (int id : {kIdMonitorNew, kIdMonitorStart, kIdMonitorStop, kIdMonitorDelete, kIdSettings,
                 kIdOnlineHelp, kIdViewToolbar}) {
    Bind(
        wxEVT_UPDATE_UI, [](wxUpdateUIEvent& e) { e.Enable(false); }, id);
  }
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        GetStatusBar()->Show(!GetStatusBar()->IsShown());
        SendSizeEvent();
      },
      kIdViewStatusBar);
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& e) {
        e.Check(GetStatusBar() != nullptr && GetStatusBar()->IsShown());
      },
      kIdViewStatusBar);
  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::RestorePlacementAndStart(const WindowPlacement& placement) {
  const int mode = EffectiveShowMode(placement.mode);
  if (mode == kShowNormal) {
    const Rect r =
        FitToDisplays({placement.x, placement.y, placement.width, placement.height},
                      DisplayWorkAreas(), FromDIP(kMinWindowWidth), FromDIP(kMinWindowHeight));
    SetSize(r.x, r.y, r.width, r.height);
    Show();
    return;
  }
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

bool CMainFrame::ShowInTaskbar(bool show) {
  if (show) {
    if (!IsShown()) Show();
    if (IsIconized()) Iconize(false);
    Raise();
  } else {
    Iconize(true);
  }
  return true;
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
  note->Bind(wxEVT_NOTIFICATION_MESSAGE_CLICK, [this](wxCommandEvent&) { ShowInTaskbar(true); });
  notifications_.push_back(std::move(note));
  while (notifications_.size() > kNotificationsKept) notifications_.pop_front();
}

void CMainFrame::OnMonitorUpdated(const std::string& monitorId) {
  ++monitorUpdates_;
  lastUpdatedMonitor_ = monitorId;
}

WindowPlacement CMainFrame::CurrentPlacement() const {
  const wxRect r = GetRect();
  return {r.x, r.y, r.width, r.height, ShowModeToSave(!IsShown() || IsIconized(), IsMaximized())};
}

void CMainFrame::OnClose(wxCloseEvent&) {
  // A second close on the way out (SIGTERM and SIGHUP together at logout) finds the window
  // perhaps already hidden; the first one saved its placement.
  if (closed_) return;
  closed_ = true;
  if (savePlacement_) savePlacement_(CurrentPlacement());
  ThreadMessageBox::CloseCurrent();
  notifications_.clear();
  Destroy();
  // Closing the main window ends the program, also while a notification popup (a window
  // of its own) is still on screen.
  if (wxTheApp != nullptr) wxTheApp->ExitMainLoop();
}

}  // namespace app
