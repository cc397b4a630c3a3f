// ColorBackgroundPanel: a panel whose whole client area is one colour; its children paint
// over it. UI thread only.
#pragma once

#include <wx/panel.h>

namespace controls {

class ColorBackgroundPanel : public wxPanel {
 public:
  ColorBackgroundPanel(wxWindow* parent, wxWindowID id, const wxColour& colour,
                       const wxString& accessibleName, const wxPoint& pos = wxDefaultPosition,
                       const wxSize& size = wxDefaultSize);

  void SetColour(const wxColour& colour);
  const wxColour& Colour() const { return colour_; }

 private:
  wxColour colour_;
};

}  // namespace controls
