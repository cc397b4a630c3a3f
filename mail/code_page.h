// Code pages of outgoing mail: the MIME charset name of a code page and the conversion of
// the program's UTF-8 text into it. Only the code pages we can both name and convert to
// are written as such; any other is written as US-ASCII, with "?" for every character
// outside ASCII, so the charset label always matches the bytes. Any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mail {

inline constexpr std::uint16_t kCodePageUtf7 = 65000;
inline constexpr std::uint16_t kCodePageUtf8 = 65001;

// The MIME charset name of a code page: "UTF-8" for 65001, "WINDOWS-1252" for 1252 and so
// on; "US-ASCII" for a code page we cannot write.
std::string_view CharsetNameForCodePage(std::uint16_t codePage);

// The UTF-8 text converted to the code page. Ill-formed UTF-8 becomes U+FFFD first; a
// character the code page cannot hold becomes "?". Never empty for non-empty text.
std::string WideToCodePage(std::string_view text, std::uint16_t codePage);

// A converter kept open for many conversions into one code page (the same rules as
// WideToCodePage). Each Convert starts from the initial shift state and ends in it, so each
// result stands on its own. Not shared between threads.
class CodePageConverter {
 public:
  explicit CodePageConverter(std::uint16_t codePage);
  ~CodePageConverter();
  CodePageConverter(const CodePageConverter&) = delete;
  CodePageConverter& operator=(const CodePageConverter&) = delete;

  // text must be well-formed UTF-8 (see RepairUtf8).
  std::string Convert(std::string_view text);
  std::string_view CharsetName() const { return charset_; }

 private:
  struct Iconv;
  std::string_view charset_;
  std::unique_ptr<Iconv> iconv_;  // null for UTF-8 and US-ASCII
  bool ascii_ = false;
};

// The text with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string RepairUtf8(std::string_view text);

}  // namespace mail
