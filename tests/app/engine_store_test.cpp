// Start-up and exit over the real monitor store, in a data folder of the test's own: the
// log lines reach the data file, the monitors of the saved running set start again, and
// exit saves the store and records the running set. Monitors point at a data source that
// does not exist, so their polls fail at once.
#include "app/engine_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "engine/actions/action.h"
#include "engine/db/busy_event.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server.h"
#include "engine/report/email_reporter.h"
#include "engine/store/server_storage.h"
#include "platform/documents.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/slow_sync.h"

namespace app {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class NoLock : public IInstanceLock {
 public:
  bool TryAcquire() override { return true; }
  void Release() override {}
};

class MemorySettings : public IStartupSettings {
 public:
  std::optional<std::string> Load() override { return std::nullopt; }
  std::optional<FileProblem> Save() override {
    ++saves;
    return std::nullopt;
  }
  std::string StartedMonitors() const override { return started; }
  void SetStartedMonitors(std::string value) override { started = std::move(value); }
  std::string TakeExitNote() override { return {}; }
  bool LeaveExitNote(const std::string&) override { return true; }
  std::string started;
  int saves = 0;
};

class EngineStoreTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Server::SetStopTimeout(2s);
    // Three saved monitors, as a previous run left them.
    engine::ServerStorage previous;
    previous.LoadAll();
    for (const char* name : {"Sales", "Stock", "Staff"}) {
      auto monitor = previous.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = name;
      monitor->address = "lumivar-test-no-such-source";
      ids_.push_back(monitor->id);
    }
    ASSERT_EQ(previous.SaveAll(), 0);
  }
  void TearDown() override {
    engine::Server::SetStopTimeout(120s);
    db::BusyEvent::SetRetryLimit(db::BusyEvent::kDefaultRetryLimit);
    MonitorTest::TearDown();
  }

  std::vector<std::string> LogLines(const std::string& text) {
    std::vector<std::string> ids;
    for (const auto& row : engine::testing::DataRows(
             "SELECT monitorId, type FROM Log WHERE text = '" + text + "' ORDER BY rowid")) {
      EXPECT_EQ(row[1], "0");
      ids.push_back(row[0]);
    }
    return ids;
  }

  std::vector<std::string> ids_;
};

TEST_F(EngineStoreTest, StartAndExitOverTheRealStore) {
  engine::ServerStorage storage;
  engine::EMailReporter reporter;
  EngineMonitorStore store(storage, &reporter);
  engine::Services::SetStorage(&storage);
  NoLock lock;
  MemorySettings settings;
  settings.started = " " + ids_[0] + ";" + ids_[2] + ";";
  AppLifecycle life(lock, settings, store, nullptr);

  ASSERT_EQ(life.Start({}, nullptr, [] { return true; }), AppLifecycle::StartResult::kStarted);
  std::vector<MonitorState> states = store.Monitors();
  ASSERT_EQ(states.size(), 3u);
  EXPECT_EQ(states[0].id, ids_[0]);
  EXPECT_TRUE(states[0].running);
  EXPECT_FALSE(states[1].running);
  EXPECT_TRUE(states[2].running);
  EXPECT_THAT(LogLines("Application opened."), ElementsAre(ids_[0], ids_[1], ids_[2]));

  // The user stops one monitor and starts another before closing the program.
  storage.StopServer(ids_[0]);
  storage.StartServer(ids_[1]);
  life.Exit();

  EXPECT_EQ(settings.started, " " + ids_[1] + ";" + ids_[2] + ";");
  EXPECT_EQ(settings.saves, 2);  // before the stops and after them
  for (const MonitorState& m : store.Monitors()) EXPECT_FALSE(m.running) << m.id;
  EXPECT_THAT(LogLines("Application closed."), ElementsAre(ids_[0], ids_[1], ids_[2]));
  // The store was saved: every monitor is in the configuration file.
  std::vector<std::string> saved;
  for (const auto& row : engine::testing::ConfigRows("SELECT id FROM ODBCDataSources"))
    saved.push_back(row[0]);
  EXPECT_THAT(saved, UnorderedElementsAre(ids_[0], ids_[1], ids_[2]));
}

// The store as the close and the exit use it, with the test's hands on the configuration
// file: each save first lets in the attempt the test holds at the file's door, so it meets
// the file once the close or the exit has begun, and at the given save the other holder of
// the file's lock lets go.
class HeldFileStorage : public engine::ServerStorage {
 public:
  int SaveAll(engine::FileFailure* failure, std::optional<std::chrono::milliseconds> busyLimit,
              std::vector<std::string>* unremoved) override {
    testing_support::SlowSync::StopHoldingOpens();
    if (++saves == letGoAtSave) holder.reset();
    return ServerStorage::SaveAll(failure, busyLimit, unremoved);
  }
  std::unique_ptr<engine::testing::ConfigRefusal> holder;
  int letGoAtSave = 0;  // 0: the holder never lets go
  int saves = 0;
};

// A test query removed while another connection holds the configuration file's lock, the
// removal's attempt still at the file's door when the close or a signal's exit begins: the
// removal is unsaved work from the first save on. At the close it is named in the question; Try
// Again, once the file is let go, writes it, and Keep Running puts the query back in the window and
// tells the refusal once. A signal's exit writes it once the file is let go, or names it in its
// report while the file stays held.
TEST_F(EngineStoreTest, ARemovalAtTheFilesDoorWhenTheCloseOrTheExitBeginsIsNotLostUntold) {
  enum class End { kTryAgain, kKeepRunning, kSignal };
  const struct {
    const char* name;
    End end;
    int letGoAtSave;
  } cases[] = {
      {"Try Again", End::kTryAgain, 2},
      {"Keep Running", End::kKeepRunning, 0},
      {"a signal's exit, the file let go", End::kSignal, 2},
      {"a signal's exit, the file held", End::kSignal, 0},
  };
  const std::string named =
      "Still in it, though removed in the window: the test query \"Orders\" of the monitor "
      "\"Sales\".";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t refused = ui_.EventsOf("refused ").size();
    const std::size_t errors = ui_.EventsOf("error: ").size();
    HeldFileStorage storage;
    EngineMonitorStore store(storage, nullptr);
    NoLock lock;
    MemorySettings settings;
    std::vector<std::string> reports;
    AppLifecycle life(lock, settings, store, nullptr,
                      [&reports](const std::string& message) { reports.push_back(message); });
    ASSERT_EQ(life.Start({}, nullptr, [] { return true; }), AppLifecycle::StartResult::kStarted);
    const std::string query = storage.AddTestQuery(ids_[0], {"Orders", "SELECT 1"});
    ASSERT_TRUE(storage.WaitForSaves(std::chrono::steady_clock::now() + 20s));
    const auto inTheFile = [&] {
      return engine::testing::ConfigRows("SELECT id FROM TestQueries WHERE id = '" + query + "'")
          .size();
    };

    // Made after the start: the library's start after an exit's shutdown makes its own file
    // system the default again.
    testing_support::SlowSync door(0ms);
    storage.holder = std::make_unique<engine::testing::ConfigRefusal>(
        engine::testing::ConfigRefusal::Kind::kHeldLock);
    storage.letGoAtSave = c.letGoAtSave;
    const struct Open {
      ~Open() { testing_support::SlowSync::StopHoldingOpens(); }
    } open;
    testing_support::SlowSync::HoldOpens(engine::DataFiles::kConfigFileName);
    const long opens = testing_support::SlowSync::OpensBegun();
    ASSERT_EQ(storage.DeleteTestQuery(ids_[0], query), 0);
    ASSERT_TRUE(testing_support::SlowSync::WaitForOpenBegun(opens, 20s));

    if (c.end == End::kSignal) {
      life.Exit();
      if (c.letGoAtSave == 0) {
        ASSERT_FALSE(reports.empty());
        EXPECT_NE(reports[0].find(named), std::string::npos) << reports[0];
      } else {
        EXPECT_EQ(inTheFile(), 0u);
      }
    } else {
      std::vector<std::string> asked;
      const UnsavedExitChoice answer =
          c.end == End::kTryAgain ? UnsavedExitChoice::kTryAgain : UnsavedExitChoice::kKeepRunning;
      EXPECT_EQ(life.SaveBeforeClose([&](const std::string& question) {
        asked.push_back(question);
        return answer;
      }),
                c.end == End::kTryAgain);
      ASSERT_EQ(asked.size(), 1u);
      EXPECT_NE(asked[0].find(named), std::string::npos) << asked[0];
      if (c.end == End::kTryAgain) {
        EXPECT_EQ(inTheFile(), 0u);
      } else {
        ASSERT_TRUE(ui_.WaitForEvents("refused ", refused + 1, 20s));
        const std::optional<engine::MonitorSnapshot> sales = storage.GetMonitorSnapshot(ids_[0]);
        ASSERT_TRUE(sales);
        EXPECT_TRUE(std::any_of(sales->testQueries.begin(), sales->testQueries.end(),
                                [&](const auto& shown) { return shown.id == query; }));
        ASSERT_TRUE(ui_.WaitForEvents("error: ", errors + 1, 20s));
        EXPECT_EQ(ui_.EventsOf("error: ").size(), errors + 1);
      }
    }
    if (c.end != End::kKeepRunning) {
      EXPECT_EQ(ui_.EventsOf("refused ").size(), refused);
    }
  }
}

// Remembers the alert messages the engine shows.
class MessageUi : public engine::testing::FakeUi {
 public:
  void ShowAlertMessage(std::string caption, std::string text,
                        engine::IUserInterface::MessageKind) override {
    messages.push_back(caption + ": " + text);
  }
  std::vector<std::string> messages;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class ConfigurationFileTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::Services::SetUi(&messages_);
  }
  // A saved store of one monitor and one action.
  void SaveOne() {
    engine::ServerStorage store;
    ASSERT_EQ(store.LoadAll(), 0);
    store.AddNewODBCDataSource()->name = "Sales";
    store.AddAction(std::make_shared<engine::Action>());
    ASSERT_EQ(store.SaveAll(), 0);
  }
  std::string ConfigFile() const { return platform::GetDocumentsFolder() + "varnholt.cfg"; }

  MessageUi messages_;
};

// A configuration file that cannot be read is refused: the store starts empty, says why
// with the file's path and the library's text, and writes nothing into the file, at exit
// or on a commit, until a later load succeeds.
TEST_F(ConfigurationFileTest, AnUnreadableFileIsRefusedAndKeptByteForByte) {
  const struct {
    const char* name;
    bool damagePages;  // else plain text
    const char* text;
  } cases[] = {
      {"plain text", false, "not a database"},
      {"damaged pages", true, "malformed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.messages.clear();
    std::filesystem::remove(ConfigFile());
    if (c.damagePages) {
      ASSERT_NO_FATAL_FAILURE(SaveOne());
      std::string bytes = ReadBytes(ConfigFile());
      ASSERT_GT(bytes.size(), 8192u);
      for (std::size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5);
      WriteBytes(ConfigFile(), bytes);
    } else {
      WriteBytes(ConfigFile(), std::string(3000, 'x') + "\nnot a database\n");
    }
    const std::string spoiled = ReadBytes(ConfigFile());

    engine::ServerStorage storage;
    EngineMonitorStore store(storage, nullptr);
    const std::optional<FileProblem> problem = store.LoadAll();
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->path, ConfigFile());
    EXPECT_NE(problem->text.find(c.text), std::string::npos) << problem->text;
    EXPECT_TRUE(storage.RefusesConfigWrites());
    EXPECT_TRUE(store.Monitors().empty());
    // Nothing to save: nothing written, nothing to tell.
    EXPECT_EQ(store.SaveAll(kExitBusyLimit), std::nullopt);

    // New monitors and actions are refused too, and the user is told on a commit.
    const std::string id = storage.AddNewODBCDataSource()->id;
    auto action = std::make_shared<engine::Action>();
    storage.AddAction(action);
    EXPECT_EQ(storage.SaveServer(id), 0);
    EXPECT_EQ(storage.SaveAction(action->id), 0);
    ASSERT_TRUE(storage.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    const std::optional<FileProblem> atExit = store.SaveAll(kExitBusyLimit);
    ASSERT_TRUE(atExit.has_value());
    EXPECT_EQ(atExit->path, ConfigFile());
    EXPECT_NE(atExit->text.find(c.text), std::string::npos) << atExit->text;
    // Kept running after the close's question, the saves go on failing in silence.
    store.ExitCancelled();
    EXPECT_EQ(storage.SaveServer(id), 0);
    ASSERT_TRUE(storage.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    // Told when the saves began to fail, not again while they keep failing.
    ASSERT_EQ(messages_.messages.size(), 1u);
    EXPECT_NE(messages_.messages[0].find(ConfigFile()), std::string::npos) << messages_.messages[0];
    EXPECT_EQ(ReadBytes(ConfigFile()), spoiled);

    // A sound file again: the next load takes it and writes go through.
    std::filesystem::remove(ConfigFile());
    EXPECT_EQ(store.LoadAll(), std::nullopt);
    EXPECT_FALSE(storage.RefusesConfigWrites());
    storage.AddNewODBCDataSource();
    EXPECT_EQ(store.SaveAll(kExitBusyLimit), std::nullopt);
  }
}

// A commit that the worker cannot write is shown to the user with the file's path and the
// library's text, once while the saves keep failing; a save at exit returns it.
TEST_F(ConfigurationFileTest, AFailedSaveIsTold) {
  ASSERT_NO_FATAL_FAILURE(SaveOne());
  engine::ServerStorage storage;
  EngineMonitorStore store(storage, nullptr);
  ASSERT_EQ(store.LoadAll(), std::nullopt);
  ASSERT_EQ(storage.GetServerCount(), 1);
  WriteBytes(ConfigFile(), std::string(4096, 'x'));

  const struct {
    const char* what;
    std::function<int()> save;
  } cases[] = {
      {"monitor", [&] { return storage.SaveServer(storage.GetServer(0)->id); }},
      {"action", [&] { return storage.SaveAction(storage.GetAction(0)->id); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.save(), SQLITE_OK);
    ASSERT_TRUE(storage.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    ASSERT_EQ(messages_.messages.size(), 1u);
    EXPECT_EQ(messages_.messages[0], "Lumivar: The configuration could not be saved to " +
                                         ConfigFile() + ": file is not a database.");
  }
  const std::optional<FileProblem> atExit = store.SaveAll(kExitBusyLimit);
  ASSERT_TRUE(atExit.has_value());
  EXPECT_EQ(*atExit, (FileProblem{ConfigFile(), "file is not a database"}));
  EXPECT_EQ(ReadBytes(ConfigFile()), std::string(4096, 'x'));
}

}  // namespace
}  // namespace app
