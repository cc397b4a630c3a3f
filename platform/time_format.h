// Text forms of times (std::int64_t seconds since 1970), always in local time and always
// in the C locale (English month names, AM/PM), whatever locale the program runs in.
// Any thread may call; they read the time zone, which only tests change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// By granularity: 3 "14 Nov 2023 10:13 PM", 0 "14 Nov 2023 10:00 PM" (hours),
// 1 "14 Nov 2023" (days), 2 "Nov 2023" (months). Time 0 gives "-" for these four; any
// other granularity gives "".
std::string FormatTimeForDisplay(std::int64_t t, int granularity);

// The compact stored form "%S %M %H %d %m %Y" of the local time, e.g. "05 13 22 14 11 2023".
std::string TimeToString(std::int64_t t);

// Reads the form written by TimeToString. "" gives 0, and so does anything that is not
// exactly six decimal numbers separated by single blanks in range (seconds 0-60, minutes
// 0-59, hours 0-23, day 1-31, month 1-12, year from 1970) naming a local time that exists.
std::int64_t StringToTime(std::string_view text);

}  // namespace platform
