#include "engine/monitor/odbc_data_source.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

#include "engine/clock.h"
#include "engine/data/data_file_status.h"
#include "engine/data/data_files.h"
#include "engine/data/data_reads.h"
#include "engine/data/statements.h"
#include "engine/monitor_directory.h"
#include "engine/services.h"
#include "engine/user_interface.h"
#include "platform/odbc.h"
#include "platform/resources.h"

namespace engine {

namespace {

constexpr unsigned kIsAvailableText = 116;
constexpr unsigned kStoppedText = 117;
constexpr unsigned kRunningText = 118;

// Columns of an ODBCDataSources row.
enum Column {
  kId,
  kName,
  kAddress,
  kUsername,
  kPassword,
  kCustomConnectionString,
  kConnectionString,
  kPollingInterval,
  kCreationTime,
  kCustomTimeouts,
  kLoginTimeout,
  kQueryTimeout,
  kColumnCount
};

// The low 32 bits as a signed value, as the data file keeps the times.
std::int32_t Low32(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

bool ODBCDataSource::IsFirstSample(db::Database& data, std::int64_t time) const {
  std::int64_t first = kNoSampleYet;
  // Unknown counts as the first: a new row only splits a run.
  if (ReadFirstSampleTime(data, DataFiles::GetTableName(type), id, &first) != SQLITE_OK) {
    return true;
  }
  return first == time;
}

struct ODBCDataSource::PollInput {
  std::shared_ptr<platform::IOdbc> odbc;
  std::string connectionText;
  int loginTimeout = kDefaultTimeout;
  int queryTimeout = kDefaultTimeout;
  std::vector<TestQueryInput> queries;
};

struct ODBCDataSource::PollOutput {
  std::int64_t time = 0;  // the start of the poll
  bool available = false;
  std::int32_t errorCode = 0;
  std::string errorDescription;
  std::int64_t connectionTime = -1;
  std::int64_t requestTime = -1;
  std::vector<TestQueryResult> queries;  // one per input, in order
};

ODBCDataSource::ODBCDataSource() : Server(kOdbcDataSourceType) {}

ODBCDataSource::~ODBCDataSource() = default;

std::string ODBCDataSource::GetTypeName() const { return "ODBC Data Source"; }

std::string ODBCDataSource::ConnectionText() const {
  return MonitorConnectionText(customConnectionString, connectionString, address, username,
                               password);
}

int ODBCDataSource::Poll(PollControl& control) {
  PollInput input;
  {
    std::lock_guard lock(Mutex());
    input.odbc = Odbc();
    input.connectionText = ConnectionText();
    // The time-outs apply unless the login time-out is -1; customTimeouts is not read.
    if (loginTimeout != -1) {
      input.loginTimeout = loginTimeout;
      input.queryTimeout = queryTimeout;
    }
    input.queries = CopyTestQueryInputs();
  }
  const PollOutput output = RunPoll(input, control);
  if (!control.EndDriver()) return 0;  // abandoned: this monitor may be gone
  OnPollDone(output, control);
  return 0;
}

ODBCDataSource::PollOutput ODBCDataSource::RunPoll(const PollInput& input, PollControl& control) {
  using Ms = std::chrono::milliseconds;
  PollOutput out;
  out.time = Clock::Now();
  out.queries.reserve(input.queries.size());
  control.BeginDriver();
  if (control.Stopping()) return out;  // committed by nobody

  const Ms connectStart = Clock::Monotonic();
  std::shared_ptr<platform::IOdbcConnection> connection;
  const platform::OdbcError connectError =
      input.odbc->Connect(input.connectionText, input.loginTimeout, &connection);
  if (connectError.Failed() || !connection) {
    // A failed connection always carries a code and a text.
    out.errorCode = connectError.code != 0 ? connectError.code : platform::kOdbcFailed;
    out.errorDescription = connectError.text.empty()
                               ? std::string(platform::kOdbcConnectionFailedText)
                               : connectError.text;
    for (const TestQueryInput& query : input.queries) {
      out.queries.push_back({query.id, -1, out.errorCode, out.errorDescription});
    }
    return out;
  }
  control.SetConnection(connection);
  if (control.Stopping()) {
    // A stop came during the connect, which could not be cancelled: no statement runs.
    connection->Close();
    control.SetConnection(nullptr);
    return out;
  }
  out.available = true;
  out.connectionTime = (Clock::Monotonic() - connectStart).count();

  const Ms queriesStart = Clock::Monotonic();
  for (const TestQueryInput& query : input.queries) {
    TestQueryResult result{query.id, -1, 0, {}};
    if (query.enable) {
      platform::OdbcFirstValue value;
      const platform::OdbcError error =
          connection->QueryFirstValue(query.query, input.queryTimeout, &value);
      if (error.Failed()) {
        result.errorCode = error.code;
        result.errorDescription = error.text;
      } else if (value.kind == platform::OdbcFirstValue::Kind::kText) {
        result.value = platform::LeadingInteger(value.text);
      }
      // No row, or NULL: no value (-1).
    }
    out.queries.push_back(std::move(result));
  }
  out.requestTime = (Clock::Monotonic() - queriesStart).count();
  connection->Close();
  control.SetConnection(nullptr);
  return out;
}

void ODBCDataSource::OnPollDone(const PollOutput& out, const PollControl& control) {
  // A stop that gave up waiting for this poll (a data file held for longer than the stop's
  // bound) has reported the monitor stopped, and a new start may poll already: from then
  // on this poll commits, fires and stores nothing.
  {
    std::lock_guard lock(Mutex());
    if (control.Abandoned()) return;
    previous = current;
    current.monitorId = id;
    current.previousPollTime = current.time;
    current.time = out.time;
    current.available = out.available;
    current.health = false;
    current.SetError(out.errorCode, out.errorDescription);
    current.connectionTime = out.connectionTime;
    current.requestTime = out.requestTime;
    const bool sameHour = InSameLocalHour(current.time, previous.time);
    for (TestQuery& query : testQueries) {
      auto result = std::find_if(out.queries.begin(), out.queries.end(),
                                 [&](const TestQueryResult& r) { return r.id == query.id; });
      // A test query added during the poll keeps its fresh sample.
      if (result == out.queries.end()) continue;
      const TestQuery kept = query;
      query.lastStoredTime = 0;
      query.value = result->value;
      query.errorCode = result->errorCode;
      query.errorDescription = result->errorDescription;
      // An unchanged sample in the same hour extends the previous poll's row; after a
      // failed connection every test query starts a new row.
      if (out.available && query.IsSameSample(kept) && sameHour) {
        query.lastStoredTime = previous.time;
      }
    }
    notPolledYet = false;
    AddHistory();
  }
  if (control.Abandoned()) return;
  // Today's figures that Evaluate reads count this sample, which is stored only below.
  std::lock_guard figures(TodayFiguresMutex());
  Evaluate();
  // After the evaluation and before storing; the user interface gets its own copy of the
  // identifier.
  if (IUserInterface* ui = Services::Ui()) ui->MonitorUpdated(id);
  if (control.Abandoned()) return;
  NoteDataFileWrite(id, StoreData());
}

void ODBCDataSource::AddHistory() {
  const std::int64_t now = Clock::Now();
  while (history.size() >= kHistorySize) history.pop_front();
  history.push_back({current.connectionTime, current.requestTime, now});
  AddTestQueryHistory(now);
}

void ODBCDataSource::Evaluate() {
  UnstoredSample sample;
  bool polled = false;
  {
    std::lock_guard lock(Mutex());
    polled = !notPolledYet;
    sample = {current.time, current.available};
  }
  std::int64_t up = 0;
  std::int64_t down = 0;
  // The poll's own sample is stored after the evaluation: it is counted here.
  const bool haveUptime = ReadTodayUptime(&up, &down, polled ? &sample : nullptr);
  std::vector<std::shared_ptr<Action>> actions;
  if (IMonitorDirectory* storage = Services::Storage()) actions = storage->GetActionList();
  std::vector<AlertFiring> firings;
  {
    std::lock_guard lock(Mutex());
    if (haveUptime) {
      todayUptime = up;
      todayDowntime = down;
    }
    current.health = current.available && EvaluateHealth();
    firings = CheckAlerts(actions);
  }
  FireAlerts(std::move(firings));
}

int ODBCDataSource::StoreData() {
  ODBCDataSourceData now;
  ODBCDataSourceData before;
  std::vector<TestQueryRow> rows;
  SharedDataFile file;  // takes the gate before the copy: see Server::DeleteTestQueryData
  {
    std::lock_guard lock(Mutex());
    if (DeletedLocked()) return SQLITE_OK;
    now = current;
    before = previous;
    rows = CopyTestQueryRows();
  }
  if (file.Connection() == nullptr) return file.Status();
  db::Database& database = *file.Connection();

  return InTransaction(file, [&] {
    int rc = SQLITE_OK;
    bool extended = false;
    // The monitor's first row is never extended: it keeps the time of its first sample,
    // from which its figures count (data_reads.h).
    if (now.IsEqual(before) && InSameLocalHour(now.time, before.time) &&
        !IsFirstSample(database, before.time)) {
      rc =
          db::Database::ExecSQL(database, sql::ExtendOdbcDataSourceData(now.time, id, before.time));
      // A missing row to extend (its INSERT failed) gives a new row.
      extended = rc == SQLITE_OK && database.Changes() > 0;
    }
    if (!extended) {
      sql::OdbcDataSourceDataRow row;
      row.monitorId = id;
      row.time = now.time;
      row.available = now.available;
      row.health = now.health;
      row.errorCode = now.errorCode;
      row.errorDescription = now.errorDescription;
      row.connectionTime = Low32(now.connectionTime);
      row.requestTime = Low32(now.requestTime);
      rc = db::Database::ExecSQL(database, sql::InsertOdbcDataSourceData(row));
    }
    const int queriesRc = StoreTestQueryRows(database, rows, now.time);
    return rc != SQLITE_OK ? rc : queriesRc;
  });
}

int ODBCDataSource::Save(db::Database& database) {
  sql::OdbcDataSourceRow row;
  {
    std::lock_guard lock(Mutex());
    row.id = id;
    row.name = name;
    row.address = address;
    row.username = username;
    row.password = password;
    row.customConnectionString = customConnectionString;
    row.connectionString = connectionString;
    row.pollingInterval = pollingInterval;
    row.creationTime = creationTime;
    row.customTimeouts = customTimeouts;
    row.loginTimeout = loginTimeout;
    row.queryTimeout = queryTimeout;
  }
  const int rc = db::Database::ExecSQL(database, sql::InsertOrReplaceOdbcDataSource(row));
  const int children = Server::Save(database);
  return rc != SQLITE_OK ? rc : children;
}

int ODBCDataSource::Load(db::Cursor& cursor, db::Database& database) {
  if (cursor.IsDone() || cursor.ColumnCount() < kColumnCount) return SQLITE_MISUSE;
  {
    std::lock_guard lock(Mutex());
    id = cursor.GetText(kId);
    name = cursor.GetText(kName);
    address = cursor.GetText(kAddress);
    username = cursor.GetText(kUsername);
    password = cursor.GetText(kPassword);
    customConnectionString = cursor.GetInt(kCustomConnectionString) != 0;
    connectionString = cursor.GetText(kConnectionString);
    pollingInterval = cursor.GetInt(kPollingInterval);
    creationTime = cursor.GetInt64(kCreationTime);
    customTimeouts = cursor.GetInt(kCustomTimeouts) != 0;
    loginTimeout = cursor.GetInt(kLoginTimeout);
    queryTimeout = cursor.GetInt(kQueryTimeout);
  }
  return Server::Load(cursor, database);
}

std::string ODBCDataSource::GetStatusText() const {
  if (!running) return platform::LoadResourceString(kStoppedText);
  if (current.errorCode != 0) {
    const std::string& text = current.errorDescription;
    const std::string firstLine = text.substr(0, text.find('\n'));
    if (current.errorCode == -1) return firstLine;
    char code[16];
    std::snprintf(code, sizeof code, "[%X] ", static_cast<unsigned>(current.errorCode));
    return code + firstLine;
  }
  if (current.available) return GetTypeName() + platform::LoadResourceString(kIsAvailableText);
  return platform::LoadResourceString(kRunningText);
}

StatusColor ODBCDataSource::GetStatusColor() const {
  if (running && current.errorCode != 0) return StatusColor::Rgb(255, 0, 0);
  return StatusColor::InactiveCaption();
}

}  // namespace engine
