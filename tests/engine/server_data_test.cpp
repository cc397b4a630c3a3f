#include "engine/server_data.h"

#include <gtest/gtest.h>

#include <ctime>

#include "engine/clock.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

// Local time to seconds, in the time zone the test set.
std::int64_t Local(int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

class ServerDataTest : public ::testing::Test {
 protected:
  void SetUp() override { tzset(); }
  void TearDown() override { tzset(); }
  testing_support::ScopedEnv tz_{"TZ", "Europe/London"};
};

TEST_F(ServerDataTest, EqualityComparesTheSampleNotItsTimes) {
  ODBCDataSourceData a;
  ODBCDataSourceData b;
  b.time = 100;
  b.previousPollTime = 50;
  b.lastAlertTime = 7;
  b.monitorId = "other";
  EXPECT_TRUE(a.IsEqual(b));

  struct Change {
    const char* what;
    void (*apply)(ODBCDataSourceData&);
  };
  const Change changes[] = {
      {"available", [](ODBCDataSourceData& d) { d.available = false; }},
      {"health", [](ODBCDataSourceData& d) { d.health = true; }},
      {"errorCode", [](ODBCDataSourceData& d) { d.errorCode = -1; }},
      {"errorDescription", [](ODBCDataSourceData& d) { d.errorDescription = "x"; }},
      {"connectionTime", [](ODBCDataSourceData& d) { d.connectionTime = 3; }},
      {"requestTime", [](ODBCDataSourceData& d) { d.requestTime = 3; }},
  };
  for (const Change& change : changes) {
    ODBCDataSourceData c;
    change.apply(c);
    EXPECT_FALSE(a.IsEqual(c)) << change.what;
    EXPECT_FALSE(c.IsEqual(a)) << change.what;
  }

  // The base compares only the base fields; a sample of the base kind never equals an
  // ODBC sample from the ODBC side.
  ServerData base;
  ODBCDataSourceData timed;
  timed.connectionTime = 5;
  EXPECT_TRUE(base.IsEqual(timed));
  EXPECT_FALSE(timed.IsEqual(base));
}

TEST_F(ServerDataTest, ShiftPollTimeAndTexts) {
  FakeClock clock(5000);
  ScopedClock scoped(&clock);
  ODBCDataSourceData d;
  EXPECT_EQ(d.connectionTime, -1);
  EXPECT_EQ(d.requestTime, -1);
  EXPECT_TRUE(d.available);
  EXPECT_FALSE(d.health);
  d.ShiftPollTime();
  EXPECT_EQ(d.previousPollTime, 0);
  EXPECT_EQ(d.time, 5000);
  clock.Advance(std::chrono::seconds(60));
  d.ShiftPollTime();
  EXPECT_EQ(d.previousPollTime, 5000);
  EXPECT_EQ(d.time, 5060);

  d.SetError(-1, "gone");
  EXPECT_EQ(d.errorCode, -1);
  EXPECT_EQ(d.errorDescription, "gone");

  EXPECT_EQ(d.GetHealthText(), "ERROR");
  EXPECT_EQ(d.GetAvailabilityText(), "UP");
  d.health = true;
  d.available = false;
  EXPECT_EQ(d.GetHealthText(), "OK");
  EXPECT_EQ(d.GetAvailabilityText(), "DOWN");
}

TEST_F(ServerDataTest, SameLocalHourComparesYearMonthDayAndHour) {
  struct Case {
    std::int64_t a;
    std::int64_t b;
    bool same;
  };
  const Case cases[] = {
      {Local(2024, 3, 3, 10, 1), Local(2024, 3, 3, 10, 59), true},
      {Local(2024, 3, 3, 10, 59), Local(2024, 3, 3, 11, 1), false},
      {Local(2024, 3, 3, 10, 5), Local(2024, 3, 4, 10, 10), false},  // next day
      {Local(2024, 3, 3, 10, 5), Local(2024, 4, 3, 10, 10), false},  // a month later
      {Local(2023, 3, 3, 10, 5), Local(2024, 3, 3, 10, 10), false},  // a year later
      {0, Local(2024, 3, 3, 10, 10), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InSameLocalHour(c.a, c.b), c.same) << c.a << " " << c.b;
  }
  // The hour from 01:00 to 02:00 happens twice when summer time ends (27 Oct 2024 in
  // London): its two passes are different hours.
  const std::int64_t firstPass = Local(2024, 10, 27, 0, 30) + 3600;  // 01:30 BST
  const std::int64_t secondPass = firstPass + 3600;                  // 01:30 GMT
  EXPECT_FALSE(InSameLocalHour(firstPass, secondPass));
  EXPECT_TRUE(InSameLocalHour(secondPass, secondPass + 60));
}

}  // namespace
}  // namespace engine
