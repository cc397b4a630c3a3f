// Base64 (standard alphabet, "=" padding): the encoding stream for attachments and for text
// parts that are mostly 8-bit, and the one-shot encoder and strict decoder used by SMTP
// authentication and by encoded header words. Pure code; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/stream.h"

namespace mail {

namespace Base64 {

// Encodes what is written to it into lines of 76 characters (57 input bytes) separated by
// CR LF, without a line break after the last line. Up to two input bytes that do not make
// a full group wait for the next write or for Finish, which pads them. A failed write to
// the target leaves the held-back bytes as they were and returns the target's status.
class EncodingStream : public CodingBaseStream {
 public:
  Status Begin() override;
  Status Finish() override;

 protected:
  Status WriteChunk(const std::uint8_t* data, std::uint64_t size, std::uint64_t* written) override;

 private:
  std::string pending_;            // 0 to 2 bytes left over from earlier writes
  std::string buffer_;             // the encoded form of one write
  std::uint32_t lineRoom_ = 57;    // input bytes that still fit on the current output line
  bool lineBreakPending_ = false;  // the current line is full; the next output starts with CR LF
};

}  // namespace Base64

// The Base64 text of the whole input, without line breaks; "" for "".
std::string Base64Encode(std::string_view data);

// Decodes strict Base64: the length is a multiple of 4, no white space, every character in
// the alphabet except "=" as padding at the end ("xx==" or "xxx="). Gives false for anything
// else, and out is then unspecified. "" decodes to "".
bool Base64Decode(std::string_view text, std::string& out);

}  // namespace mail
