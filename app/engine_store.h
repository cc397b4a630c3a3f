// Start-up and exit's view of the engine: the monitor store, the action workers and the
// e-mail report, behind the IMonitorStore seam. UI thread only.
#pragma once

#include "app/app_lifecycle.h"

namespace engine {
class EMailReporter;
class ServerStorage;
}  // namespace engine

namespace app {

class EngineMonitorStore : public IMonitorStore {
 public:
  // Both must outlive this object; reporter may be null.
  EngineMonitorStore(engine::ServerStorage& storage, engine::EMailReporter* reporter);

  void InitializeDatabase() override;
  std::optional<FileProblem> LoadAll() override;
  std::vector<MonitorState> Monitors() const override;
  void StartMonitor(const std::string& id) override;
  // Lowers the time a database call retries while another connection holds a lock, and
  // the time a stop waits for a polling thread, to fit the exit's bound.
  void LimitWaits() override;
  // Asks every monitor to stop and waits (for kExitBusyLimit at most) for the saves'
  // worker, then for the stops and the deletions' helpers, then ends the action executions
  // and the e-mail report (cancelled, waited for, then abandoned), all against the one
  // deadline, so that no engine thread touches the store or the files afterwards.
  bool StopAll(Deadline deadline) override;
  // Nothing is written (and nothing reported) while the configuration file is refused and
  // the store holds nothing to save.
  std::optional<FileProblem> SaveAll(std::chrono::milliseconds busyLimit) override;
  void ExitCancelled() override;
  std::vector<MonitorState> UnfinishedDeletions() const override;
  bool HasUnsavedEdits() const override;
  void DropUnsavedEdits() override;
  void AddLog(const std::string& id, const std::string& text) override;
  std::size_t FlushLog(Deadline deadline) override;
  // Leaves SQLite running while any connection of this process is still open.
  void ShutdownDatabase() override;

 private:
  engine::ServerStorage& storage_;
  engine::EMailReporter* reporter_;
};

}  // namespace app
