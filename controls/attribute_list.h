// AttributeList: a ColorList laid out as a header-less table of three columns, "Attribute",
// "Value" and "Threshold", with grid lines and a border. The two value columns are 80 pixels
// wide and right-aligned; the attribute column takes the rest of the width. UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controls/color_list.h"

namespace controls {

class AttributeList : public ColorList {
 public:
  AttributeList(wxWindow* parent, wxWindowID id, const wxString& accessibleName,
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);

  // Adds the columns (on the first call) and one row per attribute name, in order.
  void Init(const std::vector<wxString>& attributes);

  // The row's value: "-" for -1, otherwise e.g. "12.50 %" / "250 ms" (see value_text.h).
  // Out-of-range rows are ignored.
  void SetValueText(unsigned row, double value, const wxString& unit);
  void SetIntValue(unsigned row, std::int64_t value, const wxString& unit);

  static constexpr unsigned kAttributeColumn = 0;
  static constexpr unsigned kValueColumn = 1;
  static constexpr unsigned kThresholdColumn = 2;

 private:
  void LayOutColumns();
};

}  // namespace controls
