// The process-wide services that monitors, alerts and actions reach from their threads:
// the user interface, the user's settings and the monitor store (as its directory). The application
// sets them at start-up before any monitor starts and clears them after the last engine thread has
// ended; tests set fakes. Reading them is safe from any thread.
#pragma once

#include <atomic>

namespace engine {

class IUserInterface;
class ISettingsSource;
class IMonitorDirectory;

class Services {
 public:
  static IUserInterface* Ui() { return ui_.load(std::memory_order_acquire); }
  static const ISettingsSource* Settings() { return settings_.load(std::memory_order_acquire); }
  static IMonitorDirectory* Storage() { return storage_.load(std::memory_order_acquire); }

  static void SetUi(IUserInterface* ui) { ui_.store(ui, std::memory_order_release); }
  static void SetSettings(const ISettingsSource* settings) {
    settings_.store(settings, std::memory_order_release);
  }
  static void SetStorage(IMonitorDirectory* storage) {
    storage_.store(storage, std::memory_order_release);
  }

 private:
  static inline std::atomic<IUserInterface*> ui_{nullptr};
  static inline std::atomic<const ISettingsSource*> settings_{nullptr};
  static inline std::atomic<IMonitorDirectory*> storage_{nullptr};
};

}  // namespace engine
