// The SMTP client as its callers see it: the interfaces through which a caller describes
// the connection and the message, the client interface, its factory and its owning holder.
// One client sends one message over one connection and is used by one thread; only Cancel
// may come from another thread. All text is UTF-8. Every operation returns a status:
// 0 success, 1 our own failure, an SMTP reply code when the server answered another code
// than expected, a WinSock-style socket or resolver number, 258 when a wait timed out,
// 0xFFFFFFFF when a wait failed (see platform/status.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/status.h"

namespace Smtp {

using platform::Status;

class IMessageBody;  // a growing message body (mail/mime.h)

// Implemented by the caller: where to connect and how.
class IConnectionParams {
 public:
  virtual std::string GetServer() const = 0;  // host name or IPv4/IPv6 address
  virtual std::uint16_t GetPort() const = 0;
  virtual bool GetUseAuthentication() const = 0;  // AUTH after EHLO
  virtual std::string GetUserName() const = 0;
  virtual std::string GetPassword() const = 0;
  // Require TLS: a server that does not offer STARTTLS fails the connection. A server that
  // offers it is switched to TLS before authenticating either way (the server certificate
  // and host name are verified, and a failed check fails the connection); without the
  // requirement, a server that does not offer it is spoken to in plain text.
  virtual bool GetUseStartTls() const = 0;
  virtual std::uint32_t GetTimeout() const = 0;  // limit of one wait in ms; 0xFFFFFFFF: none

 protected:
  ~IConnectionParams() = default;
};

// Implemented by the caller: one mailbox.
class IAddress {
 public:
  virtual std::string GetName() const = 0;     // display name, may be empty
  virtual std::string GetAddress() const = 0;  // the mailbox, as sent in the envelope

 protected:
  ~IAddress() = default;
};

// Implemented by the caller: who sends the message, to whom, and its subject.
class IMessageInfo {
 public:
  virtual const IAddress& GetSender() const = 0;
  virtual std::uint32_t GetRecipientCount() const = 0;
  virtual const IAddress& GetRecipient(std::uint32_t index) const = 0;
  virtual std::string GetSubject() const = 0;

 protected:
  ~IMessageInfo() = default;
};

// Plain values behind the three interfaces above, for callers that know everything up
// front (the e-mail actions and the e-mail report).
class ConnectionValues final : public IConnectionParams {
 public:
  std::string server;
  std::uint16_t port = 25;
  bool useAuthentication = false;
  std::string userName;
  std::string password;
  bool useStartTls = false;
  std::uint32_t timeoutMs = 0;

  std::string GetServer() const override { return server; }
  std::uint16_t GetPort() const override { return port; }
  bool GetUseAuthentication() const override { return useAuthentication; }
  std::string GetUserName() const override { return userName; }
  std::string GetPassword() const override { return password; }
  bool GetUseStartTls() const override { return useStartTls; }
  std::uint32_t GetTimeout() const override { return timeoutMs; }
};

class Mailbox final : public IAddress {
 public:
  Mailbox(std::string name, std::string address)
      : name_(std::move(name)), address_(std::move(address)) {}
  std::string GetName() const override { return name_; }
  std::string GetAddress() const override { return address_; }

 private:
  std::string name_;
  std::string address_;
};

// One sender, one recipient field, one subject.
class SingleRecipientMessage final : public IMessageInfo {
 public:
  SingleRecipientMessage(Mailbox sender, Mailbox recipient, std::string subject)
      : sender_(std::move(sender)),
        recipient_(std::move(recipient)),
        subject_(std::move(subject)) {}
  const IAddress& GetSender() const override { return sender_; }
  std::uint32_t GetRecipientCount() const override { return 1; }
  const IAddress& GetRecipient(std::uint32_t) const override { return recipient_; }
  std::string GetSubject() const override { return subject_; }

 private:
  Mailbox sender_;
  Mailbox recipient_;
  std::string subject_;
};

// Body kinds for IClient::BeginMessage and IMessageBody::AddBody.
inline constexpr int kBodyMixed = 0;
inline constexpr int kBodyRelated = 1;
inline constexpr int kBodyAlternative = 2;

// The client. Calling order: Connect; if 0, SendText or SendHtml (or BeginMessage, parts,
// then EndMessage); if 0, EndMessage; then Disconnect(true only when every earlier step
// returned 0); then Release.
class IClient {
 public:
  // Closes the connection and destroys the client; the pointer is invalid afterwards.
  virtual Status Release() = 0;
  // Ends a running exchange from any thread: the waiting step returns a non-zero status
  // (10004, "interrupted") and so does every later one.
  virtual Status Cancel() = 0;
  // Connects, reads the greeting, says EHLO, switches to TLS when the server offers it or
  // the caller requires it (and says EHLO again over TLS), authenticates when asked.
  // A certificate that cannot be verified gives kTlsUntrusted, kTlsWrongHost or
  // kTlsCertExpired (platform/status.h), and nothing more is sent.
  virtual Status Connect(const IConnectionParams& params) = 0;
  // Says QUIT when sendQuit is set; the connection stays open until Release.
  virtual Status Disconnect(bool sendQuit) = 0;
  // Sends the envelope and the top header and opens a multipart body of the given kind,
  // which stays owned by the client; the caller adds parts to it and calls EndMessage.
  virtual Status BeginMessage(IMessageBody** body, int kind, const IMessageInfo& info,
                              std::uint16_t codePage) = 0;
  // Sends the envelope and a whole one-part message with a text/plain (text/html) body;
  // EndMessage must follow.
  virtual Status SendText(const std::string& text, const IMessageInfo& info,
                          std::uint16_t codePage) = 0;
  virtual Status SendHtml(const std::string& html, const IMessageInfo& info,
                          std::uint16_t codePage) = 0;
  // Ends the open body and the DATA phase; 1 when no body is open.
  virtual Status EndMessage() = 0;

 protected:
  virtual ~IClient() = default;
};

// Makes a new client; *client is null unless 0 is returned.
Status CreateClient(IClient** client);

// Holds one client and releases it when it goes out of scope.
struct ClientReleaser {
  void operator()(IClient* client) const {
    if (client != nullptr) client->Release();
  }
};
using ClientPtr = std::unique_ptr<IClient, ClientReleaser>;

// Checks a message before anything goes on the wire: every address (sender and
// recipients) non-empty after trimming surrounding blanks, ASCII, without controls, blanks,
// '<' or '>'; at least one recipient. Returns 0 or 1. The senders call it before Connect;
// the send operations check again before MAIL FROM.
Status ValidateMessageInfo(const IMessageInfo& info);

// The exchange for one message on a client the caller made (and may Cancel from another
// thread meanwhile): connect, send the text as text/plain (or text/html when html is set)
// in UTF-8, end the message, disconnect with QUIT only after full success. Returns the
// first non-zero status, or 0; the answer to QUIT does not change it. The caller checks
// the message with ValidateMessageInfo first and releases the client afterwards.
Status SendOneMessage(IClient& client, const IConnectionParams& params, const IMessageInfo& info,
                      const std::string& text, bool html);

}  // namespace Smtp
