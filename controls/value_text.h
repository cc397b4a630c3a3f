// The texts and sizes the coloured controls compute: value texts of the attribute table,
// column widths and the font size that fits a text cell. Pure functions, any thread; the
// numbers never depend on the process's locale.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace controls {

// "-" for exactly -1.0, otherwise the value with two decimals (rounded as the binary value
// lies), one blank and the unit: 12.5, "%" -> "12.50 %". A value that rounds to zero shows
// no minus sign. An empty unit gives the bare number.
std::string FormatValueText(double value, const std::string& unit);

// "-" for -1, otherwise the decimal digits, one blank and the unit: 250, "ms" -> "250 ms".
std::string FormatIntValueText(std::int64_t value, const std::string& unit);

// The width each column gets when a list fits its columns to its client width:
// (clientWidth - vscrollWidth) / columns - 2, never below 0. Empty when there are no
// columns: the list then keeps its widths.
struct FitWidth {
  bool apply = false;
  int width = 0;
};
FitWidth FitColumnWidth(int clientWidth, int vscrollWidth, int columns);

// The attribute table's columns: the name column takes what the two 80-pixel value columns
// and the scroll bar leave (never below 0).
struct AttributeColumnWidths {
  int attribute = 0;
  int value = 0;
  int threshold = 0;
};
inline constexpr int kAttributeValueColumnWidth = 80;
AttributeColumnWidths AttributeListColumnWidths(int clientWidth, int vscrollWidth);

// The largest pixel size in [1, cellHeight] whose text height (as textHeight reports it for a
// pixel size) does not exceed cellHeight; 1 when none fits. textHeight must not decrease as
// the pixel size grows. cellHeight below 1 gives 1.
int FitFontPixelSize(int cellHeight, const std::function<int(int pixelSize)>& textHeight);

}  // namespace controls
