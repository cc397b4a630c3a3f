// A monitor's own rows: today's uptime from the data file, the log (its order and times
// while the file is held, giving up at exit, a clearing another program refuses), deleting a test
// query with everything that hangs on it, and attribute display names.
#include "engine/monitor/server.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>
#include <vector>

#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/db/busy_event.h"
#include "engine/monitor/odbc_data_source.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/foreign_lock.h"

namespace engine {
namespace {

using testing::ConfigRows;
using testing::DataRows;
using testing::LocalTime;

class ServerTest : public testing::MonitorTest {
 protected:
  void TearDown() override {
    Clock::Set(nullptr);
    MonitorTest::TearDown();
  }
  void SetNow(std::int64_t now) {
    clock_ = std::make_unique<FakeClock>(now);
    Clock::Set(clock_.get());
  }
  static void AddSample(const std::string& monitorId, std::int64_t time, bool available) {
    testing::ExecData("INSERT INTO ODBCDataSourcesData VALUES ('" + monitorId + "', '" +
                      std::to_string(time) + "', '" + (available ? "1" : "0") +
                      "', '0', '0', '', '1', '1')");
  }

  std::unique_ptr<FakeClock> clock_;
};

TEST_F(ServerTest, TodayUptime) {
  struct Row {
    std::int64_t time;
    bool available;
  };
  struct Case {
    const char* name;
    std::int64_t now;
    std::vector<Row> rows;  // inserted in this order
    std::int64_t up;
    std::int64_t down;
    bool olderRows = true;  // the monitor has a row 40 days back
  };
  const std::int64_t day = LocalTime(2024, 3, 5, 0, 0);
  const std::int64_t at2322 = day + (23 * 60 + 22) * 60;
  const std::int64_t autumn = LocalTime(2024, 10, 27, 0, 0);  // 00:00 BST, 25 hours long
  const Case cases[] = {
      {"no rows", day + 43200, {}, 0, 0},
      {"up down up",
       day + 43200,
       {{day + 600, true}, {day + 1800, false}, {day + 3600, true}},
       2400,
       1200},
      {"rows before midnight are ignored",
       day + 43200,
       {{day - 600, false}, {day + 600, true}},
       600,
       0},
      {"a row on midnight belongs to yesterday; the next span begins at midnight",
       day + 43200,
       {{day, false}, {day + 600, true}},
       600,
       0},
      {"rows sharing a time count once",
       day + 43200,
       {{day + 600, false}, {day + 600, true}, {day + 1200, true}},
       600,
       600},
      {"rows after now (a clock set back) are ignored",
       day + 43200,
       {{day + 600, true}, {day + 1800, false}, {day + 43200 + 600, true}},
       600,
       1200},
      {"rows out of time order",
       day + 43200,
       {{day + 3600, true}, {day + 600, true}, {day + 1800, false}},
       2400,
       1200},
      {"spring forward: 03:00 is two hours after midnight",
       LocalTime(2024, 3, 31, 12, 0),
       {{LocalTime(2024, 3, 31, 3, 0), true}, {LocalTime(2024, 3, 31, 4, 0), false}},
       7200,
       3600},
      {"fall back: the repeated hour counts twice",
       autumn + 12 * 3600,
       {{autumn + 5400, true}, {autumn + 9000, false}, {autumn + 10800, true}},
       7200,
       3600},
      // Started at 23:22: nothing counts before the first sample.
      {"first row at 23:22, up",
       at2322 + 180,
       {{at2322, true}, {at2322 + 120, false}},
       0,
       120,
       false},
      {"first row at 23:22, down",
       at2322 + 180,
       {{at2322, false}, {at2322 + 120, true}},
       120,
       0,
       false},
      {"the same rows after older ones",
       at2322 + 180,
       {{at2322, true}, {at2322 + 120, false}},
       at2322 - day,
       120},
  };
  for (const Case& c : cases) {
    SetNow(c.now);
    ODBCDataSource monitor;
    ODBCDataSource other;
    if (c.olderRows) AddSample(monitor.id, day - 40 * 86400, false);
    for (const Row& row : c.rows) AddSample(monitor.id, row.time, row.available);
    AddSample(other.id, c.now - 60, false);
    {
      std::lock_guard lock(monitor.Mutex());
      monitor.todayUptime = 99;
      monitor.todayDowntime = 99;
    }
    monitor.UpdateTodayUptime();
    std::lock_guard lock(monitor.Mutex());
    EXPECT_EQ(monitor.todayUptime, c.up) << c.name;
    EXPECT_EQ(monitor.todayDowntime, c.down) << c.name;
  }
}

TEST_F(ServerTest, LogLinesAreSanitisedAndClearedPerMonitor) {
  SetNow(1'700'000'123);
  ODBCDataSource monitor;
  ODBCDataSource other;
  monitor.AddLog("it's\na bell\a", 1);
  other.AddLog("kept", 0);
  EXPECT_EQ(DataRows("SELECT time, type, text FROM Log WHERE monitorId = '" + monitor.id + "'"),
            (testing::Rows{{"1700000123", "1", "it s a bell "}}));
  monitor.ClearLog();
  EXPECT_TRUE(DataRows("SELECT * FROM Log WHERE monitorId = '" + monitor.id + "'").empty());
  EXPECT_EQ(DataRows("SELECT text FROM Log WHERE monitorId = '" + other.id + "'"),
            (testing::Rows{{"kept"}}));
}

// Another program holds the data file past the bound: the clearing leaves every row and
// the user hears of it once, with the reason; once the file is free, a clearing is silent.
TEST_F(ServerTest, AClearingTheDataFileRefusesKeepsTheRowsAndIsToldOnce) {
  struct RetryLimit {
    RetryLimit() { db::BusyEvent::SetRetryLimit(std::chrono::milliseconds(100)); }
    ~RetryLimit() { db::BusyEvent::SetRetryLimit(db::BusyEvent::kDefaultRetryLimit); }
  };
  ODBCDataSource monitor;
  {
    std::lock_guard lock(monitor.Mutex());
    monitor.name = "Orders";
  }
  monitor.AddLog("kept", 0);
  const std::string rows = "SELECT text FROM Log WHERE monitorId = '" + monitor.id + "'";
  ASSERT_EQ(DataRows(rows), (testing::Rows{{"kept"}}));
  const std::string path = DataFiles::DataFolder() + DataFiles::kDataFileName;
  {
    testing_support::ForeignProcessLock lock(path);
    ASSERT_TRUE(lock.Held());
    RetryLimit limit;
    monitor.ClearLog();
    ASSERT_TRUE(WaitForLogWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    EXPECT_TRUE(lock.Release());
  }
  EXPECT_EQ(ui_.Events(),
            std::vector<std::string>{"error: " + LogClearFailureText("Orders", path, SQLITE_BUSY)});
  EXPECT_EQ(DataRows(rows), (testing::Rows{{"kept"}}));
  monitor.ClearLog();
  EXPECT_TRUE(DataRows(rows).empty());
  EXPECT_EQ(ui_.Events().size(), 1u);
}

// Rows and clearings are carried out in the order asked for, from any thread, each row with
// the time of its request even while the data file is held by another connection.
TEST_F(ServerTest, LogRowsKeepTheirOrderAndTheTimeTheyWereAskedFor) {
  SetNow(1'700'000'000);
  ODBCDataSource a;
  ODBCDataSource b;
  {
    testing::DataFileLock lock;
    for (int i = 0; i < 60; ++i) {
      a.AddLog("a" + std::to_string(i), i % 2);
      clock_->Advance(std::chrono::seconds(1));
      if (i == 29) a.ClearLog();  // the rows before it go, those after stay
    }
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&b, t] {
        for (int i = 0; i < 25; ++i) b.AddLog(std::to_string(t) + ":" + std::to_string(i), 0);
      });
    }
    for (std::thread& writer : writers) writer.join();
  }
  testing::Rows expected;
  for (int i = 30; i < 60; ++i) {
    expected.push_back(
        {std::to_string(1'700'000'000 + i), std::to_string(i % 2), "a" + std::to_string(i)});
  }
  EXPECT_EQ(
      DataRows("SELECT time, type, text FROM Log WHERE monitorId = '" + a.id + "' ORDER BY rowid"),
      expected);
  // Each thread's rows in its own order.
  std::vector<int> next(4, 0);
  const testing::Rows rows =
      DataRows("SELECT text FROM Log WHERE monitorId = '" + b.id + "' ORDER BY rowid");
  ASSERT_EQ(rows.size(), 100u);
  for (const auto& row : rows) {
    const int thread = row[0][0] - '0';
    EXPECT_EQ(row[0], std::to_string(thread) + ":" + std::to_string(next[thread]++));
  }
}

// Rows still waiting for the file at the deadline are given up and never written.
TEST_F(ServerTest, FlushingAtTheDeadlineGivesUpTheWaitingRows) {
  ODBCDataSource monitor;
  testing::DataFileLock lock;
  for (int i = 0; i < 5; ++i) monitor.AddLog("row " + std::to_string(i), 0);
  const std::size_t given = FlushLogRows(std::chrono::steady_clock::now());
  EXPECT_LE(given, 5u);
  lock.Release();
  ASSERT_TRUE(WaitForLogWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  // Rows still queued are never written; a batch being written at the deadline counts as
  // lost but may yet arrive.
  const std::size_t written =
      DataRows("SELECT * FROM Log WHERE monitorId = '" + monitor.id + "'").size();
  EXPECT_GE(written, 5u - given);
  EXPECT_LE(written, 5u);
  monitor.AddLog("later", 0);
  EXPECT_EQ(FlushLogRows(std::chrono::steady_clock::now() + std::chrono::seconds(20)), 0u);
  EXPECT_EQ(DataRows("SELECT * FROM Log WHERE monitorId = '" + monitor.id + "'").size(),
            written + 1);
}

TEST_F(ServerTest, RowsTheFileRefusedCountAsLostWhenFlushing) {
  db::BusyEvent::SetRetryLimit(std::chrono::milliseconds(50));
  ODBCDataSource monitor;
  {
    testing::DataFileLock lock;
    for (int i = 0; i < 3; ++i) monitor.AddLog("row " + std::to_string(i), 0);
    // Done, but none of them reached the file.
    ASSERT_TRUE(WaitForLogWrites(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    EXPECT_EQ(FlushLogRows(std::chrono::steady_clock::now() + std::chrono::seconds(20)), 3u);
  }
  db::BusyEvent::SetRetryLimit(std::chrono::seconds(60));
  EXPECT_EQ(FlushLogRows(std::chrono::steady_clock::now() + std::chrono::seconds(20)), 0u);
  EXPECT_TRUE(DataRows("SELECT * FROM Log WHERE monitorId = '" + monitor.id + "'").empty());
}

TEST_F(ServerTest, DeletingATestQueryTakesItsRowsAttributesAndAlerts) {
  SetNow(1'700'000'000);
  auto odbc = std::make_shared<testing::FakeOdbc>();
  ODBCDataSource monitor;
  monitor.SetOdbc(odbc);
  std::string gone;
  std::string kept;
  std::string availabilityAlert;
  {
    std::lock_guard lock(monitor.Mutex());
    monitor.AddDefaultAttributes();
    TestQuery& first = monitor.AddTestQuery();
    first.query = "first";
    gone = first.id;
    TestQuery& second = monitor.AddTestQuery();
    second.query = "second";
    kept = second.id;
    for (const HealthAttribute& a : std::vector<HealthAttribute>(monitor.healthAttributes)) {
      if (a.testQueryId == gone) monitor.AddAlert("action", a.id, 1, 1, Alert::kError);
    }
    const HealthAttribute* availability = monitor.FindHealthAttributeByName("Monitor Availability");
    availabilityAlert = monitor.AddAlert("action", availability->id, 0, 0, Alert::kError).id;
  }
  {
    db::Database config;
    ASSERT_EQ(DataFiles::OpenDatabase(config, DataFiles::kConfigFileName), 0);
    ASSERT_EQ(monitor.Save(config), 0);
  }
  monitor.Poll();
  ASSERT_EQ(DataRows("SELECT * FROM TestQueriesData").size(), 2u);

  EXPECT_TRUE(monitor.TakeTestQueries({"unknown"}).Empty());
  {
    std::lock_guard lock(monitor.Mutex());
    EXPECT_EQ(monitor.testQueries.size(), 2u);
  }
  // Put back, everything is where it was.
  monitor.PutBack(monitor.TakeTestQueries({gone}));
  {
    std::lock_guard lock(monitor.Mutex());
    ASSERT_EQ(monitor.testQueries.size(), 2u);
    EXPECT_EQ(monitor.testQueries[0].id, gone);
    EXPECT_EQ(monitor.healthAttributes.size(), 6u);
    EXPECT_EQ(monitor.alerts.size(), 2u);
  }
  const Server::TakenRecords taken = monitor.TakeTestQueries({gone});
  {
    // Out of the monitor at once, with its attributes and the alerts on them.
    std::lock_guard lock(monitor.Mutex());
    ASSERT_EQ(monitor.testQueries.size(), 1u);
    EXPECT_EQ(monitor.healthAttributes.size(), 5u);
    EXPECT_EQ(monitor.alerts.size(), 1u);
  }
  {
    db::Database config;
    ASSERT_EQ(DataFiles::OpenDatabase(config, DataFiles::kConfigFileName), 0);
    for (const std::string& statement : taken.statements) {
      ASSERT_EQ(db::Database::ExecSQL(config, statement), 0);
    }
  }
  Server::DeleteTestQueryData({gone}, DataFiles::DataFolder());
  // Its rows go on a helper.
  ASSERT_TRUE(Server::WaitForHelpers(std::chrono::steady_clock::now() + std::chrono::seconds(20)));

  EXPECT_EQ(DataRows("SELECT id FROM TestQueriesData"), (testing::Rows{{kept}}));
  EXPECT_EQ(ConfigRows("SELECT id FROM TestQueries"), (testing::Rows{{kept}}));
  EXPECT_TRUE(
      ConfigRows("SELECT * FROM HealthAttributes WHERE testQueryId = '" + gone + "'").empty());
  EXPECT_EQ(ConfigRows("SELECT id FROM Alerts"), (testing::Rows{{availabilityAlert}}));
  std::lock_guard lock(monitor.Mutex());
  ASSERT_EQ(monitor.testQueries.size(), 1u);
  EXPECT_EQ(monitor.testQueries[0].id, kept);
  EXPECT_EQ(monitor.healthAttributes.size(), 5u);  // four built-ins and the kept query's
  ASSERT_EQ(monitor.alerts.size(), 1u);
  EXPECT_EQ(monitor.alerts[0].id, availabilityAlert);
}

TEST_F(ServerTest, AttributeDisplayNames) {
  ODBCDataSource monitor;
  std::lock_guard lock(monitor.Mutex());
  monitor.AddDefaultAttributes();
  TestQuery& query = monitor.AddTestQuery();
  query.name = "Open orders";
  const HealthAttribute* queryAttribute = nullptr;
  for (const HealthAttribute& a : monitor.healthAttributes) {
    if (a.testQueryId == query.id) queryAttribute = &a;
  }
  ASSERT_NE(queryAttribute, nullptr);
  EXPECT_EQ(monitor.GetAttributeDisplayName(nullptr), "");
  EXPECT_EQ(monitor.GetAttributeDisplayName(queryAttribute), "Open orders Test Query Value");
  EXPECT_EQ(monitor.GetAttributeDisplayName(monitor.FindHealthAttributeByName("Monitor Health")),
            "Monitor Health");
  HealthAttribute orphan("Test Query Value", "no-such-query");
  EXPECT_EQ(monitor.GetAttributeDisplayName(&orphan), "Test Query Value");
}

TEST_F(ServerTest, ResolveAddress) {
  ODBCDataSource monitor;
  {
    std::lock_guard lock(monitor.Mutex());
    monitor.address = "localhost";
  }
  EXPECT_EQ(monitor.ResolveAddress(), 0u);
  {
    std::lock_guard lock(monitor.Mutex());
    EXPECT_EQ(monitor.current.addressText, "localhost (127.0.0.1)");
    monitor.address = "";
  }
  EXPECT_NE(monitor.ResolveAddress(), 0u);
  std::lock_guard lock(monitor.Mutex());
  EXPECT_EQ(monitor.current.addressText, "-");
}

}  // namespace
}  // namespace engine
