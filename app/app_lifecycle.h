// The program's start-up and exit sequences, apart from any window: the single-instance
// mark, the autorun wait, the settings, the monitor store and its log lines. OrbanelApp
// runs them on the UI thread through the small interfaces below, which the real lock,
// settings and store implement; the tests pass fakes and need no display.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// A file that could not be read or written: its path and the library's text, and for the
// configuration file what the removals it does not hold yet take out of it
// (`the test query "Orders" of the monitor "Sales"`).
struct FileProblem {
  FileProblem() = default;
  FileProblem(std::string path, std::string text, std::vector<std::string> unremoved = {})
      : path(std::move(path)), text(std::move(text)), unremoved(std::move(unremoved)) {}
  std::string path;
  std::string text;
  std::vector<std::string> unremoved;
  bool operator==(const FileProblem&) const = default;
};

// What start-up and exit need of the settings object.
class IStartupSettings {
 public:
  virtual ~IStartupSettings() = default;
  // Sets the settings base path and reads the settings. When the file cannot be read, the
  // settings keep their defaults and what to tell the user is returned.
  virtual std::optional<std::string> Load() = 0;
  // Writes the settings; the file and the reason when they could not be written.
  virtual std::optional<FileProblem> Save() = 0;
  virtual std::string StartedMonitors() const = 0;
  virtual void SetStartedMonitors(std::string value) = 0;
  // The note an exit left for the next start, removed from the settings; "" when none.
  virtual std::string TakeExitNote() = 0;
  // Leaves a note for the next start; false when it could not be stored.
  virtual bool LeaveExitNote(const std::string& text) = 0;
};

struct MonitorState {
  std::string id;
  bool running = false;
};

// What start-up and exit need of the monitor store.
class IMonitorStore {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  virtual ~IMonitorStore() = default;
  virtual void InitializeDatabase() = 0;
  // Creates missing tables and loads every monitor and action. When the configuration
  // file cannot be opened or read, the store starts empty, never writes that file, and
  // the problem is returned.
  virtual std::optional<FileProblem> LoadAll() = 0;
  // Every monitor in store order; one whose stop was asked for counts as not running.
  virtual std::vector<MonitorState> Monitors() const = 0;
  virtual void StartMonitor(const std::string& id) = 0;
  // From now on no file access waits long for another process's lock.
  virtual void LimitWaits() = 0;
  // Stops the monitors, the action executions and the e-mail report against the one
  // deadline: all are asked to end at once, waited for until the deadline, and then
  // abandoned (they touch nothing afterwards). True when every one of them has ended.
  virtual bool StopAll(Deadline deadline) = 0;
  // Writes every monitor and action, waiting at most busyLimit for another process's lock
  // on the file; the problem when the file could not be written. From the first call on, a
  // removal is unsaved work like an edit: tried again until it is in the file, never put
  // back, until ExitCancelled.
  virtual std::optional<FileProblem> SaveAll(std::chrono::milliseconds busyLimit) = 0;
  // The user kept the program running after a save at the close failed: removals the file
  // refuses come back and are told again, as before the close.
  virtual void ExitCancelled() = 0;
  // Monitors deleted in the window whose deletion is not in the file (still waiting, or
  // given up): the next start finds them. running: when their deletion was asked for.
  virtual std::vector<MonitorState> UnfinishedDeletions() const = 0;
  // Whether some edit is not yet in the file.
  virtual bool HasUnsavedEdits() const = 0;
  // Forgets the edits not yet written: nothing writes them any more.
  virtual void DropUnsavedEdits() = 0;
  // An INFO line in the monitor's log.
  virtual void AddLog(const std::string& id, const std::string& text) = 0;
  // Waits until every log line asked for is written or the deadline passes; the number
  // of lines given up.
  virtual std::size_t FlushLog(Deadline deadline) = 0;
  // Shuts the database library down, but only when no connection is open.
  virtual void ShutdownDatabase() = 0;
};

inline constexpr std::chrono::seconds kAutorunDelay{30};
inline constexpr char kApplicationOpened[] = "Application opened.";
inline constexpr char kApplicationClosed[] = "Application closed.";
// Exit waits this long, in all, for the monitors, the actions and the report to end.
inline constexpr std::chrono::seconds kExitStopBound{10};
// The closing log lines are waited for at least this long, even after a stop that took
// the whole bound.
inline constexpr std::chrono::seconds kExitLogBound{2};
// From the exit's first save on, a file held by another process is waited for this long
// per call.
inline constexpr std::chrono::seconds kExitBusyLimit{1};

// What the user chose when the edits could not be saved as the window closed.
enum class UnsavedExitChoice { kTryAgain, kExitWithoutSaving, kKeepRunning };

// The message of a save that failed, as told at exit, naming the removals not in the file.
std::string SaveProblemMessage(const FileProblem& problem);
// The same for the settings file.
std::string SettingsSaveProblemMessage(const FileProblem& problem);

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
  // Tells the user about a problem: a file that could not be read or written, log lines
  // that were lost.
  using Reporter = std::function<void(const std::string& message)>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  enum class StartResult {
    kStarted,          // the main window exists; Exit() must run at the end
    kAnotherInstance,  // another process holds the mark; nothing was read or written
    kNoMainWindow,     // the main window could not be made; nothing was written
  };

  // The references must outlive this object. sleep is the autorun wait; report may be
  // empty; clock is the steady clock unless given.
  AppLifecycle(IInstanceLock& lock, IStartupSettings& settings, IMonitorStore& store, Sleeper sleep,
               Reporter report = nullptr, Clock clock = nullptr);
  ~AppLifecycle();
  AppLifecycle(const AppLifecycle&) = delete;
  AppLifecycle& operator=(const AppLifecycle&) = delete;

  // The start-up sequence. args are the command-line arguments after the program name.
  // afterSettingsLoaded runs once the settings are read (the app installs its signal
  // handling there); createMainWindow makes and shows the main window and returns false
  // when it could not. Once the window exists, a settings file that could not be read, the
  // note the last exit left, and a configuration file that cannot be read are reported,
  // each once.
  StartResult Start(const std::vector<std::string>& args,
                    const std::function<void()>& afterSettingsLoaded,
                    const std::function<bool()>& createMainWindow);

  // The exit sequence; does nothing unless Start() returned kStarted. Records the running
  // monitors (only when the store was loaded: otherwise the recorded set stays as it was)
  // and saves the store and the settings first, so that a process ended during the stop
  // loses nothing; then stops everything against one bound (kExitStopBound), saves again,
  // writes the closing log lines, shuts the database library down when no engine thread
  // was abandoned, and releases the single-instance mark last. Files that could not be
  // written and lost log lines are reported. When the last save of the store (with edits
  // not in the file) or of the settings failed, every monitor's log gets one row saying so
  // after its closing line. With no loaded monitor to carry the rows, the settings keep the
  // untold messages and the failed save, one line each, as a note for the next start. True
  // when every engine thread ended (none was abandoned).
  bool Exit();

  // Before the window closes at the user's request: saves the store, waiting at most
  // kExitBusyLimit for another process's lock, and the settings with the running set.
  // When the store fails while edits are not in the file, or the settings fail, ask is
  // given the message, which names each file and its reason, and the user chooses: to try
  // again, to exit without saving (the edits not written are forgotten, and Exit saves
  // neither the store nor the settings whichever failed), or to keep the program running.
  // True when the window may close.
  using AskUnsavedExit = std::function<UnsavedExitChoice(const std::string& message)>;
  bool SaveBeforeClose(const AskUnsavedExit& ask);

  // The messages meant for the user that never reached the screen (the exit began while
  // they waited to be shown, or they came during it).
  using UntoldMessages = std::function<std::vector<std::string>()>;
  // Exit takes them once, after its last save: each is reported (unless the exit reported
  // the same text itself) and becomes a row in every monitor's log before its closing line,
  // or a line of the note for the next start when no loaded monitor carries the rows; a
  // message given twice counts once.
  void SetUntoldMessages(UntoldMessages take) { untold_ = std::move(take); }

  bool IsStarted() const { return started_; }

 private:
  IInstanceLock& lock_;
  IStartupSettings& settings_;
  IMonitorStore& store_;
  void Report(const std::string& message);
  // What a save of the store and the settings could not write.
  struct SaveProblems {
    std::optional<FileProblem> store;
    std::optional<FileProblem> settings;
  };
  // Records the running set, unless the store was never loaded: the monitors running now,
  // and those that ran when they were deleted and whose deletion is not in the file.
  void RecordStartedMonitors();
  // Saves the store and the settings, each unless the user declined; reports each problem
  // once per exit.
  SaveProblems SaveEverything(std::vector<std::string>& reported);

  Sleeper sleep_;
  Reporter report_;
  Clock clock_;
  UntoldMessages untold_;
  bool locked_ = false;
  bool started_ = false;
  bool storeLoaded_ = false;  // the configuration file was read at start-up
  // The user chose to exit without saving what could not be saved.
  bool storeSaveDeclined_ = false;
  bool settingsSaveDeclined_ = false;
};

}  // namespace app
