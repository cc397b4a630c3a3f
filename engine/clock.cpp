#include "engine/clock.h"

#include <algorithm>
#include <atomic>
#include <ctime>

namespace engine {

namespace {

class SystemClock : public ClockSource {
 public:
  std::int64_t Now() const override { return static_cast<std::int64_t>(std::time(nullptr)); }

  std::chrono::milliseconds Monotonic() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }

  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                 std::chrono::milliseconds deadline,
                 const std::function<bool()>& ready) const override {
    // A deadline beyond what the steady clock can hold (an absurd polling interval from a
    // damaged file) would overflow into the past: wait without one instead.
    constexpr auto kLatest = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::duration::max() / 2);
    if (deadline >= kLatest) {
      cv.wait(lock, ready);
      return true;
    }
    return cv.wait_until(lock, std::chrono::steady_clock::time_point(deadline), ready);
  }
};

// Never destroyed: a polling thread abandoned at exit may still read the time.
const SystemClock& systemClock = *new SystemClock;
std::atomic<const ClockSource*> installed{nullptr};

// Midnight of the calendar day `days` after the day of t.
std::int64_t MidnightAfter(std::int64_t t, int days) {
  const std::time_t time = static_cast<std::time_t>(t);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return t;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_mday += days;
  local.tm_isdst = -1;  // the system decides whether summer time applies at that midnight
  const std::time_t midnight = std::mktime(&local);
  return midnight == static_cast<std::time_t>(-1) ? t : static_cast<std::int64_t>(midnight);
}

}  // namespace

std::int64_t LocalMidnight(std::int64_t t) { return MidnightAfter(t, 0); }

std::int64_t NextLocalMidnight(std::int64_t t) { return MidnightAfter(t, 1); }

void Clock::Set(const ClockSource* source) { installed.store(source, std::memory_order_release); }

const ClockSource& Clock::Source() {
  const ClockSource* source = installed.load(std::memory_order_acquire);
  return source != nullptr ? *source : systemClock;
}

const ClockSource& Clock::System() { return systemClock; }

FakeClock::FakeClock(std::int64_t now, Mode mode, double scale)
    : mode_(mode),
      scale_(mode == Mode::kScaled ? std::max(scale, 0.0) : 0.0),
      realStart_(std::chrono::steady_clock::now()),
      wallBaseMs_(now * 1000) {}

std::int64_t FakeClock::ElapsedMsLocked() const {
  std::int64_t elapsed = offsetMs_;
  if (scale_ > 0) {
    const double real =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - realStart_)
            .count();
    elapsed += static_cast<std::int64_t>(real * scale_);
  }
  return elapsed;
}

std::int64_t FakeClock::Now() const {
  std::lock_guard lock(mutex_);
  const std::int64_t ms = wallBaseMs_ + ElapsedMsLocked();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

std::chrono::milliseconds FakeClock::Monotonic() const {
  std::lock_guard lock(mutex_);
  return std::chrono::milliseconds(ElapsedMsLocked());
}

void FakeClock::Advance(std::chrono::milliseconds step) {
  if (step.count() <= 0) return;
  std::lock_guard lock(mutex_);
  offsetMs_ += step.count();
}

void FakeClock::SetNow(std::int64_t now) {
  std::lock_guard lock(mutex_);
  wallBaseMs_ = now * 1000 - ElapsedMsLocked();
}

void FakeClock::AdvanceTo(std::int64_t elapsedMs) const {
  std::lock_guard lock(mutex_);
  const std::int64_t current = ElapsedMsLocked();
  if (elapsedMs > current) offsetMs_ += elapsedMs - current;
}

bool FakeClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          std::chrono::milliseconds deadline,
                          const std::function<bool()>& ready) const {
  for (;;) {
    if (ready()) return true;
    const std::int64_t now = Monotonic().count();
    if (now >= deadline.count()) return false;
    switch (mode_) {
      case Mode::kAutoAdvance:
        AdvanceTo(deadline.count());
        break;
      case Mode::kScaled: {
        if (scale_ <= 0) {
          cv.wait_for(lock, std::chrono::milliseconds(1));
          break;
        }
        const auto real = std::chrono::duration<double, std::milli>(
            static_cast<double>(deadline.count() - now) / scale_);
        cv.wait_for(lock, std::max(std::chrono::duration_cast<std::chrono::microseconds>(real),
                                   std::chrono::microseconds(50)));
        break;
      }
      case Mode::kManual:
        cv.wait_for(lock, std::chrono::milliseconds(1));
        break;
    }
  }
}

}  // namespace engine
