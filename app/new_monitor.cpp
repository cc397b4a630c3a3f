#include "app/new_monitor.h"

#include <optional>

#include "engine/actions/action_values.h"
#include "engine/monitor/alert.h"
#include "engine/store/monitor_snapshot.h"
#include "engine/store/window_store.h"
#include "res/strings.h"

namespace app {
namespace {

constexpr unsigned kAvailabilityName = 3000;    // "Monitor Availability"
constexpr unsigned kHealthName = 3002;          // "Monitor Health"
constexpr unsigned kConnectionTimeName = 3004;  // "Connection Time (ms.)"
constexpr std::int32_t kLess = 0;               // "<"
constexpr std::int32_t kGreaterOrEqual = 4;     // ">="

enum class DefaultAction { kMessageBox, kBalloon };

struct DefaultAlert {
  bool NewMonitorData::*flag;
  unsigned attributeName;
  DefaultAction action;
  std::int64_t threshold;
  std::int32_t condition;
  std::int32_t alertType;
};

// In the order the alerts are added.
constexpr DefaultAlert kDefaultAlerts[] = {
    {&NewMonitorData::availabilityClear, kAvailabilityName, DefaultAction::kBalloon, 0, kLess,
     engine::Alert::kClear},
    {&NewMonitorData::availabilityError, kAvailabilityName, DefaultAction::kMessageBox, 0, kLess,
     engine::Alert::kError},
    {&NewMonitorData::connectionTimeClear, kConnectionTimeName, DefaultAction::kBalloon, 1000,
     kLess, engine::Alert::kClear},
    {&NewMonitorData::connectionTimeError, kConnectionTimeName, DefaultAction::kBalloon, 1000,
     kGreaterOrEqual, engine::Alert::kError},
    {&NewMonitorData::healthClear, kHealthName, DefaultAction::kBalloon, 0, kLess,
     engine::Alert::kClear},
    {&NewMonitorData::healthError, kHealthName, DefaultAction::kMessageBox, 0, kLess,
     engine::Alert::kError},
};

// The last user-interface action of that kind in the store, or a new one with that name.
std::string FindOrAddUiAction(engine::IWindowStore& storage, std::int32_t uiType,
                              const char* name) {
  std::string found;
  for (const engine::ActionSnapshot& action : storage.GetActionSnapshots()) {
    if (action.settings.type == engine::kActionUserInterface && action.settings.uiType == uiType) {
      found = action.id;
    }
  }
  if (!found.empty()) return found;
  engine::ActionSettings settings;
  settings.name = name;
  settings.type = engine::kActionUserInterface;
  settings.uiType = uiType;
  return storage.AddAction(settings);
}

// The built-in attribute with that name, "" when the monitor has none.
std::string BuiltInAttribute(const engine::MonitorSnapshot& monitor, unsigned nameId) {
  const char* name = res::FindString(nameId);
  if (name == nullptr) return {};
  for (const engine::AttributeSnapshot& attribute : monitor.attributes) {
    if (attribute.testQueryId.empty() && attribute.name == name) return attribute.id;
  }
  return {};
}

}  // namespace

std::string CommitNewMonitor(engine::IWindowStore& storage, const NewMonitorData& data) {
  std::string messageBoxId, balloonId;
  if (data.messageBoxAction)
    messageBoxId = FindOrAddUiAction(storage, engine::kUiActionMessageBox, "MessageBox Action");
  if (data.balloonAction)
    balloonId = FindOrAddUiAction(storage, engine::kUiActionBalloon, "Popup Balloon Action");

  engine::MonitorSettings settings;
  settings.name = data.name;
  settings.address = data.dataSource;
  settings.username = data.userName;
  settings.password = data.password;
  settings.pollingInterval = data.pollingInterval;
  const std::string id = storage.AddMonitor(settings);
  const std::optional<engine::MonitorSnapshot> monitor = storage.GetMonitorSnapshot(id);
  if (!monitor) return {};

  for (const DefaultAlert& alert : kDefaultAlerts) {
    const std::string& actionId =
        alert.action == DefaultAction::kMessageBox ? messageBoxId : balloonId;
    if (!(data.*alert.flag) || actionId.empty()) continue;
    const std::string attributeId = BuiltInAttribute(*monitor, alert.attributeName);
    if (attributeId.empty()) continue;
    storage.AddAlert(id, engine::AlertSettings{actionId, attributeId, alert.threshold,
                                               alert.condition, alert.alertType});
  }

  if (data.startMonitor) storage.StartServer(id);
  return id;
}

}  // namespace app
