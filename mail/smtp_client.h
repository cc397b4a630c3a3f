// The parts of the SMTP client below its interface that tests and the client share: the
// options a test sets (trusted authorities, EHLO name, name lookup, overall deadline), and
// the DATA filter that keeps message text from ending the DATA phase early. Used by the
// client's one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mail/smtp.h"
#include "mail/socket.h"
#include "mail/stream.h"

namespace Smtp {

// The whole exchange may last this many per-wait time-outs, so that a server that
// trickles bytes cannot hold a sender for ever.
inline constexpr std::uint32_t kDeadlineWaits = 15;

struct ClientOptions {
  std::string caFile;                       // PEM authorities to trust instead of the system's
  std::string localName;                    // the EHLO name; empty: from the system
  mail::NameLookup nameLookup;              // empty: the system's resolver
  std::optional<std::uint32_t> deadlineMs;  // whole exchange; default kDeadlineWaits waits
};

// CreateClient with options other than the defaults (tests).
Status CreateClient(IClient** client, const ClientOptions& options);

// The DATA filter. A line that begins with "." gets another "." in front (RFC 5321
// 4.5.2), and a CR or LF that is not part of a CR LF pair becomes CR LF, so no byte
// sequence of the message can read as the end of the data. Text without such lines and
// breaks passes unchanged. Finish ends a pending CR.
class DotStuffingStream : public mail::CodingBaseStream {
 public:
  Status Begin() override;
  Status Finish() override;
  // True when the last byte written ended a line (or nothing was written).
  bool AtLineStart() const { return atLineStart_ && !pendingCr_; }

 protected:
  Status WriteChunk(const std::uint8_t* data, std::uint64_t size, std::uint64_t* written) override;

 private:
  bool atLineStart_ = true;
  bool pendingCr_ = false;
  std::string buffer_;
};

}  // namespace Smtp
