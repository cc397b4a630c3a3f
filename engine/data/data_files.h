// The program's two SQLite files in the data folder, the configuration file and the data
// file: their names, opening them, and their tables and indexes. Every reader and writer
// of the files opens them here; nothing is ever opened outside the data folder. Any
// thread; each call opens its own connection, but for the data file's shared connection
// (SharedDataFile), which the polls use in turn.
#pragma once

#include <array>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/db/database.h"

namespace engine {

class DataFiles {
 public:
  static constexpr const char* kConfigFileName = "varnholt.cfg";
  static constexpr const char* kDataFileName = "varnholt.dat";
  static constexpr const char* kIndexPageFileName = "index.html";
  static constexpr const char* kActionsPageFileName = "actions.html";
  // How long one write of the user's changes waits for another connection's lock on the
  // configuration file; a removal the file refuses that long is put back.
  static constexpr std::chrono::milliseconds kConfigBusyBound{50};

  // Opens the file of that name in the data folder. Fails (and leaves the database
  // closed) when the data folder cannot be had; nothing is ever opened elsewhere.
  static int OpenDatabase(db::Database& database, const std::string& fileName);
  // The data folder as a path ending in '/', made when missing; "" when it cannot be had.
  // Work done later on another thread keeps the folder of the moment it was asked for.
  static std::string DataFolder();
  // Opens the file of that name in a folder that DataFolder gave; fails for "".
  static int OpenDatabaseIn(db::Database& database, const std::string& folder,
                            const std::string& fileName);

  // While set, the configuration file is never opened here (SQLITE_READONLY): it could not
  // be read at start-up and must stay as it is, whoever would write it.
  static void SetConfigFileRefused(bool refused);

  // Bring the two files up to all their tables (and the data file's indexes); tables and
  // rows already there are kept. Called at every start before anything is read. The data
  // file is switched to write-ahead logging, so readers never hold back the polls'
  // commits.
  static void CreateConfigTables();
  static void CreateDataTables();
  // Holds the shared connection to the data file of the current data folder open
  // (CreateDataTables does), or closes it: at exit, once no other connection is open,
  // closing it folds the write-ahead log back into the file. Opening leaves the connection
  // to its user while DataFileLock() is held; closing (at exit) waits for the lock a few
  // seconds at most and otherwise leaves the connection to the end of the process.
  static void KeepDataFileOpen(bool keep);

  // The lock of the data file's shared connection, taken around every use of it
  // (SharedDataFile): the polls' stores and today's uptime. The threads of this process
  // so take turns at the file instead of meeting each other in SQLite's busy answers,
  // which scale badly with hundreds of monitors. The log writer and the deletions keep
  // connections of their own, so that their waits for a file held by another program
  // never hold the lock; a deletion of rows takes it once before it begins, to come after
  // every row a poll stored before. Never destroyed. Taken before a monitor's mutex,
  // never while holding one.
  static std::mutex& DataFileLock();

  // The table of a monitor kind: "ODBCDataSources" for kind 2, "" for any other. Its
  // samples are in the table of that name followed by "Data".
  static std::string GetTableName(int type);
};

// The data file's shared connection for the length of one use: holds DataFileLock() from
// construction to destruction. One connection serves every poll, so that each commit
// costs no new connection and its page cache, and polls of hundreds of monitors share one
// cache instead of one each. Everything run on it must leave it out of any transaction
// before the lock is let go. A connection on which a statement failed is handed to
// Discard: it is closed then, and the next user opens it afresh (no transaction or stale
// lock outlives a failure); so is one left in a transaction (a use that ended by an
// exception). Any thread; not while holding DataFileLock() already.
class SharedDataFile {
 public:
  // The data file of the current data folder, or of `folder` (a path ending in '/' that
  // DataFiles::DataFolder gave).
  SharedDataFile();
  explicit SharedDataFile(const std::string& folder);
  ~SharedDataFile();
  SharedDataFile(const SharedDataFile&) = delete;
  SharedDataFile& operator=(const SharedDataFile&) = delete;

  // The open connection, opened here if it was closed or open on another folder's file;
  // null when the file cannot be opened (Status says why).
  db::Database* Connection() { return connection_; }
  int Status() const { return status_; }
  // Closes the connection when this use ends.
  void Discard() { discard_ = true; }

 private:
  std::unique_lock<std::mutex> lock_;
  db::Database* connection_ = nullptr;
  int status_ = 0;
  bool discard_ = false;
};

// The tables of the two files and the statements that create them. The texts are stored
// in the files as they stand here, blanks and tabs included.
struct TableDefinition {
  std::string_view name;
  std::string_view createSql;
};

inline constexpr std::array<TableDefinition, 5> kConfigTables = {{
    {"ODBCDataSources",
     "CREATE TABLE IF NOT EXISTS ODBCDataSources (id NOT NULL PRIMARY KEY,\t\t\t name NOT NULL, "
     "address NOT NULL, username NOT NULL, password NOT NULL, customConnectionString, "
     "connectionString, pollingInterval NOT NULL, creationTime NOT NULL, customTimeouts, "
     "loginTimeout, queryTimeout)"},
    {"TestQueries",
     "CREATE TABLE IF NOT EXISTS TestQueries (monitorId NOT NULL, id NOT NULL PRIMARY KEY, name, "
     "query, enable, type)"},
    {"HealthAttributes",
     "CREATE TABLE IF NOT EXISTS HealthAttributes (monitorId NOT NULL, id NOT NULL PRIMARY KEY, "
     "name, testQueryId, type)"},
    {"Alerts",
     "CREATE TABLE IF NOT EXISTS Alerts (monitorId NOT NULL, id NOT NULL PRIMARY KEY, actionId, "
     "healthAttributeId, enable, threshold, condition, alertType, customMessage)"},
    {"Actions",
     "CREATE TABLE IF NOT EXISTS Actions (id NOT NULL PRIMARY KEY, name, type, server, port, "
     "auth, userName, password, fromAddress, toAddress, datasourceName, sqlQuery, path, uiType, "
     "pollsCount)"},
}};

inline constexpr std::array<TableDefinition, 4> kDataTables = {{
    {"ODBCDataSourcesData",
     "CREATE TABLE IF NOT EXISTS ODBCDataSourcesData (monitorId NOT NULL, time,available, "
     "health,errorCode, errorDescription,connectionTime, requestTime)"},
    {"TestQueriesData",
     "CREATE TABLE IF NOT EXISTS TestQueriesData (monitorId NOT NULL, id NOT NULL, time, value, "
     "errorCode, errorDescription)"},
    {"AlertsData",
     "CREATE TABLE IF NOT EXISTS AlertsData (monitorId NOT NULL, alertId, time, actionId, "
     "title)"},
    {"Log", "CREATE TABLE IF NOT EXISTS Log (monitorId NOT NULL, time, type, text)"},
}};

// The data file's indexes: the readers select a monitor's rows over a time range after
// every poll and in every report, and deleting a monitor deletes its rows of every table.
inline constexpr std::array<std::string_view, 6> kDataIndexes = {
    "CREATE INDEX IF NOT EXISTS ODBCDataSourcesDataByMonitorTime ON ODBCDataSourcesData "
    "(monitorId, time)",
    "CREATE INDEX IF NOT EXISTS TestQueriesDataByIdTime ON TestQueriesData (id, time)",
    "CREATE INDEX IF NOT EXISTS LogByMonitorTime ON Log (monitorId, time)",
    "CREATE INDEX IF NOT EXISTS AlertsDataByTime ON AlertsData (time)",
    "CREATE INDEX IF NOT EXISTS TestQueriesDataByMonitor ON TestQueriesData (monitorId)",
    "CREATE INDEX IF NOT EXISTS AlertsDataByMonitor ON AlertsData (monitorId)",
};

}  // namespace engine
