// The page writer: requests that arrive during a build give exactly one more build, from
// the newest snapshot, and builds never overlap; the user interface hears of written
// pages only; a build still running at shutdown is abandoned without reaching the user
// interface. html_store_test has the writer with the real build.
#include "engine/report/page_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/services.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kGenerous{30'000};  // never reached unless the writer hangs

// Holds a build until the test opens it.
struct Gate {
  void Enter() {
    entered.fetch_add(1);
    entered.notify_all();
    opened.wait();
  }
  void WaitEntered() {
    while (entered.load() == 0) entered.wait(0);
  }

  std::atomic<int> entered{0};
  std::promise<void> open;
  std::shared_future<void> opened = open.get_future().share();
};

HtmlSnapshot At(std::int64_t now) {
  HtmlSnapshot snapshot;
  snapshot.now = now;
  return snapshot;
}

class PageWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { Services::SetUi(&ui_); }
  void TearDown() override { Services::SetUi(nullptr); }

  testing::FakeUi ui_;
};

TEST_F(PageWriterTest, RequestsDuringABuildGiveOneMoreBuildFromTheNewestSnapshot) {
  const struct {
    const char* name;
    int requestsDuringBuild;
    bool written;  // what the build reports
    std::vector<std::int64_t> built;
  } cases[] = {
      {"none", 0, true, {1}},
      {"one", 1, true, {1, 2}},
      {"fifty", 50, true, {1, 51}},
      {"fifty, pages not written", 50, false, {1, 51}},
  };
  for (const auto& c : cases) {
    Gate gate;
    std::mutex mutex;
    std::vector<std::int64_t> built;
    std::atomic<int> running{0}, mostRunning{0};
    PageWriter writer([&](const HtmlSnapshot& snapshot) {
      const int now = ++running;
      if (now > mostRunning) mostRunning = now;
      {
        std::lock_guard lock(mutex);
        built.push_back(snapshot.now);
      }
      if (snapshot.now == 1) gate.Enter();
      --running;
      return c.written;
    });
    const std::size_t pagesBefore = ui_.Events().size();
    writer.Request(At(1));
    gate.WaitEntered();
    for (int i = 0; i < c.requestsDuringBuild; ++i) writer.Request(At(2 + i));
    gate.open.set_value();
    ASSERT_TRUE(writer.WaitUntilIdle(kGenerous)) << c.name;
    EXPECT_EQ(writer.Builds(), c.built.size()) << c.name;
    {
      std::lock_guard lock(mutex);
      EXPECT_EQ(built, c.built) << c.name;
    }
    EXPECT_EQ(mostRunning, 1) << c.name;
    EXPECT_EQ(ui_.Events().size() - pagesBefore, c.written ? c.built.size() : 0) << c.name;
    EXPECT_TRUE(writer.Shutdown(kGenerous)) << c.name;
  }
}

TEST_F(PageWriterTest, ABuildRunningAtShutdownIsAbandonedAndTellsNobody) {
  auto gate = std::make_shared<Gate>();
  // Owned by the build only: it expires when the abandoned thread lets go of its state.
  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = token;
  std::atomic<int> builds{0};
  {
    PageWriter writer([gate, token, &builds](const HtmlSnapshot&) {
      ++builds;
      gate->Enter();
      return true;
    });
    token.reset();
    writer.Request(At(1));
    gate->WaitEntered();
    writer.Request(At(2));  // dropped at shutdown
    EXPECT_FALSE(writer.Shutdown(milliseconds(20)));
    writer.Request(At(3));  // too late
  }
  gate->open.set_value();
  while (!watch.expired()) std::this_thread::yield();
  EXPECT_EQ(builds, 1);
  EXPECT_TRUE(ui_.Events().empty());
}

}  // namespace
}  // namespace engine
