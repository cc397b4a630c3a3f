#include "app/orbanel_app.h"

#include <wx/msgdlg.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/about_dialog.h"
#include "app/app_user_interface.h"
#include "app/command_ids.h"
#include "app/dialogs/new_monitor_wizard.h"
#include "app/dialogs/settings_dialog.h"
#include "app/engine_store.h"
#include "app/exit_signals.h"
#include "app/instance_lock.h"
#include "app/main_frame.h"
#include "app/modal_command.h"
#include "app/settings/settings.h"
#include "app/thread_message_box.h"
#include "app/ui_thread.h"
#include "controls/accessible_name.h"
#include "engine/monitor/server.h"
#include "engine/services.h"
#include "platform/registry.h"

namespace app {
namespace {

// The settings object as start-up and exit see it.
class StartupSettings : public IStartupSettings {
 public:
  std::optional<std::string> Load() override {
    Settings::SetRegistryBasePath(platform::MakeRegistryBasePath());
    const std::optional<SettingsLoadProblem> problem = Settings::Instance().Load();
    if (!problem) return std::nullopt;
    return SettingsLoadProblemMessage(*problem);
  }
  std::optional<FileProblem> Save() override {
    const std::optional<SettingsSaveProblem> problem = Settings::Instance().SaveToFile();
    if (!problem) return std::nullopt;
    return FileProblem{problem->path, problem->text};
  }
  std::string StartedMonitors() const override { return Settings::Instance().GetStartedMonitors(); }
  void SetStartedMonitors(std::string value) override {
    Settings::Instance().SetStartedMonitors(std::move(value));
  }
  std::string TakeExitNote() override { return Settings::TakeExitNote(); }
  bool LeaveExitNote(const std::string& text) override { return Settings::LeaveExitNote(text); }
};

WindowPlacement PlacementFromSettings() {
  const LayoutSettings layout = Settings::Instance().GetLayout();
  return {layout.wndX, layout.wndY, layout.wndWidth, layout.wndHeight, layout.wndMode};
}

void SavePlacementToSettings(const WindowPlacement& placement) {
  LayoutSettings layout = Settings::Instance().GetLayout();
  layout.wndX = placement.x;
  layout.wndY = placement.y;
  layout.wndWidth = placement.width;
  layout.wndHeight = placement.height;
  layout.wndMode = placement.mode;
  Settings::Instance().SetLayout(layout);
}

// The bridge lives as long as the process: an engine thread that was abandoned at exit
// may still reach it, and then finds no window and does nothing.
AppUserInterface& UserInterface() {
  static AppUserInterface* ui = new AppUserInterface([]() -> CMainFrame* {
    OrbanelApp* app = OrbanelApp::Get();
    return app != nullptr ? app->GetMainFrame() : nullptr;
  });
  return *ui;
}

constexpr int kExitRetryMs = 50;

// Once the exit sequence has begun, the process ends by this time in any case: a call
// that ignores its bound must not keep it alive until the session kills it. Everything
// was saved before the first stop began.
constexpr std::chrono::seconds kExitLimit = kExitStopBound + std::chrono::seconds(4);

// Set when a start ended because another instance runs; the process then ends with
// status 0.
std::atomic<bool> endedAsSecondInstance{false};

void WriteToStandardError(const std::string& message) {
  std::fprintf(stderr, "lumivar: %s\n", message.c_str());
  std::fflush(stderr);
}

// Ends the process without running static destructors or joining anything: threads
// abandoned at exit may still be inside a driver.
[[noreturn]] void EndProcess(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

// The question of a close whose save failed: the save's message, and the three choices.
// Escape and the close box keep the program running.
UnsavedExitChoice AskUnsavedExit(wxWindow* parent, const std::string& message) {
  wxMessageDialog box(parent, wxString::FromUTF8(message), "Lumivar",
                      wxYES_NO | wxCANCEL | wxYES_DEFAULT | wxICON_ERROR | wxCENTRE);
  box.SetYesNoCancelLabels("Try Again", "Exit Without Saving", "Keep Running");
  switch (box.ShowModal()) {
    case wxID_YES:
      return UnsavedExitChoice::kTryAgain;
    case wxID_NO:
      return UnsavedExitChoice::kExitWithoutSaving;
    default:
      return UnsavedExitChoice::kKeepRunning;
  }
}

// The alert messages that never reached a box, as lines for standard error and the log.
std::vector<std::string> TakeUntoldMessages() {
  std::vector<std::string> lines;
  for (const AlertPages::Message& message : ThreadMessageBox::TakeUntold())
    lines.push_back(AlertMessageLine(message));
  return lines;
}

void StartExitWatchdog() {
  std::thread([] {
    std::this_thread::sleep_for(kExitLimit);
    WriteToStandardError("the exit did not finish in time; ending now.");
    EndProcess(1);
  }).detach();
}

}  // namespace

OrbanelApp::OrbanelApp() {
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { OpenModalLater(this, [this] { OnAppAbout(); }); },
      kIdAppAbout);
}

OrbanelApp::~OrbanelApp() = default;

OrbanelApp* OrbanelApp::Get() { return dynamic_cast<OrbanelApp*>(wxTheApp); }

bool OrbanelApp::OnInit() {
  // The base class would parse the command line and refuse "autorun"; there is nothing
  // else to parse.
  SetAppName("Lumivar");
  SetAppDisplayName("Lumivar");
  controls::ExposeDialogsAsDialogs();
  ThreadMessageBox::WatchModalDialogs();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(argv[i].utf8_string());

  lock_ = std::make_unique<SingleInstanceLock>();
  settings_ = std::make_unique<StartupSettings>();
  store_ = std::make_unique<EngineMonitorStore>(storage_, &reporter_);
  lifecycle_ = std::make_unique<AppLifecycle>(
      *lock_, *settings_, *store_,
      [](std::chrono::seconds delay) { std::this_thread::sleep_for(delay); },
      [this](const std::string& message) { ReportProblem(message); });
  lifecycle_->SetUntoldMessages(&TakeUntoldMessages);

  const AppLifecycle::StartResult result = lifecycle_->Start(
      args, [this]() { InstallUiServices(); }, [this]() { return CreateMainWindow(); });
  if (result == AppLifecycle::StartResult::kStarted) return true;
  if (result == AppLifecycle::StartResult::kAnotherInstance) endedAsSecondInstance = true;

  // An early end: no exit sequence follows (wx skips OnExit), so nothing is saved.
  if (frame_) frame_->Destroy();
  RemoveUiServices();
  lifecycle_.reset();
  return false;
}

int OrbanelApp::OnExit() {
  exitRetry_.reset();
  if (!lifecycle_) {
    RemoveUiServices();
    return wxApp::OnExit();
  }
  StartExitWatchdog();
  // The window is gone: an alert message not shown by now never will be. The exit tells
  // them on standard error and in the monitors' logs; those that come after its closing
  // lines, on standard error alone.
  ThreadMessageBox::StopShowing();
  lifecycle_->Exit();
  for (const std::string& line : TakeUntoldMessages()) WriteToStandardError(line);
  lifecycle_.reset();
  RemoveUiServices();
  // Everything is saved and the mark released. Threads abandoned by the exit may still
  // be inside a driver; no destructor may wait for them or pull objects from under them.
  EndProcess(0);
}

bool OrbanelApp::EndedAsSecondInstance() { return endedAsSecondInstance; }

void OrbanelApp::ReportProblem(const std::string& message) {
  WriteToStandardError(message);
  if (!frame_) return;
  CallAfter([this, message]() {
    wxMessageBox(wxString::FromUTF8(message), "Lumivar", wxOK | wxICON_ERROR, GetMainFrame());
  });
}

CMainFrame* OrbanelApp::GetMainFrame() const { return frame_.get(); }

std::shared_ptr<engine::Server> OrbanelApp::GetSelectedServer() const {
  CMainFrame* frame = GetMainFrame();
  if (frame == nullptr) return nullptr;
  // No selection never names a monitor, not even one stored without identifier.
  const std::string id = frame->GetSelectedServerId();
  if (id.empty()) return nullptr;
  const int index = storage_.FindServerIndex(id);
  return index < 0 ? nullptr : storage_.GetServer(index);
}

void OrbanelApp::InstallUiServices() {
  SetUiThreadReceiver(this);
  engine::Services::SetSettings(&Settings::Instance());
  engine::Services::SetUi(&UserInterface());
  engine::Services::SetStorage(&storage_);
  modalDialogs_ = std::make_unique<ModalDialogTracker>();
  exitSignals_ = std::make_unique<ExitSignalWatch>([this]() { RequestOrderlyExit(true); });
}

void OrbanelApp::RemoveUiServices() {
  exitSignals_.reset();
  modalDialogs_.reset();
  // Every engine thread has ended or been abandoned (and told to touch nothing) by now.
  engine::Services::SetStorage(nullptr);
  engine::Services::SetUi(nullptr);
  engine::Services::SetSettings(nullptr);
  SetUiThreadReceiver(nullptr);
}

bool OrbanelApp::CreateMainWindow() {
  MainFrameOptions options;
  options.savePlacement = &SavePlacementToSettings;
  options.requestExit = [this] { RequestOrderlyExit(false); };
  options.saveBeforeClose = [this](wxWindow* parent) {
    return lifecycle_->SaveBeforeClose(
        [parent](const std::string& message) { return AskUnsavedExit(parent, message); });
  };
  options.reporter = &reporter_;
  options.runNewMonitorWizard = &RunNewMonitorWizard;
  options.runSettings = &RunSettingsDialog;
  auto* frame = new CMainFrame(storage_, std::move(options));
  frame_ = frame;
  SetTopWindow(frame);
  frame->RestorePlacementAndStart(PlacementFromSettings());
  return true;
}

void OrbanelApp::RequestOrderlyExit(bool unattended) {
  if (unattended) {
    exitUnattended_ = true;
    if (frame_) {
      frame_->SetUnattendedClose();
      // The window closes whatever happens now: a message that would only flash in a box
      // before it goes (one waiting for a dialog this ends, say) is told by the exit instead.
      ThreadMessageBox::StopShowing();
    }
  }
  if (modalDialogs_) {
    modalDialogs_->EndAll();
    // The dialogs return to their callers once their loops unwind; the window closes
    // after that.
    if (!modalDialogs_->Empty()) {
      if (!exitRetry_) {
        exitRetry_ = std::make_unique<wxTimer>();
        exitRetry_->Bind(wxEVT_TIMER,
                         [this](wxTimerEvent&) { RequestOrderlyExit(exitUnattended_); });
      }
      exitRetry_->StartOnce(kExitRetryMs);
      return;
    }
  }
  if (frame_) frame_->Close(true);
}

void OrbanelApp::OnAppAbout() {
  CAboutDlg dialog(GetMainFrame());
  dialog.ShowModal();
}

}  // namespace app
