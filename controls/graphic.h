// Graphic: the time-series chart window. It holds a ChartModel, turns it into drawing
// operations (chart_ops.h) at its client size and paints them double-buffered. A disabled
// chart shows the button-face colour, grey texts and no series, and repaints at once when
// enabled or disabled. UI thread only.
#pragma once

#include <wx/colour.h>
#include <wx/control.h>
#include <wx/font.h>

#include <string>
#include <vector>

#include "controls/chart_model.h"

class wxDC;

namespace controls {

class Graphic : public wxControl {
 public:
  static constexpr int kSeriesCount = ChartModel::kSeriesCount;

  Graphic(wxWindow* parent, wxWindowID id, const wxString& accessibleName,
          const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);

  // Replaces series index (0 to 4) and repaints; index 5 or more does nothing. Series 0
  // gives the time labels, so a caller filling several series gives them the same times.
  void SetSeries(const GraphPoints& points, int index);
  static void AddPoint(GraphPoints& sequence, const GraphPoint& point);
  // 0: no texts; 1: titles and labels; 2: also the legend. Recomputes the layout.
  void SetLegendMode(int mode);
  // The value axis at leftMargin pixels; the space under the plot follows the legend mode
  // and the chart font's height.
  void RecalcLayout(int leftMargin);
  void SetAxisTitles(const std::string& vertical, const std::string& horizontal);
  void SetSeriesNames(const std::vector<std::string>& names);
  void SetColors(int penWidth, const wxColour& colour, int index);
  void SetDenseLimit(int count);
  // See chart_model.h; applies from the next SetSeries.
  void SetTimeFormat(int mode);
  const ChartModel& Model() const { return model_; }

  // The font every text of the chart is drawn in.
  static wxFont ChartFont();
  // Paints the whole chart at size into dc (origin at the chart's top-left corner); the
  // paint handler and tests use it.
  void Render(wxDC& dc, const wxSize& size) const;

  bool AcceptsFocus() const override { return false; }

 protected:
  wxSize DoGetBestClientSize() const override;
  void DoEnable(bool enable) override;

 private:
  void OnPaint(wxPaintEvent& event);

  ChartModel model_;
};

}  // namespace controls
