// The store's calls for the views: snapshots of monitors and actions, and edits by
// identifier that apply under the owner's mutex and then save (server_storage.h).
#include <sqlite3.h>

#include <algorithm>
#include <mutex>

#include "engine/actions/action.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server.h"
#include "engine/store/server_storage.h"
#include "engine/store/store_saves.h"

namespace engine {

namespace {

// Changes one monitor under its mutex and saves it. change returns false when what it
// looks for in the monitor is not there; SQLITE_NOTFOUND then, and nothing is saved.
// Caller holds ServerStorage::EditMutex().
template <typename Change>
int ChangeMonitor(ServerStorage& store, const std::string& monitorId, Change change) {
  const std::shared_ptr<Server> server = store.GetServerById(monitorId);
  if (!server) return SQLITE_NOTFOUND;
  {
    std::lock_guard lock(server->Mutex());
    if (!change(*server)) return SQLITE_NOTFOUND;
  }
  return store.SaveServer(monitorId);
}

MonitorSettings CopySettings(const Server& server) {
  MonitorSettings s;
  s.name = server.name;
  s.address = server.address;
  s.username = server.username;
  s.password = server.password;
  s.pollingInterval = server.pollingInterval;
  if (const auto* odbc = dynamic_cast<const ODBCDataSource*>(&server)) {
    s.customConnectionString = odbc->customConnectionString;
    s.connectionString = odbc->connectionString;
    s.customTimeouts = odbc->customTimeouts;
    s.loginTimeout = odbc->loginTimeout;
    s.queryTimeout = odbc->queryTimeout;
  }
  return s;
}

void AssignSettings(Server& server, const MonitorSettings& s) {
  server.name = s.name;
  server.address = s.address;
  server.username = s.username;
  server.password = s.password;
  server.pollingInterval = s.pollingInterval;
  if (auto* odbc = dynamic_cast<ODBCDataSource*>(&server)) {
    odbc->customConnectionString = s.customConnectionString;
    odbc->connectionString = s.connectionString;
    odbc->customTimeouts = s.customTimeouts;
    odbc->loginTimeout = s.loginTimeout;
    odbc->queryTimeout = s.queryTimeout;
  }
}

AlertSettings CopySettings(const Alert& alert) {
  return {alert.actionId, alert.healthAttributeId, alert.threshold, alert.condition,
          alert.alertType};
}

void AssignSettings(Alert& alert, const AlertSettings& s) {
  alert.actionId = s.actionId;
  alert.healthAttributeId = s.healthAttributeId;
  alert.threshold = s.threshold;
  alert.condition = s.condition;
  alert.alertType = s.alertType;
}

// Caller holds the action's mutex (or has the only reference).
ActionSnapshot CopyAction(const Action& a) {
  ActionSnapshot out;
  out.id = a.id;
  ActionSettings& s = out.settings;
  s.name = a.name;
  s.type = a.type;
  s.pollsCount = a.pollsCount;
  s.server = a.server;
  s.port = a.port;
  s.auth = a.auth;
  s.userName = a.userName;
  s.password = a.password;
  s.fromAddress = a.fromAddress;
  s.toAddress = a.toAddress;
  s.datasourceName = a.datasourceName;
  s.sqlQuery = a.sqlQuery;
  s.path = a.path;
  s.uiType = a.uiType;
  return out;
}

void AssignSettings(Action& a, const ActionSettings& s) {
  a.name = s.name;
  a.type = s.type;
  a.pollsCount = s.pollsCount;
  a.server = s.server;
  a.port = s.port;
  a.auth = s.auth;
  a.userName = s.userName;
  a.password = s.password;
  a.fromAddress = s.fromAddress;
  a.toAddress = s.toAddress;
  a.datasourceName = s.datasourceName;
  a.sqlQuery = s.sqlQuery;
  a.path = s.path;
  a.uiType = s.uiType;
}

void SetStatus(int* status, int value) {
  if (status != nullptr) *status = value;
}

}  // namespace

std::recursive_mutex& ServerStorage::EditMutex() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

// ---- snapshots ----

const AttributeSnapshot* MonitorSnapshot::FindAttribute(const std::string& attributeId) const {
  auto it = std::find_if(attributes.begin(), attributes.end(),
                         [&](const AttributeSnapshot& a) { return a.id == attributeId; });
  return it == attributes.end() ? nullptr : &*it;
}

const TestQuerySnapshot* MonitorSnapshot::FindTestQuery(const std::string& queryId) const {
  auto it = std::find_if(testQueries.begin(), testQueries.end(),
                         [&](const TestQuerySnapshot& q) { return q.id == queryId; });
  return it == testQueries.end() ? nullptr : &*it;
}

std::optional<MonitorSnapshot> ServerStorage::GetMonitorSnapshot(const std::string& id) const {
  const std::shared_ptr<Server> server = GetServerById(id);
  if (!server) return std::nullopt;
  // Before the monitor's mutex: the stop's own lock is never taken inside it.
  const bool stopPending = server->IsStopPending();

  MonitorSnapshot out;
  std::lock_guard lock(server->Mutex());
  out.id = server->id;
  out.type = server->type;
  out.typeName = server->GetTypeName();
  out.creationTime = server->creationTime;
  out.settings = CopySettings(*server);
  out.running = server->running;
  out.stopPending = stopPending;
  out.notPolledYet = server->notPolledYet;
  out.statusText = server->GetStatusText();
  out.statusColor = server->GetStatusColor();
  if (const auto* odbc = dynamic_cast<const ODBCDataSource*>(server.get())) {
    out.current = odbc->current;
    out.previous = odbc->previous;
    out.history.assign(odbc->history.begin(), odbc->history.end());
  } else if (const ServerData* data = server->GetData()) {
    static_cast<ServerData&>(out.current) = *data;
  }
  out.testQueries.reserve(server->testQueries.size());
  for (const TestQuery& q : server->testQueries) {
    TestQuerySnapshot& t = out.testQueries.emplace_back();
    t.id = q.id;
    t.settings = {q.name, q.query};
    t.enable = q.enable;
    t.value = q.value;
    t.errorCode = q.errorCode;
    t.errorDescription = q.errorDescription;
    t.history.assign(q.history.begin(), q.history.end());
  }
  out.attributes.reserve(server->healthAttributes.size());
  for (const HealthAttribute& h : server->healthAttributes) {
    out.attributes.push_back({h.id, h.name, h.testQueryId, h.type,
                              server->GetAttributeDisplayName(&h),
                              server->GetAttributeValue(h.id)});
  }
  out.alerts.reserve(server->alerts.size());
  for (const Alert& a : server->alerts) {
    out.alerts.push_back({a.id, CopySettings(a), a.enable, a.counter, a.done, a.lastResult});
  }
  out.todayUptime = server->todayUptime;
  out.todayDowntime = server->todayDowntime;
  out.lastAlertTime = out.current.lastAlertTime;
  out.nextPollTime = server->running && !stopPending ? server->nextPollTime : 0;
  out.reportStart = server->reportStart;
  out.reportEnd = server->reportEnd;
  out.reportPeriod = server->reportPeriod;
  return out;
}

std::vector<MonitorSummary> ServerStorage::GetMonitorSummaries() const {
  std::vector<MonitorSummary> out;
  for (const std::shared_ptr<Server>& server : GetServerList()) {
    MonitorSummary& s = out.emplace_back();
    s.stopPending = server->IsStopPending();
    std::lock_guard lock(server->Mutex());
    s.id = server->id;
    s.name = server->name;
    s.type = server->type;
    s.running = server->running;
    s.notPolledYet = server->notPolledYet;
    if (const ServerData* data = server->GetData()) {
      s.health = data->health;
      s.available = data->available;
    }
  }
  return out;
}

// ---- monitors ----

std::string ServerStorage::AddMonitor(const MonitorSettings& settings, int* status) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<ODBCDataSource> monitor = AddNewODBCDataSource();
  {
    std::lock_guard lock(monitor->Mutex());
    AssignSettings(*monitor, settings);
  }
  SetStatus(status, SaveServer(monitor->id));
  return monitor->id;
}

int ServerStorage::ApplyMonitorSettings(const std::string& id, const MonitorSettings& settings) {
  std::lock_guard edit(EditMutex());
  return ChangeMonitor(*this, id, [&](Server& server) {
    AssignSettings(server, settings);
    return true;
  });
}

int ServerStorage::SetReportPeriod(const std::string& id, std::int64_t start, std::int64_t end,
                                   std::int32_t period) {
  const std::shared_ptr<Server> server = GetServerById(id);
  if (!server) return SQLITE_NOTFOUND;
  std::lock_guard lock(server->Mutex());
  server->reportStart = start;
  server->reportEnd = end;
  server->reportPeriod = period;
  return SQLITE_OK;
}

int ServerStorage::ClearLog(const std::string& id) {
  const std::shared_ptr<Server> server = GetServerById(id);
  if (!server) return SQLITE_NOTFOUND;
  server->ClearLog();
  return SQLITE_OK;
}

// ---- test queries ----

std::string ServerStorage::AddTestQuery(const std::string& monitorId,
                                        const TestQuerySettings& settings, int* status) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Server> server = GetServerById(monitorId);
  if (!server) {
    SetStatus(status, SQLITE_NOTFOUND);
    return {};
  }
  std::string queryId;
  {
    std::lock_guard lock(server->Mutex());
    TestQuery& query = server->AddTestQuery();
    query.name = settings.name;
    query.query = settings.query;
    queryId = query.id;
  }
  SetStatus(status, SaveServer(monitorId));
  return queryId;
}

int ServerStorage::ChangeTestQuery(const std::string& monitorId, const std::string& queryId,
                                   const TestQuerySettings& settings) {
  std::lock_guard edit(EditMutex());
  return ChangeMonitor(*this, monitorId, [&](Server& server) {
    TestQuery* query = server.FindTestQuery(queryId);
    if (query == nullptr) return false;
    query->name = settings.name;
    query->query = settings.query;
    return true;
  });
}

int ServerStorage::EnableTestQuery(const std::string& monitorId, const std::string& queryId,
                                   bool enable) {
  std::lock_guard edit(EditMutex());
  return ChangeMonitor(*this, monitorId, [&](Server& server) {
    TestQuery* query = server.FindTestQuery(queryId);
    if (query == nullptr) return false;
    query->enable = enable;
    return true;
  });
}

int ServerStorage::DeleteTestQuery(const std::string& monitorId, const std::string& queryId) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Server> server = GetServerById(monitorId);
  if (!server) return SQLITE_NOTFOUND;
  return RemoveFromMonitor(server, server->TakeTestQueries({queryId}));
}

int ServerStorage::DeleteAllTestQueries(const std::string& monitorId) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Server> server = GetServerById(monitorId);
  if (!server) return SQLITE_NOTFOUND;
  std::vector<std::string> queryIds;
  {
    std::lock_guard lock(server->Mutex());
    for (const TestQuery& query : server->testQueries) queryIds.push_back(query.id);
  }
  if (queryIds.empty()) return SQLITE_OK;
  return RemoveFromMonitor(server, server->TakeTestQueries(queryIds));
}

// ---- alerts ----

std::string ServerStorage::AddAlert(const std::string& monitorId, const AlertSettings& settings,
                                    int* status) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Server> server = GetServerById(monitorId);
  if (!server) {
    SetStatus(status, SQLITE_NOTFOUND);
    return {};
  }
  std::string alertId;
  {
    std::lock_guard lock(server->Mutex());
    Alert& alert = server->NewAlert();
    AssignSettings(alert, settings);
    alertId = alert.id;
  }
  SetStatus(status, SaveServer(monitorId));
  return alertId;
}

int ServerStorage::ChangeAlert(const std::string& monitorId, const std::string& alertId,
                               const AlertSettings& settings) {
  std::lock_guard edit(EditMutex());
  return ChangeMonitor(*this, monitorId, [&](Server& server) {
    Alert* alert = server.FindAlert(alertId);
    if (alert == nullptr) return false;
    AssignSettings(*alert, settings);
    return true;
  });
}

int ServerStorage::EnableAlert(const std::string& monitorId, const std::string& alertId,
                               bool enable) {
  std::lock_guard edit(EditMutex());
  return ChangeMonitor(*this, monitorId, [&](Server& server) {
    Alert* alert = server.FindAlert(alertId);
    if (alert == nullptr) return false;
    alert->enable = enable;
    return true;
  });
}

int ServerStorage::DeleteAlert(const std::string& monitorId, const std::string& alertId) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Server> server = GetServerById(monitorId);
  if (!server) return SQLITE_NOTFOUND;
  return RemoveFromMonitor(server, server->TakeAlerts({alertId}));
}

int ServerStorage::DeleteAllAlerts(const std::string& monitorId) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Server> server = GetServerById(monitorId);
  if (!server) return SQLITE_NOTFOUND;
  const int rc = RemoveFromMonitor(server, server->TakeAlerts({}, true));
  return rc == SQLITE_NOTFOUND ? SQLITE_OK : rc;
}

// ---- actions ----

std::vector<ActionSnapshot> ServerStorage::GetActionSnapshots() const {
  std::vector<ActionSnapshot> out;
  for (const std::shared_ptr<Action>& action : GetActionList()) {
    std::lock_guard lock(action->Mutex());
    out.push_back(CopyAction(*action));
  }
  return out;
}

std::optional<ActionSnapshot> ServerStorage::GetActionSnapshot(const std::string& id) const {
  const std::shared_ptr<Action> action = GetActionById(id);
  if (!action) return std::nullopt;
  std::lock_guard lock(action->Mutex());
  return CopyAction(*action);
}

std::string ServerStorage::AddAction(const ActionSettings& settings, int* status) {
  std::lock_guard edit(EditMutex());
  auto action = std::make_shared<Action>(settings.type);
  AssignSettings(*action, settings);
  const std::string id = action->id;
  AddAction(std::move(action));
  SetStatus(status, SaveAction(id));
  return id;
}

int ServerStorage::ChangeAction(const std::string& id, const ActionSettings& settings) {
  std::lock_guard edit(EditMutex());
  const std::shared_ptr<Action> action = GetActionById(id);
  if (!action) return SQLITE_NOTFOUND;
  {
    std::lock_guard lock(action->Mutex());
    AssignSettings(*action, settings);
  }
  return SaveAction(id);
}

int ServerStorage::DeleteAction(const std::string& id) { return DeleteActions({id}); }

int ServerStorage::TestAction(const std::string& id) {
  const std::shared_ptr<Action> action = GetActionById(id);
  if (!action) return SQLITE_NOTFOUND;
  return static_cast<int>(action->RunTest());
}

}  // namespace engine
