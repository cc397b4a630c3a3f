#include "engine/db/database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "engine/db/statement.h"
#include "tests/support/temp_dir.h"

namespace db {
namespace {

using namespace std::chrono_literals;
using testing_support::TempDir;

int OpenFileCount() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator()));
}

// Lowers the busy retry limit for one test.
class RetryLimit {
 public:
  explicit RetryLimit(std::chrono::milliseconds limit) { BusyEvent::SetRetryLimit(limit); }
  ~RetryLimit() { BusyEvent::SetRetryLimit(BusyEvent::kDefaultRetryLimit); }
};

std::string QueryText(Database& database, const std::string& sql) {
  Statement statement(database);
  Cursor* cursor = nullptr;
  if (statement.Prepare(sql) != SQLITE_OK || statement.Execute(&cursor) != SQLITE_OK) return "?";
  return cursor->GetText(0);
}

class DatabaseTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(db_.Open(path_), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(db_, "CREATE TABLE t (k PRIMARY KEY, v)"), SQLITE_OK);
  }
  TempDir dir_;
  std::string path_ = dir_.File("test.db");
  Database db_;
};

TEST(DatabaseLifecycle, UnopenedDatabaseFailsEveryCallAndTouchesNothing) {
  Database database;
  EXPECT_EQ(database.Close(), SQLITE_OK);
  EXPECT_FALSE(Database::TableExists(database, "sqlite_master"));
  EXPECT_EQ(Database::ExecSQL(database, "SELECT 1"), SQLITE_MISUSE);
  EXPECT_EQ(database.Changes(), 0);
  Statement statement(database);
  EXPECT_EQ(statement.Prepare("SELECT 1"), SQLITE_MISUSE);
  Cursor* cursor = nullptr;
  EXPECT_EQ(statement.Execute(&cursor), SQLITE_MISUSE);
  ASSERT_NE(cursor, nullptr);
  EXPECT_TRUE(cursor->IsDone());
  EXPECT_EQ(cursor->Next(), SQLITE_MISUSE);
  EXPECT_EQ(cursor->GetText(0), "");
  EXPECT_EQ(statement.Finalize(), SQLITE_OK);
}

TEST(DatabaseLifecycle, OpenCloseAndFiles) {
  TempDir dir;
  Database database;
  // A missing folder is not made: the open fails and the object stays closed.
  EXPECT_NE(database.Open(dir.File("missing/sub/x.db")), SQLITE_OK);
  EXPECT_FALSE(database.IsOpen());
  EXPECT_EQ(database.Path(), "");
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));

  // A new file is private to its owner and holds UTF-16le text.
  ASSERT_EQ(database.Open(dir.File("new.db")), SQLITE_OK);
  ASSERT_EQ(Database::ExecSQL(database, "CREATE TABLE t (v)"), SQLITE_OK);
  EXPECT_EQ(QueryText(database, "PRAGMA encoding"), "UTF-16le");
  struct stat info {};
  ASSERT_EQ(stat(dir.File("new.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Texts come back whole: empty for NULL, non-ASCII and astral characters intact.
  const std::string text = "Grüße \xE2\x82\xAC \xF0\x9F\x98\x80";
  ASSERT_EQ(Database::ExecSQL(database, "INSERT INTO t VALUES ('" + text + "'), (NULL)"), 0);
  EXPECT_EQ(database.Changes(), 2);
  EXPECT_EQ(QueryText(database, "SELECT v FROM t WHERE v IS NOT NULL"), text);
  EXPECT_EQ(QueryText(database, "SELECT v FROM t WHERE v IS NULL"), "");

  EXPECT_EQ(database.Close(), SQLITE_OK);
  EXPECT_EQ(database.Close(), SQLITE_OK);
  EXPECT_FALSE(database.IsOpen());

  // A UTF-8 file made by another program reads the same.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("utf8.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE u (v); INSERT INTO u VALUES ('ü');", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(other);
  ASSERT_EQ(database.Open(dir.File("utf8.db")), SQLITE_OK);
  EXPECT_EQ(QueryText(database, "PRAGMA encoding"), "UTF-8");
  EXPECT_TRUE(Database::TableExists(database, "u"));
  EXPECT_FALSE(Database::TableExists(database, "x' OR '1'='1"));
  EXPECT_EQ(QueryText(database, "SELECT v FROM u"), "ü");
}

TEST(DatabaseLifecycle, CloseWithLiveStatementReleasesTheFileWhenTheStatementEnds) {
  TempDir dir;
  const int before = OpenFileCount();
  {
    Database database;
    ASSERT_EQ(database.Open(dir.File("x.db")), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(database, "CREATE TABLE t (v)"), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(database, "INSERT INTO t VALUES ('1')"), SQLITE_OK);
    Statement statement(database);
    Cursor* cursor = nullptr;
    ASSERT_EQ(statement.Prepare("SELECT v FROM t"), SQLITE_OK);
    ASSERT_EQ(statement.Execute(&cursor), SQLITE_OK);
    EXPECT_EQ(database.Close(), SQLITE_OK);
    EXPECT_EQ(cursor->GetText(0), "1");
  }
  EXPECT_EQ(OpenFileCount(), before);
}

TEST(DatabaseLifecycle, OneSignalPerPathAndOpeningAfterShutdown) {
  TempDir dir;
  auto& registry = BusyEventRegistry::Instance();
  const std::size_t before = registry.Size();
  {
    Database a, b, c;
    ASSERT_EQ(a.Open(dir.File("one.db")), SQLITE_OK);
    ASSERT_EQ(b.Open(dir.File("one.db")), SQLITE_OK);
    EXPECT_EQ(registry.Size(), before + 1);
    ASSERT_EQ(c.Open(dir.File("two.db")), SQLITE_OK);
    EXPECT_EQ(registry.Size(), before + 2);
    // SQLite stays up while connections are alive.
    EXPECT_EQ(Database::ShutdownLibrary(), SQLITE_BUSY);
    EXPECT_EQ(Database::ExecSQL(a, "CREATE TABLE t (v)"), SQLITE_OK);
  }
  EXPECT_EQ(Database::ShutdownLibrary(), SQLITE_OK);
  Database database;
  ASSERT_EQ(database.Open(dir.File("one.db")), SQLITE_OK);
  EXPECT_EQ(Database::ExecSQL(database, "INSERT INTO t VALUES ('closed')"), SQLITE_OK);
  EXPECT_EQ(Database::InitializeLibrary(), SQLITE_OK);
}

TEST_F(DatabaseTest, StatementReuseAfterAFailedStep) {
  ASSERT_EQ(Database::ExecSQL(db_, "INSERT INTO t VALUES ('a', '1')"), SQLITE_OK);
  Statement statement(db_);
  ASSERT_EQ(statement.Prepare("INSERT INTO t VALUES ('a', '2')"), SQLITE_OK);
  EXPECT_EQ(statement.Execute(nullptr), SQLITE_CONSTRAINT);
  // Executing again starts afresh: the stale error of the failed step is not repeated.
  ASSERT_EQ(Database::ExecSQL(db_, "DELETE FROM t"), SQLITE_OK);
  EXPECT_EQ(statement.Execute(nullptr), SQLITE_OK);
  EXPECT_EQ(statement.Execute(nullptr), SQLITE_CONSTRAINT);
  // A new text on the same statement is compiled and run.
  EXPECT_EQ(statement.Prepare("INSERT INTO t VALUES ('b', '3')"), SQLITE_OK);
  EXPECT_EQ(statement.Execute(nullptr), SQLITE_OK);
  EXPECT_EQ(QueryText(db_, "SELECT count(*) FROM t"), "2");
  EXPECT_EQ(statement.Finalize(), SQLITE_OK);
  EXPECT_EQ(statement.Execute(nullptr), SQLITE_MISUSE);
}

TEST_F(DatabaseTest, ExecuteResults) {
  // Without a cursor, the failing second step's code is returned.
  EXPECT_EQ(Database::ExecSQL(db_,
                              "SELECT abs(v) FROM (SELECT 1 AS v UNION ALL "
                              "SELECT -9223372036854775807 - 1)"),
            SQLITE_ERROR);

  // With a cursor on no rows: done at once, and the file is free for writers.
  RetryLimit limit(300ms);
  Statement statement(db_);
  Cursor* cursor = nullptr;
  ASSERT_EQ(statement.Prepare("SELECT v FROM t"), SQLITE_OK);
  ASSERT_EQ(statement.Execute(&cursor), SQLITE_OK);
  EXPECT_TRUE(cursor->IsDone());
  Database writer;
  ASSERT_EQ(writer.Open(path_), SQLITE_OK);
  EXPECT_EQ(Database::ExecSQL(writer, "INSERT INTO t VALUES ('a', '1'), ('b', '2')"), SQLITE_OK);

  // After the end the query is not run again: its read lock stays released.
  ASSERT_EQ(statement.Execute(&cursor), SQLITE_OK);
  int rows = 0;
  while (!cursor->IsDone()) {
    ++rows;
    EXPECT_EQ(cursor->Next(), SQLITE_OK);
  }
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(cursor->Next(), SQLITE_OK);
  EXPECT_TRUE(cursor->IsDone());
  EXPECT_EQ(cursor->GetText(0), "");
  EXPECT_EQ(Database::ExecSQL(writer, "INSERT INTO t VALUES ('c', '3')"), SQLITE_OK);
}

TEST_F(DatabaseTest, ALockedStepIsReturnedWithoutRestartingTheQuery) {
  ASSERT_EQ(Database::ExecSQL(db_, "INSERT INTO t VALUES ('a', '1'), ('b', '2')"), SQLITE_OK);
  Statement reader(db_);
  Cursor* cursor = nullptr;
  ASSERT_EQ(reader.Prepare("SELECT k FROM t"), SQLITE_OK);
  ASSERT_EQ(reader.Execute(&cursor), SQLITE_OK);
  // Dropping a table that a statement of the same connection still reads stays locked
  // however long one waits: it is not retried.
  EXPECT_EQ(Database::ExecSQL(db_, "DROP TABLE t"), SQLITE_LOCKED);
  EXPECT_EQ(cursor->GetText(0), "a");
  EXPECT_EQ(cursor->Next(), SQLITE_OK);
  EXPECT_EQ(cursor->GetText(0), "b");
  EXPECT_EQ(cursor->Next(), SQLITE_OK);
  EXPECT_TRUE(cursor->IsDone());
}

// A compile function that answers from a script, then compiles for real.
std::vector<int> prepareScript;
int prepareCalls = 0;
int ScriptedPrepare(sqlite3* handle, const char* sql, int length, sqlite3_stmt** stmt,
                    const char** tail) {
  if (static_cast<std::size_t>(prepareCalls) < prepareScript.size()) {
    return prepareScript[static_cast<std::size_t>(prepareCalls++)];
  }
  ++prepareCalls;
  return sqlite3_prepare_v2(handle, sql, length, stmt, tail);
}

TEST_F(DatabaseTest, PrepareRetriesCantOpenOnce) {
  for (auto [script, expected, calls] :
       {std::tuple{std::vector<int>{SQLITE_CANTOPEN, SQLITE_CANTOPEN}, SQLITE_CANTOPEN, 2},
        std::tuple{std::vector<int>{SQLITE_CANTOPEN}, SQLITE_OK, 2},
        std::tuple{std::vector<int>{SQLITE_IOERR}, SQLITE_IOERR, 1}}) {
    prepareScript = script;
    prepareCalls = 0;
    Statement statement(db_, &ScriptedPrepare);
    EXPECT_EQ(statement.Prepare("SELECT 1"), expected);
    EXPECT_EQ(prepareCalls, calls);
  }
}

TEST_F(DatabaseTest, NestedReadThenWriteInOneThreadGivesUpWithBusy) {
  ASSERT_EQ(Database::ExecSQL(db_, "INSERT INTO t VALUES ('a', '1')"), SQLITE_OK);
  RetryLimit limit(200ms);
  Statement reader(db_);
  Cursor* cursor = nullptr;
  ASSERT_EQ(reader.Prepare("SELECT v FROM t"), SQLITE_OK);
  ASSERT_EQ(reader.Execute(&cursor), SQLITE_OK);
  ASSERT_FALSE(cursor->IsDone());
  Database writer;
  ASSERT_EQ(writer.Open(path_), SQLITE_OK);
  EXPECT_EQ(Database::ExecSQL(writer, "INSERT INTO t VALUES ('b', '2')"), SQLITE_BUSY);
}

TEST_F(DatabaseTest, WriterBlockedByAReadCursorGoesOnWhenItEnds) {
  ASSERT_EQ(Database::ExecSQL(db_, "INSERT INTO t VALUES ('a', '1')"), SQLITE_OK);
  auto reader = std::make_unique<Statement>(db_);
  Cursor* cursor = nullptr;
  ASSERT_EQ(reader->Prepare("SELECT v FROM t"), SQLITE_OK);
  ASSERT_EQ(reader->Execute(&cursor), SQLITE_OK);

  // The writer cannot commit while the cursor holds its read lock; within the retry limit
  // (far beyond the test) it goes on once the cursor ends.
  std::atomic<int> result{-1};
  std::atomic<bool> finished{false};
  std::promise<void> writing;
  std::thread writer([&] {
    Database database;
    int rc = database.Open(path_);
    writing.set_value();
    if (rc == SQLITE_OK) rc = Database::ExecSQL(database, "INSERT INTO t VALUES ('b', '2')");
    result = rc;
    finished = true;
  });
  writing.get_future().wait();
  EXPECT_FALSE(finished.load());
  reader.reset();
  writer.join();
  EXPECT_EQ(result.load(), SQLITE_OK);
  EXPECT_EQ(QueryText(db_, "SELECT count(*) FROM t"), "2");
}

TEST_F(DatabaseTest, ConcurrentWritersAndAReaderAllSucceed) {
  constexpr int kWriters = 3;
  constexpr int kRows = 50;
  std::atomic<int> failures{0};
  std::atomic<bool> writing{true};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRows; ++i) {
        Database database;
        const std::string key = std::to_string(w) + "-" + std::to_string(i);
        if (database.Open(path_) != SQLITE_OK ||
            Database::ExecSQL(database, "INSERT INTO t VALUES ('" + key + "', 'x')") != SQLITE_OK) {
          ++failures;
        }
      }
    });
  }
  std::thread reader([&] {
    while (writing) {
      Database database;
      Cursor* cursor = nullptr;
      if (database.Open(path_) != SQLITE_OK) ++failures;
      Statement scan(database);
      if (scan.Prepare("SELECT k, v FROM t") != SQLITE_OK || scan.Execute(&cursor) != 0) {
        ++failures;
        continue;
      }
      while (!cursor->IsDone()) {
        if (cursor->Next() != SQLITE_OK) ++failures;
      }
    }
  });
  for (auto& thread : threads) thread.join();
  writing = false;
  reader.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(QueryText(db_, "SELECT count(*) FROM t"), std::to_string(kWriters * kRows));
}

}  // namespace
}  // namespace db
