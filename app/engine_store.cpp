#include "app/engine_store.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "engine/actions/action.h"
#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/db/busy_event.h"
#include "engine/db/database.h"
#include "engine/monitor/server.h"
#include "engine/report/email_reporter.h"
#include "engine/store/server_storage.h"

namespace app {
namespace {

std::chrono::milliseconds Remaining(IMonitorStore::Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

FileProblem ToProblem(const engine::FileFailure& failure) { return {failure.path, failure.text}; }

}  // namespace

EngineMonitorStore::EngineMonitorStore(engine::ServerStorage& storage,
                                       engine::EMailReporter* reporter)
    : storage_(storage), reporter_(reporter) {}

void EngineMonitorStore::InitializeDatabase() { db::Database::InitializeLibrary(); }

std::optional<FileProblem> EngineMonitorStore::LoadAll() {
  engine::FileFailure failure;
  if (storage_.LoadAll(&failure) == 0) return std::nullopt;
  return ToProblem(failure);
}

std::vector<MonitorState> EngineMonitorStore::Monitors() const {
  std::vector<MonitorState> states;
  for (const auto& server : storage_.GetServerList()) {
    // A monitor whose stop was asked for is stopped as far as the user is concerned.
    const bool stopping = server->IsStopPending();
    std::lock_guard<std::mutex> lock(server->Mutex());
    states.push_back({server->id, server->running && !stopping});
  }
  return states;
}

void EngineMonitorStore::StartMonitor(const std::string& id) { storage_.StartServer(id); }

void EngineMonitorStore::LimitWaits() {
  db::BusyEvent::SetRetryLimit(kExitBusyLimit);
  engine::Server::SetStopTimeout(kExitStopBound);
}

bool EngineMonitorStore::StopAll(Deadline deadline) {
  storage_.StopAll();
  // The exit's own saves write everything: the worker is waited for only as long as one of
  // them waits for a lock another program holds. It goes first, since a deletion that
  // reaches the file starts the helper that deletes its data rows, waited for below.
  bool ended =
      storage_.WaitForSaves(std::min(deadline, std::chrono::steady_clock::now() + kExitBusyLimit));
  ended = storage_.WaitForStops(deadline) && ended;
  ended = engine::Action::ShutdownWorkers(Remaining(deadline)) && ended;
  if (reporter_ != nullptr) ended = reporter_->Shutdown(Remaining(deadline)) && ended;
  return ended;
}

std::optional<FileProblem> EngineMonitorStore::SaveAll(std::chrono::milliseconds busyLimit) {
  if (storage_.RefusesConfigWrites() && storage_.GetServerCount() == 0 &&
      storage_.GetActionList().empty()) {
    return std::nullopt;
  }
  storage_.SetExiting(true);
  engine::FileFailure failure;
  std::vector<std::string> unremoved;
  if (storage_.SaveAll(&failure, busyLimit, &unremoved) == 0) return std::nullopt;
  FileProblem problem = ToProblem(failure);
  problem.unremoved = std::move(unremoved);
  return problem;
}

void EngineMonitorStore::ExitCancelled() { storage_.SetExiting(false); }

std::vector<MonitorState> EngineMonitorStore::UnfinishedDeletions() const {
  std::vector<MonitorState> states;
  for (const auto& deletion : storage_.UnfinishedDeletions()) {
    states.push_back({deletion.id, deletion.running});
  }
  return states;
}

bool EngineMonitorStore::HasUnsavedEdits() const { return storage_.HasUnsavedEdits(); }

void EngineMonitorStore::DropUnsavedEdits() { storage_.DropUnsavedEdits(); }

void EngineMonitorStore::AddLog(const std::string& id, const std::string& text) {
  engine::WriteLogRow(id, 0, text);
}

std::size_t EngineMonitorStore::FlushLog(Deadline deadline) {
  return engine::FlushLogRows(deadline);
}

void EngineMonitorStore::ShutdownDatabase() {
  engine::DataFiles::KeepDataFileOpen(false);
  db::Database::ShutdownLibrary();
}

}  // namespace app
