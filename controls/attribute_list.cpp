#include "controls/attribute_list.h"

#include "controls/value_text.h"

namespace controls {

namespace {

std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

}  // namespace

AttributeList::AttributeList(wxWindow* parent, wxWindowID id, const wxString& accessibleName,
                             const wxPoint& pos, const wxSize& size)
    : ColorList(
          parent, id, accessibleName, pos, size,
          wxDV_SINGLE | wxDV_NO_HEADER | wxDV_HORIZ_RULES | wxDV_VERT_RULES | wxBORDER_THEME) {
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    LayOutColumns();
  });
}

void AttributeList::Init(const std::vector<wxString>& attributes) {
  if (GetColumnCount() == 0) {
    AddColumn("Attribute", 160, wxALIGN_LEFT);
    AddColumn("Value", kAttributeValueColumnWidth, wxALIGN_RIGHT);
    AddColumn("Threshold", kAttributeValueColumnWidth, wxALIGN_RIGHT);
  }
  for (const wxString& attribute : attributes) AddRow({attribute});
  LayOutColumns();
}

void AttributeList::SetValueText(unsigned row, double value, const wxString& unit) {
  SetCellText(row, kValueColumn, wxString::FromUTF8(FormatValueText(value, Utf8(unit))));
}

void AttributeList::SetIntValue(unsigned row, std::int64_t value, const wxString& unit) {
  SetCellText(row, kValueColumn, wxString::FromUTF8(FormatIntValueText(value, Utf8(unit))));
}

void AttributeList::LayOutColumns() {
  if (GetColumnCount() != 3) return;
  const AttributeColumnWidths widths =
      AttributeListColumnWidths(GetClientSize().GetWidth(), ScrollBarWidth());
  const int wanted[] = {widths.attribute, widths.value, widths.threshold};
  for (unsigned column = 0; column < 3; ++column) {
    if (GetColumn(column)->GetWidth() != wanted[column])
      GetColumn(column)->SetWidth(wanted[column]);
  }
}

}  // namespace controls
