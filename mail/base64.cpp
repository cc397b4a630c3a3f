#include "mail/base64.h"

#include <algorithm>
#include <array>

namespace mail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint32_t kLineBytes = 57;  // input bytes per 76-character line

void EncodeGroup(const std::uint8_t* in, std::size_t n, std::string& out) {
  const std::uint32_t v =
      (std::uint32_t{in[0]} << 16) | (n > 1 ? std::uint32_t{in[1]} << 8 : 0) | (n > 2 ? in[2] : 0);
  out += kAlphabet[(v >> 18) & 63];
  out += kAlphabet[(v >> 12) & 63];
  out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
  out += n > 2 ? kAlphabet[v & 63] : '=';
}

constexpr std::array<std::int8_t, 256> MakeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = std::int8_t(i);
  return table;
}

constexpr std::array<std::int8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

namespace Base64 {

Status EncodingStream::Begin() {
  lineBreakPending_ = false;
  return platform::kOk;
}

Status EncodingStream::WriteChunk(const std::uint8_t* data, std::uint64_t size,
                                  std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  const std::uint64_t total = pending_.size() + size;
  if (total < 3) {
    pending_.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
    return platform::kOk;
  }
  // The input of this write: the held-back bytes first, then the new data.
  auto byteAt = [&](std::uint64_t i) -> std::uint8_t {
    return i < pending_.size() ? static_cast<std::uint8_t>(pending_[i]) : data[i - pending_.size()];
  };
  const std::uint64_t rest = total % 3;
  const std::uint64_t whole = total - rest;

  buffer_.clear();
  buffer_.reserve(static_cast<std::size_t>(whole / 3 * 4 + whole / kLineBytes * 2 + 2));
  std::uint64_t done = 0;
  bool first = true;
  while (done < whole) {
    const std::uint64_t run = std::min<std::uint64_t>(lineRoom_, whole - done);
    if (!first || lineBreakPending_) buffer_ += "\r\n";
    first = false;
    for (std::uint64_t i = 0; i < run; i += 3) {
      const std::uint8_t group[3] = {byteAt(done + i), byteAt(done + i + 1), byteAt(done + i + 2)};
      EncodeGroup(group, 3, buffer_);
    }
    done += run;
    lineRoom_ -= static_cast<std::uint32_t>(run);
    if (lineRoom_ == 0) lineRoom_ = kLineBytes;
  }
  lineBreakPending_ = lineRoom_ == kLineBytes;

  const Status status = WriteToTarget(buffer_.data(), buffer_.size(), written);
  if (status != platform::kOk) return status;
  std::string left;
  for (std::uint64_t i = whole; i < total; ++i) left += static_cast<char>(byteAt(i));
  pending_ = std::move(left);
  return status;
}

Status EncodingStream::Finish() {
  if (pending_.empty()) return platform::kOk;
  buffer_.clear();
  // A line that is not full has room for the last group: it holds at most 54 input bytes
  // (72 characters), as every run is a multiple of 3 bytes.
  if (lineBreakPending_) buffer_ += "\r\n";
  EncodeGroup(reinterpret_cast<const std::uint8_t*>(pending_.data()), pending_.size(), buffer_);
  const Status status = WriteToTarget(buffer_.data(), buffer_.size(), nullptr);
  if (status == platform::kOk) {
    pending_.clear();
    lineRoom_ = kLineBytes;
    lineBreakPending_ = false;
  }
  return status;
}

}  // namespace Base64

std::string Base64Encode(std::string_view data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  for (std::size_t i = 0; i < data.size(); i += 3) {
    EncodeGroup(bytes + i, std::min<std::size_t>(3, data.size() - i), out);
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t g = 0; g < text.size(); g += 4) {
    const bool last = g + 4 == text.size();
    // Padding is allowed only in the last group, as "xx==" or "xxx=".
    int padding = 0;
    if (last && text[g + 3] == '=') padding = text[g + 2] == '=' ? 2 : 1;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text[g + i];
      int digit;
      if (i >= 4 - padding) {
        digit = 0;
      } else {
        digit = kDecode[static_cast<unsigned char>(c)];
        if (digit < 0) return false;
      }
      v = (v << 6) | static_cast<std::uint32_t>(digit);
    }
    out += static_cast<char>((v >> 16) & 0xFF);
    if (padding < 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(v & 0xFF);
  }
  return true;
}

}  // namespace mail
