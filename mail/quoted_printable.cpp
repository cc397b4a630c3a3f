#include "mail/quoted_printable.h"

#include <algorithm>

namespace mail {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::uint32_t kMaxLine = 75;  // characters before the soft break's "="

bool IsLiteral(std::uint8_t b, bool last) {
  if (b >= 33 && b <= 126) return b != '=' && b != '.';
  return !last && (b == ' ' || b == '\t');
}

}  // namespace

namespace QuotedPrintable {

Status EncodingStream::Begin() {
  lineLength_ = 0;
  return platform::kOk;
}

Status EncodingStream::WriteChunk(const std::uint8_t* data, std::uint64_t size,
                                  std::uint64_t* written) {
  buffer_.clear();
  // At most 3 characters per byte plus a soft break for every 25 encoded bytes.
  const std::uint64_t maxReserve = std::uint64_t{1} << 30;
  buffer_.reserve(static_cast<std::size_t>(std::min(size, maxReserve) * 13 / 4 + 3));
  for (std::uint64_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    if (IsLiteral(b, i + 1 == size)) {
      if (lineLength_ == kMaxLine) {
        buffer_ += "=\r\n";
        lineLength_ = 0;
      }
      buffer_ += static_cast<char>(b);
      lineLength_ += 1;
    } else {
      if (lineLength_ >= kMaxLine - 2) {
        buffer_ += "=\r\n";
        lineLength_ = 0;
      }
      buffer_ += '=';
      buffer_ += kHex[b >> 4];
      buffer_ += kHex[b & 15];
      lineLength_ += 3;
    }
  }
  return WriteToTarget(buffer_.data(), buffer_.size(), written);
}

}  // namespace QuotedPrintable

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool PreferQuotedPrintable(std::string_view text) {
  const auto high = std::count_if(text.begin(), text.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  return static_cast<std::size_t>(high) <= text.size() / 4;
}

}  // namespace mail
