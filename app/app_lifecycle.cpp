#include "app/app_lifecycle.h"

#include <utility>

namespace app {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

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
                           Sleeper sleep)
    : lock_(lock), settings_(settings), store_(store), sleep_(std::move(sleep)) {}

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

  settings_.Load();
  if (afterSettingsLoaded) afterSettingsLoaded();
  store_.InitializeDatabase();
  store_.LoadAll();

  if (!createMainWindow || !createMainWindow()) {
    // Nothing has changed yet, so nothing is saved; the next start finds everything as it
    // was.
    lock_.Release();
    locked_ = false;
    return StartResult::kNoMainWindow;
  }
  started_ = true;

  const std::string startedMonitors = settings_.StartedMonitors();
  for (const MonitorState& m : store_.Monitors()) {
    store_.AddLog(m.id, kApplicationOpened);
    if (IsInStartedMonitors(startedMonitors, m.id)) store_.StartMonitor(m.id);
  }
  return StartResult::kStarted;
}

void AppLifecycle::Exit() {
  if (!started_) return;
  started_ = false;

  settings_.SetStartedMonitors(BuildStartedMonitors(store_.Monitors()));
  store_.StopAll();
  store_.SaveAll();
  // Written before the library may be shut down, so the lines reach the log in any case.
  for (const MonitorState& m : store_.Monitors()) store_.AddLog(m.id, kApplicationClosed);
  store_.ShutdownDatabase();
  settings_.Save();

  lock_.Release();
  locked_ = false;
}

}  // namespace app
