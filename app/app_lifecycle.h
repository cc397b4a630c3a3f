// The program's start-up and exit sequences, apart from any window: the single-instance
// mark, the autorun wait, the settings, the monitor store and its log lines. OrbanelApp
// runs them on the UI thread through the small interfaces below, which the real lock,
// settings and store implement; the tests pass fakes and need no display.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The per-user single-instance mark.
class IInstanceLock {
 public:
  virtual ~IInstanceLock() = default;
  // Takes the mark; false when another process of this user holds it.
  virtual bool TryAcquire() = 0;
  virtual void Release() = 0;
};

// What start-up and exit need of the settings object.
class IStartupSettings {
 public:
  virtual ~IStartupSettings() = default;
  // Sets the settings base path and reads the settings.
  virtual void Load() = 0;
  virtual void Save() = 0;
  virtual std::string StartedMonitors() const = 0;
  virtual void SetStartedMonitors(std::string value) = 0;
};

struct MonitorState {
  std::string id;
  bool running = false;
};

// What start-up and exit need of the monitor store.
class IMonitorStore {
 public:
  virtual ~IMonitorStore() = default;
  virtual void InitializeDatabase() = 0;
  // Creates missing tables and loads every monitor and action; failures are the store's
  // to report, start-up goes on with what was loaded.
  virtual void LoadAll() = 0;
  // Every monitor in store order.
  virtual std::vector<MonitorState> Monitors() const = 0;
  virtual void StartMonitor(const std::string& id) = 0;
  // Signals every running monitor to stop, then waits for all of them against one bound.
  virtual void StopAll() = 0;
  virtual void SaveAll() = 0;
  // An INFO line in the monitor's log.
  virtual void AddLog(const std::string& id, const std::string& text) = 0;
  // Shuts the database library down, but only when no engine thread can still use it.
  virtual void ShutdownDatabase() = 0;
};

inline constexpr std::chrono::seconds kAutorunDelay{30};
inline constexpr char kApplicationOpened[] = "Application opened.";
inline constexpr char kApplicationClosed[] = "Application closed.";

// True when the only argument after the program name is exactly "autorun".
bool IsAutorunCommandLine(const std::vector<std::string>& args);

// " " followed by "id;" for each running monitor, in store order.
std::string BuildStartedMonitors(const std::vector<MonitorState>& monitors);

// Whether the identifier is one of the ";"-separated entries of the startedMonitors text
// (blanks around an entry do not count). An empty identifier never matches.
bool IsInStartedMonitors(std::string_view startedMonitors, std::string_view id);

class AppLifecycle {
 public:
  using Sleeper = std::function<void(std::chrono::seconds)>;

  enum class StartResult {
    kStarted,          // the main window exists; Exit() must run at the end
    kAnotherInstance,  // another process holds the mark; nothing was read or written
    kNoMainWindow,     // the main window could not be made; nothing was written
  };

  // The references must outlive this object. sleep is the autorun wait.
  AppLifecycle(IInstanceLock& lock, IStartupSettings& settings, IMonitorStore& store,
               Sleeper sleep);
  ~AppLifecycle();
  AppLifecycle(const AppLifecycle&) = delete;
  AppLifecycle& operator=(const AppLifecycle&) = delete;

  // The start-up sequence. args are the command-line arguments after the program name.
  // afterSettingsLoaded runs once the settings are read (the app installs its signal
  // handling there); createMainWindow makes and shows the main window and returns false
  // when it could not.
  StartResult Start(const std::vector<std::string>& args,
                    const std::function<void()>& afterSettingsLoaded,
                    const std::function<bool()>& createMainWindow);

  // The exit sequence; does nothing unless Start() returned kStarted. Records the running
  // monitors, stops and saves them, writes the closing log lines, saves the settings and
  // releases the single-instance mark last.
  void Exit();

  bool IsStarted() const { return started_; }

 private:
  IInstanceLock& lock_;
  IStartupSettings& settings_;
  IMonitorStore& store_;
  Sleeper sleep_;
  bool locked_ = false;
  bool started_ = false;
};

}  // namespace app
