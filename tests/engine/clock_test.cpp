#include "engine/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace engine {
namespace {

using namespace std::chrono_literals;

TEST(ClockTest, SystemClockIsInstalledByDefaultAndRestoredByScopedClock) {
  FakeClock fake(1234);
  {
    ScopedClock scoped(&fake);
    EXPECT_EQ(Clock::Now(), 1234);
  }
  EXPECT_GT(Clock::Now(), 1'600'000'000);
  EXPECT_EQ(&Clock::Source(), &Clock::System());
}

TEST(ClockTest, ManualClockMovesOnlyWhenAdvanced) {
  FakeClock clock(1000);
  EXPECT_EQ(clock.Monotonic(), 0ms);
  clock.Advance(1500ms);
  EXPECT_EQ(clock.Monotonic(), 1500ms);
  EXPECT_EQ(clock.Now(), 1001);
  clock.SetNow(5000);
  EXPECT_EQ(clock.Now(), 5000);
  EXPECT_EQ(clock.Monotonic(), 1500ms);
  clock.Advance(-5ms);  // never backwards
  EXPECT_EQ(clock.Monotonic(), 1500ms);
}

TEST(ClockTest, ManualWaitReturnsAfterAdvanceOrWhenReady) {
  FakeClock clock;
  std::mutex mutex;
  std::condition_variable cv;
  bool ready = false;
  std::thread advancer([&] {
    std::this_thread::sleep_for(5ms);
    clock.Advance(10s);
  });
  {
    std::unique_lock lock(mutex);
    EXPECT_FALSE(clock.WaitUntil(lock, cv, 10s, [&] { return ready; }));
  }
  advancer.join();

  std::thread setter([&] {
    std::this_thread::sleep_for(5ms);
    {
      std::lock_guard lock(mutex);
      ready = true;
    }
    cv.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(clock.WaitUntil(lock, cv, 1h, [&] { return ready; }));
  }
  setter.join();
}

TEST(ClockTest, AutoAdvanceJumpsToTheDeadline) {
  FakeClock clock(0, FakeClock::Mode::kAutoAdvance);
  std::mutex mutex;
  std::condition_variable cv;
  std::unique_lock lock(mutex);
  EXPECT_FALSE(clock.WaitUntil(lock, cv, 60s, [] { return false; }));
  EXPECT_EQ(clock.Monotonic(), 60s);
  EXPECT_EQ(clock.Now(), 60);
  // A deadline in the past does not move the clock.
  EXPECT_FALSE(clock.WaitUntil(lock, cv, 1s, [] { return false; }));
  EXPECT_EQ(clock.Monotonic(), 60s);
}

TEST(ClockTest, ScaledClockRunsFaster) {
  FakeClock clock(0, FakeClock::Mode::kScaled, 1000);
  std::mutex mutex;
  std::condition_variable cv;
  const auto realStart = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex);
  EXPECT_FALSE(clock.WaitUntil(lock, cv, clock.Monotonic() + 20s, [] { return false; }));
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, 5s);
  EXPECT_GE(clock.Monotonic(), 20s);
}

}  // namespace
}  // namespace engine
