#include "controls/value_text.h"

#include <algorithm>
#include <charconv>

namespace controls {

namespace {

std::string WithUnit(std::string number, const std::string& unit) {
  if (unit.empty()) return number;
  number += ' ';
  number += unit;
  return number;
}

}  // namespace

std::string FormatValueText(double value, const std::string& unit) {
  if (value == -1.0) return "-";
  char buffer[400];  // fixed notation of the largest double needs 309 digits
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  std::string number(buffer, result.ptr);
  if (number == "-0.00") number = "0.00";
  return WithUnit(std::move(number), unit);
}

std::string FormatIntValueText(std::int64_t value, const std::string& unit) {
  if (value == -1) return "-";
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return WithUnit(std::string(buffer, result.ptr), unit);
}

FitWidth FitColumnWidth(int clientWidth, int vscrollWidth, int columns) {
  if (columns <= 0) return {};
  return {true, std::max(0, (clientWidth - vscrollWidth) / columns - 2)};
}

AttributeColumnWidths AttributeListColumnWidths(int clientWidth, int vscrollWidth) {
  return {std::max(0, clientWidth - 2 * kAttributeValueColumnWidth - vscrollWidth),
          kAttributeValueColumnWidth, kAttributeValueColumnWidth};
}

int FitFontPixelSize(int cellHeight, const std::function<int(int pixelSize)>& textHeight) {
  int low = 1;  // the answer when nothing larger fits
  int high = std::max(1, cellHeight);
  while (low < high) {
    const int middle = low + (high - low + 1) / 2;
    if (textHeight(middle) <= cellHeight) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}

}  // namespace controls
