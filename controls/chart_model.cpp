#include "controls/chart_model.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace controls {
namespace {

constexpr double kLargestMaximum = 9e17;

// 0 for 0, else the number of decimal digits of the integer part (1 for values below 1).
int DigitCount(double v) {
  if (v == 0.0) return 0;
  double power = 10.0;
  for (int n = 1; n <= 19; ++n, power *= 10.0) {
    if (v / power < 1.0) return n;
  }
  return 0;
}

bool HasValue(const GraphPoint& p) { return p.value != -1.0; }

std::string TwoDigits(int v) {
  return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

}  // namespace

double RoundedMaximum(double mx) {
  if (!(mx > 0.0)) return 0.0;
  mx = std::min(mx, kLargestMaximum);
  const int digits = DigitCount(mx);
  const auto step = static_cast<std::int64_t>(std::pow(10.0, digits - 1));
  const std::int64_t divisor = step == 0 ? 1 : step;
  return static_cast<double>((static_cast<std::int64_t>(mx) / divisor + 1) * step);
}

std::vector<std::int64_t> ValueLabelsFor(double m, bool anyValue) {
  if (!anyValue) return {};
  const auto top = static_cast<std::int64_t>(m);
  if (top == 0) return {0, 1};
  if (top <= 3) return {0, 2 * top / 4, top};
  return {0, top / 4, 2 * top / 4, 3 * top / 4, top};
}

std::string FormatTimeLabel(std::int64_t time, int format) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return {};
  const std::string month = kMonths[std::clamp(tm.tm_mon, 0, 11)];
  const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  const std::string ampm = tm.tm_hour < 12 ? "AM" : "PM";
  switch (format) {
    case kTimeFormatHours:
      return TwoDigits(hour12) + ":00 " + ampm;
    case kTimeFormatDays:
      return TwoDigits(tm.tm_mday) + " " + month;
    case kTimeFormatMonths:
      return month;
    default:
      return TwoDigits(hour12) + ":" + TwoDigits(tm.tm_min) + " " + ampm;
  }
}

std::vector<int> DenseColumns(int n, int denseLimit) {
  std::vector<int> columns;
  int skipped = 0;
  for (int i = 1; i <= n - 2; ++i) {
    if (n < denseLimit || skipped == 3) {
      columns.push_back(i);
      skipped = 0;
    } else {
      ++skipped;
    }
  }
  return columns;
}

std::vector<int> TimeLabelIndexes(int n, int denseLimit) {
  if (n <= 0) return {};
  std::vector<int> indexes{0};
  const std::vector<int> inner = DenseColumns(n, denseLimit);
  indexes.insert(indexes.end(), inner.begin(), inner.end());
  if (n >= 2) {
    const bool previousDrawn = n <= 2 || (!inner.empty() && inner.back() == n - 2);
    if (n < denseLimit || !previousDrawn) indexes.push_back(n - 1);
  }
  return indexes;
}

std::vector<int> FittingLabels(const std::vector<LabelExtent>& extents, int gap) {
  std::vector<int> drawn;
  const int n = static_cast<int>(extents.size());
  for (int i = 0; i + 1 < n; ++i) {
    if (drawn.empty() || extents[i].left >= extents[drawn.back()].right + gap) drawn.push_back(i);
  }
  if (n > 0) {
    while (!drawn.empty() && extents[n - 1].left < extents[drawn.back()].right + gap) {
      drawn.pop_back();
    }
    drawn.push_back(n - 1);
  }
  return drawn;
}

int BottomMarginFor(int legendMode, int textHeight) {
  if (legendMode == 1) return 2 * textHeight;
  if (legendMode == 2) return 3 * textHeight;
  return 0;
}

ChartModel::ChartModel()
    : colors_{{100, 100, 255}, {255, 100, 100}, {100, 200, 100}, {200, 200, 100}, {100, 200, 200}} {
}

bool ChartModel::SetSeries(const GraphPoints& points, int index) {
  if (index < 0 || index >= kSeriesCount) return false;
  series_[index] = points;
  Recalc();
  return true;
}

void ChartModel::AddPoint(GraphPoints& sequence, const GraphPoint& point) {
  const auto later =
      std::upper_bound(sequence.begin(), sequence.end(), point.time,
                       [](std::int64_t time, const GraphPoint& p) { return time < p.time; });
  sequence.insert(later, point);
}

void ChartModel::SetMargins(int left, int bottom) {
  leftMargin_ = left;
  bottomMargin_ = bottom;
}

void ChartModel::SetAxisTitles(const std::string& vertical, const std::string& horizontal) {
  verticalTitle_ = vertical;
  horizontalTitle_ = horizontal;
}

void ChartModel::SetSeriesNames(const std::vector<std::string>& names) {
  for (int i = 0; i < kSeriesCount; ++i) {
    names_[i] = i < static_cast<int>(names.size()) ? names[i] : std::string();
  }
}

void ChartModel::SetColors(int penWidth, const ChartRgb& colour, int index) {
  penWidth_ = penWidth;
  if (index >= 0 && index < kSeriesCount) colors_[index] = colour;
}

void ChartModel::Recalc() {
  double mx = 0.0;
  bool anyValue = false;
  for (const GraphPoints& points : series_) {
    for (const GraphPoint& p : points) {
      if (!HasValue(p)) continue;
      anyValue = true;
      if (p.value > mx) mx = p.value;
    }
  }
  maxValue_ = RoundedMaximum(mx);
  valueLabels_ = ValueLabelsFor(maxValue_, anyValue);
  timeLabels_.clear();
  for (const GraphPoint& p : series_[0])
    timeLabels_.push_back(FormatTimeLabel(p.time, timeFormat_));
}

}  // namespace controls
