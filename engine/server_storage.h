// The monitor store: the owner of every monitor and every action of the running program,
// and its files: the data folder, the configuration file and the data file with their
// tables, and the table of condition operators.
//
// Threads: the store's lists are guarded by its own mutex. Lookups may come from any
// thread and hand out shared_ptr copies, so a monitor or action deleted meanwhile stays
// valid for whoever still holds it. Whole-store operations, deletes, starts and stops run
// on the user-interface thread. Lock order: the store, then a monitor; the store never
// holds its lock while it stops a monitor, saves, or deletes rows. The static functions
// may be called from any thread; each opens its own connection.
#pragma once

#include <array>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/db/database.h"

namespace engine {

class Action;
class ODBCDataSource;
class Server;

class ServerStorage {
 public:
  ServerStorage() = default;
  // Clear.
  virtual ~ServerStorage();
  ServerStorage(const ServerStorage&) = delete;
  ServerStorage& operator=(const ServerStorage&) = delete;

  // ---- whole store ----

  // Empties the store (stopping every monitor), creates any missing tables and loads
  // every monitor (in order of creation time, equal times in row order; a row that fails
  // to load is left out) and every action (in row order). The SQLite result of opening
  // the configuration file; the store stays empty when it fails.
  virtual int LoadAll();
  // Writes every monitor (with its test queries, attributes and alerts) and every action.
  // 0, or the first failure.
  virtual int SaveAll();
  // Stops every monitor (all signalled first, then waited for against one deadline) and
  // abandons the running executions of every action; the store is empty afterwards.
  void Clear();

  // Writes one monitor with its test queries, attributes and alerts, or one action: for
  // editors to call when an edit is committed. 0, the first failure, or SQLITE_NOTFOUND
  // for an unknown identifier.
  int SaveServer(const std::string& id);
  int SaveAction(const std::string& id);

  // ---- monitors ----

  int GetServerCount() const;
  // null for an index out of range.
  std::shared_ptr<Server> GetServer(int index) const;
  // -1 when unknown.
  int FindServerIndex(const std::string& id) const;
  std::shared_ptr<Server> GetServerById(const std::string& id) const;
  // A copy of the list, in order.
  std::vector<std::shared_ptr<Server>> GetServerList() const;
  // Some monitor is running / some monitor is stopped.
  bool AnyRunning() const;
  bool AnyStopped() const;

  // A new monitor with the four built-in attributes, appended. It reaches the file when it
  // is saved.
  std::shared_ptr<ODBCDataSource> AddNewODBCDataSource();
  // Stops the monitor and deletes it with its configuration and data rows. Returns the
  // position of the monitor to select next (the one before it, or 0); 0 and no change for
  // an unknown identifier.
  int DeleteServer(const std::string& id);
  // Duplicating a monitor is not offered: nothing happens.
  void DuplicateServer(const std::string& id);

  // Unknown identifiers do nothing; the results of Start are not looked at.
  void StartServer(const std::string& id);
  void StopServer(const std::string& id);
  void StartAll();
  // Signals every running monitor, then waits for all against one deadline.
  void StopAll();

  // ---- actions ----

  // null for an index out of range.
  std::shared_ptr<Action> GetAction(int index) const;
  // -1 when unknown.
  int FindActionIndex(const std::string& id) const;
  std::shared_ptr<Action> GetActionById(const std::string& id) const;
  // A copy of the list, in order.
  std::vector<std::shared_ptr<Action>> GetActionList() const;
  // Appends a new action (it reaches the file when it is saved).
  void AddAction(std::shared_ptr<Action> action);
  // Abandons the action's running executions and deletes it and its row; alerts naming it
  // keep its identifier. Returns 0; an index out of range does nothing.
  int DeleteAction(int index);
  int DeleteActionById(const std::string& id);

  // ---- files ----

  static constexpr const char* kConfigFileName = "varnholt.cfg";
  static constexpr const char* kDataFileName = "varnholt.dat";
  static constexpr const char* kIndexPageFileName = "index.html";
  static constexpr const char* kActionsPageFileName = "actions.html";

  // Opens the file of that name in the data folder. Fails (and leaves the database
  // closed) when the data folder cannot be had; nothing is ever opened elsewhere.
  static int OpenDatabase(db::Database& database, const std::string& fileName);

  // Bring the two files up to all their tables (and the data file's indexes); tables and
  // rows already there are kept. Called at every start before anything is read.
  static void CreateConfigTables();
  static void CreateDataTables();

  // The table of a monitor kind: "ODBCDataSources" for kind 2, "" for any other. Its
  // samples are in the table of that name followed by "Data".
  static std::string GetTableName(int type);

 private:
  // Stops the monitors: all signalled first, then each waited for against one deadline.
  static void StopServers(const std::vector<std::shared_ptr<Server>>& list);

  mutable std::shared_mutex mutex_;
  std::vector<std::shared_ptr<Server>> servers;  // in order of creation time
  std::vector<std::shared_ptr<Action>> actions;  // in row order, new ones appended
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
// every poll and in every report.
inline constexpr std::array<std::string_view, 4> kDataIndexes = {
    "CREATE INDEX IF NOT EXISTS ODBCDataSourcesDataByMonitorTime ON ODBCDataSourcesData "
    "(monitorId, time)",
    "CREATE INDEX IF NOT EXISTS TestQueriesDataByIdTime ON TestQueriesData (id, time)",
    "CREATE INDEX IF NOT EXISTS LogByMonitorTime ON Log (monitorId, time)",
    "CREATE INDEX IF NOT EXISTS AlertsDataByTime ON AlertsData (time)",
};

// An alert's condition operator as shown to the user, by its condition number.
inline constexpr std::array<std::string_view, 6> kConditionOperators = {"<",  ">",  "=",
                                                                        "<=", ">=", "<>"};
// "" for a number outside the table.
std::string_view ConditionOperatorText(int condition);

}  // namespace engine
