// Reads of the data file for the views: a monitor's log, samples, test-query samples and
// alert firings, each in time order, as plain rows. They open their own connection and
// may wait for the file, so views call them on workers, never on the user-interface
// thread. Any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
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
