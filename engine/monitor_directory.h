// What engine threads need of the monitor store without depending on it: the monitors and
// actions by value of their shared pointers, and the two steps of an alert's action that
// touch its monitor. The store implements it; Services hands it out. Any thread; no
// call is made while holding a monitor's mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class Action;
class Server;

class IMonitorDirectory {
 public:
  virtual ~IMonitorDirectory() = default;

  // null when no monitor has that identifier (any more).
  virtual std::shared_ptr<Server> GetServerById(const std::string& id) const = 0;
  // Copies of the lists, in store order.
  virtual std::vector<std::shared_ptr<Server>> GetServerList() const = 0;
  virtual std::vector<std::shared_ptr<Action>> GetActionList() const = 0;

  // An alert's action starts executing: the alert's `done` is reset.
  virtual void AlertActionStarted(const std::string& monitorId, const std::string& alertId) = 0;
  // An alert's action has ended with status (0 for success): the alert's `done` and
  // `lastResult` are set and the monitor's last alert time becomes now. False when the
  // monitor is gone; the alert itself may be gone while its monitor is not.
  virtual bool AlertActionDone(const std::string& monitorId, const std::string& alertId,
                               std::uint32_t status) = 0;
};

}  // namespace engine
