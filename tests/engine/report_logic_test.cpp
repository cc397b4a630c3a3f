// The report arithmetic: period bounds by the calendar in two time zones, granularity, the
// interval walk, statistics, chart gaps, health shares, the availability walk and the texts.
#include "engine/report/report_logic.h"

#include <gtest/gtest.h>
#include <time.h>

#include <clocale>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/engine/monitor_fixture.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using testing::LocalTime;
using testing_support::ScopedEnv;

class ReportLogicTest : public ::testing::Test {
 protected:
  void SetUp() override { UseZone("UTC"); }
  void TearDown() override {
    tz_.reset();
    tzset();
  }
  void UseZone(const char* zone) {
    tz_.reset();
    tz_.emplace("TZ", zone);
    tzset();
  }
  std::optional<ScopedEnv> tz_;
};

struct Day {
  int y, m, d;
};

TEST_F(ReportLogicTest, NamedPeriodsFollowTheCalendar) {
  struct Case {
    const char* zone;  // nullptr: both UTC and Europe/Berlin
    Day now;
    int period;
    Day start;
    std::optional<Day> end;  // nullopt: now
    std::int64_t spanHours;  // -1: not checked
  };
  const Case cases[] = {
      // An ordinary Wednesday.
      {nullptr, {2024, 3, 13}, kPeriodToday, {2024, 3, 13}, {}, -1},
      {nullptr, {2024, 3, 13}, kPeriodYesterday, {2024, 3, 12}, Day{2024, 3, 13}, 24},
      {nullptr, {2024, 3, 13}, kPeriodThisWeek, {2024, 3, 10}, {}, -1},
      {nullptr, {2024, 3, 13}, kPeriodLast7Days, {2024, 3, 6}, Day{2024, 3, 13}, -1},
      {nullptr, {2024, 3, 13}, kPeriodLastWeek, {2024, 3, 3}, Day{2024, 3, 10}, -1},
      {nullptr, {2024, 3, 13}, kPeriodThisMonth, {2024, 3, 1}, {}, -1},
      {nullptr, {2024, 3, 13}, kPeriodLast30Days, {2024, 2, 12}, Day{2024, 3, 13}, -1},
      {nullptr, {2024, 3, 13}, kPeriodLastMonth, {2024, 2, 1}, Day{2024, 3, 1}, -1},
      {nullptr, {2024, 3, 13}, kPeriodThisYear, {2024, 1, 1}, {}, -1},
      // Sunday, and January.
      {nullptr, {2024, 3, 17}, kPeriodThisWeek, {2024, 3, 17}, {}, -1},
      {nullptr, {2024, 3, 17}, kPeriodLastWeek, {2024, 3, 10}, Day{2024, 3, 17}, -1},
      {nullptr, {2024, 1, 15}, kPeriodLastMonth, {2023, 12, 1}, Day{2024, 1, 1}, -1},
      // Summer time began on 31 Mar 2024 and ended on 27 Oct 2024 in Berlin.
      {"Europe/Berlin", {2024, 4, 1}, kPeriodYesterday, {2024, 3, 31}, Day{2024, 4, 1}, 23},
      {"Europe/Berlin", {2024, 10, 28}, kPeriodYesterday, {2024, 10, 27}, Day{2024, 10, 28}, 25},
      {"Europe/Berlin", {2024, 4, 3}, kPeriodThisWeek, {2024, 3, 31}, {}, -1},
      {"Europe/Berlin", {2024, 4, 7}, kPeriodLastWeek, {2024, 3, 31}, Day{2024, 4, 7}, 167},
      {"Europe/Berlin", {2024, 10, 30}, kPeriodThisWeek, {2024, 10, 27}, {}, -1},
      {"Europe/Berlin", {2024, 11, 5}, kPeriodLastWeek, {2024, 10, 27}, Day{2024, 11, 3}, 169},
  };
  for (const Case& c : cases) {
    for (const char* zone : {"UTC", "Europe/Berlin"}) {
      if (c.zone != nullptr && std::string(c.zone) != zone) continue;
      UseZone(zone);
      const std::int64_t now = LocalTime(c.now.y, c.now.m, c.now.d, 14, 30, 15);
      SCOPED_TRACE(std::string(zone) + " " + ReportPeriodName(c.period) + " on " +
                   std::to_string(c.now.m) + "/" + std::to_string(c.now.d));
      const auto bounds = PeriodBoundsFor(c.period, now);
      ASSERT_TRUE(bounds.has_value());
      EXPECT_EQ(bounds->start, LocalTime(c.start.y, c.start.m, c.start.d));
      EXPECT_EQ(bounds->end, c.end ? LocalTime(c.end->y, c.end->m, c.end->d) : now);
      EXPECT_EQ(bounds->endsNow, !c.end.has_value());
      if (c.spanHours >= 0) {
        EXPECT_EQ(bounds->end - bounds->start, c.spanHours * 3600);
      }
    }
  }
  EXPECT_FALSE(PeriodBoundsFor(kPeriodCustom, 0).has_value());
  EXPECT_FALSE(PeriodBoundsFor(kReportPeriodCount, 0).has_value());
  EXPECT_STREQ(ReportPeriodName(kPeriodThisYear), "This Year");
  EXPECT_TRUE(CustomPeriodBounds(10, 20, 20).endsNow);
  EXPECT_FALSE(CustomPeriodBounds(10, 20, 21).endsNow);
}

TEST_F(ReportLogicTest, GranularityAndBounds) {
  const std::pair<std::int64_t, int> spans[] = {{0, 0},          {86400 + 86399, 0},
                                                {2 * 86400, 1},  {30 * 86400 + 23 * 3600, 1},
                                                {31 * 86400, 2}, {-5 * 86400, 0}};
  for (const auto& [span, granularity] : spans) {
    EXPECT_EQ(ReportGranularity(1000, 1000 + span), granularity) << span;
  }
  const std::pair<std::int64_t, const char*> bounds[] = {{-5, "0000000000"},
                                                         {999999999, "0999999999"},
                                                         {1700000000, "1700000000"},
                                                         {kLatestReportTime + 5, "9999999999"}};
  for (const auto& [t, text] : bounds) EXPECT_EQ(TenDigitTime(t), text) << t;
}

TEST_F(ReportLogicTest, WalkOpensIntervalsOnYearAndGranularityField) {
  struct Case {
    const char* what;
    int granularity;
    std::vector<std::int64_t> times;  // the first is the period's start
    std::vector<bool> closes;
  };
  const Case cases[] = {
      {"same hour next day",
       0,
       {LocalTime(2024, 3, 5, 10), LocalTime(2024, 3, 5, 10, 15), LocalTime(2024, 3, 6, 10, 40),
        LocalTime(2024, 3, 6, 11)},
       {false, false, true}},
      {"year change, same hour",
       0,
       {LocalTime(2023, 5, 1, 10), LocalTime(2023, 5, 1, 10, 5), LocalTime(2024, 5, 1, 10, 20)},
       {false, true}},
      {"months over a year",
       2,
       {LocalTime(2023, 3, 1), LocalTime(2023, 3, 5), LocalTime(2023, 4, 1), LocalTime(2024, 4, 2)},
       {false, true, true}},
  };
  for (const Case& c : cases) {
    IntervalWalk walk(c.times[0], c.granularity);
    std::vector<bool> closes;
    for (std::size_t i = 1; i < c.times.size(); ++i) closes.push_back(walk.Next(c.times[i]));
    EXPECT_EQ(closes, c.closes) << c.what;
  }
}

// Around changes of the UTC offset by an hour and by half an hour, the walk splits as
// the local fields of each row say.
TEST_F(ReportLogicTest, WalkMatchesLocalFieldsAcrossOffsetChanges) {
  const std::pair<const char*, std::int64_t> changes[] = {{"Europe/Berlin", 1729990800},
                                                          {"Australia/Lord_Howe", 1712415600}};
  for (const auto& [zone, change] : changes) {
    UseZone(zone);
    for (int granularity = 0; granularity < 3; ++granularity) {
      const std::int64_t start = change - 86400;
      IntervalWalk walk(start, granularity);
      auto key = [&](std::int64_t t) {
        const time_t value = static_cast<time_t>(t);
        struct tm local {};
        localtime_r(&value, &local);
        const int field[] = {local.tm_hour, local.tm_mday, local.tm_mon};
        return std::pair{local.tm_year, field[granularity]};
      };
      auto previous = key(start);
      bool first = true;
      for (std::int64_t t = start + 1, step = 1; t < change + 86400; step = step * 7 % 1999 + 1) {
        const auto k = key(t);
        ASSERT_EQ(walk.Next(t), !first && k != previous) << zone << " " << t;
        previous = k;
        first = false;
        t += step;
      }
    }
  }
}

TEST_F(ReportLogicTest, TimesReportIntervalsAndChart) {
  const std::int64_t start = LocalTime(2024, 3, 5, 10);
  const PeriodBounds open{start, LocalTime(2024, 3, 5, 13), true};
  TimesReportBuilder example(open, true);
  for (const auto& [minutes, value] : {std::pair{5, 4}, {40, 6}, {70, -1}, {140, 8}}) {
    example.Add(start + minutes * 60, value);
  }
  const TimesReport report = example.Finish();
  ASSERT_EQ(report.intervals.size(), 2u);
  using Row = std::array<std::string, 4>;
  EXPECT_EQ(IntervalRowTexts(report.intervals[0], report.granularity),
            (Row{"05 Mar 2024 11:00 AM", "4", "6", "5"}));
  EXPECT_EQ(IntervalRowTexts(report.intervals[1], report.granularity),
            (Row{"05 Mar 2024 12:00 PM", "-", "-", "-"}));

  // Rows in one interval: nothing while the period ends now, one interval labelled with
  // its last row once it is closed.
  for (const bool endsNow : {true, false}) {
    TimesReportBuilder single({start, start + 3000, endsNow}, false);
    single.Add(start + 60, 7);
    single.Add(start + 120, 9);
    const TimesReport r = single.Finish();
    ASSERT_EQ(r.intervals.size(), endsNow ? 0u : 1u);
    if (!endsNow) {
      EXPECT_EQ(IntervalRowTexts(r.intervals[0], r.granularity),
                (Row{"05 Mar 2024 10:02 AM", "7", "9", "8"}));
    }
  }

  // Labels 10:05 and 14:10 put empty points at 11:05, 12:05 and 13:05 into all series.
  TimesReportBuilder gaps({start - 3600, start + 6 * 3600, true}, true);
  for (const int minutes : {-55, 5, 250, 300}) gaps.Add(start + minutes * 60, 1);
  const TimesReport g = gaps.Finish();
  for (const Series& s : g.series) {
    std::vector<std::pair<double, std::int64_t>> points;
    for (const SeriesPoint& p : s) points.emplace_back(p.value, (p.time - start) / 60);
    EXPECT_EQ(points, (std::vector<std::pair<double, std::int64_t>>{
                          {1, 5}, {-1, 65}, {-1, 125}, {-1, 185}, {1, 250}, {1, 300}}));
  }
}

// A closed period lists every interval that holds rows once, under labels that differ:
// each but the last by the row after it, the last by its own last row to the minute, or
// by the start of the next hour when that text is the label before it.
TEST_F(ReportLogicTest, ClosedPeriodsListEachIntervalOnceUnderItsOwnLabel) {
  struct Case {
    const char* what;
    const char* zone;
    PeriodBounds period;
    std::vector<std::int64_t> rows;
    std::vector<std::string> labels;  // oldest first
  };
  std::vector<std::int64_t> march;  // noon of every day of March 2024
  for (int day = 1; day <= 31; ++day) march.push_back(LocalTime(2024, 3, day, 12));
  std::vector<std::int64_t> marchAndEnd = march;
  marchAndEnd.push_back(LocalTime(2024, 4, 1));
  const std::int64_t ten = LocalTime(2024, 3, 5, 10);
  const auto at = [ten](int minutes) { return ten + minutes * 60; };
  std::vector<std::string> berlinDays;
  for (int day = 2; day <= 31; ++day) {
    berlinDays.push_back((day < 10 ? "0" : "") + std::to_string(day) + " Mar 2024");
  }
  berlinDays.push_back("31 Mar 2024 12:00 PM");
  const Case cases[] = {
      {"custom 10:00-14:37",
       "UTC",
       {ten, at(277), false},
       {at(190), at(230), at(250), at(270)},
       {"05 Mar 2024 02:00 PM", "05 Mar 2024 02:30 PM"}},
      {"Last Month of 31 days: one month",
       "UTC",
       *PeriodBoundsFor(kPeriodLastMonth, LocalTime(2024, 4, 13, 9)),
       march,
       {"31 Mar 2024 12:00 PM"}},
      {"Last Month with a row on its end",
       "UTC",
       *PeriodBoundsFor(kPeriodLastMonth, LocalTime(2024, 4, 13, 9)),
       marchAndEnd,
       {"Apr 2024", "01 Apr 2024 12:00 AM"}},
      {"Last Month of 31 days less the summer hour: days", "Europe/Berlin", {}, march, berlinDays},
      {"rows on the end of the hour before",
       "UTC",
       {ten, at(120), false},
       {at(30), at(90), at(120)},
       {"05 Mar 2024 11:00 AM", "05 Mar 2024 12:00 PM", "05 Mar 2024 01:00 PM"}},
      {"no row on the end",
       "UTC",
       {ten, at(120), false},
       {at(30), at(90)},
       {"05 Mar 2024 11:00 AM", "05 Mar 2024 11:30 AM"}},
      {"a single instant", "UTC", {ten, ten, false}, {ten}, {"05 Mar 2024 10:00 AM"}},
  };
  for (const Case& c : cases) {
    UseZone(c.zone);
    std::vector<std::int64_t> rows = c.rows;
    PeriodBounds period = c.period;
    if (period.end == 0) {  // rows and bounds taken in this zone's local time
      period = *PeriodBoundsFor(kPeriodLastMonth, LocalTime(2024, 4, 13, 9));
      rows.clear();
      for (int day = 1; day <= 31; ++day) rows.push_back(LocalTime(2024, 3, day, 12));
    }
    TimesReportBuilder builder(period, false);
    for (const std::int64_t t : rows) builder.Add(t, 5);
    const TimesReport report = builder.Finish();
    std::vector<std::string> labels;
    for (const IntervalStats& interval : report.intervals) {
      labels.push_back(IntervalRowTexts(interval, report.granularity)[0]);
    }
    EXPECT_EQ(labels, c.labels) << c.what;
  }
}

TEST_F(ReportLogicTest, StatisticsAndGaps) {
  struct Stats {
    std::vector<std::int32_t> values;
    std::int32_t min, max;
    std::int64_t average;
  };
  const Stats stats[] = {{{}, -1, -1, -1},
                         {{-1, -1}, -1, -1, -1},
                         {{1, 2}, 1, 2, 1},
                         {{-3, -4}, -4, -3, -3},
                         {{-1, 5, -1}, 5, 5, 5}};
  for (const Stats& s : stats) {
    ValueStats v;
    for (const std::int32_t value : s.values) v.Add(value);
    EXPECT_EQ((std::tuple{v.Min(), v.Max(), v.Average()}), (std::tuple{s.min, s.max, s.average}));
  }
  struct Gap {
    std::int64_t previous, label;
    int granularity;
    std::vector<std::int64_t> times;
  };
  const std::int64_t h = 3600, d = 86400;
  const Gap gaps[] = {{0, 4 * h + 300, 0, {h, 2 * h, 3 * h}},
                      {0, h + 59 * 60, 0, {}},
                      {0, 3 * d, 1, {d, 2 * d}},
                      {0, 95 * d, 2, {30 * d, 60 * d}},
                      {0, 59 * d, 2, {}}};
  for (const Gap& g : gaps) {
    EXPECT_EQ(ChartGapTimes(g.previous, g.label, g.granularity), g.times) << g.label;
  }
}

TEST_F(ReportLogicTest, HealthShares) {
  struct Case {
    std::vector<std::pair<int, int>> rows;  // minutes after 10:00, health
    std::vector<double> points;
    const char* critical;
    const char* clear;
  };
  const Case cases[] = {
      {{{5, 1}, {10, 0}, {20, 1}, {30, 1}, {65, 1}, {70, 1}, {130, 0}},
       {25.0, 0.0},
       "28.57 %",
       "71.43 %"},
      {{{10, 1}, {70, 1}, {80, 1}}, {0.0}, "0.00 %", "100.00 %"},
      {{{10, 0}, {20, 1}, {30, 1}}, {}, "33.33 %", "66.67 %"},
      {{}, {}, "-", "-"},
  };
  const std::int64_t start = LocalTime(2024, 3, 5, 10);
  for (const Case& c : cases) {
    HealthReportBuilder builder({start, start + 5 * 3600, true});
    for (const auto& [minutes, health] : c.rows) builder.Add(start + minutes * 60, health);
    const HealthReport report = builder.Finish();
    std::vector<double> points;
    for (const SeriesPoint& p : report.critical) points.push_back(p.value);
    EXPECT_EQ(points, c.points);
    EXPECT_EQ(report.criticalText, c.critical);
    EXPECT_EQ(report.clearText, c.clear);
  }
}

TEST_F(ReportLogicTest, AvailabilityWalk) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, bool>> rows;  // minutes after the start, available
    std::array<std::string, 5> texts;
    std::vector<std::pair<int, int>> downtimes;  // from, to in minutes
    int firstSample = -1;                        // minutes; before the start: older rows
  };
  const Case cases[] = {
      {"example",
       {{15, true}, {30, false}, {45, false}, {60, true}, {75, true}},
       {"45 Minutes", "30 Minutes", "60.00%", "30 Minutes", "15 Minutes"},
       {{30, 60}}},
      {"no rows", {}, {"-", "-", "-", "-", "-"}, {}},
      {"only up", {{15, true}, {30, true}}, {"30 Minutes", "-", "100.00%", "-", "-"}, {}},
      {"ends in an outage",
       {{60, true}, {120, false}, {180, false}},
       {"1 Hours ", "2 Hours ", "33.33%", "-", "1 Hours "},
       {}},
      {"clock set back",
       {{60, true}, {30, false}, {90, true}},
       {"1 Hours 30 Minutes", "-", "100.00%", "-", "1 Hours "},
       {{90, 90}}},
      // The monitor's first sample in the period: its row stands for no time and begins
      // a run in its own state.
      {"first sample up",
       {{15, true}, {30, false}, {45, false}, {60, true}, {75, true}},
       {"30 Minutes", "30 Minutes", "50.00%", "30 Minutes", "-"},
       {{30, 60}},
       15},
      {"first sample down",
       {{15, false}, {30, false}, {60, true}, {90, false}},
       {"30 Minutes", "45 Minutes", "40.00%", "15 Minutes", "30 Minutes"},
       {{45, 60}},
       15},
  };
  for (const Case& c : cases) {
    AvailabilityWalk walk(0, c.firstSample * 60);
    for (const auto& [minutes, available] : c.rows) walk.Add(minutes * 60, available);
    const AvailabilityResult result = walk.Finish();
    EXPECT_EQ(AvailabilityTexts(result), c.texts) << c.what;
    std::vector<std::pair<int, int>> downtimes;
    for (const DowntimeRecord& r : result.downtimes) {
      downtimes.emplace_back(r.from / 60, r.to / 60);
      EXPECT_EQ(r.duration, r.to - r.from);
    }
    EXPECT_EQ(downtimes, c.downtimes) << c.what;
  }
  AvailabilityWalk many(0, -1);
  for (int i = 0; i < 102; ++i) {
    many.Add(i * 600 + 60, false);
    many.Add(i * 600 + 300, true);
  }
  const AvailabilityResult result = many.Finish();
  ASSERT_EQ(result.downtimes.size(), kMaxDowntimes);
  EXPECT_EQ(result.downtimes.front().to, 600 + 300);
  EXPECT_EQ(result.downtimes.back().to, 101 * 600 + 300);
  EXPECT_EQ(result.repairs, 102);
}

TEST_F(ReportLogicTest, TextsAndSummary) {
  const std::pair<std::int64_t, const char*> spans[] = {
      {90061, "1 Days 1 Hours 1 Minutes"},
      {3600, "1 Hours "},
      {86400, "1 Days "},
      {59, "-"},
      {0, "-"},
      {-7200, "-"},
      {std::int64_t{1} << 40, "12725829 Days 36 Minutes"}};
  for (const auto& [span, text] : spans) EXPECT_EQ(FormatTimeSpan(span), text) << span;

  TestQuerySummary summary;
  for (const auto& [id, value] :
       {std::pair{"b", 5}, {"a", -1}, {"gone", 3}, {"b", 2}, {"B", -2}, {"B", -4}}) {
    summary.Add(id, value);
  }
  using Row = std::array<std::string, 4>;
  EXPECT_EQ(summary.Rows({{"a", "First"}, {"b", "Second"}, {"B", "Third"}}),
            (std::vector<Row>{
                {"Third", "-4", "-2", "-3"}, {"First", "-", "-", "-"}, {"Second", "2", "5", "3"}}));

  // Texts stay in the C locale under a German one.
  if (std::setlocale(LC_ALL, "de_DE.utf8") == nullptr) GTEST_SKIP() << "no German locale";
  const std::int64_t t = LocalTime(2024, 3, 5, 10, 20);
  EXPECT_EQ(IntervalLabelText(t, 0), "05 Mar 2024 10:00 AM");
  EXPECT_EQ(IntervalLabelText(t, 2), "Mar 2024");
  EXPECT_EQ(DowntimeRowTexts({t, t + 5400, 5400}),
            (std::array<std::string, 3>{"05 Mar 2024 10:20 AM", "05 Mar 2024 11:50 AM",
                                        "1 Hours 30 Minutes"}));
  EXPECT_EQ(PercentText(12.5), "12.50 %");
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace engine
