// Commits of the views' edits to the configuration file: a commit hands the edits to the
// worker, in order, and never writes on the committing thread; under another connection's
// or process's lock the newest state reaches the file once the lock goes; a file that
// cannot be written, or a lock held past the retry limit, is told once when it begins and
// once when it ends, and the refused edits reach the file with the next save.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/data/data_files.h"
#include "engine/db/busy_event.h"
#include "engine/store/server_storage.h"
#include "engine/store/store_saves.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/foreign_lock.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::ConfigRows;

std::chrono::steady_clock::time_point In(std::chrono::milliseconds wait) {
  return std::chrono::steady_clock::now() + wait;
}

std::string ConfigFile() { return DataFiles::DataFolder() + DataFiles::kConfigFileName; }

bool WaitFor(const std::function<bool()>& condition) {
  for (const auto giveUp = In(20s); !condition();) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The write lock on the configuration file, held by a connection of this process or by
// another process, until the object goes.
class ForeignLock {
 public:
  virtual ~ForeignLock() = default;
};

class ConnectionLock : public ForeignLock {
 public:
  ConnectionLock() {
    EXPECT_EQ(sqlite3_open_v2(ConfigFile().c_str(), &handle_, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(handle_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ~ConnectionLock() override {
    sqlite3_exec(handle_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(handle_);
  }

 private:
  sqlite3* handle_ = nullptr;
};

class ProcessLock : public ForeignLock {
 public:
  ProcessLock() : lock_(ConfigFile()) {
    EXPECT_TRUE(lock_.Held()) << "the helper never took the lock";
  }
  ~ProcessLock() override { EXPECT_TRUE(lock_.Release()); }

 private:
  testing_support::ForeignProcessLock lock_;
};

// The worker alone writes: commits return before their records are written, reach the
// writer in the order they were made, and a record committed again while a write is under
// way is written again after it.
TEST(ConfigSavesTest, CommitsReturnAndTheWorkerWritesThemInOrder) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  std::vector<std::set<std::string>> written;
  std::vector<std::thread::id> writers;
  ConfigSaves saves([&](const SaveSet& records, const std::vector<std::string>&,
                        std::chrono::milliseconds, FileFailure*) {
    std::unique_lock lock(mutex);
    writers.push_back(std::this_thread::get_id());
    written.push_back(records.monitors);
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    return SQLITE_OK;
  });
  saves.MarkMonitor("a");
  saves.Commit();
  {
    // The first write is under way and held: the commits below return all the same.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return !written.empty(); }));
  }
  saves.MarkMonitor("b");
  saves.Commit();
  saves.MarkMonitor("a");
  saves.MarkMonitor("c");
  saves.Commit();
  saves.Commit();  // nothing marked: nothing more to write
  EXPECT_FALSE(saves.WaitIdle(In(20ms)));
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  ASSERT_TRUE(saves.WaitIdle(In(20s)));
  const std::vector<std::set<std::string>> expected{{"a"}, {"a", "b", "c"}};
  EXPECT_EQ(written, expected);
  for (const std::thread::id& writer : writers) EXPECT_NE(writer, std::this_thread::get_id());
}

// Forgotten edits stay forgotten: a write under way when they are forgotten (the user
// chose to exit without saving) is not tried again when the file's lock held it back, nor
// kept for the next commit when the file refused it.
TEST(ConfigSavesTest, EditsForgottenDuringAWriteAreNotWrittenAfterIt) {
  for (const int refusal : {SQLITE_BUSY, SQLITE_READONLY}) {
    SCOPED_TRACE(refusal);
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    int writes = 0;
    ConfigSaves saves([&](const SaveSet&, const std::vector<std::string>&,
                          std::chrono::milliseconds, FileFailure* failure) {
      std::unique_lock lock(mutex);
      ++writes;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
      failure->text = "refused";
      return refusal;
    });
    saves.MarkMonitor("a");
    saves.Commit();
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return writes == 1; }));
    }
    saves.Forget();
    {
      std::lock_guard lock(mutex);
      release = true;
    }
    changed.notify_all();
    EXPECT_TRUE(saves.WaitIdle(In(20s)));
    saves.Commit();  // nothing marked since the edits were forgotten
    EXPECT_TRUE(saves.WaitIdle(In(20s)));
    std::this_thread::sleep_for(100ms);  // longer than the worker's first pause
    std::lock_guard lock(mutex);
    EXPECT_EQ(writes, 1);
  }
}

// Saves that go while a write is under way still write what was committed behind it.
TEST(ConfigSavesTest, EditsCommittedBehindTheWriteUnderWayAtTheEndAreWritten) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  std::vector<std::set<std::string>> written;
  auto saves =
      std::make_unique<ConfigSaves>([&](const SaveSet& records, const std::vector<std::string>&,
                                        std::chrono::milliseconds, FileFailure*) {
        std::unique_lock lock(mutex);
        written.push_back(records.monitors);
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        return SQLITE_OK;
      });
  saves->MarkMonitor("a");
  saves->Commit();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return !written.empty(); }));
  }
  saves->MarkMonitor("b");
  saves->Commit();
  std::thread end([&] { saves.reset(); });
  // The end asks the worker to stop while "a" is still being written.
  std::this_thread::sleep_for(50ms);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  end.join();
  const std::vector<std::set<std::string>> expected{{"a"}, {"b"}};
  EXPECT_EQ(written, expected);
}

// A lock held so long that the worker's pauses have grown past a Flush's wait: the file is
// still tried again within the wait, so a lock that goes early in it fails no save (the
// window's close waits a second).
TEST(ConfigSavesTest, AFlushTriesALockedFileAgainWithinItsWait) {
  std::mutex mutex;
  std::condition_variable changed;
  int attempts = 0;
  int lastRefused = -1;  // the attempt after which the lock goes; -1: not yet known
  ConfigSaves saves([&](const SaveSet&, const std::vector<std::string>&, std::chrono::milliseconds,
                        FileFailure* failure) {
    std::lock_guard lock(mutex);
    ++attempts;
    changed.notify_all();
    if (lastRefused != -1 && attempts > lastRefused) return SQLITE_OK;
    failure->text = "database is locked";
    return SQLITE_BUSY;
  });
  saves.MarkMonitor("a");
  saves.Commit();
  {
    // Seven attempts: the pause after the last one is longer than a second.
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return attempts >= 7; }));
    // The attempt the Flush brings on is the last one the lock refuses.
    lastRefused = attempts + 1;
  }
  FileFailure failure;
  EXPECT_EQ(saves.Flush(In(900ms), &failure), SQLITE_OK) << failure.text;
  EXPECT_FALSE(saves.Pending());
}

class SavesTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    MonitorSettings settings;
    settings.name = "Sales";
    monitorId_ = store_.AddMonitor(settings);
    queryId_ = store_.AddTestQuery(monitorId_, {"Orders", "SELECT 1"});
    ASSERT_FALSE(queryId_.empty());
    ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  }
  void TearDown() override {
    db::BusyEvent::SetRetryLimit(db::BusyEvent::kDefaultRetryLimit);
    DataFiles::SetConfigFileRefused(false);
    EXPECT_TRUE(store_.WaitForSaves(In(20s)));
    store_.Clear();
    MonitorTest::TearDown();
  }

  // Commits a new name for the test query, as the test-queries view does.
  int Rename(const std::string& name) {
    return store_.ChangeTestQuery(monitorId_, queryId_, {name, "SELECT 1"});
  }
  std::string StoredName() {
    const auto rows = ConfigRows("SELECT name FROM TestQueries WHERE id = '" + queryId_ + "'");
    return rows.empty() ? "" : rows[0][0];
  }

  ServerStorage store_;
  std::string monitorId_;
  std::string queryId_;
};

TEST_F(SavesTest, ACommitUnderAForeignLockReturnsAndLandsOnceTheLockGoes) {
  const struct {
    const char* holder;
    std::function<std::unique_ptr<ForeignLock>()> lock;
  } cases[] = {
      {"connection", [] { return std::make_unique<ConnectionLock>(); }},
      {"process", [] { return std::make_unique<ProcessLock>(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.holder);
    std::unique_ptr<ForeignLock> lock = c.lock();
    // With the usual retry limit a commit that waited for the lock would fail after a
    // minute instead of returning 0.
    for (const char* name : {"first", "second", "newest"}) {
      ASSERT_EQ(Rename(std::string(c.holder) + " " + name), SQLITE_OK);
    }
    MonitorSettings settings = store_.GetMonitorSnapshot(monitorId_)->settings;
    settings.name = std::string("Sales by ") + c.holder;
    EXPECT_EQ(store_.ApplyMonitorSettings(monitorId_, settings), SQLITE_OK);
    EXPECT_FALSE(store_.WaitForSaves(In(100ms)));
    lock.reset();

    ASSERT_TRUE(store_.WaitForSaves(In(20s)));
    EXPECT_EQ(StoredName(), std::string(c.holder) + " newest");
    EXPECT_EQ(ConfigRows("SELECT name FROM ODBCDataSources")[0][0], settings.name);
  }
  EXPECT_TRUE(ui_.Events().empty());
}

// Failure and recovery are told once each; the edits made meanwhile reach the file.
TEST_F(SavesTest, AFileThatCannotBeWrittenIsToldOnceForManyCommits) {
  DataFiles::SetConfigFileRefused(true);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(Rename("refused " + std::to_string(i)), SQLITE_OK);
    ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  }
  EXPECT_EQ(ui_.EventsOf("error: "),
            std::vector<std::string>{"The configuration could not be saved to " + ConfigFile() +
                                     ": attempt to write a readonly database."});

  // The refused edits wait for the next save of any record.
  DataFiles::SetConfigFileRefused(false);
  int status = -1;
  EXPECT_FALSE(store_.AddAction(ActionSettings{.name = "Mail"}, &status).empty());
  EXPECT_EQ(status, SQLITE_OK);
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  EXPECT_EQ(StoredName(), "refused 9");
  EXPECT_EQ(ui_.EventsOf("info: "),
            std::vector<std::string>{"The configuration is saved to " + ConfigFile() + " again."});
  EXPECT_EQ(ui_.EventsOf("error: ").size(), 1u);
}

// The worker keeps trying past the retry limit: the lock is told once, its end once.
TEST_F(SavesTest, ALockHeldPastTheRetryLimitIsToldOnceAndTheEditStillLands) {
  db::BusyEvent::SetRetryLimit(50ms);
  {
    ConnectionLock lock;
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(Rename("held " + std::to_string(i)), SQLITE_OK);
      if (i == 0) {
        ASSERT_TRUE(ui_.WaitForEvents("error: ", 1));
      }
    }
    EXPECT_EQ(ui_.EventsOf("error: "),
              std::vector<std::string>{"The configuration could not be saved to " + ConfigFile() +
                                       ": database is locked."});
  }
  ASSERT_TRUE(store_.WaitForSaves(In(20s)));
  EXPECT_EQ(StoredName(), "held 4");
  ASSERT_TRUE(ui_.WaitForEvents("info: ", 1));
  EXPECT_EQ(ui_.EventsOf("error: ").size(), 1u);
}

// Shows every message as the fake does, but holds the worker's "saved again" until the
// test lets it go, so that a failure met meanwhile on another thread is told after it.
class HeldRecoveryUi : public testing::FakeUi {
 public:
  void ShowAlertMessage(std::string caption, std::string text, MessageKind kind) override {
    if (kind == MessageKind::kInformation) {
      std::unique_lock lock(mutex_);
      entered_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
    FakeUi::ShowAlertMessage(std::move(caption), std::move(text), kind);
  }
  bool WaitEntered() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [this] { return entered_; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
};

// The last message the user sees tells how the saves stand: a failure met while the
// worker is still telling that the saves work again comes after that message.
TEST_F(SavesTest, MessagesFromTwoThreadsKeepTheOrderOfTheResults) {
  HeldRecoveryUi ui;  // outlives the store below, whose worker tells it
  Services::SetUi(&ui);
  ServerStorage store;
  const struct Restore {
    HeldRecoveryUi& held;
    testing::FakeUi& usual;
    ~Restore() {
      held.Release();
      Services::SetUi(&usual);
    }
  } restore{ui, ui_};
  const std::string id = store.AddMonitor({});
  const std::string query = store.AddTestQuery(id, {"Orders", "SELECT 1"});
  ASSERT_TRUE(store.WaitForSaves(In(20s)));
  db::BusyEvent::SetRetryLimit(50ms);
  {
    ConnectionLock lock;
    ASSERT_EQ(store.ChangeTestQuery(id, query, {"held", "SELECT 1"}), SQLITE_OK);
    ASSERT_TRUE(ui.WaitForEvents("error: ", 1));
  }
  // The worker writes and stops in telling that the saves work again.
  ASSERT_TRUE(ui.WaitEntered());
  DataFiles::SetConfigFileRefused(true);
  ASSERT_EQ(store.ChangeTestQuery(id, query, {"refused", "SELECT 1"}), SQLITE_OK);
  ui.Release();
  ASSERT_TRUE(ui.WaitForEvents("error: ", 2));
  const std::vector<std::string> told = ui.Events();
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[1], "info: " + ConfigSaveRecoveredText(ConfigFile()));
  EXPECT_EQ(told[2], "error: The configuration could not be saved to " + ConfigFile() +
                         ": attempt to write a readonly database.");
}

// "Saved again" is told only once nothing that failed for another reason than the lock
// still waits: a commit of other records that succeeds meanwhile leaves the user with the
// failure, and the work stays pending, until the record or removal that failed is written.
TEST(ConfigSavesTest, SavedAgainWaitsForWhatFailedBeforeToBeWritten) {
  const std::string path = "/data/varnholt.cfg";
  for (const bool removal : {false, true}) {
    SCOPED_TRACE(removal ? "removal of a" : "edit of a");
    testing::FakeUi ui;  // outlives the saves, whose worker tells it
    Services::SetUi(&ui);
    const struct Restore {
      ~Restore() { Services::SetUi(nullptr); }
    } restore;
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    std::vector<std::set<std::string>> written;
    std::vector<std::vector<std::string>> statementsRun;
    ConfigSaves saves([&](const SaveSet& records, const std::vector<std::string>& statements,
                          std::chrono::milliseconds, FileFailure* failure) {
      std::unique_lock lock(mutex);
      written.push_back(records.monitors);
      statementsRun.push_back(statements);
      changed.notify_all();
      failure->path = path;
      if (written.size() > 1) return SQLITE_OK;
      // The first write, of a alone, is held until b is committed behind it, then refused.
      changed.wait(lock, [&] { return release; });
      failure->text = "attempt to write a readonly database";
      return SQLITE_READONLY;
    });
    if (removal) {
      ConfigRemoval kept;  // no refused: tried until it is in the file
      kept.statements = {"DELETE a"};
      saves.Remove(std::move(kept));
    } else {
      saves.MarkMonitor("a");
      saves.Commit();
    }
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return !written.empty(); }));
    }
    saves.MarkMonitor("b");
    saves.Commit();
    {
      std::lock_guard lock(mutex);
      release = true;
    }
    changed.notify_all();
    ASSERT_TRUE(saves.WaitIdle(In(20s)));
    {
      std::lock_guard lock(mutex);
      ASSERT_EQ(written.size(), 2u);
      EXPECT_EQ(written[1], std::set<std::string>{"b"});
      EXPECT_TRUE(statementsRun[1].empty());
    }
    EXPECT_EQ(ui.EventsOf("error: "),
              std::vector<std::string>{"The configuration could not be saved to " + path +
                                       ": attempt to write a readonly database."});
    EXPECT_TRUE(ui.EventsOf("info: ").empty());
    EXPECT_TRUE(saves.Pending());

    // The next commit writes a, and only now are the saves back.
    saves.Commit();
    ASSERT_TRUE(saves.WaitIdle(In(20s)));
    {
      std::lock_guard lock(mutex);
      ASSERT_EQ(written.size(), 3u);
      EXPECT_EQ(written[2], removal ? std::set<std::string>{} : std::set<std::string>{"a"});
      EXPECT_EQ(statementsRun[2],
                removal ? std::vector<std::string>{"DELETE a"} : std::vector<std::string>{});
    }
    EXPECT_EQ(ui.EventsOf("info: "), std::vector<std::string>{ConfigSaveRecoveredText(path)});
    EXPECT_EQ(ui.EventsOf("error: ").size(), 1u);
    EXPECT_FALSE(saves.Pending());
  }
}

// A writer whose calls each wait for a turn the test gives, and answer with `result`.
class TurnWriter {
 public:
  explicit TurnWriter(int result) : result_(result) {}
  ConfigSaves::Writer Writer() {
    return [this](const SaveSet&, const std::vector<std::string>&, std::chrono::milliseconds,
                  FileFailure* failure) {
      std::unique_lock lock(mutex_);
      const int call = ++calls_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return free_ || turns_ >= call; });
      failure->path = "/d/varnholt.cfg";
      failure->code = result_;
      return result_;
    };
  }
  void SetResult(int result) {
    std::lock_guard lock(mutex_);
    result_ = result;
  }
  bool WaitForCall(int call) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return calls_ >= call; });
  }
  void GiveTurn() {
    Change([this] { ++turns_; });
  }
  void Free() {
    Change([this] { free_ = true; });
  }

 private:
  void Change(const std::function<void()>& change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  int result_;
  int calls_ = 0;
  int turns_ = 0;
  bool free_ = false;
};

// Refused removals go back last handed over first, whichever attempts refused them and in
// whatever order; while the exit is under way, one refused before it that still waits to go
// back is named with the removals kept for the exit.
TEST(ConfigSavesTest, RefusedRemovalsGoBackLastHandedOverFirstAndWaitingOnesAreNamedAtExit) {
  std::mutex mutex;
  std::vector<std::string> back;
  const auto removal = [&](const std::string& what) {
    ConfigRemoval r;
    r.statements = {"DELETE " + what};
    r.what = what;
    r.refused = [&, what] {
      std::lock_guard lock(mutex);
      back.push_back(what);
    };
    return r;
  };
  const auto wentBack = [&] {
    std::lock_guard lock(mutex);
    return back;
  };
  {
    // R1 is refused while R2 waits behind it; the exit begins while R2's attempt is under way.
    TurnWriter writer(SQLITE_BUSY);
    ConfigSaves saves(writer.Writer());
    saves.Remove(removal("R1"));
    ASSERT_TRUE(writer.WaitForCall(1));
    saves.Remove(removal("R2"));
    writer.GiveTurn();
    ASSERT_TRUE(writer.WaitForCall(2));
    saves.SetExiting(true);
    writer.Free();
    FileFailure failure;
    std::vector<std::string> unremoved{"stale"};
    EXPECT_EQ(saves.Flush(In(100ms), &failure, &unremoved), SQLITE_BUSY);
    EXPECT_EQ(unremoved, (std::vector<std::string>{"R1", "R2"}));
    EXPECT_TRUE(wentBack().empty());
    saves.SetExiting(false);  // kept running: R2 is refused too, and both go back
    ASSERT_TRUE(WaitFor([&] { return wentBack().size() == 2; }));
    EXPECT_EQ(wentBack(), (std::vector<std::string>{"R2", "R1"}));
  }
  back.clear();
  {
    // During the exit Ra fails other than on the lock and waits for the next commit; Rb is
    // handed over behind it and meets the lock. Kept running, Rb is refused first, then Ra.
    TurnWriter writer(SQLITE_READONLY);
    ConfigSaves saves(writer.Writer());
    saves.SetExiting(true);
    saves.Remove(removal("Ra"));
    writer.GiveTurn();
    ASSERT_TRUE(saves.WaitIdle(In(20s)));
    ASSERT_TRUE(saves.Pending());
    writer.SetResult(SQLITE_BUSY);
    saves.Remove(removal("Rb"));
    ASSERT_TRUE(writer.WaitForCall(2));
    saves.SetExiting(false);
    writer.Free();
    ASSERT_TRUE(WaitFor([&] { return wentBack().size() == 2; }));
    EXPECT_EQ(wentBack(), (std::vector<std::string>{"Rb", "Ra"}));
  }
}

// A removal handed over while an attempt meets the lock, or during the pause after it, is
// tried at once: the user hears of its refusal after one more attempt, never after the
// pause, which here outlasts the test's every wait.
TEST(ConfigSavesTest, ARemovalHandedOverDuringAnAttemptOrThePauseIsTriedAtOnce) {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t back = 0;
  const auto removal = [&] {
    ConfigRemoval r;
    r.statements = {"DELETE r"};
    r.refused = [&] {
      {
        std::lock_guard lock(mutex);
        ++back;
      }
      changed.notify_all();
    };
    return r;
  };
  const auto wentBack = [&](std::size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 20s, [&] { return back >= count; });
  };
  TurnWriter writer(SQLITE_BUSY);
  ConfigSaves saves(writer.Writer(), {.first = 1h, .last = 1h});
  const struct FreeAtEnd {
    TurnWriter& writer;
    ~FreeAtEnd() { writer.Free(); }  // the worker's last attempt at the end waits for none
  } freeAtEnd{writer};
  // The edit meets the lock in every attempt and is tried again after each pause.
  saves.MarkMonitor("a");
  saves.Commit();
  ASSERT_TRUE(writer.WaitForCall(1));
  saves.Remove(removal());
  writer.GiveTurn();
  ASSERT_TRUE(writer.WaitForCall(2)) << "handed over during the attempt, it waited for the pause";
  writer.GiveTurn();
  // Refused with the edit; the worker then pauses.
  ASSERT_TRUE(wentBack(1));
  saves.Remove(removal());
  ASSERT_TRUE(writer.WaitForCall(3)) << "handed over during the pause, it waited for its end";
  writer.Free();
  EXPECT_TRUE(wentBack(2));
}

}  // namespace
}  // namespace engine
