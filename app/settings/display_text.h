// Numbers as the lists and the settings file show them: -1 ("no value") as "-". Pure
// functions; any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// "-" for -1, else the value in decimal.
std::string IntToDisplayText(int value);
std::string Int64ToDisplayText(std::int64_t value);

// The number at the start of a text: leading blanks, an optional sign and the digits that
// follow, up to the first other character; 0 when there is no digit (so "-" and "" give
// 0). Values beyond the range of int give its nearest limit.
int ParseLeadingInt(std::string_view text);

}  // namespace app
