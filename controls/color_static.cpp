#include "controls/color_static.h"

#include <gtk/gtk.h>
#include <wx/bitmap.h>
#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>

#include <algorithm>

#include "controls/accessible_name.h"
#include "controls/value_text.h"

namespace controls {

namespace {

wxColour Or(const wxColour& colour, wxSystemColour fallback) {
  return colour.IsOk() ? colour : wxSystemSettings::GetColour(fallback);
}

}  // namespace

ColorStatic::ColorStatic(wxWindow* parent, wxWindowID id, const wxString& label,
                         const ColorStaticStyle& style, const wxPoint& pos, const wxSize& size)
    : style_(style), text_(label) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Create(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE);
  style_.back = Or(style_.back, wxSYS_COLOUR_WINDOW);
  style_.text = Or(style_.text, wxSYS_COLOUR_BTNTEXT);
  Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    Render(dc);
  });
  if (AtkObject* accessible = gtk_widget_get_accessible(GetHandle())) {
    atk_object_set_role(accessible, ATK_ROLE_LABEL);
  }
  SetAccessibleName(this, text_);
  SetInitialSize(size);
}

void ColorStatic::SetLabel(const wxString& label) {
  if (label == text_) return;
  text_ = label;
  SetAccessibleName(this, text_);
  Changed();
}

void ColorStatic::SetBackColor(const wxColour& colour) {
  style_.back = Or(colour, wxSYS_COLOUR_WINDOW);
  Refresh();
}

void ColorStatic::SetTextColor(const wxColour& colour) {
  style_.text = Or(colour, wxSYS_COLOUR_BTNTEXT);
  Refresh();
}

void ColorStatic::SetLeftIndent(int pixels) {
  style_.leftIndent = std::max(0, pixels);
  Changed();
}

bool ColorStatic::SetFont(const wxFont& font) {
  const bool changed = wxControl::SetFont(font);
  textFont_ = wxFont();
  Changed();
  return changed;
}

void ColorStatic::Changed() {
  InvalidateBestSize();
  Refresh();
}

wxFont ColorStatic::TextFont() const {
  if (textFont_.IsOk()) return textFont_;
  wxFont font = GetFont();
  font.SetNumericWeight(std::clamp(style_.weight, 1, 1000));
  if (style_.height > 0) {
    wxBitmap scratch(1, 1);
    wxMemoryDC measure(scratch);
    const int pixelSize = FitFontPixelSize(style_.height, [&](int pixels) {
      wxFont candidate = font;
      candidate.SetPixelSize(wxSize(0, pixels));
      measure.SetFont(candidate);
      return measure.GetCharHeight();
    });
    font.SetPixelSize(wxSize(0, pixelSize));
  }
  textFont_ = font;
  return textFont_;
}

void ColorStatic::Render(wxDC& dc) const {
  const wxSize size = GetClientSize();
  dc.SetBrush(wxBrush(style_.back));
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.DrawRectangle(0, 0, size.x, size.y);
  if (text_.empty()) return;
  dc.SetFont(TextFont());
  dc.SetTextForeground(style_.text);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const wxSize extent = dc.GetTextExtent(text_);
  const int left = style_.leftIndent;
  const int width = size.x - left;
  int x = left;
  if (style_.alignment & wxALIGN_RIGHT) {
    x = left + width - extent.x;
  } else if (style_.alignment & wxALIGN_CENTRE_HORIZONTAL) {
    x = left + (width - extent.x) / 2;
  }
  int y = 0;
  if (style_.alignment & wxALIGN_BOTTOM) {
    y = size.y - extent.y;
  } else if (style_.alignment & wxALIGN_CENTRE_VERTICAL) {
    y = (size.y - extent.y) / 2;
  }
  dc.SetClippingRegion(wxRect(left, 0, std::max(0, width), size.y));
  dc.DrawText(text_, x, y);
  dc.DestroyClippingRegion();
}

wxSize ColorStatic::DoGetBestClientSize() const {
  wxBitmap scratch(1, 1);
  wxMemoryDC measure(scratch);
  measure.SetFont(TextFont());
  const wxSize extent = measure.GetTextExtent(text_.empty() ? wxString("M") : text_);
  return wxSize(style_.leftIndent + extent.x, std::max(style_.height, extent.y));
}

}  // namespace controls
