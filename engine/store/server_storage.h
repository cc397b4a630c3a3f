// The monitor store: the owner of every monitor and every action of the running program.
// It loads and saves them through the files of data_files.h and is the engine's monitor
// directory (monitor_directory.h) and the window's store (window_store.h).
//
// Threads: the store's lists are guarded by its own mutex. Lookups may come from any
// thread and hand out shared_ptr copies, so a monitor or action deleted meanwhile stays
// valid for whoever still holds it. Whole-store operations, deletes, starts and stops run
// on the user-interface thread; starts, stops and a monitor's deletion return at once and
// leave their waiting and row deletion to helper threads (Server::RunHelper); a deletion
// of test queries, alerts or actions deletes their configuration rows first, waiting at
// most DataFiles::kConfigBusyBound for the file. Lock order: the edits (EditMutex), the
// store, a monitor, the configuration file's lock; the saves' worker alone takes the
// edits after the file's lock, and only with a bounded try. The store never holds its
// lock while it stops a monitor, saves, or deletes rows.
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
#include "engine/store/window_store.h"

namespace engine {

class Action;
class ConfigSaves;
class ODBCDataSource;
class Server;
struct SaveSet;

class ServerStorage : public IMonitorDirectory, public IWindowStore {
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
  // Writes every monitor (with its test queries, attributes and alerts) and every action,
  // waiting at most busyLimit (when given) for another connection's lock. 0, or the first
  // failure, described in *failure when given. Holds off no edit: for the thread that makes
  // the edits and deletions (the user-interface thread, at exit).
  virtual int SaveAll(FileFailure* failure = nullptr,
                      std::optional<std::chrono::milliseconds> busyLimit = std::nullopt);
  // Forgets which edits are not yet in the file: nothing writes them unless they are
  // committed or saved again (the user chose to exit without saving them).
  void DropUnsavedEdits();
  // Whether some edit is not yet in the file (committed or not).
  bool HasUnsavedEdits() const;
  // Whether the configuration file is refused for writing (see LoadAll).
  bool RefusesConfigWrites() const;
  // Asks every monitor to stop, waits for the stops a short while (then leaves them to
  // their helpers) and abandons the running executions of every action; the store is
  // empty afterwards.
  void Clear();

  // Hands one monitor with its test queries, attributes and alerts, or one action, to the
  // saves' worker (store_saves.h) and returns at once: for editors to call when an edit is
  // committed. SQLITE_NOTFOUND for an unknown identifier, else 0.
  int SaveServer(const std::string& id);
  int SaveAction(const std::string& id);
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
  void StartServer(const std::string& id) override;
  void StopServer(const std::string& id) override;
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

  // ---- for the window (IWindowStore) ----
  // Snapshots are copies taken under the monitor's (or action's) mutex; edits apply under
  // the mutex and save what they changed. A deleted test query's data rows go on a helper
  // (Server::DeleteTestQueries).

  std::optional<MonitorSnapshot> GetMonitorSnapshot(const std::string& id) const override;
  std::vector<MonitorSummary> GetMonitorSummaries() const override;

  std::string AddMonitor(const MonitorSettings& settings, int* status = nullptr) override;
  int ApplyMonitorSettings(const std::string& id, const MonitorSettings& settings) override;
  int SetReportPeriod(const std::string& id, std::int64_t start, std::int64_t end,
                      std::int32_t period) override;
  int ClearLog(const std::string& id) override;

  std::string AddTestQuery(const std::string& monitorId, const TestQuerySettings& settings,
                           int* status = nullptr) override;
  int ChangeTestQuery(const std::string& monitorId, const std::string& queryId,
                      const TestQuerySettings& settings) override;
  int EnableTestQuery(const std::string& monitorId, const std::string& queryId,
                      bool enable) override;
  int DeleteTestQuery(const std::string& monitorId, const std::string& queryId) override;
  int DeleteAllTestQueries(const std::string& monitorId) override;

  std::string AddAlert(const std::string& monitorId, const AlertSettings& settings,
                       int* status = nullptr) override;
  int ChangeAlert(const std::string& monitorId, const std::string& alertId,
                  const AlertSettings& settings) override;
  int EnableAlert(const std::string& monitorId, const std::string& alertId, bool enable) override;
  int DeleteAlert(const std::string& monitorId, const std::string& alertId) override;
  int DeleteAllAlerts(const std::string& monitorId) override;

  std::vector<ActionSnapshot> GetActionSnapshots() const override;
  std::optional<ActionSnapshot> GetActionSnapshot(const std::string& id) const override;
  std::string AddAction(const ActionSettings& settings, int* status = nullptr) override;
  int ChangeAction(const std::string& id, const ActionSettings& settings) override;
  int DeleteAction(const std::string& id) override;
  int DeleteActions(const std::vector<std::string>& ids) override;
  int TestAction(const std::string& id) override;

  // ---- end of the calls for the window ----

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
  // lock, a monitor's mutex and the configuration file's lock (by a deletion, which waits
  // for the file a short bound); the saves' worker, which holds the file's lock first,
  // only tries it for a moment and else lets the file go. Never held while waiting for a
  // polling thread.
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
