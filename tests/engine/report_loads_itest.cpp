// The reports' loads over a data file of the test's own: periods that include both ends and
// compare as ten-digit text, one monitor's rows in time order, the test-query summary of
// the monitor's own queries in identifier order, failures that keep the view as it was;
// and the loader that hands over only the newest request's result.
#include "engine/report/report_loads.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>

#include "engine/data/data_reads.h"
#include "engine/data/statements.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::ExecData;
using testing::LocalTime;

const std::string kMonitor = "mon'itor";
const std::string kOther = "other";

void AddSample(const std::string& monitor, std::int64_t time, bool available, bool health,
               std::int32_t connectionTime, std::int32_t requestTime = -1) {
  sql::OdbcDataSourceDataRow row;
  row.monitorId = monitor;
  row.time = time;
  row.available = available;
  row.health = health;
  row.connectionTime = connectionTime;
  row.requestTime = requestTime;
  ExecData(sql::InsertOdbcDataSourceData(row));
}

std::vector<std::int64_t> Times(const std::vector<ReportSampleRow>& rows) {
  std::vector<std::int64_t> times;
  for (const ReportSampleRow& row : rows) times.push_back(row.time);
  return times;
}

class ReportLoadsTest : public testing::MonitorTest {};

TEST_F(ReportLoadsTest, SamplesOfOneMonitorInTimeOrderWithBothEnds) {
  const std::int64_t t = LocalTime(2024, 3, 5, 10);
  // Written out of time order; the other monitor has rows at the same times.
  for (std::int64_t offset : {120, -1, 0, 60, 181, 180}) {
    AddSample(kMonitor, t + offset, true, true, static_cast<std::int32_t>(offset));
    AddSample(kOther, t + offset, false, false, 1);
  }
  const std::int64_t old = LocalTime(1999, 12, 31);  // nine digits
  const struct {
    const char* name;
    std::int64_t start;
    std::int64_t end;
    std::vector<std::int64_t> times;
  } cases[] = {
      {"both ends included", t, t + 180, {t, t + 60, t + 120, t + 180}},
      {"one instant", t + 60, t + 60, {t + 60}},
      {"a start before 2001", old, t + 60, {t - 1, t, t + 60}},
      {"a start before 1970", -86400, t, {t - 1, t}},
      {"an end after 2286", t + 180, 20'000'000'000, {t + 180, t + 181}},
      {"a reversed range", t + 180, t, {}},
  };
  for (const auto& c : cases) {
    int status = -1;
    const auto rows = LoadReportSamples(kMonitor, c.start, c.end, &status);
    EXPECT_EQ(status, 0) << c.name;
    EXPECT_EQ(Times(rows), c.times) << c.name;
    for (const ReportSampleRow& row : rows) {
      EXPECT_TRUE(row.available && row.health) << c.name << ": another monitor's row";
      EXPECT_EQ(row.connectionTime, row.time - t) << c.name;
    }
  }
}

TEST_F(ReportLoadsTest, EachReportFromTheRowsOfItsPeriod) {
  // 0:15 up, 0:30 down, 0:45 down, 1:00 up, 1:15 up; connection and request times rise.
  const std::int64_t start = LocalTime(2024, 3, 5);
  const std::int64_t end = start + 86400;
  const std::int64_t rows[][2] = {{15, 1}, {30, 0}, {45, 0}, {60, 1}, {75, 1}};
  for (const auto& [minutes, up] : rows) {
    AddSample(kMonitor, start + minutes * 60, up != 0, minutes != 75, up != 0 ? minutes : -1,
              up != 0 ? 2 * minutes : -1);
  }
  AddSample(kOther, start + 600, false, false, 500, 500);  // another monitor's
  AddSample(kMonitor, start - 86400, true, true, 1);       // older: counts from the start
  const ReportInputs inputs{kMonitor, {}, {start, end, false}};

  const auto availability = LoadAvailabilityReport(inputs);
  ASSERT_TRUE(availability);
  EXPECT_EQ(availability->figures, (std::array<std::string, 5>{"45 Minutes", "30 Minutes", "60.00%",
                                                               "30 Minutes", "15 Minutes"}));
  EXPECT_EQ(
      availability->downtimes,
      (std::vector<TextRow3>{{"05 Mar 2024 12:30 AM", "05 Mar 2024 01:00 AM", "30 Minutes"}}));

  const auto history = LoadHistoryReport(inputs);
  ASSERT_TRUE(history);
  EXPECT_EQ(history->availability, availability->figures);
  EXPECT_EQ(history->connectionTime, (std::array<std::string, 3>{"15", "75", "50"}));
  EXPECT_TRUE(history->testQueries.empty());

  // Hourly; the period is closed, so the interval of its last rows is shown too, labelled
  // with its last row to the minute. Newest first in the list, oldest first in the chart.
  const auto connection = LoadConnectionTimeReport(inputs);
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->granularity, kGranularityHours);
  EXPECT_EQ(connection->intervals,
            (std::vector<TextRow4>{{"05 Mar 2024 01:15 AM", "60", "75", "67"},
                                   {"05 Mar 2024 01:00 AM", "15", "15", "15"}}));
  ASSERT_FALSE(connection->series[1].empty());
  EXPECT_EQ(connection->series[1].front().time, start + 3600);
  EXPECT_EQ(connection->series[1].back().time, start + 75 * 60);

  const auto queries = LoadTestQueriesReport(inputs);
  ASSERT_TRUE(queries);
  EXPECT_EQ(queries->intervals,
            (std::vector<TextRow4>{{"05 Mar 2024 01:15 AM", "120", "150", "135"},
                                   {"05 Mar 2024 01:00 AM", "30", "30", "30"}}));

  // Only the 1:15 row is unhealthy; the period ending now hides its open interval but
  // counts its rows in the totals.
  const auto health = LoadHealthReport({kMonitor, {}, {start, end, true}});
  ASSERT_TRUE(health);
  EXPECT_EQ(health->critical.size(), 1u);
  EXPECT_EQ(health->criticalText, "20.00 %");
  EXPECT_EQ(health->clearText, "80.00 %");
}

// A monitor first polled at 23:22: nothing before its first row counts, in any period that
// holds it; with rows from before, every period counts from its start.
TEST_F(ReportLoadsTest, AvailabilityCountsFromTheMonitorsFirstSample) {
  const std::int64_t day = LocalTime(2024, 3, 5);
  const std::int64_t first = day + (23 * 60 + 22) * 60;
  const std::string up = "first up", down = "first down", older = "older";
  for (const std::string& id : {up, down, older}) {
    const bool s = id != down;
    if (id == older) AddSample(id, day - 40 * 86400, true, true, 1);
    AddSample(id, first, s, s, 1);
    AddSample(id, first + 8 * 60, !s, !s, 1);
    AddSample(id, first + 18 * 60, s, s, 1);
  }
  // Today, Last 7 Days and Last 30 Days, each with its time of asking.
  const std::int64_t tomorrow = day + 86400 + 8 * 3600;
  const std::pair<int, std::int64_t> periods[] = {
      {kPeriodToday, first + 20 * 60}, {kPeriodLast7Days, tomorrow}, {kPeriodLast30Days, tomorrow}};
  using Figures = std::array<std::string, 5>;
  const Figures upOnly = {"10 Minutes", "8 Minutes", "55.56%", "8 Minutes", "-"};
  // Down at its first sample: no failure; the outage it begins lasts no time.
  const Figures downOnly = {"8 Minutes", "10 Minutes", "44.44%", "-", "8 Minutes"};
  const TextRow3 outage = {"05 Mar 2024 11:32 PM", "05 Mar 2024 11:40 PM", "8 Minutes"};
  const struct {
    const std::string& id;
    std::array<Figures, 3> figures;  // per period
    TextRow3 downtime;
  } cases[] = {
      {up, {upOnly, upOnly, upOnly}, outage},
      {down, {downOnly, downOnly, downOnly}, {"05 Mar 2024 11:30 PM", "05 Mar 2024 11:30 PM", "-"}},
      {older,
       {{{"23 Hours 32 Minutes", "8 Minutes", "99.44%", "8 Minutes", "23 Hours 22 Minutes"},
         {"6 Days 23 Hours 32 Minutes", "8 Minutes", "99.92%", "8 Minutes",
          "6 Days 23 Hours 22 Minutes"},
         {"29 Days 23 Hours 32 Minutes", "8 Minutes", "99.98%", "8 Minutes",
          "29 Days 23 Hours 22 Minutes"}}},
       outage},
  };
  for (const auto& c : cases) {
    for (std::size_t p = 0; p < 3; ++p) {
      const std::string what = c.id + ", " + ReportPeriodName(periods[p].first);
      const ReportInputs inputs{c.id, {}, *PeriodBoundsFor(periods[p].first, periods[p].second)};
      const auto availability = LoadAvailabilityReport(inputs);
      const auto history = LoadHistoryReport(inputs);
      ASSERT_TRUE(availability && history) << what;
      EXPECT_EQ(availability->figures, c.figures[p]) << what;
      EXPECT_EQ(availability->downtimes, std::vector<TextRow3>{c.downtime}) << what;
      EXPECT_EQ(history->availability, c.figures[p]) << what;
    }
  }
}

TEST_F(ReportLoadsTest, TestQuerySummaryOfTheMonitorsQueriesInIdentifierOrder) {
  const std::int64_t t = LocalTime(2024, 3, 5, 10);
  const struct {
    const char* id;
    std::int32_t value;
    std::int64_t time;
  } values[] = {
      {"b-id", 4, t},      {"b-id", 8, t + 60}, {"b-id", 100, t + 7200},  // last out of range
      {"a-id", -1, t},     {"a'id", 3, t},      {"gone", 9, t},           // "gone": deleted
      {"b-id", 50, t - 1},
  };
  for (const auto& v : values) {
    ExecData(sql::InsertTestQueryData(kMonitor, v.id, v.time, v.value, 0, ""));
  }
  // Names in the monitor's order; rows in identifier order.
  const std::vector<TestQueryName> queries = {
      {"b-id", "Alpha"}, {"a-id", "Zeta"}, {"a'id", "Quoted"}, {"never", "Empty"}};
  const ReportInputs inputs{kMonitor, queries, {t, t + 3600, false}};
  const std::vector<TextRow4> expected = {
      {"Quoted", "3", "3", "3"}, {"Zeta", "-", "-", "-"}, {"Alpha", "4", "8", "6"}};
  const auto history = LoadHistoryReport(inputs);
  ASSERT_TRUE(history);
  EXPECT_EQ(history->testQueries, expected);
  const auto report = LoadTestQueriesReport(inputs);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->testQueries, expected);
}

TEST_F(ReportLoadsTest, AnUnreadableFileGivesNoReportButNoQueriesNeedNoFile) {
  const ReportInputs withQueries{kMonitor, {{"q", "Query"}}, {0, 2'000'000'000, false}};
  const ReportInputs withoutQueries{kMonitor, {}, {0, 2'000'000'000, false}};
  const auto loads = [](const ReportInputs& inputs) {
    return std::vector<bool>{
        LoadAvailabilityReport(inputs).has_value(), LoadHistoryReport(inputs).has_value(),
        LoadConnectionTimeReport(inputs).has_value(), LoadTestQueriesReport(inputs).has_value(),
        LoadHealthReport(inputs).has_value()};
  };
  EXPECT_EQ(loads(withQueries), std::vector<bool>(5, true));
  ExecData("DROP TABLE TestQueriesData");
  // Both reports with a summary fail on it, the others do not read it.
  EXPECT_EQ(loads(withQueries), (std::vector<bool>{true, false, true, false, true}));
  EXPECT_EQ(loads(withoutQueries), std::vector<bool>(5, true));

  std::ofstream(dir_.File("blocker")) << "a file, not a folder";
  testing_support::ScopedEnv nowhere{"LUMIVAR_DOCUMENTS_DIR", dir_.File("blocker") + "/below"};
  EXPECT_EQ(loads(withQueries), std::vector<bool>(5, false));
  int status = -1;
  EXPECT_TRUE(LoadReportTestQueryValues({}, 0, 2'000'000'000, &status).empty());
  EXPECT_EQ(status, 0) << "no identifiers read nothing";
}

// ---- the loader ----

// A load that records what it ran and holds the loads of monitor "held" until released.
class ScriptedLoads {
 public:
  ReportTexts Load(const ReportRequest& request) {
    std::unique_lock lock(mutex_);
    started_.push_back(request.inputs.monitorId);
    changed_.notify_all();
    if (request.inputs.monitorId == "held") {
      changed_.wait(lock, [&] { return released_; });
    }
    return HealthReportTexts{0, {}, request.inputs.monitorId, ""};
  }
  void Deliver(ReportResult result) {
    std::lock_guard lock(mutex_);
    delivered_.push_back(std::move(result));
    changed_.notify_all();
  }
  void WaitStarted(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_.size() >= count; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<ReportResult> WaitDelivered(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return delivered_.size() >= count; });
    return delivered_;
  }
  std::vector<std::string> Started() {
    std::lock_guard lock(mutex_);
    return started_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> started_;
  std::vector<ReportResult> delivered_;
  bool released_ = false;
};

ReportRequest Request(const std::string& monitor, std::int64_t start = 0) {
  return {ReportKind::kHealth, {monitor, {}, {start, start + 3600, false}}};
}

TEST(ReportLoaderTest, OnlyTheNewestRequestIsDelivered) {
  const struct {
    const char* name;
    std::vector<ReportRequest> after;  // while the held load runs
    bool cancel;                       // then Cancel
    std::vector<std::string> runs;     // loads run before the last request
  } cases[] = {
      {"a new period of the same monitor", {Request("held", 60)}, false, {"held", "held"}},
      {"another monitor", {Request("other")}, false, {"held", "other"}},
      {"a pending request superseded too",
       {Request("skipped"), Request("other")},
       false,
       {"held", "other"}},
      {"cancelled", {}, true, {"held"}},
  };
  for (const auto& c : cases) {
    ScriptedLoads loads;
    ReportLoader loader([&](ReportResult r) { loads.Deliver(std::move(r)); },
                        [&](const ReportRequest& r) { return loads.Load(r); });
    std::uint64_t newest = loader.Request(Request("held"));
    loads.WaitStarted(1);
    std::vector<std::uint64_t> expected;
    for (const ReportRequest& request : c.after) {
      const std::uint64_t generation = loader.Request(request);
      EXPECT_GT(generation, newest) << c.name;
      newest = generation;
    }
    if (c.cancel) {
      loader.Cancel();
    } else {
      expected.push_back(newest);
    }
    loads.Release();
    if (!c.cancel) loads.WaitDelivered(1);
    // A last request: every result before it has been delivered or dropped by then.
    expected.push_back(loader.Request(Request("last")));
    const std::vector<ReportResult> delivered = loads.WaitDelivered(expected.size());
    std::vector<std::uint64_t> generations;
    for (const ReportResult& result : delivered) {
      generations.push_back(result.generation);
      const auto* texts = std::get_if<HealthReportTexts>(&result.texts);
      ASSERT_NE(texts, nullptr) << c.name;
      EXPECT_EQ(texts->criticalText, result.request.inputs.monitorId) << c.name;
    }
    EXPECT_EQ(generations, expected) << c.name;
    EXPECT_TRUE(loader.IsCurrent(delivered.back())) << c.name;
    // A result delivered before a newer request is no longer current on arrival.
    EXPECT_FALSE(delivered.size() > 1 && loader.IsCurrent(delivered.front())) << c.name;
    std::vector<std::string> runs = c.runs;
    runs.push_back("last");
    EXPECT_EQ(loads.Started(), runs) << c.name;
  }
}

}  // namespace
}  // namespace engine
