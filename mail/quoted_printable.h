// Quoted-printable encoding of text parts, and the tests that choose between
// quoted-printable and Base64. Pure code; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/stream.h"

namespace mail {

namespace QuotedPrintable {

// Encodes what is written to it: printable ASCII other than "=" and "." stays as it is, and
// so do blank and TAB except as the last byte of a write; every other byte (line breaks
// included) becomes "=XX" with upper-case hex digits. Soft breaks ("=" CR LF) keep every
// output line at 76 characters or fewer including the "="; there is no hard line break and
// no break at the end. Because "." is always encoded, no output line begins with a period.
class EncodingStream : public CodingBaseStream {
 public:
  Status Begin() override;

 protected:
  Status WriteChunk(const std::uint8_t* data, std::uint64_t size, std::uint64_t* written) override;

 private:
  std::string buffer_;            // the encoded form of one write
  std::uint32_t lineLength_ = 0;  // characters on the current output line
};

}  // namespace QuotedPrintable

// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// True when at most a quarter (length / 4, rounded down) of the bytes are 0x80 or above;
// true for "".
bool PreferQuotedPrintable(std::string_view text);

}  // namespace mail
