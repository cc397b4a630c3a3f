// The page writer: requests that arrive during a build give exactly one more build, from
// the newest snapshot, and builds never overlap; the user interface hears of written
// pages only; a build still running at shutdown is abandoned without reaching the user
// interface; a page file that cannot be written is told once in every monitor's log, and
// once more when it is written again. html_store_test has the writer with the real build.
#include "engine/report/page_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/monitor/odbc_data_source.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "platform/documents.h"
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

// A build's outcome for the one page file of the fake builds.
PageWrites Wrote(bool written) {
  return {{"/pages/index.html", written, written ? "" : "No space left on device"}};
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
      return Wrote(c.written);
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
      return Wrote(true);
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

TEST(PageFileStatusTest, EachFileIsToldWhenItBeginsToFailAndWhenItIsWrittenAgain) {
  const std::string index = "/d/index.html", actions = "/d/actions.html";
  const auto ok = [](const std::string& path) { return PageFileWrite{path, true, ""}; };
  const auto refused = [](const std::string& path, const char* why) {
    return PageFileWrite{path, false, why};
  };
  const struct {
    const char* name;
    std::vector<PageWrites> builds;
    std::vector<std::string> told;
  } cases[] = {
      {"always written", {{ok(index), ok(actions)}, {ok(index), ok(actions)}}, {}},
      {"one file fails for three builds, then is written twice",
       {{refused(index, "Is a directory"), ok(actions)},
        {refused(index, "Is a directory"), ok(actions)},
        {refused(index, "No space left on device"), ok(actions)},
        {ok(index), ok(actions)},
        {ok(index), ok(actions)}},
       {PageFailureText(index, "Is a directory"), PageRecoveredText(index)}},
      {"both fail, one recovers first",
       {{refused(index, "Permission denied"), refused(actions, "Permission denied")},
        {ok(index), refused(actions, "Permission denied")},
        {ok(index), ok(actions)}},
       {PageFailureText(index, "Permission denied"), PageFailureText(actions, "Permission denied"),
        PageRecoveredText(index), PageRecoveredText(actions)}},
      {"fails again after recovering",
       {{refused(actions, "Read-only file system")},
        {ok(actions)},
        {refused(actions, "Read-only file system")}},
       {PageFailureText(actions, "Read-only file system"), PageRecoveredText(actions),
        PageFailureText(actions, "Read-only file system")}},
      {"a build that tried nothing changes nothing",
       {{refused(index, "Is a directory")}, {}, {refused(index, "Is a directory")}},
       {PageFailureText(index, "Is a directory")}},
  };
  for (const auto& c : cases) {
    PageFileStatus status;
    std::vector<std::string> told;
    for (const PageWrites& build : c.builds) {
      for (std::string& text : status.Note(build)) told.push_back(std::move(text));
    }
    EXPECT_EQ(told, c.told) << c.name;
  }
}

// The real build over a store of two monitors and a data folder of the test's own, whose
// page files are refused by a folder in their place and then free again.
class PageFileFailureTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    for (int i = 0; i < 2; ++i) monitors_.push_back(store_.AddNewODBCDataSource()->id);
    Services::SetStorage(&store_);
  }
  static testing::Rows LogOf(const std::string& id) {
    return testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + id + "' ORDER BY rowid");
  }

  ServerStorage store_;
  std::vector<std::string> monitors_;
};

TEST_F(PageFileFailureTest, AnUnwritablePageIsToldOnceInEveryMonitorsLogAndOnceWhenWrittenAgain) {
  const std::string folder = platform::GetDocumentsFolder();
  const struct {
    const char* name;
    std::vector<std::string> refused;  // page files with a folder in their place
  } cases[] = {
      {"the overview page", {"index.html"}},
      {"both pages", {"index.html", "actions.html"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ExecData("DELETE FROM Log");
    PageWriter writer;
    const auto build = [&] {
      writer.Request();
      ASSERT_TRUE(writer.WaitUntilIdle(kGenerous));
    };
    const std::size_t pagesAtStart = ui_.EventsOf("pages").size();
    build();  // written: nothing to tell
    const std::size_t pagesBefore = ui_.EventsOf("pages").size();
    ASSERT_EQ(pagesBefore, pagesAtStart + 1);
    for (const std::string& page : c.refused) {
      std::filesystem::remove(folder + page);
      std::filesystem::create_directories(folder + page + "/keep");
    }
    for (int i = 0; i < 3; ++i) build();
    // The pages are not news while one is refused.
    EXPECT_EQ(ui_.EventsOf("pages").size(), pagesBefore);
    for (const std::string& page : c.refused) std::filesystem::remove_all(folder + page);
    for (int i = 0; i < 2; ++i) build();
    EXPECT_EQ(ui_.EventsOf("pages").size(), pagesBefore + 2);

    testing::Rows expected;
    for (const std::string& page : c.refused) {
      expected.push_back({PageFailureText(folder + page, "Is a directory")});
    }
    for (const std::string& page : c.refused)
      expected.push_back({PageRecoveredText(folder + page)});
    for (const std::string& id : monitors_) EXPECT_EQ(LogOf(id), expected);
    ASSERT_TRUE(writer.Shutdown(kGenerous));
  }
}

}  // namespace
}  // namespace engine
