#include "engine/db/busy_event.h"

#include <atomic>

namespace db {

namespace {

std::atomic<std::int64_t> retryLimitMs{BusyEvent::kDefaultRetryLimit.count()};

}  // namespace

std::uint64_t BusySignal::Generation() {
  std::lock_guard lock(mutex_);
  return generation_;
}

void BusySignal::Raise() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
  }
  changed_.notify_all();
}

void BusySignal::WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return generation_ != seen; });
}

std::chrono::milliseconds BusyEvent::RetryLimit() {
  return std::chrono::milliseconds(retryLimitMs.load());
}

void BusyEvent::SetRetryLimit(std::chrono::milliseconds limit) {
  retryLimitMs.store(limit.count());
}

BusyEventRegistry& BusyEventRegistry::Instance() {
  static auto* registry = new BusyEventRegistry();
  return *registry;
}

int BusyEventRegistry::GetEvent(BusySignal*& signalOut, const std::string& path) {
  std::lock_guard lock(mutex_);
  // std::map never moves its elements, so the pointer stays valid for good.
  signalOut = &signals_[path];
  return SQLITE_OK;
}

std::size_t BusyEventRegistry::Size() {
  std::lock_guard lock(mutex_);
  return signals_.size();
}

}  // namespace db
