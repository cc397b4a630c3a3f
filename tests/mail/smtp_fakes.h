// Plain implementations of the SMTP client's caller-side interfaces for the mail tests.
#pragma once

#include <string>
#include <vector>

#include "mail/mime.h"
#include "mail/smtp.h"
#include "mail/smtp_client.h"

namespace mail_testing {

struct Params : Smtp::IConnectionParams {
  std::string server = "127.0.0.1";
  std::uint16_t port = 25;
  bool auth = false;
  std::string user = "tim";
  std::string password = "tanstaaftanstaaf";
  bool startTls = false;
  std::uint32_t timeout = 2000;

  std::string GetServer() const override { return server; }
  std::uint16_t GetPort() const override { return port; }
  bool GetUseAuthentication() const override { return auth; }
  std::string GetUserName() const override { return user; }
  std::string GetPassword() const override { return password; }
  bool GetUseStartTls() const override { return startTls; }
  std::uint32_t GetTimeout() const override { return timeout; }
};

struct Address : Smtp::IAddress {
  Address(std::string n, std::string a) : name(std::move(n)), address(std::move(a)) {}
  std::string name;
  std::string address;
  std::string GetName() const override { return name; }
  std::string GetAddress() const override { return address; }
};

struct MessageInfo : Smtp::IMessageInfo {
  Address sender{"Lumivar", "lumivar@example.test"};
  std::vector<Address> recipients{{"", "admin@example.test"}};
  std::string subject = "Alert";

  const Smtp::IAddress& GetSender() const override { return sender; }
  std::uint32_t GetRecipientCount() const override {
    return static_cast<std::uint32_t>(recipients.size());
  }
  const Smtp::IAddress& GetRecipient(std::uint32_t i) const override { return recipients.at(i); }
  std::string GetSubject() const override { return subject; }
};

struct AttachmentInfo final : Smtp::IAttachmentInfo {
  std::string GetType() const override { return type; }
  std::string GetSubtype() const override { return subtype; }
  std::string GetFileName() const override { return fileName; }
  bool GetInline() const override { return isInline; }
  std::optional<std::string> GetContentId() const override { return contentId; }
  std::string type = "application", subtype = "octet-stream", fileName = "a.bin";
  bool isInline = false;
  std::optional<std::string> contentId;
};

// A client made with the options sends one message as both senders of the program do.
inline Smtp::Status SendWith(const Smtp::ClientOptions& options, const Params& params,
                             const MessageInfo& info, const std::string& text, bool html = false) {
  Smtp::IClient* raw = nullptr;
  Smtp::Status status = Smtp::CreateClient(&raw, options);
  if (status != 0) return status;
  return Smtp::SendOneMessage(*Smtp::ClientPtr(raw), params, info, text, html);
}

}  // namespace mail_testing
