// The new-monitor command's work after its wizard: the monitor, its two default
// user-interface actions and its six default alerts, made through the store's calls for the
// views. User-interface thread (the store's edits come from one thread at a time).
#pragma once

#include <cstdint>
#include <string>

namespace engine {
class IWindowStore;
}

namespace app {

// What the new-monitor wizard collects; every flag starts true.
struct NewMonitorData {
  std::string name, dataSource, userName, password;
  std::int32_t pollingInterval = 15;  // minutes
  bool messageBoxAction = true, balloonAction = true, availabilityError = true, healthError = true,
       connectionTimeError = true, availabilityClear = true, healthClear = true,
       connectionTimeClear = true, startMonitor = true;
};

// Makes the monitor the wizard described: finds (the last matching) or creates the
// "MessageBox Action" / "Popup Balloon Action" (type 4, uiType 0 / 1) when asked, adds the
// monitor, adds the six default alerts whose flag is set and whose action exists, and
// starts it when asked. Returns the new monitor's identifier ("" when it could not be added).
std::string CommitNewMonitor(engine::IWindowStore& storage, const NewMonitorData& data);

}  // namespace app
