// SMTP replies as the client reads them: an incremental parser that takes bytes as they
// arrive, gives one complete reply at a time and keeps what follows it, with a cap on the
// size of one reply; and the capabilities a server lists in its EHLO reply. Pure code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Smtp {

struct ReplyLine {
  std::uint16_t code = 0;
  std::string text;  // without the code, the separator and leading blanks
};

struct Reply {
  std::vector<ReplyLine> lines;
  // The code of the first line; 0 for an empty reply.
  std::uint16_t Code() const { return lines.empty() ? 0 : lines.front().code; }
};

class ReplyParser {
 public:
  enum class Result { kIncomplete, kComplete, kMalformed, kTooLong };

  // One reply may hold this many bytes; RFC 5321 lines are at most 512.
  static constexpr std::size_t kMaxReplySize = 64 * 1024;

  // Takes more bytes from the connection.
  void Append(std::string_view bytes);
  // Parses what has arrived. kComplete moves the reply into *reply and keeps the bytes
  // after it for the next call; kIncomplete waits for more. A line ends at CR LF only;
  // a CR followed by another byte, a line shorter than 3 bytes or one whose first three
  // bytes are not digits is kMalformed; a reply over kMaxReplySize is kTooLong.
  Result Next(Reply* reply);
  // Bytes received after the last complete reply and not yet parsed.
  bool HasPending() const { return pos_ < buffer_.size() || !current_.lines.empty(); }
  void Clear();

 private:
  std::string buffer_;
  std::size_t pos_ = 0;   // start of the line being parsed
  std::size_t scan_ = 0;  // where the search for its CR goes on
  std::size_t replyBytes_ = 0;
  Reply current_;
};

// The EHLO keywords and their parameters.
class Capabilities {
 public:
  struct Entry {
    std::string keyword;
    std::vector<std::string> params;
  };

  // Skips the first line; every later line with code 250 and text gives one entry: the
  // keyword up to the first blank, the rest split at every single blank.
  void ParseEhloReply(const Reply& reply);
  void Clear() { entries_.clear(); }
  // The parameters of the first entry whose keyword matches, compared without regard to
  // case; nullptr when there is none.
  const std::vector<std::string>* Find(std::string_view keyword) const;
  bool Has(std::string_view keyword) const { return Find(keyword) != nullptr; }
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

enum class AuthMechanism { kPlain, kCramMd5 };

// The first of PLAIN and CRAM-MD5 that the AUTH capability lists, in the server's order,
// compared without regard to case; nullopt when there is no AUTH or neither mechanism.
std::optional<AuthMechanism> ChooseAuthMechanism(const Capabilities& capabilities);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace Smtp
