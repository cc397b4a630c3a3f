// The SMTP client against a scripted server on loopback: the status of every step's
// failure, the exact bytes of EHLO, AUTH and the envelope, QUIT only after full success,
// split, malformed and extra bytes, silence, trickling, cancel, STARTTLS refusals; and the
// DATA filter and address checks on their own.
#include "mail/smtp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "mail/mime.h"
#include "tests/mail/smtp_fakes.h"
#include "tests/support/scripted_smtp_server.h"

namespace Smtp {
namespace {

using namespace std::chrono_literals;
using mail_testing::MessageInfo;
using mail_testing::Params;
using mail_testing::SendWith;
using platform::kFailure;
using platform::kOk;
using testing_support::Close;
using testing_support::Read;
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
const char kCramChallenge[] = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
const char kCramAnswer[] = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw";

Steps Join(std::initializer_list<Steps> parts) {
  Steps all;
  for (const Steps& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Greeting and EHLO with the capabilities given.
Steps Opening(const std::string& ehloReply) { return {Send(kGreeting), Read(), Send(ehloReply)}; }

// MAIL, one RCPT, DATA, the message, QUIT, all accepted.
Steps Envelope() {
  return {Read(), Send("250 ok\r\n"),       Read(),     Send("250 ok\r\n"),
          Read(), Send("354 go ahead\r\n"), ReadData(), Send("250 queued\r\n"),
          Read(), Send("221 bye\r\n")};
}

const Lines kEnvelopeLines = {"MAIL FROM:<lumivar@example.test>", "RCPT TO:<admin@example.test>",
                              "DATA", "QUIT"};

Lines JoinLines(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct DialogueCase {
  const char* name;
  Steps script;
  Status status;
  Lines lines;  // everything the client said, in order
  bool auth = false;
  bool startTls = false;
  std::uint32_t timeout = 2000;
};

std::vector<DialogueCase> DialogueCases() {
  return {
      {"full success without AUTH", Join({Opening(kEhloAuth), Envelope()}), kOk,
       JoinLines({{"EHLO client.test"}, kEnvelopeLines})},
      {"greeting 554 ends before EHLO", {Send("554 go away\r\n")}, 554, {}},
      {"EHLO 502 ends without HELO",
       {Send(kGreeting), Read(), Send("502 no\r\n")},
       502,
       {"EHLO client.test"}},
      {"AUTH PLAIN bytes",
       Join({Opening("250-fake.test\r\n250 AUTH PLAIN CRAM-MD5\r\n"),
             {Read(), Send("235 ok\r\n")},
             Envelope()}),
       kOk,
       JoinLines({{"EHLO client.test", "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm"}, kEnvelopeLines}),
       true},
      {"AUTH CRAM-MD5 exchange",
       Join({Opening(kEhloAuth),
             {Read(), Send(std::string("334 ") + kCramChallenge + "\r\n"), Read(),
              Send("235 ok\r\n")},
             Envelope()}),
       kOk, JoinLines({{"EHLO client.test", "AUTH CRAM-MD5", kCramAnswer}, kEnvelopeLines}), true},
      {"CRAM-MD5 challenge with trailing blanks",
       Join({Opening("250-fake.test\r\n250 auth login cram-md5\r\n"),
             {Read(), Send(std::string("334 ") + kCramChallenge + " \t \r\n"), Read(),
              Send("235 ok\r\n")},
             Envelope()}),
       kOk, JoinLines({{"EHLO client.test", "AUTH CRAM-MD5", kCramAnswer}, kEnvelopeLines}), true},
      {"undecodable challenge is abandoned",
       Join({Opening(kEhloAuth), {Read(), Send("334 !!!\r\n"), Read(), Send("501 ok\r\n")}}),
       kFailure,
       {"EHLO client.test", "AUTH CRAM-MD5", "*"},
       true},
      {"server accepting the abandon",
       Join({Opening(kEhloAuth), {Read(), Send("334 !!!\r\n"), Read(), Send("235 ok\r\n")}}),
       235,
       {"EHLO client.test", "AUTH CRAM-MD5", "*"},
       true},
      {"credentials refused",
       Join({Opening("250-fake.test\r\n250 AUTH PLAIN\r\n"), {Read(), Send("535 5.7.8 no\r\n")}}),
       535,
       {"EHLO client.test", "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm"},
       true},
      {"only LOGIN offered: no AUTH sent",
       Opening("250-fake.test\r\n250 AUTH LOGIN\r\n"),
       kFailure,
       {"EHLO client.test"},
       true},
      {"no AUTH offered", Opening(kEhloPlain), kFailure, {"EHLO client.test"}, true},
      {"MAIL refused",
       Join({Opening(kEhloPlain), {Read(), Send("451 later\r\n")}}),
       451,
       {"EHLO client.test", "MAIL FROM:<lumivar@example.test>"}},
      {"recipient refused, none accepted: no DATA",
       Join({Opening(kEhloPlain), {Read(), Send("250 ok\r\n"), Read(), Send("550 no such\r\n")}}),
       550,
       {"EHLO client.test", "MAIL FROM:<lumivar@example.test>", "RCPT TO:<admin@example.test>"}},
      {"DATA refused",
       Join({Opening(kEhloPlain),
             {Read(), Send("250 ok\r\n"), Read(), Send("250 ok\r\n"), Read(), Send("554 no\r\n")}}),
       554,
       {"EHLO client.test", "MAIL FROM:<lumivar@example.test>", "RCPT TO:<admin@example.test>",
        "DATA"}},
      {"refused after the end of data: no QUIT",
       Join({Opening(kEhloPlain),
             {Read(), Send("250 ok\r\n"), Read(), Send("250 ok\r\n"), Read(), Send("354 go\r\n"),
              ReadData(), Send("452 full\r\n")}}),
       452,
       {"EHLO client.test", "MAIL FROM:<lumivar@example.test>", "RCPT TO:<admin@example.test>",
        "DATA"}},
      {"QUIT refused changes nothing",
       Join({Opening(kEhloPlain),
             {Read(), Send("250 ok\r\n"), Read(), Send("250 ok\r\n"), Read(), Send("354 go\r\n"),
              ReadData(), Send("250 ok\r\n"), Read(), Send("500 what\r\n")}}),
       kOk, JoinLines({{"EHLO client.test"}, kEnvelopeLines})},
      {"reply split at every byte and multi-line greeting",
       Join({{SendBytewise("220-fake.test\r\n220-more\r\n220 ready\r\n"), Read(),
              SendBytewise(kEhloPlain)},
             Envelope()}),
       kOk, JoinLines({{"EHLO client.test"}, kEnvelopeLines})},
      {"replies ahead of time are kept for their command",
       Join({{Send(std::string(kGreeting) + kEhloPlain), Read()}, Envelope()}), kOk,
       JoinLines({{"EHLO client.test"}, kEnvelopeLines})},
      {"malformed greeting", {Send("22\r\n")}, kFailure, {}},
      {"CR without LF", {Send("220 x\rx")}, kFailure, {}},
      {"closed mid-reply",
       {Send(kGreeting), Read(), Send("250-fake.test\r\n250-AU"), Close()},
       kFailure,
       {"EHLO client.test"}},
      {"silent server times out", {}, platform::kWaitTimeout, {}, false, false, 150},
      {"LF-only lines never complete",
       {Send("220 fake.test\n")},
       platform::kWaitTimeout,
       {},
       false,
       false,
       150},
      {"an endless reply is cut off",
       {Send([] {
         std::string flood;
         while (flood.size() < 70000) flood += "220-a line that never ends the reply\r\n";
         return flood;
       }())},
       kFailure,
       {}},
      {"STARTTLS not offered: nothing more is sent",
       Opening(kEhloPlain),
       kFailure,
       {"EHLO client.test"},
       false,
       true},
      {"STARTTLS refused",
       Join({Opening("250-fake.test\r\n250 STARTTLS\r\n"), {Read(), Send("454 not now\r\n")}}),
       454,
       {"EHLO client.test", "STARTTLS"},
       false,
       true},
      {"bytes after the STARTTLS 220 are refused",
       Join({Opening("250-fake.test\r\n250 STARTTLS\r\n"),
             {Read(), Send("220 go\r\n250-fake.test\r\n250 AUTH PLAIN\r\n")}}),
       kFailure,
       {"EHLO client.test", "STARTTLS"},
       true,
       true},
  };
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
    ClientOptions options;
    options.localName = "client.test";
    MessageInfo info;
    EXPECT_EQ(SendWith(options, params, info, "Disk space low."), c.status);
    server.Wait();
    EXPECT_EQ(server.Lines(), c.lines);
  }
}

TEST(SmtpDialogueTest, FirstRecipientRefusedSecondGetsTheMessage) {
  ScriptedSmtpServer server(Join(
      {Opening(kEhloPlain),
       {Read(), Send("250 ok\r\n"), Read(), Send("550 unknown\r\n"), Read(), Send("250 ok\r\n")},
       {Read(), Send("354 go\r\n"), ReadData(), Send("250 ok\r\n"), Read(), Send("221 bye\r\n")}}));
  Params params;
  params.port = server.Port();
  ClientOptions options;
  options.localName = "client.test";
  MessageInfo info;
  info.recipients = {{"", "gone@example.test"}, {"Ops", "ops@example.test"}};
  EXPECT_EQ(SendWith(options, params, info, "text"), kOk);
  server.Wait();
  EXPECT_EQ(server.Lines(),
            (Lines{"EHLO client.test", "MAIL FROM:<lumivar@example.test>",
                   "RCPT TO:<gone@example.test>", "RCPT TO:<ops@example.test>", "DATA", "QUIT"}));
  ASSERT_EQ(server.Data().size(), 1u);
  const std::string& data = server.Data()[0];
  EXPECT_NE(data.find("\r\nTo: \"Ops\" <ops@example.test>\r\n"), std::string::npos) << data;
  EXPECT_EQ(data.find("gone@"), std::string::npos) << data;
}

TEST(SmtpDialogueTest, MultipartMessageThroughBeginMessage) {
  ScriptedSmtpServer server(Join({Opening(kEhloPlain), Envelope()}));
  Params params;
  params.port = server.Port();
  ClientOptions options;
  options.localName = "client.test";
  IClient* raw = nullptr;
  ASSERT_EQ(CreateClient(&raw, options), kOk);
  ClientPtr client(raw);
  ASSERT_EQ(client->Connect(params), kOk);
  IMessageBody* body = nullptr;
  MessageInfo info;
  ASSERT_EQ(client->BeginMessage(&body, kBodyAlternative, info, 65001), kOk);
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->AddPlainText("plain"), kOk);
  EXPECT_EQ(body->AddHtmlText("<p>html</p>"), kOk);
  EXPECT_EQ(client->EndMessage(), kOk);
  EXPECT_EQ(client->EndMessage(), kFailure);  // nothing open any more
  EXPECT_EQ(client->Disconnect(true), kOk);
  client.reset();
  server.Wait();
  ASSERT_EQ(server.Data().size(), 1u);
  const std::string& data = server.Data()[0];
  EXPECT_NE(data.find("Content-Type: multipart/alternative;"), std::string::npos) << data;
  EXPECT_NE(data.find("text/html"), std::string::npos) << data;
  EXPECT_TRUE(data.ends_with("--\r\n")) << data;  // the closing delimiter
}

TEST(SmtpDialogueTest, TransportFailureDuringRcptEndsTheExchange) {
  // The first RCPT is answered with a malformed line: not a refusal, so the second
  // recipient is never tried on a connection that is out of step.
  ScriptedSmtpServer server(
      Join({Opening(kEhloPlain), {Read(), Send("250 ok\r\n"), Read(), Send("5x0 garbage\r\n")}}));
  Params params;
  params.port = server.Port();
  ClientOptions options;
  options.localName = "client.test";
  MessageInfo info;
  info.recipients = {{"", "a@example.test"}, {"", "b@example.test"}};
  EXPECT_EQ(SendWith(options, params, info, "text"), kFailure);
  server.Wait();
  EXPECT_EQ(server.Lines(), (Lines{"EHLO client.test", "MAIL FROM:<lumivar@example.test>",
                                   "RCPT TO:<a@example.test>"}));
}

TEST(SmtpDialogueTest, BadMessageIsRefusedBeforeMailFrom) {
  struct Case {
    const char* name;
    std::vector<mail_testing::Address> recipients;
    std::string sender;
  };
  const Case cases[] = {
      {"no recipient", {}, "lumivar@example.test"},
      {"CR LF in a recipient",
       {{"", "a@example.test\r\nRCPT TO:<x@evil.test>"}},
       "lumivar@example.test"},
      {"angle bracket", {{"", "a@example.test>"}}, "lumivar@example.test"},
      {"blank inside", {{"", "a b@example.test"}}, "lumivar@example.test"},
      {"non-ASCII", {{"", "j\xc3\xb6rg@example.test"}}, "lumivar@example.test"},
      {"empty sender", {{"", "a@example.test"}}, "  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MessageInfo info;
    info.recipients = c.recipients;
    info.sender.address = c.sender;
    EXPECT_EQ(ValidateMessageInfo(info), kFailure);
    ScriptedSmtpServer server(Opening(kEhloPlain));
    Params params;
    params.port = server.Port();
    ClientOptions options;
    options.localName = "client.test";
    EXPECT_EQ(SendWith(options, params, info, "text"), kFailure);
    server.Wait();
    EXPECT_EQ(server.Lines(), (Lines{"EHLO client.test"}));
  }
  MessageInfo padded;
  padded.recipients = {{"", "  admin@example.test\t"}};
  EXPECT_EQ(ValidateMessageInfo(padded), kOk);
}

TEST(SmtpDialogueTest, OverallDeadlineStopsATricklingServer) {
  // Each byte arrives well inside the per-wait time-out; only the deadline ends it.
  std::string endless = "220-";
  endless.append(400, 'x');
  ScriptedSmtpServer server({SendBytewise(endless, 10)});
  Params params;
  params.port = server.Port();
  params.timeout = 200;
  ClientOptions options;
  options.localName = "client.test";
  options.deadlineMs = 300;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendWith(options, params, MessageInfo(), "text"), platform::kWaitTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(SmtpDialogueTest, CancelEndsAWaitingClient) {
  ScriptedSmtpServer server({});
  Params params;
  params.port = server.Port();
  params.timeout = 0xFFFFFFFF;
  ClientOptions options;
  options.localName = "client.test";
  IClient* raw = nullptr;
  ASSERT_EQ(CreateClient(&raw, options), kOk);
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

class CollectingStream : public mail::ISerialStream64Out {
 public:
  Status Write(const void* data, std::uint64_t size, std::uint64_t* written) override {
    text.append(static_cast<const char*>(data), size);
    if (written) *written = size;
    return kOk;
  }
  std::string text;
};

TEST(DotStuffingTest, LinesStartingWithADotAndBareBreaks) {
  struct Case {
    std::vector<std::string> writes;
    std::string expected;
  };
  const Case cases[] = {
      {{"Subject: x\r\n\r\nbody"}, "Subject: x\r\n\r\nbody"},  // unchanged
      {{".hidden"}, "..hidden"},
      {{"a\r\n.\r\nRSET\r\n"}, "a\r\n..\r\nRSET\r\n"},
      {{"a\r", "\n", ".b"}, "a\r\n..b"},  // CR LF split between writes
      {{"a\n.b"}, "a\r\n..b"},            // bare LF
      {{"a\r.b"}, "a\r\n..b"},            // bare CR
      {{"a\r"}, "a\r\n"},                 // CR at the end, completed by Finish
      {{"x.y\r\n..z"}, "x.y\r\n...z"},
  };
  for (const Case& c : cases) {
    CollectingStream out;
    DotStuffingStream filter;
    filter.SetTarget(&out);
    filter.Begin();
    for (const std::string& w : c.writes) EXPECT_EQ(filter.Write(w.data(), w.size()), kOk);
    EXPECT_EQ(filter.Finish(), kOk);
    EXPECT_EQ(out.text, c.expected);
  }
}

}  // namespace
}  // namespace Smtp
