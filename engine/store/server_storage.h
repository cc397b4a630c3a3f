// The monitor store: the owner of every monitor and every action of the running program.
// It loads and saves them through the files of data_files.h and is the engine's monitor
// directory (monitor_directory.h) and the window's store (window_store.h).
//
// Threads: the store's lists are guarded by its own mutex. Lookups may come from any
// thread and hand out shared_ptr copies, so a monitor or action deleted meanwhile stays
// valid for whoever still holds it. Whole-store operations, deletes, starts and stops run
// on the user-interface thread and return at once: a deletion takes the records out of
// memory and leaves their rows to the saves' worker (store_saves.h), the one writer of the
// configuration file, and its waiting and data rows to helper threads
// (Server::RunHelper). Lock order: the edits (EditMutex), the store, a monitor; the saves'
// worker alone takes the edits after the configuration file's lock, and only with a
// bounded try. Nothing holds the edits or the store's lock while it waits for the file,
// stops a monitor or deletes rows.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "engine/db/database.h"
#include "engine/monitor/server.h"
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
  // Writes every monitor (with its test queries, attributes and alerts) and every action
  // through the saves' worker, behind the edits and removals it holds, and waits for it:
  // until busyLimit (when given, else the retry limit of a locked file) has passed, and
  // then only for a write under way that has not failed. 0 when everything is in the file;
  // else the failure that keeps it out, described in *failure when given. For the
  // user-interface thread at exit. What the removals not in the file take out is listed in
  // *unremoved when given (ConfigRemoval::what).
  virtual int SaveAll(FileFailure* failure = nullptr,
                      std::optional<std::chrono::milliseconds> busyLimit = std::nullopt,
                      std::vector<std::string>* unremoved = nullptr);
  // True from the close's or the exit's first save until the user keeps the program
  // running: a removal the file refuses is then kept and tried again with the edits,
  // instead of coming back (ConfigSaves::SetExiting).
  void SetExiting(bool exiting);
  // A monitor deleted while it ran, or not, whose deletion is not in the file (waiting, or
  // given up at exit): the file still holds it, and so does the next start.
  struct UnfinishedDeletion {
    std::string id;
    bool running = false;  // when its deletion was asked for
  };
  std::vector<UnfinishedDeletion> UnfinishedDeletions() const;
  // Forgets which edits are not yet in the file: nothing writes them unless they are
  // committed or saved again (the user chose to exit without saving them).
  void DropUnsavedEdits();
  // Whether some edit or removal is not yet in the file (committed or not).
  bool HasUnsavedEdits() const;
  // Whether the configuration file is refused for writing (see LoadAll).
  bool RefusesConfigWrites() const;
  // Asks every monitor to stop, waits for the stops a short while (then leaves them to
  // their helpers) and abandons the running executions of every action; the store is
  // empty afterwards, the saves hold nothing and the exit's rule (SetExiting) is off.
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
  // Takes the monitor out of the store at once, stops it, and returns the position of the
  // monitor to select next (the one before it, or 0); 0 and no change for an unknown
  // identifier. Its configuration rows go in one transaction through the saves' worker,
  // which tries again until the file takes them (a pending deletion is unsaved work). Then
  // a helper waits for the stop, deletes its data rows, notes the deletion
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
  // Takes the action out of the store at once and abandons its running executions; its row
  // goes through the saves' worker. Alerts naming it keep its identifier.
  // Returns 0; an index out of range does nothing. When the file refuses the row's
  // deletion, the action comes back and the user is told as for a failed save.
  int DeleteAction(int index);
  // The same by identifier: 0 or SQLITE_NOTFOUND.
  int DeleteActionById(const std::string& id);

  // ---- an alert's action (IMonitorDirectory) ----

  void AlertActionStarted(const std::string& monitorId, const std::string& alertId) override;
  bool AlertActionDone(const std::string& monitorId, const std::string& alertId,
                       std::uint32_t status) override;

  // ---- for the window (IWindowStore) ----
  // Snapshots are copies taken under the monitor's (or action's) mutex; edits apply under
  // the mutex and save what they changed. A deleted test query's data rows go on a helper
  // once its configuration rows are out of the file (Server::DeleteTestQueryData).

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
  // The writer of the saves (ConfigSaves::Writer): the removals' statements, then the
  // records as they are once the file's write lock is had, in one transaction.
  int WriteRecords(const SaveSet& records, const std::vector<std::string>& statements,
                   std::chrono::milliseconds busyLimit, FileFailure* failure);
  // Hands the removal of what was taken out of the monitor to the saves' worker: when the
  // file refuses it, the records go back and the window is told. SQLITE_NOTFOUND when
  // nothing was taken, else 0. Caller holds EditMutex().
  int RemoveFromMonitor(const std::shared_ptr<Server>& server, Server::TakenRecords taken);
  // Serialises the edits, so that an edit that finds a record by identifier and then
  // changes the sequence that holds it meets no other edit in between, and no save copies
  // a record in the middle of an edit. Taken before the store's lock and a monitor's
  // mutex; the saves' worker, which holds the file's lock first, only tries it for a
  // moment and else lets the file go. Never held while waiting for the file or a polling
  // thread.
  static std::recursive_mutex& EditMutex();

  mutable std::shared_mutex mutex_;
  // The load's failure while the configuration file is refused (code 0 otherwise).
  FileFailure refusal_;
  std::vector<std::shared_ptr<Server>> servers;  // in order of creation time
  std::vector<std::shared_ptr<Action>> actions;  // in row order, new ones appended
  // The actions' order before the removals still waiting for the file (RemovalOrder).
  std::weak_ptr<RemovalOrder> actionsOrder_;
  std::vector<UnfinishedDeletion> unfinishedDeletions_;
  std::unique_ptr<ConfigSaves> saves_;
};

}  // namespace engine
