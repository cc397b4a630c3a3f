// The real program's exit with engine threads that never come back, and with files it
// cannot read or write. Monitors connect to a PostgreSQL data source whose server accepts
// the connection and never answers; a SQL action on the same data source hangs the same
// way. SIGTERM must end the program within its bound with everything saved; the measured
// time is printed (the bound itself is not asserted: only a generous deadline is).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <utility>

#include "app/app_lifecycle.h"
#include "app/settings/settings.h"
#include "engine/actions/action.h"
#include "engine/data/data_files.h"
#include "engine/monitor/alert.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/documents.h"
#include "platform/registry.h"
#include "tests/app/program_fixture.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/foreign_lock.h"
#include "tests/support/odbc_fixture.h"

namespace {

using namespace std::chrono_literals;
using program_testing::ProgramTest;
using program_testing::WaitFor;

constexpr const char* kHungDsn = "Lumivar Hung Server";
// Far above the program's own bound; only a program that hangs misses it.
// LUMIVAR_EXIT_DEADLINE_S raises it, to measure a build that takes longer.
std::chrono::seconds GenerousDeadline() {
  const char* value = std::getenv("LUMIVAR_EXIT_DEADLINE_S");
  return value != nullptr && std::atoi(value) > 60 ? std::chrono::seconds(std::atoi(value)) : 60s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// How many times part occurs in text.
std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// A connection of the test's own that holds a file under BEGIN EXCLUSIVE until it ends.
class ExclusiveHold {
 public:
  explicit ExclusiveHold(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &handle_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      return;
    sqlite3_busy_timeout(handle_, 20000);
    held_ = sqlite3_exec(handle_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~ExclusiveHold() { Release(); }
  bool Held() const { return held_; }
  void Release() {
    if (held_) sqlite3_exec(handle_, "ROLLBACK", nullptr, nullptr, nullptr);
    held_ = false;
    if (handle_ != nullptr) sqlite3_close(handle_);
    handle_ = nullptr;
  }

 private:
  sqlite3* handle_ = nullptr;
  bool held_ = false;
};

class ExitTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    testing_support::OdbcTestConfig& odbc = testing_support::OdbcTestConfig::Get();
    odbc.AddPostgresDsn(kHungDsn, listener_.Port(), "postgres");
    AddEnv("ODBCSYSINI", odbc.Folder());
    AddEnv("ODBCINI", odbc.Folder() + "/user-odbc.ini");
  }

  // Saves `hung` monitors whose connection is never answered and, with withAction, one
  // monitor that fails at once and whose alert fires a SQL action on the hanging data
  // source; the settings record them all as running, plus an identifier that is no
  // monitor (the next exit drops it).
  void Seed(int hung, bool withAction) {
    engine::ServerStorage store;
    ASSERT_EQ(store.LoadAll(), 0);
    for (int i = 0; i < hung; ++i) {
      auto monitor = store.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Hung " + std::to_string(i);
      monitor->address = kHungDsn;
      // A day: the connection waits as good as for ever.
      monitor->loginTimeout = 86400;
      monitor->queryTimeout = 86400;
      ids_.push_back(monitor->id);
    }
    if (withAction) {
      auto action = std::make_shared<engine::Action>(engine::Action::kExecuteSql);
      action->name = "Mark";
      action->datasourceName = kHungDsn;
      action->sqlQuery = "SELECT 1";
      store.AddAction(action);
      auto monitor = store.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Failing";
      monitor->address = "lumivar-test-no-such-source";
      // Fires when the monitor is unavailable, which it is after its first poll.
      monitor->AddAlert(action->id, monitor->healthAttributes.at(0).id, 0, 1,
                        engine::Alert::kError);
      ids_.push_back(monitor->id);
    }
    ASSERT_EQ(store.SaveAll(), 0);
    hangs_ = hung + (withAction ? 1 : 0);

    app::SettingsValues values;
    values.startedMonitors = " ";
    for (const auto& id : ids_) values.startedMonitors += id + ";";
    expectedStarted_ = values.startedMonitors;
    values.startedMonitors += "no-such-monitor;";
    values.layout.wndMode = 1;
    values.layout.wndWidth = 900;
    values.layout.wndHeight = 700;
    platform::FileSettingsStore settings(SettingsFile());
    ASSERT_TRUE(app::Settings(values).Save(settings));
  }

  // Starts the program and waits until every hanging connection is under way.
  pid_t StartAndHang() {
    const pid_t pid = Start();
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(WaitFor([&] { return WindowShown() || WaitExit(pid, 0ms) != -1; }, 30s));
    EXPECT_TRUE(WindowShown()) << StandardError(pid);
    EXPECT_TRUE(WaitFor([&] { return listener_.Accepted() >= hangs_; }, 30s))
        << listener_.Accepted() << " of " << hangs_ << " connections";
    return pid;
  }

  // Sends SIGTERM and waits for the end; the exit status (-1: still running) and the time
  // taken, which is printed.
  std::pair<int, double> Terminate(pid_t pid, const char* what) {
    const auto sent = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    const int status = WaitExit(pid, GenerousDeadline());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    std::cout << "[ measured ] " << what << ": exit took " << seconds << " s (status " << status
              << ")" << std::endl;
    if (const std::string said = StandardError(pid); !said.empty())
      std::cout << "[ stderr   ] " << said;
    return {status, seconds};
  }

  std::vector<std::string> SavedMonitors() {
    std::vector<std::string> saved;
    for (const auto& row : engine::testing::ConfigRows("SELECT id FROM ODBCDataSources"))
      saved.push_back(row[0]);
    std::sort(saved.begin(), saved.end());
    return saved;
  }
  std::vector<std::string> SortedIds() const {
    std::vector<std::string> ids = ids_;
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  std::string StoredStarted() {
    return platform::FileSettingsStore(SettingsFile()).Read("startedMonitors");
  }
  // Saves one monitor "Sales" whose data source does not exist (its polls fail at once, so
  // the exit does not wait for them) and settings that record it as running; its
  // identifier.
  std::string SeedFailingMonitor() {
    engine::ServerStorage store;
    EXPECT_EQ(store.LoadAll(), 0);
    auto monitor = store.AddNewODBCDataSource();
    std::string id;
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Sales";
      monitor->address = "lumivar-test-no-such-source";
      id = monitor->id;
    }
    EXPECT_EQ(store.SaveAll(), 0);
    app::SettingsValues values;
    values.startedMonitors = " " + id + ";";
    values.layout.wndMode = 1;
    values.layout.wndWidth = 900;
    values.layout.wndHeight = 700;
    platform::FileSettingsStore settings(SettingsFile());
    EXPECT_TRUE(app::Settings(values).Save(settings));
    return id;
  }

  // Starts the program and waits for its window and, with box, for a message box beside it
  // (also titled "Lumivar"); -1 when the program did not start.
  pid_t StartAndShow(bool box, std::chrono::seconds wait = 30s) {
    const pid_t pid = Start();
    if (pid <= 0) return -1;
    const int windows = box ? 2 : 1;
    EXPECT_TRUE(WaitFor(
        [&] { return WindowCount("Lumivar") >= windows || WaitExit(pid, 0ms) != -1; }, wait))
        << StandardError(pid);
    EXPECT_GE(WindowCount("Lumivar"), windows) << StandardError(pid);
    return pid;
  }

  std::string ConfigFile() const { return platform::GetDocumentsFolder() + "varnholt.cfg"; }
  std::string DataFile() const { return platform::GetDocumentsFolder() + "varnholt.dat"; }

  testing_support::SilentListener listener_;
  testing_support::ScopedEnv documents_{"LUMIVAR_DOCUMENTS_DIR", root_.File("docs")};
  std::vector<std::string> ids_;
  std::string expectedStarted_;
  int hangs_ = 0;
};

// Hung connections and a hung action, with the data file free or held by another
// connection: the program ends, with the store, the running set and the settings saved,
// and every closing log line either written or counted as lost on standard error.
TEST_F(ExitTest, SigtermEndsTheProgramWithEverythingSavedWhileDriversHang) {
  const struct {
    const char* name;
    int hung;
    bool holdDataFile;
  } cases[] = {
      {"three hung connections and a hung action", 3, false},
      {"five hung connections, a hung action, the data file held exclusively", 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ids_.clear();
    std::filesystem::remove_all(root_.File("docs"));
    std::filesystem::create_directories(root_.File("docs"));
    ASSERT_NO_FATAL_FAILURE(Seed(c.hung, true));
    const int acceptedBefore = listener_.Accepted();
    hangs_ += acceptedBefore;

    const pid_t pid = StartAndHang();
    std::optional<ExclusiveHold> hold;
    if (c.holdDataFile) {
      hold.emplace(DataFile());
      ASSERT_TRUE(hold->Held());
    }
    const auto [status, seconds] = Terminate(pid, c.name);
    ASSERT_NE(status, -1) << "still running " << GenerousDeadline().count() << " s after SIGTERM";
    EXPECT_EQ(status, 0) << StandardError(pid);
    if (hold) hold->Release();

    EXPECT_EQ(SavedMonitors(), SortedIds());
    EXPECT_EQ(StoredStarted(), expectedStarted_);
    EXPECT_FALSE(LockHeld());
    const auto closed =
        engine::testing::DataRows("SELECT monitorId FROM Log WHERE text = 'Application closed.'");
    if (closed.size() < ids_.size()) {
      EXPECT_NE(StandardError(pid).find("log row"), std::string::npos)
          << closed.size() << " of " << ids_.size()
          << " closing rows written, and no word of the others: " << StandardError(pid);
    }
  }
}

// A session manager kills the program soon after SIGTERM: what the program held before
// the signal is on disk already (the running set it recorded, every monitor).
TEST_F(ExitTest, SigkillSoonAfterSigtermLosesNothing) {
  ASSERT_NO_FATAL_FAILURE(Seed(3, true));
  const std::string before = ReadSettingsFile();
  const pid_t pid = StartAndHang();
  kill(pid, SIGTERM);
  // The saves come first in the exit, before any stop; wait until the settings file
  // changed (the running set drops the identifier that is no monitor), then kill.
  EXPECT_TRUE(WaitFor([&] { return ReadSettingsFile() != before; }, 20s));
  std::this_thread::sleep_for(2s);
  kill(pid, SIGKILL);
  ASSERT_NE(WaitExit(pid, 20s), -1);
  EXPECT_EQ(StoredStarted(), expectedStarted_);
  EXPECT_EQ(SavedMonitors(), SortedIds());
}

// A configuration file that is no database, or a damaged one: the program says so with
// the file's path and the database library's text, starts without monitors and leaves
// the file exactly as it was, and the running set recorded in the settings too.
TEST_F(ExitTest, AnUnreadableConfigurationIsReportedAndNeverOverwritten) {
  const struct {
    const char* name;
    std::function<void(const std::string& path)> spoil;
    const char* text;  // a part of the database library's text
  } cases[] = {
      {"text",
       [](const std::string& path) {
         std::string bytes;
         for (int i = 0; i < 200; ++i) bytes += "not a database, line " + std::to_string(i) + "\n";
         WriteFile(path, bytes);
       },
       "not a database"},
      {"a damaged page",
       [this](const std::string& path) {
         ASSERT_NO_FATAL_FAILURE(Seed(3, true));
         std::string bytes = ReadFile(path);
         ASSERT_GT(bytes.size(), 8192u);
         // Past the header page: the schema and the tables' pages are garbage.
         for (std::size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5);
         WriteFile(path, bytes);
       },
       "malformed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(root_.File("docs"));
    std::filesystem::create_directories(root_.File("docs"));
    ids_.clear();
    ASSERT_NO_FATAL_FAILURE(c.spoil(ConfigFile()));
    const std::string spoiled = ReadFile(ConfigFile());
    const std::string started = StoredStarted();

    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitFor([&] { return WindowShown() || WaitExit(pid, 0ms) != -1; }, 30s));
    // The main window and the message box.
    EXPECT_TRUE(WaitFor([&] { return WindowCount("Lumivar") >= 2; }, 20s))
        << "no message box; stderr: " << StandardError(pid);
    const std::string said = StandardError(pid);
    EXPECT_NE(said.find(ConfigFile()), std::string::npos) << said;
    EXPECT_NE(said.find(c.text), std::string::npos) << said;

    const auto [status, seconds] = Terminate(pid, c.name);
    EXPECT_EQ(status, 0) << StandardError(pid);
    EXPECT_EQ(ReadFile(ConfigFile()), spoiled) << "the configuration file was written";
    EXPECT_EQ(StoredStarted(), started) << "the running set was written over";
    EXPECT_TRUE(engine::testing::DataRows("SELECT monitorId FROM Log").empty());
  }
}

// Another program holds the configuration file while the program starts: the store stays
// empty, and the close (once the file is free) leaves the running set in the settings as
// it was, so the next start restarts it.
TEST_F(ExitTest, AConfigurationHeldAtStartLeavesTheRunningSetAsItWas) {
  const std::string id = SeedFailingMonitor();
  const std::string started = StoredStarted();
  testing_support::ForeignProcessLock holder(ConfigFile());
  ASSERT_TRUE(holder.Held());
  // The load gives up when its wait for the lock is over; then the window and the box come.
  const pid_t pid = StartAndShow(true, 150s);
  ASSERT_GT(pid, 0);
  EXPECT_NE(StandardError(pid).find(ConfigFile() + " cannot be read: database is locked"),
            std::string::npos)
      << StandardError(pid);
  ASSERT_TRUE(holder.Release());
  // The box, then the window, each as its close box closes it (the window takes no close
  // while the box is open).
  for (int i = 0; i < 60 && WaitExit(pid, 500ms) == -1; ++i) AskWindowToClose("Lumivar", true);
  ASSERT_EQ(WaitExit(pid, 30s), 0) << StandardError(pid);
  EXPECT_EQ(StoredStarted(), started);
  EXPECT_EQ(SavedMonitors(), std::vector<std::string>{id});
}

// A settings file with a line that does not parse: the program says so once, with the
// file, the line and what it does; it keeps the file aside and saves new settings at exit,
// which the next start reads without a word.
TEST_F(ExitTest, AnUnparseableSettingsFileIsToldOnceKeptAsideAndReplaced) {
  SeedFailingMonitor();
  std::string broken = ReadSettingsFile();
  broken.insert(broken.find('\n') + 1, "a line without an equals sign\n");
  WriteFile(SettingsFile(), broken);

  const pid_t first = StartAndShow(true);
  ASSERT_GT(first, 0);
  // The window and one box: a second report would open its box over the first.
  EXPECT_FALSE(WaitFor([&] { return WindowCount("Lumivar") > 2; }, 2s));
  const std::string said = StandardError(first);
  for (const std::string& part :
       {"The settings file " + SettingsFile() + " cannot be read at line 2: ",
        std::string("a line without an equals sign"),
        std::string("Lumivar starts with the default settings and restarts no monitor"),
        "kept as " + SettingsFile() + ".bad."}) {
    EXPECT_EQ(Occurrences(said, part), 1u) << part << "\n" << said;
  }
  EXPECT_EQ(Terminate(first, "an unparseable settings file").first, 0);
  EXPECT_EQ(ReadFile(SettingsFile() + ".bad"), broken);
  platform::FileSettingsStore saved(SettingsFile());
  EXPECT_EQ(saved.ReadProblem(), std::nullopt) << ReadSettingsFile();
  EXPECT_NE(saved.Read("Interface\\wndX"), "");

  const pid_t second = StartAndShow(false);
  ASSERT_GT(second, 0);
  EXPECT_EQ(Terminate(second, "the settings saved anew").first, 0);
  EXPECT_EQ(StandardError(second).find("cannot be read"), std::string::npos)
      << StandardError(second);
}

// An alert's message box waits while the note the last exit left is shown; a signal ends the
// note's box and the program: the alert never reached the screen, so it is told once on
// standard error and once in the monitor's log, before its closing line.
TEST_F(ExitTest, AnAlertMessageNotYetShownAtASignalsExitIsToldOnStandardErrorAndInTheLog) {
  const std::string id = SeedFailingMonitor();
  {
    engine::ServerStorage store;
    ASSERT_EQ(store.LoadAll(), 0);
    auto action = std::make_shared<engine::Action>(engine::Action::kUserInterface);
    action->name = "Box";
    action->uiType = engine::Action::kMessageBox;
    store.AddAction(action);
    auto monitor = store.GetServer(store.FindServerIndex(id));
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->AddAlert(action->id, monitor->healthAttributes.at(0).id, 0, 1,
                        engine::Alert::kError);
    }
    ASSERT_EQ(store.SaveAll(), 0);
  }
  ASSERT_TRUE(platform::FileSettingsStore(SettingsFile()).Write("lostAtLastExit", "a note"));
  const pid_t pid = StartAndShow(true);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitFor(
      [] {
        return !engine::testing::DataRows("SELECT 1 FROM Log WHERE text = 'Action Box Succeeded'")
                    .empty();
      },
      30s));
  EXPECT_EQ(WindowCount("Lumivar - Alert"), 0);
  EXPECT_EQ(Terminate(pid, "an alert message waiting").first, 0);

  const std::string said = StandardError(pid);
  const std::size_t at = said.find("Monitor Availability On Sales: ");
  ASSERT_NE(at, std::string::npos) << said;
  const std::size_t begin = said.rfind("lumivar: ", at) + std::string("lumivar: ").size();
  const std::string told = said.substr(begin, said.find('\n', at) - begin);
  EXPECT_EQ(Occurrences(said, told), 1u) << said;
  std::vector<std::string> rows;
  for (const auto& row : engine::testing::DataRows("SELECT text FROM Log ORDER BY rowid"))
    if (row[0] == told || row[0] == app::kApplicationClosed) rows.push_back(row[0]);
  EXPECT_EQ(rows, (std::vector<std::string>{told, app::kApplicationClosed}));
}

// The settings file is spoiled while the program runs: a signal's exit asks nobody, says on
// standard error and in the monitor's log that the settings were not saved, and leaves the
// file as it is.
TEST_F(ExitTest, SettingsThatCannotBeSavedAtASignalsExitAreToldOnStandardErrorAndInTheLog) {
  const std::string id = SeedFailingMonitor();
  const pid_t pid = StartAndShow(false);
  ASSERT_GT(pid, 0);
  const std::string spoiled = ReadSettingsFile() + "a line without an equals sign\n";
  WriteFile(SettingsFile(), spoiled);
  EXPECT_EQ(Terminate(pid, "a spoiled settings file").first, 0);
  const std::string failure = "The settings could not be saved to " + SettingsFile() + ": line ";
  EXPECT_NE(StandardError(pid).find(failure), std::string::npos) << StandardError(pid);
  const auto rows = engine::testing::DataRows(
      "SELECT monitorId, text FROM Log WHERE text LIKE 'The settings could not be saved%'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], id);
  EXPECT_TRUE(rows[0][1].starts_with(failure)) << rows[0][1];
  EXPECT_TRUE(rows[0][1].ends_with(" The changes that were not saved are lost.")) << rows[0][1];
  EXPECT_EQ(ReadSettingsFile(), spoiled);
}

// The configuration file is spoiled while the program runs: the saves at exit fail and
// the program says so on standard error, with the file's path.
TEST_F(ExitTest, AFailedSaveAtExitIsReported) {
  ASSERT_NO_FATAL_FAILURE(Seed(1, false));
  const pid_t pid = StartAndHang();
  WriteFile(ConfigFile(), std::string(4096, 'x'));
  const auto [status, seconds] = Terminate(pid, "a spoiled configuration file");
  EXPECT_EQ(status, 0);
  const std::string said = StandardError(pid);
  EXPECT_NE(said.find("could not be saved to " + ConfigFile()), std::string::npos) << said;
  EXPECT_EQ(ReadFile(ConfigFile()), std::string(4096, 'x'));
}

}  // namespace
