#include "mail/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "platform/text.h"

namespace mail {

namespace {

struct CharsetRow {
  std::uint16_t codePage;
  const char* name;   // MIME charset name
  const char* iconv;  // converter name; null when the system has none
};

// Searched in this order. Rows without a converter are written as US-ASCII.
constexpr CharsetRow kCharsetTable[] = {
    {1251, "WINDOWS-1251", "CP1251"},
    {1252, "WINDOWS-1252", "CP1252"},
    {1253, "WINDOWS-1253", "CP1253"},
    {1254, "WINDOWS-1254", "CP1254"},
    {1255, "WINDOWS-1255", "CP1255"},
    {1256, "WINDOWS-1256", "CP1256"},
    {1257, "WINDOWS-1257", "CP1257"},
    {1258, "WINDOWS-1258", "CP1258"},
    {28591, "ISO-8859-1", "ISO-8859-1"},
    {28592, "ISO-8859-2", "ISO-8859-2"},
    {28593, "ISO-8859-3", "ISO-8859-3"},
    {28594, "ISO-8859-4", "ISO-8859-4"},
    {28595, "ISO-8859-5", "ISO-8859-5"},
    {28596, "ISO-8859-6", "ISO-8859-6"},
    {28597, "ISO-8859-7", "ISO-8859-7"},
    {28598, "ISO-8859-8", "ISO-8859-8"},
    {28599, "ISO-8859-9", "ISO-8859-9"},
    {65000, "UTF-7", "UTF-7"},
    {65001, "UTF-8", nullptr},  // our own text; no conversion
    {10002, "Big5", "BIG5"},    // written as Big5, which is what the label says
    {51950, "EUC-TW", "EUC-TW"},
    {20936, "GB2312", "GB2312"},
    {52936, "HZ", nullptr},
    {932, "Shift_JIS", "CP932"},
    {50220, "ISO-2022-JP", "ISO-2022-JP"},
    {51932, "EUC-JP", "EUC-JP"},  // the registered name; readers do not know "EUC_JP"
    {50225, "ISO-2022-KR", "ISO-2022-KR"},
    {51949, "EUC-KR", "EUC-KR"},
    {20866, "KOI8-R", "KOI8-R"},
    {57010, "Gujarati-R", nullptr},
};

constexpr std::string_view kUsAscii = "US-ASCII";

const CharsetRow* FindWritable(std::uint16_t codePage) {
  for (const auto& row : kCharsetTable) {
    if (row.codePage != codePage) continue;
    if (row.iconv == nullptr && codePage != kCodePageUtf8) return nullptr;
    return &row;
  }
  return nullptr;
}

// Length of the UTF-8 sequence that starts with this (well-formed) lead byte.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

}  // namespace

struct CodePageConverter::Iconv {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  ~Iconv() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }

  // Converts as much of in as possible into out; false on a character it cannot convert,
  // with in pointing at it.
  bool Run(const char*& in, std::size_t& inLeft, std::string& out) {
    while (true) {
      char buffer[1024];
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      char* src = const_cast<char*>(in);
      const std::size_t r = in == nullptr ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                          : iconv(cd, &src, &inLeft, &dst, &dstLeft);
      if (in != nullptr) in = src;
      out.append(buffer, dst);
      if (r != static_cast<std::size_t>(-1)) return true;
      if (errno == E2BIG) continue;
      return false;
    }
  }
};

CodePageConverter::CodePageConverter(std::uint16_t codePage) {
  const CharsetRow* row = FindWritable(codePage);
  if (row != nullptr && row->iconv != nullptr) {
    auto conv = std::make_unique<Iconv>();
    conv->cd = iconv_open(row->iconv, "UTF-8");
    if (conv->cd != reinterpret_cast<iconv_t>(-1)) {
      iconv_ = std::move(conv);
    } else {
      row = nullptr;  // the system lacks the converter after all
    }
  }
  if (row == nullptr) {
    charset_ = kUsAscii;
    ascii_ = true;
  } else {
    charset_ = row->name;
  }
}

CodePageConverter::~CodePageConverter() = default;

std::string CodePageConverter::Convert(std::string_view text) {
  std::string out;
  if (ascii_) {
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
      const auto b = static_cast<unsigned char>(text[i]);
      out += b < 0x80 ? static_cast<char>(b) : '?';
      i += SequenceLength(b);
    }
    return out;
  }
  if (!iconv_) return std::string(text);  // UTF-8

  out.reserve(text.size() + 8);
  const char* none = nullptr;
  std::size_t zero = 0;
  iconv_->Run(none, zero, out);  // back to the initial state
  out.clear();
  const char* in = text.data();
  std::size_t inLeft = text.size();
  while (!iconv_->Run(in, inLeft, out)) {
    if (inLeft == 0) break;
    // A character the code page cannot hold: "?" in its place.
    const std::size_t skip = std::min(SequenceLength(static_cast<unsigned char>(*in)), inLeft);
    in += skip;
    inLeft -= skip;
    const char* question = "?";
    std::size_t one = 1;
    iconv_->Run(question, one, out);
  }
  iconv_->Run(none, zero, out);  // the sequence that returns to the initial state
  return out;
}

std::string RepairUtf8(std::string_view text) {
  return platform::ToUtf8(platform::Utf8ToUtf16(text));
}

std::string_view CharsetNameForCodePage(std::uint16_t codePage) {
  return CodePageConverter(codePage).CharsetName();
}

std::string WideToCodePage(std::string_view text, std::uint16_t codePage) {
  if (text.empty()) return std::string();
  return CodePageConverter(codePage).Convert(RepairUtf8(text));
}

}  // namespace mail
