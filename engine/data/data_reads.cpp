#include "engine/data/data_reads.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

#include "engine/data/data_files.h"
#include "engine/data/sql_text.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"

namespace engine {

namespace {

constexpr int kOdbcDataSourceKind = 2;

std::int64_t Limit(std::size_t limit) {
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(limit < kMax ? limit : kMax);
}

// Runs the query on an open database and hands each row to read.
int Query(db::Database& database, const std::string& sql,
          const std::function<void(const db::Cursor&)>& read) {
  db::Statement statement(database);
  db::Cursor* cursor = nullptr;
  int rc = statement.Prepare(sql);
  if (rc == SQLITE_OK) rc = statement.Execute(&cursor);
  while (rc == SQLITE_OK && !cursor->IsDone()) {
    read(*cursor);
    rc = cursor->Next();
  }
  return rc;
}

// Runs the query on the data file and hands each row to read; on a failure the rows read
// so far are dropped.
template <typename Row>
std::vector<Row> Read(const std::string& sql, const std::function<Row(const db::Cursor&)>& read,
                      int* status) {
  std::vector<Row> rows;
  db::Database database;
  int rc = DataFiles::OpenDatabase(database, DataFiles::kDataFileName);
  if (rc == SQLITE_OK) {
    rc = Query(database, sql, [&](const db::Cursor& c) { rows.push_back(read(c)); });
  }
  if (rc != SQLITE_OK) rows.clear();
  if (status != nullptr) *status = rc;
  return rows;
}

StoredLogRow ReadStoredLogRow(const db::Cursor& c) {
  return {c.GetInt64(0), {c.GetInt64(1), c.GetInt(2), c.GetText(3)}};
}

// A report bound as stored times compare: ten digits, clamped to [0, 9999999999].
std::string ReportTimeText(std::int64_t time) {
  char text[16];
  std::snprintf(text, sizeof text, "%010lld",
                static_cast<long long>(std::clamp<std::int64_t>(time, 0, 9'999'999'999)));
  return text;
}

}  // namespace

std::vector<LogRow> LoadLog(const std::string& monitorId, std::size_t limit, int* status) {
  return Read<LogRow>(
      sql::SelectLogInTimeOrder(monitorId, Limit(limit)),
      [](const db::Cursor& c) {
        return LogRow{c.GetInt64(0), c.GetInt(1), c.GetText(2)};
      },
      status);
}

bool LogTailFollows(const LogMark& held, const LogTail& tail) {
  if (tail.heldInFile != held.count) return false;
  if (held.count == 0) return true;
  if (tail.rowAtMark != held.lastRow) return false;
  return tail.after.empty() || tail.after.front().row.time >= held.newestTime;
}

LogMark MarkWith(LogMark held, const std::vector<StoredLogRow>& rows) {
  for (const StoredLogRow& row : rows) {
    ++held.count;
    if (row.rowid > held.lastRowid) {
      held.lastRowid = row.rowid;
      held.lastRow = row.row;
    }
  }
  if (!rows.empty()) held.newestTime = rows.back().row.time;
  return held;
}

LogUpdate LoadLogUpdate(const std::string& monitorId, const LogMark* held, int* status) {
  db::Database database;
  int rc = DataFiles::OpenDatabase(database, DataFiles::kDataFileName);
  // The checks and the rows see one state of the file.
  if (rc == SQLITE_OK) rc = db::Database::ExecSQL(database, "BEGIN");
  std::vector<StoredLogRow> rows;
  const auto collect = [&rows](const db::Cursor& c) { rows.push_back(ReadStoredLogRow(c)); };
  bool follows = false;
  std::int64_t tableRowid = 0;
  if (rc == SQLITE_OK) {
    rc = Query(database, sql::SelectLargestLogRowid(),
               [&tableRowid](const db::Cursor& c) { tableRowid = c.GetInt64(0); });
  }
  if (rc == SQLITE_OK && held != nullptr) {
    // Every row of the monitor the list holds lies at or below both.
    const std::int64_t since = std::max(held->lastRowid, held->tableRowid);
    LogTail tail;
    rc = Query(database, sql::CountLogUpTo(monitorId, since), [&tail](const db::Cursor& c) {
      tail.heldInFile = static_cast<std::size_t>(c.GetInt64(0));
    });
    if (rc == SQLITE_OK && held->count > 0) {
      rc = Query(database, sql::SelectLogRowAt(monitorId, held->lastRowid),
                 [&tail](const db::Cursor& c) {
                   tail.rowAtMark = LogRow{c.GetInt64(0), c.GetInt(1), c.GetText(2)};
                 });
    }
    if (rc == SQLITE_OK) {
      rc = Query(database, sql::SelectLogAfter(monitorId, since),
                 [&tail](const db::Cursor& c) { tail.after.push_back(ReadStoredLogRow(c)); });
    }
    follows = rc == SQLITE_OK && LogTailFollows(*held, tail);
    if (follows) rows = std::move(tail.after);
  }
  if (rc == SQLITE_OK && !follows)
    rc = Query(database, sql::SelectLogWithRowids(monitorId), collect);
  if (database.InTransaction()) {
    const int ended = db::Database::ExecSQL(database, "COMMIT");
    if (rc == SQLITE_OK) rc = ended;
  }
  LogUpdate update;
  if (rc == SQLITE_OK) {
    update.whole = !follows;
    update.mark = MarkWith(follows ? *held : LogMark{}, rows);
    update.mark.tableRowid = tableRowid;
    update.rows.reserve(rows.size());
    for (StoredLogRow& row : rows) update.rows.push_back(std::move(row.row));
  }
  if (status != nullptr) *status = rc;
  return update;
}

std::vector<SampleRow> LoadSamples(const std::string& monitorId, std::int64_t start,
                                   std::int64_t end, int* status) {
  return Read<SampleRow>(
      sql::SelectSamplesInTimeOrder(DataFiles::GetTableName(kOdbcDataSourceKind), monitorId, start,
                                    end),
      [](const db::Cursor& c) {
        return SampleRow{c.GetInt64(0), c.GetInt(1) != 0, c.GetInt(2) != 0, c.GetInt(3),
                         c.GetText(4),  c.GetInt(5),      c.GetInt(6)};
      },
      status);
}

std::vector<TestQuerySampleRow> LoadTestQuerySamples(const std::string& monitorId,
                                                     const std::vector<std::string>& queryIds,
                                                     std::int64_t start, std::int64_t end,
                                                     int* status) {
  if (queryIds.empty()) {
    if (status != nullptr) *status = SQLITE_OK;
    return {};
  }
  return Read<TestQuerySampleRow>(
      sql::SelectTestQuerySamplesInTimeOrder(monitorId, queryIds, start, end),
      [](const db::Cursor& c) {
        return TestQuerySampleRow{c.GetText(0), c.GetInt64(1), c.GetInt(2), c.GetInt(3),
                                  c.GetText(4)};
      },
      status);
}

std::vector<AlertsDataRow> LoadAlertsData(const std::string& monitorId, std::size_t limit,
                                          int* status) {
  return Read<AlertsDataRow>(
      sql::SelectAlertsDataInTimeOrder(monitorId, Limit(limit)),
      [](const db::Cursor& c) {
        return AlertsDataRow{c.GetText(0), c.GetInt64(1), c.GetText(2), c.GetText(3)};
      },
      status);
}

// ---- Reads for the reports ----

std::vector<ReportSampleRow> LoadReportSamples(const std::string& monitorId, std::int64_t start,
                                               std::int64_t end, int* status) {
  const std::string table = DataFiles::GetTableName(kOdbcDataSourceKind) + "Data";
  return Read<ReportSampleRow>(
      sql::Build("SELECT time, available, health, connectionTime, requestTime FROM " + table +
                     " WHERE (monitorId = ? AND time >= ? AND time <= ?) ORDER BY time, rowid",
                 {monitorId, ReportTimeText(start), ReportTimeText(end)}),
      [](const db::Cursor& c) {
        return ReportSampleRow{c.GetInt64(0), c.GetInt(1) != 0, c.GetInt(2) != 0, c.GetInt(3),
                               c.GetInt(4)};
      },
      status);
}

std::vector<ReportTestQueryValues> LoadReportTestQueryValues(
    const std::vector<std::string>& testQueryIds, std::int64_t start, std::int64_t end,
    int* status) {
  std::vector<ReportTestQueryValues> found;
  int rc = SQLITE_OK;
  if (!testQueryIds.empty()) {
    db::Database database;
    rc = DataFiles::OpenDatabase(database, DataFiles::kDataFileName);
    // One statement per test query, so that no row carries its identifier.
    for (std::size_t i = 0; rc == SQLITE_OK && i < testQueryIds.size(); ++i) {
      ReportTestQueryValues& query = found.emplace_back();
      query.testQueryId = testQueryIds[i];
      db::Statement statement(database);
      db::Cursor* cursor = nullptr;
      rc = statement.Prepare(
          sql::Build("SELECT value FROM TestQueriesData WHERE (id = ? AND time >= ? AND time <= ?) "
                     "ORDER BY time, rowid",
                     {query.testQueryId, ReportTimeText(start), ReportTimeText(end)}));
      if (rc == SQLITE_OK) rc = statement.Execute(&cursor);
      while (rc == SQLITE_OK && !cursor->IsDone()) {
        query.values.push_back(cursor->GetInt(0));
        rc = cursor->Next();
      }
    }
  }
  if (rc != SQLITE_OK) found.clear();
  if (status != nullptr) *status = rc;
  return found;
}

// ---- The start of a monitor's samples ----

int ReadFirstSampleTime(db::Database& data, const std::string& tableName,
                        const std::string& monitorId, std::int64_t* first) {
  db::Statement statement(data);
  db::Cursor* cursor = nullptr;
  int rc = statement.Prepare(sql::SelectFirstSampleTime(tableName, monitorId));
  if (rc == SQLITE_OK) rc = statement.Execute(&cursor);
  if (rc != SQLITE_OK) return rc;
  *first = cursor->IsDone() ? kNoSampleYet : cursor->GetInt64(0);
  return SQLITE_OK;
}

std::int64_t LoadFirstSampleTime(const std::string& monitorId, int* status) {
  std::int64_t first = kNoSampleYet;
  db::Database database;
  int rc = DataFiles::OpenDatabase(database, DataFiles::kDataFileName);
  if (rc == SQLITE_OK) {
    rc = ReadFirstSampleTime(database, DataFiles::GetTableName(kOdbcDataSourceKind), monitorId,
                             &first);
  }
  if (status != nullptr) *status = rc;
  return rc == SQLITE_OK ? first : kNoSampleYet;
}

// ---- Today's uptime, for the polls ----

int ReadUptimeSince(db::Database& data, const std::string& tableName, const std::string& monitorId,
                    std::int64_t since, std::int64_t until, const UnstoredSample* unstored,
                    std::int64_t* up, std::int64_t* down) {
  std::int64_t first = kNoSampleYet;
  int rc = ReadFirstSampleTime(data, tableName, monitorId, &first);
  if (rc != SQLITE_OK) return rc;
  if (unstored != nullptr && unstored->time > until) unstored = nullptr;
  if (unstored != nullptr) first = std::min(first, unstored->time);
  db::Statement statement(data);
  db::Cursor* cursor = nullptr;
  rc = statement.Prepare(sql::SelectUptimeRows(tableName, monitorId, since, until));
  if (rc == SQLITE_OK) rc = statement.Execute(&cursor);
  std::int64_t upSum = 0;
  std::int64_t downSum = 0;
  std::int64_t previous = CountedFrom(since, first);
  const auto count = [&](std::int64_t time, bool available) {
    const std::int64_t span = time - previous;
    if (span > 0) (available ? upSum : downSum) += span;
    previous = time;
  };
  while (rc == SQLITE_OK && !cursor->IsDone()) {
    count(cursor->GetInt64(1), cursor->GetInt(0) != 0);
    rc = cursor->Next();
  }
  if (rc != SQLITE_OK) return rc;
  if (unstored != nullptr) count(unstored->time, unstored->available);
  *up = upSum;
  *down = downSum;
  return SQLITE_OK;
}

}  // namespace engine
