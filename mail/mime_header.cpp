// Header side of message composition: date, header text, encoded words, addresses.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "mail/base64.h"
#include "mail/code_page.h"
#include "mail/mime.h"
#include "mail/quoted_printable.h"

namespace mail {

namespace {

constexpr std::size_t kFoldColumn = 78;  // preferred line length when folding
constexpr std::size_t kMaxLine = 998;    // hard limit of a header line
constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::size_t kMaxEncodedLine = 76;  // a line that holds encoded words

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsPrintableAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// Bytes that may stand in a header as they are: printable ASCII without "=?", which readers
// would take for the start of an encoded word and decode.
bool IsPlainHeaderText(std::string_view bytes) {
  return IsPrintableAscii(bytes) && bytes.find("=?") == std::string_view::npos;
}

// The code page header text is written in. UTF-7 text is printable ASCII, which readers
// show as it stands outside an encoded word, and few readers decode UTF-7 encoded words;
// header text of a UTF-7 message is therefore written in UTF-8.
std::uint16_t HeaderCodePage(std::uint16_t codePage) {
  return codePage == kCodePageUtf7 ? kCodePageUtf8 : codePage;
}

// Inserts CR LF before blanks so that lines stay within kFoldColumn where the text allows.
// Folds only before a blank that a non-blank follows, so every continuation line has
// content; unfolding (removing the CR LF) gives the text back. column is where the text
// starts on the first line. Gives nullopt when a line would still exceed kMaxLine.
std::optional<std::string> FoldAtBlanks(std::string_view text, std::size_t column) {
  std::string out;
  out.reserve(text.size() + text.size() / 30);
  std::size_t lineLength = column;
  std::size_t start = 0;
  while (start < text.size()) {
    // The next segment runs up to the next fold point (a blank followed by a non-blank).
    std::size_t end = start + 1;
    while (end < text.size() &&
           !(text[end] == ' ' && end + 1 < text.size() && text[end + 1] != ' ')) {
      ++end;
    }
    const std::size_t length = end - start;
    if (start > 0 && lineLength + length > kFoldColumn) {
      out += "\r\n";
      lineLength = 0;
    }
    out.append(text.substr(start, length));
    lineLength += length;
    if (lineLength > kMaxLine) return std::nullopt;
    start = end;
  }
  return out;
}

bool IsPhraseSafe(unsigned char b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '!' ||
         b == '*' || b == '+' || b == '-' || b == '/';
}

std::size_t QEncodedLength(std::string_view bytes, bool phrase) {
  std::size_t n = 0;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    const bool literal =
        phrase ? IsPhraseSafe(b) || b == ' '
               : (b >= 33 && b <= 126 && b != '=' && b != '?' && b != '_') || b == ' ';
    n += literal ? 1 : 3;
  }
  return n;
}

std::string EncodedWord(std::string_view charset, bool q, std::string_view bytes, bool phrase) {
  std::string word = "=?";
  word += charset;
  word += q ? "?Q?" : "?B?";
  word += q ? QEncodeBytes(bytes, phrase) : Base64Encode(bytes);
  word += "?=";
  return word;
}

// The text (well-formed UTF-8, no controls) as encoded words of at most kMaxEncodedWord
// characters, joined by CR LF and a blank. The words split the text between characters, and
// each is converted on its own, so every word decodes by itself. Q or B is chosen once, for
// the whole text. The first word is shorter when the text starts far into its line, so that
// every line stays within kMaxEncodedLine.
std::string MakeEncodedWords(std::string_view text, std::uint16_t codePage, bool phrase,
                             std::size_t column) {
  CodePageConverter converter(codePage);
  const std::string_view charset = converter.CharsetName();
  const bool q = PreferQuotedPrintable(converter.Convert(text));
  const std::size_t overhead = charset.size() + 7;  // "=?" charset "?Q?" ... "?="
  auto wordLength = [&](std::string_view bytes) {
    return overhead + (q ? QEncodedLength(bytes, phrase) : (bytes.size() + 2) / 3 * 4);
  };

  std::string out;
  std::size_t start = 0;
  std::size_t limit = std::clamp<std::size_t>(kMaxEncodedLine - std::min(column, kMaxEncodedLine),
                                              40, kMaxEncodedWord);
  while (start < text.size()) {
    // Grow the word one character at a time while it fits; at least one character.
    std::size_t end = start;
    std::string bytes;
    while (end < text.size()) {
      std::size_t next = end + 1;
      while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
      std::string candidate = converter.Convert(text.substr(start, next - start));
      if (end > start && wordLength(candidate) > limit) break;
      bytes = std::move(candidate);
      end = next;
    }
    if (!out.empty()) out += "\r\n ";
    out += EncodedWord(charset, q, bytes, phrase);
    start = end;
    limit = kMaxEncodedWord;
  }
  return out;
}

}  // namespace

std::string BlankControls(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = ' ';
  }
  return out;
}

std::string FormatRfc822Date(std::int64_t utcSeconds) {
  std::time_t t = static_cast<std::time_t>(utcSeconds);
  std::tm tm{};
  long offsetSeconds = 0;
  if (localtime_r(&t, &tm) != nullptr) {
    offsetSeconds = tm.tm_gmtoff;
  } else if (gmtime_r(&t, &tm) == nullptr) {
    t = 0;  // a time no calendar can hold; the Date line must still be well-formed
    gmtime_r(&t, &tm);
  }
  const long offsetMinutes = offsetSeconds / 60;
  const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDayNames[tm.tm_wday % 7], tm.tm_mday, kMonthNames[tm.tm_mon % 12],
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, offsetMinutes < 0 ? '-' : '+',
                absMinutes / 60, absMinutes % 60);
  return buffer;
}

std::string FormatRfc822DateNow() { return FormatRfc822Date(std::time(nullptr)); }

std::string QEncodeBytes(std::string_view bytes, bool phrase) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == ' ') {
      out += '_';
    } else if (phrase ? IsPhraseSafe(b)
                      : (b >= 33 && b <= 126 && b != '=' && b != '?' && b != '_')) {
      out += c;
    } else {
      out += '=';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::string MakeEncodedWord(std::string_view bytes, std::uint16_t codePage, bool phrase) {
  return EncodedWord(CharsetNameForCodePage(codePage), PreferQuotedPrintable(bytes), bytes, phrase);
}

std::string EncodeHeaderText(std::string_view text, std::uint16_t messageCodePage,
                             std::size_t column) {
  const std::uint16_t codePage = HeaderCodePage(messageCodePage);
  const std::string clean = BlankControls(RepairUtf8(text));
  const std::string bytes = WideToCodePage(clean, codePage);
  if (IsPlainHeaderText(bytes)) {
    if (auto folded = FoldAtBlanks(bytes, column)) return *folded;
  }
  return MakeEncodedWords(clean, codePage, false, column);
}

std::string QuoteString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatAddress(std::string_view name, std::string_view address,
                          std::uint16_t messageCodePage, std::size_t column) {
  std::string addressPart = "<" + BlankControls(address) + ">";
  if (name.empty()) return addressPart;
  const std::uint16_t codePage = HeaderCodePage(messageCodePage);
  const std::string clean = BlankControls(RepairUtf8(name));
  const std::string bytes = WideToCodePage(clean, codePage);
  std::optional<std::string> quoted;
  if (IsPlainHeaderText(bytes)) quoted = FoldAtBlanks(QuoteString(bytes), column);
  const std::string namePart = quoted ? *quoted : MakeEncodedWords(clean, codePage, true, column);
  // The address goes on a line of its own when it would make the name's last line too long.
  const std::size_t lastBreak = namePart.rfind("\r\n");
  const std::size_t lastLine =
      lastBreak == std::string::npos ? column + namePart.size() : namePart.size() - lastBreak - 2;
  const bool fold = lastLine + 1 + addressPart.size() > kMaxEncodedLine;
  return namePart + (fold ? "\r\n " : " ") + addressPart;
}

std::string MakeMimeBoundary() {
  // A small linear congruential generator per thread, 15 bits per value.
  thread_local std::uint32_t state = 1;
  auto next = [] {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFF;
  };
  const unsigned a = next(), b = next(), c = next(), d = next();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "=====_=%04x%04x%04x%04x", d, c, b, a);
  return buffer;
}

}  // namespace mail

namespace Smtp {

std::string FormatFromHeader(const IMessageInfo& info, std::uint16_t codePage) {
  const IAddress& sender = info.GetSender();
  return mail::FormatAddress(sender.GetName(), sender.GetAddress(), codePage, 6);  // "From: "
}

std::string FormatToHeader(const IMessageInfo& info, const std::vector<std::uint32_t>& accepted,
                           std::uint16_t codePage) {
  std::string out;
  for (std::uint32_t index : accepted) {
    if (index >= info.GetRecipientCount()) continue;
    // The first address follows "To: ", every further one ",\r\n\t ".
    const std::size_t column = out.empty() ? 4 : 2;
    if (!out.empty()) out += ",\r\n\t ";
    const IAddress& recipient = info.GetRecipient(index);
    out += mail::FormatAddress(recipient.GetName(), recipient.GetAddress(), codePage, column);
  }
  return out;
}

std::string FormatSubjectHeader(const IMessageInfo& info, std::uint16_t codePage) {
  return mail::EncodeHeaderText(info.GetSubject(), codePage, 9);  // after "Subject: "
}

std::string ComposeTopHeader(const IMessageInfo& info, const std::vector<std::uint32_t>& accepted,
                             std::uint16_t codePage, std::int64_t now) {
  std::string out = "Date: " + mail::FormatRfc822Date(now);
  out += "\r\nFrom: " + FormatFromHeader(info, codePage);
  out += "\r\nTo: " + FormatToHeader(info, accepted, codePage);
  out += "\r\nSubject: " + FormatSubjectHeader(info, codePage);
  out += "\r\nMIME-Version: 1.0\r\n";
  return out;
}

std::string ComposeTopHeader(const IMessageInfo& info, const std::vector<std::uint32_t>& accepted,
                             std::uint16_t codePage) {
  return ComposeTopHeader(info, accepted, codePage, std::time(nullptr));
}

}  // namespace Smtp
