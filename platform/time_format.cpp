#include "platform/time_format.h"

#include <locale.h>
#include <time.h>

#include <array>
#include <charconv>
#include <climits>

namespace platform {
namespace {

std::string FormatLocal(std::int64_t t, const char* format) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
  const time_t value = static_cast<time_t>(t);
  struct tm local {};
  if (localtime_r(&value, &local) == nullptr) return {};
  char buffer[64];
  const std::size_t n = cLocale != locale_t{}
                            ? strftime_l(buffer, sizeof buffer, format, &local, cLocale)
                            : strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, n);
}

}  // namespace

std::string FormatTimeForDisplay(std::int64_t t, int granularity) {
  static constexpr const char* kFormats[] = {"%d %b %Y %I:00 %p", "%d %b %Y", "%b %Y",
                                             "%d %b %Y %I:%M %p"};
  if (granularity < 0 || granularity > 3) return {};
  if (t == 0) return "-";
  return FormatLocal(t, kFormats[granularity]);
}

std::string TimeToString(std::int64_t t) { return FormatLocal(t, "%S %M %H %d %m %Y"); }

std::int64_t StringToTime(std::string_view text) {
  // seconds, minutes, hours, day, month, year
  std::array<int, 6> f{};
  static constexpr std::array<int, 6> kMin = {0, 0, 0, 1, 1, 1970};
  static constexpr std::array<int, 6> kMax = {60, 59, 23, 31, 12, INT_MAX};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != ' ') return 0;
      ++pos;
    }
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return 0;
    auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), f[i], 10);
    if (ec != std::errc() || f[i] < kMin[i] || f[i] > kMax[i]) return 0;
    pos = end - text.data();
  }
  if (pos != text.size()) return 0;

  // A leap second is read as the first second of the next minute.
  const int leap = f[0] == 60 ? 1 : 0;
  struct tm local {};
  local.tm_sec = f[0] - leap;
  local.tm_min = f[1];
  local.tm_hour = f[2];
  local.tm_mday = f[3];
  local.tm_mon = f[4] - 1;
  local.tm_year = f[5] - 1900;
  local.tm_isdst = -1;
  const time_t t = mktime(&local);
  // mktime moves dates that do not exist (31 Feb, a skipped hour); those are rejected.
  if (t < 0 || local.tm_sec != f[0] - leap || local.tm_min != f[1] || local.tm_hour != f[2] ||
      local.tm_mday != f[3] || local.tm_mon != f[4] - 1 || local.tm_year != f[5] - 1900)
    return 0;
  return static_cast<std::int64_t>(t) + leap;
}

}  // namespace platform
