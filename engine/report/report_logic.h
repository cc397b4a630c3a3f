// The report views' arithmetic without a window or SQL: the named periods and their bounds,
// the interval length of a period, the walk that splits a monitor's time-ordered rows into
// intervals, the per-interval and whole-period statistics, the chart points with their gaps,
// the health shares, the availability walk and the texts of all of these. Times are seconds
// since 1970, split in local time; texts use the C locale. Any thread may use its own objects.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The entries of the period list, in list order.
enum ReportPeriod : int {
  kPeriodCustom = 0,
  kPeriodToday,
  kPeriodYesterday,
  kPeriodThisWeek,
  kPeriodLast7Days,
  kPeriodLastWeek,
  kPeriodThisMonth,
  kPeriodLast30Days,
  kPeriodLastMonth,
  kPeriodThisYear,
};
inline constexpr int kReportPeriodCount = 10;

// "Custom Period", "Today", ... "This Year"; "" outside 0..9.
const char* ReportPeriodName(int period);

// A period's bounds, both included. endsNow: the period ends at the current time, so its
// last interval may still gain rows and is not shown.
struct PeriodBounds {
  std::int64_t start = 0;
  std::int64_t end = 0;
  bool endsNow = false;
};

// The bounds of a named period (1..9) at `now`, in calendar days of local time (weeks
// start on Sunday; each midnight is found with summer time decided by the system). Nothing
// for "Custom Period" or an index outside the list.
std::optional<PeriodBounds> PeriodBoundsFor(int period, std::int64_t now);

// A custom range: endsNow when its end is not before `now`.
PeriodBounds CustomPeriodBounds(std::int64_t start, std::int64_t end, std::int64_t now);

// Interval length of a period from its span in whole days d: d < 2 hours (0), d < 31 days
// (1), else months (2). A reversed range gives hours.
inline constexpr int kGranularityHours = 0;
inline constexpr int kGranularityDays = 1;
inline constexpr int kGranularityMonths = 2;
int ReportGranularity(std::int64_t start, std::int64_t end);

// A bound as stored times compare: clamped to [0, 9999999999] and written with ten digits
// ("0000000000" ... "9999999999"). Stored times are ten-digit text; bind bounds as text.
inline constexpr std::int64_t kLatestReportTime = 9999999999;
std::int64_t ClampReportTime(std::int64_t t);
std::string TenDigitTime(std::int64_t t);

// A duration as "1 Days 1 Hours 1 Minutes": each non-zero part followed by a blank except
// the minutes ("1 Hours ", "1 Days "); "-" under a minute and for negative spans.
std::string FormatTimeSpan(std::int64_t seconds);

// An interval label by granularity: "05 Mar 2024 10:00 AM", "05 Mar 2024", "Mar 2024".
std::string IntervalLabelText(std::int64_t label, int granularity);

// An interval's label: its time and the text form (a granularity, or 3 for
// "05 Mar 2024 02:30 PM").
inline constexpr int kLabelToTheMinute = 3;
struct IntervalLabel {
  std::int64_t time = 0;
  int format = kGranularityHours;
};

// A statistic's text: "-" for -1 (no value), else the decimal number.
std::string StatText(std::int64_t value);

// Minimum, maximum and truncating average over values, -1 being "no value" and skipped.
// With no counted value all three are -1. The maximum starts at the first counted value.
class ValueStats {
 public:
  void Add(std::int32_t value);
  void Clear() { *this = ValueStats(); }
  std::int64_t Count() const { return count_; }
  std::int32_t Min() const;
  std::int32_t Max() const;
  std::int64_t Average() const;  // sum / count towards zero: -3 and -4 give -3

 private:
  std::int32_t min_ = 0;
  std::int32_t max_ = 0;
  std::int64_t sum_ = 0;
  std::int64_t count_ = 0;
};

// Splits rows given in time order into intervals of a granularity. A row opens a new
// interval when its local year, or the granularity's field (hour, day of month or month),
// differs from that of the row before it (the first row: the period's start); only these
// fields count, so the same hour of the next day with no row in between stays in one
// interval. A closed interval is labelled with the time of the row that opened the next,
// written by the granularity, so no two closed intervals share a label text.
class IntervalWalk {
 public:
  IntervalWalk(std::int64_t start, int granularity);
  // Takes the next row's time. True when it closes an interval that holds rows: the caller
  // emits that interval, labelled t, before counting this row in the next one.
  bool Next(std::int64_t t);
  // After the last row: true when the interval still open holds rows and the period is
  // closed (not endsNow); the caller then emits it under OpenIntervalLabel.
  bool EmitsOpenInterval(const PeriodBounds& period) const;
  // The label of the interval still open, which no label of a closed interval can share:
  // the time of its last row written to the minute; when that text is the label of the
  // interval before it (rows only in the first minute of that hour), the start of the next
  // hour, day or month after its last row, written by the granularity.
  IntervalLabel OpenIntervalLabel();
  int Granularity() const { return granularity_; }

 private:
  struct Key {
    int year = 0;
    int field = 0;
  };
  Key KeyOf(std::int64_t t);

  int granularity_;
  Key mark_;
  std::int64_t rows_ = 0;      // rows in the open interval
  std::int64_t openedAt_ = 0;  // time of the open interval's first row
  std::int64_t lastAt_ = 0;    // time of the latest row
  bool closedOne_ = false;     // an interval with rows was closed
  // Local fields of a stretch of time with one UTC offset inside one clock hour.
  std::int64_t cacheFrom_ = 1;
  std::int64_t cacheTo_ = 0;  // excluded
  int cacheYear_ = 0;
  int cacheMonth_ = 0;
  int cacheDay_ = 0;
  int cacheHour_ = 0;
};

// One chart point; a value of -1.0 is an empty position that breaks the line.
struct SeriesPoint {
  double value = -1.0;
  std::int64_t time = 0;
};
using Series = std::vector<SeriesPoint>;

// The empty positions between two consecutive interval labels: with m whole hours (0),
// whole days (1) or whole days / 30 (2) between them, previous + k steps for k = 1..m-1,
// the step being an hour, a day or 30 days.
std::vector<std::int64_t> ChartGapTimes(std::int64_t previous, std::int64_t label, int granularity);

// One interval of a time report.
struct IntervalStats {
  std::int64_t label = 0;
  int labelFormat = -1;   // -1: the report's granularity; else as IntervalLabel::format
  std::int32_t min = -1;  // -1: no value
  std::int32_t max = -1;
  std::int64_t average = -1;
};

// The connection-time and test-query-time reports: the intervals oldest first, and for a
// chart the series minimum, maximum and average (indexes 0, 1, 2) in time order, the gaps
// between labels filled with -1.0 points in all three.
struct TimesReport {
  int granularity = 0;
  std::vector<IntervalStats> intervals;
  std::array<Series, 3> series;
};

// The list row of an interval: label text, minimum, maximum, average ("-" for -1).
std::array<std::string, 4> IntervalRowTexts(const IntervalStats& interval, int granularity);

// Builds a TimesReport in one pass over the period's rows, given in time order.
class TimesReportBuilder {
 public:
  TimesReportBuilder(const PeriodBounds& period, bool withChart);
  void Add(std::int64_t time, std::int32_t value);
  TimesReport Finish();

 private:
  void Emit(std::int64_t label, int labelFormat = -1);

  PeriodBounds period_;
  bool withChart_;
  IntervalWalk walk_;
  ValueStats current_;
  TimesReport report_;
};

// The health report: per interval the share of unhealthy rows in percent (series in time
// order, gaps filled); over all rows of the period, the open interval's included, the
// unhealthy and healthy shares as "12.50 %", both "-" without rows.
struct HealthReport {
  int granularity = 0;
  Series critical;
  std::int64_t unhealthyRows = 0;
  std::int64_t healthyRows = 0;
  std::string criticalText = "-";
  std::string clearText = "-";
};

// A share as the attribute list writes it: "%.2f %" ("33.33 %").
std::string PercentText(double percent);

// Builds a HealthReport in one pass; a row is unhealthy when its health is 0.
class HealthReportBuilder {
 public:
  explicit HealthReportBuilder(const PeriodBounds& period);
  void Add(std::int64_t time, std::int32_t health);
  HealthReport Finish();

 private:
  void Emit(std::int64_t label);

  PeriodBounds period_;
  IntervalWalk walk_;
  std::int64_t rows_ = 0;
  std::int64_t unhealthy_ = 0;
  HealthReport report_;
};

// One completed outage: it ends at the up row that closed it and lasts as long as the
// spans that ended at its down rows; with a run of failed polls stored as one row, it runs
// from the first failed poll to the next poll that connected.
struct DowntimeRecord {
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t duration = 0;
};

struct AvailabilityResult {
  std::int64_t up = 0;  // seconds
  std::int64_t down = 0;
  std::int64_t failures = 0;              // up runs ended by a down row (a first down row included,
                                          // unless it is the monitor's first sample)
  std::int64_t repairs = 0;               // outages ended by an up row
  std::int64_t mttr = 0;                  // seconds, 0 without repairs
  std::int64_t mtbf = 0;                  // seconds, 0 without failures
  std::vector<DowntimeRecord> downtimes;  // the last kMaxDowntimes completed, oldest first
};
inline constexpr std::size_t kMaxDowntimes = 101;

// The availability walk over rows in time order: each row ends a span that began at the
// row before it (the first at the period's start) and counts as up or down by its own
// availability. A row earlier than the latest row before it ends a span of 0. The stretch
// after the last row is not counted, and a run still open at the end counts in up or down
// only. firstSample is the time of the monitor's first sample (data_reads.h): when it is
// not before the start, the period's first row is that sample, which stands for no time
// and begins a run in its own state (no failure, no repair).
class AvailabilityWalk {
 public:
  AvailabilityWalk(std::int64_t start, std::int64_t firstSample, bool keepDowntimes = true);
  void Add(std::int64_t time, bool available);
  AvailabilityResult Finish() const;

 private:
  std::int64_t prev_;
  bool keepDowntimes_;
  bool stateKnown_;  // false until the first sample's row when the period holds it
  bool wasUp_ = true;
  std::int64_t upRun_ = 0;
  std::int64_t downRun_ = 0;
  std::int64_t upSum_ = 0;
  std::int64_t downSum_ = 0;
  std::size_t first_ = 0;  // oldest record in result_.downtimes, used as a ring
  AvailabilityResult result_;
};

// The five figures: total up, total down, up percentage ("60.00%", "-" when both are 0),
// MTTR and MTBF ("-" when 0), spans as FormatTimeSpan writes them.
std::array<std::string, 5> AvailabilityTexts(const AvailabilityResult& result);

// A downtime row: from and to as "05 Mar 2024 10:30 AM", the duration as FormatTimeSpan.
std::array<std::string, 3> DowntimeRowTexts(const DowntimeRecord& record);

// The test-query summary: values grouped by test-query identifier.
struct TestQueryName {
  std::string id;
  std::string name;
};

class TestQuerySummary {
 public:
  void Add(std::string_view id, std::int32_t value);
  // One row {name, minimum, maximum, average} per identifier seen, in identifier text
  // order (bytewise), for the identifiers found in `queries`; "-" for no value.
  std::vector<std::array<std::string, 4>> Rows(const std::vector<TestQueryName>& queries) const;

 private:
  std::map<std::string, ValueStats, std::less<>> stats_;
};

}  // namespace engine
