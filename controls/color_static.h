// ColorStatic: one line of text painted on its own background colour, in its own text
// colour, weight and size, with a left indent and an alignment inside its rectangle. The
// text is this control's label; a later SetLabel always shows. UI thread only.
#pragma once

#include <wx/control.h>
#include <wx/font.h>

class wxDC;

namespace controls {

struct ColorStaticStyle {
  wxColour back;  // invalid: the theme's window colour
  wxColour text;  // invalid: the theme's button-text colour
  // The cell height of the text in pixels: the largest font whose text height does not
  // exceed it. 0 keeps the window font's size.
  int height = 0;
  int weight = wxFONTWEIGHT_NORMAL;  // 100 to 900
  // wxALIGN_LEFT / CENTRE_HORIZONTAL / RIGHT combined with wxALIGN_TOP / CENTRE_VERTICAL /
  // BOTTOM.
  int alignment = wxALIGN_LEFT | wxALIGN_CENTRE_VERTICAL;
  int leftIndent = 0;  // pixels before the text
};

class ColorStatic : public wxControl {
 public:
  ColorStatic(wxWindow* parent, wxWindowID id, const wxString& label,
              const ColorStaticStyle& style = {}, const wxPoint& pos = wxDefaultPosition,
              const wxSize& size = wxDefaultSize);

  // The label is painted as it is ('&' included) and is the accessible name.
  void SetLabel(const wxString& label) override;
  wxString GetLabel() const override { return text_; }

  void SetBackColor(const wxColour& colour);
  void SetTextColor(const wxColour& colour);
  void SetLeftIndent(int pixels);
  const ColorStaticStyle& Style() const { return style_; }

  // The font the text is painted in.
  wxFont TextFont() const;

  // Paints the whole control (background and text) into dc, whose origin is the control's
  // top-left corner; the paint handler and tests use it.
  void Render(wxDC& dc) const;

  bool SetFont(const wxFont& font) override;
  bool AcceptsFocus() const override { return false; }

 protected:
  wxSize DoGetBestClientSize() const override;

 private:
  void Changed();

  ColorStaticStyle style_;
  wxString text_;
  mutable wxFont textFont_;  // computed on demand
};

}  // namespace controls
