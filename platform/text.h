// Text helpers shared by the engine, the mail code and the user interface. Text is UTF-8
// in std::string; UTF-16 appears only where a peer (ODBC wide calls, mail composition)
// needs it. Pure functions; any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A copy of the text with every apostrophe, line feed and bell character replaced by a
// blank; carriage returns and everything else stay. Applied to log texts and sample error
// descriptions before they are stored.
std::string SanitizeText(std::string_view text);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD, so the result is always valid.
std::string ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. Each ill-formed sequence (stray or missing continuation bytes,
// overlong forms, surrogates, values above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// "N/A" for -1, else the value in decimal.
std::string Int64ToString(std::int64_t value);

}  // namespace platform
