#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace platform {
namespace {

TEST(SanitizeTextTest, BlanksApostropheLineFeedAndBellOnly) {
  EXPECT_EQ(SanitizeText("it's\r\nbad\a"), "it s\r bad ");
  EXPECT_EQ(SanitizeText("Grüße ☃ 😀;%\\"), "Grüße ☃ 😀;%\\");
  EXPECT_EQ(SanitizeText(""), "");
}

TEST(Utf8Test, ConvertsBothWays) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {u"abc", "abc"},
      {u"\u00e9", "\xc3\xa9"},                        // 2 bytes
      {u"\u20ac\u2603", "\xe2\x82\xac\xe2\x98\x83"},  // 3 bytes
      {u"\U0001F600", "\xf0\x9f\x98\x80"},            // 4 bytes from a surrogate pair
      {u"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  }
}

TEST(Utf8Test, IllFormedInputGivesReplacementCharacters) {
  const std::u16string lone = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(ToUtf8(lone),
            "a\xef\xbf\xbd"
            "b\xef\xbf\xbd");
  EXPECT_EQ(ToUtf8(std::u16string(1, 0xD83D)), "\xef\xbf\xbd");  // high surrogate at the end

  EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");                  // stray continuation byte
  EXPECT_EQ(Utf8ToUtf16("\xe2\x82z"), u"\uFFFDz");                // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xf4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xf0\x9f\x98"), u"\uFFFD");                        // truncated at the end
}

TEST(Int64ToStringTest, MinusOneIsNotAvailable) {
  EXPECT_EQ(Int64ToString(-1), "N/A");
  EXPECT_EQ(Int64ToString(0), "0");
  EXPECT_EQ(Int64ToString(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Int64ToString(INT64_MAX), "9223372036854775807");
}

}  // namespace
}  // namespace platform
