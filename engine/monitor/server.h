// A monitor: identity, connection fields, polling interval, test queries with their
// latest samples, the polling thread, today's uptime and the monitor's log. Server is the
// polymorphic base; ODBCDataSource (odbc_data_source.h) is the kind the program creates.
//
// Threads and locking: the monitor's mutex (ServerHealth::Mutex) guards every field of
// the monitor, its test queries, samples, history, attributes and alerts. Members marked
// "caller holds Mutex()" expect it held; all others take it themselves and may be called
// from any thread. Start and Stop return at once; what they leave to do runs on helper
// threads (see RunHelper), as does the deletion of a removed test query's data rows. The polling
// thread works on copies while it talks to the data source and commits its results under the mutex.
// A running monitor is owned by a shared_ptr: the polling thread holds it only during a poll and a
// stop's helper until the stop completes, so whoever drops the last other reference never waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/db/cursor.h"
#include "engine/db/database.h"
#include "engine/monitor/monitor_values.h"
#include "engine/monitor/server_data.h"
#include "engine/monitor/server_health.h"
#include "engine/monitor/test_query.h"

namespace platform {
class IOdbc;
class IOdbcConnection;
}  // namespace platform

namespace engine {

class HealthAttribute;
class SharedDataFile;
struct PollSession;
struct UnstoredSample;

// What a poll may ask of the polling thread that runs it. A poll calls BeginDriver before
// its first ODBC call and EndDriver after its last one; between the two it must not touch
// the monitor (Stop may abandon the poll then, and the monitor may be destroyed).
class PollControl {
 public:
  // A control for a poll run on the caller's thread, outside any polling thread.
  PollControl();
  explicit PollControl(std::shared_ptr<PollSession> session);

  void BeginDriver();
  // The open connection, so that a stop can cancel its statement; nullptr when the
  // connection is closed again. A connection handed over after a stop was asked for is
  // cancelled at once.
  void SetConnection(std::shared_ptr<platform::IOdbcConnection> connection);
  // False when a stop was asked for meanwhile: the poll was cancelled or abandoned and
  // the caller must return at once, committing nothing.
  bool EndDriver();
  // A stop was asked for: the poll should leave the driver as soon as it can.
  bool Stopping() const;
  bool Abandoned() const;

 private:
  std::shared_ptr<PollSession> session_;
};

class Server : public ServerHealth, public std::enable_shared_from_this<Server> {
 public:
  static constexpr int kOdbcDataSourceType = engine::kOdbcDataSourceType;
  static constexpr std::int32_t kDefaultPollingInterval = engine::kDefaultPollingInterval;

  explicit Server(int type);
  // A polling thread still running (its owner dropped the monitor without stopping it) is
  // told to stop and abandoned; nothing waits.
  virtual ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // ---- the polling thread (any thread; return at once) ----

  // 0 when started; 1 when already running or while a stop is still pending; else the
  // status of the failure (the monitor stays stopped). Only a monitor owned by a
  // shared_ptr can be started (kInvalidParameter otherwise). Queues "Monitor started.".
  std::uint32_t Start();
  // Signals the polling thread and returns. A poll inside the driver has its statement
  // cancelled at once and commits nothing; a connect cannot be cancelled and is left to
  // end. A helper thread waits for the polling thread up to StopTimeout (then abandons
  // it); then the monitor is not running, "Monitor stopped." is queued and the user
  // interface's MonitorStopped(id) is called. False when the monitor was not running or a
  // stop was already pending (nothing more happens then).
  bool Stop();
  // From Stop until its completion.
  bool IsStopPending() const;
  // Waits until no stop of this monitor is pending or the deadline passes; true when none
  // is.
  bool WaitForStop(std::chrono::steady_clock::time_point deadline) const;

  // How long a stop waits for a polling thread: 120 s; tests shorten it.
  static std::chrono::milliseconds StopTimeout();
  static void SetStopTimeout(std::chrono::milliseconds timeout);

  // Runs work on a helper thread of its own (on the caller's thread when none can be
  // made) and counts it until it has returned. Stops, deletions of test queries and the
  // store's deletions of monitors run here.
  static void RunHelper(std::function<void()> work);
  // Waits until no helper asked for so far still runs, or the deadline; true when none.
  static bool WaitForHelpers(std::chrono::steady_clock::time_point deadline);

  // The ODBC layer the polls use (the system's driver manager unless set; tests pass a
  // fake). Kept alive by every poll that uses it.
  void SetOdbc(std::shared_ptr<platform::IOdbc> odbc);

  // One poll on the caller's thread (tests, and the test connection of a monitor that is
  // not running). Returns 0.
  int Poll();
  // One poll, run by the polling thread. Returns 0.
  virtual int Poll(PollControl& control) = 0;

  // ---- persistence (any thread) ----

  // Writes the monitor's row, its test queries, attributes and alerts.
  virtual int Save(db::Database& database);
  // Reads the monitor from the current row of its kind's table, then its test queries,
  // attributes and alerts from the same database. Only on a monitor no other thread
  // uses yet.
  virtual int Load(db::Cursor& cursor, db::Database& database);

  // Writes the latest samples into the data file: the test queries' rows here; kinds add
  // their own row first. Every row is attempted; the first failure is returned.
  virtual int StoreData();

  // The evaluation after a poll: today's uptime (counting the poll's sample, which is
  // stored after it), health, alerts (whose actions start after the mutex is released).
  virtual void Evaluate() = 0;

  // ---- samples (caller holds Mutex()) ----

  virtual ServerData* GetData() = 0;
  const ServerData* GetData() const { return const_cast<Server*>(this)->GetData(); }
  virtual std::string GetTypeName() const = 0;
  virtual std::string GetStatusText() const { return {}; }
  virtual StatusColor GetStatusColor() const { return StatusColor::InactiveCaption(); }

  // ---- test queries ----

  // Caller holds Mutex(). Appends a new test query and its "Test Query Value" attribute;
  // the reference is valid until the sequence changes or the mutex is released.
  TestQuery& AddTestQuery();
  // Caller holds Mutex(). The first test query with that identifier, or null.
  TestQuery* FindTestQuery(const std::string& id);
  const TestQuery* FindTestQuery(const std::string& id) const;
  // What a removal took out of the monitor, and the statements that delete its rows in
  // the configuration file.
  struct TakenRecords {
    Taken<TestQuery> testQueries;
    TakenHealth health;
    std::vector<std::string> statements;
    bool Empty() const { return testQueries.empty() && health.alerts.empty(); }
  };
  // Take the mutex. Take the test queries with these identifiers (unknown ones are
  // skipped) out of the monitor, with their attributes and the alerts on them; or the
  // alerts with these identifiers, or every alert. Polls from now on neither run nor
  // check what was taken; its rows are the caller's.
  TakenRecords TakeTestQueries(const std::vector<std::string>& queryIds);
  TakenRecords TakeAlerts(const std::vector<std::string>& alertIds, bool all = false);
  // Takes the mutex. Puts what was taken back where it was (the file refused the removal),
  // but no alert whose attribute has gone meanwhile (server_health.h).
  void PutBack(const TakenRecords& taken);
  // Deletes the data rows of these test queries from the data file in the folder, once
  // every poll that copied them has stored its rows; on a helper (RunHelper).
  static void DeleteTestQueryData(std::vector<std::string> queryIds, std::string folder);

  // Caller holds Mutex(). "" for no attribute; "<test query name> <attribute name>" for
  // a test query's attribute; else the attribute's name.
  std::string GetAttributeDisplayName(const HealthAttribute* attribute) const;

  // ---- log and uptime (any thread) ----

  // Queue a log row (type 0 information, 1 alert) or the deletion of every log row of this
  // monitor for the log writer (log_writer.h). When the data file refuses the deletion,
  // the rows stay and the user is told once (IUserInterface::ShowAlertMessage).
  void AddLog(const std::string& text, int type);
  void ClearLog();

  // The monitor is being deleted: from now on its polls store no rows.
  void MarkDeleted();

  // DataFiles::DataFileLock(): taken around the data-file work of every poll (storing,
  // today's uptime), which runs on the data file's shared connection (SharedDataFile). A
  // deletion of a monitor's or test query's rows takes it once before it begins, so that
  // it comes after every row a poll stored of them. Taken before a monitor's mutex, never
  // while holding one.
  static std::mutex& DataFileGate();
  // Recomputes today's uptime and downtime from the data file's rows since local midnight
  // up to now, once any poll of this monitor that is storing its rows has stored them. Not
  // on the user-interface thread: it may wait for the file.
  void UpdateTodayUptime();
  // Today's figures of each monitor start again from the file (UpdateTodayUptime), running
  // or stopped, on a helper thread (RunHelper); then the user interface is told
  // (IUserInterface::TodayFiguresRenewed). Returns at once: for the day's turnover at
  // local midnight and for the program's start.
  static void RenewTodayFigures(std::vector<std::shared_ptr<Server>> monitors);

  // Looks the address up as an IPv4 host name: the current sample's addressText becomes
  // "-", then "<host name> (<dotted address>)" when it resolves. 0, or the resolver's
  // status (platform/status.h). Monitors of ODBC data sources do not use it.
  std::uint32_t ResolveAddress();

  // The polling interval used for waiting, in ms: at least one minute.
  std::int64_t PollingIntervalMs() const;
  // Takes the mutex and sets nextPollTime (the polling thread, before each wait).
  void SetNextPollTime(std::int64_t time);

  // ---- fields (caller holds Mutex() unless said otherwise) ----

  std::string name;
  std::string address;  // the data source name
  std::string username;
  std::string password;
  std::int32_t pollingInterval = kDefaultPollingInterval;  // minutes, as stored
  std::int32_t type;
  bool running = false;
  std::int64_t creationTime;
  std::vector<TestQuery> testQueries;
  bool notPolledYet = true;
  std::int64_t todayUptime = 0;    // seconds
  std::int64_t todayDowntime = 0;  // seconds
  // The report period last chosen for this monitor (memory only).
  std::int64_t reportStart = 0;
  std::int64_t reportEnd = 0;
  std::int32_t reportPeriod = 0;
  // When the polling thread begins its next poll (seconds since 1970; the start of the
  // poll under way while one runs). Written by the polling thread; meaningful only while
  // `running`.
  std::int64_t nextPollTime = 0;

 protected:
  // What a test query needs for one poll, copied under the mutex.
  struct TestQueryInput {
    std::string id;
    std::string query;
    bool enable = true;
  };
  // One test query's outcome of a poll.
  struct TestQueryResult {
    std::string id;
    std::int32_t value = -1;
    std::int32_t errorCode = 0;
    std::string errorDescription;
  };
  // A test query's row as StoreData writes it.
  struct TestQueryRow {
    std::string id;
    std::int32_t value = -1;
    std::int32_t errorCode = 0;
    std::string errorDescription;
    std::int64_t lastStoredTime = 0;
  };

  // Caller holds Mutex().
  std::vector<TestQueryInput> CopyTestQueryInputs() const;
  std::vector<TestQueryRow> CopyTestQueryRows() const;
  std::shared_ptr<platform::IOdbc> Odbc() const;
  // Appends an entry to every test query's history (caller holds Mutex()).
  void AddTestQueryHistory(std::int64_t time);
  // Writes the test queries' rows of one poll on an open data file: an extending UPDATE
  // that changes no row is followed by an INSERT. Returns the first failure.
  int StoreTestQueryRows(db::Database& database, const std::vector<TestQueryRow>& rows,
                         std::int64_t sampleTime) const;
  // Caller holds Mutex(): MarkDeleted was called.
  bool DeletedLocked() const { return deleted_; }
  // Runs write() inside one transaction on the shared connection, so that the rows of one
  // poll cost one commit; write's result, else the commit's failure. Any failure, the
  // transaction's own included, discards the connection.
  static int InTransaction(SharedDataFile& file, const std::function<int()>& write);
  // The uptime and downtime of today up to now from the data file, with the poll's sample
  // not stored yet when given (data_reads.h, ReadUptimeSince); false when they cannot be
  // read.
  bool ReadTodayUptime(std::int64_t* up, std::int64_t* down,
                       const UnstoredSample* unstored = nullptr) const;
  // Held by a poll from reading today's figures until its rows are stored, and by
  // UpdateTodayUptime around its read and write of the figures: so a read that misses a
  // poll's rows never replaces that poll's figures. Taken before DataFileGate() and the
  // monitor's mutex.
  std::mutex& TodayFiguresMutex() const { return todayFiguresMutex_; }

 private:
  static void ThreadProc(std::weak_ptr<Server> weak, std::shared_ptr<PollSession> session);
  // The helper's part of Stop.
  void CompleteStop(std::shared_ptr<PollSession> session, std::thread& thread,
                    std::shared_ptr<platform::IOdbcConnection> cancel,
                    std::chrono::steady_clock::time_point deadline);

  // Guards thread_, session_ and stopPending_.
  mutable std::mutex controlMutex_;
  mutable std::condition_variable stopDone_;
  std::thread thread_;
  std::shared_ptr<PollSession> session_;
  bool stopPending_ = false;
  mutable std::mutex todayFiguresMutex_;
  std::shared_ptr<platform::IOdbc> odbc_;  // guarded by Mutex()
  bool deleted_ = false;                   // guarded by Mutex()
  // The test queries' order before the removals still waiting for the file (RemovalOrder);
  // guarded by Mutex().
  std::weak_ptr<RemovalOrder> testQueriesOrder_;
};

}  // namespace engine
