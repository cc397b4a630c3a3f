#include "platform/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(ManualResetEventTest, WaitTimesOutUntilSetAndStaysSetUntilReset) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(20ms));
  event.Set();
  EXPECT_TRUE(event.WaitFor(0ms));
  EXPECT_TRUE(event.WaitFor(0ms));  // manual reset: still set
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(1ms));
  EXPECT_TRUE(ManualResetEvent(true).IsSet());
}

TEST(ManualResetEventTest, SetWakesWaitersOnOtherThreads) {
  ManualResetEvent event;
  bool timed = false;
  std::thread timedWaiter([&] { timed = event.WaitFor(60s); });
  std::thread waiter([&] { event.Wait(); });
  std::this_thread::sleep_for(20ms);
  event.Set();
  timedWaiter.join();
  waiter.join();
  EXPECT_TRUE(timed);
}

}  // namespace
}  // namespace platform
