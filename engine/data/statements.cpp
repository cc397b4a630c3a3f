#include "engine/data/statements.h"

#include "engine/data/sql_text.h"
#include "platform/text.h"

namespace engine::sql {

namespace {

// "DELETE FROM <table> WHERE <column> = '<value>'"
std::string DeleteWhere(std::string_view table, std::string_view column, std::string_view value) {
  return "DELETE FROM " + std::string(table) + " WHERE " + std::string(column) + " = " +
         QuoteText(value);
}

std::string DataTable(std::string_view tableName) { return std::string(tableName) + "Data"; }

}  // namespace

std::string InsertOrReplaceOdbcDataSource(const OdbcDataSourceRow& r) {
  return Build("INSERT OR REPLACE INTO ODBCDataSources VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
               {r.id, r.name, r.address, r.username, r.password, r.customConnectionString,
                r.connectionString, r.pollingInterval, r.creationTime, r.customTimeouts,
                r.loginTimeout, r.queryTimeout});
}

std::string SelectMonitors(std::string_view tableName) {
  return "SELECT * FROM " + std::string(tableName);
}

std::string InsertOrReplaceTestQuery(std::string_view monitorId, std::string_view id,
                                     std::string_view name, std::string_view query, bool enable,
                                     std::int32_t type) {
  return Build("INSERT OR REPLACE INTO TestQueries VALUES (?, ?, ?, ?, ?, ?)",
               {monitorId, id, name, query, enable, type});
}

std::string SelectTestQueries(std::string_view monitorId) {
  return Build("SELECT * FROM TestQueries WHERE monitorId = ?", {monitorId});
}

std::string InsertOrReplaceHealthAttribute(std::string_view monitorId, std::string_view id,
                                           std::string_view name, std::string_view testQueryId,
                                           std::int32_t type) {
  return Build("INSERT OR REPLACE INTO HealthAttributes VALUES (?, ?, ?, ?, ?)",
               {monitorId, id, name, testQueryId, type});
}

std::string SelectHealthAttributes(std::string_view monitorId) {
  return Build("SELECT * FROM HealthAttributes WHERE monitorId = ?", {monitorId});
}

std::string InsertOrReplaceAlert(const AlertRow& r) {
  return Build("INSERT OR REPLACE INTO Alerts VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
               {r.monitorId, r.id, r.actionId, r.healthAttributeId, r.enable, r.threshold,
                r.condition, r.alertType, r.customMessage});
}

std::string SelectAlerts(std::string_view monitorId) {
  return Build("SELECT * FROM Alerts WHERE monitorId = ?", {monitorId});
}

std::string InsertOrReplaceAction(const ActionRow& r) {
  return Build(
      "INSERT OR REPLACE INTO Actions VALUES (?, ?, ?, ?, ?, ?,"
      "\t\t\t\t\t\t\t\t\t\t\t\t\t\t?, ?,?, ?,"
      "\t\t\t\t\t\t\t\t\t\t\t\t\t\t?, ?, ?, ?, ?)",
      {r.id, r.name, r.type, r.server, r.port, r.auth, r.userName, r.password, r.fromAddress,
       r.toAddress, r.datasourceName, r.sqlQuery, r.path, r.uiType, r.pollsCount});
}

std::string SelectActions() { return "SELECT * FROM Actions"; }

std::string InsertOdbcDataSourceData(const OdbcDataSourceDataRow& r) {
  return Build("INSERT INTO ODBCDataSourcesData VALUES (?, ?,?, ?,?, ?,?, ?)",
               {r.monitorId, r.time, r.available, r.health, r.errorCode,
                platform::SanitizeText(r.errorDescription), r.connectionTime, r.requestTime});
}

std::string ExtendOdbcDataSourceData(std::int64_t newTime, std::string_view monitorId,
                                     std::int64_t rowTime) {
  return Build(
      "UPDATE ODBCDataSourcesData SET time = ? WHERE rowid = (SELECT rowid FROM "
      "ODBCDataSourcesData WHERE (monitorId = ? AND time = ?) ORDER BY rowid DESC LIMIT 1)",
      {newTime, monitorId, rowTime});
}

std::string InsertTestQueryData(std::string_view monitorId, std::string_view testQueryId,
                                std::int64_t time, std::int32_t value, std::int32_t errorCode,
                                std::string_view errorDescription) {
  return Build(
      "INSERT INTO TestQueriesData VALUES (?, ?, ?, ?, ?, ?)",
      {monitorId, testQueryId, time, value, errorCode, platform::SanitizeText(errorDescription)});
}

std::string ExtendTestQueryData(std::int64_t newTime, std::string_view testQueryId,
                                std::int64_t rowTime) {
  return Build(
      "UPDATE TestQueriesData SET time = ? WHERE rowid = (SELECT rowid FROM TestQueriesData "
      "WHERE (id = ? AND time = ?) ORDER BY rowid DESC LIMIT 1)",
      {newTime, testQueryId, rowTime});
}

std::string InsertAlertsData(std::string_view monitorId, std::string_view alertId,
                             std::int64_t time, std::string_view actionId, std::string_view title) {
  return Build("INSERT INTO AlertsData VALUES (?, ?, ?, ?, ?)",
               {monitorId, alertId, time, actionId, title});
}

std::string InsertLog(std::string_view monitorId, std::int64_t time, std::int32_t type,
                      std::string_view text) {
  return Build("INSERT INTO Log VALUES (?,?,?,?)",
               {monitorId, time, type, platform::SanitizeText(text)});
}

std::string SelectUptimeRows(std::string_view tableName, std::string_view monitorId,
                             std::int64_t since, std::int64_t until) {
  return Build("SELECT available, time FROM " + DataTable(tableName) +
                   " WHERE (monitorId = ? AND time > ? AND time <= ?) ORDER BY time",
               {monitorId, since, until});
}

std::string SelectFirstSampleTime(std::string_view tableName, std::string_view monitorId) {
  return Build(
      "SELECT time FROM " + DataTable(tableName) + " WHERE (monitorId = ?) ORDER BY time LIMIT 1",
      {monitorId});
}

std::string SelectDataInPeriod(std::string_view columns, std::string_view tableName,
                               std::string_view monitorId, std::int64_t start, std::int64_t end) {
  return Build("SELECT " + std::string(columns) + " FROM " + DataTable(tableName) +
                   " WHERE (monitorId == ? AND time >= ? AND time <= ?)",
               {monitorId, start, end});
}

std::string SelectLog(std::string_view monitorId) {
  return Build("SELECT time, type, text FROM Log WHERE (monitorId == ?)", {monitorId});
}

std::string SelectAlertsDataNewestFirst() { return "SELECT * FROM AlertsData ORDER BY time DESC"; }

namespace {

// The columns of the rows of `from` that match `where`, in time order; with a limit the
// newest `limit` of them. rowid orders rows of equal time as they were written.
std::string InTimeOrder(const std::string& columns, const std::string& from,
                        const std::string& where, std::int64_t limit) {
  if (limit <= 0) {
    return "SELECT " + columns + " FROM " + from + " WHERE " + where + " ORDER BY time, rowid";
  }
  return "SELECT " + columns + " FROM (SELECT " + columns + ", rowid AS rowOrder FROM " + from +
         " WHERE " + where + " ORDER BY time DESC, rowid DESC LIMIT " + std::to_string(limit) +
         ") ORDER BY time, rowOrder";
}

}  // namespace

std::string SelectLogInTimeOrder(std::string_view monitorId, std::int64_t limit) {
  return InTimeOrder("time, type, text", "Log", Build("(monitorId = ?)", {monitorId}), limit);
}

std::string SelectSamplesInTimeOrder(std::string_view tableName, std::string_view monitorId,
                                     std::int64_t start, std::int64_t end) {
  return InTimeOrder(
      "time, available, health, errorCode, errorDescription, connectionTime, requestTime",
      DataTable(tableName),
      Build("(monitorId = ? AND time >= ? AND time <= ?)", {monitorId, start, end}), 0);
}

std::string SelectTestQuerySamplesInTimeOrder(std::string_view monitorId,
                                              const std::vector<std::string>& testQueryIds,
                                              std::int64_t start, std::int64_t end) {
  std::string ids;
  for (const std::string& id : testQueryIds) {
    if (!ids.empty()) ids += ", ";
    ids += QuoteText(id);
  }
  return InTimeOrder("id, time, value, errorCode, errorDescription", "TestQueriesData",
                     Build("(monitorId = ? AND id IN (", {monitorId}) + ids +
                         Build(") AND time >= ? AND time <= ?)", {start, end}),
                     0);
}

std::string SelectAlertsDataInTimeOrder(std::string_view monitorId, std::int64_t limit) {
  return InTimeOrder("alertId, time, actionId, title", "AlertsData",
                     Build("(monitorId = ?)", {monitorId}), limit);
}

std::string SelectLogWithRowids(std::string_view monitorId) {
  return Build("SELECT rowid, time, type, text FROM Log WHERE (monitorId = ?) ORDER BY time, rowid",
               {monitorId});
}

std::string SelectLogAfter(std::string_view monitorId, std::int64_t rowid) {
  // "+monitorId" keeps the monitor's index out, so only the rowids above the mark are walked.
  return Build("SELECT rowid, time, type, text FROM Log WHERE (+monitorId = ? AND rowid > " +
                   std::to_string(rowid) + ") ORDER BY time, rowid",
               {monitorId});
}

std::string CountLogUpTo(std::string_view monitorId, std::int64_t rowid) {
  return Build(
      "SELECT count(*) FROM Log WHERE (monitorId = ? AND rowid <= " + std::to_string(rowid) + ")",
      {monitorId});
}

std::string SelectLogRowAt(std::string_view monitorId, std::int64_t rowid) {
  return Build("SELECT time, type, text FROM Log WHERE (rowid = " + std::to_string(rowid) +
                   " AND monitorId = ?)",
               {monitorId});
}

std::string SelectLargestLogRowid() { return "SELECT max(rowid) FROM Log"; }

std::vector<std::string> DeleteMonitorConfig(std::string_view tableName,
                                             std::string_view monitorId) {
  return {DeleteWhere(tableName, "id", monitorId),
          DeleteWhere("TestQueries", "monitorId", monitorId),
          DeleteWhere("HealthAttributes", "monitorId", monitorId),
          DeleteWhere("Alerts", "monitorId", monitorId)};
}

std::vector<std::string> DeleteMonitorData(std::string_view tableName, std::string_view monitorId) {
  return {DeleteWhere(DataTable(tableName), "monitorId", monitorId),
          DeleteWhere("TestQueriesData", "monitorId", monitorId),
          DeleteWhere("AlertsData", "monitorId", monitorId),
          DeleteWhere("Log", "monitorId", monitorId)};
}

std::string DeleteTestQueryData(std::string_view testQueryId) {
  return DeleteWhere("TestQueriesData", "id", testQueryId);
}

std::string DeleteTestQuery(std::string_view testQueryId) {
  return DeleteWhere("TestQueries", "id", testQueryId);
}

std::string DeleteAlertsOfHealthAttribute(std::string_view healthAttributeId) {
  return DeleteWhere("Alerts", "healthAttributeId", healthAttributeId);
}

std::string DeleteHealthAttributesOfTestQuery(std::string_view testQueryId) {
  return DeleteWhere("HealthAttributes", "testQueryId", testQueryId);
}

std::string DeleteAction(std::string_view actionId) {
  return DeleteWhere("Actions", "id", actionId);
}

std::string DeleteAlert(std::string_view alertId) { return DeleteWhere("Alerts", "id", alertId); }

std::string DeleteAlertsOfMonitor(std::string_view monitorId) {
  return DeleteWhere("Alerts", "monitorId", monitorId);
}

std::string DeleteLogOfMonitor(std::string_view monitorId) {
  return DeleteWhere("Log", "monitorId", monitorId);
}

}  // namespace engine::sql
