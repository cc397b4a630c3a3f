// The chart as a list of drawing operations at a given size, computed from a ChartModel
// without a window: the painter (graphic.cpp) replays them on a device context, tests read
// them. Colours are theme roles or RGB; text sizes come through TextMetrics. Pure, any
// thread.
#pragma once

#include <string>
#include <vector>

#include "controls/chart_model.h"

namespace controls {

// The chart font's measures.
class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  virtual int TextHeight() const = 0;
  virtual int TextWidth(const std::string& text) const = 0;
};

enum class ChartColorRole { kRgb, kWindow, kButtonFace, kWindowText, kGrayText };

struct ChartColor {
  ChartColorRole role = ChartColorRole::kRgb;
  ChartRgb rgb;  // for kRgb
  friend bool operator==(const ChartColor&, const ChartColor&) = default;
};

enum class ChartOpKind {
  kRectangle,    // the box x1,y1 (included) to x2,y2 (excluded): pen outline, brush fill
  kEllipse,      // inscribed in the box as for kRectangle
  kLine,         // from x1,y1 to x2,y2, in the pen
  kText,         // text in the box in the pen colour, aligned, cut with an end ellipsis
  kRotatedText,  // text reading bottom to top, centred along the box's height
  kClip,         // later operations draw only inside the box
  kNoClip,       // ends kClip
};

enum class ChartAlign { kLeft, kCentre, kRight };

struct ChartOp {
  ChartOpKind kind = ChartOpKind::kLine;
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
  bool hasPen = false;
  ChartColor pen;
  int penWidth = 1;
  bool dotted = false;
  bool hasBrush = false;
  ChartColor brush;
  std::string text;
  ChartAlign align = ChartAlign::kLeft;
};

// Everything the chart paints at width x height, in paint order: background and frame,
// grid, texts (legend modes 1 and 2), then the series when enabled. A chart too small for a
// plot gets only background, frame and titles.
std::vector<ChartOp> BuildChartOps(const ChartModel& model, int width, int height, bool enabled,
                                   const TextMetrics& metrics);

}  // namespace controls
