// A manual-reset event: once set it stays set, waking every waiter, until it is reset.
// Used as the stop signal of polling threads and wherever a thread waits with a time-out.
// Every member is thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event is (or becomes) set within the time-out, false when it timed out.
  bool WaitFor(std::chrono::milliseconds timeout);
  void Wait();

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_;
};

}  // namespace platform
