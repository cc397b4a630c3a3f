#include "engine/monitor/server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <system_error>

#include "engine/clock.h"
#include "engine/db/statement.h"
#include "engine/monitor/health_attribute.h"
#include "engine/monitor_directory.h"
#include "engine/store/data_files.h"
#include "engine/store/log_writer.h"
#include "engine/store/statements.h"
#include "platform/odbc.h"
#include "platform/resources.h"
#include "platform/status.h"

namespace engine {

// The state shared by one start of a monitor and its polling thread. The thread keeps it
// alive, so a Stop that abandons the thread may leave at once.
struct PollSession {
  enum class Phase { kMonitor, kDriver };

  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;       // Stop was asked for
  bool abandoned = false;  // Stop gave up waiting: commit nothing, touch nothing
  bool finished = false;   // the thread has left its loop
  Phase phase = Phase::kMonitor;
  std::shared_ptr<platform::IOdbcConnection> connection;  // open while in the driver
};

namespace {

constexpr const char* kStartedText = "Monitor started.";
constexpr const char* kStoppedText = "Monitor stopped.";
constexpr std::int64_t kMinuteMs = 60'000;

std::atomic<std::int64_t> stopTimeoutMs{120'000};

// Local midnight of the day of t.
std::int64_t LocalMidnight(std::int64_t t) {
  const std::time_t time = static_cast<std::time_t>(t);
  std::tm tm{};
  if (localtime_r(&time, &tm) == nullptr) return t;
  tm.tm_hour = 0;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
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
    cancel = session_->abandoned;
  }
  if (cancel && connection) connection->Cancel();
}

bool PollControl::EndDriver() {
  std::lock_guard lock(session_->mutex);
  session_->connection.reset();
  if (session_->abandoned) return false;
  session_->phase = PollSession::Phase::kMonitor;
  return true;
}

bool PollControl::Abandoned() const {
  std::lock_guard lock(session_->mutex);
  return session_->abandoned;
}

// ---- Server ----

Server::Server(int kind) : type(kind), creationTime(Clock::Now()) {}

Server::~Server() { Stop(); }

std::chrono::milliseconds Server::StopTimeout() {
  return std::chrono::milliseconds(stopTimeoutMs.load());
}

void Server::SetStopTimeout(std::chrono::milliseconds timeout) {
  stopTimeoutMs.store(std::max<std::int64_t>(0, timeout.count()));
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
  std::lock_guard control(controlMutex_);
  {
    std::lock_guard lock(Mutex());
    if (session_ || running) return 1;
  }
  auto session = std::make_shared<PollSession>();
  try {
    thread_ = std::thread(&Server::ThreadProc, this, session);
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

void Server::Stop() {
  RequestStop();
  CompleteStop(std::chrono::steady_clock::now() + StopTimeout());
}

void Server::RequestStop() {
  std::lock_guard control(controlMutex_);
  if (!session_) return;
  {
    std::lock_guard lock(session_->mutex);
    session_->stop = true;
  }
  session_->cv.notify_all();
}

void Server::CompleteStop(std::chrono::steady_clock::time_point deadline) {
  std::lock_guard control(controlMutex_);
  if (!session_) return;
  std::shared_ptr<PollSession> session = std::move(session_);
  std::shared_ptr<platform::IOdbcConnection> cancel;
  {
    std::unique_lock lock(session->mutex);
    session->stop = true;
    session->cv.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
      // The polling thread itself drops the monitor: it must not wait for itself.
      session->abandoned = true;
    } else {
      session->cv.wait_until(lock, deadline, [&] { return session->finished; });
      // Snapshots, commits and storing are short local work and are waited for; only a
      // poll inside the driver is given up.
      session->cv.wait(
          lock, [&] { return session->finished || session->phase == PollSession::Phase::kDriver; });
      if (!session->finished) {
        session->abandoned = true;
        cancel = session->connection;
      }
    }
  }
  if (session->abandoned) {
    if (cancel) cancel->Cancel();
    thread_.detach();
  } else {
    thread_.join();
  }
  {
    std::lock_guard lock(Mutex());
    running = false;
  }
  AddLog(kStoppedText, 0);
}

void Server::ThreadProc(Server* server, std::shared_ptr<PollSession> session) {
  PollControl control(session);
  std::int64_t lastDurationMs = 0;
  bool first = true;
  for (;;) {
    // Polls begin one interval apart, measured from the start of the previous poll; one
    // that overran the interval is followed at once.
    const std::int64_t waitMs =
        first ? 0 : std::max<std::int64_t>(0, server->PollingIntervalMs() - lastDurationMs);
    server->SetNextPollTime(Clock::Now() + (waitMs + 999) / 1000);
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
    try {
      server->Poll(control);
    } catch (...) {
      // A poll that failed unexpectedly leaves no sample; the next one follows on time.
    }
    {
      std::lock_guard lock(session->mutex);
      if (session->phase == PollSession::Phase::kDriver && !session->abandoned) {
        session->connection.reset();
        session->phase = PollSession::Phase::kMonitor;
      }
      if (session->abandoned) break;
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

void Server::DeleteTestQuery(std::size_t index) {
  std::string queryId;
  {
    // Under the data-file gate a poll either has stored its rows already or copies them
    // after the query is gone, so none of its rows can outlive the delete below.
    std::lock_guard gate(DataFileGate());
    {
      std::lock_guard lock(Mutex());
      if (index >= testQueries.size()) return;
      queryId = testQueries[index].id;
      testQueries.erase(testQueries.begin() + static_cast<std::ptrdiff_t>(index));
    }
    db::Database data;
    if (DataFiles::OpenDatabase(data, DataFiles::kDataFileName) == SQLITE_OK) {
      db::Database::ExecSQL(data, sql::DeleteTestQueryData(queryId));
    }
  }
  db::Database config;
  if (DataFiles::OpenDatabase(config, DataFiles::kConfigFileName) == SQLITE_OK) {
    db::Database::ExecSQL(config, sql::DeleteTestQuery(queryId));
  }
  DeleteTestQueryAttributes(config, queryId);
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

std::mutex& Server::DataFileGate() {
  static auto* gate = new std::mutex;
  return *gate;
}

int Server::StoreData() {
  std::vector<TestQueryRow> rows;
  std::int64_t sampleTime = 0;
  std::lock_guard gate(DataFileGate());  // before the copy: see DeleteTestQuery
  {
    std::lock_guard lock(Mutex());
    rows = CopyTestQueryRows();
    if (const ServerData* data = GetData()) sampleTime = data->time;
  }
  db::Database database;
  const int rc = DataFiles::OpenDatabase(database, DataFiles::kDataFileName);
  if (rc != SQLITE_OK) return rc;
  return InTransaction(database, [&] { return StoreTestQueryRows(database, rows, sampleTime); });
}

int Server::InTransaction(db::Database& database, const std::function<int()>& write) {
  const bool began = db::Database::ExecSQL(database, "BEGIN IMMEDIATE") == SQLITE_OK;
  const int rc = write();
  if (!began) return rc;
  const int committed = db::Database::ExecSQL(database, "COMMIT");
  if (committed != SQLITE_OK) db::Database::ExecSQL(database, "ROLLBACK");
  return rc != SQLITE_OK ? rc : committed;
}

// ---- log and uptime ----

void Server::AddLog(const std::string& text, int logType) { WriteLogRow(id, logType, text); }

void Server::ClearLog() {
  db::Database database;
  if (DataFiles::OpenDatabase(database, DataFiles::kDataFileName) != SQLITE_OK) return;
  db::Database::ExecSQL(database, sql::DeleteLogOfMonitor(id));
}

bool Server::ReadTodayUptime(std::int64_t* up, std::int64_t* down) const {
  std::lock_guard gate(DataFileGate());
  db::Database database;
  if (DataFiles::OpenDatabase(database, DataFiles::kDataFileName) != SQLITE_OK) {
    return false;
  }
  const std::int64_t midnight = LocalMidnight(Clock::Now());
  // Each row carries the state of the span that ends at its time; the first span begins
  // at midnight. Rows are taken in time order, so a clock set back never gives a negative
  // span. The sums are made by SQLite in one step: a poll of each of hundreds of monitors
  // must not walk a day of rows through the busy pacing of the file one by one.
  db::Statement statement(database);
  int rc = statement.Prepare(sql::SelectUptimeSums(DataFiles::GetTableName(type), id, midnight));
  db::Cursor* rows = nullptr;
  if (rc == SQLITE_OK) rc = statement.Execute(&rows);
  if (rc != SQLITE_OK || rows->IsDone()) return false;
  *up = rows->GetInt64(0);
  *down = rows->GetInt64(1);
  return true;
}

void Server::UpdateTodayUptime() {
  std::int64_t up = 0;
  std::int64_t down = 0;
  if (!ReadTodayUptime(&up, &down)) return;
  std::lock_guard lock(Mutex());
  todayUptime = up;
  todayDowntime = down;
}

}  // namespace engine
