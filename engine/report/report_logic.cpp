#include "engine/report/report_logic.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <span>

#include "platform/time_format.h"

namespace engine {
namespace {

constexpr std::int64_t kDay = 86400;

bool LocalFields(std::int64_t t, struct tm& local) {
  const time_t value = static_cast<time_t>(t);
  return localtime_r(&value, &local) != nullptr;
}

// Local midnight of the day `days` days before the day of `now`, optionally on another
// day of the month and month of the year (tm fields, normalised by mktime).
std::int64_t Midnight(const struct tm& nowLocal, int mdayMinus, int setMday, int monMinus,
                      bool firstMonth, std::int64_t fallback) {
  struct tm local = nowLocal;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  if (setMday > 0) local.tm_mday = setMday;
  local.tm_mday -= mdayMinus;
  local.tm_mon -= monMinus;
  if (firstMonth) local.tm_mon = 0;
  local.tm_isdst = -1;
  const time_t result = mktime(&local);
  return result == static_cast<time_t>(-1) ? fallback : static_cast<std::int64_t>(result);
}

std::string Decimal(std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string FixedTwo(double value) {
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

double Share(std::int64_t part, std::int64_t whole) {
  return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

void AddGaps(std::span<Series> series, std::int64_t label, int granularity) {
  if (series.empty() || series[0].empty()) return;
  const std::int64_t previous = series[0].back().time;
  for (const std::int64_t t : ChartGapTimes(previous, label, granularity)) {
    for (Series& s : series) s.push_back({-1.0, t});
  }
}

}  // namespace

const char* ReportPeriodName(int period) {
  static constexpr const char* kNames[kReportPeriodCount] = {
      "Custom Period", "Today",      "Yesterday",    "This Week",  "Last 7 Days",
      "Last Week",     "This Month", "Last 30 Days", "Last Month", "This Year"};
  return period >= 0 && period < kReportPeriodCount ? kNames[period] : "";
}

std::optional<PeriodBounds> PeriodBoundsFor(int period, std::int64_t now) {
  if (period <= kPeriodCustom || period >= kReportPeriodCount) return std::nullopt;
  struct tm local {};
  if (!LocalFields(now, local)) return std::nullopt;
  const std::int64_t today = Midnight(local, 0, 0, 0, false, now);
  const int weekday = local.tm_wday;  // days since Sunday
  switch (period) {
    case kPeriodToday:
      return PeriodBounds{today, now, true};
    case kPeriodYesterday:
      return PeriodBounds{Midnight(local, 1, 0, 0, false, now), today, false};
    case kPeriodThisWeek:
      return PeriodBounds{Midnight(local, weekday, 0, 0, false, now), now, true};
    case kPeriodLast7Days:
      return PeriodBounds{Midnight(local, 7, 0, 0, false, now), today, false};
    case kPeriodLastWeek:
      return PeriodBounds{Midnight(local, weekday + 7, 0, 0, false, now),
                          Midnight(local, weekday, 0, 0, false, now), false};
    case kPeriodThisMonth:
      return PeriodBounds{Midnight(local, 0, 1, 0, false, now), now, true};
    case kPeriodLast30Days:
      return PeriodBounds{Midnight(local, 30, 0, 0, false, now), today, false};
    case kPeriodLastMonth:
      return PeriodBounds{Midnight(local, 0, 1, 1, false, now),
                          Midnight(local, 0, 1, 0, false, now), false};
    default:  // kPeriodThisYear
      return PeriodBounds{Midnight(local, 0, 1, 0, true, now), now, true};
  }
}

PeriodBounds CustomPeriodBounds(std::int64_t start, std::int64_t end, std::int64_t now) {
  return PeriodBounds{start, end, end >= now};
}

int ReportGranularity(std::int64_t start, std::int64_t end) {
  const std::int64_t days = (end - start) / kDay;
  if (days < 2) return kGranularityHours;
  return days < 31 ? kGranularityDays : kGranularityMonths;
}

std::int64_t ClampReportTime(std::int64_t t) {
  return std::clamp<std::int64_t>(t, 0, kLatestReportTime);
}

std::string TenDigitTime(std::int64_t t) {
  const std::string digits = Decimal(ClampReportTime(t));
  return std::string(10 - digits.size(), '0') + digits;
}

std::string FormatTimeSpan(std::int64_t seconds) {
  if (seconds < 60) return "-";
  const std::int64_t days = seconds / kDay;
  const std::int64_t hours = seconds / 3600 - days * 24;
  const std::int64_t minutes = seconds / 60 - (seconds / 3600) * 60;
  std::string text;
  if (days != 0) text += Decimal(days) + " Days ";
  if (hours != 0) text += Decimal(hours) + " Hours ";
  if (minutes != 0) text += Decimal(minutes) + " Minutes";
  return text;
}

std::string IntervalLabelText(std::int64_t label, int granularity) {
  return platform::FormatTimeForDisplay(label, granularity);
}

std::string StatText(std::int64_t value) { return value == -1 ? "-" : Decimal(value); }

void ValueStats::Add(std::int32_t value) {
  if (value == -1) return;
  if (count_ == 0) {
    min_ = value;
    max_ = value;
  } else {
    min_ = std::min(min_, value);
    max_ = std::max(max_, value);
  }
  sum_ += value;
  ++count_;
}

std::int32_t ValueStats::Min() const { return count_ > 0 ? min_ : -1; }
std::int32_t ValueStats::Max() const { return count_ > 0 ? max_ : -1; }
std::int64_t ValueStats::Average() const { return count_ > 0 ? sum_ / count_ : -1; }

IntervalWalk::IntervalWalk(std::int64_t start, int granularity) : granularity_(granularity) {
  mark_ = KeyOf(start);
}

IntervalWalk::Key IntervalWalk::KeyOf(std::int64_t t) {
  if (t < cacheFrom_ || t >= cacheTo_) {
    struct tm local {};
    if (!LocalFields(t, local)) return Key{};
    cacheYear_ = local.tm_year;
    cacheMonth_ = local.tm_mon;
    cacheDay_ = local.tm_mday;
    cacheHour_ = local.tm_hour;
    // The clock hour around t shares these fields when one UTC offset holds at both ends.
    const std::int64_t from = t - local.tm_min * 60 - local.tm_sec;
    const std::int64_t to = from + 3600;
    struct tm first {};
    struct tm last {};
    if (LocalFields(from, first) && LocalFields(to - 1, last) &&
        first.tm_gmtoff == local.tm_gmtoff && last.tm_gmtoff == local.tm_gmtoff) {
      cacheFrom_ = from;
      cacheTo_ = to;
    } else {
      cacheFrom_ = t;
      cacheTo_ = t + 1;
    }
  }
  switch (granularity_) {
    case kGranularityHours:
      return Key{cacheYear_, cacheHour_};
    case kGranularityDays:
      return Key{cacheYear_, cacheDay_};
    default:
      return Key{cacheYear_, cacheMonth_};
  }
}

bool IntervalWalk::Next(std::int64_t t) {
  const Key key = KeyOf(t);
  bool closes = false;
  if (key.year != mark_.year || key.field != mark_.field) {
    mark_ = key;
    closes = rows_ > 0;
    closedOne_ = closedOne_ || closes;
    rows_ = 0;
  }
  if (rows_ == 0) openedAt_ = t;
  lastAt_ = t;
  ++rows_;
  return closes;
}

bool IntervalWalk::EmitsOpenInterval(const PeriodBounds& period) const {
  return rows_ > 0 && !period.endsNow;
}

IntervalLabel IntervalWalk::OpenIntervalLabel() {
  const IntervalLabel minute{lastAt_, kLabelToTheMinute};
  if (!closedOne_ ||
      IntervalLabelText(lastAt_, kLabelToTheMinute) != IntervalLabelText(openedAt_, granularity_)) {
    return minute;
  }
  struct tm local {};
  if (!LocalFields(lastAt_, local)) return minute;
  local.tm_min = 0;
  local.tm_sec = 0;
  if (granularity_ == kGranularityHours) {
    ++local.tm_hour;
  } else {
    local.tm_hour = 0;
    if (granularity_ == kGranularityDays) {
      ++local.tm_mday;
    } else {
      local.tm_mday = 1;
      ++local.tm_mon;
    }
  }
  local.tm_isdst = -1;
  const time_t next = mktime(&local);
  if (next == static_cast<time_t>(-1)) return minute;
  return IntervalLabel{static_cast<std::int64_t>(next), granularity_};
}

std::vector<std::int64_t> ChartGapTimes(std::int64_t previous, std::int64_t label,
                                        int granularity) {
  const std::int64_t span = label - previous;
  std::int64_t units = 0;
  std::int64_t step = 3600;
  if (granularity == kGranularityHours) {
    units = span / 3600;
  } else if (granularity == kGranularityDays) {
    units = span / kDay;
    step = kDay;
  } else {
    units = span / kDay / 30;
    step = 30 * kDay;
  }
  std::vector<std::int64_t> times;
  if (units > 1) times.reserve(static_cast<std::size_t>(units - 1));
  for (std::int64_t k = 1; k < units; ++k) times.push_back(previous + k * step);
  return times;
}

std::array<std::string, 4> IntervalRowTexts(const IntervalStats& interval, int granularity) {
  const int format = interval.labelFormat >= 0 ? interval.labelFormat : granularity;
  return {IntervalLabelText(interval.label, format), StatText(interval.min), StatText(interval.max),
          StatText(interval.average)};
}

TimesReportBuilder::TimesReportBuilder(const PeriodBounds& period, bool withChart)
    : period_(period),
      withChart_(withChart),
      walk_(period.start, ReportGranularity(period.start, period.end)) {
  report_.granularity = walk_.Granularity();
}

void TimesReportBuilder::Add(std::int64_t time, std::int32_t value) {
  if (walk_.Next(time)) Emit(time);
  current_.Add(value);
}

void TimesReportBuilder::Emit(std::int64_t label, int labelFormat) {
  const IntervalStats interval{label, labelFormat, current_.Min(), current_.Max(),
                               current_.Average()};
  report_.intervals.push_back(interval);
  current_.Clear();
  if (!withChart_) return;
  AddGaps(report_.series, label, report_.granularity);
  report_.series[0].push_back({static_cast<double>(interval.min), label});
  report_.series[1].push_back({static_cast<double>(interval.max), label});
  report_.series[2].push_back({static_cast<double>(interval.average), label});
}

TimesReport TimesReportBuilder::Finish() {
  if (walk_.EmitsOpenInterval(period_)) {
    const IntervalLabel label = walk_.OpenIntervalLabel();
    Emit(label.time, label.format);
  }
  return std::move(report_);
}

std::string PercentText(double percent) { return FixedTwo(percent) + " %"; }

HealthReportBuilder::HealthReportBuilder(const PeriodBounds& period)
    : period_(period), walk_(period.start, ReportGranularity(period.start, period.end)) {
  report_.granularity = walk_.Granularity();
}

void HealthReportBuilder::Add(std::int64_t time, std::int32_t health) {
  if (walk_.Next(time)) Emit(time);
  ++rows_;
  if (health == 0) {
    ++unhealthy_;
    ++report_.unhealthyRows;
  } else {
    ++report_.healthyRows;
  }
}

void HealthReportBuilder::Emit(std::int64_t label) {
  AddGaps(std::span<Series>(&report_.critical, 1), label, report_.granularity);
  report_.critical.push_back({Share(unhealthy_, rows_), label});
  rows_ = 0;
  unhealthy_ = 0;
}

HealthReport HealthReportBuilder::Finish() {
  if (walk_.EmitsOpenInterval(period_)) Emit(walk_.OpenIntervalLabel().time);
  const std::int64_t total = report_.unhealthyRows + report_.healthyRows;
  if (total > 0) {
    report_.criticalText = PercentText(Share(report_.unhealthyRows, total));
    report_.clearText = PercentText(Share(report_.healthyRows, total));
  }
  return std::move(report_);
}

AvailabilityWalk::AvailabilityWalk(std::int64_t start, std::int64_t firstSample, bool keepDowntimes)
    : prev_(start), keepDowntimes_(keepDowntimes), stateKnown_(firstSample < start) {}

void AvailabilityWalk::Add(std::int64_t time, bool available) {
  if (!stateKnown_) {
    stateKnown_ = true;
    wasUp_ = available;
    prev_ = time;
  }
  const std::int64_t span = std::max<std::int64_t>(0, time - prev_);
  prev_ = std::max(prev_, time);
  if (available) {
    if (!wasUp_) {
      wasUp_ = true;
      ++result_.repairs;
      downSum_ += downRun_;
      if (keepDowntimes_) {
        const DowntimeRecord record{time - downRun_, time, downRun_};
        if (result_.downtimes.size() < kMaxDowntimes) {
          result_.downtimes.push_back(record);
        } else {
          result_.downtimes[first_] = record;
          first_ = (first_ + 1) % kMaxDowntimes;
        }
      }
      downRun_ = 0;
    }
    result_.up += span;
    upRun_ += span;
  } else {
    if (wasUp_) {
      wasUp_ = false;
      ++result_.failures;
      upSum_ += upRun_;
      upRun_ = 0;
    }
    result_.down += span;
    downRun_ += span;
  }
}

AvailabilityResult AvailabilityWalk::Finish() const {
  AvailabilityResult result = result_;
  std::rotate(result.downtimes.begin(),
              result.downtimes.begin() + static_cast<std::ptrdiff_t>(first_),
              result.downtimes.end());
  result.mttr = result.repairs > 0 ? downSum_ / result.repairs : 0;
  result.mtbf = result.failures > 0 ? upSum_ / result.failures : 0;
  return result;
}

std::array<std::string, 5> AvailabilityTexts(const AvailabilityResult& result) {
  const std::int64_t total = result.up + result.down;
  return {FormatTimeSpan(result.up), FormatTimeSpan(result.down),
          total > 0 ? FixedTwo(Share(result.up, total)) + "%" : std::string("-"),
          FormatTimeSpan(result.mttr), FormatTimeSpan(result.mtbf)};
}

std::array<std::string, 3> DowntimeRowTexts(const DowntimeRecord& record) {
  return {platform::FormatTimeForDisplay(record.from, 3),
          platform::FormatTimeForDisplay(record.to, 3), FormatTimeSpan(record.duration)};
}

void TestQuerySummary::Add(std::string_view id, std::int32_t value) {
  auto it = stats_.find(id);
  if (it == stats_.end()) it = stats_.emplace(std::string(id), ValueStats()).first;
  it->second.Add(value);
}

std::vector<std::array<std::string, 4>> TestQuerySummary::Rows(
    const std::vector<TestQueryName>& queries) const {
  std::vector<std::array<std::string, 4>> rows;
  for (const auto& [id, stats] : stats_) {
    const auto query = std::find_if(queries.begin(), queries.end(),
                                    [&](const TestQueryName& q) { return q.id == id; });
    if (query == queries.end()) continue;
    rows.push_back(
        {query->name, StatText(stats.Min()), StatText(stats.Max()), StatText(stats.Average())});
  }
  return rows;
}

}  // namespace engine
