#include "app/settings/display_text.h"

#include <limits>

namespace app {

std::string IntToDisplayText(int value) { return value == -1 ? "-" : std::to_string(value); }

std::string Int64ToDisplayText(std::int64_t value) {
  return value == -1 ? "-" : std::to_string(value);
}

int ParseLeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate as a negative number, whose range holds the int minimum.
  constexpr std::int64_t kMin = std::numeric_limits<int>::min();
  constexpr std::int64_t kMax = std::numeric_limits<int>::max();
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 - (text[i] - '0');
    if (value < kMin) {
      value = kMin - 1;  // saturated; further digits change nothing
    }
  }
  if (negative) return static_cast<int>(value < kMin ? kMin : value);
  return static_cast<int>(-value > kMax ? kMax : -value);
}

}  // namespace app
