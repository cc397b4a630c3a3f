#include "engine/report/html_text.h"

#include <charconv>

#include "platform/text.h"

namespace engine {
namespace {

void AppendReference(std::string& page, char32_t codePoint) {
  char digits[16];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(codePoint));
  page += "&#";
  page.append(digits, result.ptr);
  page += ';';
}

// A run of bytes above 0x7F: decoded by the platform's checked UTF-8 reader, then written
// one reference per code point.
void AppendNonAscii(std::string& page, std::string_view run) {
  const std::u16string units = platform::Utf8ToUtf16(run);
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    AppendReference(page, c);
  }
}

}  // namespace

void AppendHtmlText(std::string& page, std::string_view utf8) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      std::size_t end = i;
      while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) >= 0x80) ++end;
      AppendNonAscii(page, utf8.substr(i, end - i));
      i = end;
      continue;
    }
    switch (c) {
      case '&':
        page += "&amp;";
        break;
      case '<':
        page += "&lt;";
        break;
      case '>':
        page += "&gt;";
        break;
      case '"':
        page += "&quot;";
        break;
      case '\'':
        page += "&#39;";
        break;
      default:
        page += static_cast<char>(c);
    }
    ++i;
  }
}

std::string HtmlText(std::string_view utf8) {
  std::string text;
  text.reserve(utf8.size());
  AppendHtmlText(text, utf8);
  return text;
}

}  // namespace engine
