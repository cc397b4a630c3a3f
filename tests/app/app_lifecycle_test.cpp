// Start-up and exit sequences against fakes of the lock, the settings and the store: the
// order of the steps, the monitors restarted, and what an early end leaves alone.
#include "app/app_lifecycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// One fake of the lock, the settings and the store, writing into one journal, so the
// tests see the order across them.
using Journal = std::vector<std::string>;

struct Rig : IInstanceLock, IStartupSettings, IMonitorStore {
  using Deadline = IMonitorStore::Deadline;
  bool TryAcquire() override {
    journal.push_back("lock");
    held = !heldElsewhere;
    return held;
  }
  void Release() override {
    journal.push_back("unlock");
    held = false;
  }
  std::optional<std::string> Load() override {
    journal.push_back("settings.load");
    // An unreadable file leaves the defaults.
    startedInMemory = settingsUnreadable ? "" : startedStored;
    if (settingsUnreadable) return "the settings file cannot be read";
    return std::nullopt;
  }
  std::optional<FileProblem> Save() override {
    journal.push_back("settings.save");
    if (settingsSaveFailures > 0) {
      --settingsSaveFailures;
      return settingsProblem;
    }
    startedStored = startedInMemory;
    return std::nullopt;
  }
  std::string StartedMonitors() const override { return startedInMemory; }
  void SetStartedMonitors(std::string value) override {
    journal.push_back("settings.started=" + value);
    startedInMemory = std::move(value);
  }
  std::string TakeExitNote() override {
    journal.push_back("note.take");
    return std::exchange(note, "");
  }
  bool LeaveExitNote(const std::string& text) override {
    journal.push_back("note.leave");
    if (settingsSaveFailures > 0) return false;
    note = text;
    return true;
  }
  void InitializeDatabase() override { journal.push_back("db.init"); }
  std::optional<FileProblem> LoadAll() override {
    journal.push_back("store.load");
    return loadProblem;
  }
  std::vector<MonitorState> Monitors() const override { return monitors; }
  void StartMonitor(const std::string& id) override {
    journal.push_back("start " + id);
    for (auto& m : monitors)
      if (m.id == id) m.running = true;
  }
  void LimitWaits() override { journal.push_back("store.limitWaits"); }
  bool StopAll(Deadline deadline) override {
    journal.push_back("store.stopAll");
    stopDeadline = deadline;
    now += stopTakes;
    for (auto& m : monitors) m.running = false;
    return allEnd;
  }
  std::optional<FileProblem> SaveAll(std::chrono::milliseconds busyLimit) override {
    journal.push_back("store.save");
    saveLimits.push_back(busyLimit);
    if (saveProblems.empty()) return std::nullopt;
    FileProblem problem = saveProblems.front();
    saveProblems.erase(saveProblems.begin());
    return problem;
  }
  void ExitCancelled() override { journal.push_back("store.exitCancelled"); }
  std::vector<MonitorState> UnfinishedDeletions() const override { return unfinished; }
  bool HasUnsavedEdits() const override { return unsaved; }
  void DropUnsavedEdits() override {
    journal.push_back("store.drop");
    unsaved = false;
  }
  void AddLog(const std::string& id, const std::string& text) override {
    journal.push_back("log " + id + " " + text);
  }
  std::size_t FlushLog(Deadline deadline) override {
    journal.push_back("log.flush");
    flushDeadline = deadline;
    return lostRows;
  }
  void ShutdownDatabase() override { journal.push_back("db.shutdown"); }

  AppLifecycle::StartResult Start(AppLifecycle& life, std::vector<std::string> args = {}) {
    return life.Start(
        args, [this]() { journal.push_back("ui-services"); },
        [this]() {
          journal.push_back("window");
          return windowMade;
        });
  }
  AppLifecycle Make() {
    return AppLifecycle(
        *this, *this, *this,
        [this](std::chrono::seconds s) {
          journal.push_back("sleep");
          sleeps.push_back(s);
        },
        [this](const std::string& message) {
          journal.push_back("report");
          reports.push_back(message);
        },
        [this] { return now; });
  }

  Journal journal;
  bool heldElsewhere = false, held = false, windowMade = true;
  // The store and the settings.
  std::optional<FileProblem> loadProblem;
  std::vector<FileProblem> saveProblems;  // the next saves' results, in order
  std::vector<std::chrono::milliseconds> saveLimits;
  bool unsaved = true;  // edits not in the file
  bool settingsUnreadable = false;
  int settingsSaveFailures = 0;  // the next settings saves that fail
  FileProblem settingsProblem{"/c/Lumivar.conf", "No space left on device"};
  std::string note;  // the note the settings file holds for the next start
  bool allEnd = true;
  std::size_t lostRows = 0;
  // The clock: the stop advances it by stopTakes.
  Deadline now{std::chrono::hours(1)};
  std::chrono::seconds stopTakes{0};
  Deadline stopDeadline{}, flushDeadline{};
  std::vector<std::string> reports;
  std::string startedStored;  // what the settings file holds
  std::string startedInMemory;
  std::vector<MonitorState> monitors;
  std::vector<MonitorState> unfinished;  // deleted monitors the file still holds
  std::vector<std::chrono::seconds> sleeps;
};

TEST(AutorunTest, OnlyTheExactSingleArgument) {
  const struct {
    std::vector<std::string> args;
    bool autorun;
  } cases[] = {
      {{"autorun"}, true},         {{}, false},
      {{"Autorun"}, false},        {{"AUTORUN"}, false},
      {{"/autorun"}, false},       {{"autorun "}, false},
      {{" autorun"}, false},       {{"autorun", "x"}, false},
      {{"x", "autorun"}, false},   {{""}, false},
      {{"autorunautorun"}, false},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    EXPECT_EQ(IsAutorunCommandLine(c.args), c.autorun) << shown;
  }
}

TEST(StartedMonitorsTest, BuiltAsBlankThenIdSemicolonPerRunningMonitor) {
  EXPECT_EQ(BuildStartedMonitors({}), " ");
  EXPECT_EQ(BuildStartedMonitors({{"a", false}}), " ");
  EXPECT_EQ(BuildStartedMonitors({{"id1", true}, {"id2", true}, {"id3", false}}), " id1;id2;");
  // A monitor without identifier could never be found again; it is left out.
  EXPECT_EQ(BuildStartedMonitors({{"", true}, {"id2", true}}), " id2;");
}

TEST(StartedMonitorsTest, MembershipIsByWholeEntry) {
  const struct {
    const char* started;
    const char* id;
    bool member;
  } cases[] = {
      {" id1;id2;", "id1", true},
      {" id1;id2;", "id2", true},
      {" id1;id2;", "id3", false},
      {" id1;id2;", "id", false},  // a part of an identifier is not a match
      {" id1;id2;", "d1", false},
      {" id1;id2", "id2", true},  // a last entry without ";"
      {"id1 ; id2 ;", "id2", true},
      {" ", "id1", false},
      {"", "id1", false},
      // An empty identifier never matches, whatever the text holds.
      {" id1;id2;", "", false},
      {" ;", "", false},
      {";;", "", false},
      {" ", "", false},
      {"", "", false},
      {" id1;", " ", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInStartedMonitors(c.started, c.id), c.member)
        << "[" << c.started << "] [" << c.id << "]";
  }
}

TEST(AppLifecycleTest, StartAndExitRunTheirStepsInOrder) {
  Rig rig;
  rig.monitors = {{"M1"}, {"M2"}, {"M3"}};
  rig.startedStored = " M1;M3;";
  AppLifecycle life = rig.Make();

  EXPECT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
  EXPECT_THAT(rig.journal,
              ElementsAre("lock", "settings.load", "ui-services", "db.init", "store.load", "window",
                          "note.take", "log M1 Application opened.", "start M1",
                          "log M2 Application opened.", "log M3 Application opened.", "start M3"));
  EXPECT_TRUE(rig.sleeps.empty());
  EXPECT_TRUE(rig.held);

  // Exit records the running set and saves everything before it stops anything; then it
  // writes the closing lines, waits for them, saves again, and releases the mark last.
  rig.monitors[1].running = true;
  rig.monitors[2].running = false;
  rig.journal.clear();
  EXPECT_TRUE(life.Exit());
  EXPECT_THAT(rig.journal,
              ElementsAre("store.limitWaits", "settings.started= M1;M2;", "store.save",
                          "settings.save", "store.stopAll", "store.save", "settings.save",
                          "log M1 Application closed.", "log M2 Application closed.",
                          "log M3 Application closed.", "log.flush", "db.shutdown", "unlock"));
  EXPECT_EQ(rig.startedStored, " M1;M2;");
  EXPECT_THAT(rig.reports, IsEmpty());

  // A second call (the destructor included) changes nothing.
  rig.journal.clear();
  life.Exit();
  EXPECT_THAT(rig.journal, IsEmpty());
}

// The journal lines that start with prefix.
std::vector<std::string> Lines(const Journal& journal, const std::string& prefix) {
  std::vector<std::string> lines;
  for (const auto& line : journal)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  return lines;
}

// Start, exit with a given set running, start again: each start logs every monitor and
// restarts exactly the saved set; a monitor without identifier is never restarted.
TEST(AppLifecycleTest, TheNextStartRestartsExactlyTheMonitorsRunningAtExit) {
  const struct {
    std::vector<std::string> monitors;
    std::string stored;
    std::vector<std::string> started, runningAtExit;
    std::string storedAtExit;
    std::vector<std::string> restarted;
  } cases[] = {
      {{"M1", "M2", "M3"}, "", {}, {"M1", "M2"}, " M1;M2;", {"start M1", "start M2"}},
      {{"M1", "M2"}, "", {}, {}, " ", {}},
      {{"", "M2"}, " ;M2;", {"start M2"}, {"", "M2"}, " M2;", {"start M2"}},
      {{}, " M1;", {}, {}, " ", {}},  // an empty store writes no log lines
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.storedAtExit);
    Rig rig;
    for (const auto& id : c.monitors) rig.monitors.push_back({id});
    rig.startedStored = c.stored;
    std::vector<std::string> opened, closed;
    for (const auto& id : c.monitors) {
      opened.push_back("log " + id + " Application opened.");
      closed.push_back("log " + id + " Application closed.");
    }
    {
      AppLifecycle first = rig.Make();
      ASSERT_EQ(rig.Start(first), AppLifecycle::StartResult::kStarted);
      EXPECT_EQ(Lines(rig.journal, "start "), c.started);
      for (auto& m : rig.monitors)
        m.running = std::find(c.runningAtExit.begin(), c.runningAtExit.end(), m.id) !=
                    c.runningAtExit.end();
      rig.journal.clear();
      first.Exit();
      EXPECT_EQ(Lines(rig.journal, "log "), closed);
    }
    EXPECT_EQ(rig.startedStored, c.storedAtExit);
    rig.journal.clear();
    AppLifecycle second = rig.Make();
    ASSERT_EQ(rig.Start(second), AppLifecycle::StartResult::kStarted);
    EXPECT_EQ(Lines(rig.journal, "log "), opened);
    EXPECT_EQ(Lines(rig.journal, "start "), c.restarted);
  }
}

// One bound for all the stops; the closing lines get what is left of it, and at least a
// little time when the stops took it all.
TEST(AppLifecycleTest, ExitStopsAgainstOneBoundAndGivesTheClosingLinesTheirTime) {
  const struct {
    std::chrono::seconds stopTakes;
    std::chrono::seconds flushAfterExitBegan;
  } cases[] = {
      {std::chrono::seconds(0), std::chrono::seconds(10)},
      {std::chrono::seconds(4), std::chrono::seconds(10)},
      {std::chrono::seconds(9), std::chrono::seconds(11)},
      {std::chrono::seconds(10), std::chrono::seconds(12)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stopTakes.count());
    Rig rig;
    rig.monitors = {{"M1"}};
    rig.stopTakes = c.stopTakes;
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    const Rig::Deadline began = rig.now;
    life.Exit();
    EXPECT_EQ(rig.stopDeadline - began, kExitStopBound);
    EXPECT_EQ(rig.flushDeadline - began, c.flushAfterExitBegan);
  }
}

// What exit could not write is told once each; the library stays up while an abandoned
// thread or a queued log row may still use it.
TEST(AppLifecycleTest, ExitReportsWhatItCouldNotWriteAndKeepsTheLibraryWhileInUse) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const FileProblem notADatabase{"/d/varnholt.cfg", "file is not a database"};
  const std::string lockedText =
      "The configuration could not be saved to /d/varnholt.cfg: "
      "database is locked.";
  const std::string notADatabaseText =
      "The configuration could not be saved to /d/varnholt.cfg: file is not a database.";
  const struct {
    const char* name;
    std::vector<FileProblem> saveProblems;
    int settingsSaveFailures;
    bool allEnd;
    std::size_t lostRows;
    std::vector<std::string> reports;
    bool shutdown;
  } cases[] = {
      {"all well", {}, 0, true, 0, {}, true},
      {"first save fails", {locked}, 0, true, 0, {lockedText}, true},
      {"both saves fail alike", {locked, locked}, 0, true, 0, {lockedText}, true},
      {"both saves fail differently",
       {locked, notADatabase},
       0,
       true,
       0,
       {lockedText, notADatabaseText},
       true},
      {"settings",
       {},
       2,
       true,
       0,
       {"The settings could not be saved to /c/Lumivar.conf: No space left on device."},
       true},
      {"one lost row", {}, 0, true, 1, {"1 log row could not be written."}, false},
      {"lost rows", {}, 0, true, 3, {"3 log rows could not be written."}, false},
      {"a thread abandoned", {}, 0, false, 0, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.monitors = {{"M1", true}};
    rig.saveProblems = c.saveProblems;
    rig.settingsSaveFailures = c.settingsSaveFailures;
    rig.allEnd = c.allEnd;
    rig.lostRows = c.lostRows;
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    EXPECT_EQ(life.Exit(), c.allEnd);
    EXPECT_EQ(rig.reports, c.reports);
    EXPECT_EQ(Lines(rig.journal, "db.shutdown").size(), c.shutdown ? 1u : 0u);
    EXPECT_EQ(rig.journal.back(), "unlock");
  }
}

// Closing the window saves the store and the settings first; a save that fails asks the
// user, who may try again, exit without saving (then nothing saves what failed any more)
// or keep the program running. One question names every file that failed.
TEST(AppLifecycleTest, AFailedSaveAsTheWindowClosesAsksTheUser) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const std::string storeText =
      "The configuration could not be saved to /d/varnholt.cfg: database is locked.";
  const std::string settingsText =
      "The settings could not be saved to /c/Lumivar.conf: No space left on device.";
  const std::string lost = " The changes that are not saved are lost if Lumivar exits now.";
  const std::string storeQuestion = storeText + lost;
  const std::string settingsQuestion = settingsText + lost;
  const std::string bothQuestion = storeText + " " + settingsText + lost;
  using C = UnsavedExitChoice;
  const struct {
    const char* name;
    std::vector<FileProblem> saveProblems;
    int settingsSaveFailures;
    std::vector<C> answers;
    std::string question;
    bool closes;
    std::size_t exitSaves;          // store saves during Exit
    std::size_t exitSettingsSaves;  // settings saves during Exit
    bool unsaved = true;            // edits not in the file
  } cases[] = {
      {"saved", {}, 0, {}, "", true, 2, 2},
      {"saved on the second try", {locked}, 0, {C::kTryAgain}, storeQuestion, true, 2, 2},
      {"tried twice, then kept running",
       {locked, locked},
       0,
       {C::kTryAgain, C::kKeepRunning},
       storeQuestion,
       false,
       2,
       2},
      {"exit without saving", {locked}, 0, {C::kExitWithoutSaving}, storeQuestion, true, 0, 2},
      {"nothing to lose", {locked}, 0, {}, "", true, 2, 2, false},
      {"settings refused, kept running", {}, 1, {C::kKeepRunning}, settingsQuestion, false, 2, 2},
      {"settings saved on the second try", {}, 1, {C::kTryAgain}, settingsQuestion, true, 2, 2},
      {"settings refused, exit without saving",
       {},
       100,
       {C::kExitWithoutSaving},
       settingsQuestion,
       true,
       2,
       0},
      {"both refused, exit without saving",
       {locked},
       100,
       {C::kExitWithoutSaving},
       bothQuestion,
       true,
       0,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.monitors = {{"M1", true}, {"M2", false}};
    rig.startedStored = " M2;";
    rig.saveProblems = c.saveProblems;
    rig.settingsSaveFailures = c.settingsSaveFailures;
    rig.unsaved = c.unsaved;
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    // The user stops M2 and starts M1 before closing.
    rig.monitors = {{"M1", true}, {"M2", false}};
    std::vector<std::string> asked;
    std::vector<C> answers = c.answers;
    EXPECT_EQ(life.SaveBeforeClose([&](const std::string& message) {
      asked.push_back(message);
      const C answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    }),
              c.closes);
    EXPECT_EQ(asked, std::vector<std::string>(c.answers.size(), c.question));
    EXPECT_EQ(Lines(rig.journal, "store.drop").size(),
              !c.answers.empty() && !c.saveProblems.empty() && c.unsaved &&
                      c.answers.back() == C::kExitWithoutSaving
                  ? 1u
                  : 0u);
    EXPECT_THAT(rig.saveLimits, ::testing::Each(std::chrono::milliseconds(kExitBusyLimit)));
    // Kept running, removals the file refuses come back and are told again.
    EXPECT_EQ(Lines(rig.journal, "store.exitCancelled").size(), c.closes ? 0u : 1u);
    rig.journal.clear();
    life.Exit();
    EXPECT_EQ(Lines(rig.journal, "store.save").size(), c.exitSaves);
    EXPECT_EQ(Lines(rig.journal, "settings.save").size(), c.exitSettingsSaves);
    // Once the settings could be saved, the running set the user left is recorded.
    EXPECT_EQ(rig.startedStored, c.settingsSaveFailures < 100 ? " M1;" : " M2;");
    // What the user chose to lose is not told again.
    EXPECT_THAT(rig.reports, IsEmpty());
  }
}

// A monitor deleted while it ran, whose deletion the file never took (given up at the close,
// or still refused at a signal's exit), is whole at the next start: it starts again with the
// others. One deleted while stopped stays stopped.
TEST(AppLifecycleTest, AMonitorWhoseDeletionNeverReachedTheFileStartsAgainIfItRan) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked", {"the monitor \"Sales\""}};
  for (const bool atTheClose : {true, false}) {
    SCOPED_TRACE(atTheClose ? "exit without saving" : "signal's exit");
    Rig rig;
    rig.monitors = {{"M1", true}, {"M2", false}};
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    rig.monitors = {{"M1", true}};
    rig.unfinished = {{"Sales", true}, {"M2", false}};
    rig.saveProblems = {locked, locked, locked};
    const std::string named = "Still in it, though removed in the window: the monitor \"Sales\".";
    if (atTheClose) {
      EXPECT_TRUE(life.SaveBeforeClose([&](const std::string& question) {
        EXPECT_NE(question.find(named), std::string::npos) << question;
        return UnsavedExitChoice::kExitWithoutSaving;
      }));
    }
    life.Exit();
    EXPECT_EQ(rig.startedStored, " M1;Sales;");
    if (!atTheClose) {
      ASSERT_FALSE(rig.reports.empty());
      EXPECT_EQ(
          rig.reports[0],
          "The configuration could not be saved to /d/varnholt.cfg: database is locked. " + named);
    }
  }
}

// With nobody to ask (SIGTERM), a store whose last save at exit fails with edits not in the
// file, or settings whose last save fails, leave one row in every monitor's log, after its
// closing line; a save that failed only before the stop, or with nothing to lose, leaves
// none. The monitors carry it, so no note is left for the next start.
TEST(AppLifecycleTest, AFailedLastSaveAtExitIsLoggedForEveryMonitor) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const std::string storeRow =
      "The configuration could not be saved to /d/varnholt.cfg: database is locked. The "
      "changes that were not saved are lost.";
  const std::string settingsRow =
      "The settings could not be saved to /c/Lumivar.conf: No space left on device. The "
      "changes that were not saved are lost.";
  const struct {
    std::size_t storeFailures;
    bool unsaved;
    int settingsFailures;
    std::string row;  // "": none
  } cases[] = {
      {1, true, 0, ""}, {2, false, 0, ""},         {2, true, 0, storeRow},
      {0, true, 1, ""}, {0, true, 2, settingsRow}, {2, true, 2, storeRow + " " + settingsRow},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.storeFailures) + std::to_string(c.unsaved) +
                 std::to_string(c.settingsFailures));
    Rig rig;
    rig.monitors = {{"M1", true}, {"M2", false}};
    rig.unsaved = c.unsaved;
    rig.saveProblems = std::vector<FileProblem>(c.storeFailures, locked);
    rig.settingsSaveFailures = c.settingsFailures;
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    rig.journal.clear();
    life.Exit();
    const std::vector<std::string> expected =
        c.row.empty()
            ? std::vector<std::string>{"log M1 Application closed.", "log M2 Application closed."}
            : std::vector<std::string>{"log M1 Application closed.", "log M1 " + c.row,
                                       "log M2 Application closed.", "log M2 " + c.row};
    EXPECT_EQ(Lines(rig.journal, "log "), expected);
    EXPECT_THAT(Lines(rig.journal, "note."), IsEmpty());
  }
}

// The messages the user was never shown are taken once, after the exit's last save; each is
// reported once and is a row in every monitor's log before its closing line. A message
// given twice, or one the exit reported itself, is not reported again.
TEST(AppLifecycleTest, MessagesNeverShownAreReportedAndLoggedForEveryMonitorAtExit) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const std::string refused = SaveProblemMessage(locked);
  const struct {
    const char* name;
    std::vector<std::string> untold;
    std::size_t storeFailures;  // the exit's first save fails and is reported by the exit
    std::vector<std::string> rows, reports;
  } cases[] = {
      {"none", {}, 0, {}, {}},
      {"two, in order", {"first", "second"}, 0, {"first", "second"}, {"first", "second"}},
      {"one given twice", {"first", "first"}, 0, {"first"}, {"first"}},
      {"the exit's own report", {refused}, 1, {refused}, {refused}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.monitors = {{"M1", true}, {"M2", false}};
    rig.saveProblems = std::vector<FileProblem>(c.storeFailures, locked);
    AppLifecycle life = rig.Make();
    life.SetUntoldMessages([&rig, &c] {
      rig.journal.push_back("untold");
      return c.untold;
    });
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    EXPECT_THAT(Lines(rig.journal, "untold"), IsEmpty());
    rig.journal.clear();
    life.Exit();

    // After the last save, before the first closing line.
    const auto at = [&rig](const std::string& line) {
      return std::find(rig.journal.begin(), rig.journal.end(), line) - rig.journal.begin();
    };
    ASSERT_EQ(Lines(rig.journal, "untold").size(), 1u);
    EXPECT_GT(at("untold"), at("store.stopAll") + 2);
    EXPECT_LT(at("untold"), at("log M1 Application closed."));
    std::vector<std::string> logged;
    for (const char* id : {"M1", "M2"}) {
      for (const auto& row : c.rows) logged.push_back("log " + std::string(id) + " " + row);
      logged.push_back("log " + std::string(id) + " Application closed.");
    }
    EXPECT_EQ(Lines(rig.journal, "log "), logged);
    EXPECT_EQ(rig.reports, c.reports);
  }
}

// Work lost at exit, and messages the user was never shown, with no monitor to carry the
// rows (none at all, or only ones the configuration file never held) are told at the next
// start, once, a line each; when the settings file cannot take the note either, standard
// error alone had them.
TEST(AppLifecycleTest, WorkLostAndMessagesUntoldWithNoMonitorToCarryTheRowsAreToldAtTheNextStart) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const std::string lost =
      "The configuration could not be saved to /d/varnholt.cfg: database is locked. The "
      "changes that were not saved are lost.";
  const std::string told = "When Lumivar last exited: " + lost;
  const struct {
    const char* name;
    std::vector<MonitorState> monitors;
    bool loaded;
    int settingsFailures;
    bool saveFails;
    std::vector<std::string> untold;
    std::vector<std::string> toldNext;
  } cases[] = {
      {"no monitor", {}, true, 0, true, {}, {told}},
      {"only a monitor the file never held", {{"New", true}}, false, 0, true, {}, {told}},
      {"a loaded monitor carries it", {{"M1", true}}, true, 0, true, {}, {}},
      {"the settings refuse the note", {}, true, 100, true, {}, {}},
      {"a message never shown, no monitor",
       {},
       true,
       0,
       false,
       {"Box: Sales is down."},
       {"When Lumivar last exited: Box: Sales is down."}},
      {"messages never shown and lost work, no monitor",
       {},
       true,
       0,
       true,
       {"first", "second", "first"},
       {"When Lumivar last exited: first\nsecond\n" + lost}},
      {"a message never shown, only a monitor the file never held",
       {{"New", true}},
       false,
       0,
       false,
       {"first"},
       {"When Lumivar last exited: first"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    if (!c.loaded) rig.loadProblem = FileProblem{"/d/varnholt.cfg", "database is locked"};
    if (c.saveFails) rig.saveProblems = {locked, locked};
    {
      AppLifecycle life = rig.Make();
      life.SetUntoldMessages([&c] { return c.untold; });
      ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
      rig.monitors = c.monitors;  // made while the program ran
      rig.settingsSaveFailures = c.settingsFailures;
      life.Exit();
    }
    rig.loadProblem.reset();
    rig.settingsSaveFailures = 0;
    rig.monitors.clear();
    for (int start = 0; start < 2; ++start) {
      SCOPED_TRACE(start);
      rig.reports.clear();
      AppLifecycle next = rig.Make();
      ASSERT_EQ(rig.Start(next), AppLifecycle::StartResult::kStarted);
      EXPECT_EQ(rig.reports, start == 0 ? c.toldNext : std::vector<std::string>{});
    }
  }
}

// An unreadable configuration file is told once the window exists (its message box needs
// a parent), with the file's path and the library's text.
TEST(AppLifecycleTest, AnUnreadableConfigurationIsToldOnceTheWindowExists) {
  Rig rig;
  rig.loadProblem = FileProblem{"/d/varnholt.cfg", "file is not a database"};
  AppLifecycle life = rig.Make();
  ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
  EXPECT_THAT(rig.journal, ElementsAre("lock", "settings.load", "ui-services", "db.init",
                                       "store.load", "window", "note.take", "report"));
  ASSERT_EQ(rig.reports.size(), 1u);
  EXPECT_NE(rig.reports[0].find("/d/varnholt.cfg"), std::string::npos) << rig.reports[0];
  EXPECT_NE(rig.reports[0].find("file is not a database"), std::string::npos) << rig.reports[0];
}

// A configuration file that was not loaded (another program held it, or it was damaged)
// leaves the recorded running set as it was, through the close and through a signal's exit,
// also when a monitor was made and started meanwhile; the next start, with the file read,
// restarts that set.
TEST(AppLifecycleTest, TheRunningSetStaysAsItWasWhenTheConfigurationWasNotLoaded) {
  for (const bool closedByTheUser : {true, false}) {
    for (const bool monitorMade : {false, true}) {
      SCOPED_TRACE(std::to_string(closedByTheUser) + std::to_string(monitorMade));
      Rig rig;
      rig.loadProblem = FileProblem{"/d/varnholt.cfg", "database is locked"};
      rig.startedStored = " id1; id2;";
      {
        AppLifecycle life = rig.Make();
        ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
        if (monitorMade) rig.monitors = {{"New", true}};
        if (closedByTheUser) {
          EXPECT_TRUE(life.SaveBeforeClose([](const std::string&) {
            ADD_FAILURE() << "asked";
            return UnsavedExitChoice::kKeepRunning;
          }));
        }
        life.Exit();
      }
      EXPECT_EQ(rig.startedStored, " id1; id2;");
      EXPECT_THAT(Lines(rig.journal, "settings.started"), IsEmpty());
      EXPECT_EQ(Lines(rig.journal, "settings.save").size(), closedByTheUser ? 3u : 2u);

      rig.loadProblem.reset();
      rig.monitors = {{"id1"}, {"id2"}};
      rig.journal.clear();
      AppLifecycle next = rig.Make();
      ASSERT_EQ(rig.Start(next), AppLifecycle::StartResult::kStarted);
      EXPECT_THAT(Lines(rig.journal, "start "), ElementsAre("start id1", "start id2"));
    }
  }
}

// A settings file that cannot be read is told once the window exists, before anything
// else is told; its defaults restart no monitor.
TEST(AppLifecycleTest, AnUnreadableSettingsFileIsToldOnceTheWindowExists) {
  Rig rig;
  rig.settingsUnreadable = true;
  rig.startedStored = " M1;";
  rig.monitors = {{"M1"}};
  rig.loadProblem = FileProblem{"/d/varnholt.cfg", "file is not a database"};
  AppLifecycle life = rig.Make();
  ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
  EXPECT_THAT(rig.journal,
              ElementsAre("lock", "settings.load", "ui-services", "db.init", "store.load", "window",
                          "report", "note.take", "report", "log M1 Application opened."));
  ASSERT_EQ(rig.reports.size(), 2u);
  EXPECT_EQ(rig.reports[0], "the settings file cannot be read");
}

TEST(AppLifecycleTest, AutorunWaitsThirtySecondsAfterTakingTheMarkAndBeforeAnythingElse) {
  Rig rig;
  AppLifecycle life = rig.Make();
  ASSERT_EQ(rig.Start(life, {"autorun"}), AppLifecycle::StartResult::kStarted);
  ASSERT_GE(rig.journal.size(), 3u);
  EXPECT_EQ(rig.journal[0], "lock");
  EXPECT_EQ(rig.journal[1], "sleep");
  EXPECT_EQ(rig.journal[2], "settings.load");
  EXPECT_THAT(rig.sleeps, ElementsAre(std::chrono::seconds(30)));
}

// An early end saves nothing and leaves the running set alone; a second instance ends
// before the autorun wait, since the mark is checked first.
TEST(AppLifecycleTest, AnEarlyEndWritesNothing) {
  const struct {
    bool heldElsewhere, windowMade;
    AppLifecycle::StartResult result;
    std::vector<std::string> journal;
  } cases[] = {
      {true, true, AppLifecycle::StartResult::kAnotherInstance, {"lock"}},
      {false,
       false,
       AppLifecycle::StartResult::kNoMainWindow,
       {"lock", "sleep", "settings.load", "ui-services", "db.init", "store.load", "window",
        "unlock"}},
  };
  for (const auto& c : cases) {
    Rig rig;
    rig.heldElsewhere = c.heldElsewhere;
    rig.windowMade = c.windowMade;
    rig.monitors = {{"M1"}};
    rig.startedStored = " M1;";
    AppLifecycle life = rig.Make();
    EXPECT_EQ(rig.Start(life, {"autorun"}), c.result);
    life.Exit();
    EXPECT_EQ(rig.journal, c.journal);
    EXPECT_EQ(rig.startedStored, " M1;");
    EXPECT_FALSE(rig.held);
  }
}

TEST(AppLifecycleTest, DestroyedWithoutExitStillReleasesTheMark) {
  Rig rig;
  {
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
  }
  EXPECT_FALSE(rig.held);
  EXPECT_EQ(rig.journal.back(), "unlock");
}

}  // namespace
}  // namespace app
