// MD5, HMAC-MD5 and the CRAM-MD5 answer against the published known answers.
#include <gtest/gtest.h>

#include <string>

#include "mail/base64.h"
#include "mail/md5.h"

namespace {

std::string Hex(const mail::Md5Digest& d) { return mail::ToHexLower(d); }

TEST(Md5, KnownAnswers) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // Padding boundaries.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& [input, expected] : vectors) {
    EXPECT_EQ(Hex(mail::Md5Of(input)), expected) << input.size();
    // The same digest when fed in pieces of 1, 63, 64 and 65 bytes.
    for (std::size_t piece : {1u, 63u, 64u, 65u}) {
      if (input.size() > 4096 && piece == 1) continue;
      mail::Md5 md5;
      md5.Init();
      for (std::size_t pos = 0; pos < input.size(); pos += piece) {
        md5.Update(input.data() + pos, std::min(piece, input.size() - pos));
      }
      mail::Md5Digest digest;
      ASSERT_TRUE(md5.Final(digest));
      EXPECT_EQ(Hex(digest), expected) << input.size() << " in pieces of " << piece;
    }
  }
}

TEST(Md5, UseOutsideInitAndFinalChangesNothing) {
  mail::Md5 md5;
  mail::Md5Digest digest{};
  EXPECT_FALSE(md5.Update("abc", 3));
  EXPECT_FALSE(md5.Final(digest));
  EXPECT_EQ(digest, mail::Md5Digest{});

  md5.Init();
  EXPECT_TRUE(md5.Update("abc", 3));
  EXPECT_TRUE(md5.Final(digest));
  EXPECT_EQ(Hex(digest), "900150983cd24fb0d6963f7d28e17f72");
  mail::Md5Digest again{};
  EXPECT_FALSE(md5.Update("x", 1));
  EXPECT_FALSE(md5.Final(again));
  EXPECT_EQ(again, mail::Md5Digest{});
}

TEST(HmacMd5, KnownAnswers) {
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4 += static_cast<char>(i);
  const struct {
    std::string key, data;
    const char* hex;
  } cases[] = {
      {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
      {key4, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
      {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6f630fad67cda0ee1fb1f562db3aa53e"},
      // A 64-byte key is used as it is; a 65-byte one is hashed first.
      {std::string(64, 'k'), "data", "e0525f930df7e5415f8beed9da4e1f3c"},
      {std::string(65, 'k'), "data", "b7d1158ae12147f7faa37bc828cc7321"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(mail::HmacMd5(c.data, c.key)), c.hex) << c.data;
}

TEST(CramMd5, Answers) {
  std::string answer;
  const std::string challenge = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
  ASSERT_TRUE(mail::MakeCramMd5Response(answer, challenge, "tim", "tanstaaftanstaaf"));
  EXPECT_EQ(answer, "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");

  // Trailing blanks after the challenge are ignored.
  std::string trimmed;
  ASSERT_TRUE(mail::MakeCramMd5Response(trimmed, challenge + " \t ", "tim", "tanstaaftanstaaf"));
  EXPECT_EQ(trimmed, answer);

  // An empty challenge is HMAC over no data.
  ASSERT_TRUE(mail::MakeCramMd5Response(answer, "", "u", "p"));
  EXPECT_EQ(answer, mail::Base64Encode("u " + Hex(mail::HmacMd5("", "p"))));

  for (const char* bad : {"PDE4O", "PDE4OTYu!jk3", "PD\xC3\xA9OTYu", "PDE4 OTYu"}) {
    answer = "old";
    EXPECT_FALSE(mail::MakeCramMd5Response(answer, bad, "tim", "pw")) << bad;
    EXPECT_EQ(answer, "");
  }
}

}  // namespace
