#include "controls/chart_model.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace controls {
namespace {

GraphPoints Values(const std::vector<double>& values) {
  GraphPoints points;
  std::int64_t time = 1000;
  for (double v : values) points.push_back({v, time += 60});
  return points;
}

TEST(ChartModel, RoundsTheMaximumUpToTheNextLeadingStep) {
  struct Case {
    std::vector<double> values;
    double maximum;
  } const cases[] = {
      {{}, 0},        {{0}, 0},       {{0.5}, 1},     {{1}, 2},
      {{7}, 8},       {{9.5}, 10},    {{10}, 20},     {{99}, 100},
      {{100}, 200},   {{1234}, 2000}, {{5000}, 6000}, {{-1, 7, -1}, 8},
      {{-1}, 0},      {{-50}, 0},     {{3e9}, 4e9},   {{2147483648.0}, 3e9},
      {{1e30}, 1e18},  // clamped: the labels still fit 64 bits
  };
  for (const auto& c : cases) {
    ChartModel model;
    model.SetSeries(Values(c.values), 3);
    EXPECT_EQ(model.MaxValue(), c.maximum) << (c.values.empty() ? -2 : c.values[0]);
  }
}

TEST(ChartModel, ValueLabelsAreTruncatedQuarters) {
  using L = std::vector<std::int64_t>;
  struct Case {
    double m;
    bool anyValue;
    L labels;
  } const cases[] = {
      {0, true, {0, 1}},
      {1, true, {0, 0, 1}},
      {2, true, {0, 1, 2}},
      {3, true, {0, 1, 3}},
      {4, true, {0, 1, 2, 3, 4}},
      {5, true, {0, 1, 2, 3, 5}},
      {8, true, {0, 2, 4, 6, 8}},
      {100, true, {0, 25, 50, 75, 100}},
      {4e9, true, {0, 1000000000, 2000000000, 3000000000, 4000000000}},
      {1e18,
       true,
       {0, 250000000000000000, 500000000000000000, 750000000000000000, 1000000000000000000}},
      {8, false, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ValueLabelsFor(c.m, c.anyValue), c.labels) << c.m;

  ChartModel model;
  model.SetSeries(Values({-1, -1}), 0);
  EXPECT_TRUE(model.ValueLabels().empty());
  model.SetSeries(Values({0, 0}), 1);
  EXPECT_EQ(model.ValueLabels(), (L{0, 1}));
}

TEST(ChartModel, DenseRuleChoosesTimeLabels) {
  using I = std::vector<int>;
  struct Case {
    int n, dense;
    I labels;
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
  EXPECT_EQ(DenseColumns(10, 10), (I{4, 8}));
  EXPECT_EQ(DenseColumns(9, 10), (I{1, 2, 3, 4, 5, 6, 7}));
}

class TimeLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) tz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
    locale_ = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "de_DE.utf8");  // the labels must not follow it
  }
  void TearDown() override {
    std::setlocale(LC_ALL, locale_.c_str());
    if (hadTz_) {
      setenv("TZ", tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string tz_;
  std::string locale_;
};

TEST_F(TimeLabelTest, FormatsInTheCLocale) {
  const std::int64_t evening = 1700000000;  // Tue 14 Nov 2023 22:13:20 UTC
  struct Case {
    std::int64_t time;
    int format;
    const char* text;
  } const cases[] = {
      {0, kTimeFormatMinutes, "12:00 AM"},
      {0, kTimeFormatHours, "12:00 AM"},
      {43200, kTimeFormatMinutes, "12:00 PM"},
      {43200 + 59, kTimeFormatHours, "12:00 PM"},
      {evening, kTimeFormatMinutes, "10:13 PM"},
      {evening, kTimeFormatHours, "10:00 PM"},
      {evening, kTimeFormatDays, "14 Nov"},
      {evening, kTimeFormatMonths, "Nov"},
      {evening, 7, "10:13 PM"},
      {3600 * 9 + 5 * 60, 3, "09:05 AM"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatTimeLabel(c.time, c.format), c.text) << c.time << "/" << c.format;
  }

  ChartModel model;
  model.SetSeries({{1, 0}, {2, evening}}, 0);
  EXPECT_EQ(model.TimeLabels(), (std::vector<std::string>{"12:00 AM", "10:13 PM"}));
  model.SetTimeFormat(kTimeFormatDays);  // applies from the next series only
  EXPECT_EQ(model.TimeLabels()[1], "10:13 PM");
  model.SetSeries({{1, evening}}, 1);  // other series give no labels, but recompute them
  EXPECT_EQ(model.TimeLabels(), (std::vector<std::string>{"01 Jan", "14 Nov"}));
}

TEST(ChartModel, AddPointKeepsTimeOrder) {
  struct Case {
    std::int64_t time;
    std::size_t position;
  } const cases[] = {{5, 0}, {15, 1}, {20, 3}, {30, 4}, {35, 4}};
  for (const auto& c : cases) {
    GraphPoints points{{1, 10}, {2, 20}, {3, 20}, {4, 30}};
    ChartModel::AddPoint(points, {99, c.time});
    if (c.time > 30) {
      EXPECT_EQ(points.back().value, 99) << c.time;
      continue;
    }
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[c.position].value, 99) << c.time;
    EXPECT_EQ(points[c.position].time, c.time);
  }
}

TEST(ChartModel, KeepsItsSettings) {
  ChartModel model;
  EXPECT_EQ(model.LeftMargin(), 55);
  EXPECT_EQ(model.DenseLimit(), 6);
  EXPECT_EQ(model.LegendMode(), 1);
  EXPECT_EQ(model.TimeFormat(), 3);
  EXPECT_EQ(model.PenWidth(), 1);
  EXPECT_EQ(model.Color(0), (ChartRgb{100, 100, 255}));
  EXPECT_EQ(model.Color(4), (ChartRgb{100, 200, 200}));

  EXPECT_FALSE(model.SetSeries(Values({5}), 5));
  EXPECT_FALSE(model.SetSeries(Values({5}), -1));
  EXPECT_EQ(model.MaxValue(), 0);

  model.SetSeriesNames({"a", "b", "c"});
  model.SetSeriesNames({"x"});  // the later slots are cleared, not kept
  EXPECT_EQ(model.SeriesName(0), "x");
  EXPECT_EQ(model.SeriesName(1), "");
  EXPECT_EQ(model.SeriesName(2), "");

  model.SetColors(2, {255, 0, 0}, 0);
  model.SetColors(3, {1, 2, 3}, 5);  // the pen width applies, the index does not
  EXPECT_EQ(model.PenWidth(), 3);
  EXPECT_EQ(model.Color(0), (ChartRgb{255, 0, 0}));

  EXPECT_EQ(BottomMarginFor(0, 13), 0);
  EXPECT_EQ(BottomMarginFor(1, 13), 26);
  EXPECT_EQ(BottomMarginFor(2, 13), 39);
  EXPECT_EQ(BottomMarginFor(3, 13), 0);
}

}  // namespace
}  // namespace controls
