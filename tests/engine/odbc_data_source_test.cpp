// The poll of an ODBC data source against a scripted ODBC layer: values, failures,
// timings, history, the notification, status texts, and storing with the extension of
// runs of equal samples (also after the clock was set back).
#include "engine/monitor/odbc_data_source.h"

#include <gtest/gtest.h>

#include <climits>

#include "engine/clock.h"
#include "engine/data/statements.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing::DataRows;
using testing::FakeOdbc;
using testing::LocalTime;

struct QueryDef {
  std::string sql;
  bool enable = true;
};

class PollTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    clock_ = std::make_unique<FakeClock>(LocalTime(2024, 3, 3, 10, 1));
    Clock::Set(clock_.get());
    odbc_ = std::make_shared<FakeOdbc>(clock_.get());
  }
  void TearDown() override {
    Clock::Set(nullptr);
    MonitorTest::TearDown();
  }

  std::shared_ptr<ODBCDataSource> NewMonitor(const std::vector<QueryDef>& queries = {}) {
    auto monitor = std::make_shared<ODBCDataSource>();
    monitor->SetOdbc(odbc_);
    std::lock_guard lock(monitor->Mutex());
    monitor->name = "Orders";
    monitor->address = "orders";
    for (const QueryDef& def : queries) {
      TestQuery& query = monitor->AddTestQuery();
      query.name = def.sql;
      query.query = def.sql;
      query.enable = def.enable;
    }
    return monitor;
  }

  static testing::Rows MonitorRows(const ODBCDataSource& monitor) {
    return DataRows(
        "SELECT time, available, health, errorCode, errorDescription, "
        "connectionTime, requestTime FROM ODBCDataSourcesData WHERE monitorId = '" +
        monitor.id + "' ORDER BY rowid");
  }
  static testing::Rows QueryRows(const ODBCDataSource& monitor) {
    return DataRows(
        "SELECT id, time, value, errorCode, errorDescription FROM TestQueriesData "
        "WHERE monitorId = '" +
        monitor.id + "' ORDER BY rowid");
  }

  std::unique_ptr<FakeClock> clock_;
  std::shared_ptr<FakeOdbc> odbc_;
};

TEST_F(PollTest, TestQueryValuesAndTimings) {
  struct Case {
    const char* sql;
    std::int32_t value;
    std::int32_t errorCode;
    const char* errorText;
  };
  odbc_->SetValue("letters", "42abc");
  odbc_->SetValue("blanks", "  -7");
  odbc_->SetValue("word", "abc");
  odbc_->SetValue("decimal", "12.9");
  odbc_->SetNull("null");
  odbc_->SetNoRow("empty");
  odbc_->SetValue("huge", "99999999999");
  odbc_->SetValue("tiny", "-99999999999");
  odbc_->SetError("broken", -1, "syntax error\nat line 1");
  const Case cases[] = {
      {"letters", 42, 0, ""},     {"blanks", -7, 0, ""},
      {"word", 0, 0, ""},         {"decimal", 12, 0, ""},
      {"null", -1, 0, ""},  // NULL is no value, not 0
      {"empty", -1, 0, ""},       {"huge", INT32_MAX, 0, ""},
      {"tiny", INT32_MIN, 0, ""}, {"broken", -1, -1, "syntax error\nat line 1"},
  };
  std::vector<QueryDef> defs;
  for (const Case& c : cases) defs.push_back({c.sql});
  defs.push_back({"disabled", false});
  auto monitor = NewMonitor(defs);
  odbc_->SetConnectDuration(250ms);
  odbc_->SetQueryDuration(10ms);

  monitor->Poll();

  std::lock_guard lock(monitor->Mutex());
  ASSERT_EQ(monitor->testQueries.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TestQuery& q = monitor->testQueries[i];
    EXPECT_EQ(q.value, cases[i].value) << cases[i].sql;
    EXPECT_EQ(q.errorCode, cases[i].errorCode) << cases[i].sql;
    EXPECT_EQ(q.errorDescription, cases[i].errorText) << cases[i].sql;
  }
  EXPECT_EQ(monitor->testQueries.back().value, -1);
  EXPECT_EQ(odbc_->Queries("disabled"), 0);
  EXPECT_TRUE(monitor->current.available);
  EXPECT_EQ(monitor->current.errorCode, 0);
  EXPECT_EQ(monitor->current.connectionTime, 250);
  EXPECT_EQ(monitor->current.requestTime, 10 * static_cast<std::int64_t>(std::size(cases)));
  EXPECT_EQ(monitor->current.monitorId, monitor->id);
  EXPECT_EQ(monitor->current.time, LocalTime(2024, 3, 3, 10, 1));
  EXPECT_FALSE(monitor->notPolledYet);
}

// The monitor's first row keeps the time of its first sample; later runs extend.
TEST_F(PollTest, RefusedLoginMarksEverythingAndExtendsOnlyTheMonitorRow) {
  auto monitor = NewMonitor({{"a"}, {"b", false}});
  odbc_->SetConnectError(-1, "login refused\nfor user x");

  monitor->Poll();
  {
    std::lock_guard lock(monitor->Mutex());
    EXPECT_FALSE(monitor->current.available);
    EXPECT_FALSE(monitor->current.health);
    EXPECT_EQ(monitor->current.errorCode, -1);
    EXPECT_EQ(monitor->current.errorDescription, "login refused\nfor user x");
    EXPECT_EQ(monitor->current.connectionTime, -1);
    EXPECT_EQ(monitor->current.requestTime, -1);
    for (const TestQuery& q : monitor->testQueries) {
      EXPECT_EQ(q.value, -1);
      EXPECT_EQ(q.errorCode, -1);
      EXPECT_EQ(q.errorDescription, "login refused\nfor user x");
    }
  }
  const std::string t1 = std::to_string(LocalTime(2024, 3, 3, 10, 1));
  EXPECT_EQ(MonitorRows(*monitor),
            (testing::Rows{{t1, "0", "0", "-1", "login refused for user x", "-1", "-1"}}));
  EXPECT_EQ(QueryRows(*monitor).size(), 2u);

  const auto row = [](const std::string& time) {
    return std::vector<std::string>{time, "0", "0", "-1", "login refused for user x", "-1", "-1"};
  };
  clock_->Advance(60s);
  monitor->Poll();
  const std::string t2 = std::to_string(LocalTime(2024, 3, 3, 10, 2));
  EXPECT_EQ(MonitorRows(*monitor), (testing::Rows{row(t1), row(t2)}));
  clock_->Advance(60s);
  monitor->Poll();
  const std::string t3 = std::to_string(LocalTime(2024, 3, 3, 10, 3));
  EXPECT_EQ(MonitorRows(*monitor), (testing::Rows{row(t1), row(t3)}));
  // Each failed poll gives every test query a row of its own.
  const testing::Rows queries = QueryRows(*monitor);
  ASSERT_EQ(queries.size(), 6u);
  EXPECT_EQ(queries[4][1], t3);
  EXPECT_EQ(queries[5][1], t3);
}

TEST_F(PollTest, AFailedConnectionAlwaysCarriesACodeAndAText) {
  auto monitor = NewMonitor({{"a"}});
  odbc_->FailConnectSilently();
  monitor->Poll();
  {
    std::lock_guard lock(monitor->Mutex());
    EXPECT_FALSE(monitor->current.available);
    EXPECT_EQ(monitor->current.errorCode, -1);
    EXPECT_EQ(monitor->current.errorDescription, "Connection failed.");
    EXPECT_EQ(monitor->testQueries[0].errorCode, -1);
  }
  odbc_->ClearConnectError();
  odbc_->SetConnectError(-2, "");
  monitor->Poll();
  std::lock_guard lock(monitor->Mutex());
  EXPECT_EQ(monitor->current.errorCode, -2);
  EXPECT_EQ(monitor->current.errorDescription, "Connection failed.");
}

TEST_F(PollTest, EqualSuccessfulPollsKeepOneTestQueryRowAndTwoMonitorRows) {
  auto monitor = NewMonitor({{"count"}});
  odbc_->SetValue("count", "5");
  odbc_->SetConnectDuration(10ms);
  monitor->Poll();
  clock_->Advance(60s);
  odbc_->SetConnectDuration(20ms);  // connection times differ
  monitor->Poll();

  EXPECT_EQ(MonitorRows(*monitor).size(), 2u);
  const testing::Rows queries = QueryRows(*monitor);
  ASSERT_EQ(queries.size(), 1u);
  std::lock_guard lock(monitor->Mutex());
  EXPECT_EQ(queries[0][1], std::to_string(monitor->current.time));
  EXPECT_EQ(queries[0][2], "5");
}

TEST_F(PollTest, RunsExtendOnlyWithinTheSameLocalHourOfTheSameDay) {
  struct Case {
    const char* name;
    std::int64_t first;
    std::int64_t second;
    std::size_t rows;
  };
  const Case cases[] = {
      {"same hour", LocalTime(2024, 3, 3, 10, 1), LocalTime(2024, 3, 3, 10, 59), 1},
      {"next hour", LocalTime(2024, 3, 3, 10, 59), LocalTime(2024, 3, 3, 11, 1), 2},
      {"next day", LocalTime(2024, 3, 3, 10, 5), LocalTime(2024, 3, 4, 10, 10), 2},
      {"next month", LocalTime(2024, 3, 3, 10, 5), LocalTime(2024, 4, 3, 10, 10), 2},
      {"next year", LocalTime(2023, 3, 3, 10, 5), LocalTime(2024, 3, 3, 10, 10), 2},
      // The hour repeated when summer time ends (27 Oct 2024, London): two hours.
      {"repeated hour", LocalTime(2024, 10, 27, 0, 30) + 3600,
       LocalTime(2024, 10, 27, 0, 30) + 7200, 2},
  };
  odbc_->SetValue("q", "7");
  for (const Case& c : cases) {
    // Polls taking no time on the fake clock give equal samples throughout; the monitor
    // has a row from before, so its first poll's row may be extended.
    auto monitor = NewMonitor({{"q"}});
    testing::ExecData(
        sql::InsertOdbcDataSourceData({.monitorId = monitor->id, .time = 1'000'000'000}));
    clock_->SetNow(c.first);
    monitor->Poll();
    clock_->SetNow(c.second);
    monitor->Poll();
    const testing::Rows rows = MonitorRows(*monitor);
    const testing::Rows queries = QueryRows(*monitor);
    ASSERT_EQ(rows.size(), c.rows + 1) << c.name;
    ASSERT_EQ(queries.size(), c.rows) << c.name;
    EXPECT_EQ(rows.back()[0], std::to_string(c.second)) << c.name;
    EXPECT_EQ(queries.back()[1], std::to_string(c.second)) << c.name;
  }
}

// An hour of polls with a 10-minute outage, then the clock set back an hour: polls landing
// on the seconds of the earlier rows extend only the row of the poll before them, so every
// row written before keeps its time, and today's figures count no row after now.
TEST_F(PollTest, AClockSetBackMovesNoRowWrittenBefore) {
  auto monitor = NewMonitor({{"q"}});
  odbc_->SetValue("q", "7");
  const std::int64_t nine = LocalTime(2024, 3, 3, 9, 0);
  const auto pollAt = [&](int minute, bool up) {
    clock_->SetNow(nine + minute * 60);
    odbc_->ClearConnectError();
    if (!up) odbc_->SetConnectError(-1, "unable to open database file");
    monitor->Poll();
  };
  for (int minute = 0; minute <= 60; ++minute) pollAt(minute, minute / 10 != 2);
  // 09:00 (the first sample), 09:19, 09:29 (down), 09:59, 10:00; a query row per failure.
  const testing::Rows rows = MonitorRows(*monitor);
  const testing::Rows queryRows = QueryRows(*monitor);
  ASSERT_EQ(rows.size(), 5u);
  ASSERT_EQ(queryRows.size(), 13u);
  for (int minute = 0; minute <= 45; ++minute) pollAt(minute, true);
  testing::Rows after = MonitorRows(*monitor);
  testing::Rows queriesAfter = QueryRows(*monitor);
  EXPECT_EQ(after.back()[0], std::to_string(nine + 45 * 60));
  EXPECT_EQ(queriesAfter.back()[1], std::to_string(nine + 45 * 60));
  after.resize(rows.size());
  queriesAfter.resize(queryRows.size());
  EXPECT_EQ(after, rows);
  EXPECT_EQ(queriesAfter, queryRows);
  // 45 minutes since the first sample: the outage's 10, and 35 up.
  std::lock_guard lock(monitor->Mutex());
  EXPECT_EQ(monitor->todayUptime, 35 * 60);
  EXPECT_EQ(monitor->todayDowntime, 10 * 60);
}

TEST_F(PollTest, AMissingRowToExtendGivesANewRow) {
  auto monitor = NewMonitor({{"q"}});
  odbc_->SetValue("q", "7");
  monitor->Poll();
  testing::ExecData("DELETE FROM ODBCDataSourcesData");
  testing::ExecData("DELETE FROM TestQueriesData");
  clock_->Advance(60s);
  monitor->Poll();
  EXPECT_EQ(MonitorRows(*monitor).size(), 1u);
  EXPECT_EQ(QueryRows(*monitor).size(), 1u);

  // A test query added disabled between two polls: its fresh sample equals its reset one,
  // so the poll asks to extend a row that was never written.
  std::string added;
  {
    std::lock_guard lock(monitor->Mutex());
    TestQuery& query = monitor->AddTestQuery();
    query.query = "later";
    query.enable = false;
    added = query.id;
  }
  clock_->Advance(60s);
  monitor->Poll();
  const testing::Rows rows =
      DataRows("SELECT value FROM TestQueriesData WHERE id = '" + added + "'");
  EXPECT_EQ(rows, (testing::Rows{{"-1"}}));
}

TEST_F(PollTest, EveryTestQueryIsStoredWhenOneFails) {
  testing::ExecData(
      "CREATE TRIGGER refuse BEFORE INSERT ON TestQueriesData WHEN NEW.value = '111' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  auto monitor = NewMonitor({{"first"}, {"second"}});
  odbc_->SetValue("first", "111");
  odbc_->SetValue("second", "222");
  monitor->Poll();
  testing::Rows rows = QueryRows(*monitor);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], "222");

  EXPECT_NE(monitor->StoreData(), 0);
  EXPECT_EQ(QueryRows(*monitor).size(), 2u);
  EXPECT_EQ(MonitorRows(*monitor).size(), 2u);
}

TEST_F(PollTest, ConnectionTextAndTimeouts) {
  struct Case {
    const char* dsn;
    const char* user;
    const char* password;
    bool custom;
    const char* custom_text;
    const char* expected;
  };
  const Case cases[] = {
      {"a", "b", "c", false, "", "DSN=a;UID=b;PWD=c"},
      {"a", "b", "p;w", false, "", "DSN=a;UID=b;PWD={p;w}"},
      {"a", "b", "c", true, "Driver=SQLite3;Database=/tmp/x y.db",
       "Driver=SQLite3;Database=/tmp/x y.db"},
  };
  for (const Case& c : cases) {
    auto monitor = NewMonitor();
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->address = c.dsn;
      monitor->username = c.user;
      monitor->password = c.password;
      monitor->customConnectionString = c.custom;
      monitor->connectionString = c.custom_text;
    }
    monitor->Poll();
    EXPECT_EQ(odbc_->LastConnectionText(), c.expected);
  }

  struct Timeouts {
    std::int32_t login;
    std::int32_t query;
    bool customTimeouts;
    int expectedLogin;
    int expectedQuery;
  };
  const Timeouts timeouts[] = {
      {-1, 40, true, 15, 15},
      {30, 40, false, 30, 40},
      {0, 0, false, 0, 0},
  };
  for (const Timeouts& t : timeouts) {
    auto monitor = NewMonitor({{"q"}});
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->loginTimeout = t.login;
      monitor->queryTimeout = t.query;
      monitor->customTimeouts = t.customTimeouts;
    }
    monitor->Poll();
    EXPECT_EQ(odbc_->LastLoginTimeout(), t.expectedLogin);
    EXPECT_EQ(odbc_->LastQueryTimeout(), t.expectedQuery);
  }
}

TEST_F(PollTest, StatusTextAndColour) {
  struct Case {
    bool running;
    bool available;
    std::int32_t code;
    const char* text;
    const char* expected;
    bool red;
  };
  const Case cases[] = {
      {false, false, -1, "down", "Monitor stopped", false},
      {true, false, -1, "first line\nsecond line", "first line", true},
      {true, false, -2, "first line\nsecond line", "[FFFFFFFE] first line", true},
      {true, false, 0x1A, "one line", "[1A] one line", true},
      {true, true, 0, "", "ODBC Data Source is available", false},
      {true, false, 0, "", "Monitor running", false},
  };
  auto monitor = NewMonitor();
  for (const Case& c : cases) {
    std::lock_guard lock(monitor->Mutex());
    monitor->running = c.running;
    monitor->current.available = c.available;
    monitor->current.SetError(c.code, c.text);
    EXPECT_EQ(monitor->GetStatusText(), c.expected);
    EXPECT_EQ(monitor->GetStatusColor(),
              c.red ? StatusColor::Rgb(255, 0, 0) : StatusColor::InactiveCaption())
        << c.expected;
  }
  std::lock_guard lock(monitor->Mutex());
  monitor->running = false;
}

TEST_F(PollTest, HistoryKeepsTheLastTenPolls) {
  auto monitor = NewMonitor({{"q"}});
  for (int poll = 1; poll <= 12; ++poll) {
    odbc_->SetValue("q", std::to_string(poll));
    odbc_->SetConnectDuration(std::chrono::milliseconds(poll));
    monitor->Poll();
    clock_->Advance(60s);
  }
  std::lock_guard lock(monitor->Mutex());
  ASSERT_EQ(monitor->history.size(), 10u);
  EXPECT_EQ(monitor->history.front().connectionTime, 3);
  EXPECT_EQ(monitor->history.back().connectionTime, 12);
  const auto& queryHistory = monitor->testQueries[0].history;
  ASSERT_EQ(queryHistory.size(), 10u);
  EXPECT_EQ(queryHistory.front().value, 3);
  EXPECT_EQ(queryHistory.back().value, 12);
  EXPECT_EQ(queryHistory.back().time, monitor->history.back().time);
}

TEST_F(PollTest, OneNotificationPerPollAfterTheEvaluationAndBeforeStoring) {
  auto monitor = NewMonitor({{"q"}});
  std::size_t rowsAtNotification = 99;
  bool healthAtNotification = false;
  ui_.OnUpdate([&](const std::string& id) {
    rowsAtNotification = MonitorRows(*monitor).size();
    std::lock_guard lock(monitor->Mutex());
    healthAtNotification = monitor->current.health;
    EXPECT_EQ(id, monitor->id);
  });
  monitor->Poll();
  EXPECT_EQ(ui_.Updates(), std::vector<std::string>{monitor->id});
  EXPECT_EQ(rowsAtNotification, 0u);
  EXPECT_TRUE(healthAtNotification);  // available, and no alert makes it unhealthy
  EXPECT_EQ(MonitorRows(*monitor).size(), 1u);
  ui_.OnUpdate(nullptr);
}

}  // namespace
}  // namespace engine
