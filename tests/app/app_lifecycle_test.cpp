// Start-up and exit sequences against fakes of the lock, the settings and the store: the
// order of the steps, the monitors restarted, and what an early end leaves alone.
#include "app/app_lifecycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
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
  void Load() override {
    journal.push_back("settings.load");
    startedInMemory = startedStored;
  }
  bool Save() override {
    journal.push_back("settings.save");
    if (settingsSaveFails) return false;
    startedStored = startedInMemory;
    return true;
  }
  std::string StartedMonitors() const override { return startedInMemory; }
  void SetStartedMonitors(std::string value) override {
    journal.push_back("settings.started=" + value);
    startedInMemory = std::move(value);
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
  bool settingsSaveFails = false;
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
                          "log M1 Application opened.", "start M1", "log M2 Application opened.",
                          "log M3 Application opened.", "start M3"));
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
    bool settingsSaveFails;
    bool allEnd;
    std::size_t lostRows;
    std::vector<std::string> reports;
    bool shutdown;
  } cases[] = {
      {"all well", {}, false, true, 0, {}, true},
      {"first save fails", {locked}, false, true, 0, {lockedText}, true},
      {"both saves fail alike", {locked, locked}, false, true, 0, {lockedText}, true},
      {"both saves fail differently",
       {locked, notADatabase},
       false,
       true,
       0,
       {lockedText, notADatabaseText},
       true},
      {"settings", {}, true, true, 0, {"The settings could not be saved."}, true},
      {"one lost row", {}, false, true, 1, {"1 log row could not be written."}, false},
      {"lost rows", {}, false, true, 3, {"3 log rows could not be written."}, false},
      {"a thread abandoned", {}, false, false, 0, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.monitors = {{"M1", true}};
    rig.saveProblems = c.saveProblems;
    rig.settingsSaveFails = c.settingsSaveFails;
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

// Closing the window saves first; a save that fails asks the user, who may try again, exit
// without saving (then nothing saves the store any more) or keep the program running.
TEST(AppLifecycleTest, AFailedSaveAsTheWindowClosesAsksTheUser) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const std::string question =
      "The configuration could not be saved to /d/varnholt.cfg: database is locked. The "
      "changes that are not saved are lost if Lumivar exits now.";
  using C = UnsavedExitChoice;
  const struct {
    const char* name;
    std::vector<FileProblem> saveProblems;
    std::vector<C> answers;
    bool closes;
    std::size_t exitSaves;  // store saves during Exit
    bool unsaved = true;    // edits not in the file
  } cases[] = {
      {"saved", {}, {}, true, 2},
      {"saved on the second try", {locked}, {C::kTryAgain}, true, 2},
      {"tried twice, then kept running",
       {locked, locked},
       {C::kTryAgain, C::kKeepRunning},
       false,
       2},
      {"exit without saving", {locked}, {C::kExitWithoutSaving}, true, 0},
      {"nothing to lose", {locked}, {}, true, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.monitors = {{"M1", true}};
    rig.saveProblems = c.saveProblems;
    rig.unsaved = c.unsaved;
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    std::vector<std::string> asked;
    std::vector<C> answers = c.answers;
    EXPECT_EQ(life.SaveBeforeClose([&](const std::string& message) {
      asked.push_back(message);
      const C answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    }),
              c.closes);
    EXPECT_EQ(asked, std::vector<std::string>(c.answers.size(), question));
    EXPECT_EQ(Lines(rig.journal, "store.drop").size(),
              !c.answers.empty() && c.answers.back() == C::kExitWithoutSaving ? 1u : 0u);
    EXPECT_THAT(rig.saveLimits, ::testing::Each(std::chrono::milliseconds(kExitBusyLimit)));
    rig.journal.clear();
    life.Exit();
    EXPECT_EQ(Lines(rig.journal, "store.save").size(), c.exitSaves);
    EXPECT_EQ(Lines(rig.journal, "settings.save").size(), 2u);
  }
}

// With nobody to ask (SIGTERM), a store whose last save at exit fails with edits not in the
// file leaves one row in every monitor's log, after its closing line; a save that failed
// only before the stop, or with nothing to lose, leaves none.
TEST(AppLifecycleTest, AFailedLastSaveAtExitIsLoggedForEveryMonitor) {
  const FileProblem locked{"/d/varnholt.cfg", "database is locked"};
  const std::string row =
      "The configuration could not be saved to /d/varnholt.cfg: database is locked. The "
      "changes that were not saved are lost.";
  for (const auto& [lastFails, unsaved] :
       {std::pair{false, true}, std::pair{true, false}, std::pair{true, true}}) {
    SCOPED_TRACE(std::to_string(lastFails) + std::to_string(unsaved));
    Rig rig;
    rig.monitors = {{"M1", true}, {"M2", false}};
    rig.unsaved = unsaved;
    rig.saveProblems = lastFails ? std::vector{locked, locked} : std::vector{locked};
    AppLifecycle life = rig.Make();
    ASSERT_EQ(rig.Start(life), AppLifecycle::StartResult::kStarted);
    rig.journal.clear();
    life.Exit();
    const std::vector<std::string> logs = Lines(rig.journal, "log ");
    const std::vector<std::string> expected =
        lastFails && unsaved
            ? std::vector<std::string>{"log M1 Application closed.", "log M1 " + row,
                                       "log M2 Application closed.", "log M2 " + row}
            : std::vector<std::string>{"log M1 Application closed.", "log M2 Application closed."};
    EXPECT_EQ(logs, expected);
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
                                       "store.load", "window", "report"));
  ASSERT_EQ(rig.reports.size(), 1u);
  EXPECT_NE(rig.reports[0].find("/d/varnholt.cfg"), std::string::npos) << rig.reports[0];
  EXPECT_NE(rig.reports[0].find("file is not a database"), std::string::npos) << rig.reports[0];
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
