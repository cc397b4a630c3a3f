// Quoted-printable and Base64 encoders: known answers, line lengths and chunked writes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mail/base64.h"
#include "mail/quoted_printable.h"
#include "tests/mail/string_sink.h"

namespace {

using mail_test::Lines;
using mail_test::StringSink;

// Encodes the pieces, one write each, and finishes.
template <typename Encoder>
std::string EncodePieces(const std::vector<std::string>& pieces) {
  StringSink sink;
  Encoder encoder;
  encoder.SetTarget(&sink);
  EXPECT_EQ(encoder.Begin(), 0u);
  for (const auto& piece : pieces) EXPECT_EQ(encoder.Write(piece.data(), piece.size()), 0u);
  EXPECT_EQ(encoder.Finish(), 0u);
  return sink.text;
}

std::string Qp(const std::string& text) {
  return EncodePieces<mail::QuotedPrintable::EncodingStream>({text});
}
std::string B64(const std::string& text) {
  return EncodePieces<mail::Base64::EncodingStream>({text});
}

// A plain RFC 2045 decoder: soft breaks vanish, =XX becomes the byte.
std::string QpDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

TEST(QuotedPrintable, KnownAnswers) {
  const std::string e9(1, '\xE9');
  std::string e9x25;
  for (int i = 0; i < 25; ++i) e9x25 += "=E9";
  const struct {
    std::string in, out;
  } cases[] = {
      {"a.b", "a=2Eb"},
      {"x=1", "x=3D1"},
      {"end ", "end=20"},
      {"end\t", "end=09"},
      {"a b", "a b"},
      {"l1\r\nl2", "l1=0D=0Al2"},
      {"caf" + e9, "caf=E9"},
      {std::string("\0\x7F", 2), "=00=7F"},
      {std::string(100, 'a'), std::string(75, 'a') + "=\r\n" + std::string(25, 'a')},
      {std::string(74, 'a') + e9 + "b", std::string(74, 'a') + "=\r\n=E9b"},
      {std::string(73, 'a') + ".", std::string(73, 'a') + "=\r\n=2E"},
      {std::string(72, 'a') + ".", std::string(72, 'a') + "=2E"},
      {"", ""},
      // Lines of 76, 76 and 30 characters.
      {std::string(60, '\xE9'), e9x25 + "=\r\n" + e9x25 + "=\r\n" + e9x25.substr(0, 30)},
  };
  for (const auto& c : cases) EXPECT_EQ(Qp(c.in), c.out) << c.in;
}

// Random text in random pieces: every line within 76, no line starting with "." or ending
// in white space, only printable characters, and the decoded form equals the input.
TEST(QuotedPrintable, RandomTextKeepsTheRules) {
  std::mt19937 rng(12345);
  const std::string alphabet = std::string("ab .=\t\r\n\xE9\xC3\x80~!") + '\0';
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 400);
    for (int i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
    std::vector<std::string> pieces;
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t len = 1 + rng() % 40;
      pieces.push_back(text.substr(pos, len));
      pos += len;
    }
    const std::string encoded = EncodePieces<mail::QuotedPrintable::EncodingStream>(pieces);
    for (const auto& line : Lines(encoded)) {
      EXPECT_LE(line.size(), 76u);
      if (line.empty()) continue;
      EXPECT_NE(line.front(), '.');
      EXPECT_NE(line.back(), ' ');
      EXPECT_NE(line.back(), '\t');
      for (char c : line) EXPECT_TRUE(c == '\t' || (c >= 32 && c <= 126)) << int(c);
    }
    EXPECT_EQ(QpDecode(encoded), text);
  }
}

TEST(Base64Stream, LinesAndPadding) {
  // 55, 56, 112 and 113 bytes are one or two short of full lines: the padded group still
  // fills the last line.
  const struct {
    std::size_t bytes;
    std::vector<std::size_t> lineLengths;
  } cases[] = {
      {57, {76}},          {58, {76, 4}}, {114, {76, 76}}, {60, {76, 4}},
      {171, {76, 76, 76}}, {55, {76}},    {56, {76}},      {112, {76, 76}},
      {113, {76, 76}},     {1, {4}},      {2, {4}},        {0, {0}},
  };
  for (const auto& c : cases) {
    const std::string out = B64(std::string(c.bytes, 'x'));
    std::vector<std::size_t> lengths;
    for (const auto& line : Lines(out)) lengths.push_back(line.size());
    EXPECT_EQ(lengths, c.lineLengths) << c.bytes;
  }
  EXPECT_EQ(Lines(B64(std::string(58, 'x')))[1], "eA==");

  // Writing byte by byte gives the same text as one write.
  for (std::size_t n = 0; n <= 200; ++n) {
    std::string data;
    for (std::size_t i = 0; i < n; ++i) data += static_cast<char>(i * 37 + 11);
    std::vector<std::string> bytes;
    for (char c : data) bytes.emplace_back(1, c);
    ASSERT_EQ(EncodePieces<mail::Base64::EncodingStream>(bytes), B64(data)) << n;
    // Every line but the last holds 76 characters.
    const auto lines = Lines(B64(data));
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i + 1 < lines.size()) {
        ASSERT_EQ(lines[i].size(), 76u) << n;
      }
      joined += lines[i];
    }
    ASSERT_EQ(joined, mail::Base64Encode(data)) << n;
  }
}

TEST(Base64Stream, FailingTargetKeepsPendingBytes) {
  StringSink sink;
  mail::Base64::EncodingStream encoder;
  encoder.SetTarget(&sink);
  encoder.Begin();
  EXPECT_EQ(encoder.Write("ab", 2), 0u);  // held back, nothing forwarded
  EXPECT_EQ(sink.writes, 0);
  sink.failFromWrite = 1;
  EXPECT_EQ(encoder.Write("cdefg", 5), 10054u);
  EXPECT_EQ(sink.text, "");
  sink.failFromWrite = 0;
  EXPECT_EQ(encoder.Write("cdefg", 5), 0u);  // "ab" is still pending
  EXPECT_EQ(encoder.Finish(), 0u);
  EXPECT_EQ(sink.text, mail::Base64Encode("abcdefg"));

  mail::Base64::EncodingStream noTarget;
  EXPECT_EQ(noTarget.Write("abc", 3), 1u);
  EXPECT_EQ(noTarget.Write(nullptr, 3), 1u);
  EXPECT_EQ(noTarget.Write(nullptr, 0), 0u);
}

TEST(Base64, OneShotKnownAnswers) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"If you can read this yo", "SWYgeW91IGNhbiByZWFkIHRoaXMgeW8="},
      {"u understand the example.", "dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg=="},
      {std::string("\0\xFF\xFE", 3), "AP/+"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(mail::Base64Encode(plain), encoded);
    std::string decoded;
    EXPECT_TRUE(mail::Base64Decode(encoded, decoded)) << encoded;
    EXPECT_EQ(decoded, plain);
  }
  std::string out;
  EXPECT_TRUE(mail::Base64Decode("dGVzdAB0ZXN0ADEyMzQ=", out));
  EXPECT_EQ(out, std::string("test\0test\0001234", 14));

  for (const char* bad :
       {"YWJ", "YW=j", "====", "=AAA", "YQ==YWJj", "YWJ\xE9", "YW J", "YWJj\r\n", "Y===", "YWJ!"}) {
    EXPECT_FALSE(mail::Base64Decode(bad, out)) << bad;
  }
}

TEST(TextChoice, QuarterRule) {
  EXPECT_TRUE(mail::PreferQuotedPrintable(""));
  EXPECT_TRUE(mail::PreferQuotedPrintable("abcdef\xE9\xE9"));
  EXPECT_FALSE(mail::PreferQuotedPrintable("abcde\xE9\xE9\xE9"));
  EXPECT_TRUE(mail::IsAscii("plain text\r\n"));
  EXPECT_FALSE(mail::IsAscii("caf\xC3\xA9"));
}

}  // namespace
