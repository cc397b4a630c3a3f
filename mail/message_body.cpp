// Body side of message composition: single-part and multipart bodies, text parts and
// attachments.
#include "mail/base64.h"
#include "mail/code_page.h"
#include "mail/mime.h"
#include "mail/quoted_printable.h"

namespace Smtp {

// Everything a body writes goes through one of these. After the first failure below it, it
// writes nothing more and answers every later write with that failure, so a broken
// connection gets no stray bytes and every later step reports the first error.
class MessageBody::GuardedStream : public mail::ISerialStream64Out {
 public:
  explicit GuardedStream(mail::ISerialStream64Out* target) : target_(target) {}

  Status Write(const void* data, std::uint64_t size, std::uint64_t* written = nullptr) override {
    if (written != nullptr) *written = 0;
    if (failure_ != platform::kOk) return failure_;
    if (target_ == nullptr) return failure_ = platform::kFailure;
    const Status status = target_->Write(data, size, written);
    if (status != platform::kOk) failure_ = status;
    return status;
  }

  Status Failure() const { return failure_; }

 private:
  mail::ISerialStream64Out* target_;
  Status failure_ = platform::kOk;
};

// The stream an attachment's content is written into: Base64 onto the body's stream.
class MessageBody::Attachment : public mail::Stream64AdapterBase {
 public:
  explicit Attachment(mail::ISerialStream64Out* target)
      : encoder_(std::make_unique<mail::Base64::EncodingStream>()) {
    SetTarget(target);
    encoder_->SetTarget(target);
    encoder_->Begin();
  }

  // Writes the Base64 tail; the attachment takes no more content afterwards.
  Status Finish() {
    if (!encoder_) return platform::kOk;
    const Status status = encoder_->Finish();
    encoder_.reset();
    return status;
  }

 protected:
  Status WriteChunk(const std::uint8_t* data, std::uint64_t size, std::uint64_t* written) override {
    if (!encoder_) return platform::kFailure;
    return encoder_->Write(data, size, written);
  }

 private:
  std::unique_ptr<mail::Base64::EncodingStream> encoder_;
};

MessageBody::Kind MessageBody::KindFromInt(int kind) {
  switch (kind) {
    case kBodyRelated:
      return Kind::kRelated;
    case kBodyAlternative:
      return Kind::kAlternative;
    default:
      return Kind::kMixed;
  }
}

MessageBody::MessageBody(mail::ISerialStream64Out* stream, Kind kind, std::uint16_t codePage)
    : out_(std::make_unique<GuardedStream>(stream)),
      kind_(kind),
      codePage_(codePage),
      boundary_(mail::MakeMimeBoundary()),
      delimiter_("\r\n--" + boundary_ + "\r\n"),
      closingDelimiter_("\r\n--" + boundary_ + "--\r\n") {}

MessageBody::~MessageBody() = default;

Status MessageBody::Begin() { return platform::kOk; }

Status MessageBody::Put(std::string_view text) { return out_->Write(text.data(), text.size()); }

Status MessageBody::ClosePart() {
  if (attachment_) {
    const Status status = attachment_->Finish();
    attachment_.reset();
    return status;
  }
  if (child_) {
    const Status status = child_->End();
    child_.reset();
    return status;
  }
  return platform::kOk;
}

Status MessageBody::WriteHeader(std::string_view type, std::string_view subtype) {
  std::string header;
  if (kind_ == Kind::kRelated) {
    header = "Content-Type: multipart/related;\r\n\t type=" +
             mail::QuoteString(std::string(type) + "/" + std::string(subtype)) +
             ";\r\n\t boundary=" + mail::QuoteString(boundary_) + "\r\n\r\n";
  } else {
    header = std::string("Content-Type: multipart/") +
             (kind_ == Kind::kAlternative ? "alternative" : "mixed") +
             ";\r\n\t boundary=" + mail::QuoteString(boundary_) + "\r\n\r\n";
  }
  return Put(header);
}

Status MessageBody::StartPart(std::string_view type, std::string_view subtype) {
  if (ended_) return platform::kFailure;
  if (const Status status = ClosePart(); status != platform::kOk) return status;
  if (out_->Failure() != platform::kOk) return out_->Failure();
  if (kind_ == Kind::kSinglePart) {
    // One part only: a second one would be glued to the first without a boundary.
    if (partAdded_) return platform::kFailure;
    partAdded_ = true;
    return platform::kOk;
  }
  if (!headerWritten_) {
    const Status status = WriteHeader(type, subtype);
    headerWritten_ = true;
    if (status != platform::kOk) return status;
  }
  return Put(delimiter_);
}

Status MessageBody::AddText(std::string_view subtype, const std::string& text) {
  if (const Status status = StartPart("text", subtype); status != platform::kOk) return status;
  mail::CodePageConverter converter(codePage_);
  const std::string bytes =
      text.empty() ? std::string() : converter.Convert(mail::RepairUtf8(text));
  const bool qp = mail::PreferQuotedPrintable(bytes);
  std::unique_ptr<mail::CodingBaseStream> encoder;
  if (qp) {
    encoder = std::make_unique<mail::QuotedPrintable::EncodingStream>();
  } else {
    encoder = std::make_unique<mail::Base64::EncodingStream>();
  }
  const std::string header =
      "Content-Type: text/" + std::string(subtype) +
      "; charset=" + mail::QuoteString(converter.CharsetName()) +
      "\r\nContent-Transfer-Encoding: " + (qp ? "quoted-printable" : "base64") + "\r\n\r\n";
  if (const Status status = Put(header); status != platform::kOk) return status;
  encoder->SetTarget(out_.get());
  encoder->Begin();
  if (const Status status = encoder->Write(bytes.data(), bytes.size()); status != platform::kOk) {
    return status;
  }
  return encoder->Finish();
}

Status MessageBody::AddPlainText(const std::string& text) { return AddText("plain", text); }

Status MessageBody::AddHtmlText(const std::string& text) { return AddText("html", text); }

Status MessageBody::AddAttachment(mail::ISerialStream64Out** stream, const IAttachmentInfo& info) {
  if (stream == nullptr) return platform::kFailure;
  *stream = nullptr;
  const std::string type = mail::BlankControls(info.GetType());
  const std::string subtype = mail::BlankControls(info.GetSubtype());
  if (const Status status = StartPart(type, subtype); status != platform::kOk) return status;
  const std::string fileName =
      mail::QuoteString(mail::EncodeHeaderText(info.GetFileName(), codePage_));
  std::string header = "Content-Type: " + type + "/" + subtype + ";\r\n\t name=" + fileName +
                       "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: " +
                       (info.GetInline() ? "inline" : "attachment") +
                       ";\r\n\t filename=" + fileName + "\r\n";
  if (const auto contentId = info.GetContentId()) {
    header += "Content-ID: <" + mail::BlankControls(*contentId) + ">\r\n";
  }
  header += "\r\n";
  if (const Status status = Put(header); status != platform::kOk) return status;
  attachment_ = std::make_unique<Attachment>(out_.get());
  *stream = attachment_.get();
  return platform::kOk;
}

Status MessageBody::AddBody(IMessageBody** body, int kind) {
  if (body == nullptr) return platform::kFailure;
  *body = nullptr;
  const Kind childKind = KindFromInt(kind);
  const char* subtype = childKind == Kind::kRelated       ? "related"
                        : childKind == Kind::kAlternative ? "alternative"
                                                          : "mixed";
  if (const Status status = StartPart("multipart", subtype); status != platform::kOk) {
    return status;
  }
  child_ = std::make_unique<MessageBody>(out_.get(), childKind, codePage_);
  if (const Status status = child_->Begin(); status != platform::kOk) {
    child_.reset();
    return status;
  }
  *body = child_.get();
  return platform::kOk;
}

Status MessageBody::End() {
  if (ended_) return out_->Failure();  // ending twice writes nothing more
  ended_ = true;
  if (const Status status = ClosePart(); status != platform::kOk) return status;
  if (kind_ == Kind::kSinglePart) return out_->Failure();
  return Put(closingDelimiter_);
}

}  // namespace Smtp
