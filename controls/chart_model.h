// The chart's state without a window: up to five series of timed values, their names,
// colours and titles, the layout margins, and what is computed from them (the rounded top
// of the value axis, the value labels and the time labels). Plain C++, no wx; any thread may
// use its own instance. Times are seconds since 1970, shown in local time in the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace controls {

// One chart point. A value of exactly -1.0 means "no value at this time" (a gap).
struct GraphPoint {
  double value = -1.0;
  std::int64_t time = 0;
};
using GraphPoints = std::vector<GraphPoint>;

struct ChartRgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const ChartRgb&, const ChartRgb&) = default;
};

// Time label formats: 0 "%I:00 %p" (hours), 1 "%d %b" (days), 2 "%b" (months), any
// other value "%I:%M %p".
inline constexpr int kTimeFormatHours = 0;
inline constexpr int kTimeFormatDays = 1;
inline constexpr int kTimeFormatMonths = 2;
inline constexpr int kTimeFormatMinutes = 3;

// The top of the value axis for the largest value mx (never negative): the next multiple
// of mx's leading power of ten strictly above trunc(mx); 0 stays 0. 0.5 -> 1, 10 -> 20,
// 1234 -> 2000. Values beyond 9e17 count as 9e17, so the axis and its labels fit 64 bits.
double RoundedMaximum(double mx);

// The labels of the value axis for the rounded maximum m, ascending: none when no point
// has a value; m = 0 -> {0, 1}; m <= 3 -> {0, 2m/4, m}; else {0, m/4, 2m/4, 3m/4, m}, all
// truncated.
std::vector<std::int64_t> ValueLabelsFor(double m, bool anyValue);

// The time in local time as the C locale writes it in the given format; midnight is
// "12:00 AM", noon "12:00 PM".
std::string FormatTimeLabel(std::int64_t time, int format);

// The dense rule shared by grid columns and time labels, for n points of series 0: the
// inner columns 1..n-2 that are drawn (all of them below denseLimit, else 4, 8, 12, ...).
std::vector<int> DenseColumns(int n, int denseLimit);

// The time labels drawn, by index: 0, the dense columns, and the last one unless
// n >= denseLimit and the column just before it was drawn.
std::vector<int> TimeLabelIndexes(int n, int denseLimit);

// Which labels along an axis are drawn, given the extent [left, right) of each one's text in
// axis order and the least gap between two texts: a label is drawn when it starts at least
// `gap` after the end of the last one drawn; the last label is always drawn, and drawn labels
// before it that it would overlap are dropped instead. Positions in `extents`, ascending.
struct LabelExtent {
  int left = 0;
  int right = 0;
};
std::vector<int> FittingLabels(const std::vector<LabelExtent>& extents, int gap);

// The space under the plot for legend mode 0, 1 or 2 with text height h: 0, 2h, 3h; any
// other mode 0.
int BottomMarginFor(int legendMode, int textHeight);

class ChartModel {
 public:
  static constexpr int kSeriesCount = 5;
  static constexpr int kDefaultLeftMargin = 55;
  static constexpr int kRightMargin = 5;
  static constexpr int kTopMargin = 8;
  static constexpr int kDefaultDenseLimit = 6;

  ChartModel();

  // Replaces series index (0 to 4) by a copy of points and recomputes the maximum and the
  // labels; any other index does nothing and gives false.
  bool SetSeries(const GraphPoints& points, int index);
  // Inserts point before the first point of sequence with a later time (after any of
  // the same time), so a sequence built this way stays in time order.
  static void AddPoint(GraphPoints& sequence, const GraphPoint& point);

  // 0: no texts at all; 1: titles and labels; 2: titles, labels and the legend.
  void SetLegendMode(int mode) { legendMode_ = mode; }
  void SetMargins(int left, int bottom);
  void SetAxisTitles(const std::string& vertical, const std::string& horizontal);
  // Names of series 0, 1, ... from the first name on; slots beyond the names are cleared.
  void SetSeriesNames(const std::vector<std::string>& names);
  // The pen width applies to every series; the colour to series index (0 to 4).
  void SetColors(int penWidth, const ChartRgb& colour, int index);
  // From this many points of series 0 on, only every fourth grid column and time label.
  void SetDenseLimit(int count) { denseLimit_ = count; }
  // Takes effect with the next SetSeries.
  void SetTimeFormat(int mode) { timeFormat_ = mode; }

  const GraphPoints& Series(int index) const { return series_[index]; }
  int LegendMode() const { return legendMode_; }
  int LeftMargin() const { return leftMargin_; }
  int BottomMargin() const { return bottomMargin_; }
  const std::string& VerticalTitle() const { return verticalTitle_; }
  const std::string& HorizontalTitle() const { return horizontalTitle_; }
  const std::string& SeriesName(int index) const { return names_[index]; }
  int PenWidth() const { return penWidth_; }
  const ChartRgb& Color(int index) const { return colors_[index]; }
  int DenseLimit() const { return denseLimit_; }
  int TimeFormat() const { return timeFormat_; }

  double MaxValue() const { return maxValue_; }
  const std::vector<std::int64_t>& ValueLabels() const { return valueLabels_; }
  // One label per point of series 0, as of the last SetSeries.
  const std::vector<std::string>& TimeLabels() const { return timeLabels_; }

 private:
  void Recalc();

  GraphPoints series_[kSeriesCount];
  std::string names_[kSeriesCount];
  ChartRgb colors_[kSeriesCount];
  std::string verticalTitle_;
  std::string horizontalTitle_;
  int leftMargin_ = kDefaultLeftMargin;
  int bottomMargin_ = 5;
  int penWidth_ = 1;
  int legendMode_ = 1;
  int denseLimit_ = kDefaultDenseLimit;
  int timeFormat_ = kTimeFormatMinutes;
  double maxValue_ = 0.0;
  std::vector<std::int64_t> valueLabels_;
  std::vector<std::string> timeLabels_;
};

}  // namespace controls
