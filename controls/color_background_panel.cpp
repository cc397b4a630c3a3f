#include "controls/color_background_panel.h"

#include <wx/dcbuffer.h>

#include "controls/accessible_name.h"

namespace controls {

ColorBackgroundPanel::ColorBackgroundPanel(wxWindow* parent, wxWindowID id, const wxColour& colour,
                                           const wxString& accessibleName, const wxPoint& pos,
                                           const wxSize& size)
    : colour_(colour) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Create(parent, id, pos, size, wxTAB_TRAVERSAL | wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE);
  Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(colour_));
    dc.Clear();
  });
  SetAccessibleName(this, accessibleName);
}

void ColorBackgroundPanel::SetColour(const wxColour& colour) {
  colour_ = colour;
  Refresh();
}

}  // namespace controls
