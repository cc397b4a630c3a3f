// Header side of message composition: charsets, encoded words, folding, addresses, the
// Date value, and header injection through the subject or an address.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "mail/code_page.h"
#include "mail/mime.h"
#include "tests/mail/smtp_fakes.h"
#include "tests/mail/string_sink.h"
#include "tests/support/temp_dir.h"

namespace {

using mail_test::Lines;
using mail_testing::Address;
using mail_testing::MessageInfo;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(Charsets, NamesAndConversion) {
  // Not in the table, or no converter (437, 52936, 57010): written as ASCII and labelled so.
  const std::pair<std::uint16_t, const char*> names[] = {
      {65001, "UTF-8"},   {1252, "WINDOWS-1252"}, {28591, "ISO-8859-1"},
      {932, "Shift_JIS"}, {51932, "EUC-JP"},      {10002, "Big5"},
      {437, "US-ASCII"},  {52936, "US-ASCII"},    {57010, "US-ASCII"}};
  for (const auto& [codePage, name] : names) {
    EXPECT_EQ(mail::CharsetNameForCodePage(codePage), name);
  }

  EXPECT_EQ(mail::WideToCodePage("caf\xC3\xA9", 1252), "caf\xE9");
  EXPECT_EQ(mail::WideToCodePage("caf\xC3\xA9", 437), "caf?");
  EXPECT_EQ(mail::WideToCodePage("\xD0\x9F\xD1\x80\xD0\xB8", 1252), "???");
  EXPECT_EQ(mail::WideToCodePage("a\xD0\x9Fz", 28591), "a?z");
  EXPECT_EQ(mail::WideToCodePage("bad \xFF end", 65001), "bad \xEF\xBF\xBD end");
  EXPECT_EQ(mail::WideToCodePage("\xE6\x97\xA5\xE6\x9C\xAC", 50220), "\x1B$BF|K\\\x1B(B");
  EXPECT_EQ(mail::WideToCodePage("", 1252), "");
}

TEST(HeaderText, EncodedWords) {
  const std::string e = "\xC3\xA9";  // é in UTF-8
  const struct {
    std::string text;
    std::uint16_t codePage;
    std::string encoded;
  } cases[] = {
      {"Plain ASCII subject", 65001, "Plain ASCII subject"},
      {"Caf" + e + " au lait", 65001, "=?UTF-8?Q?Caf=C3=A9_au_lait?="},
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 65001, "=?UTF-8?B?0J/RgNC40LLQtdGC?="},
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80", 65001,
       "=?UTF-8?B?0J/RgNC40LLQtdGCINC80LjRgA==?="},
      {"Andr" + e, 28591, "=?ISO-8859-1?Q?Andr=E9?="},
      {"Olle J\xC3\xA4rnefors", 28591, "=?ISO-8859-1?Q?Olle_J=E4rnefors?="},
      {"Patrik F\xC3\xA4ltstr\xC3\xB6m", 28591, "=?ISO-8859-1?Q?Patrik_F=E4ltstr=F6m?="},
      // "?", "_" and "=" are encoded in Q; other ASCII punctuation is not.
      {"a?b_c=d (x) " + e, 65001, "=?UTF-8?Q?a=3Fb=5Fc=3Dd_(x)_=C3=A9?="},
      // The quarter rule on the bytes: 8 bytes with 2 high ones is Q, with 3 it is B.
      {"abcde" + e + "x", 65001, "=?UTF-8?Q?abcde=C3=A9x?="},
      {"abcd\xE2\x82\xACx", 65001, "=?UTF-8?B?YWJjZOKCrHg=?="},
      // ASCII with "=?" would be decoded by readers as an encoded word: it is encoded itself.
      {"=?UTF-8?B?ZXZpbA==?= literal", 65001,
       "=?UTF-8?Q?=3D=3FUTF-8=3FB=3FZXZpbA=3D=3D=3F=3D_literal?="},
      {"Price =?x", 28591, "=?ISO-8859-1?Q?Price_=3D=3Fx?="},
      {"a=b?c ?= d", 65001, "a=b?c ?= d"},
      // A UTF-7 message gets its header text in UTF-8, never as bare UTF-7 bytes.
      {"Caf" + e + " au lait", 65000, "=?UTF-8?Q?Caf=C3=A9_au_lait?="},
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 65000, "=?UTF-8?B?0J/RgNC40LLQtdGC?="},
      {"a+b 100%", 65000, "a+b 100%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mail::EncodeHeaderText(c.text, c.codePage), c.encoded) << c.text;
  }
  EXPECT_EQ(mail::QEncodeBytes("a\tb c"), "a=09b_c");
  // One accented letter among forty ASCII ones: one Q word.
  const std::string forty = Repeat("abcd ", 8);
  EXPECT_EQ(mail::EncodeHeaderText(forty + e, 65001),
            "=?UTF-8?Q?" + Repeat("abcd_", 8) + "=C3=A9?=");
}

// Long text is split into words of at most 75 characters on lines of their own; long ASCII
// text is folded at blanks. (That decoding gives the text back is checked by parsing a whole
// message with Python.)
TEST(HeaderText, LongTextIsSplitAndFolded) {
  const std::string cyrillic = Repeat("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ", 60);
  const std::string accented = Repeat("Caf\xC3\xA9 au lait, ", 40);
  for (const std::string& text : {cyrillic, accented}) {
    const std::string encoded = mail::EncodeHeaderText(text, 65001, 9);
    const auto lines = Lines(encoded);
    EXPECT_GT(lines.size(), 3u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      // Later lines start with a blank.
      EXPECT_EQ(lines[i].substr(0, i == 0 ? 8 : 9), i == 0 ? "=?UTF-8?" : " =?UTF-8?");
      EXPECT_LE(lines[i].size() - (i == 0 ? 0 : 1), 75u);
    }
  }

  const std::string ascii = Repeat("The monitor reported an error again. ", 30) + "End";
  const std::string folded = mail::EncodeHeaderText(ascii, 65001, 9);
  std::string unfolded;
  for (const auto& line : Lines(folded)) {
    EXPECT_LE(line.size() + (unfolded.empty() ? 9 : 0), 78u);
    unfolded += line;
  }
  EXPECT_EQ(unfolded, ascii);

  // A run without blanks too long for one line goes into encoded words.
  const std::string run(3000, 'x');
  const std::string encodedRun = mail::EncodeHeaderText(run, 65001, 9);
  for (const auto& line : Lines(encodedRun)) EXPECT_LE(line.size(), 76u);
}

TEST(Addresses, Formats) {
  const struct {
    std::string name, address;
    std::uint16_t codePage;
    std::string formatted;
  } cases[] = {
      {"", "a@b", 65001, "<a@b>"},
      {"Jo \"Q\" \\ X", "a@b", 65001, "\"Jo \\\"Q\\\" \\\\ X\" <a@b>"},
      {"Lumivar", "a@b", 65001, "\"Lumivar\" <a@b>"},
      {"Keld J\xC3\xB8rn Simonsen", "keld@dkuug.dk", 28591,
       "=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>"},
      // In a display name Q keeps only letters, digits and !*+-/, so a comma cannot split it.
      {"M\xC3\xBCller, Hans", "h@x", 65001, "=?UTF-8?Q?M=C3=BCller=2C_Hans?= <h@x>"},
      // Readers decode "=?" even inside a quoted string.
      {"=?UTF-8?B?ZXZpbA==?=", "a@b", 65001,
       "=?UTF-8?Q?=3D=3FUTF-8=3FB=3FZXZpbA=3D=3D=3F=3D?= <a@b>"},
      {"M\xC3\xBCller, Hans", "h@x", 65000, "=?UTF-8?Q?M=C3=BCller=2C_Hans?= <h@x>"},
      {"A+B", "a@b", 65000, "\"A+B\" <a@b>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mail::FormatAddress(c.name, c.address, c.codePage), c.formatted) << c.name;
  }

  MessageInfo info;
  info.recipients = {{"", "one@x"}, {"Two", "two@x"}, {"", "three@x"}};
  EXPECT_EQ(Smtp::FormatToHeader(info, {0, 1, 2}, 65001),
            "<one@x>,\r\n\t \"Two\" <two@x>,\r\n\t <three@x>");
  EXPECT_EQ(Smtp::FormatToHeader(info, {1}, 65001), "\"Two\" <two@x>");
}

// CR, LF and other controls in a subject, a display name or an address never start a new
// header line or end the DATA phase.
TEST(TopHeader, InjectionAttemptsStayOnTheirLine) {
  MessageInfo info;
  info.sender = Address("Evil\r\nBcc: victim@x", "from@x");
  info.recipients = {{"Name\nX-Injected: 1", "to@x\r\nBcc: other@x"}};
  info.subject = "Disk full\r\n.\r\nRSET\r\nMAIL FROM:<x@y>\r\nBcc: z@z\tend\x7F";
  const std::string header = Smtp::ComposeTopHeader(info, {0}, 65001, 1796548530);
  const auto lines = Lines(header);
  ASSERT_EQ(lines.size(), 6u) << header;
  EXPECT_EQ(lines[0].substr(0, 6), "Date: ");
  EXPECT_EQ(lines[1], "From: \"Evil  Bcc: victim@x\" <from@x>");
  EXPECT_EQ(lines[2], "To: \"Name X-Injected: 1\" <to@x  Bcc: other@x>");
  EXPECT_EQ(lines[3], "Subject: Disk full  .  RSET  MAIL FROM:<x@y>  Bcc: z@z end ");
  EXPECT_EQ(lines[4], "MIME-Version: 1.0");
  EXPECT_EQ(lines[5], "");
}

TEST(DateHeader, ZonesYearsAndNames) {
  const struct {
    const char* zone;
    std::int64_t utc;
    const char* date;
  } cases[] = {
      {"UTC", 1796548530, "Sun, 06 Dec 2026 09:15:30 +0000"},
      {"Europe/Berlin", 1796548530, "Sun, 06 Dec 2026 10:15:30 +0100"},
      {"Asia/Kolkata", 1796548530, "Sun, 06 Dec 2026 14:45:30 +0530"},
      {"America/St_Johns", 1768478400, "Thu, 15 Jan 2026 08:30:00 -0330"},
      // The day daylight saving time begins: 2026-03-29 00:59:59Z and 01:00:00Z.
      {"Europe/Berlin", 1774745999, "Sun, 29 Mar 2026 01:59:59 +0100"},
      {"Europe/Berlin", 1774746000, "Sun, 29 Mar 2026 03:00:00 +0200"},
      {"UTC", 0, "Thu, 01 Jan 1970 00:00:00 +0000"},
  };
  for (const auto& c : cases) {
    testing_support::ScopedEnv tz("TZ", c.zone);
    tzset();
    EXPECT_EQ(mail::FormatRfc822Date(c.utc), c.date) << c.zone;
  }
  tzset();
}

}  // namespace
