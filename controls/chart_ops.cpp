#include "controls/chart_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace controls {
namespace {

constexpr ChartRgb kGridRgb{200, 200, 200};
constexpr ChartRgb kAxisRgb{100, 100, 100};
constexpr ChartRgb kFrameRgb{0, 0, 0};
// Series are clipped to the plot widened by this much, so the circles at its edges show.
constexpr int kSeriesOverhang = 3;

ChartColor Rgb(const ChartRgb& rgb) { return {ChartColorRole::kRgb, rgb}; }
ChartColor Role(ChartColorRole role) { return {role, {}}; }

// The plot's edges at a chart size; the time axis is at axisY, the right frame line at
// rightX.
struct Geometry {
  int width = 0;
  int height = 0;
  int left = 0;
  int top = ChartModel::kTopMargin;
  int rightX = 0;
  int axisY = 0;
  int plotWidth = 0;   // from the value axis to the right margin
  int plotHeight = 0;  // from the top edge to the time axis
  int textHeight = 0;
};

// A coordinate from a computed position: truncated, and kept well inside int for
// values far outside the plot.
int Trunc(double v) {
  if (!(v > -1e6)) return -1000000;
  if (v > 1e6) return 1000000;
  return static_cast<int>(v);
}

class OpList {
 public:
  std::vector<ChartOp> ops;

  void Line(int x1, int y1, int x2, int y2, const ChartColor& colour, int width, bool dotted) {
    ChartOp op;
    op.kind = ChartOpKind::kLine;
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    op.hasPen = true;
    op.pen = colour;
    op.penWidth = width;
    op.dotted = dotted;
    ops.push_back(op);
  }
  void Box(ChartOpKind kind, int x1, int y1, int x2, int y2, const ChartColor* pen, int penWidth,
           const ChartColor* brush) {
    ChartOp op;
    op.kind = kind;
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    op.hasPen = pen != nullptr;
    if (pen) op.pen = *pen;
    op.penWidth = penWidth;
    op.hasBrush = brush != nullptr;
    if (brush) op.brush = *brush;
    ops.push_back(op);
  }
  void Text(ChartOpKind kind, const std::string& text, int x1, int y1, int x2, int y2,
            ChartAlign align, const ChartColor& colour) {
    if (text.empty()) return;
    ChartOp op;
    op.kind = kind;
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    op.hasPen = true;
    op.pen = colour;
    op.text = text;
    op.align = align;
    ops.push_back(op);
  }
};

void AddGrid(OpList& out, const ChartModel& model, const Geometry& g) {
  const ChartColor grid = Rgb(kGridRgb);
  const int n = static_cast<int>(model.TimeLabels().size());
  if (n >= 3) {
    const double step = static_cast<double>(g.plotWidth) / (n - 1);
    for (int i : DenseColumns(n, model.DenseLimit())) {
      const int x = Trunc(g.left + i * step);
      out.Line(x, g.top, x, g.axisY, grid, 1, true);
    }
  }
  const int k = static_cast<int>(model.ValueLabels().size());
  if (k >= 3) {
    const double step = static_cast<double>(g.plotHeight) / (k - 1);
    for (int i = 1; i <= k - 2; ++i) {
      const int y = Trunc(g.top + i * step);
      out.Line(g.left, y, g.rightX, y, grid, 1, true);
    }
  }
  out.Line(g.left, g.top, g.rightX, g.top, grid, 1, false);
  out.Line(g.rightX, g.top, g.rightX, g.axisY, grid, 1, false);
  const ChartColor axis = Rgb(kAxisRgb);
  out.Line(g.left, g.axisY, g.width - ChartModel::kRightMargin, g.axisY, axis, 1, false);
  out.Line(g.left, g.top, g.left, g.axisY, axis, 1, false);
}

void AddLegend(OpList& out, const ChartModel& model, const TextMetrics& metrics, int left, int top,
               int right, int bottom, const ChartColor& textColour) {
  int widths[ChartModel::kSeriesCount] = {};
  int sum = 0;
  int count = 0;
  for (int i = 0; i < ChartModel::kSeriesCount; ++i) {
    if (model.SeriesName(i).empty()) continue;
    widths[i] = metrics.TextWidth(model.SeriesName(i)) + 20;
    sum += widths[i];
    ++count;
  }
  if (count == 0) return;
  const int spare = right - left - sum;
  int x = left + spare / 2;
  for (int i = 0; i < ChartModel::kSeriesCount; ++i) {
    if (widths[i] == 0) continue;
    const ChartColor swatch = Rgb(model.Color(i));
    out.Box(ChartOpKind::kRectangle, x, top, x + 10, bottom - 2, nullptr, 1, &swatch);
    out.Text(ChartOpKind::kText, model.SeriesName(i), x + 11, top, x + widths[i], bottom,
             ChartAlign::kLeft, textColour);
    x += widths[i];
  }
}

// Each label's box is the 5h-wide box of its place (left-aligned at the value axis for the
// first, right-aligned at the right margin for the last, centred on its column otherwise),
// widened to its text; a label is left out only where its text would run into the text of
// the label drawn before it, with a blank between them.
void AddTimeLabels(OpList& out, const ChartModel& model, const Geometry& g,
                   const TextMetrics& metrics, const ChartColor& colour) {
  const std::vector<std::string>& labels = model.TimeLabels();
  const int n = static_cast<int>(labels.size());
  const int h = g.textHeight;
  const int bottom = g.axisY + h + 2;
  const int box = 5 * h;
  const double step = n > 1 ? static_cast<double>(g.plotWidth) / (n - 1) : 0.0;
  struct Placed {
    int index;
    int x1;
    int x2;
    ChartAlign align;
  };
  std::vector<Placed> placed;
  std::vector<LabelExtent> extents;
  for (int i : TimeLabelIndexes(n, model.DenseLimit())) {
    const int width = metrics.TextWidth(labels[i]);
    Placed p{i, 0, 0, ChartAlign::kCentre};
    LabelExtent text;
    if (i == 0) {
      p.x1 = g.left;
      p.x2 = g.left + std::max(box, width);
      p.align = ChartAlign::kLeft;
      text = {p.x1, p.x1 + width};
    } else if (i == n - 1) {
      p.x2 = g.width - ChartModel::kRightMargin;
      p.x1 = p.x2 - std::max(box, width);
      p.align = ChartAlign::kRight;
      text = {p.x2 - width, p.x2};
    } else {
      const int x = Trunc(g.left + i * step);
      const int half = std::max(box / 2, (width + 1) / 2);
      p.x1 = x - half;
      p.x2 = x + half;
      const int left = p.x1 + (p.x2 - p.x1 - width) / 2;
      text = {left, left + width};
    }
    placed.push_back(p);
    extents.push_back(text);
  }
  for (int k : FittingLabels(extents, metrics.TextWidth(" "))) {
    const Placed& p = placed[k];
    out.Text(ChartOpKind::kText, labels[p.index], p.x1, bottom - h, p.x2, bottom, p.align, colour);
  }
}

void AddValueLabels(OpList& out, const ChartModel& model, const Geometry& g,
                    const ChartColor& colour) {
  const std::vector<std::int64_t>& labels = model.ValueLabels();
  const int k = static_cast<int>(labels.size());
  if (k < 2) return;
  const int h = g.textHeight;
  const double step = static_cast<double>(g.plotHeight) / (k - 1);
  for (int i = 0; i < k; ++i) {
    const int bottom = Trunc((k - 1 - i) * step + g.top + h / 2);
    out.Text(ChartOpKind::kText, std::to_string(labels[i]), h, bottom - h, g.left - 2, bottom,
             ChartAlign::kRight, colour);
  }
}

void AddTexts(OpList& out, const ChartModel& model, const Geometry& g, bool enabled, bool plot,
              const TextMetrics& metrics) {
  const int mode = model.LegendMode();
  if (mode != 1 && mode != 2) return;
  const ChartColor colour = Role(enabled ? ChartColorRole::kWindowText : ChartColorRole::kGrayText);
  const int h = g.textHeight;
  const int w = g.width;
  const int hh = g.height;
  out.Text(ChartOpKind::kRotatedText, model.VerticalTitle(), 0, 0, h + 1, hh, ChartAlign::kCentre,
           colour);
  if (mode == 1) {
    out.Text(ChartOpKind::kText, model.HorizontalTitle(), g.left, hh - h - 1, w, hh,
             ChartAlign::kCentre, colour);
  } else {
    if (plot) AddLegend(out, model, metrics, g.left, hh - h - 2, w, hh, colour);
    out.Text(ChartOpKind::kText, model.HorizontalTitle(), g.left, hh - 2 * h - 2, w, hh - h - 2,
             ChartAlign::kCentre, colour);
  }
  if (!plot) return;
  AddTimeLabels(out, model, g, metrics, colour);
  AddValueLabels(out, model, g, colour);
}

void AddSeries(OpList& out, const ChartModel& model, const Geometry& g, int index) {
  const GraphPoints& points = model.Series(index);
  const int n = static_cast<int>(points.size());
  if (n == 0) return;
  const double top = model.MaxValue() == 0.0 ? 1.0 : model.MaxValue();
  const double ys = g.plotHeight / top;
  const double xs = static_cast<double>(g.plotWidth) / (n < 2 ? 1 : n - 1);
  const ChartColor pen = Rgb(model.Color(index));
  const int width = model.PenWidth();
  auto valued = [&](int i) { return points[i].value != -1.0 && std::isfinite(points[i].value); };
  auto x = [&](int i) { return Trunc(g.left + i * xs); };
  auto y = [&](int i) { return Trunc((g.axisY - 1) - points[i].value * ys); };
  for (int i = 1; i < n; ++i) {
    if (valued(i) && valued(i - 1)) out.Line(x(i - 1), y(i - 1), x(i), y(i), pen, width, false);
  }
  const ChartColor fill = Role(ChartColorRole::kWindow);
  for (int i = 0; i < n; ++i) {
    if (!valued(i)) continue;
    out.Box(ChartOpKind::kEllipse, x(i) - 3, y(i) - 2, x(i) + 2, y(i) + 2, &pen, width, &fill);
  }
}

}  // namespace

std::vector<ChartOp> BuildChartOps(const ChartModel& model, int width, int height, bool enabled,
                                   const TextMetrics& metrics) {
  Geometry g;
  g.width = width;
  g.height = height;
  g.left = model.LeftMargin();
  g.rightX = width - ChartModel::kRightMargin - 1;
  g.axisY = height - g.top - model.BottomMargin();
  g.plotWidth = width - ChartModel::kRightMargin - g.left;
  g.plotHeight = height - 2 * g.top - model.BottomMargin();
  g.textHeight = metrics.TextHeight();
  const bool plot = g.plotWidth > 0 && g.plotHeight > 0;

  OpList out;
  const ChartColor frame = Rgb(kFrameRgb);
  const ChartColor back = Role(enabled ? ChartColorRole::kWindow : ChartColorRole::kButtonFace);
  out.Box(ChartOpKind::kRectangle, 0, 0, width, height, &frame, 1, &back);
  if (plot) AddGrid(out, model, g);
  AddTexts(out, model, g, enabled, plot, metrics);
  if (plot && enabled) {
    ChartOp clip;
    clip.kind = ChartOpKind::kClip;
    clip.x1 = g.left - kSeriesOverhang;
    clip.y1 = g.top - kSeriesOverhang;
    clip.x2 = g.rightX + 1 + kSeriesOverhang;
    clip.y2 = g.axisY + 1 + kSeriesOverhang;
    out.ops.push_back(clip);
    for (int i = 0; i < ChartModel::kSeriesCount; ++i) AddSeries(out, model, g, i);
    ChartOp unclip;
    unclip.kind = ChartOpKind::kNoClip;
    out.ops.push_back(unclip);
  }
  return std::move(out.ops);
}

}  // namespace controls
