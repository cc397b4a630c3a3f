// Pacing of SQLite's "database is busy" answers. Connections never set a busy timeout;
// instead a call that meets SQLITE_BUSY waits up to 10 ms on a signal kept per database
// file and is tried again, and every finished call raises that signal, so a waiter goes
// on as soon as another connection to the same file has made progress. The retries give
// up after a time limit (60 s unless changed), so a thread that blocks itself (an open
// read cursor while it writes the same file) gets SQLITE_BUSY instead of hanging.
// Any thread may use these classes.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace db {

// The per-file signal. Raising it wakes every waiter; a waiter captures the generation
// before the call that failed, so a raise between that call and the wait is never lost.
class BusySignal {
 public:
  std::uint64_t Generation();
  void Raise();
  // Waits until the generation differs from `seen` or the timeout passes.
  void WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t generation_ = 0;
};

// A connection's handle on its file's signal. Copies are cheap and never dangle: the
// signals live in the registry for the life of the process. A default-made BusyEvent has
// no signal and must not be used for calls.
class BusyEvent {
 public:
  BusyEvent() = default;
  explicit BusyEvent(BusySignal* signal) : signal_(signal) {}

  bool IsValid() const { return signal_ != nullptr; }
  // This handle's own retry limit in place of the process-wide one; copies keep it.
  void LimitRetries(std::chrono::milliseconds limit) { limit_ = limit; }

  // Calls f(args...) (a SQLite function returning a result code); while it answers
  // SQLITE_BUSY, waits up to 10 ms for the file's signal and calls it again, until the
  // retry limit (this handle's, else the process-wide one) has passed. Raises the signal
  // afterwards, whatever the result.
  template <typename F, typename... Args>
  int CallWithRetry(F&& f, Args&&... args) {
    const auto deadline =
        std::chrono::steady_clock::now() + (limit_.count() >= 0 ? limit_ : RetryLimit());
    std::uint64_t seen = signal_->Generation();
    int rc = f(args...);
    while (rc == SQLITE_BUSY && std::chrono::steady_clock::now() < deadline) {
      signal_->WaitForChange(seen, kWaitRound);
      seen = signal_->Generation();
      rc = f(args...);
    }
    signal_->Raise();
    return rc;
  }

  // Wakes the waiters of the file, as CallWithRetry does after its call.
  void Raise() { signal_->Raise(); }

  // How long CallWithRetry keeps retrying a busy answer (process-wide; tests lower it).
  static std::chrono::milliseconds RetryLimit();
  static void SetRetryLimit(std::chrono::milliseconds limit);

  static constexpr std::chrono::milliseconds kWaitRound{10};
  static constexpr std::chrono::milliseconds kDefaultRetryLimit{60000};

 private:
  BusySignal* signal_ = nullptr;
  std::chrono::milliseconds limit_{-1};  // negative: the process-wide limit
};

// One signal per distinct path (compared as given, byte for byte) for the life of the
// process. The registry is never destroyed, so threads still running at exit cannot meet
// a destroyed one.
class BusyEventRegistry {
 public:
  static BusyEventRegistry& Instance();

  // The signal of that path, made on first request. Returns 0.
  int GetEvent(BusySignal*& signalOut, const std::string& path);
  // Number of paths that have a signal.
  std::size_t Size();

 private:
  BusyEventRegistry() = default;

  std::mutex mutex_;
  std::map<std::string, BusySignal> signals_;
};

}  // namespace db
