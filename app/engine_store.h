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
  void LoadAll() override;
  std::vector<MonitorState> Monitors() const override;
  void StartMonitor(const std::string& id) override;
  // Stops every monitor against one deadline, then ends the action executions and the
  // e-mail report (cancelled, waited for with a bound, then abandoned), so that no engine
  // thread touches the store or the files afterwards.
  void StopAll() override;
  void SaveAll() override;
  void AddLog(const std::string& id, const std::string& text) override;
  // Leaves SQLite running while any connection of this process is still open.
  void ShutdownDatabase() override;

 private:
  engine::ServerStorage& storage_;
  engine::EMailReporter* reporter_;
};

}  // namespace app
