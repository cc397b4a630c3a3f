#include "engine/store/server_storage.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/db/statement.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server.h"
#include "engine/store/data_files.h"
#include "engine/store/statements.h"
#include "platform/documents.h"

namespace engine {

// ---- the store ----

namespace {

template <typename T>
int IndexOf(const std::vector<std::shared_ptr<T>>& list, const std::string& id) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->id == id) return static_cast<int>(i);
  }
  return -1;
}

template <typename T>
std::shared_ptr<T> At(const std::vector<std::shared_ptr<T>>& list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
  return list[static_cast<std::size_t>(index)];
}

bool IsRunning(const Server& server) {
  std::lock_guard lock(server.Mutex());
  return server.running;
}

void ExecAll(db::Database& database, const std::vector<std::string>& statements) {
  for (const std::string& statement : statements) db::Database::ExecSQL(database, statement);
}

}  // namespace

ServerStorage::~ServerStorage() { Clear(); }

void ServerStorage::StopServers(const std::vector<std::shared_ptr<Server>>& list) {
  for (const auto& server : list) server->RequestStop();
  const auto deadline = std::chrono::steady_clock::now() + Server::StopTimeout();
  for (const auto& server : list) server->CompleteStop(deadline);
}

void ServerStorage::Clear() {
  std::vector<std::shared_ptr<Server>> oldServers;
  std::vector<std::shared_ptr<Action>> oldActions;
  {
    std::unique_lock lock(mutex_);
    oldServers.swap(servers);
    oldActions.swap(actions);
  }
  StopServers(oldServers);
  for (const auto& action : oldActions) action->CloseWorkerThreads();
}

int ServerStorage::LoadAll() {
  Clear();
  DataFiles::CreateConfigTables();
  DataFiles::CreateDataTables();
  db::Database database;
  const int opened = DataFiles::OpenDatabase(database, DataFiles::kConfigFileName);
  if (opened != SQLITE_OK) return opened;

  std::vector<std::shared_ptr<Server>> loadedServers;
  for (int kind = 0; kind <= Server::kOdbcDataSourceType; ++kind) {
    const std::string table = DataFiles::GetTableName(kind);
    if (table.empty()) continue;
    db::Statement statement(database);
    db::Cursor* rows = nullptr;
    if (statement.Prepare(sql::SelectMonitors(table)) != SQLITE_OK ||
        statement.Execute(&rows) != SQLITE_OK) {
      continue;
    }
    while (!rows->IsDone()) {
      auto monitor = std::make_shared<ODBCDataSource>();
      if (monitor->Load(*rows, database) == SQLITE_OK) {
        // After every monitor created at the same time or earlier: equal times keep their
        // row order.
        auto at =
            std::upper_bound(loadedServers.begin(), loadedServers.end(), monitor->creationTime,
                             [](std::int64_t time, const std::shared_ptr<Server>& other) {
                               return time < other->creationTime;
                             });
        loadedServers.insert(at, std::move(monitor));
      }
      if (rows->Next() != SQLITE_OK) break;
    }
  }

  std::vector<std::shared_ptr<Action>> loadedActions;
  {
    db::Statement statement(database);
    db::Cursor* rows = nullptr;
    if (statement.Prepare(sql::SelectActions()) == SQLITE_OK &&
        statement.Execute(&rows) == SQLITE_OK) {
      while (!rows->IsDone()) {
        auto action = std::make_shared<Action>();
        if (action->Load(*rows) == SQLITE_OK) loadedActions.push_back(std::move(action));
        if (rows->Next() != SQLITE_OK) break;
      }
    }
  }

  std::unique_lock lock(mutex_);
  servers = std::move(loadedServers);
  actions = std::move(loadedActions);
  return SQLITE_OK;
}

int ServerStorage::SaveAll() {
  db::Database database;
  const int opened = DataFiles::OpenDatabase(database, DataFiles::kConfigFileName);
  if (opened != SQLITE_OK) return opened;
  int first = SQLITE_OK;
  for (const auto& server : GetServerList()) {
    const int rc = server->Save(database);
    if (first == SQLITE_OK) first = rc;
  }
  for (const auto& action : GetActionList()) {
    const int rc = action->Save(database);
    if (first == SQLITE_OK) first = rc;
  }
  return first;
}

int ServerStorage::SaveServer(const std::string& id) {
  const std::shared_ptr<Server> server = GetServerById(id);
  if (!server) return SQLITE_NOTFOUND;
  db::Database database;
  const int opened = DataFiles::OpenDatabase(database, DataFiles::kConfigFileName);
  if (opened != SQLITE_OK) return opened;
  return server->Save(database);
}

int ServerStorage::SaveAction(const std::string& id) {
  const std::shared_ptr<Action> action = GetActionById(id);
  if (!action) return SQLITE_NOTFOUND;
  db::Database database;
  const int opened = DataFiles::OpenDatabase(database, DataFiles::kConfigFileName);
  if (opened != SQLITE_OK) return opened;
  return action->Save(database);
}

int ServerStorage::GetServerCount() const {
  std::shared_lock lock(mutex_);
  return static_cast<int>(servers.size());
}

std::shared_ptr<Server> ServerStorage::GetServer(int index) const {
  std::shared_lock lock(mutex_);
  return At(servers, index);
}

int ServerStorage::FindServerIndex(const std::string& id) const {
  std::shared_lock lock(mutex_);
  return IndexOf(servers, id);
}

std::shared_ptr<Server> ServerStorage::GetServerById(const std::string& id) const {
  std::shared_lock lock(mutex_);
  return At(servers, IndexOf(servers, id));
}

std::vector<std::shared_ptr<Server>> ServerStorage::GetServerList() const {
  std::shared_lock lock(mutex_);
  return servers;
}

bool ServerStorage::AnyRunning() const {
  const auto list = GetServerList();
  return std::any_of(list.begin(), list.end(), [](const auto& s) { return IsRunning(*s); });
}

bool ServerStorage::AnyStopped() const {
  const auto list = GetServerList();
  return std::any_of(list.begin(), list.end(), [](const auto& s) { return !IsRunning(*s); });
}

std::shared_ptr<ODBCDataSource> ServerStorage::AddNewODBCDataSource() {
  auto monitor = std::make_shared<ODBCDataSource>();
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->AddDefaultAttributes();
  }
  std::unique_lock lock(mutex_);
  servers.push_back(monitor);
  return monitor;
}

int ServerStorage::DeleteServer(const std::string& id) {
  std::shared_ptr<Server> server;
  int index = -1;
  {
    std::shared_lock lock(mutex_);
    index = IndexOf(servers, id);
    if (index < 0) return 0;
    server = servers[static_cast<std::size_t>(index)];
  }
  server->Stop();
  {
    // Out of the list first: an action still running for this monitor then finds it gone
    // and writes no more rows for it.
    std::unique_lock lock(mutex_);
    std::erase(servers, server);
  }
  const std::string table = DataFiles::GetTableName(server->type);
  {
    db::Database config;
    if (DataFiles::OpenDatabase(config, DataFiles::kConfigFileName) == SQLITE_OK) {
      ExecAll(config, sql::DeleteMonitorConfig(table, id));
    }
  }
  {
    db::Database data;
    if (DataFiles::OpenDatabase(data, DataFiles::kDataFileName) == SQLITE_OK) {
      ExecAll(data, sql::DeleteMonitorData(table, id));
    }
  }
  return index > 0 ? index - 1 : 0;
}

void ServerStorage::DuplicateServer(const std::string& /*id*/) {}

void ServerStorage::StartServer(const std::string& id) {
  if (auto server = GetServerById(id)) server->Start();
}

void ServerStorage::StopServer(const std::string& id) {
  if (auto server = GetServerById(id)) server->Stop();
}

void ServerStorage::StartAll() {
  for (const auto& server : GetServerList()) server->Start();
}

void ServerStorage::StopAll() { StopServers(GetServerList()); }

bool ServerStorage::WaitForStops(std::chrono::steady_clock::time_point /*deadline*/) {
  return true;
}

std::shared_ptr<Action> ServerStorage::GetAction(int index) const {
  std::shared_lock lock(mutex_);
  return At(actions, index);
}

int ServerStorage::FindActionIndex(const std::string& id) const {
  std::shared_lock lock(mutex_);
  return IndexOf(actions, id);
}

std::shared_ptr<Action> ServerStorage::GetActionById(const std::string& id) const {
  std::shared_lock lock(mutex_);
  return At(actions, IndexOf(actions, id));
}

std::vector<std::shared_ptr<Action>> ServerStorage::GetActionList() const {
  std::shared_lock lock(mutex_);
  return actions;
}

void ServerStorage::AddAction(std::shared_ptr<Action> action) {
  if (!action) return;
  std::unique_lock lock(mutex_);
  actions.push_back(std::move(action));
}

int ServerStorage::DeleteAction(int index) {
  const std::shared_ptr<Action> action = GetAction(index);
  if (!action) return 0;
  action->CloseWorkerThreads();
  {
    db::Database config;
    if (DataFiles::OpenDatabase(config, DataFiles::kConfigFileName) == SQLITE_OK) {
      db::Database::ExecSQL(config, sql::DeleteAction(action->id));
    }
  }
  std::unique_lock lock(mutex_);
  std::erase(actions, action);
  return 0;
}

int ServerStorage::DeleteActionById(const std::string& id) {
  return DeleteAction(FindActionIndex(id));
}

void ServerStorage::AlertActionStarted(const std::string& monitorId, const std::string& alertId) {
  ServerHealth::WithAlert(monitorId, alertId, [](Alert& alert) { alert.done = false; });
}

bool ServerStorage::AlertActionDone(const std::string& monitorId, const std::string& alertId,
                                    std::uint32_t status) {
  const std::shared_ptr<Server> monitor = GetServerById(monitorId);
  if (monitor == nullptr) return false;
  std::lock_guard lock(monitor->Mutex());
  if (Alert* alert = monitor->FindAlert(alertId)) {
    alert->done = true;
    alert->lastResult = status;
  }
  if (ServerData* sample = monitor->GetData()) sample->lastAlertTime = Clock::Now();
  return true;
}

}  // namespace engine
