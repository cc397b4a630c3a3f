#include "engine/store/server_storage.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_changes.h"
#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/data/statements.h"
#include "engine/db/busy_event.h"
#include "engine/db/statement.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/monitor/server.h"
#include "engine/services.h"
#include "engine/store/alert_listing.h"
#include "engine/store/store_saves.h"
#include "engine/user_interface.h"
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

// How long the check of the configuration file waits for another process's lock.
constexpr int kCheckBusyMs = 5000;

// The configuration file's path; "" when the data folder cannot be had.
std::string ConfigPath() {
  const std::string folder = platform::GetDocumentsFolder();
  if (folder.empty() || folder.front() != '/') return {};
  return folder + DataFiles::kConfigFileName;
}

int Describe(FileFailure* failure, int code, const std::string& path, const std::string& text) {
  if (failure != nullptr) {
    failure->code = code;
    failure->path = path;
    failure->text = text.empty() ? sqlite3_errstr(code) : text;
  }
  return code;
}

// Runs SQLite's structure check on the file through a connection of its own opened with
// `flags`. SQLITE_OK for a sound file; otherwise the failure, with SQLite's text, and in
// *extended the extended code.
int QuickCheck(const std::string& path, int flags, std::string* text, int* extended) {
  sqlite3* handle = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
  if (rc != SQLITE_OK) {
    *text = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    *extended = handle != nullptr ? sqlite3_extended_errcode(handle) : rc;
    sqlite3_close_v2(handle);
    return rc;
  }
  sqlite3_busy_timeout(handle, kCheckBusyMs);
  sqlite3_stmt* statement = nullptr;
  rc = sqlite3_prepare_v2(handle, "PRAGMA quick_check", -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      if (verdict != nullptr && std::string_view(verdict) == "ok") {
        rc = SQLITE_OK;
      } else {
        // The check lists every damaged page; the library's word for it is enough.
        rc = SQLITE_CORRUPT;
        *text = sqlite3_errstr(rc);
      }
    } else if (rc == SQLITE_DONE) {
      rc = SQLITE_OK;
    }
  }
  *extended = rc == SQLITE_OK ? SQLITE_OK : sqlite3_extended_errcode(handle);
  if (rc != SQLITE_OK && text->empty()) *text = sqlite3_errmsg(handle);
  sqlite3_finalize(statement);
  sqlite3_close_v2(handle);
  return rc;
}

// Reads an existing configuration file read-only and checks its structure, without
// changing a byte of it, with one exception: a save that was cut off (the process killed
// meanwhile) leaves a journal that only a writing connection may roll back, and a
// read-only one fails on it. Such a file is opened for writing once, which rolls it back
// to its last complete save, as any normal open would, and checked again. SQLITE_OK for
// a missing file (it is made afterwards) or a sound one; otherwise the failure, with
// SQLite's text.
int CheckConfigFile(const std::string& path, std::string* text) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return SQLITE_OK;
  int extended = SQLITE_OK;
  int rc = QuickCheck(path, SQLITE_OPEN_READONLY, text, &extended);
  if (extended == SQLITE_READONLY_ROLLBACK) {
    text->clear();
    rc = QuickCheck(path, SQLITE_OPEN_READWRITE, text, &extended);
  }
  return rc;
}

// How long Clear waits for the stops it asked for.
constexpr std::chrono::milliseconds kClearBound{2000};
// How long a write of the saves' worker waits for the edits under way, holding the file's
// lock, before it lets the lock go for a while.
constexpr std::chrono::milliseconds kEditWait{5};
constexpr std::chrono::microseconds kEditStep{200};
// How long a deletion waits for its monitor's stop beyond the stop's own bound, and for
// the log writer.
constexpr std::chrono::seconds kDeleteMargin{5};

// What goes with a deleted monitor once its configuration rows are out of the file: on a
// helper, the wait for its stop, its data rows, then the news.
void DeleteMonitorData(const std::shared_ptr<Server>& server, const std::string& folder) {
  const std::string& id = server->id;
  const std::string table = DataFiles::GetTableName(server->type);
  server->WaitForStop(std::chrono::steady_clock::now() + Server::StopTimeout() + kDeleteMargin);
  {
    // A poll stores under the gate: once it has been had here, a poll that stored has its
    // rows deleted below, and any later one finds the monitor marked deleted and stores
    // nothing. The deletion itself need not hold it.
    std::lock_guard gate(Server::DataFileGate());
  }
  {
    db::Database data;
    if (DataFiles::OpenDatabaseIn(data, folder, DataFiles::kDataFileName) == SQLITE_OK) {
      const std::string log = sql::DeleteLogOfMonitor(id);
      for (const std::string& statement : sql::DeleteMonitorData(table, id)) {
        if (statement != log) db::Database::ExecSQL(data, statement);
      }
    }
  }
  // The log rows, its "Monitor stopped." included, go through the log writer in order.
  ClearLogRowsIn(folder, id);
  WaitForLogWrites(std::chrono::steady_clock::now() + kDeleteMargin);
  NoteMonitorDataDeleted(id);
  if (IUserInterface* ui = Services::Ui()) ui->MonitorDeleted(id);
}

// Tells the window that a removal the file refused has put records back.
void TellRemovalRefused(const std::string& monitorId) {
  if (IUserInterface* ui = Services::Ui()) ui->RemovalRefused(monitorId);
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string MonitorName(const Server& server) {
  std::lock_guard lock(server.Mutex());
  return Quoted(server.name);
}

std::string ActionName(const Action& action) {
  std::lock_guard lock(action.Mutex());
  return action.name;
}

// What a removal from a monitor takes out, as the user knows it: `the test query "Orders"
// of the monitor "Sales"`, `the alert "Connection Time (ms.) > 500, Mail DBA, Error" of the
// monitor "Sales"` (as the alerts view lists it). actionName gives the name of the action
// with that identifier, "" when there is none; it may take the store's lock.
std::string DescribeRemoval(const Server& server, const Server::TakenRecords& taken,
                            const std::function<std::string(const std::string&)>& actionName) {
  std::string what;
  const auto& queries = taken.testQueries.records;
  if (!queries.empty()) {
    what = queries.size() == 1 ? "the test query " : "the test queries ";
    for (std::size_t i = 0; i < queries.size(); ++i) {
      what += (i == 0 ? "" : ", ") + Quoted(queries[i].name);
    }
  } else {
    const auto& alerts = taken.health.alerts.records;
    // The store's lock comes before the monitor's.
    std::vector<std::string> actionNames;
    for (const Alert& alert : alerts) actionNames.push_back(actionName(alert.actionId));
    what = alerts.size() == 1 ? "the alert " : "the alerts ";
    std::lock_guard lock(server.Mutex());
    for (std::size_t i = 0; i < alerts.size(); ++i) {
      const Alert& alert = alerts[i];
      const HealthAttribute* found = server.FindHealthAttribute(alert.healthAttributeId);
      AttributeSnapshot attribute;
      if (found) {
        attribute.type = found->type;
        attribute.displayName = server.GetAttributeDisplayName(found);
      }
      const AlertSettings settings{alert.actionId, alert.healthAttributeId, alert.threshold,
                                   alert.condition, alert.alertType};
      what += (i == 0 ? "" : ", ") +
              Quoted(AlertName(ListAlert(found ? &attribute : nullptr, settings, actionNames[i])));
    }
  }
  return what + " of the monitor " + MonitorName(server);
}

}  // namespace

ServerStorage::ServerStorage()
    : saves_(std::make_unique<ConfigSaves>(
          [this](const SaveSet& records, const std::vector<std::string>& statements,
                 std::chrono::milliseconds busyLimit, FileFailure* failure) {
            return WriteRecords(records, statements, busyLimit, failure);
          })) {}

ServerStorage::~ServerStorage() {
  // The worker looks records up in this store: it goes first.
  saves_.reset();
  Clear();
}

void ServerStorage::Clear() {
  std::vector<std::shared_ptr<Server>> oldServers;
  std::vector<std::shared_ptr<Action>> oldActions;
  {
    std::unique_lock lock(mutex_);
    oldServers.swap(servers);
    oldActions.swap(actions);
    unfinishedDeletions_.clear();
  }
  if (saves_) {
    saves_->Forget();
    saves_->SetExiting(false);
  }
  for (const auto& server : oldServers) server->Stop();
  // The helpers hold what they use; a short wait only lets the usual quick stops finish
  // before the store goes.
  Server::WaitForHelpers(std::chrono::steady_clock::now() +
                         std::min<std::chrono::milliseconds>(Server::StopTimeout(), kClearBound));
  for (const auto& action : oldActions) action->CloseWorkerThreads();
}

int ServerStorage::LoadAll(FileFailure* failure) {
  Clear();
  DataFiles::CreateDataTables();
  FileFailure found;
  const int rc = [&] {
    found.path = ConfigPath();
    if (found.path.empty()) return Describe(&found, SQLITE_CANTOPEN, "", "no data folder");
    std::string text;
    if (const int checked = CheckConfigFile(found.path, &text); checked != SQLITE_OK) {
      return Describe(&found, checked, found.path, text);
    }
    return SQLITE_OK;
  }();
  {
    std::unique_lock lock(mutex_);
    refusal_ = rc == SQLITE_OK ? FileFailure{} : found;
  }
  // Every writer of the file is held off, not only the store's saves: deletes of monitors,
  // test queries, alerts and actions made afterwards never reach it either.
  DataFiles::SetConfigFileRefused(rc != SQLITE_OK);
  if (rc != SQLITE_OK) return Describe(failure, rc, found.path, found.text);

  DataFiles::CreateConfigTables();
  db::Database database;
  const int opened = DataFiles::OpenDatabase(database, DataFiles::kConfigFileName);
  // A file that reads but cannot be opened for writing now (its folder or mode changed,
  // say) is not refused: its saves fail and are reported one by one.
  if (opened != SQLITE_OK) return Describe(failure, opened, found.path, "");

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

bool ServerStorage::RefusesConfigWrites() const {
  std::shared_lock lock(mutex_);
  return refusal_.code != SQLITE_OK;
}

int ServerStorage::OpenConfigForWriting(db::Database& database, FileFailure* failure) const {
  {
    std::shared_lock lock(mutex_);
    if (refusal_.code != SQLITE_OK) {
      return Describe(
          failure, refusal_.code, refusal_.path,
          "it could not be read at start-up (" + refusal_.text + ") and is left as it is");
    }
  }
  const int opened = DataFiles::OpenDatabase(database, DataFiles::kConfigFileName);
  if (opened != SQLITE_OK) return Describe(failure, opened, ConfigPath(), "");
  return SQLITE_OK;
}

int ServerStorage::SaveAll(FileFailure* failure, std::optional<std::chrono::milliseconds> busyLimit,
                           std::vector<std::string>* unremoved) {
  if (unremoved != nullptr) unremoved->clear();
  {
    std::shared_lock lock(mutex_);
    if (refusal_.code != SQLITE_OK) {
      return Describe(
          failure, refusal_.code, refusal_.path,
          "it could not be read at start-up (" + refusal_.text + ") and is left as it is");
    }
  }
  // Through the saves' worker, behind what it holds: the program never meets its own
  // write on the file's lock.
  for (const auto& server : GetServerList()) saves_->MarkMonitor(server->id);
  for (const auto& action : GetActionList()) saves_->MarkAction(action->id);
  saves_->Commit();
  const auto deadline =
      std::chrono::steady_clock::now() + busyLimit.value_or(db::BusyEvent::RetryLimit());
  FileFailure found;
  const int rc = saves_->Flush(deadline, &found, unremoved);
  if (rc != SQLITE_OK && failure != nullptr) *failure = found;
  return rc;
}

void ServerStorage::SetExiting(bool exiting) { saves_->SetExiting(exiting); }

std::vector<ServerStorage::UnfinishedDeletion> ServerStorage::UnfinishedDeletions() const {
  std::shared_lock lock(mutex_);
  return unfinishedDeletions_;
}

int ServerStorage::SaveServer(const std::string& id) {
  if (!GetServerById(id)) return SQLITE_NOTFOUND;
  saves_->MarkMonitor(id);
  saves_->Commit();
  return SQLITE_OK;
}

int ServerStorage::SaveAction(const std::string& id) {
  if (!GetActionById(id)) return SQLITE_NOTFOUND;
  saves_->MarkAction(id);
  saves_->Commit();
  return SQLITE_OK;
}

void ServerStorage::DropUnsavedEdits() { saves_->Forget(); }

bool ServerStorage::HasUnsavedEdits() const { return saves_->Pending(); }

bool ServerStorage::WaitForSaves(std::chrono::steady_clock::time_point deadline) {
  return saves_->WaitIdle(deadline);
}

int ServerStorage::WriteRecords(const SaveSet& records, const std::vector<std::string>& statements,
                                std::chrono::milliseconds busyLimit, FileFailure* failure) {
  failure->path = ConfigPath();
  db::Database database;
  int rc = OpenConfigForWriting(database, failure);
  if (rc != SQLITE_OK) return rc;
  database.LimitBusyWaits(busyLimit);
  // The records are read once the write lock is had, under the edits: an edit or a
  // removal made before is in memory already, and one made after is written by a later
  // attempt, so nothing removed is written back. The edits are held off only while the
  // statements run, never while the commit syncs the file; nothing holds them while it
  // waits for the file.
  while (true) {
    rc = db::Database::ExecSQL(database, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) break;
    // Tried in short steps rather than with a timed lock, which the thread checker cannot
    // follow; the file is let go meanwhile.
    std::unique_lock edit(EditMutex(), std::try_to_lock);
    for (const auto giveUp = std::chrono::steady_clock::now() + kEditWait;
         !edit.owns_lock() && std::chrono::steady_clock::now() < giveUp;) {
      std::this_thread::sleep_for(kEditStep);
      edit.try_lock();
    }
    if (!edit.owns_lock()) {
      db::Database::ExecSQL(database, "ROLLBACK");
      std::this_thread::sleep_for(kEditWait);
      continue;
    }
    for (const std::string& statement : statements) {
      if (rc == SQLITE_OK) rc = db::Database::ExecSQL(database, statement);
    }
    // In the store's order, which a save of every record leaves as the rows' order (equal
    // creation times load in row order); records no longer there are skipped.
    for (const std::shared_ptr<Server>& server : GetServerList()) {
      if (rc == SQLITE_OK && records.monitors.contains(server->id)) rc = server->Save(database);
    }
    for (const std::shared_ptr<Action>& action : GetActionList()) {
      if (rc == SQLITE_OK && records.actions.contains(action->id)) rc = action->Save(database);
    }
    edit.unlock();
    if (rc == SQLITE_OK) rc = db::Database::ExecSQL(database, "COMMIT");
    // A failed statement or commit leaves the file as the last commit left it.
    if (rc != SQLITE_OK) db::Database::ExecSQL(database, "ROLLBACK");
    break;
  }
  if (rc != SQLITE_OK) Describe(failure, rc, failure->path, "");
  return rc;
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
    // Out of the list at once: no lookup finds it, and an action still running for this
    // monitor finds it gone and writes no more rows for it.
    std::unique_lock lock(mutex_);
    index = IndexOf(servers, id);
    if (index < 0) return 0;
    server = servers[static_cast<std::size_t>(index)];
    servers.erase(servers.begin() + index);
  }
  // As the user sees it: a monitor whose stop was asked for is stopped.
  const bool running = IsRunning(*server) && !server->IsStopPending();
  server->MarkDeleted();
  server->Stop();
  {
    std::unique_lock lock(mutex_);
    unfinishedDeletions_.push_back({id, running});
  }
  // Its configuration rows go all at once, with the saves; a file that refuses them keeps
  // the deletion pending, tried again until it is in the file. Only then do its data rows
  // go, so that a deletion given up at exit leaves the monitor whole.
  ConfigRemoval removal;
  removal.statements = sql::DeleteMonitorConfig(DataFiles::GetTableName(server->type), id);
  removal.what = "the monitor " + MonitorName(*server);
  removal.removed = [this, server, folder = DataFiles::DataFolder()] {
    {
      std::unique_lock lock(mutex_);
      std::erase_if(unfinishedDeletions_,
                    [&](const UnfinishedDeletion& d) { return d.id == server->id; });
    }
    Server::RunHelper([server, folder] { DeleteMonitorData(server, folder); });
  };
  saves_->Remove(std::move(removal));
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

void ServerStorage::StopAll() {
  for (const auto& server : GetServerList()) server->Stop();
}

bool ServerStorage::WaitForStops(std::chrono::steady_clock::time_point deadline) {
  return Server::WaitForHelpers(deadline);
}

bool ServerStorage::IsStopPending(const std::string& id) const {
  const std::shared_ptr<Server> server = GetServerById(id);
  return server != nullptr && server->IsStopPending();
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
  if (const std::shared_ptr<Action> action = GetAction(index)) DeleteActionById(action->id);
  return 0;
}

int ServerStorage::DeleteActionById(const std::string& id) { return DeleteActions({id}); }

int ServerStorage::DeleteActions(const std::vector<std::string>& ids) {
  std::lock_guard edit(EditMutex());
  Taken<std::shared_ptr<Action>> taken;
  {
    std::unique_lock lock(mutex_);
    TakeWhere(
        actions,
        [&](const std::shared_ptr<Action>& a) {
          return std::find(ids.begin(), ids.end(), a->id) != ids.end();
        },
        actionsOrder_, &taken);
  }
  if (taken.empty()) return SQLITE_NOTFOUND;
  ConfigRemoval removal;
  for (const std::shared_ptr<Action>& action : taken.records) {
    removal.statements.push_back(sql::DeleteAction(action->id));
    removal.what += std::string(removal.what.empty() ? "the action " : ", the action ") +
                    Quoted(ActionName(*action));
  }
  // Their executions end at once, as the user asked; one that comes back is a fresh copy
  // with workers of its own.
  for (std::shared_ptr<Action>& action : taken.records) {
    action->CloseWorkerThreads();
    action = std::make_shared<Action>(*action);
  }
  removal.refused = [this, taken = std::move(taken)] {
    std::lock_guard edit(EditMutex());
    {
      std::unique_lock lock(mutex_);
      PutBackInto(actions, taken);
    }
    TellRemovalRefused("");
  };
  saves_->Remove(std::move(removal));
  return SQLITE_OK;
}

int ServerStorage::RemoveFromMonitor(const std::shared_ptr<Server>& server,
                                     Server::TakenRecords taken) {
  if (taken.Empty()) return SQLITE_NOTFOUND;
  ConfigRemoval removal;
  removal.statements.swap(taken.statements);
  removal.what = DescribeRemoval(*server, taken, [this](const std::string& actionId) {
    const std::shared_ptr<Action> action = GetActionById(actionId);
    return action ? ActionName(*action) : std::string();
  });
  if (!taken.testQueries.empty()) {
    std::vector<std::string> queryIds;
    for (const TestQuery& query : taken.testQueries.records) queryIds.push_back(query.id);
    removal.removed = [queryIds, folder = DataFiles::DataFolder()] {
      Server::DeleteTestQueryData(queryIds, folder);
    };
  }
  removal.refused = [server, taken = std::move(taken)] {
    std::lock_guard edit(EditMutex());
    server->PutBack(taken);
    TellRemovalRefused(server->id);
  };
  saves_->Remove(std::move(removal));
  return SQLITE_OK;
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
