// The SMTP client end to end against a real server (aiosmtpd on 127.0.0.1, started by the
// test): what Python's email package reads back equals what was sent, single-part and
// multipart; AUTH PLAIN and CRAM-MD5 right and wrong; STARTTLS asked for or only offered,
// with a trusted authority, an untrusted one and a wrong host name, and plain text where
// the server has no TLS; injection attempts through the subject and names.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

#include "mail/mime.h"
#include "mail/smtp_client.h"
#include "tests/mail/smtp_fakes.h"
#include "tests/support/smtp_server.h"

namespace Smtp {
namespace {

using mail_testing::MessageInfo;
using mail_testing::Params;
using platform::kOk;
using testing_support::ReceivedMessage;
using testing_support::SmtpTestServer;

std::string WithoutCr(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') out += text[i];
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

// Sends with the given settings and returns the messages the server took meanwhile.
std::vector<ReceivedMessage> SendAndCollect(SmtpTestServer& server, Params params,
                                            const MessageInfo& info, const std::string& text,
                                            Status expected, ClientOptions options = {},
                                            bool html = false) {
  const std::size_t before = server.Messages().size();
  params.port = server.Port();
  options.localName = "client.test";
  EXPECT_EQ(mail_testing::SendWith(options, params, info, text, html), expected);
  std::vector<ReceivedMessage> all = server.Messages();
  return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
}

TEST(SmtpEndToEndTest, SubjectAndBodyComeBackAsSent) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  const std::string accented = "Disk space low on server 17 in r\xc3\xa9gion north";  // 1 in 40
  const std::string cyrillic =
      "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xd0\xbc\xd0\xb8\xd1\x80";  // Привет мир
  std::string longText;
  while (longText.size() < 5000) longText += "The quick brown fox jumps over the lazy dog. ";
  longText.resize(5000);
  std::string longCyrillic;
  for (int i = 0; i < 60; ++i) longCyrillic += cyrillic + " ";
  const std::string injection = "Alert\r\n.\r\nRSET\r\nMAIL FROM:<x@evil.test>\r\nBcc: v@evil.test";
  struct Case {
    const char* name;
    std::string subject, body;
    bool html = false;
    std::string senderName = "Lumivar";
    std::string readSubject = subject;  // as the reader decodes it
    std::string readFrom = "Lumivar <lumivar@example.test>";
  };
  const Case cases[] = {
      {"ASCII", "Alert: Monitor DB1 is down", "Monitor DB1 is down."},
      {"one accented letter (Q, quoted-printable)", accented, accented + "."},
      {"Cyrillic (B, Base64)", cyrillic, cyrillic},
      {"long Cyrillic subject split into words", longCyrillic, "x"},
      {"5,000 characters", longText.substr(0, 300), longText},
      {"empty body", "Empty", ""},
      // Text that looks like an encoded word reads back as written, not decoded.
      {"ASCII subject and name holding \"=?\"", "=?UTF-8?B?ZXZpbA==?= literal", "x", false,
       "=?UTF-8?B?ZXZpbA==?=", "=?UTF-8?B?ZXZpbA==?= literal",
       "=?UTF-8?B?ZXZpbA==?= <lumivar@example.test>"},
      {"lines and dots", "Lines", "first line\r\n.\r\n.second\r\nlast"},
      {"HTML", "Lumivar Report", "<html><body><p>All monitors up.</p></body></html>", true},
      // One message with one Subject line; no command or header of the attacker's.
      {"injection through subject, name and body", injection, "text\r\n.\r\nQUIT\r\n", false,
       "Lumivar\r\nBcc: victim@evil.test",
       "Alert  .  RSET  MAIL FROM:<x@evil.test>  Bcc: v@evil.test",
       "\"Lumivar  Bcc: victim@evil.test\" <lumivar@example.test>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MessageInfo info;
    info.subject = c.subject;
    info.sender.name = c.senderName;
    std::vector<ReceivedMessage> got =
        SendAndCollect(server, Params(), info, c.body, kOk, {}, c.html);
    ASSERT_EQ(got.size(), 1u);
    const ReceivedMessage& m = got[0];
    EXPECT_EQ(m["subject"], c.readSubject);
    EXPECT_EQ(m["subject_count"] + " " + m["defects"] + " " + m["body_error"], "1 0 ") << m["raw"];
    EXPECT_EQ(m["commands"] + " | " + m["ehlo"] + " | " + m["mail_from"] + " | " + m["rcpt_tos"],
              "EHLO MAIL RCPT DATA | client.test | lumivar@example.test | admin@example.test");
    EXPECT_EQ(m["content_type"] + " " + m["charset"],
              std::string(c.html ? "text/html" : "text/plain") + " utf-8");
    // The decoded body, without the line break that ends every message before the dot.
    std::string body = WithoutCr(m["body"]);
    if (!body.empty() && body.back() == '\n') body.pop_back();
    EXPECT_EQ(body, WithoutCr(c.body)) << m["raw"];
    EXPECT_EQ(m["to"], "admin@example.test");
    EXPECT_FALSE(m["date"].empty());
    EXPECT_EQ(m["raw"].find("\nBcc:"), std::string::npos) << m["raw"];
    EXPECT_EQ(m["raw"].find("\nRSET"), std::string::npos) << m["raw"];
    EXPECT_EQ(m["from"], c.readFrom);
  }
}

TEST(SmtpEndToEndTest, MultipartMessageParsesBack) {
  SmtpTestServer server;
  ASSERT_EQ(server.Error(), "");
  // Long names and a long subject: folded, or split into many encoded words.
  std::string longName;
  for (int i = 0; i < 12; ++i)
    longName += "Equipe d'exploitation n\xC2\xB0" + std::to_string(i) + " ";
  const std::string ivan =
      "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\"";
  MessageInfo info;
  info.sender = {std::string(3000, 'x'), "from@example.com"};
  info.recipients = {{longName, "one@example.com"},
                     {"M\xC3\xBCller, Hans", "hans@example.com"},
                     {ivan, "ivan@example.com"}};
  std::string subject;
  for (int i = 0; i < 40; ++i)
    subject += "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, caf\xC3\xA9 ";
  info.subject = subject + "\r\nBcc: evil@example.com";
  std::string text;
  for (int i = 0; i < 100; ++i) text += "Line " + std::to_string(i) + " caf\xC3\xA9 a.b = c \r\n";
  text += ".\r\n.. end\n";
  const std::string cyrillic =
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80";
  std::string binary;
  std::mt19937 rng(3);
  for (int i = 0; i < 1000; ++i) binary += static_cast<char>(rng());

  Params params;
  params.port = server.Port();
  IClient* raw = nullptr;
  ClientOptions options;
  options.localName = "client.test";
  ASSERT_EQ(CreateClient(&raw, options), kOk);
  ClientPtr client(raw);
  ASSERT_EQ(client->Connect(params), kOk);
  IMessageBody* body = nullptr;
  ASSERT_EQ(client->BeginMessage(&body, kBodyMixed, info, 65001), kOk);
  ASSERT_EQ(body->AddPlainText(text), kOk);
  IMessageBody* alternative = nullptr;
  ASSERT_EQ(body->AddBody(&alternative, kBodyAlternative), kOk);
  ASSERT_EQ(alternative->AddPlainText(cyrillic), kOk);
  ASSERT_EQ(alternative->AddHtmlText("<p>" + cyrillic + "</p>"), kOk);
  mail_testing::AttachmentInfo attachment;
  attachment.fileName = "report.bin";
  mail::ISerialStream64Out* content = nullptr;
  ASSERT_EQ(body->AddAttachment(&content, attachment), kOk);
  for (std::size_t i = 0; i < binary.size(); i += 7) {
    ASSERT_EQ(content->Write(binary.data() + i, std::min<std::size_t>(7, binary.size() - i)), kOk);
  }
  EXPECT_EQ(client->EndMessage(), kOk);
  EXPECT_EQ(client->EndMessage(), platform::kFailure);  // nothing open any more
  EXPECT_EQ(client->Disconnect(true), kOk);

  const std::vector<ReceivedMessage> got = server.Messages();
  ASSERT_EQ(got.size(), 1u);
  const ReceivedMessage& m = got[0];
  // No line reaches the transport's limit, and none starts with a period.
  for (std::size_t start = 0, end; start < m["raw"].size(); start = end + 2) {
    end = std::min(m["raw"].find("\r\n", start), m["raw"].size());
    EXPECT_LE(end - start, 78u);
    EXPECT_NE(m["raw"][start], '.');
  }
  EXPECT_EQ(m["subject"], subject + "  Bcc: evil@example.com");
  EXPECT_EQ(m["names"], "from " + Hex(std::string(3000, 'x')) + " from@example.com\nto " +
                            Hex(longName) + " one@example.com\nto " + Hex("M\xC3\xBCller, Hans") +
                            " hans@example.com\nto " + Hex(ivan) + " ivan@example.com");
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  EXPECT_NE(m["date"].find(" " + std::to_string(1900 + tm.tm_year) + " "), std::string::npos);
  EXPECT_EQ(m["parts"], "multipart multipart/mixed\npart text/plain utf-8 - " + Hex(text) +
                            "\nmultipart multipart/alternative\npart text/plain utf-8 - " +
                            Hex(cyrillic) + "\npart text/html utf-8 - " +
                            Hex("<p>" + cyrillic + "</p>") +
                            "\npart application/octet-stream - report.bin " + Hex(binary));
  EXPECT_EQ(m["defects"], "0");
}

TEST(SmtpEndToEndTest, Authentication) {
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
    ASSERT_EQ(got.size(), c.status == kOk ? 1u : 0u);
    if (c.status == kOk) {
      EXPECT_EQ(got[0]["auth_user"] + " " + got[0]["commands"], "tim EHLO AUTH MAIL RCPT DATA");
    }
  }
}

// TLS is taken whenever the server offers it, asked for or not, and the credentials go
// only over a connection whose certificate and host name were verified; a server without
// STARTTLS is spoken to in plain text unless TLS was asked for.
TEST(SmtpEndToEndTest, StartTls) {
  SmtpTestServer::Options tlsOptions;
  tlsOptions.tls = true;
  SmtpTestServer tlsServer(tlsOptions);
  SmtpTestServer plainServer;
  ASSERT_EQ(tlsServer.Error(), "");
  ASSERT_EQ(plainServer.Error(), "");
  const std::string ca = tlsServer.CaFile();
  const std::string other = tlsServer.OtherCaFile();
  const char* const kOverTls = "EHLO STARTTLS EHLO AUTH MAIL RCPT DATA QUIT";
  const char* const kRefusedCertificate = "EHLO STARTTLS";
  struct Case {
    const char* name;
    SmtpTestServer* server;
    bool startTls;
    std::string host, caFile;
    Status status;
    const char* commands;  // what the connection sent
  };
  const Case cases[] = {
      {"asked, trusted, by address", &tlsServer, true, "127.0.0.1", ca, kOk, kOverTls},
      {"asked, trusted, by name", &tlsServer, true, "localhost", ca, kOk, kOverTls},
      {"asked, untrusted authority", &tlsServer, true, "127.0.0.1", other, platform::kTlsUntrusted,
       kRefusedCertificate},
      {"asked, system authorities only", &tlsServer, true, "127.0.0.1", "", platform::kTlsUntrusted,
       kRefusedCertificate},
      // The name resolves to the server, whose certificate does not carry it.
      {"asked, wrong host name", &tlsServer, true, "mail.wrong.test", ca, platform::kTlsWrongHost,
       kRefusedCertificate},
      {"asked, not offered", &plainServer, true, "127.0.0.1", ca, platform::kFailure, "EHLO"},
      {"offered, trusted", &tlsServer, false, "localhost", ca, kOk, kOverTls},
      {"offered, wrong host name", &tlsServer, false, "mail.wrong.test", ca,
       platform::kTlsWrongHost, kRefusedCertificate},
      {"offered, untrusted authority", &tlsServer, false, "127.0.0.1", other,
       platform::kTlsUntrusted, kRefusedCertificate},
      {"neither asked nor offered: plain text", &plainServer, false, "127.0.0.1", ca, kOk,
       "EHLO AUTH MAIL RCPT DATA QUIT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Params params;
    params.server = c.host;
    params.startTls = c.startTls;
    params.auth = true;
    ClientOptions options;
    options.caFile = c.caFile;
    if (c.host == "mail.wrong.test") {
      options.nameLookup = [](const std::string&, std::uint16_t port,
                              std::vector<mail::Blob128>* out) {
        return mail::ResolveHostAddress("127.0.0.1", port, out);
      };
    }
    std::vector<ReceivedMessage> got =
        SendAndCollect(*c.server, params, MessageInfo(), "over TLS", c.status, options);
    ASSERT_FALSE(c.server->Sessions().empty());
    EXPECT_EQ(c.server->Sessions().back(), c.commands);
    ASSERT_EQ(got.size(), c.status == kOk ? 1u : 0u);
    if (c.status == kOk) {
      const bool tls = c.server == &tlsServer;
      EXPECT_EQ(got[0]["tls"] + " " + got[0]["auth_user"] + " " + got[0]["body"],
                std::string(tls ? "1" : "0") + " tim over TLS\r\n");
    }
  }
}

}  // namespace
}  // namespace Smtp
