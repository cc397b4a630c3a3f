// The report views' period memory as state steps: what the bar selects and shows, what is
// remembered on the monitor and what is loaded when a view is shown, a period is chosen,
// Refresh is clicked and the shown monitor polls.
#include <gtest/gtest.h>

#include <string>

#include "app/views/report_period.h"

namespace app {
namespace {

using engine::PeriodBounds;
using engine::PeriodBoundsFor;

constexpr std::int64_t kNow = 1709719200;  // a Wednesday morning
constexpr std::int64_t kDay = 86400;

// The step a named period gives at kNow: pickers set, remembered and loaded.
PeriodStep NamedStep(int period) {
  const PeriodBounds b = *PeriodBoundsFor(period, kNow);
  PeriodStep step;
  step.bar = {period, b.start, b.end};
  step.setPickers = true;
  step.store = PeriodMemory{b.start, b.end, period};
  step.load = b;
  return step;
}

std::string Describe(const PeriodStep& s) {
  std::string text = "bar " + std::to_string(s.bar.period) + " " + std::to_string(s.bar.start) +
                     ".." + std::to_string(s.bar.end) + (s.setPickers ? " set" : " kept");
  if (s.store) {
    text += " store " + std::to_string(s.store->period) + " " + std::to_string(s.store->start) +
            ".." + std::to_string(s.store->end);
  }
  if (s.load) {
    text += " load " + std::to_string(s.load->start) + ".." + std::to_string(s.load->end) +
            (s.load->endsNow ? " now" : " closed");
  }
  return text + (s.reversed ? " reversed" : "");
}

TEST(ReportPeriodTest, StepsSelectRememberAndLoad) {
  const std::int64_t a = kNow - 3 * kDay;
  const std::int64_t b = kNow - kDay;
  const PeriodBar customBar{engine::kPeriodCustom, a, b};
  const PeriodBar todayBar{engine::kPeriodToday, a, b};
  const auto custom = [](std::int64_t start, std::int64_t end, bool endsNow) {
    return PeriodBounds{start, end, endsNow};
  };
  const struct {
    const char* name;
    PeriodStep step;
    PeriodStep expected;
  } cases[] = {
      {"first show selects Today", PeriodOnShow({}, kNow), NamedStep(engine::kPeriodToday)},
      {"only one end remembered selects Today", PeriodOnShow({a, 0, 0}, kNow),
       NamedStep(engine::kPeriodToday)},
      {"a remembered index outside the list selects Today", PeriodOnShow({a, b, 12}, kNow),
       NamedStep(engine::kPeriodToday)},
      {"a remembered named period moves on to now", PeriodOnShow({a, b, 4}, kNow), NamedStep(4)},
      {"a remembered custom range reselects it with its dates",
       PeriodOnShow({a, b, engine::kPeriodCustom}, kNow),
       {customBar, true, std::nullopt, custom(a, b, false), false}},
      {"a remembered custom range ending later ends now",
       PeriodOnShow({a, kNow + kDay, engine::kPeriodCustom}, kNow),
       {{engine::kPeriodCustom, a, kNow + kDay},
        true,
        std::nullopt,
        custom(a, kNow + kDay, true),
        false}},
      {"a remembered reversed range shows it and loads nothing",
       PeriodOnShow({b, a, engine::kPeriodCustom}, kNow),
       {{engine::kPeriodCustom, b, a}, true, std::nullopt, std::nullopt, false}},
      {"choosing Custom Period remembers the index and loads nothing",
       PeriodOnChoose(engine::kPeriodCustom, todayBar, kNow),
       {customBar, false, PeriodMemory{a, b, engine::kPeriodCustom}, std::nullopt, false}},
      {"choosing a named period fills the pickers and loads", PeriodOnChoose(9, customBar, kNow),
       NamedStep(9)},
      {"no entry chosen changes nothing",
       PeriodOnChoose(-1, todayBar, kNow),
       {todayBar, false, std::nullopt, std::nullopt, false}},
      {"an index past the list changes nothing",
       PeriodOnChoose(10, todayBar, kNow),
       {todayBar, false, std::nullopt, std::nullopt, false}},
      {"a reversed range stores nothing",
       PeriodOnRefresh({engine::kPeriodCustom, b, a}, kNow),
       {{engine::kPeriodCustom, b, a}, false, std::nullopt, std::nullopt, true}},
      {"equal ends load that instant",
       PeriodOnRefresh({engine::kPeriodCustom, a, a}, kNow),
       {{engine::kPeriodCustom, a, a}, false, PeriodMemory{a, a, 0}, custom(a, a, false), false}},
      {"Refresh on Today reloads Today up to now, not the pickers' range as a closed period",
       PeriodOnRefresh(todayBar, kNow), NamedStep(engine::kPeriodToday)},
      {"Refresh on Last Month reloads Last Month", PeriodOnRefresh({8, b, a}, kNow),
       NamedStep(engine::kPeriodLastMonth)},
      {"a poll moves a named period on", PeriodOnPoll({a, b, 1}, todayBar, kNow),
       NamedStep(engine::kPeriodToday)},
      {"a poll reloads the remembered custom range, pickers kept",
       PeriodOnPoll({a, b, 0}, {engine::kPeriodCustom, a - kDay, b}, kNow),
       {{engine::kPeriodCustom, a - kDay, b}, false, std::nullopt, custom(a, b, false), false}},
      {"a poll with no custom range remembered loads nothing",
       PeriodOnPoll({}, customBar, kNow),
       {customBar, false, std::nullopt, std::nullopt, false}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Describe(c.step), Describe(c.expected)) << c.name;
  }
}

}  // namespace
}  // namespace app
