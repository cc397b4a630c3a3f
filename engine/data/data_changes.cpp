#include "engine/data/data_changes.h"

#include <mutex>
#include <unordered_map>

namespace engine {
namespace {

struct Generations {
  std::mutex mutex;
  std::unordered_map<std::string, std::uint64_t> byMonitor;
};

// Never destroyed: a worker abandoned at exit may still note a deletion.
Generations& GetGenerations() {
  static auto* generations = new Generations;
  return *generations;
}

}  // namespace

void NoteMonitorDataDeleted(const std::string& monitorId) {
  Generations& g = GetGenerations();
  std::lock_guard lock(g.mutex);
  ++g.byMonitor[monitorId];
}

std::uint64_t MonitorDataGeneration(const std::string& monitorId) {
  Generations& g = GetGenerations();
  std::lock_guard lock(g.mutex);
  const auto it = g.byMonitor.find(monitorId);
  return it == g.byMonitor.end() ? 0 : it->second;
}

}  // namespace engine
