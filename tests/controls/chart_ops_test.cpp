#include "controls/chart_ops.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace controls {
namespace {

using ::testing::Contains;
using Texts = std::vector<std::string>;

const bool kUtc = [] { return setenv("TZ", "UTC", 1) == 0 && (tzset(), true); }();

// Every text is 10 pixels high and 6 pixels per byte wide.
class FixedMetrics : public TextMetrics {
 public:
  int TextHeight() const override { return 10; }
  int TextWidth(const std::string& text) const override { return 6 * int(text.size()); }
};

std::string Colour(const ChartColor& c) {
  static const char* const kRoles[] = {"", "window", "face", "text", "grey"};
  if (c.role != ChartColorRole::kRgb) return kRoles[int(c.role)];
  return "(" + std::to_string(c.rgb.r) + "," + std::to_string(c.rgb.g) + "," +
         std::to_string(c.rgb.b) + ")";
}

// "R" rectangle, "E" ellipse, "L" line ("l" dotted), "T" text, "V" rotated text, "C" clip,
// "N" no clip; the box; then the alignment and text, or the pen, its width and the brush.
std::string Describe(const ChartOp& op) {
  std::string s(1, "RELTVCN"[int(op.kind)]);
  if (op.kind == ChartOpKind::kLine && op.dotted) s = "l";
  if (op.kind == ChartOpKind::kNoClip) return s;
  s += " " + std::to_string(op.x1) + "," + std::to_string(op.y1) + "-" + std::to_string(op.x2) +
       "," + std::to_string(op.y2);
  if (op.kind == ChartOpKind::kClip) return s;
  if (op.kind == ChartOpKind::kText || op.kind == ChartOpKind::kRotatedText) {
    return s + " " + "<|>"[int(op.align)] + op.text + " " + Colour(op.pen);
  }
  s += " " + (op.hasPen ? Colour(op.pen) : "-");
  if (op.penWidth != 1) s += " w" + std::to_string(op.penWidth);
  return op.hasBrush ? s + "/" + Colour(op.brush) : s;
}

// The described operations of the given kinds; with series, only those between the
// series clip and its end.
Texts Ops(const std::vector<ChartOp>& ops, const std::string& kinds, bool series = false) {
  Texts out;
  bool inside = false;
  for (const ChartOp& op : ops) {
    inside = op.kind == ChartOpKind::kClip || (inside && op.kind != ChartOpKind::kNoClip);
    const std::string d = Describe(op);
    if (kinds.find(d[0]) != std::string::npos && (!series || inside)) out.push_back(d);
  }
  return out;
}

ChartModel Model(int mode, const std::vector<double>& values = {}) {
  ChartModel model;
  model.SetLegendMode(mode);
  model.SetMargins(55, BottomMarginFor(mode, 10));
  model.SetDenseLimit(10);
  model.SetAxisTitles("Up", "Across");
  GraphPoints points;
  for (std::size_t i = 0; i < values.size(); ++i) points.push_back({values[i], 60 * int(i)});
  model.SetSeries(points, 0);
  return model;
}

std::vector<ChartOp> Build(const ChartModel& model, int w = 300, int h = 200, bool on = true) {
  return BuildChartOps(model, w, h, on, FixedMetrics());
}

TEST(ChartOps, FrameAndAxesInEachLegendMode) {
  struct Case {
    int mode;
    std::string axisY;  // 200 - 8 - bottom margin (0, 2h, 3h)
    std::size_t texts;
  } const cases[] = {{0, "192", 0}, {1, "172", 2}, {2, "162", 2}, {5, "192", 0}};
  for (const auto& c : cases) {
    const auto ops = Build(Model(c.mode));
    EXPECT_EQ(Describe(ops[0]), "R 0,0-300,200 (0,0,0)/window") << c.mode;
    EXPECT_EQ(Ops(ops, "Ll"),
              (Texts{"L 55,8-294,8 (200,200,200)", "L 294,8-294," + c.axisY + " (200,200,200)",
                     "L 55," + c.axisY + "-295," + c.axisY + " (100,100,100)",
                     "L 55,8-55," + c.axisY + " (100,100,100)"}))
        << c.mode;
    EXPECT_EQ(Ops(ops, "TV").size(), c.texts) << c.mode;
  }
}

TEST(ChartOps, GridAndLabelsAtTheirPlaces) {
  const auto ops = Build(Model(1, {0, 2, 4, 8}));  // maximum 9: labels 0 2 4 6 9
  EXPECT_EQ(Ops(ops, "l"), (Texts{"l 135,8-135,172 (200,200,200)", "l 215,8-215,172 (200,200,200)",
                                  "l 55,49-294,49 (200,200,200)", "l 55,90-294,90 (200,200,200)",
                                  "l 55,131-294,131 (200,200,200)"}));
  EXPECT_EQ(Ops(ops, "TV"),
            (Texts{"V 0,0-11,200 |Up text", "T 55,189-300,200 |Across text",
                   "T 55,174-105,184 <12:00 AM text", "T 110,174-160,184 |12:01 AM text",
                   "T 190,174-240,184 |12:02 AM text", "T 245,174-295,184 >12:03 AM text",
                   "T 10,167-53,177 >0 text", "T 10,126-53,136 >2 text", "T 10,85-53,95 >4 text",
                   "T 10,44-53,54 >6 text", "T 10,3-53,13 >9 text"}));
  const Texts legend = Ops(Build(Model(2, {1})), "T");
  EXPECT_THAT(legend, Contains("T 55,178-300,188 |Across text"));
  EXPECT_THAT(legend, Contains("T 55,164-105,174 <12:00 AM text"));
}

// A label is left out only where its text (48 pixels, "12:00 AM") would come within a
// blank (6) of the text drawn before it; the newest point's label is always drawn.
TEST(ChartOps, TimeLabelsSkipOnlyOverlappingTexts) {
  struct Case {
    int points, width;
    Texts lefts;
  } const cases[] = {
      {9, 740, {"55", "115", "200", "285", "370", "455", "540", "625", "685"}},  // 85 apart
      {10, 740, {"55", "332", "634"}},         // dense: 0 4 8, and 9 not after 8
      {11, 740, {"55", "302", "574", "685"}},  // 0 4 8 10
      {4, 300, {"55", "110", "190", "245"}},
      {5, 300, {"55", "150", "245"}},   // 1 would overlap 0; 3 gives way to the last
      {15, 300, {"55", "167", "245"}},  // of 0 4 8 12 14, 4 overlaps 0 and 12 gives way to 14
      {11, 300, {"55", "126", "245"}},  // of 0 4 8 10, 8 gives way to 10
      {3, 150, {"95"}},                 // the last overlaps label 0, which gives way
      {1, 300, {"55"}},
  };
  for (const auto& c : cases) {
    Texts lefts;
    for (const ChartOp& op : Build(Model(1, std::vector<double>(c.points, 1.0)), c.width)) {
      if (op.kind == ChartOpKind::kText && op.y1 == 174) lefts.push_back(std::to_string(op.x1));
    }
    EXPECT_EQ(lefts, c.lefts) << c.points << "/" << c.width;
  }

  // A text wider than the 50-pixel box widens its box; the fit uses the measured width.
  class WideMetrics : public FixedMetrics {
   public:
    int TextWidth(const std::string& text) const override { return 8 * int(text.size()); }
  };
  Texts boxes;
  for (const ChartOp& op :
       BuildChartOps(Model(1, std::vector<double>(9, 1.0)), 740, 200, true, WideMetrics())) {
    if (op.kind == ChartOpKind::kText && op.y1 == 174) {
      boxes.push_back(std::to_string(op.x1) + "-" + std::to_string(op.x2));
    }
  }
  EXPECT_EQ(boxes,
            (Texts{"55-119", "193-257", "278-342", "363-427", "448-512", "533-597", "671-735"}));
}

TEST(ChartOps, LegendIsCentred) {
  const std::string a(30, 'a');
  const std::string b(30, 'b');
  struct Case {
    std::vector<std::string> names;
    Texts ops;  // those in the legend row
  } const cases[] = {
      {{"ab", "cde"},
       {"R 142,188-152,198 -/(100,100,255)", "T 153,188-174,200 <ab text",
        "R 174,188-184,198 -/(255,100,100)", "T 185,188-212,200 <cde text"}},
      {{a, b},  // spare -155: both edges move out by 77
       {"R -22,188--12,198 -/(100,100,255)", "T -11,188-178,200 <" + a + " text",
        "R 178,188-188,198 -/(255,100,100)", "T 189,188-378,200 <" + b + " text"}},
      {{"", "b"}, {"R 164,188-174,198 -/(255,100,100)", "T 175,188-190,200 <b text"}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    ChartModel model = Model(2, {1});
    model.SetSeriesNames(c.names);
    Texts row;
    for (const ChartOp& op : Build(model)) {
      if (op.y1 == 188 && op.kind != ChartOpKind::kLine) row.push_back(Describe(op));
    }
    EXPECT_EQ(row, c.ops) << c.names.size();
  }
}

TEST(ChartOps, SeriesLinesAndCircles) {
  const std::string pen = " (100,100,255)";
  const std::string circle = pen + "/window";
  struct Case {
    std::vector<double> values;
    Texts ops;
  } const cases[] = {
      {{-1, 5, -1}, {"E 172,35-177,39" + circle}},  // a circle, no line
      {{-1, 2, 4},
       {"L 175,117-295,43" + pen, "E 172,115-177,119" + circle, "E 292,41-297,45" + circle}},
      {{0, 0},  // one pixel above the axis at 192
       {"L 55,191-295,191" + pen, "E 52,189-57,193" + circle, "E 292,189-297,193" + circle}},
      {{9.99}, {"E 52,5-57,9" + circle}},  // at the maximum of 10: the top edge
      {{-1, -1}, {}},
  };
  for (const auto& c : cases) {
    const auto ops = Build(Model(0, c.values));
    EXPECT_EQ(Ops(ops, "LE", true), c.ops) << c.values[0];
    EXPECT_THAT(Ops(ops, "C"), Contains("C 52,5-298,196"));  // the plot widened by 3
  }
  ChartModel model = Model(0, {0, 0});
  model.SetSeries({{1, 0}}, 1);  // maximum 2; drawn after series 0
  model.SetColors(2, {9, 9, 9}, 1);
  EXPECT_EQ(Ops(Build(model), "E", true).back(), "E 52,97-57,101 (9,9,9) w2/window");
}

TEST(ChartOps, DisabledAndTooSmall) {
  const auto off = Build(Model(2, {1, 2, 3}), 300, 200, false);
  EXPECT_EQ(Describe(off[0]), "R 0,0-300,200 (0,0,0)/face");
  EXPECT_TRUE(Ops(off, "ECN").empty());
  for (const auto& t : Ops(off, "TV")) EXPECT_EQ(t.substr(t.size() - 4), "grey") << t;

  struct Case {
    int mode, width, height;
  } const cases[] = {{2, 300, 46}, {1, 300, 36}, {1, 60, 200}, {2, 0, 0}, {0, 10, 10}};
  for (const auto& c : cases) {
    ChartModel model = Model(c.mode, {1, 2, 3});
    model.SetSeriesNames({"one"});
    const auto ops = Build(model, c.width, c.height);
    EXPECT_EQ(Ops(ops, "R").size(), 1u) << c.width << "x" << c.height;
    EXPECT_TRUE(Ops(ops, "LlECN").empty()) << c.width << "x" << c.height;
    EXPECT_EQ(Ops(ops, "TV").size(), c.mode == 0 ? 0u : 2u) << c.width << "x" << c.height;
  }
}

}  // namespace
}  // namespace controls
