// Connection texts and the integer of a value's text. Pure functions.
#include <limits>

#include "platform/odbc.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool NeedsBraces(std::string_view value) {
  if (value.empty()) return false;
  if (IsBlank(value.front()) || IsBlank(value.back())) return true;
  return value.find_first_of(";{}") != std::string_view::npos;
}

}  // namespace

std::string QuoteConnectionValue(std::string_view value) {
  if (!NeedsBraces(value)) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 4);
  quoted += '{';
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  quoted += '}';
  return quoted;
}

std::string BuildDsnConnectionString(std::string_view dsn, std::string_view user,
                                     std::string_view password) {
  return "DSN=" + QuoteConnectionValue(dsn) + ";UID=" + QuoteConnectionValue(user) +
         ";PWD=" + QuoteConnectionValue(password);
}

std::int32_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude, stopping once it is past every int32 value.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (negative) {
    return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                               : static_cast<std::int32_t>(-magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max()
                             : static_cast<std::int32_t>(magnitude);
}

}  // namespace platform
