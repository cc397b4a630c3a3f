// The SMTP client: one connection, one message. Command layer (lines out, replies in),
// the opening dialogue (greeting, EHLO, STARTTLS with a real TLS handshake whenever the
// server offers it, AUTH PLAIN or CRAM-MD5), the envelope, the DATA phase through the
// dot-stuffing filter, and QUIT.
#include "mail/smtp_client.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "mail/base64.h"
#include "mail/code_page.h"
#include "mail/md5.h"
#include "mail/mime.h"
#include "mail/smtp_reply.h"
#include "mail/tls.h"

namespace Smtp {

using platform::kFailure;
using platform::kOk;

// ---------------------------------------------------------------------------------------
// DotStuffingStream

Status DotStuffingStream::Begin() {
  atLineStart_ = true;
  pendingCr_ = false;
  return kOk;
}

Status DotStuffingStream::WriteChunk(const std::uint8_t* data, std::uint64_t size,
                                     std::uint64_t* written) {
  buffer_.clear();
  buffer_.reserve(static_cast<std::size_t>(size) + 16);
  for (std::uint64_t i = 0; i < size; ++i) {
    const char byte = static_cast<char>(data[i]);
    if (pendingCr_) {
      pendingCr_ = false;
      buffer_ += "\r\n";
      atLineStart_ = true;
      if (byte == '\n') continue;
    }
    if (byte == '\r') {
      pendingCr_ = true;
      continue;
    }
    if (byte == '\n') {
      buffer_ += "\r\n";
      atLineStart_ = true;
      continue;
    }
    if (atLineStart_ && byte == '.') buffer_ += '.';
    buffer_ += byte;
    atLineStart_ = false;
  }
  Status status = buffer_.empty() ? kOk : WriteToTarget(buffer_.data(), buffer_.size(), nullptr);
  if (written != nullptr) *written = status == kOk ? size : 0;
  return status;
}

Status DotStuffingStream::Finish() {
  if (!pendingCr_) return kOk;
  pendingCr_ = false;
  atLineStart_ = true;
  return WriteToTarget("\r\n", 2, nullptr);
}

namespace {

std::string TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

bool IsSafeAddress(const std::string& address) {
  if (address.empty()) return false;
  for (unsigned char c : address) {
    if (c <= 0x20 || c >= 0x7F || c == '<' || c == '>') return false;
  }
  return true;
}

// The caller's message with every address trimmed of surrounding blanks, so that the
// envelope and the header carry the same, checked bytes.
class TrimmedMessageInfo : public IMessageInfo {
 public:
  explicit TrimmedMessageInfo(const IMessageInfo& info)
      : sender_(info.GetSender()), subject_(info.GetSubject()) {
    const std::uint32_t count = info.GetRecipientCount();
    recipients_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) recipients_.emplace_back(info.GetRecipient(i));
  }

  const IAddress& GetSender() const override { return sender_; }
  std::uint32_t GetRecipientCount() const override {
    return static_cast<std::uint32_t>(recipients_.size());
  }
  const IAddress& GetRecipient(std::uint32_t index) const override { return recipients_.at(index); }
  std::string GetSubject() const override { return subject_; }

 private:
  class Address : public IAddress {
   public:
    explicit Address(const IAddress& address)
        : name_(address.GetName()), address_(TrimBlanks(address.GetAddress())) {}
    std::string GetName() const override { return name_; }
    std::string GetAddress() const override { return address_; }

   private:
    std::string name_;
    std::string address_;
  };

  Address sender_;
  std::vector<Address> recipients_;
  std::string subject_;
};

class Client : public IClient {
 public:
  explicit Client(const ClientOptions& options) : options_(options), bodyOut_(nullptr) {}

  Status Init() {
    Status status = cancel_.Create();
    if (status != kOk) return status;
    dotStuffer_.SetTarget(&bodyOut_);
    return kOk;
  }

  Status Release() override {
    delete this;
    return kOk;
  }

  Status Cancel() override { return cancel_.Signal(); }

  Status Connect(const IConnectionParams& params) override;
  Status Disconnect(bool sendQuit) override;
  Status BeginMessage(IMessageBody** body, int kind, const IMessageInfo& info,
                      std::uint16_t codePage) override;
  Status SendText(const std::string& text, const IMessageInfo& info,
                  std::uint16_t codePage) override {
    return SendSinglePart(text, false, info, codePage);
  }
  Status SendHtml(const std::string& html, const IMessageInfo& info,
                  std::uint16_t codePage) override {
    return SendSinglePart(html, true, info, codePage);
  }
  Status EndMessage() override;

 private:
  ~Client() override {
    body_.reset();
    tls_.reset();  // before the socket it runs over
    socket_.Reset();
  }

  // Remembers the first failure: after it nothing more is said to the server.
  Status Fail(Status status) {
    if (status != kOk) failed_ = true;
    return status;
  }

  // Command layer.
  Status SendRaw(std::string_view bytes) {
    return mail::SendAll(*stream_, bytes.data(), bytes.size());
  }
  Status SendCommandLine(std::string_view verb, const std::string* argument);
  Status ReadReply();
  Status ExpectCode(std::uint16_t expected) const;
  Status ReadAndExpect(std::uint16_t expected) {
    Status status = ReadReply();
    return status != kOk ? status : ExpectCode(expected);
  }
  Status SendCommand(std::string_view verb, const std::string* argument, std::uint16_t expected) {
    Status status = SendCommandLine(verb, argument);
    return status != kOk ? status : ReadAndExpect(expected);
  }

  // Dialogue steps.
  Status Ehlo();
  Status StartTls(const std::string& host);
  Status Authenticate(const std::string& user, const std::string& password);
  Status SendEnvelopeAndHeader(const IMessageInfo& info, std::uint16_t codePage);
  Status SendSinglePart(const std::string& text, bool html, const IMessageInfo& info,
                        std::uint16_t codePage);

  ClientOptions options_;
  mail::CancelEvent cancel_;
  mail::KivSocket socket_;
  std::unique_ptr<mail::TlsStream> tls_;
  mail::ISocketStream* stream_ = &socket_;  // the socket, or TLS over it
  mail::KivSocketExStreamOut bodyOut_;
  DotStuffingStream dotStuffer_;
  ReplyParser parser_;
  Reply reply_;
  Capabilities capabilities_;
  std::string ehloName_;
  std::unique_ptr<MessageBody> body_;
  bool used_ = false;       // Connect was called; a client connects once
  bool connected_ = false;  // Connect succeeded
  bool inData_ = false;     // DATA was accepted and the end of data not yet sent
  bool failed_ = false;
};

Status Client::SendCommandLine(std::string_view verb, const std::string* argument) {
  std::string line;
  if (argument == nullptr) {
    line = verb;
  } else if (verb == "MAIL") {
    line = "MAIL FROM:<" + *argument + ">";
  } else if (verb == "RCPT") {
    line = "RCPT TO:<" + *argument + ">";
  } else {
    line = std::string(verb) + " " + *argument;
  }
  line += "\r\n";
  return SendRaw(line);
}

Status Client::ReadReply() {
  reply_ = Reply();
  char buffer[4096];
  for (;;) {
    switch (parser_.Next(&reply_)) {
      case ReplyParser::Result::kComplete:
        return kOk;
      case ReplyParser::Result::kMalformed:
      case ReplyParser::Result::kTooLong:
        return kFailure;
      case ReplyParser::Result::kIncomplete:
        break;
    }
    std::size_t received = 0;
    Status status = stream_->Receive(buffer, sizeof buffer, &received);
    if (status != kOk) return status;
    if (received == 0) return kFailure;  // the server closed the connection
    parser_.Append(std::string_view(buffer, received));
  }
}

Status Client::ExpectCode(std::uint16_t expected) const {
  const std::uint16_t code = reply_.Code();
  if (code == expected) return kOk;
  // A code that cannot be told from success or from our own statuses is our failure.
  return code < 100 ? kFailure : code;
}

Status Client::Ehlo() {
  Status status = SendCommand("EHLO", &ehloName_, 250);
  if (status == kOk) capabilities_.ParseEhloReply(reply_);
  return status;
}

Status Client::StartTls(const std::string& host) {
  // Never fall back to plain text: a server that does not offer TLS, refuses STARTTLS or
  // fails the handshake or the certificate check gets nothing more.
  if (!capabilities_.Has("STARTTLS")) return kFailure;
  Status status = SendCommand("STARTTLS", nullptr, 220);
  if (status != kOk) return status;
  // Bytes after the 220 were not protected by TLS and must not be read as replies to
  // what we say over it.
  if (parser_.HasPending()) return kFailure;
  tls_ = std::make_unique<mail::TlsStream>(&socket_);
  status = tls_->Handshake(host, options_.caFile);
  if (status != kOk) return status;
  stream_ = tls_.get();
  bodyOut_.SetStream(stream_);
  parser_.Clear();
  capabilities_.Clear();  // what the server said before TLS counts for nothing
  return Ehlo();
}

Status Client::Authenticate(const std::string& user, const std::string& password) {
  std::optional<AuthMechanism> mechanism = ChooseAuthMechanism(capabilities_);
  if (!mechanism) return kFailure;
  if (*mechanism == AuthMechanism::kPlain) {
    std::string credentials;
    credentials.push_back('\0');
    credentials += user;
    credentials.push_back('\0');
    credentials += password;
    const std::string argument = "PLAIN " + mail::Base64Encode(credentials);
    return SendCommand("AUTH", &argument, 235);
  }
  const std::string argument = "CRAM-MD5";
  Status status = SendCommand("AUTH", &argument, 334);
  if (status != kOk) return status;
  const std::string challenge = reply_.lines.front().text;
  std::string answer;
  if (mail::MakeCramMd5Response(answer, challenge, user, password)) {
    status = SendRaw(answer + "\r\n");
    return status != kOk ? status : ReadAndExpect(235);
  }
  // A challenge we cannot read: abandon the exchange.
  status = SendRaw("*\r\n");
  if (status == kOk) status = ReadAndExpect(501);
  return status == kOk ? kFailure : status;
}

Status Client::Connect(const IConnectionParams& params) {
  if (used_) return kFailure;
  used_ = true;
  mail::IgnoreSigpipe();

  const std::uint32_t timeout = params.GetTimeout();
  std::uint32_t deadline = mail::kInfinite;
  if (options_.deadlineMs) {
    deadline = *options_.deadlineMs;
  } else if (timeout != mail::kInfinite) {
    deadline = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{timeout} * kDeadlineWaits, mail::kInfinite - 1));
  }
  Status status = socket_.Init(&cancel_, timeout, deadline);
  if (status != kOk) return Fail(status);

  const std::string server = TrimBlanks(params.GetServer());
  std::vector<mail::Blob128> addresses;
  status = mail::ResolveHostAddress(
      server, params.GetPort(), &addresses,
      options_.nameLookup ? options_.nameLookup : mail::NameLookup(mail::SystemNameLookup));
  if (status == kOk) status = socket_.ConnectAny(addresses);
  if (status != kOk) return Fail(status);
  stream_ = &socket_;
  bodyOut_.SetStream(stream_);

  ehloName_ = options_.localName;
  if (ehloName_.empty()) {
    mail::Blob128 local;
    socket_.GetLocalAddress(&local);
    ehloName_ = mail::MakeEhloName(mail::GetLocalFqdn(), local);
  }

  status = ReadAndExpect(220);
  if (status == kOk) status = Ehlo();
  // A server that offers TLS gets it whether or not the caller asked, so that credentials
  // and the message never cross in clear where they need not; only a caller that asked
  // for TLS fails on a server without it.
  if (status == kOk && (params.GetUseStartTls() || capabilities_.Has("STARTTLS"))) {
    status = StartTls(server);
  }
  if (status == kOk && params.GetUseAuthentication()) {
    status = Authenticate(params.GetUserName(), params.GetPassword());
  }
  if (status != kOk) return Fail(status);
  connected_ = true;
  return kOk;
}

Status Client::SendEnvelopeAndHeader(const IMessageInfo& callerInfo, std::uint16_t codePage) {
  if (!connected_ || failed_ || inData_ || body_) return kFailure;
  // Checked before anything of the message goes out.
  TrimmedMessageInfo info(callerInfo);
  if (ValidateMessageInfo(info) != kOk) return kFailure;

  const std::string sender = info.GetSender().GetAddress();
  Status status = SendCommand("MAIL", &sender, 250);
  if (status != kOk) return Fail(status);

  // A refused recipient is skipped; anything that is not a reply (a time-out, a reset, a
  // malformed reply) leaves the connection unusable and ends the exchange.
  std::vector<std::uint32_t> accepted;
  Status firstRefusal = kOk;
  for (std::uint32_t i = 0; i < info.GetRecipientCount(); ++i) {
    const std::string recipient = info.GetRecipient(i).GetAddress();
    status = SendCommandLine("RCPT", &recipient);
    if (status == kOk) status = ReadReply();
    if (status != kOk) return Fail(status);
    status = ExpectCode(250);
    if (status == kOk) {
      accepted.push_back(i);
    } else if (firstRefusal == kOk) {
      firstRefusal = status;
    }
  }
  if (accepted.empty()) return Fail(firstRefusal != kOk ? firstRefusal : kFailure);

  status = SendCommand("DATA", nullptr, 354);
  if (status != kOk) return Fail(status);
  inData_ = true;
  dotStuffer_.Begin();
  const std::string header = ComposeTopHeader(info, accepted, codePage);
  return Fail(dotStuffer_.Write(header.data(), header.size()));
}

Status Client::SendSinglePart(const std::string& text, bool html, const IMessageInfo& info,
                              std::uint16_t codePage) {
  Status status = SendEnvelopeAndHeader(info, codePage);
  if (status != kOk) return status;
  body_ = std::make_unique<MessageBody>(&dotStuffer_, MessageBody::Kind::kSinglePart, codePage);
  status = body_->Begin();
  if (status == kOk) status = html ? body_->AddHtmlText(text) : body_->AddPlainText(text);
  if (status == kOk) status = body_->End();
  return Fail(status);
}

Status Client::BeginMessage(IMessageBody** body, int kind, const IMessageInfo& info,
                            std::uint16_t codePage) {
  if (body == nullptr) return kFailure;
  *body = nullptr;
  Status status = SendEnvelopeAndHeader(info, codePage);
  if (status != kOk) return status;
  body_ = std::make_unique<MessageBody>(&dotStuffer_, MessageBody::KindFromInt(kind), codePage);
  status = body_->Begin();
  if (status != kOk) return Fail(status);
  *body = body_.get();
  return kOk;
}

Status Client::EndMessage() {
  if (!body_ || !inData_ || failed_) {
    body_.reset();
    return kFailure;
  }
  Status status = body_->End();
  body_.reset();
  if (status == kOk) status = dotStuffer_.Finish();
  // The end of data goes out as it stands, past the filter.
  if (status == kOk) status = SendRaw("\r\n.\r\n");
  if (status == kOk) status = ReadAndExpect(250);
  inData_ = false;
  return Fail(status);
}

Status Client::Disconnect(bool sendQuit) {
  body_.reset();
  if (!sendQuit) return kOk;
  // QUIT only on a connection in step: never inside DATA (it would become message text)
  // and never after a failure.
  if (!connected_ || failed_ || inData_) return kFailure;
  return SendCommand("QUIT", nullptr, 221);
}

}  // namespace

Status CreateClient(IClient** client, const ClientOptions& options) {
  if (client == nullptr) return kFailure;
  *client = nullptr;
  auto* created = new Client(options);
  Status status = created->Init();
  if (status != kOk) {
    created->Release();
    return status;
  }
  *client = created;
  return kOk;
}

Status CreateClient(IClient** client) { return CreateClient(client, ClientOptions()); }

Status ValidateMessageInfo(const IMessageInfo& info) {
  if (info.GetRecipientCount() == 0) return kFailure;
  if (!IsSafeAddress(TrimBlanks(info.GetSender().GetAddress()))) return kFailure;
  for (std::uint32_t i = 0; i < info.GetRecipientCount(); ++i) {
    if (!IsSafeAddress(TrimBlanks(info.GetRecipient(i).GetAddress()))) return kFailure;
  }
  return kOk;
}

Status SendOneMessage(IClient& client, const IConnectionParams& params, const IMessageInfo& info,
                      const std::string& text, bool html) {
  Status status = client.Connect(params);
  if (status == kOk) {
    status = html ? client.SendHtml(text, info, mail::kCodePageUtf8)
                  : client.SendText(text, info, mail::kCodePageUtf8);
  }
  if (status == kOk) status = client.EndMessage();
  client.Disconnect(status == kOk);
  return status;
}

}  // namespace Smtp
