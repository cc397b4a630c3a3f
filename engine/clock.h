// The engine's clock: wall time for samples, log rows and alert times, a monotonic time
// for measuring polls, and the timed wait between polls. Everything in the engine reads
// time through Clock, so tests and benchmarks install a FakeClock and run a day of polls
// in milliseconds. Any thread may call; Clock::Set is for start-up and tests only, while
// no engine thread runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace engine {

// A source of time. The system source is the default; FakeClock below is the other one.
class ClockSource {
 public:
  virtual ~ClockSource() = default;

  // Seconds since 1970.
  virtual std::int64_t Now() const = 0;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual std::chrono::milliseconds Monotonic() const = 0;
  // With `lock` held on the mutex that guards `ready`, waits on `cv` until ready() is true
  // or Monotonic() reaches `deadline`. Returns ready(). Whoever makes ready() true
  // notifies `cv` after releasing the mutex.
  virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         std::chrono::milliseconds deadline,
                         const std::function<bool()>& ready) const = 0;
};

class Clock {
 public:
  static std::int64_t Now() { return Source().Now(); }
  static std::chrono::milliseconds Monotonic() { return Source().Monotonic(); }
  static bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                        std::chrono::milliseconds deadline, const std::function<bool()>& ready) {
    return Source().WaitUntil(lock, cv, deadline, ready);
  }

  // Installs a source; nullptr restores the system clock. The source must outlive every
  // engine thread that may read it.
  static void Set(const ClockSource* source);
  static const ClockSource& Source();
  static const ClockSource& System();
};

// A clock for tests and benchmarks. Its time moves only as its mode says:
// - kManual: only through Advance; waits return once Advance has passed their deadline
//   (they look every millisecond of real time).
// - kAutoAdvance: a wait that would block jumps the clock to its deadline at once, so a
//   polling thread runs its polls back to back at their exact nominal times.
// - kScaled: the clock runs `scale` times faster than real time (a minute in 60 ms at
//   1000).
// Advance and SetNow work in every mode. Thread-safe.
class FakeClock : public ClockSource {
 public:
  enum class Mode { kManual, kAutoAdvance, kScaled };

  explicit FakeClock(std::int64_t now = 1'700'000'000, Mode mode = Mode::kManual,
                     double scale = 1.0);

  std::int64_t Now() const override;
  std::chrono::milliseconds Monotonic() const override;
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                 std::chrono::milliseconds deadline,
                 const std::function<bool()>& ready) const override;

  // Moves both times forward.
  void Advance(std::chrono::milliseconds step);
  // Sets the wall time; the monotonic time is left alone.
  void SetNow(std::int64_t now);

 private:
  std::int64_t ElapsedMsLocked() const;
  void AdvanceTo(std::int64_t elapsedMs) const;

  mutable std::mutex mutex_;
  const Mode mode_;
  const double scale_;
  const std::chrono::steady_clock::time_point realStart_;
  mutable std::int64_t offsetMs_ = 0;  // fake time added by Advance and auto-advance
  std::int64_t wallBaseMs_;            // wall time at elapsed 0, in ms
};

// Local midnight that begins the calendar day of t, and the one that ends it (23, 24 or 25
// hours later), in the time zone the process uses now. t itself when the system cannot
// tell.
std::int64_t LocalMidnight(std::int64_t t);
std::int64_t NextLocalMidnight(std::int64_t t);

// Installs a clock for one scope and restores the system clock after it.
class ScopedClock {
 public:
  explicit ScopedClock(const ClockSource* source) { Clock::Set(source); }
  ~ScopedClock() { Clock::Set(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace engine
