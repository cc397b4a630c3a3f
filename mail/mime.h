// Composition of an outgoing message: the top header (Date, From, To, Subject,
// MIME-Version), header text and encoded words, addresses, and the body writer with text
// parts, Base64 attachments and nested multipart bodies. Text arrives as UTF-8 and is
// written in the code page the sender names. Nothing written here can start a header line
// of its own or end the DATA phase: control characters in header text become blanks, and
// long header values are folded so that no line comes near the 998-octet limit.
// A body and its parts belong to the thread of the client that made them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/smtp.h"
#include "mail/stream.h"

namespace mail {

// The Date value for a time (seconds since 1970, UTC) in the local time zone, e.g.
// "Sun, 06 Dec 2026 10:15:30 +0100": English names whatever the locale, a four-digit year.
std::string FormatRfc822Date(std::int64_t utcSeconds);
std::string FormatRfc822DateNow();

// A copy of the text with every control character (C0 and DEL) replaced by a blank, so
// that header text can neither end its line nor start a header or command of its own.
std::string BlankControls(std::string_view text);

// Header text in the code page (UTF-8 for a UTF-7 message, whose readers would show UTF-7
// bytes as they stand). Control characters become blanks. Text whose bytes are all
// printable ASCII and hold no "=?" stays as it is, folded at blanks to keep lines near 78
// characters (column: where the text starts on its first line, e.g. 9 after "Subject: ");
// other text becomes encoded words of at most 75 characters, one per line, no line over 76.
// Decoding and unfolding give back the text.
std::string EncodeHeaderText(std::string_view text, std::uint16_t codePage, std::size_t column = 0);

// "name <address>" with the name as a quoted string (ASCII without "=?") or as encoded
// words, in the code page EncodeHeaderText uses; the bare "<address>" when the name is
// empty. Control characters in either become blanks. A long name is folded like
// EncodeHeaderText (column: where the value starts on its line).
std::string FormatAddress(std::string_view name, std::string_view address, std::uint16_t codePage,
                          std::size_t column = 0);

// The text in double quotes, with backslashes and double quotes escaped by a backslash.
std::string QuoteString(std::string_view text);

// One encoded word over code-page bytes: "=?charset?Q?...?=" when at most a quarter of the
// bytes are 8-bit, else "=?charset?B?...?=". phrase restricts Q to the characters allowed
// in a display name. No length limit; EncodeHeaderText splits long text.
std::string MakeEncodedWord(std::string_view bytes, std::uint16_t codePage, bool phrase = false);

// Q encoding: printable ASCII except "=", "?" and "_" stands for itself (in a phrase only
// letters, digits and "!*+-/"), a blank becomes "_", every other byte "=XX".
std::string QEncodeBytes(std::string_view bytes, bool phrase = false);

// A new multipart boundary, "=====_=" and 16 hex digits from a per-thread generator.
std::string MakeMimeBoundary();

}  // namespace mail

namespace Smtp {

// Implemented by whoever adds an attachment.
class IAttachmentInfo {
 public:
  virtual std::string GetType() const = 0;      // e.g. "image"
  virtual std::string GetSubtype() const = 0;   // e.g. "png"
  virtual std::string GetFileName() const = 0;  // UTF-8
  virtual bool GetInline() const = 0;
  virtual std::optional<std::string> GetContentId() const = 0;  // none: no Content-ID

 protected:
  ~IAttachmentInfo() = default;
};

// A body that grows part by part. Every add first finishes the part or nested body that is
// still open. Results: 0, or the first failure of the stream below, after which nothing
// more is written.
class IMessageBody {
 public:
  virtual Status AddPlainText(const std::string& text) = 0;
  virtual Status AddHtmlText(const std::string& text) = 0;
  // Hands out the stream the attachment's content is written into; it stays owned by the
  // body and is finished by the next add or by the end of the body.
  virtual Status AddAttachment(mail::ISerialStream64Out** stream, const IAttachmentInfo& info) = 0;
  // Hands out a nested multipart body of the kind given (kBodyMixed, kBodyRelated,
  // kBodyAlternative; anything else is mixed), owned by this body.
  virtual Status AddBody(IMessageBody** body, int kind) = 0;
  virtual ~IMessageBody() = default;
};

class MessageBody : public IMessageBody {
 public:
  enum class Kind { kSinglePart, kMixed, kRelated, kAlternative };
  static Kind KindFromInt(int kind);

  // Writes to stream (not owned). A single-part body takes exactly one part and writes no
  // multipart header; its part's header follows the top header directly.
  MessageBody(mail::ISerialStream64Out* stream, Kind kind, std::uint16_t codePage);
  ~MessageBody() override;
  MessageBody(const MessageBody&) = delete;
  MessageBody& operator=(const MessageBody&) = delete;

  Status Begin();
  Status AddPlainText(const std::string& text) override;
  Status AddHtmlText(const std::string& text) override;
  Status AddAttachment(mail::ISerialStream64Out** stream, const IAttachmentInfo& info) override;
  Status AddBody(IMessageBody** body, int kind) override;
  // Finishes what is open; a multipart body then writes its closing delimiter. A second End
  // writes nothing; adds after End fail with 1.
  Status End();

  const std::string& Boundary() const { return boundary_; }

 private:
  class GuardedStream;
  class Attachment;

  Status AddText(std::string_view subtype, const std::string& text);
  Status StartPart(std::string_view type, std::string_view subtype);
  Status ClosePart();
  Status WriteHeader(std::string_view type, std::string_view subtype);
  Status Put(std::string_view text);

  std::unique_ptr<GuardedStream> out_;
  Kind kind_;
  std::uint16_t codePage_;
  std::unique_ptr<Attachment> attachment_;
  std::unique_ptr<MessageBody> child_;
  std::string boundary_;
  std::string delimiter_;
  std::string closingDelimiter_;
  bool headerWritten_ = false;
  bool partAdded_ = false;
  bool ended_ = false;
};

// The three header values; To lists the accepted recipients (indexes into info) in order,
// each further one on a continuation line ",\r\n\t ".
std::string FormatFromHeader(const IMessageInfo& info, std::uint16_t codePage);
std::string FormatToHeader(const IMessageInfo& info, const std::vector<std::uint32_t>& accepted,
                           std::uint16_t codePage);
std::string FormatSubjectHeader(const IMessageInfo& info, std::uint16_t codePage);

// The top header as sent right after DATA: Date, From, To, Subject and MIME-Version lines.
// It is not ended by an empty line: the body's first header follows it.
std::string ComposeTopHeader(const IMessageInfo& info, const std::vector<std::uint32_t>& accepted,
                             std::uint16_t codePage, std::int64_t now);
std::string ComposeTopHeader(const IMessageInfo& info, const std::vector<std::uint32_t>& accepted,
                             std::uint16_t codePage);

}  // namespace Smtp
