#include "controls/chart_model.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace controls {
namespace {

TEST(ChartModel, RoundsTheMaximumAndLabelsTheValueAxis) {
  using L = std::vector<std::int64_t>;
  struct Case {
    std::vector<double> values;
    double maximum;
    L labels;
  } const cases[] = {
      {{0, 0}, 0, {0, 1}},
      {{0.5}, 1, {0, 0, 1}},
      {{1}, 2, {0, 1, 2}},
      {{2.5, -1}, 3, {0, 1, 3}},
      {{3}, 4, {0, 1, 2, 3, 4}},
      {{4}, 5, {0, 1, 2, 3, 5}},  // truncated quarters
      {{7}, 8, {0, 2, 4, 6, 8}},
      {{9.5}, 10, {0, 2, 5, 7, 10}},
      {{10}, 20, {0, 5, 10, 15, 20}},
      {{99, -50}, 100, {0, 25, 50, 75, 100}},
      {{100}, 200, {0, 50, 100, 150, 200}},
      {{1234}, 2000, {0, 500, 1000, 1500, 2000}},
      {{5000}, 6000, {0, 1500, 3000, 4500, 6000}},
      {{2147483648.0}, 3e9, {0, 750000000, 1500000000, 2250000000, 3000000000}},
      {{1e30},
       1e18,
       {0, 250000000000000000, 500000000000000000, 750000000000000000,
        1000000000000000000}},  // clamped so that the labels fit
      {{-1, -1}, 0, {}},
      {{}, 0, {}},
  };
  for (const auto& c : cases) {
    ChartModel model;
    GraphPoints points;
    for (double v : c.values) points.push_back({v, 0});
    model.SetSeries(points, 3);
    EXPECT_EQ(model.MaxValue(), c.maximum) << c.maximum;
    EXPECT_EQ(model.ValueLabels(), c.labels) << c.maximum;
  }
}

TEST(ChartModel, DenseRuleChoosesTimeLabels) {
  struct Case {
    int n, dense;
    std::vector<int> labels;
  } const cases[] = {
      {0, 10, {}},
      {1, 10, {0}},
      {2, 10, {0, 1}},
      {3, 10, {0, 1, 2}},
      {9, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {10, 10, {0, 4, 8}},  // 9 follows the drawn 8
      {11, 10, {0, 4, 8, 10}},
      {14, 10, {0, 4, 8, 12}},
      {15, 10, {0, 4, 8, 12, 14}},
      {5, 6, {0, 1, 2, 3, 4}},
      {6, 6, {0, 4}},
      {7, 6, {0, 4, 6}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TimeLabelIndexes(c.n, c.dense), c.labels) << c.n << "/" << c.dense;
  }
}

TEST(ChartModel, FittingLabelsKeepTheLastAndSkipOnlyOverlaps) {
  struct Case {
    const char* what;
    std::vector<LabelExtent> extents;
    int gap;
    std::vector<int> drawn;
  } const cases[] = {
      {"none", {}, 0, {}},
      {"one", {{5, 9}}, 3, {0}},
      {"touching texts fit without a gap", {{0, 10}, {10, 20}, {20, 30}}, 0, {0, 1, 2}},
      {"a gap is kept", {{0, 10}, {11, 20}, {22, 30}}, 2, {0, 2}},
      {"the last drops the one before it", {{0, 10}, {12, 20}, {21, 30}}, 2, {0, 2}},
      {"a skipped label does not block the next",
       {{0, 10}, {5, 15}, {10, 20}, {30, 40}},
       0,
       {0, 2, 3}},
      {"the last drops every label it overlaps", {{0, 50}, {40, 60}, {45, 70}}, 0, {2}},
  };
  for (const Case& c : cases) EXPECT_EQ(FittingLabels(c.extents, c.gap), c.drawn) << c.what;
}

TEST(ChartModel, TimeLabelsInTheCLocale) {
  const char* oldTz = std::getenv("TZ");
  const std::string tz = oldTz ? oldTz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string locale = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.utf8");  // the labels must not follow it

  const std::int64_t evening = 1700000000;  // Tue 14 Nov 2023 22:13:20 UTC
  struct Case {
    std::int64_t time;
    int format;
    const char* text;
  } const cases[] = {
      {0, kTimeFormatMinutes, "12:00 AM"},
      {0, kTimeFormatHours, "12:00 AM"},
      {43200, kTimeFormatMinutes, "12:00 PM"},
      {43259, kTimeFormatHours, "12:00 PM"},
      {evening, kTimeFormatMinutes, "10:13 PM"},
      {evening, kTimeFormatHours, "10:00 PM"},
      {evening, kTimeFormatDays, "14 Nov"},
      {evening, kTimeFormatMonths, "Nov"},
      {evening, 7, "10:13 PM"},
      {32700, kTimeFormatMinutes, "09:05 AM"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatTimeLabel(c.time, c.format), c.text) << c.time << "/" << c.format;
  }
  ChartModel model;
  model.SetSeries({{1, 0}, {2, evening}}, 0);
  model.SetTimeFormat(kTimeFormatDays);  // applies from the next series on
  EXPECT_EQ(model.TimeLabels(), (std::vector<std::string>{"12:00 AM", "10:13 PM"}));
  model.SetSeries({{1, evening}}, 1);  // labels come from series 0 only
  EXPECT_EQ(model.TimeLabels(), (std::vector<std::string>{"01 Jan", "14 Nov"}));

  std::setlocale(LC_ALL, locale.c_str());
  oldTz ? setenv("TZ", tz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

TEST(ChartModel, AddPointKeepsTimeOrder) {
  struct Case {
    std::int64_t time;
    std::size_t position;
  } const cases[] = {{5, 0}, {15, 1}, {20, 3}, {30, 4}, {35, 4}};  // equal times: after
  for (const auto& c : cases) {
    GraphPoints points{{1, 10}, {2, 20}, {3, 20}, {4, 30}};
    ChartModel::AddPoint(points, {99, c.time});
    EXPECT_EQ(points[c.position].value, 99) << c.time;
  }
}

TEST(ChartModel, IgnoresOtherIndexesAndClearsLaterNames) {
  ChartModel model;
  EXPECT_FALSE(model.SetSeries({{5, 0}}, 5));
  EXPECT_FALSE(model.SetSeries({{5, 0}}, -1));
  EXPECT_TRUE(model.ValueLabels().empty());

  model.SetSeriesNames({"a", "b", "c"});
  model.SetSeriesNames({"x"});
  EXPECT_EQ(model.SeriesName(0), "x");
  EXPECT_EQ(model.SeriesName(1), "");
  EXPECT_EQ(model.SeriesName(2), "");
}

}  // namespace
}  // namespace controls
