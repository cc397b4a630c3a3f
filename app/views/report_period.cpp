#include "app/views/report_period.h"

namespace app {

namespace {

bool NamedPeriod(int period) {
  return period > engine::kPeriodCustom && period < engine::kReportPeriodCount;
}

// A named period at `now`: the pickers show it, it is remembered and loaded.
PeriodStep Named(int period, std::int64_t now) {
  PeriodStep step;
  const engine::PeriodBounds bounds = *engine::PeriodBoundsFor(period, now);
  step.bar = {period, bounds.start, bounds.end};
  step.setPickers = true;
  step.store = PeriodMemory{bounds.start, bounds.end, period};
  step.load = bounds;
  return step;
}

}  // namespace

PeriodStep PeriodOnShow(const PeriodMemory& memory, std::int64_t now) {
  const bool remembered = memory.start != 0 && memory.end != 0;
  if (!remembered || (memory.period != engine::kPeriodCustom && !NamedPeriod(memory.period))) {
    return Named(engine::kPeriodToday, now);
  }
  if (NamedPeriod(memory.period)) return Named(memory.period, now);
  PeriodStep step;
  step.bar = {engine::kPeriodCustom, memory.start, memory.end};
  step.setPickers = true;
  if (memory.start <= memory.end) {
    step.load = engine::CustomPeriodBounds(memory.start, memory.end, now);
  }
  return step;
}

PeriodStep PeriodOnChoose(int period, const PeriodBar& bar, std::int64_t now) {
  if (NamedPeriod(period)) return Named(period, now);
  PeriodStep step;
  step.bar = bar;
  if (period == engine::kPeriodCustom) {
    step.bar.period = engine::kPeriodCustom;
    step.store = PeriodMemory{bar.start, bar.end, engine::kPeriodCustom};
  }
  return step;
}

PeriodStep PeriodOnRefresh(const PeriodBar& bar, std::int64_t now) {
  if (NamedPeriod(bar.period)) return Named(bar.period, now);
  PeriodStep step;
  step.bar = bar;
  if (bar.start > bar.end) {
    step.reversed = true;
    return step;
  }
  step.store = PeriodMemory{bar.start, bar.end, bar.period};
  step.load = engine::CustomPeriodBounds(bar.start, bar.end, now);
  return step;
}

PeriodStep PeriodOnPoll(const PeriodMemory& memory, const PeriodBar& bar, std::int64_t now) {
  if (NamedPeriod(bar.period)) return Named(bar.period, now);
  PeriodStep step;
  step.bar = bar;
  const bool remembered = memory.start != 0 && memory.end != 0;
  if (remembered && memory.start <= memory.end) {
    step.load = engine::CustomPeriodBounds(memory.start, memory.end, now);
  }
  return step;
}

}  // namespace app
