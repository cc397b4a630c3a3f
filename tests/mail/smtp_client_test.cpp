// The SMTP client against a scripted server on loopback: the status of every step's
// failure, the exact bytes of EHLO, AUTH and the envelope, QUIT only after full success,
// split, malformed and extra bytes, silence, trickling, cancel, STARTTLS refusals, STARTTLS
// taken when only offered, bad addresses; and the DATA filter on its own.
#include "mail/smtp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/mail/smtp_fakes.h"
#include "tests/mail/string_sink.h"
#include "tests/support/scripted_smtp_server.h"

namespace Smtp {
namespace {

using namespace std::chrono_literals;
using mail_testing::Address;
using mail_testing::MessageInfo;
using mail_testing::Params;
using mail_testing::SendWith;
using platform::kFailure;
using platform::kOk;
using platform::kWaitTimeout;
using testing_support::Close;
using testing_support::ReadData;
using testing_support::ScriptedSmtpServer;
using testing_support::ScriptStep;
using testing_support::Send;
using testing_support::SendBytewise;
using Steps = std::vector<ScriptStep>;
using Lines = std::vector<std::string>;

const char kGreeting[] = "220 fake.test ESMTP\r\n";
const char kEhloPlain[] = "250-fake.test\r\n250-SIZE 1000000\r\n250 8BITMIME\r\n";
const char kEhloAuth[] = "250-fake.test\r\n250-AUTH LOGIN CRAM-MD5 PLAIN\r\n250 8BITMIME\r\n";
const char kEhloTls[] = "250-fake.test\r\n250 STARTTLS\r\n";
const char kEhloTlsAuth[] = "250-fake.test\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n";
const char kChallenge[] = "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
const char kCramAnswer[] = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw";
const char kAuthPlain[] = "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm";
const char kMail[] = "MAIL FROM:<lumivar@example.test>";
const char kRcpt[] = "RCPT TO:<admin@example.test>";

// A line the client must send next: the server reads and records it, and the test expects
// the recorded lines to be exactly these, in order.
ScriptStep C(std::string line) {
  ScriptStep step = testing_support::Read();
  step.bytes = std::move(line);
  return step;
}

Steps Join(std::initializer_list<Steps> parts) {
  Steps all;
  for (const Steps& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Steps Open(const std::string& ehloReply = kEhloPlain) {
  return {Send(kGreeting), C("EHLO client.test"), Send(ehloReply)};
}
// MAIL and one RCPT accepted, then DATA answered with dataReply.
Steps Envelope(const char* dataReply = "354 go\r\n") {
  return {C(kMail), Send("250 ok\r\n"), C(kRcpt), Send("250 ok\r\n"), C("DATA"), Send(dataReply)};
}
// The message taken and QUIT answered.
Steps Accepted(const char* endReply = "250 queued\r\n", const char* quitReply = "221 bye\r\n") {
  return {ReadData(), Send(endReply), C("QUIT"), Send(quitReply)};
}
Steps Success() { return Join({Envelope(), Accepted()}); }

ClientOptions Options() {
  ClientOptions options;
  options.localName = "client.test";
  return options;
}

struct DialogueCase {
  const char* name;
  Steps script;
  Status status;
  bool auth = false;
  bool startTls = false;
  std::uint32_t timeout = 2000;
  std::optional<std::uint32_t> deadlineMs = {};
  std::vector<Address> recipients = {{"", "admin@example.test"}};
  std::string sender = "lumivar@example.test";
  const char* dataHas = nullptr;  // the message holds this; "gone@" never appears in it
  bool valid = true;              // ValidateMessageInfo accepts the message
  bool cutShort = false;          // the client hangs up while the server still trickles
};

std::vector<DialogueCase> DialogueCases() {
  std::string flood;
  while (flood.size() < 70000) flood += "220-a line that never ends the reply\r\n";
  // CRAM-MD5 answered right for the challenge sent with the given end, or abandoned.
  auto cram = [](const std::string& end) {
    return Steps{C("AUTH CRAM-MD5"), Send(kChallenge + end), C(kCramAnswer), Send("235 ok\r\n")};
  };
  auto abandon = [](const char* reply) {
    return Steps{C("AUTH CRAM-MD5"), Send("334 !!!\r\n"), C("*"), Send(reply)};
  };
  std::vector<DialogueCase> cases = {
      {"full success without AUTH", Join({Open(kEhloAuth), Success()}), kOk},
      {"greeting 554 ends before EHLO", {Send("554 go away\r\n")}, 554},
      {"EHLO 502 ends without HELO", Open("502 no\r\n"), 502},
      {"AUTH PLAIN bytes",
       Join({Open("250-fake.test\r\n250 AUTH PLAIN CRAM-MD5\r\n"),
             {C(kAuthPlain), Send("235 ok\r\n")},
             Success()}),
       kOk, true},
      {"AUTH CRAM-MD5 exchange", Join({Open(kEhloAuth), cram("\r\n"), Success()}), kOk, true},
      {"lower-case keywords, CRAM-MD5 challenge with trailing blanks",
       Join({Open("250-fake.test\r\n250 auth login cram-md5\r\n"), cram(" \t \r\n"), Success()}),
       kOk, true},
      {"undecodable challenge is abandoned", Join({Open(kEhloAuth), abandon("501 ok\r\n")}),
       kFailure, true},
      {"server accepting the abandon", Join({Open(kEhloAuth), abandon("235 ok\r\n")}), 235, true},
      {"credentials refused",
       Join({Open("250-fake.test\r\n250 AUTH PLAIN\r\n"),
             {C(kAuthPlain), Send("535 5.7.8 no\r\n")}}),
       535, true},
      {"only LOGIN offered: no AUTH sent", Open("250-fake.test\r\n250 AUTH LOGIN\r\n"), kFailure,
       true},
      {"no AUTH offered", Open(), kFailure, true},
      {"MAIL refused", Join({Open(), {C(kMail), Send("451 later\r\n")}}), 451},
      {"recipient refused, none accepted: no DATA",
       Join({Open(), {C(kMail), Send("250 ok\r\n"), C(kRcpt), Send("550 no such\r\n")}}), 550},
      {"DATA refused", Join({Open(), Envelope("554 no\r\n")}), 554},
      {"refused after the end of data: no QUIT",
       Join({Open(), Envelope(), {ReadData(), Send("452 full\r\n")}}), 452},
      {"QUIT refused changes nothing",
       Join({Open(), Envelope(), Accepted("250 ok\r\n", "500 what\r\n")}), kOk},
      {"reply split at every byte and multi-line greeting",
       Join({{SendBytewise("220-fake.test\r\n220-more\r\n220 ready\r\n"), C("EHLO client.test"),
              SendBytewise(kEhloPlain)},
             Success()}),
       kOk},
      {"replies ahead of time are kept for their command",
       Join({{Send(kGreeting + std::string(kEhloPlain)), C("EHLO client.test")}, Success()}), kOk},
      {"malformed greeting", {Send("22\r\n")}, kFailure},
      {"CR without LF", {Send("220 x\rx")}, kFailure},
      {"closed mid-reply",
       {Send(kGreeting), C("EHLO client.test"), Send("250-fake.test\r\n250-AU"), Close()},
       kFailure},
      {.name = "silent server times out", .script = {}, .status = kWaitTimeout, .timeout = 150},
      {.name = "LF-only lines never complete",
       .script = {Send("220 fake.test\n")},
       .status = kWaitTimeout,
       .timeout = 150},
      {"an endless reply is cut off", {Send(flood)}, kFailure},
      // Each byte arrives well inside the per-wait time-out; only the deadline ends it.
      {.name = "overall deadline stops a trickling server",
       .script = {SendBytewise("220-" + std::string(400, 'x'), 10)},
       .status = kWaitTimeout,
       .timeout = 200,
       .deadlineMs = 300,
       .cutShort = true},
      {"STARTTLS not offered: nothing more is sent", Open(), kFailure, false, true},
      {"STARTTLS refused", Join({Open(kEhloTls), {C("STARTTLS"), Send("454 not now\r\n")}}), 454,
       false, true},
      // Offered but not asked for: taken all the same, and a refusal is not a way round it.
      {"STARTTLS offered, not asked for, refused: no AUTH in clear",
       Join({Open(kEhloTlsAuth), {C("STARTTLS"), Send("454 not now\r\n")}}), 454, true},
      {"bytes after the STARTTLS 220 are refused",
       Join({Open(kEhloTls),
             {C("STARTTLS"), Send("220 go\r\n250-fake.test\r\n250 AUTH PLAIN\r\n")}}),
       kFailure, true, true},
      {.name = "first recipient refused, the second gets the message",
       .script = Join({Open(),
                       {C(kMail), Send("250 ok\r\n"), C("RCPT TO:<gone@example.test>"),
                        Send("550 unknown\r\n"), C("RCPT TO:<ops@example.test>"),
                        Send("250 ok\r\n"), C("DATA"), Send("354 go\r\n")},
                       Accepted()}),
       .status = kOk,
       .recipients = {{"", "gone@example.test"}, {"Ops", "ops@example.test"}},
       .dataHas = "\r\nTo: \"Ops\" <ops@example.test>\r\n"},
      // Not a refusal: the second recipient is never tried on a connection out of step.
      {.name = "malformed RCPT reply ends the exchange",
       .script = Join({Open(),
                       {C(kMail), Send("250 ok\r\n"), C("RCPT TO:<a@example.test>"),
                        Send("5x0 garbage\r\n")}}),
       .status = kFailure,
       .recipients = {{"", "a@example.test"}, {"", "b@example.test"}}},
      {.name = "blanks around an address are trimmed",
       .script = Join({Open(), Success()}),
       .status = kOk,
       .recipients = {{"", "  admin@example.test\t"}}},
      {.name = "empty sender",
       .script = Open(),
       .status = kFailure,
       .sender = "  ",
       .valid = false},
  };
  // A bad message is refused before MAIL FROM.
  const std::pair<const char*, std::vector<Address>> badRecipients[] = {
      {"no recipient", {}},
      {"CR LF in a recipient", {{"", "a@example.test\r\nRCPT TO:<x@evil.test>"}}},
      {"angle bracket", {{"", "a@example.test>"}}},
      {"blank inside", {{"", "a b@example.test"}}},
      {"non-ASCII", {{"", "j\xc3\xb6rg@example.test"}}},
  };
  for (const auto& [name, recipients] : badRecipients) {
    cases.push_back({.name = name,
                     .script = Open(),
                     .status = kFailure,
                     .recipients = recipients,
                     .valid = false});
  }
  return cases;
}

TEST(SmtpDialogueTest, EveryStep) {
  for (const DialogueCase& c : DialogueCases()) {
    SCOPED_TRACE(c.name);
    ScriptedSmtpServer server(c.script);
    Params params;
    params.port = server.Port();
    params.auth = c.auth;
    params.startTls = c.startTls;
    params.timeout = c.timeout;
    ClientOptions options = Options();
    options.deadlineMs = c.deadlineMs;
    MessageInfo info;
    info.recipients = c.recipients;
    info.sender.address = c.sender;
    EXPECT_EQ(ValidateMessageInfo(info), c.valid ? kOk : kFailure);
    EXPECT_EQ(SendWith(options, params, info, "Disk space low."), c.status);
    server.Wait();
    EXPECT_EQ(server.CutShort(), c.cutShort);
    Lines expected;
    for (const ScriptStep& step : c.script) {
      if (step.kind == ScriptStep::Kind::kRead) expected.push_back(step.bytes);
    }
    EXPECT_EQ(server.Lines(), expected);
    if (c.dataHas != nullptr) {
      ASSERT_EQ(server.Data().size(), 1u);
      EXPECT_NE(server.Data()[0].find(c.dataHas), std::string::npos) << server.Data()[0];
      EXPECT_EQ(server.Data()[0].find("gone@"), std::string::npos) << server.Data()[0];
    }
  }
}

// The credentials never cross in clear to a server that offers STARTTLS, whether or not
// TLS was asked for: here the handshake gets no answer, and the client closes without
// another line.
TEST(SmtpDialogueTest, NoCredentialsInClearWhenTlsIsOffered) {
  for (const bool startTls : {false, true}) {
    SCOPED_TRACE(startTls ? "TLS asked for" : "TLS not asked for");
    ScriptedSmtpServer server(Join({Open(kEhloTlsAuth), {C("STARTTLS"), Send("220 go\r\n")}}));
    Params params;
    params.port = server.Port();
    params.auth = true;
    params.startTls = startTls;
    params.timeout = 150;
    EXPECT_EQ(SendWith(Options(), params, MessageInfo(), "x"), kWaitTimeout);
    server.Wait();
    const Lines& lines = server.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2), (Lines{"EHLO client.test", "STARTTLS"}));
    // The rest is the client's first handshake record, in whatever pieces it was read.
    std::string rest;
    for (std::size_t i = 2; i < lines.size(); ++i) rest += lines[i];
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest[0], '\x16');  // a TLS handshake record
    EXPECT_EQ(rest.find("AUTH"), std::string::npos);
    EXPECT_EQ(rest.find(std::string(kAuthPlain).substr(11)), std::string::npos);
  }
}

TEST(SmtpDialogueTest, CancelEndsAWaitingClient) {
  ScriptedSmtpServer server({});
  Params params;
  params.port = server.Port();
  params.timeout = 0xFFFFFFFF;
  IClient* raw = nullptr;
  ASSERT_EQ(CreateClient(&raw, Options()), kOk);
  ClientPtr client(raw);
  std::thread canceller([&] {
    std::this_thread::sleep_for(50ms);
    client->Cancel();
  });
  EXPECT_EQ(client->Connect(params), mail::kCancelled);
  canceller.join();
  EXPECT_EQ(client->Disconnect(true), kFailure);
}

TEST(SmtpDialogueTest, RefusedConnectionAndUnknownHost) {
  Params params;
  params.port = testing_support::UnusedLoopbackPort();
  EXPECT_EQ(SendWith(ClientOptions(), params, MessageInfo(), "x"), platform::kWsaEconnrefused);

  ClientOptions options;
  options.nameLookup = [](const std::string&, std::uint16_t, std::vector<mail::Blob128>*) {
    return platform::kWsaHostNotFound;
  };
  params.server = "smtp.unknown.test";
  EXPECT_EQ(SendWith(options, params, MessageInfo(), "x"), platform::kWsaHostNotFound);
}

TEST(DotStuffingTest, LinesStartingWithADotAndBareBreaks) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"Subject: x\r\n\r\nbody"}, "Subject: x\r\n\r\nbody"},  // unchanged
      {{".hidden"}, "..hidden"},
      {{"a\r\n.\r\nRSET\r\n"}, "a\r\n..\r\nRSET\r\n"},
      {{"a\r", "\n", ".b"}, "a\r\n..b"},  // CR LF split between writes
      {{"a\n.b"}, "a\r\n..b"},            // bare LF
      {{"a\r.b"}, "a\r\n..b"},            // bare CR
      {{"a\r"}, "a\r\n"},                 // CR at the end, completed by Finish
      {{"x.y\r\n..z"}, "x.y\r\n...z"},
  };
  for (const auto& [writes, expected] : cases) {
    mail_test::StringSink out;
    DotStuffingStream filter;
    filter.SetTarget(&out);
    filter.Begin();
    for (const std::string& w : writes) EXPECT_EQ(filter.Write(w.data(), w.size()), kOk);
    EXPECT_EQ(filter.Finish(), kOk);
    EXPECT_EQ(out.text, expected);
  }
}

}  // namespace
}  // namespace Smtp
