// The pages' entry points that read the live monitor store: the snapshot is taken here,
// under the store's lock (the list), then each monitor's and each action's own lock in
// turn, never two at a time. Every page is then built from the copies.
#include <mutex>
#include <utility>
#include <vector>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/server.h"
#include "engine/monitor/server_data.h"
#include "engine/monitor_directory.h"
#include "engine/report/html_report.h"
#include "engine/services.h"
#include "platform/documents.h"

namespace engine {
namespace {

HtmlMonitorInfo CopyMonitor(const Server& server) {
  HtmlMonitorInfo info;
  std::lock_guard lock(server.Mutex());
  info.id = server.id;
  info.name = server.name;
  info.address = server.address;
  info.running = server.running;
  if (const ServerData* data = server.GetData()) {
    info.available = data->available;
    info.health = data->health;
    info.time = data->time;
    if (const auto* odbc = dynamic_cast<const ODBCDataSourceData*>(data)) {
      info.connectionTime = odbc->connectionTime;
    }
  }
  info.alerts.reserve(server.alerts.size());
  for (const Alert& alert : server.alerts) {
    info.alerts.push_back({alert.id, alert.healthAttributeId, alert.alertType});
  }
  info.attributes.reserve(server.healthAttributes.size());
  for (const HealthAttribute& attribute : server.healthAttributes) {
    info.attributes.push_back({attribute.id, attribute.name});
  }
  return info;
}

HtmlActionInfo CopyAction(const Action& action) {
  const Action copy = action.Snapshot();
  HtmlActionInfo info;
  info.id = copy.id;
  info.name = copy.name;
  info.type = copy.type;
  info.pollsCount = copy.pollsCount;
  info.fromAddress = copy.fromAddress;
  info.toAddress = copy.toAddress;
  info.datasourceName = copy.datasourceName;
  info.sqlQuery = copy.sqlQuery;
  info.path = copy.path;
  info.uiType = copy.uiType;
  return info;
}

bool WriteLockedPage(const std::string& fileName, const std::string& page,
                     std::vector<PageFileWrite>* writes = nullptr) {
  std::lock_guard lock(HtmlPageLock());
  std::string failure;
  const bool written = HtmlReport::WritePage(fileName, page, &failure);
  if (writes != nullptr) {
    writes->push_back({platform::GetDocumentsFolder() + fileName, written, std::move(failure)});
  }
  return written;
}

}  // namespace

HtmlSnapshot HtmlReport::TakeSnapshot() {
  HtmlSnapshot snapshot;
  snapshot.now = Clock::Now();
  const IMonitorDirectory* store = Services::Storage();
  if (store == nullptr) return snapshot;
  for (const std::shared_ptr<Server>& server : store->GetServerList()) {
    if (server) snapshot.monitors.push_back(CopyMonitor(*server));
  }
  for (const std::shared_ptr<Action>& action : store->GetActionList()) {
    if (action) snapshot.actions.push_back(CopyAction(*action));
  }
  return snapshot;
}

void HtmlReport::Update() { WritePages(TakeSnapshot()); }

bool HtmlReport::WritePages(const HtmlSnapshot& snapshot, std::vector<PageFileWrite>* writes) {
  std::string index, actions;
  BuildSnapshotPage(snapshot, index);
  BuildActionsPage(snapshot, actions);
  if (writes != nullptr) writes->clear();
  const bool indexWritten = WriteLockedPage(DataFiles::kIndexPageFileName, index, writes);
  const bool actionsWritten = WriteLockedPage(DataFiles::kActionsPageFileName, actions, writes);
  return indexWritten && actionsWritten;
}

void HtmlReport::WriteIndexPage() {
  std::string page;
  BuildSnapshotPage(page);
  WriteLockedPage(DataFiles::kIndexPageFileName, page);
}

void HtmlReport::WriteActionsPage() {
  std::string page;
  BuildActionsPage(TakeSnapshot(), page);
  WriteLockedPage(DataFiles::kActionsPageFileName, page);
}

void HtmlReport::BuildSnapshotPage(std::string& page) { BuildSnapshotPage(TakeSnapshot(), page); }

void HtmlReport::BuildReportPage(std::string& page) { BuildReportPage(TakeSnapshot(), page); }

}  // namespace engine
