#include "controls/graphic.h"

#include <gtk/gtk.h>
#include <wx/bitmap.h>
#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>

#include "controls/accessible_name.h"
#include "controls/chart_ops.h"

namespace controls {
namespace {

constexpr int kChartPointSize = 8;

class DcMetrics : public TextMetrics {
 public:
  explicit DcMetrics(wxDC& dc) : dc_(dc) {}
  int TextHeight() const override { return dc_.GetCharHeight(); }
  int TextWidth(const std::string& text) const override {
    return dc_.GetTextExtent(wxString::FromUTF8(text)).x;
  }

 private:
  wxDC& dc_;
};

wxColour ToColour(const ChartColor& colour) {
  switch (colour.role) {
    case ChartColorRole::kWindow:
      return wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    case ChartColorRole::kButtonFace:
      return wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    case ChartColorRole::kWindowText:
      return wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
    case ChartColorRole::kGrayText:
      return wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT);
    case ChartColorRole::kRgb:
      break;
  }
  return wxColour(colour.rgb.r, colour.rgb.g, colour.rgb.b);
}

void SelectPenAndBrush(wxDC& dc, const ChartOp& op) {
  if (op.hasPen) {
    dc.SetPen(wxPen(ToColour(op.pen), op.penWidth, op.dotted ? wxPENSTYLE_DOT : wxPENSTYLE_SOLID));
  } else {
    dc.SetPen(*wxTRANSPARENT_PEN);
  }
  dc.SetBrush(op.hasBrush ? wxBrush(ToColour(op.brush)) : *wxTRANSPARENT_BRUSH);
}

void DrawText(wxDC& dc, const ChartOp& op) {
  const wxRect box(op.x1, op.y1, op.x2 - op.x1, op.y2 - op.y1);
  if (box.IsEmpty()) return;
  dc.SetTextForeground(ToColour(op.pen));
  wxDCClipper clip(dc, box);
  if (op.kind == ChartOpKind::kRotatedText) {
    const wxString text =
        wxControl::Ellipsize(wxString::FromUTF8(op.text), dc, wxELLIPSIZE_END, box.height);
    const int width = dc.GetTextExtent(text).x;
    dc.DrawRotatedText(text, box.x, box.y + (box.height + width) / 2, 90);
    return;
  }
  const wxString text =
      wxControl::Ellipsize(wxString::FromUTF8(op.text), dc, wxELLIPSIZE_END, box.width);
  const int width = dc.GetTextExtent(text).x;
  int x = box.x;
  if (op.align == ChartAlign::kCentre) x = box.x + (box.width - width) / 2;
  if (op.align == ChartAlign::kRight) x = box.GetRight() + 1 - width;
  dc.DrawText(text, x, box.y);
}

void Replay(wxDC& dc, const std::vector<ChartOp>& ops) {
  for (const ChartOp& op : ops) {
    switch (op.kind) {
      case ChartOpKind::kRectangle:
        SelectPenAndBrush(dc, op);
        dc.DrawRectangle(op.x1, op.y1, op.x2 - op.x1, op.y2 - op.y1);
        break;
      case ChartOpKind::kEllipse:
        SelectPenAndBrush(dc, op);
        dc.DrawEllipse(op.x1, op.y1, op.x2 - op.x1, op.y2 - op.y1);
        break;
      case ChartOpKind::kLine:
        SelectPenAndBrush(dc, op);
        dc.DrawLine(op.x1, op.y1, op.x2, op.y2);
        break;
      case ChartOpKind::kText:
      case ChartOpKind::kRotatedText:
        DrawText(dc, op);
        break;
      case ChartOpKind::kClip:
        dc.SetClippingRegion(op.x1, op.y1, op.x2 - op.x1, op.y2 - op.y1);
        break;
      case ChartOpKind::kNoClip:
        dc.DestroyClippingRegion();
        break;
    }
  }
}

// The chart font's text height, measured once without a window.
int ChartTextHeight() {
  static const int height = [] {
    wxBitmap bitmap(1, 1);
    wxMemoryDC dc(bitmap);
    dc.SetFont(Graphic::ChartFont());
    return dc.GetCharHeight();
  }();
  return height;
}

}  // namespace

Graphic::Graphic(wxWindow* parent, wxWindowID id, const wxString& accessibleName,
                 const wxPoint& pos, const wxSize& size) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Create(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE);
  Bind(wxEVT_PAINT, &Graphic::OnPaint, this);
  if (AtkObject* accessible = gtk_widget_get_accessible(GetHandle())) {
    atk_object_set_role(accessible, ATK_ROLE_CHART);
  }
  SetAccessibleName(this, accessibleName);
  RecalcLayout(ChartModel::kDefaultLeftMargin);
  SetInitialSize(size);
}

void Graphic::SetSeries(const GraphPoints& points, int index) {
  if (model_.SetSeries(points, index)) Refresh();
}

void Graphic::AddPoint(GraphPoints& sequence, const GraphPoint& point) {
  ChartModel::AddPoint(sequence, point);
}

void Graphic::SetLegendMode(int mode) {
  model_.SetLegendMode(mode);
  RecalcLayout(model_.LeftMargin());
}

void Graphic::RecalcLayout(int leftMargin) {
  model_.SetMargins(leftMargin, BottomMarginFor(model_.LegendMode(), ChartTextHeight()));
  Refresh();
}

void Graphic::SetAxisTitles(const std::string& vertical, const std::string& horizontal) {
  model_.SetAxisTitles(vertical, horizontal);
  Refresh();
}

void Graphic::SetSeriesNames(const std::vector<std::string>& names) {
  model_.SetSeriesNames(names);
  Refresh();
}

void Graphic::SetColors(int penWidth, const wxColour& colour, int index) {
  model_.SetColors(penWidth, {colour.Red(), colour.Green(), colour.Blue()}, index);
  Refresh();
}

void Graphic::SetDenseLimit(int count) {
  model_.SetDenseLimit(count);
  Refresh();
}

void Graphic::SetTimeFormat(int mode) { model_.SetTimeFormat(mode); }

wxFont Graphic::ChartFont() {
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetPointSize(kChartPointSize);
  return font;
}

void Graphic::Render(wxDC& dc, const wxSize& size) const {
  dc.SetFont(ChartFont());
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const DcMetrics metrics(dc);
  Replay(dc, BuildChartOps(model_, size.x, size.y, IsEnabled(), metrics));
}

wxSize Graphic::DoGetBestClientSize() const { return FromDIP(wxSize(300, 200)); }

void Graphic::DoEnable(bool enable) {
  wxControl::DoEnable(enable);
  Refresh();
}

void Graphic::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  Render(dc, GetClientSize());
}

}  // namespace controls
