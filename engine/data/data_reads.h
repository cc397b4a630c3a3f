// Reads of the data file for the views: a monitor's log, samples, test-query samples and
// alert firings, each in time order, as plain rows. They open their own connection and
// may wait for the file, so views call them on workers, never on the user-interface
// thread. Any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace db {
class Database;
}

namespace engine {

struct LogRow {
  std::int64_t time = 0;
  std::int32_t type = 0;  // 0 information, 1 alert
  std::string text;

  bool operator==(const LogRow&) const = default;
};

// One stored run of equal samples of a monitor of an ODBC data source; `time` is the
// latest poll of the run.
struct SampleRow {
  std::int64_t time = 0;
  bool available = false;
  bool health = false;
  std::int32_t errorCode = 0;
  std::string errorDescription;
  std::int32_t connectionTime = -1;  // ms; -1 when not measured
  std::int32_t requestTime = -1;     // ms; -1 when not measured
};

struct TestQuerySampleRow {
  std::string testQueryId;
  std::int64_t time = 0;
  std::int32_t value = -1;  // -1: no value
  std::int32_t errorCode = 0;
  std::string errorDescription;
};

struct AlertsDataRow {
  std::string alertId;
  std::int64_t time = 0;
  std::string actionId;
  std::string title;
};

// Each returns its rows oldest first and puts 0 into *status, when given, or the SQLite
// result of the failure (then no rows). A limit keeps the newest `limit` rows; 0 keeps
// every row. Periods include both ends.
std::vector<LogRow> LoadLog(const std::string& monitorId, std::size_t limit, int* status = nullptr);
std::vector<SampleRow> LoadSamples(const std::string& monitorId, std::int64_t start,
                                   std::int64_t end, int* status = nullptr);
// No test-query identifiers give no rows.
std::vector<TestQuerySampleRow> LoadTestQuerySamples(const std::string& monitorId,
                                                     const std::vector<std::string>& queryIds,
                                                     std::int64_t start, std::int64_t end,
                                                     int* status = nullptr);
std::vector<AlertsDataRow> LoadAlertsData(const std::string& monitorId, std::size_t limit,
                                          int* status = nullptr);

// ---- A monitor's log as a list holds it ----
// A list of a monitor's log reads it whole once, then only the rows written since, told apart
// by SQLite's rowid: a row written gets a rowid above every rowid in the table, so while the
// last-written row the list holds is still there, the monitor's rows above the largest rowid
// the last read saw in the table are those written since, and only the table's rows above it
// are walked (the log of every monitor shares the table). Before it trusts that, a read
// checks that the file still holds exactly as many of the monitor's rows up to there as the
// list does, that the last-written row held is unchanged, and that no row written since sorts
// before the newest row held (a clock set back). Anything else (rows cleared or deleted by
// anyone, rowids renumbered by a VACUUM or used again) makes it read every row.

// What a list holds of a monitor's log: the number of rows, the largest rowid among them and
// the row there, the time of the newest row, and the largest rowid in the table when it was
// read. All zero for none.
struct LogMark {
  std::size_t count = 0;
  std::int64_t lastRowid = 0;
  LogRow lastRow;
  std::int64_t newestTime = 0;
  std::int64_t tableRowid = 0;

  bool operator==(const LogMark&) const = default;
};

struct StoredLogRow {
  std::int64_t rowid = 0;
  LogRow row;
};

// What the file holds against a mark: the number of the monitor's rows whose rowid is at
// most the mark's, the monitor's row at the mark's rowid (none when that row is gone or is
// another monitor's), and the monitor's rows above the mark's rowid in time order.
struct LogTail {
  std::size_t heldInFile = 0;
  std::optional<LogRow> rowAtMark;
  std::vector<StoredLogRow> after;
};

// Whether tail.after is exactly what a list holding `held` lacks, in the order it goes on.
bool LogTailFollows(const LogMark& held, const LogTail& tail);

// The mark once rows in time order, each with a rowid above held.lastRowid, follow `held`.
LogMark MarkWith(LogMark held, const std::vector<StoredLogRow>& rows);

struct LogUpdate {
  bool whole = true;         // rows replace what the list holds; else they follow it
  std::vector<LogRow> rows;  // in time order (equal times in the order written)
  LogMark mark;              // what the list holds with the rows
};

// Reads the monitor's log for a list that holds `held` of it (nullptr when it holds none of
// this monitor's rows): the rows written since when they follow it, else every row. One read
// transaction. 0 into *status, when given, or the SQLite result of the failure (then nothing
// is to change).
LogUpdate LoadLogUpdate(const std::string& monitorId, const LogMark* held, int* status = nullptr);

// ---- Reads for the reports ----
// Periods include both ends. The bounds are clamped to [0, 9999999999] and compared as
// ten-digit text, the form in which times are stored, so any start finds the rows after
// it (a shorter text would sort after every stored time). Rows come in time order (equal
// times in the order written).

// The columns of a monitor's sample rows that the reports walk.
struct ReportSampleRow {
  std::int64_t time = 0;
  bool available = false;
  bool health = false;
  std::int32_t connectionTime = -1;  // ms; -1 when not measured
  std::int32_t requestTime = -1;     // ms; -1 when not measured
};

// One test query's values in time order; -1 is "no value".
struct ReportTestQueryValues {
  std::string testQueryId;
  std::vector<std::int32_t> values;
};

// The monitor's sample rows of the period; 0 or the SQLite failure into *status as above.
std::vector<ReportSampleRow> LoadReportSamples(const std::string& monitorId, std::int64_t start,
                                               std::int64_t end, int* status = nullptr);
// The values of those test queries in the period, one entry per identifier in the order
// given, whichever monitor wrote them (test-query identifiers are unique). No identifiers
// give no entries, without touching the file.
std::vector<ReportTestQueryValues> LoadReportTestQueryValues(
    const std::vector<std::string>& testQueryIds, std::int64_t start, std::int64_t end,
    int* status = nullptr);

// ---- The start of a monitor's samples ----
// No time before a monitor's first sample counts, up or down: every figure made from the
// rows counts a period's spans from CountedFrom(its start, the first sample), so the first
// row of a monitor stands for no time. A poll never extends that row, so its time is the
// first sample's.

// The first sample of a monitor that has no row yet: later than every time.
inline constexpr std::int64_t kNoSampleYet = std::numeric_limits<std::int64_t>::max();

// Where the spans of a period that starts at `start` begin to count.
inline std::int64_t CountedFrom(std::int64_t start, std::int64_t firstSample) {
  return std::max(start, firstSample);
}

// The time of the monitor's earliest row in its kind's data table `tableName`, read on an
// open data file, or kNoSampleYet. 0, or the SQLite failure (then *first is left as it was).
int ReadFirstSampleTime(db::Database& data, const std::string& tableName,
                        const std::string& monitorId, std::int64_t* first);
// The same for a monitor of an ODBC data source on a connection of its own; the result
// into *status as above (kNoSampleYet on a failure).
std::int64_t LoadFirstSampleTime(const std::string& monitorId, int* status = nullptr);

// ---- Today's uptime, for the polls ----

// A poll's sample that is not in the file yet: it counts as the row that its storing will
// write or extend after the rows already there.
struct UnstoredSample {
  std::int64_t time = 0;
  bool available = false;
};

// The uptime and downtime in seconds that the monitor's rows after `since` (today's
// midnight) and not after `until` (now) in its kind's data table `tableName` give, read on
// an open data file: each row ends a span that began at the row before it in time order
// (the first at CountedFrom(since, the monitor's first sample)) and counts as up or down by
// its own availability; spans that are not positive count nowhere. An unstored sample, when
// given and not after `until`, ends one more span, from the last row counted; it is the
// monitor's first sample when the file has none. 0, or the SQLite failure (then *up and
// *down are left as they were).
int ReadUptimeSince(db::Database& data, const std::string& tableName, const std::string& monitorId,
                    std::int64_t since, std::int64_t until, const UnstoredSample* unstored,
                    std::int64_t* up, std::int64_t* down);

}  // namespace engine
