// What the window's views and dialogs may ask of the monitor store: snapshots and summaries
// as values, and calls that name monitors, test queries, alerts and actions by identifier.
// Nothing here hands out or takes a monitor or an action object, so a view can neither
// hold one nor lock one. The store (server_storage.h) implements it.
//
// Threads: snapshots and summaries may be taken on any thread. Edits come from one thread
// at a time (the user-interface thread) and return at once: each one that changes a record
// hands it to the saves' worker, and a deletion of test queries, alerts or actions takes
// the records out of memory and hands the deletion of their configuration rows to the
// same worker, behind the edits before it, in one transaction. The worker waits as long as
// another connection holds the file's lock for edits; the user is told when saves begin to
// fail and when they succeed again, and a failure other than the lock leaves the edits for
// the next save. A deletion the file refuses (another connection's lock past a short
// bound, an unwritable file) puts the records back, tells the window
// (IUserInterface::RemovalRefused) and the user once (IUserInterface::ShowAlertMessage). A
// deleted test query's data rows go on a helper once its rows are out of the file.
// ClearLog writes the data file, so it is called on a worker. Statuses: 0, or
// SQLITE_NOTFOUND for an unknown identifier (nothing is changed then).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/store/monitor_snapshot.h"

namespace engine {

// A file of the store that could not be read or written: its SQLite result, its path and
// SQLite's text for the failure.
struct FileFailure {
  int code = 0;
  std::string path;
  std::string text;
};

class IWindowStore {
 public:
  virtual ~IWindowStore() = default;

  // ---- monitors ----

  // Empty for an unknown identifier.
  virtual std::optional<MonitorSnapshot> GetMonitorSnapshot(const std::string& id) const = 0;
  // Every monitor, in store order.
  virtual std::vector<MonitorSummary> GetMonitorSummaries() const = 0;

  // A new monitor with the four built-in attributes and these settings, appended and
  // saved (it is not started); its identifier. *status, when given, gets the save's.
  virtual std::string AddMonitor(const MonitorSettings& settings, int* status = nullptr) = 0;
  // Applies the settings to the monitor and saves it. A running monitor is not restarted:
  // its next poll uses them (the wait under way keeps the interval it began with).
  virtual int ApplyMonitorSettings(const std::string& id, const MonitorSettings& settings) = 0;
  // The report period last chosen for the monitor's reports (memory only, not saved).
  virtual int SetReportPeriod(const std::string& id, std::int64_t start, std::int64_t end,
                              std::int32_t period) = 0;
  // Deletes every log row of the monitor, after the rows asked for before it, on the log
  // writer (log_writer.h); not on the user-interface thread. When the data file refuses
  // the deletion, the rows stay and the user is told once (ShowAlertMessage).
  virtual int ClearLog(const std::string& id) = 0;

  // Unknown identifiers do nothing; the result of a start is not looked at (a start while
  // the monitor's stop is pending is refused). A stop returns at once and completes on a
  // helper.
  virtual void StartServer(const std::string& id) = 0;
  virtual void StopServer(const std::string& id) = 0;

  // ---- test queries of a monitor ----
  // Add appends an enabled test query with its attribute, saves the monitor and returns
  // the new identifier ("" when the monitor is unknown); *status, when given, gets the
  // status. Delete removes the test query with its data rows, its attribute and the alerts
  // on it; DeleteAll every test query of the monitor, all or none.

  virtual std::string AddTestQuery(const std::string& monitorId, const TestQuerySettings& settings,
                                   int* status = nullptr) = 0;
  virtual int ChangeTestQuery(const std::string& monitorId, const std::string& queryId,
                              const TestQuerySettings& settings) = 0;
  virtual int EnableTestQuery(const std::string& monitorId, const std::string& queryId,
                              bool enable) = 0;
  virtual int DeleteTestQuery(const std::string& monitorId, const std::string& queryId) = 0;
  virtual int DeleteAllTestQueries(const std::string& monitorId) = 0;

  // ---- alerts of a monitor ----
  // As for test queries. A new alert is enabled; its counters start at 0. Its attribute
  // and action are not checked: an alert naming neither never fires.

  virtual std::string AddAlert(const std::string& monitorId, const AlertSettings& settings,
                               int* status = nullptr) = 0;
  virtual int ChangeAlert(const std::string& monitorId, const std::string& alertId,
                          const AlertSettings& settings) = 0;
  virtual int EnableAlert(const std::string& monitorId, const std::string& alertId,
                          bool enable) = 0;
  virtual int DeleteAlert(const std::string& monitorId, const std::string& alertId) = 0;
  virtual int DeleteAllAlerts(const std::string& monitorId) = 0;

  // ---- actions ----

  // In store order; empty for an unknown identifier.
  virtual std::vector<ActionSnapshot> GetActionSnapshots() const = 0;
  virtual std::optional<ActionSnapshot> GetActionSnapshot(const std::string& id) const = 0;
  // Appends a new action with these settings, saves it and returns its identifier.
  virtual std::string AddAction(const ActionSettings& settings, int* status = nullptr) = 0;
  virtual int ChangeAction(const std::string& id, const ActionSettings& settings) = 0;
  // Abandons the action's running executions and deletes it and its row.
  virtual int DeleteAction(const std::string& id) = 0;
  // The same for every action named, all or none; unknown identifiers are skipped
  // (SQLITE_NOTFOUND when none is known).
  virtual int DeleteActions(const std::vector<std::string>& ids) = 0;
  // Starts a test run of the action (its worker shows the result): its status, 0 when
  // started, or SQLITE_NOTFOUND for an unknown identifier.
  virtual int TestAction(const std::string& id) = 0;
};

}  // namespace engine
