// The monitor store: the owner of every monitor and every action of the running program.
// It loads and saves them through the files of data_files.h and is the engine's monitor
// directory (monitor_directory.h).
//
// Threads: the store's lists are guarded by its own mutex. Lookups may come from any
// thread and hand out shared_ptr copies, so a monitor or action deleted meanwhile stays
// valid for whoever still holds it. Whole-store operations, deletes, starts and stops run
// on the user-interface thread; starts, stops and deletes return at once and leave their
// waiting and row deletion to helper threads (Server::RunHelper). Lock order: the store,
// then a monitor; the store never holds its lock while it stops a monitor, saves, or
// deletes rows.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "engine/db/database.h"
#include "engine/monitor_directory.h"
#include "engine/store/monitor_snapshot.h"

namespace engine {

class Action;
class ConfigSaves;
class ODBCDataSource;
class Server;
struct SaveSet;

// A file of the store that could not be read or written: its SQLite result, its path and
// SQLite's text for the failure.
struct FileFailure {
  int code = 0;
  std::string path;
  std::string text;
};

class ServerStorage : public IMonitorDirectory {
 public:
  ServerStorage();
  // Stops the worker of the saves (store_saves.h), then Clear.
  ~ServerStorage() override;
  ServerStorage(const ServerStorage&) = delete;
  ServerStorage& operator=(const ServerStorage&) = delete;

  // ---- whole store ----

  // Empties the store (stopping every monitor), creates any missing tables and loads
  // every monitor (in order of creation time, equal times in row order; a row that fails
  // to load is left out) and every action (in row order). 0, or the SQLite result of the
  // failure, described in *failure when given. When the configuration file exists but
  // cannot be opened or read (not a database, malformed, unreadable, locked), the store
  // stays empty and refuses to write that file until a later LoadAll succeeds.
  virtual int LoadAll(FileFailure* failure = nullptr);
  // Writes every monitor (with its test queries, attributes and alerts) and every action.
  // 0, or the first failure, described in *failure when given.
  virtual int SaveAll(FileFailure* failure = nullptr);
  // Whether the configuration file is refused for writing (see LoadAll).
  bool RefusesConfigWrites() const;
  // Asks every monitor to stop, waits for the stops a short while (then leaves them to
  // their helpers) and abandons the running executions of every action; the store is
  // empty afterwards.
  void Clear();

  // Commits one monitor with its test queries, attributes and alerts, or one action, with
  // every other edit waiting (CommitEdits): for editors to call when an edit is committed.
  // SQLITE_NOTFOUND for an unknown identifier, else as CommitEdits.
  int SaveServer(const std::string& id, FileFailure* failure = nullptr);
  int SaveAction(const std::string& id, FileFailure* failure = nullptr);
  // Writes every monitor and action with edits not yet in the file, in one transaction
  // (store_saves.h): the user-interface thread waits at most a short bound for another
  // connection's lock, and a locked file is written by a worker once it is let go. 0 when
  // written, handed to the worker, or nothing waited; else the failure, described in
  // *failure when given, and the edits wait for the next commit. The user is told when
  // saves begin to fail and when they succeed again (IUserInterface::ShowAlertMessage).
  int CommitEdits(FileFailure* failure = nullptr);
  // Waits until no commit is left to the worker, or the deadline passes; true when none.
  bool WaitForSaves(std::chrono::steady_clock::time_point deadline);

  // ---- monitors ----

  int GetServerCount() const;
  // null for an index out of range.
  std::shared_ptr<Server> GetServer(int index) const;
  // -1 when unknown.
  int FindServerIndex(const std::string& id) const;
  std::shared_ptr<Server> GetServerById(const std::string& id) const override;
  // A copy of the list, in order.
  std::vector<std::shared_ptr<Server>> GetServerList() const override;
  // Some monitor is running / some monitor is stopped.
  bool AnyRunning() const;
  bool AnyStopped() const;

  // A new monitor with the four built-in attributes, appended. It reaches the file when it
  // is saved.
  std::shared_ptr<ODBCDataSource> AddNewODBCDataSource();
  // Takes the monitor out of the store at once and returns the position of the monitor to
  // select next (the one before it, or 0); 0 and no change for an unknown identifier. A
  // helper stops it, deletes its configuration and data rows, notes the deletion
  // (data_changes.h) and calls the user interface's MonitorDeleted(id).
  int DeleteServer(const std::string& id);
  // Duplicating a monitor is not offered: nothing happens.
  void DuplicateServer(const std::string& id);

  // Unknown identifiers do nothing; the results of Start are not looked at (a start while
  // the monitor's stop is pending is refused). Stops return at once (Server::Stop).
  void StartServer(const std::string& id);
  void StopServer(const std::string& id);
  void StartAll();
  void StopAll();
  // Waits until no stop or delete asked for so far is still pending (nor any other
  // helper of Server::RunHelper), or the deadline passes; true when none is pending.
  bool WaitForStops(std::chrono::steady_clock::time_point deadline);
  // The monitor's stop was asked for and has not completed; false for an unknown one.
  bool IsStopPending(const std::string& id) const;

  // ---- actions ----

  // null for an index out of range.
  std::shared_ptr<Action> GetAction(int index) const;
  // -1 when unknown.
  int FindActionIndex(const std::string& id) const;
  std::shared_ptr<Action> GetActionById(const std::string& id) const;
  // A copy of the list, in order.
  std::vector<std::shared_ptr<Action>> GetActionList() const override;
  // Appends a new action (it reaches the file when it is saved).
  void AddAction(std::shared_ptr<Action> action);
  // Abandons the action's running executions and deletes it and its row; alerts naming it
  // keep its identifier. Returns 0; an index out of range does nothing. An action whose
  // row cannot be deleted stays, and the user is told as for a failed save.
  int DeleteAction(int index);
  // The same by identifier: 0, SQLITE_NOTFOUND, or the failure of the row's deletion.
  int DeleteActionById(const std::string& id);

  // ---- an alert's action (IMonitorDirectory) ----

  void AlertActionStarted(const std::string& monitorId, const std::string& alertId) override;
  bool AlertActionDone(const std::string& monitorId, const std::string& alertId,
                       std::uint32_t status) override;

  // ---- for the views ----
  // Views see monitors and actions only through these calls: snapshots are copies taken
  // under the monitor's (or action's) mutex, and edits name their objects by identifier,
  // apply under the mutex and save what they changed. Snapshots and summaries may be
  // taken on any thread. Edits come from one thread at a time (the user-interface thread)
  // and commit what they changed (CommitEdits), which waits at most a short bound for the
  // file's lock; a deleted alert's row
  // goes at once, a deleted test query's rows on a helper (Server::DeleteTestQuery).
  // Statuses: 0, the SQLite result of a failed save, or SQLITE_NOTFOUND for an unknown
  // identifier (nothing is changed then).

  // Empty for an unknown identifier.
  std::optional<MonitorSnapshot> GetMonitorSnapshot(const std::string& id) const;
  // Every monitor, in store order.
  std::vector<MonitorSummary> GetMonitorSummaries() const;

  // A new monitor with the four built-in attributes and these settings, appended and
  // saved (it is not started); its identifier. *status, when given, gets the save's.
  std::string AddMonitor(const MonitorSettings& settings, int* status = nullptr);
  // Applies the settings to the monitor and saves it. A running monitor is not restarted:
  // its next poll uses them (the wait under way keeps the interval it began with).
  int ApplyMonitorSettings(const std::string& id, const MonitorSettings& settings);
  // The report period last chosen for the monitor's reports (memory only, not saved).
  int SetReportPeriod(const std::string& id, std::int64_t start, std::int64_t end,
                      std::int32_t period);
  // Deletes every log row of the monitor: it writes the data file, so not on the
  // user-interface thread.
  int ClearLog(const std::string& id);

  // Test queries of a monitor. Add appends an enabled test query with its attribute,
  // saves the monitor and returns the new identifier ("" when the monitor is unknown);
  // *status, when given, gets the status. Delete removes the test query with its data
  // rows, its attribute and the alerts on it.
  std::string AddTestQuery(const std::string& monitorId, const TestQuerySettings& settings,
                           int* status = nullptr);
  int ChangeTestQuery(const std::string& monitorId, const std::string& queryId,
                      const TestQuerySettings& settings);
  // As ChangeTestQuery, in memory only: the edit reaches the file at the next commit
  // (CommitEdits, or any save). For fields that change the test query as the user types.
  int EditTestQuery(const std::string& monitorId, const std::string& queryId,
                    const TestQuerySettings& settings);
  int EnableTestQuery(const std::string& monitorId, const std::string& queryId, bool enable);
  int DeleteTestQuery(const std::string& monitorId, const std::string& queryId);

  // Alerts of a monitor, as for test queries. A new alert is enabled; its counters start
  // at 0. Its attribute and action are not checked: an alert naming neither never fires.
  std::string AddAlert(const std::string& monitorId, const AlertSettings& settings,
                       int* status = nullptr);
  int ChangeAlert(const std::string& monitorId, const std::string& alertId,
                  const AlertSettings& settings);
  int EnableAlert(const std::string& monitorId, const std::string& alertId, bool enable);
  int DeleteAlert(const std::string& monitorId, const std::string& alertId);
  int DeleteAllAlerts(const std::string& monitorId);

  // Actions, in store order; empty for an unknown identifier.
  std::vector<ActionSnapshot> GetActionSnapshots() const;
  std::optional<ActionSnapshot> GetActionSnapshot(const std::string& id) const;
  // Add appends a new action with these settings, saves it and returns its identifier.
  std::string AddAction(const ActionSettings& settings, int* status = nullptr);
  int ChangeAction(const std::string& id, const ActionSettings& settings);
  // Abandons the action's running executions and deletes it and its row.
  int DeleteAction(const std::string& id);
  // Starts a test run of the action (its worker shows the result): its status, 0 when
  // started, or SQLITE_NOTFOUND for an unknown identifier.
  int TestAction(const std::string& id);

  // ---- end of the calls for the views ----

 private:
  // Opens the configuration file for writing; fails without opening it while the file
  // is refused.
  int OpenConfigForWriting(db::Database& database, FileFailure* failure) const;
  // The writer of the saves (ConfigSaves::Writer): the records as they are once the
  // file's write lock is had, in one transaction.
  int WriteRecords(const SaveSet& records, std::chrono::milliseconds busyLimit,
                   FileFailure* failure);
  // Serialises the edits, so that an edit that finds a record by identifier and then
  // changes the sequence that holds it meets no other edit in between, and no save copies
  // a record between an edit's writing and its change in memory. Taken before the store's
  // lock and a monitor's mutex; never held while waiting for a polling thread.
  static std::recursive_mutex& EditMutex();
  // Tells the user that a deletion did not reach the configuration file, as for a failed
  // save; returns rc (0: nothing to tell).
  static int TellDeleteFailure(int rc);

  mutable std::shared_mutex mutex_;
  // The load's failure while the configuration file is refused (code 0 otherwise).
  FileFailure refusal_;
  std::vector<std::shared_ptr<Server>> servers;  // in order of creation time
  std::vector<std::shared_ptr<Action>> actions;  // in row order, new ones appended
  std::unique_ptr<ConfigSaves> saves_;
};

}  // namespace engine
