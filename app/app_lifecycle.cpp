#include "app/app_lifecycle.h"

#include <algorithm>
#include <utility>

namespace app {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string LoadProblemMessage(const FileProblem& problem) {
  return "The configuration file " + problem.path + " cannot be read: " + problem.text +
         ". Lumivar starts without monitors and leaves the file as it is.";
}

// The text that asks the user, after the save's own message.
constexpr char kUnsavedExitQuestion[] =
    " The changes that are not saved are lost if Lumivar exits now.";
// The log row of a save that failed at exit, after the save's own message.
constexpr char kLostAtExit[] = " The changes that were not saved are lost.";
// Before the note the last exit left, as told at the next start.
constexpr char kAtLastExit[] = "When Lumivar last exited: ";

}  // namespace

std::string SaveProblemMessage(const FileProblem& problem) {
  std::string message =
      "The configuration could not be saved to " + problem.path + ": " + problem.text + ".";
  if (!problem.unremoved.empty()) {
    message += " Still in it, though removed in the window: ";
    for (std::size_t i = 0; i < problem.unremoved.size(); ++i) {
      message += (i == 0 ? "" : "; ") + problem.unremoved[i];
    }
    message += ".";
  }
  return message;
}

std::string SettingsSaveProblemMessage(const FileProblem& problem) {
  if (problem.path.empty()) return "The settings could not be saved: " + problem.text + ".";
  return "The settings could not be saved to " + problem.path + ": " + problem.text + ".";
}

bool IsAutorunCommandLine(const std::vector<std::string>& args) {
  return args.size() == 1 && args[0] == "autorun";
}

std::string BuildStartedMonitors(const std::vector<MonitorState>& monitors) {
  std::string started = " ";
  for (const MonitorState& m : monitors) {
    if (m.running && !m.id.empty()) started += m.id + ";";
  }
  return started;
}

bool IsInStartedMonitors(std::string_view startedMonitors, std::string_view id) {
  id = TrimBlanks(id);
  if (id.empty()) return false;
  while (!startedMonitors.empty()) {
    const std::size_t end = startedMonitors.find(';');
    if (TrimBlanks(startedMonitors.substr(0, end)) == id) return true;
    if (end == std::string_view::npos) break;
    startedMonitors.remove_prefix(end + 1);
  }
  return false;
}

AppLifecycle::AppLifecycle(IInstanceLock& lock, IStartupSettings& settings, IMonitorStore& store,
                           Sleeper sleep, Reporter report, Clock clock)
    : lock_(lock),
      settings_(settings),
      store_(store),
      sleep_(std::move(sleep)),
      report_(std::move(report)),
      clock_(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now)) {}

AppLifecycle::~AppLifecycle() {
  if (locked_) lock_.Release();
}

AppLifecycle::StartResult AppLifecycle::Start(const std::vector<std::string>& args,
                                              const std::function<void()>& afterSettingsLoaded,
                                              const std::function<bool()>& createMainWindow) {
  // The mark is taken before the autorun wait and held until Exit() has finished, so a
  // second start during the wait, the loading or a long exit ends at once.
  if (!lock_.TryAcquire()) return StartResult::kAnotherInstance;
  locked_ = true;

  if (IsAutorunCommandLine(args) && sleep_) sleep_(kAutorunDelay);

  const std::optional<std::string> settingsProblem = settings_.Load();
  if (afterSettingsLoaded) afterSettingsLoaded();
  store_.InitializeDatabase();
  const std::optional<FileProblem> loadProblem = store_.LoadAll();
  storeLoaded_ = !loadProblem;

  if (!createMainWindow || !createMainWindow()) {
    // Nothing has changed yet, so nothing is saved; the next start finds everything as it
    // was.
    lock_.Release();
    locked_ = false;
    return StartResult::kNoMainWindow;
  }
  started_ = true;
  if (settingsProblem) Report(*settingsProblem);
  if (const std::string note = settings_.TakeExitNote(); !note.empty()) Report(kAtLastExit + note);
  if (loadProblem) Report(LoadProblemMessage(*loadProblem));

  const std::string startedMonitors = settings_.StartedMonitors();
  for (const MonitorState& m : store_.Monitors()) {
    store_.AddLog(m.id, kApplicationOpened);
    if (IsInStartedMonitors(startedMonitors, m.id)) store_.StartMonitor(m.id);
  }
  return StartResult::kStarted;
}

bool AppLifecycle::Exit() {
  if (!started_) return true;
  started_ = false;

  // Everything is on disk before anything is stopped: a stop can take the whole bound,
  // and a session that ends the process meanwhile must find nothing lost.
  std::vector<std::string> reported;
  store_.LimitWaits();
  RecordStartedMonitors();
  SaveEverything(reported);

  const auto deadline = clock_() + kExitStopBound;
  const bool allEnded = store_.StopAll(deadline);
  // Whatever changed while stopping.
  SaveProblems last = SaveEverything(reported);
  if (!store_.HasUnsavedEdits()) last.store.reset();
  std::string lostWork;
  if (last.store) lostWork = SaveProblemMessage(*last.store) + kLostAtExit;
  if (last.settings) {
    lostWork +=
        (lostWork.empty() ? "" : " ") + SettingsSaveProblemMessage(*last.settings) + kLostAtExit;
  }
  std::vector<std::string> untold;
  if (untold_) {
    for (std::string& message : untold_()) {
      if (std::find(untold.begin(), untold.end(), message) != untold.end()) continue;
      if (std::find(reported.begin(), reported.end(), message) == reported.end()) Report(message);
      untold.push_back(std::move(message));
    }
  }
  const std::vector<MonitorState> monitors = store_.Monitors();
  for (const MonitorState& m : monitors) {
    for (const std::string& message : untold) store_.AddLog(m.id, message);
    store_.AddLog(m.id, kApplicationClosed);
    // Found in the Log view at the next start.
    if (!lostWork.empty()) store_.AddLog(m.id, lostWork);
  }
  // A monitor the configuration file never held is not there at the next start, and
  // neither are its rows: the note says what they would have said, one line each. When the
  // settings cannot take the note either, standard error (above) is all there is.
  if (monitors.empty() || !storeLoaded_) {
    std::string note;
    for (const std::string& message : untold) note += (note.empty() ? "" : "\n") + message;
    if (!lostWork.empty()) note += (note.empty() ? "" : "\n") + lostWork;
    if (!note.empty()) settings_.LeaveExitNote(note);
  }
  const std::size_t lost = store_.FlushLog(std::max(deadline, clock_() + kExitLogBound));
  if (lost > 0) {
    Report(std::to_string(lost) + (lost == 1 ? " log row" : " log rows") +
           " could not be written.");
  }
  // An abandoned thread, or a log row still being written, may still use the library.
  if (allEnded && lost == 0) store_.ShutdownDatabase();

  lock_.Release();
  locked_ = false;
  return allEnded;
}

void AppLifecycle::Report(const std::string& message) {
  if (report_) report_(message);
}

bool AppLifecycle::SaveBeforeClose(const AskUnsavedExit& ask) {
  while (true) {
    std::optional<FileProblem> store = store_.SaveAll(kExitBusyLimit);
    // The file already holds every edit when none is waiting.
    if (!store_.HasUnsavedEdits()) store.reset();
    RecordStartedMonitors();
    const std::optional<FileProblem> settings = settings_.Save();
    if (!store && !settings) return true;
    std::string message = store ? SaveProblemMessage(*store) : std::string();
    if (settings) message += (message.empty() ? "" : " ") + SettingsSaveProblemMessage(*settings);
    switch (ask ? ask(message + kUnsavedExitQuestion) : UnsavedExitChoice::kKeepRunning) {
      case UnsavedExitChoice::kTryAgain:
        continue;
      case UnsavedExitChoice::kExitWithoutSaving:
        if (store) {
          storeSaveDeclined_ = true;
          store_.DropUnsavedEdits();
        }
        if (settings) settingsSaveDeclined_ = true;
        return true;
      case UnsavedExitChoice::kKeepRunning:
        store_.ExitCancelled();
        return false;
    }
  }
}

void AppLifecycle::RecordStartedMonitors() {
  if (!storeLoaded_) return;
  std::vector<MonitorState> monitors = store_.Monitors();
  // A deletion that never reaches the file leaves the monitor as it was, running included.
  for (MonitorState& deleted : store_.UnfinishedDeletions()) monitors.push_back(std::move(deleted));
  settings_.SetStartedMonitors(BuildStartedMonitors(monitors));
}

AppLifecycle::SaveProblems AppLifecycle::SaveEverything(std::vector<std::string>& reported) {
  SaveProblems problems;
  if (!storeSaveDeclined_) problems.store = store_.SaveAll(kExitBusyLimit);
  if (!settingsSaveDeclined_) problems.settings = settings_.Save();
  std::vector<std::string> messages;
  if (problems.store) messages.push_back(SaveProblemMessage(*problems.store));
  if (problems.settings) messages.push_back(SettingsSaveProblemMessage(*problems.settings));
  for (const std::string& message : messages) {
    if (std::find(reported.begin(), reported.end(), message) != reported.end()) continue;
    reported.push_back(message);
    Report(message);
  }
  return problems;
}

}  // namespace app
