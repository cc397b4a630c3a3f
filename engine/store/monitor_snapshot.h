// What the views see of monitors and actions, and what they hand back to change them:
// plain values, copied under the monitor's (or action's) mutex by the store's calls for
// the views (window_store.h). A snapshot stays as it was taken; it never points into a
// monitor. Settings are the fields an editor changes; the store's edit calls apply them
// by identifier and save.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/monitor/monitor_values.h"
#include "engine/monitor/server_data.h"
#include "engine/monitor/test_query.h"
#include "platform/status.h"

namespace engine {

// The fields of a monitor that its settings view and the new-monitor wizard edit.
struct MonitorSettings {
  std::string name{};
  std::string address{};  // the ODBC data source name
  std::string username{};
  std::string password{};
  std::int32_t pollingInterval = kDefaultPollingInterval;  // minutes
  bool customConnectionString = false;
  std::string connectionString{};
  bool customTimeouts = false;
  std::int32_t loginTimeout = kDefaultOdbcTimeout;  // seconds
  std::int32_t queryTimeout = kDefaultOdbcTimeout;  // seconds

  bool operator==(const MonitorSettings&) const = default;
};

// The fields of a test query that its editor changes; enabling is a call of its own.
struct TestQuerySettings {
  std::string name{};
  std::string query{};  // the SQL text

  bool operator==(const TestQuerySettings&) const = default;
};

// The fields of an alert that the alert dialog changes; enabling is a call of its own.
struct AlertSettings {
  std::string actionId{};
  std::string healthAttributeId{};
  std::int64_t threshold = 0;
  std::int32_t condition = 1;  // index into kConditionOperators
  std::int32_t alertType = 0;  // 0 error, 1 clear

  bool operator==(const AlertSettings&) const = default;
};

// Every stored field of an action but its identifier.
struct ActionSettings {
  std::string name{};
  std::int32_t type = 0;  // 0 e-mail, 1 SMS, 2 execute SQL, 3 execute program, 4 user interface
  std::int32_t pollsCount = 1;
  std::string server{};
  std::int32_t port = 25;
  bool auth = false;
  std::string userName{};
  std::string password{};
  std::string fromAddress{};
  std::string toAddress{};
  std::string datasourceName{};
  std::string sqlQuery{};
  std::string path{};
  std::int32_t uiType = 0;

  bool operator==(const ActionSettings&) const = default;
};

struct ActionSnapshot {
  std::string id{};
  ActionSettings settings{};
};

struct TestQuerySnapshot {
  std::string id{};
  TestQuerySettings settings{};
  bool enable = true;
  std::int32_t value = -1;  // the latest value; -1 for none
  std::int32_t errorCode = 0;
  std::string errorDescription{};
  std::vector<TestQueryHistoryEntry> history{};  // oldest first
};

struct AttributeSnapshot {
  std::string id{};
  std::string name{};
  std::string testQueryId{};  // "" for a built-in attribute
  std::int32_t type = 0;      // 0 numeric, 1 boolean
  // "<test query name> <name>" for a test query's attribute, else the name.
  std::string displayName{};
  std::int32_t value = -1;  // on the current sample; -1 for none
};

struct AlertSnapshot {
  std::string id{};
  AlertSettings settings{};
  bool enable = true;
  std::int32_t counter = 0;  // consecutive polls on which the condition held
  bool done = false;         // the action fired last has finished
  platform::Status lastResult = 0;
};

// One monitor as the views show it, all taken at one moment.
struct MonitorSnapshot {
  std::string id{};
  std::int32_t type = kOdbcDataSourceType;
  std::string typeName{};
  std::int64_t creationTime = 0;
  MonitorSettings settings{};

  bool running = false;
  // Asked to stop, and its polling thread has not ended yet.
  bool stopPending = false;
  bool notPolledYet = true;
  std::string statusText{};
  StatusColor statusColor{};

  ODBCDataSourceData current{};
  ODBCDataSourceData previous{};
  std::vector<ServerHistoryEntry> history{};  // oldest first

  std::vector<TestQuerySnapshot> testQueries{};
  std::vector<AttributeSnapshot> attributes{};
  std::vector<AlertSnapshot> alerts{};

  std::int64_t todayUptime = 0;    // seconds
  std::int64_t todayDowntime = 0;  // seconds
  std::int64_t lastAlertTime = 0;  // 0: no alert's action has finished yet
  // When the next poll begins (seconds since 1970); 0 when the monitor is not running or
  // is stopping.
  std::int64_t nextPollTime = 0;

  // The report period last chosen for this monitor (memory only).
  std::int64_t reportStart = 0;
  std::int64_t reportEnd = 0;
  std::int32_t reportPeriod = 0;

  // The attribute and the test query with that identifier, or null.
  const AttributeSnapshot* FindAttribute(const std::string& attributeId) const;
  const TestQuerySnapshot* FindTestQuery(const std::string& queryId) const;
};

// One monitor for the tree and the info pane.
struct MonitorSummary {
  std::string id{};
  std::string name{};
  std::int32_t type = kOdbcDataSourceType;
  bool running = false;
  bool stopPending = false;
  bool notPolledYet = true;
  bool health = false;     // of the current sample
  bool available = false;  // of the current sample
};

}  // namespace engine
