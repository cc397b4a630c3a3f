#include "engine/monitor/server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <system_error>

#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/data/data_reads.h"
#include "engine/data/log_writer.h"
#include "engine/data/statements.h"
#include "engine/db/statement.h"
#include "engine/monitor/health_attribute.h"
#include "engine/monitor_directory.h"
#include "engine/services.h"
#include "engine/user_interface.h"
#include "platform/odbc.h"
#include "platform/resources.h"
#include "platform/status.h"

namespace engine {

// The state shared by one start of a monitor, its polling thread and the helper of its
// stop. Each keeps it alive, so whoever is left may use it.
struct PollSession {
  enum class Phase { kMonitor, kDriver };

  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;       // a stop was asked for: a poll in the driver commits nothing
  bool abandoned = false;  // nobody waits for the thread any more
  bool finished = false;   // the thread has left its loop
  Phase phase = Phase::kMonitor;
  std::shared_ptr<platform::IOdbcConnection> connection;  // open while in the driver
};

namespace {

constexpr const char* kStartedText = "Monitor started.";
constexpr const char* kStoppedText = "Monitor stopped.";
constexpr std::int64_t kMinuteMs = 60'000;

std::atomic<std::int64_t> stopTimeoutMs{120'000};

// The helpers running (Server::RunHelper). Never destroyed: helpers may outlive main.
struct Helpers {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

Helpers& GetHelpers() {
  static auto* helpers = new Helpers;
  return *helpers;
}

// Asks the driver to end the statement without the caller waiting for it (a cancel may
// wait for the server).
void CancelInBackground(std::shared_ptr<platform::IOdbcConnection> connection) {
  if (connection) Server::RunHelper([connection] { connection->Cancel(); });
}

template <typename T>
void PushHistory(std::deque<T>& history, T entry, std::size_t size) {
  while (history.size() >= size) history.pop_front();
  history.push_back(std::move(entry));
}

}  // namespace

// ---- PollControl ----

PollControl::PollControl() : session_(std::make_shared<PollSession>()) {}

PollControl::PollControl(std::shared_ptr<PollSession> session) : session_(std::move(session)) {}

void PollControl::BeginDriver() {
  {
    std::lock_guard lock(session_->mutex);
    session_->phase = PollSession::Phase::kDriver;
  }
  session_->cv.notify_all();
}

void PollControl::SetConnection(std::shared_ptr<platform::IOdbcConnection> connection) {
  bool cancel = false;
  {
    std::lock_guard lock(session_->mutex);
    session_->connection = connection;
    cancel = session_->stop;
  }
  if (cancel && connection) connection->Cancel();
}

bool PollControl::EndDriver() {
  std::lock_guard lock(session_->mutex);
  session_->connection.reset();
  if (session_->stop || session_->abandoned) return false;
  session_->phase = PollSession::Phase::kMonitor;
  return true;
}

bool PollControl::Stopping() const {
  std::lock_guard lock(session_->mutex);
  return session_->stop;
}

bool PollControl::Abandoned() const {
  std::lock_guard lock(session_->mutex);
  return session_->abandoned;
}

// ---- Server ----

Server::Server(int kind) : type(kind), creationTime(Clock::Now()) {}

Server::~Server() {
  // Nobody else holds the monitor: a polling thread still running is between polls or
  // inside the driver, and touches it no more.
  std::shared_ptr<PollSession> session;
  {
    std::lock_guard control(controlMutex_);
    session = std::move(session_);
    if (thread_.joinable()) thread_.detach();
  }
  if (!session) return;
  std::shared_ptr<platform::IOdbcConnection> cancel;
  {
    std::lock_guard lock(session->mutex);
    session->stop = true;
    session->abandoned = true;
    cancel = session->connection;
  }
  session->cv.notify_all();
  CancelInBackground(std::move(cancel));
  AddLog(kStoppedText, 0);
}

std::chrono::milliseconds Server::StopTimeout() {
  return std::chrono::milliseconds(stopTimeoutMs.load());
}

void Server::SetStopTimeout(std::chrono::milliseconds timeout) {
  stopTimeoutMs.store(std::max<std::int64_t>(0, timeout.count()));
}

void Server::RunHelper(std::function<void()> work) {
  Helpers& helpers = GetHelpers();
  {
    std::lock_guard lock(helpers.mutex);
    ++helpers.running;
  }
  auto body = [work = std::move(work), &helpers]() mutable {
    {
      // Destroyed before the count drops: what the work held (a monitor) is gone then.
      std::function<void()> local = std::move(work);
      try {
        local();
      } catch (...) {
        // A helper's failure is its own; the count still drops.
      }
    }
    {
      std::lock_guard lock(helpers.mutex);
      --helpers.running;
    }
    helpers.idle.notify_all();
  };
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error&) {
    body();
  }
}

bool Server::WaitForHelpers(std::chrono::steady_clock::time_point deadline) {
  Helpers& helpers = GetHelpers();
  std::unique_lock lock(helpers.mutex);
  return helpers.idle.wait_until(lock, deadline, [&] { return helpers.running == 0; });
}

void Server::SetOdbc(std::shared_ptr<platform::IOdbc> odbc) {
  std::lock_guard lock(Mutex());
  odbc_ = std::move(odbc);
}

std::shared_ptr<platform::IOdbc> Server::Odbc() const {
  if (odbc_) return odbc_;
  // The system's driver manager lives until the process ends.
  return std::shared_ptr<platform::IOdbc>(&platform::SystemOdbc(), [](platform::IOdbc*) {});
}

std::uint32_t Server::Start() {
  std::weak_ptr<Server> weak = weak_from_this();
  if (weak.expired()) return platform::kInvalidParameter;
  std::lock_guard control(controlMutex_);
  if (session_ || stopPending_) return 1;
  {
    std::lock_guard lock(Mutex());
    if (running) return 1;
  }
  auto session = std::make_shared<PollSession>();
  try {
    thread_ = std::thread(&Server::ThreadProc, std::move(weak), session);
  } catch (const std::system_error& e) {
    const platform::Status status = platform::ErrnoToStatus(e.code().value());
    return status != platform::kOk ? status : platform::kFailure;
  }
  session_ = std::move(session);
  {
    std::lock_guard lock(Mutex());
    running = true;
  }
  AddLog(kStartedText, 0);
  return 0;
}

bool Server::Stop() {
  std::shared_ptr<Server> self = weak_from_this().lock();
  if (!self) return false;  // not owned by a shared_ptr, so never started
  std::shared_ptr<PollSession> session;
  auto thread = std::make_shared<std::thread>();
  {
    std::lock_guard control(controlMutex_);
    if (!session_) return false;
    session = std::move(session_);
    *thread = std::move(thread_);
    stopPending_ = true;
  }
  std::shared_ptr<platform::IOdbcConnection> cancel;
  {
    std::lock_guard lock(session->mutex);
    session->stop = true;
    // The user asked for the stop: a statement under way is cancelled at once. A
    // connection handed over later is cancelled by PollControl::SetConnection.
    if (session->phase == PollSession::Phase::kDriver) cancel = session->connection;
  }
  session->cv.notify_all();
  const auto deadline = std::chrono::steady_clock::now() + StopTimeout();
  RunHelper([self, session, thread, cancel, deadline] {
    self->CompleteStop(session, *thread, cancel, deadline);
  });
  return true;
}

void Server::CompleteStop(std::shared_ptr<PollSession> session, std::thread& thread,
                          std::shared_ptr<platform::IOdbcConnection> cancel,
                          std::chrono::steady_clock::time_point deadline) {
  // A cancel may wait for the server; the bound below holds all the same.
  CancelInBackground(cancel);
  bool finished = false;
  std::shared_ptr<platform::IOdbcConnection> late;
  {
    std::unique_lock lock(session->mutex);
    finished = session->cv.wait_until(lock, deadline, [&] { return session->finished; });
    if (!finished) {
      // Given up: the thread ends on its own; a poll in the driver commits nothing.
      session->abandoned = true;
      late = session->connection;
    }
  }
  if (finished) {
    thread.join();
  } else {
    if (late != cancel) CancelInBackground(late);
    thread.detach();
  }
  {
    std::lock_guard lock(Mutex());
    running = false;
  }
  AddLog(kStoppedText, 0);
  {
    std::lock_guard control(controlMutex_);
    stopPending_ = false;
  }
  stopDone_.notify_all();
  if (IUserInterface* ui = Services::Ui()) ui->MonitorStopped(id);
}

bool Server::IsStopPending() const {
  std::lock_guard control(controlMutex_);
  return stopPending_;
}

bool Server::WaitForStop(std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock control(controlMutex_);
  return stopDone_.wait_until(control, deadline, [&] { return !stopPending_; });
}

void Server::ThreadProc(std::weak_ptr<Server> weak, std::shared_ptr<PollSession> session) {
  PollControl control(session);
  std::int64_t lastDurationMs = 0;
  bool first = true;
  for (;;) {
    std::int64_t waitMs = 0;
    {
      // The monitor is held only while it is used; dropping it here may destroy it (its
      // owner let it go), and nothing below touches it then.
      const std::shared_ptr<Server> server = weak.lock();
      if (!server) break;
      // Polls begin one interval apart, measured from the start of the previous poll; one
      // that overran the interval is followed at once.
      if (!first) waitMs = std::max<std::int64_t>(0, server->PollingIntervalMs() - lastDurationMs);
      server->SetNextPollTime(Clock::Now() + (waitMs + 999) / 1000);
    }
    {
      std::unique_lock lock(session->mutex);
      if (session->stop) break;
      if (!first) {
        const auto deadline = Clock::Monotonic() + std::chrono::milliseconds(waitMs);
        if (Clock::WaitUntil(lock, session->cv, deadline, [&] { return session->stop; })) break;
      }
    }
    first = false;
    const auto start = Clock::Monotonic();
    {
      const std::shared_ptr<Server> server = weak.lock();
      if (!server) break;
      try {
        server->Poll(control);
      } catch (...) {
        // A poll that failed unexpectedly leaves no sample; the next one follows on time.
      }
    }
    {
      std::lock_guard lock(session->mutex);
      session->connection.reset();
      session->phase = PollSession::Phase::kMonitor;
      if (session->stop) break;
    }
    lastDurationMs = (Clock::Monotonic() - start).count();
  }
  {
    std::lock_guard lock(session->mutex);
    session->finished = true;
  }
  session->cv.notify_all();
}

int Server::Poll() {
  PollControl control;
  return Poll(control);
}

std::uint32_t Server::ResolveAddress() {
  std::string host;
  {
    std::lock_guard lock(Mutex());
    host = address;
    // assign() rather than = "-": GCC 12 reports a false -Wrestrict for the latter here.
    if (ServerData* data = GetData()) data->addressText.assign(1, '-');
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    const platform::Status status = platform::ResolverErrorToStatus(rc, errno);
    return status != platform::kOk ? status : platform::kWsaHostNotFound;
  }
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, dotted,
            sizeof dotted);
  const std::string text =
      std::string(found->ai_canonname != nullptr ? found->ai_canonname : host) + " (" + dotted +
      ")";
  freeaddrinfo(found);
  std::lock_guard lock(Mutex());
  if (ServerData* data = GetData()) data->addressText = text;
  return platform::kOk;
}

std::int64_t Server::PollingIntervalMs() const {
  std::lock_guard lock(Mutex());
  return std::max<std::int64_t>(1, pollingInterval) * kMinuteMs;
}

void Server::SetNextPollTime(std::int64_t time) {
  std::lock_guard lock(Mutex());
  nextPollTime = time;
}

// ---- test queries ----

TestQuery& Server::AddTestQuery() {
  TestQuery& query = testQueries.emplace_back();
  AddHealthAttribute(platform::LoadResourceString(kTestQueryValueNameId), query.id);
  return testQueries.back();
}

TestQuery* Server::FindTestQuery(const std::string& queryId) {
  auto it = std::find_if(testQueries.begin(), testQueries.end(),
                         [&](const TestQuery& q) { return q.id == queryId; });
  return it == testQueries.end() ? nullptr : &*it;
}

const TestQuery* Server::FindTestQuery(const std::string& queryId) const {
  return const_cast<Server*>(this)->FindTestQuery(queryId);
}

Server::TakenRecords Server::TakeTestQueries(const std::vector<std::string>& queryIds) {
  TakenRecords taken;
  std::lock_guard lock(Mutex());
  for (const std::string& queryId : queryIds) {
    if (FindTestQuery(queryId) == nullptr) continue;
    TakeWhere(
        testQueries, [&](const TestQuery& q) { return q.id == queryId; }, testQueriesOrder_,
        &taken.testQueries);
    taken.statements.push_back(sql::DeleteTestQuery(queryId));
    TakeTestQueryAttributes(queryId, &taken.health, &taken.statements);
  }
  return taken;
}

Server::TakenRecords Server::TakeAlerts(const std::vector<std::string>& alertIds, bool all) {
  TakenRecords taken;
  std::lock_guard lock(Mutex());
  TakeAlertRecords(alertIds, all, &taken.health, &taken.statements);
  return taken;
}

void Server::PutBack(const TakenRecords& taken) {
  std::lock_guard lock(Mutex());
  PutBackInto(testQueries, taken.testQueries);
  PutBackHealth(taken.health);
}

void Server::DeleteTestQueryData(std::vector<std::string> queryIds, std::string folder) {
  RunHelper([queryIds = std::move(queryIds), folder = std::move(folder)] {
    {
      // A poll copies its test queries under the gate and stores them before it lets go:
      // once the gate has been had here, a poll that copied these queries has stored its
      // rows, and any later one stores none. The deletion itself need not hold it.
      std::lock_guard gate(DataFileGate());
    }
    db::Database data;
    if (DataFiles::OpenDatabaseIn(data, folder, DataFiles::kDataFileName) == SQLITE_OK) {
      for (const std::string& queryId : queryIds) {
        db::Database::ExecSQL(data, sql::DeleteTestQueryData(queryId));
      }
    }
  });
}

std::string Server::GetAttributeDisplayName(const HealthAttribute* attribute) const {
  if (attribute == nullptr) return {};
  if (!attribute->testQueryId.empty()) {
    if (const TestQuery* query = FindTestQuery(attribute->testQueryId)) {
      return query->name + " " + attribute->name;
    }
  }
  return attribute->name;
}

std::vector<Server::TestQueryInput> Server::CopyTestQueryInputs() const {
  std::vector<TestQueryInput> inputs;
  inputs.reserve(testQueries.size());
  for (const TestQuery& q : testQueries) inputs.push_back({q.id, q.query, q.enable});
  return inputs;
}

std::vector<Server::TestQueryRow> Server::CopyTestQueryRows() const {
  std::vector<TestQueryRow> rows;
  rows.reserve(testQueries.size());
  for (const TestQuery& q : testQueries) {
    rows.push_back({q.id, q.value, q.errorCode, q.errorDescription, q.lastStoredTime});
  }
  return rows;
}

void Server::AddTestQueryHistory(std::int64_t time) {
  for (TestQuery& q : testQueries) {
    PushHistory(q.history, TestQueryHistoryEntry{q.value, time}, TestQuery::kHistorySize);
  }
}

// ---- persistence ----

int Server::Save(db::Database& database) {
  std::vector<TestQuery> queries;
  {
    std::lock_guard lock(Mutex());
    queries = testQueries;
  }
  int first = SQLITE_OK;
  for (const TestQuery& q : queries) {
    const int rc = q.Save(database, id);
    if (first == SQLITE_OK) first = rc;
  }
  const int rc = ServerHealth::Save(database);
  return first != SQLITE_OK ? first : rc;
}

int Server::Load(db::Cursor& /*cursor*/, db::Database& database) {
  std::vector<TestQuery> loaded;
  {
    db::Statement statement(database);
    int rc = statement.Prepare(sql::SelectTestQueries(id));
    db::Cursor* rows = nullptr;
    if (rc == SQLITE_OK) rc = statement.Execute(&rows);
    if (rc != SQLITE_OK) return rc;
    while (!rows->IsDone()) {
      TestQuery query;
      if (query.Load(*rows) == SQLITE_OK) loaded.push_back(std::move(query));
      rc = rows->Next();
      if (rc != SQLITE_OK) return rc;
    }
  }
  {
    std::lock_guard lock(Mutex());
    for (TestQuery& query : loaded) AddTestQuery() = std::move(query);
  }
  return ServerHealth::Load(database);
}

int Server::StoreTestQueryRows(db::Database& database, const std::vector<TestQueryRow>& rows,
                               std::int64_t sampleTime) const {
  int first = SQLITE_OK;
  for (const TestQueryRow& row : rows) {
    int rc = SQLITE_OK;
    bool extended = false;
    if (row.lastStoredTime != 0) {
      rc = db::Database::ExecSQL(database,
                                 sql::ExtendTestQueryData(sampleTime, row.id, row.lastStoredTime));
      // The row to extend may be missing (its INSERT failed, or the run began with a
      // sample that was never stored): then this sample starts a new row.
      extended = rc == SQLITE_OK && database.Changes() > 0;
    }
    if (!extended) {
      rc = db::Database::ExecSQL(
          database, sql::InsertTestQueryData(id, row.id, sampleTime, row.value, row.errorCode,
                                             row.errorDescription));
    }
    if (first == SQLITE_OK) first = rc;
  }
  return first;
}

std::mutex& Server::DataFileGate() { return DataFiles::DataFileLock(); }

int Server::StoreData() {
  std::vector<TestQueryRow> rows;
  std::int64_t sampleTime = 0;
  SharedDataFile file;  // takes the gate before the copy: see DeleteTestQueryData
  {
    std::lock_guard lock(Mutex());
    if (deleted_) return SQLITE_OK;
    rows = CopyTestQueryRows();
    if (const ServerData* data = GetData()) sampleTime = data->time;
  }
  db::Database* database = file.Connection();
  if (database == nullptr) return file.Status();
  return InTransaction(file, [&] { return StoreTestQueryRows(*database, rows, sampleTime); });
}

int Server::InTransaction(SharedDataFile& file, const std::function<int()>& write) {
  db::Database& database = *file.Connection();
  const int began = db::Database::ExecSQL(database, "BEGIN IMMEDIATE");
  const int rc = write();
  int committed = SQLITE_OK;
  if (began == SQLITE_OK) {
    committed = db::Database::ExecSQL(database, "COMMIT");
    if (committed != SQLITE_OK) db::Database::ExecSQL(database, "ROLLBACK");
  }
  if (began != SQLITE_OK || rc != SQLITE_OK || committed != SQLITE_OK) file.Discard();
  return rc != SQLITE_OK ? rc : committed;
}

// ---- log and uptime ----

void Server::AddLog(const std::string& text, int logType) { WriteLogRow(id, logType, text); }

void Server::ClearLog() {
  std::string monitorName;
  {
    std::lock_guard lock(Mutex());
    monitorName = name;
  }
  const std::string folder = DataFiles::DataFolder();
  ClearLogRowsIn(folder, id, [monitorName, path = folder + DataFiles::kDataFileName](int result) {
    if (result == SQLITE_OK) return;
    if (IUserInterface* ui = Services::Ui()) {
      ui->ShowAlertMessage("Lumivar", LogClearFailureText(monitorName, path, result),
                           IUserInterface::MessageKind::kError);
    }
  });
}

void Server::MarkDeleted() {
  std::lock_guard lock(Mutex());
  deleted_ = true;
}

bool Server::ReadTodayUptime(std::int64_t* up, std::int64_t* down,
                             const UnstoredSample* unstored) const {
  SharedDataFile file;
  db::Database* database = file.Connection();
  if (database == nullptr) return false;
  // Each row carries the state of the span that ends at its time; the first span begins
  // at midnight, or at the monitor's first sample when that is later. Rows after now (the
  // clock was set back) do not count.
  const std::int64_t now = Clock::Now();
  const int rc = ReadUptimeSince(*database, DataFiles::GetTableName(type), id, LocalMidnight(now),
                                 now, unstored, up, down);
  if (rc != SQLITE_OK) file.Discard();
  return rc == SQLITE_OK;
}

void Server::UpdateTodayUptime() {
  std::lock_guard figures(TodayFiguresMutex());
  std::int64_t up = 0;
  std::int64_t down = 0;
  if (!ReadTodayUptime(&up, &down)) return;
  std::lock_guard lock(Mutex());
  todayUptime = up;
  todayDowntime = down;
}

void Server::RenewTodayFigures(std::vector<std::shared_ptr<Server>> monitors) {
  if (monitors.empty()) return;
  RunHelper([monitors = std::move(monitors)] {
    for (const std::shared_ptr<Server>& monitor : monitors) {
      if (monitor) monitor->UpdateTodayUptime();
    }
    if (IUserInterface* ui = Services::Ui()) ui->TodayFiguresRenewed();
  });
}

}  // namespace engine
