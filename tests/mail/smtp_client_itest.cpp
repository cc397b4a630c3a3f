// The SMTP client end to end against a real server (aiosmtpd on 127.0.0.1, started by the
// test): what Python's email package reads back equals what was sent; AUTH PLAIN and
// CRAM-MD5 right and wrong; STARTTLS with a trusted authority, an untrusted one and a
// wrong host name; an injection attempt through the subject.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mail/smtp_client.h"
#include "tests/mail/smtp_fakes.h"
#include "tests/support/smtp_server.h"

namespace Smtp {
namespace {

using mail_testing::MessageInfo;
using mail_testing::Params;
using mail_testing::SendWith;
using platform::kOk;
using testing_support::ReceivedMessage;
using testing_support::SmtpTestServer;

std::string Normalised(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// The decoded body as sent: line breaks as LF, without the break that ends the last line
// of every message (the one before the end-of-data dot).
std::string DecodedBody(const std::string& body) {
  std::string text = Normalised(body);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class SmtpEndToEndTest : public ::testing::Test {
 protected:
  // Sends with the given settings and returns the messages the server took meanwhile.
  std::vector<ReceivedMessage> SendAndCollect(SmtpTestServer& server, Params params,
                                              const MessageInfo& info, const std::string& text,
                                              Status expected, ClientOptions options = {},
                                              bool html = false) {
    const std::size_t before = server.Messages().size();
    params.port = server.Port();
    if (options.localName.empty()) options.localName = "client.test";
    EXPECT_EQ(SendWith(options, params, info, text, html), expected);
    std::vector<ReceivedMessage> all = server.Messages();
    return std::vector<ReceivedMessage>(all.begin() + static_cast<std::ptrdiff_t>(before),
                                        all.end());
  }
};

TEST_F(SmtpEndToEndTest, SubjectAndBodyComeBackAsSent) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  std::string accented = "Disk space low on server 17 in r\xc3\xa9gion north";  // 1 in 40
  std::string cyrillic =
      "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xd0\xbc\xd0\xb8\xd1\x80";  // Привет мир
  std::string longText;
  while (longText.size() < 5000) longText += "The quick brown fox jumps over the lazy dog. ";
  longText.resize(5000);
  std::string longCyrillic;
  for (int i = 0; i < 60; ++i) longCyrillic += cyrillic + " ";
  struct Case {
    const char* name;
    std::string subject;
    std::string body;
    bool html;
  };
  const Case cases[] = {
      {"ASCII", "Alert: Monitor DB1 is down", "Monitor DB1 is down.", false},
      {"one accented letter (Q, quoted-printable)", accented, accented + ".", false},
      {"Cyrillic (B, Base64)", cyrillic, cyrillic, false},
      {"long Cyrillic subject split into words", longCyrillic, "x", false},
      {"5,000 characters", longText.substr(0, 300), longText, false},
      {"empty body", "Empty", "", false},
      {"lines and dots", "Lines", "first line\r\n.\r\n.second\r\nlast", false},
      {"HTML", "Lumivar Report", "<html><body><p>All monitors up.</p></body></html>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MessageInfo info;
    info.subject = c.subject;
    std::vector<ReceivedMessage> got =
        SendAndCollect(server, Params(), info, c.body, kOk, {}, c.html);
    ASSERT_EQ(got.size(), 1u);
    const ReceivedMessage& m = got[0];
    EXPECT_EQ(m["mail_from"], "lumivar@example.test");
    EXPECT_EQ(m["rcpt_tos"], "admin@example.test");
    EXPECT_EQ(m["ehlo"], "client.test");
    EXPECT_EQ(m["subject"], c.subject);
    EXPECT_EQ(m["subject_count"], "1");
    EXPECT_EQ(m["content_type"], c.html ? "text/html" : "text/plain");
    EXPECT_EQ(m["charset"], "utf-8");
    EXPECT_EQ(DecodedBody(m["body"]), Normalised(c.body)) << m["raw"];
    EXPECT_EQ(m["body_error"], "");
    EXPECT_EQ(m["defects"], "0") << m["raw"];
    EXPECT_EQ(m["from"], "Lumivar <lumivar@example.test>");
    EXPECT_EQ(m["to"], "admin@example.test");
    EXPECT_FALSE(m["date"].empty());
    EXPECT_EQ(m["commands"], "EHLO MAIL RCPT DATA");
  }
}

TEST_F(SmtpEndToEndTest, InjectionThroughTheSubjectDeliversOneMessage) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  MessageInfo info;
  info.subject = "Alert\r\n.\r\nRSET\r\nMAIL FROM:<x@evil.test>\r\nBcc: victim@evil.test";
  info.sender.name = "Lumivar\r\nBcc: victim@evil.test";
  std::vector<ReceivedMessage> got =
      SendAndCollect(server, Params(), info, "text\r\n.\r\nQUIT\r\n", kOk);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]["subject_count"], "1");
  EXPECT_EQ(got[0]["commands"], "EHLO MAIL RCPT DATA");
  EXPECT_EQ(got[0]["rcpt_tos"], "admin@example.test");
  EXPECT_EQ(got[0]["raw"].find("\nBcc:"), std::string::npos) << got[0]["raw"];
  EXPECT_EQ(got[0]["raw"].find("\nRSET"), std::string::npos) << got[0]["raw"];
}

TEST_F(SmtpEndToEndTest, Authentication) {
  SmtpTestServer cramFirst;  // offers CRAM-MD5 LOGIN PLAIN (sorted): CRAM-MD5 is chosen
  SmtpTestServer::Options plainOptions;
  plainOptions.excludedMechanisms = {"CRAM-MD5"};
  SmtpTestServer plainOnly(plainOptions);
  ASSERT_EQ(cramFirst.Error(), "");
  ASSERT_EQ(plainOnly.Error(), "");
  struct Case {
    const char* name;
    SmtpTestServer* server;
    std::string password;
    Status status;
  };
  const Case cases[] = {
      {"CRAM-MD5 right", &cramFirst, "tanstaaftanstaaf", kOk},
      {"CRAM-MD5 wrong", &cramFirst, "wrong", 535},
      {"PLAIN right", &plainOnly, "tanstaaftanstaaf", kOk},
      {"PLAIN wrong", &plainOnly, "wrong", 535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Params params;
    params.auth = true;
    params.password = c.password;
    std::vector<ReceivedMessage> got =
        SendAndCollect(*c.server, params, MessageInfo(), "text", c.status);
    if (c.status == kOk) {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0]["auth_user"], "tim");
      EXPECT_EQ(got[0]["commands"], "EHLO AUTH MAIL RCPT DATA");
    } else {
      EXPECT_TRUE(got.empty());
    }
  }
}

TEST_F(SmtpEndToEndTest, StartTls) {
  SmtpTestServer::Options tlsOptions;
  tlsOptions.tls = true;
  SmtpTestServer server(tlsOptions);
  ASSERT_EQ(server.Error(), "");
  mail::NameLookup wrongName = [&](const std::string&, std::uint16_t port,
                                   std::vector<mail::Blob128>* out) {
    return mail::ResolveHostAddress("127.0.0.1", port, out);
  };
  struct Case {
    const char* name;
    std::string host;
    std::string caFile;
    bool lookup;
    Status status;
  };
  const Case cases[] = {
      {"trusted, by address", "127.0.0.1", server.CaFile(), false, kOk},
      {"trusted, by name", "localhost", server.CaFile(), false, kOk},
      {"untrusted authority", "127.0.0.1", server.OtherCaFile(), false, platform::kTlsUntrusted},
      {"system authorities only", "127.0.0.1", "", false, platform::kTlsUntrusted},
      {"wrong host name", "mail.wrong.test", server.CaFile(), true, platform::kTlsWrongHost},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Params params;
    params.server = c.host;
    params.startTls = true;
    params.auth = true;
    ClientOptions options;
    options.caFile = c.caFile;
    if (c.lookup) options.nameLookup = wrongName;
    std::vector<ReceivedMessage> got =
        SendAndCollect(server, params, MessageInfo(), "over TLS", c.status, options);
    if (c.status == kOk) {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0]["tls"], "1");
      EXPECT_EQ(got[0]["auth_user"], "tim");
      EXPECT_EQ(DecodedBody(got[0]["body"]), "over TLS");
      EXPECT_EQ(got[0]["commands"], "EHLO STARTTLS EHLO AUTH MAIL RCPT DATA");
    } else {
      EXPECT_TRUE(got.empty());
    }
  }
}

}  // namespace
}  // namespace Smtp
