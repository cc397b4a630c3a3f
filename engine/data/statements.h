// Every statement that reads, writes or deletes rows of the configuration and data files,
// as text ready for Database::ExecSQL or Statement::Prepare. The records and the store
// build their statements only here, so the column order of the tables (read back by
// position) lives in one place. Log texts and sample error descriptions are sanitised
// here; every other text is written as it stands (quoted, see sql_text.h).
// Table names passed in are the store's own constants (DataFiles::GetTableName).
// Pure functions; any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine::sql {

// ---- configuration file ----

struct OdbcDataSourceRow {
  std::string id{};
  std::string name{};
  std::string address{};  // the ODBC data source name
  std::string username{};
  std::string password{};
  bool customConnectionString = false;
  std::string connectionString{};
  std::int32_t pollingInterval = 0;  // minutes
  std::int64_t creationTime = 0;
  bool customTimeouts = false;
  std::int32_t loginTimeout = 0;  // seconds
  std::int32_t queryTimeout = 0;  // seconds
};

struct AlertRow {
  std::string monitorId{};
  std::string id{};
  std::string actionId{};
  std::string healthAttributeId{};
  bool enable = false;
  std::int64_t threshold = 0;
  std::int32_t condition = 0;  // index into kConditionOperators
  std::int32_t alertType = 0;  // 0 error, 1 clear
  std::string customMessage{};
};

struct ActionRow {
  std::string id{};
  std::string name{};
  std::int32_t type = 0;  // 0 e-mail, 1 SMS, 2 SQL, 3 program, 4 user interface
  std::string server{};
  std::int32_t port = 0;
  bool auth = false;
  std::string userName{};
  std::string password{};
  std::string fromAddress{};
  std::string toAddress{};
  std::string datasourceName{};
  std::string sqlQuery{};
  std::string path{};
  std::int32_t uiType = 0;
  std::int32_t pollsCount = 0;
};

// tableName: the monitor kind's table ("ODBCDataSources").
std::string InsertOrReplaceOdbcDataSource(const OdbcDataSourceRow& row);
std::string SelectMonitors(std::string_view tableName);

std::string InsertOrReplaceTestQuery(std::string_view monitorId, std::string_view id,
                                     std::string_view name, std::string_view query, bool enable,
                                     std::int32_t type);
std::string SelectTestQueries(std::string_view monitorId);

// type: 0 numeric, 1 boolean; testQueryId "" for a built-in attribute.
std::string InsertOrReplaceHealthAttribute(std::string_view monitorId, std::string_view id,
                                           std::string_view name, std::string_view testQueryId,
                                           std::int32_t type);
std::string SelectHealthAttributes(std::string_view monitorId);

std::string InsertOrReplaceAlert(const AlertRow& row);
std::string SelectAlerts(std::string_view monitorId);

std::string InsertOrReplaceAction(const ActionRow& row);
std::string SelectActions();

// ---- data file ----

struct OdbcDataSourceDataRow {
  std::string monitorId{};
  std::int64_t time = 0;  // the latest sample of the run
  bool available = false;
  bool health = false;
  std::int32_t errorCode = 0;
  std::string errorDescription{};    // sanitised when written
  std::int32_t connectionTime = -1;  // ms, -1 when not measured
  std::int32_t requestTime = -1;     // ms, -1 when not measured
};

std::string InsertOdbcDataSourceData(const OdbcDataSourceDataRow& row);
// Gives newTime to the monitor's row that the previous poll wrote at rowTime: the newest
// of its rows with that time. Older rows that share the time (written before the clock was
// set back) keep it.
std::string ExtendOdbcDataSourceData(std::int64_t newTime, std::string_view monitorId,
                                     std::int64_t rowTime);

// errorDescription is sanitised; value -1 stands for no value.
std::string InsertTestQueryData(std::string_view monitorId, std::string_view testQueryId,
                                std::int64_t time, std::int32_t value, std::int32_t errorCode,
                                std::string_view errorDescription);
// The same for the test query's newest row at rowTime.
std::string ExtendTestQueryData(std::int64_t newTime, std::string_view testQueryId,
                                std::int64_t rowTime);

// The title is written as it stands.
std::string InsertAlertsData(std::string_view monitorId, std::string_view alertId,
                             std::int64_t time, std::string_view actionId, std::string_view title);

// type: 0 information, 1 alert. The text is sanitised.
std::string InsertLog(std::string_view monitorId, std::int64_t time, std::int32_t type,
                      std::string_view text);

// available, time of the monitor's data rows after `since` and not after `until`, in time
// order: the rows from which today's uptime is summed (data_reads.h, ReadUptimeSince).
std::string SelectUptimeRows(std::string_view tableName, std::string_view monitorId,
                             std::int64_t since, std::int64_t until);
// time of the monitor's earliest data row: one row, or none while the monitor has none.
std::string SelectFirstSampleTime(std::string_view tableName, std::string_view monitorId);
// Rows of the monitor's data table from start to end, both included. columns is the
// caller's fixed column list, for example "available, time".
std::string SelectDataInPeriod(std::string_view columns, std::string_view tableName,
                               std::string_view monitorId, std::int64_t start, std::int64_t end);
// time, type, text of the monitor's log.
std::string SelectLog(std::string_view monitorId);
std::string SelectAlertsDataNewestFirst();

// Reads for the views, each in time order (equal times in the order written). A limit
// keeps the newest rows only; 0 keeps every row.
// time, type, text of the monitor's log.
std::string SelectLogInTimeOrder(std::string_view monitorId, std::int64_t limit);
// time, available, health, errorCode, errorDescription, connectionTime, requestTime of
// the monitor's rows in its kind's data table from start to end, both included.
std::string SelectSamplesInTimeOrder(std::string_view tableName, std::string_view monitorId,
                                     std::int64_t start, std::int64_t end);
// id, time, value, errorCode, errorDescription of the monitor's rows of those test
// queries from start to end, both included. No identifiers select no row.
std::string SelectTestQuerySamplesInTimeOrder(std::string_view monitorId,
                                              const std::vector<std::string>& testQueryIds,
                                              std::int64_t start, std::int64_t end);
// alertId, time, actionId, title of the monitor's AlertsData rows.
std::string SelectAlertsDataInTimeOrder(std::string_view monitorId, std::int64_t limit);

// Reads for a list that holds a monitor's log and then reads only the rows written since,
// told apart by their rowid. rowid, time, type, text of the monitor's log rows in time order:
// every row, or those whose rowid is above `rowid`.
std::string SelectLogWithRowids(std::string_view monitorId);
std::string SelectLogAfter(std::string_view monitorId, std::int64_t rowid);
// The number of the monitor's log rows whose rowid is at most `rowid`.
std::string CountLogUpTo(std::string_view monitorId, std::int64_t rowid);
// time, type, text of the log row with that rowid when it is the monitor's.
std::string SelectLogRowAt(std::string_view monitorId, std::int64_t rowid);
// The largest rowid in the log table (NULL when it is empty).
std::string SelectLargestLogRowid();

// ---- deletions ----

// A monitor, in this order: its configuration rows, then its data rows.
std::vector<std::string> DeleteMonitorConfig(std::string_view tableName,
                                             std::string_view monitorId);
std::vector<std::string> DeleteMonitorData(std::string_view tableName, std::string_view monitorId);

// A test query: its data rows (data file), then its row (configuration file); then per
// attribute of the test query its alerts, then the attributes themselves.
std::string DeleteTestQueryData(std::string_view testQueryId);
std::string DeleteTestQuery(std::string_view testQueryId);
std::string DeleteAlertsOfHealthAttribute(std::string_view healthAttributeId);
std::string DeleteHealthAttributesOfTestQuery(std::string_view testQueryId);

std::string DeleteAction(std::string_view actionId);
std::string DeleteAlert(std::string_view alertId);
std::string DeleteAlertsOfMonitor(std::string_view monitorId);
std::string DeleteLogOfMonitor(std::string_view monitorId);

}  // namespace engine::sql
