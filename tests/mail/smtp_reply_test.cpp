// The reply parser fed real and broken replies, whole and split at every byte; the EHLO
// capabilities and the choice of AUTH mechanism.
#include "mail/smtp_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Smtp {
namespace {

using Result = ReplyParser::Result;

struct ParseCase {
  const char* name;
  std::string bytes;
  Result result;
  std::vector<std::pair<int, std::string>> lines;  // for kComplete
  bool pending = false;                            // bytes left after the reply
};

std::vector<ParseCase> ParseCases() {
  return {
      {"one line",
       "220 mail.example ESMTP ready\r\n",
       Result::kComplete,
       {{220, "mail.example ESMTP ready"}}},
      {"multi-line greeting",
       "220-first\r\n220-second\r\n220 last\r\n",
       Result::kComplete,
       {{220, "first"}, {220, "second"}, {220, "last"}}},
      {"three bytes only", "250\r\n", Result::kComplete, {{250, ""}}},
      {"leading blanks dropped", "334   PDE4\r\n", Result::kComplete, {{334, "PDE4"}}},
      {"no separator", "250OK\r\n", Result::kComplete, {{250, "OK"}}},
      {"bytes after the final line are kept",
       "250 OK\r\n221 bye\r\n",
       Result::kComplete,
       {{250, "OK"}},
       true},
      {"line shorter than three", "25\r\n", Result::kMalformed, {}},
      {"empty line", "\r\n", Result::kMalformed, {}},
      {"non-digit", "2x0 OK\r\n", Result::kMalformed, {}},
      {"CR without LF", "250 OK\rX", Result::kMalformed, {}},
      {"LF-only lines never complete", "250-a\n250 b\n", Result::kIncomplete, {}},
      {"CR as last byte", "250 OK\r", Result::kIncomplete, {}},
      {"continuation without an end", "250-a\r\n250-b\r\n", Result::kIncomplete, {}},
      {"nothing", "", Result::kIncomplete, {}},
  };
}

TEST(ReplyParserTest, SplitAtEveryByte) {
  for (const ParseCase& c : ParseCases()) {
    SCOPED_TRACE(c.name);
    // Split into two pieces at every position (the last one is the whole reply at once):
    // the result is the same once everything has arrived, and no earlier piece completes or
    // breaks it unless its bytes alone already do.
    for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut) {
      SCOPED_TRACE(cut);
      ReplyParser parser;
      Reply reply;
      parser.Append(c.bytes.substr(0, cut));
      Result result = parser.Next(&reply);
      parser.Append(c.bytes.substr(cut));
      if (result == Result::kIncomplete) result = parser.Next(&reply);
      ASSERT_EQ(result, c.result);
      if (c.result != Result::kComplete) continue;
      EXPECT_EQ(parser.HasPending(), c.pending);
      ASSERT_EQ(reply.lines.size(), c.lines.size());
      for (std::size_t i = 0; i < c.lines.size(); ++i) {
        EXPECT_EQ(reply.lines[i].code, c.lines[i].first);
        EXPECT_EQ(reply.lines[i].text, c.lines[i].second);
      }
    }
    // Trickled one byte at a time.
    ReplyParser parser;
    Reply reply;
    Result result = Result::kIncomplete;
    for (std::size_t i = 0; i < c.bytes.size() && result == Result::kIncomplete; ++i) {
      parser.Append(c.bytes.substr(i, 1));
      result = parser.Next(&reply);
    }
    EXPECT_EQ(result, c.result);
  }
}

TEST(ReplyParserTest, KeepsFollowingRepliesAndCapsOneReply) {
  ReplyParser parser;
  parser.Append("250 first\r\n354 go");
  Reply reply;
  ASSERT_EQ(parser.Next(&reply), Result::kComplete);
  EXPECT_EQ(reply.Code(), 250);
  EXPECT_TRUE(parser.HasPending());
  EXPECT_EQ(parser.Next(&reply), Result::kIncomplete);
  parser.Append(" ahead\r\n");
  ASSERT_EQ(parser.Next(&reply), Result::kComplete);
  EXPECT_EQ(reply.Code(), 354);
  EXPECT_EQ(reply.lines[0].text, "go ahead");
  EXPECT_FALSE(parser.HasPending());

  // An endless continuation, and an endless line without CR, both stop at the cap.
  for (const std::string piece : {"250-this server never stops talking\r\n", "xxxxxxxxxx"}) {
    ReplyParser endless;
    Result result = Result::kIncomplete;
    for (int i = 0; i < 100000 && result == Result::kIncomplete; ++i) {
      endless.Append(piece);
      result = endless.Next(&reply);
    }
    EXPECT_EQ(result, Result::kTooLong) << piece;
  }
}

Reply MakeReply(const std::vector<std::string>& texts) {
  Reply reply;
  for (const std::string& text : texts) reply.lines.push_back({250, text});
  return reply;
}

TEST(CapabilitiesTest, ParseAndFind) {
  Capabilities caps;
  caps.ParseEhloReply(MakeReply(
      {"AUTH greets you", "SIZE 1000", "auth  login plain", "STARTTLS", "", "8BITMIME "}));
  // The first line is the server's greeting, never a keyword.
  EXPECT_FALSE(caps.Has("greets"));
  ASSERT_EQ(caps.Entries().size(), 4u);
  const std::vector<std::string>* auth = caps.Find("AUTH");
  ASSERT_NE(auth, nullptr);
  EXPECT_EQ(*auth, (std::vector<std::string>{"", "login", "plain"}));
  EXPECT_TRUE(caps.Has("starttls"));
  ASSERT_NE(caps.Find("8BITMIME"), nullptr);
  EXPECT_TRUE(caps.Find("8BITMIME")->empty());
  EXPECT_FALSE(caps.Has("PIPELINING"));

  // Lines with another code than 250 are not capabilities.
  Reply mixed = MakeReply({"hi", "STARTTLS"});
  mixed.lines[1].code = 251;
  caps.ParseEhloReply(mixed);
  EXPECT_FALSE(caps.Has("STARTTLS"));
}

TEST(CapabilitiesTest, MechanismIsTheFirstKnownOneInTheServersOrder) {
  struct Case {
    const char* authLine;  // nullptr: no AUTH line
    std::optional<AuthMechanism> expected;
  };
  const Case cases[] = {
      {"AUTH LOGIN CRAM-MD5 PLAIN", AuthMechanism::kCramMd5},
      {"AUTH PLAIN CRAM-MD5", AuthMechanism::kPlain},
      {"AUTH CRAM-MD5 PLAIN", AuthMechanism::kCramMd5},
      {"auth login cram-md5", AuthMechanism::kCramMd5},
      {"AUTH LOGIN", std::nullopt},
      {"AUTH=PLAIN LOGIN", std::nullopt},  // the old form is another keyword
      {"AUTH", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.authLine ? c.authLine : "(none)");
    Capabilities caps;
    std::vector<std::string> lines = {"mail.example", "SIZE 100"};
    if (c.authLine) lines.push_back(c.authLine);
    caps.ParseEhloReply(MakeReply(lines));
    EXPECT_EQ(ChooseAuthMechanism(caps), c.expected);
  }
}

}  // namespace
}  // namespace Smtp
