// Shared set-up of the monitor and store tests: a data folder of the test's own with both
// files created, a fake user interface installed, and helpers that read rows back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "engine/monitor/server.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"
#include "tests/support/temp_dir.h"

namespace engine::testing {

// Records every call; MonitorUpdated may run a hook on the calling thread. Completed
// stops and deletions are events "stopped <id>" and "deleted <id>", written pages "pages",
// renewed today's figures "today", messages for the user "error: <text>" or "info: <text>".
class FakeUi : public IUserInterface {
 public:
  void MonitorUpdated(std::string monitorId) override {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = onUpdate_;
    }
    if (hook) hook(monitorId);
    {
      std::lock_guard lock(mutex_);
      updates_.push_back(std::move(monitorId));
    }
    cv_.notify_all();
  }
  void MonitorStopped(std::string monitorId) override { Note("stopped " + monitorId); }
  void MonitorDeleted(std::string monitorId) override { Note("deleted " + monitorId); }
  void RemovalRefused(std::string monitorId) override { Note("refused " + monitorId); }
  void TodayFiguresRenewed() override { Note("today"); }
  void PagesWritten() override { Note("pages"); }
  void ShowBalloon(std::string, std::string, MessageKind) override {}
  void RestoreMainWindow() override {}
  void ShowAlertMessage(std::string, std::string text, MessageKind kind) override {
    Note((kind == MessageKind::kError ? "error: " : "info: ") + text);
  }
  void ShowActionTestResult(std::uint32_t) override {}

  void OnUpdate(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(mutex_);
    onUpdate_ = std::move(hook);
  }
  std::vector<std::string> Updates() const {
    std::lock_guard lock(mutex_);
    return updates_;
  }
  std::size_t UpdateCount() const {
    std::lock_guard lock(mutex_);
    return updates_.size();
  }
  bool WaitForUpdates(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return updates_.size() >= count; });
  }
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events that begin with prefix, without it, in order.
  std::vector<std::string> EventsOf(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    for (const std::string& event : events_) {
      if (event.starts_with(prefix)) found.push_back(event.substr(prefix.size()));
    }
    return found;
  }
  bool WaitForEvents(const std::string& prefix, std::size_t count,
                     std::chrono::seconds bound = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(mutex_);
    return cv_.wait_until(lock, deadline, [&] {
      return static_cast<std::size_t>(std::count_if(
                 events_.begin(), events_.end(),
                 [&](const std::string& e) { return e.starts_with(prefix); })) >= count;
    });
  }
  bool WaitForEvent(const std::string& event) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }

 private:
  void Note(std::string event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    cv_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> updates_;
  std::vector<std::string> events_;
  std::function<void(const std::string&)> onUpdate_;
};

using Rows = std::vector<std::vector<std::string>>;

// Every row of a query on one of the two files, each column as text. Log rows asked for
// so far are written first.
inline Rows ReadRows(const char* fileName, const std::string& sql) {
  WaitForLogWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20));
  Rows rows;
  db::Database database;
  if (DataFiles::OpenDatabase(database, fileName) != 0) {
    ADD_FAILURE() << "cannot open " << fileName;
    return rows;
  }
  db::Statement statement(database);
  db::Cursor* cursor = nullptr;
  if (statement.Prepare(sql) != 0 || statement.Execute(&cursor) != 0) {
    ADD_FAILURE() << "query failed: " << sql;
    return rows;
  }
  while (!cursor->IsDone()) {
    std::vector<std::string> row;
    for (int i = 0; i < cursor->ColumnCount(); ++i) row.push_back(cursor->GetText(i));
    rows.push_back(std::move(row));
    if (cursor->Next() != 0) break;
  }
  return rows;
}

// The file's data version as a connection of the test sees it: it changes with every
// write of any other connection, so an unchanged version means nothing was written.
inline std::int64_t DataVersion(db::Database& watcher) {
  db::Statement statement(watcher);
  db::Cursor* cursor = nullptr;
  EXPECT_EQ(statement.Prepare("PRAGMA data_version"), 0);
  EXPECT_EQ(statement.Execute(&cursor), 0);
  return cursor != nullptr ? cursor->GetInt64(0) : -1;
}

inline Rows DataRows(const std::string& sql) { return ReadRows(DataFiles::kDataFileName, sql); }
inline Rows ConfigRows(const std::string& sql) { return ReadRows(DataFiles::kConfigFileName, sql); }

// Today's figures {up, down} in seconds as a window query walks the monitor's rows: those
// after `since` and not after `until` in time order, each ending a span that began at the
// row before it (the first at `since`, or at the monitor's first row when later).
inline std::pair<std::int64_t, std::int64_t> WalkRows(const std::string& monitorId,
                                                      std::int64_t since, std::int64_t until) {
  const std::string id = "'" + monitorId + "'";
  const Rows rows = DataRows(
      "SELECT coalesce(sum(CASE WHEN available + 0 <> 0 THEN span END), 0), coalesce(sum(CASE "
      "WHEN available + 0 = 0 THEN span END), 0) FROM (SELECT available, time + 0 - "
      "coalesce(lag(time + 0) OVER (ORDER BY time), max(" +
      std::to_string(since) +
      ", (SELECT min(time + 0) FROM ODBCDataSourcesData WHERE monitorId = " + id +
      "))) AS span "
      "FROM ODBCDataSourcesData WHERE (monitorId = " +
      id + " AND time + 0 > " + std::to_string(since) +
      " AND time + 0 <= " + std::to_string(until) + ")) WHERE span > 0");
  return {std::stoll(rows.at(0).at(0)), std::stoll(rows.at(0).at(1))};
}

inline void ExecData(const std::string& sql) {
  db::Database database;
  ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kDataFileName), 0);
  ASSERT_EQ(db::Database::ExecSQL(database, sql), 0) << sql;
}

// Another connection to the data file, holding it under an exclusive lock until Release.
class DataFileLock {
 public:
  DataFileLock() {
    EXPECT_EQ(DataFiles::OpenDatabase(database_, DataFiles::kDataFileName), 0);
    EXPECT_EQ(db::Database::ExecSQL(database_, "BEGIN EXCLUSIVE"), 0);
  }
  ~DataFileLock() { Release(); }
  void Release() {
    if (database_.IsOpen()) db::Database::ExecSQL(database_, "COMMIT");
    database_.Close();
  }

 private:
  db::Database database_;
};

// While it lives, the configuration file refuses the program's writes: another connection
// holds it under an exclusive lock, or it cannot be written (refused, as after a start
// that could not read it).
class ConfigRefusal {
 public:
  enum class Kind { kHeldLock, kUnwritable };

  explicit ConfigRefusal(Kind kind) : kind_(kind) {
    if (kind_ == Kind::kUnwritable) {
      DataFiles::SetConfigFileRefused(true);
      return;
    }
    EXPECT_EQ(DataFiles::OpenDatabase(holder_, DataFiles::kConfigFileName), 0);
    EXPECT_EQ(db::Database::ExecSQL(holder_, "BEGIN EXCLUSIVE"), 0);
  }
  ~ConfigRefusal() {
    if (kind_ == Kind::kUnwritable) DataFiles::SetConfigFileRefused(false);
    if (holder_.IsOpen()) db::Database::ExecSQL(holder_, "COMMIT");
  }
  ConfigRefusal(const ConfigRefusal&) = delete;
  ConfigRefusal& operator=(const ConfigRefusal&) = delete;

  static constexpr Kind kKinds[] = {Kind::kHeldLock, Kind::kUnwritable};
  static const char* Name(Kind kind) {
    return kind == Kind::kHeldLock ? "held lock" : "unwritable file";
  }

 private:
  Kind kind_;
  db::Database holder_;
};

// Local time to seconds since 1970, in the time zone the process uses now.
inline std::int64_t LocalTime(int year, int month, int day, int hour = 0, int minute = 0,
                              int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

// A data folder of the test's own with both files, the fake user interface installed, and
// the time zone fixed to Europe/London.
class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tzset();
    DataFiles::SetConfigFileRefused(false);  // process-wide: a test before may have set it
    DataFiles::CreateConfigTables();
    DataFiles::CreateDataTables();
    Services::SetUi(&ui_);
  }
  void TearDown() override {
    // Stops, deletions and log rows finish in the test's own data folder.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    EXPECT_TRUE(Server::WaitForHelpers(deadline));
    EXPECT_TRUE(WaitForLogWrites(deadline));
    Services::SetUi(nullptr);
    Services::SetStorage(nullptr);
    Services::SetSettings(nullptr);
  }

  testing_support::TempDir dir_;
  testing_support::ScopedEnv documents_{"LUMIVAR_DOCUMENTS_DIR", dir_.Path()};
  testing_support::ScopedEnv tz_{"TZ", "Europe/London"};
  FakeUi ui_;
};

// Takes the monitor's first test query out of it, when it has one, and deletes its data
// rows on a helper (its configuration rows stay).
inline void DeleteFirstTestQuery(Server& monitor) {
  std::string id;
  {
    std::lock_guard lock(monitor.Mutex());
    if (monitor.testQueries.empty()) return;
    id = monitor.testQueries.front().id;
  }
  monitor.TakeTestQueries({id});
  Server::DeleteTestQueryData({id}, DataFiles::DataFolder());
}

}  // namespace engine::testing
