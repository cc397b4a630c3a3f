#include "app/engine_store.h"

#include <chrono>
#include <mutex>

#include "engine/actions/action.h"
#include "engine/db/database.h"
#include "engine/monitor/server.h"
#include "engine/report/email_reporter.h"
#include "engine/store/log_writer.h"
#include "engine/store/server_storage.h"

namespace app {
namespace {

// How long exit waits for action executions and for a report being sent, after
// cancelling their SMTP exchanges; the window is gone by then.
constexpr std::chrono::seconds kActionBound{30};
constexpr std::chrono::seconds kReportBound{10};

}  // namespace

EngineMonitorStore::EngineMonitorStore(engine::ServerStorage& storage,
                                       engine::EMailReporter* reporter)
    : storage_(storage), reporter_(reporter) {}

void EngineMonitorStore::InitializeDatabase() { db::Database::InitializeLibrary(); }

void EngineMonitorStore::LoadAll() { storage_.LoadAll(); }

std::vector<MonitorState> EngineMonitorStore::Monitors() const {
  std::vector<MonitorState> states;
  for (const auto& server : storage_.GetServerList()) {
    std::lock_guard<std::mutex> lock(server->Mutex());
    states.push_back({server->id, server->running});
  }
  return states;
}

void EngineMonitorStore::StartMonitor(const std::string& id) { storage_.StartServer(id); }

void EngineMonitorStore::StopAll() {
  storage_.StopAll();
  engine::Action::ShutdownWorkers(kActionBound);
  if (reporter_ != nullptr) reporter_->Shutdown(kReportBound);
}

void EngineMonitorStore::SaveAll() { storage_.SaveAll(); }

void EngineMonitorStore::AddLog(const std::string& id, const std::string& text) {
  engine::WriteLogRow(id, 0, text);
}

void EngineMonitorStore::ShutdownDatabase() { db::Database::ShutdownLibrary(); }

}  // namespace app
