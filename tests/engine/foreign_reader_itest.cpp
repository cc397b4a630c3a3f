// Another program reading the two files while monitors poll (the sqlite3 shell, a backup
// script, a database browser): it opens, reads and closes them over and over, and the
// program's own connections must keep their locks throughout. Were a descriptor of ours
// closed behind SQLite's back, the reader would take itself for the file's last user and
// delete the write-ahead log under the running polls.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

extern char** environ;

namespace engine {
namespace {

using namespace std::chrono_literals;

// Opens, reads and closes each file `rounds` times in a process of its own; its exit
// status tells whether every read succeeded.
constexpr const char* kReader = R"(
import sqlite3, sys
rounds = int(sys.argv[1])
for i in range(rounds):
    for path, table in ((sys.argv[2], 'ODBCDataSourcesData'), (sys.argv[3], 'ODBCDataSources')):
        connection = sqlite3.connect(path, timeout=30)
        connection.execute('SELECT count(*) FROM ' + table).fetchone()
        connection.close()
)";

int RunReader(int rounds, const std::string& dataPath, const std::string& configPath) {
  std::vector<std::string> args = {"/usr/bin/python3",     "-c",     kReader,
                                   std::to_string(rounds), dataPath, configPath};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string QuickCheck(const char* fileName) {
  const testing::Rows rows = testing::ReadRows(fileName, "PRAGMA integrity_check");
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

class ForeignReaderTest : public testing::MonitorTest {
 protected:
  void TearDown() override {
    MonitorTest::TearDown();
    Clock::Set(nullptr);
  }
};

TEST_F(ForeignReaderTest, ReadsByAnotherProgramLeaveTheFilesWholeAndEveryPollStored) {
  ASSERT_TRUE(Exists("/usr/bin/python3"));
  FakeClock clock(1'700'000'000, FakeClock::Mode::kScaled, 6000);  // a minute in 10 ms
  Clock::Set(&clock);
  const std::string folder = DataFiles::DataFolder();
  const std::string dataPath = folder + DataFiles::kDataFileName;
  const std::string configPath = folder + DataFiles::kConfigFileName;

  ServerStorage store;
  std::vector<std::shared_ptr<ODBCDataSource>> monitors;
  for (int i = 0; i < 4; ++i) {
    auto monitor = store.AddNewODBCDataSource();
    monitor->SetOdbc(std::make_shared<testing::FakeOdbc>(&clock));
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->pollingInterval = 1;
      monitor->AddTestQuery().query = "q";
    }
    ASSERT_EQ(monitor->Start(), 0u);
    monitors.push_back(std::move(monitor));
  }
  ASSERT_TRUE(ui_.WaitForUpdates(monitors.size()));
  ASSERT_TRUE(Exists(dataPath + "-wal"));

  // The log is watched from the first poll on: while the program holds the file, only
  // SQLite may remove it.
  std::atomic<bool> done{false};
  std::atomic<int> walGone{0};
  std::thread watcher([&] {
    while (!done.load()) {
      if (!Exists(dataPath + "-wal")) ++walGone;
      std::this_thread::sleep_for(1ms);
    }
  });
  const int readerStatus = RunReader(150, dataPath, configPath);
  done = true;
  watcher.join();

  for (auto& monitor : monitors) {
    monitor->Stop();
    ASSERT_TRUE(monitor->WaitForStop(std::chrono::steady_clock::now() + 20s));
  }
  EXPECT_EQ(readerStatus, 0);
  EXPECT_EQ(walGone.load(), 0);
  EXPECT_EQ(ui_.EventsOf("error: "), std::vector<std::string>{});
  EXPECT_EQ(QuickCheck(DataFiles::kDataFileName), "ok");
  EXPECT_EQ(QuickCheck(DataFiles::kConfigFileName), "ok");
  // Each monitor's newest poll reached the file (an unchanged sample extends its row, so
  // the newest row carries the newest poll's time).
  for (auto& monitor : monitors) {
    std::int64_t lastPoll = 0;
    {
      std::lock_guard lock(monitor->Mutex());
      lastPoll = monitor->current.time;
    }
    EXPECT_EQ(testing::DataRows("SELECT max(CAST(time AS INTEGER)) FROM ODBCDataSourcesData "
                                "WHERE monitorId = '" +
                                monitor->id + "'"),
              (testing::Rows{{std::to_string(lastPoll)}}));
  }
}

}  // namespace
}  // namespace engine
