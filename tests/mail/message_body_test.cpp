// Body side of message composition: exact bytes of single-part and multipart bodies, and a
// failing connection. (A whole message parsed back by Python's email package is checked
// end to end in smtp_client_itest.)
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "mail/mime.h"
#include "tests/mail/smtp_fakes.h"
#include "tests/mail/string_sink.h"

namespace {

using mail_test::StringSink;
using mail_testing::AttachmentInfo;

// Boundaries come from a per-thread sequence; in a new thread the first two are these.
const std::string kB1 = "=====_=678418be48230029";
const std::string kB2 = "=====_=72ae2cd63d6c4ae1";

template <typename F>
void InNewThread(F f) {
  std::thread thread(f);
  thread.join();
}

std::string PlainHeader(const char* encoding, const char* subtype = "plain") {
  return std::string("Content-Type: text/") + subtype +
         "; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n";
}

TEST(MessageBody, SinglePart) {
  using Kind = Smtp::MessageBody::Kind;
  const struct {
    bool html;
    std::string text, expected;
  } cases[] = {
      {false, "Hello. x=1", PlainHeader("quoted-printable") + "Hello=2E x=3D1"},
      {true, "<p>Hi</p>", PlainHeader("quoted-printable", "html") + "<p>Hi</p>"},
      {false, "", PlainHeader("quoted-printable")},
      {false, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
       PlainHeader("base64") + "0J/RgNC40LLQtdGC"},
  };
  for (const auto& c : cases) {
    StringSink sink;
    Smtp::MessageBody body(&sink, Kind::kSinglePart, 65001);
    ASSERT_EQ(body.Begin(), 0u);
    EXPECT_EQ(c.html ? body.AddHtmlText(c.text) : body.AddPlainText(c.text), 0u);
    // One part only; ending twice writes nothing more.
    EXPECT_EQ(body.AddPlainText("second"), 1u);
    EXPECT_EQ(body.End(), 0u);
    EXPECT_EQ(body.End(), 0u);
    EXPECT_EQ(sink.text, c.expected);
    EXPECT_EQ(body.AddPlainText("late"), 1u);
  }
}

TEST(MessageBody, MultipartLayouts) {
  InNewThread([] {
    // Mixed: a text part, an attachment finished by the next add, a nested alternative body.
    StringSink sink;
    Smtp::MessageBody body(&sink, Smtp::MessageBody::KindFromInt(Smtp::kBodyMixed), 65001);
    ASSERT_EQ(body.Boundary(), kB1);
    ASSERT_EQ(body.AddPlainText("Hi"), 0u);
    mail::ISerialStream64Out* content = nullptr;
    AttachmentInfo info;
    info.isInline = true;
    info.contentId = "id1";
    ASSERT_EQ(body.AddAttachment(&content, info), 0u);
    ASSERT_EQ(content->Write("ab", 2), 0u);
    Smtp::IMessageBody* child = nullptr;
    ASSERT_EQ(body.AddBody(&child, Smtp::kBodyAlternative), 0u);
    ASSERT_EQ(child->AddPlainText("a"), 0u);
    ASSERT_EQ(child->AddHtmlText("b"), 0u);
    ASSERT_EQ(body.End(), 0u);
    const std::string expected =
        "Content-Type: multipart/mixed;\r\n\t boundary=\"" + kB1 + "\"\r\n\r\n\r\n--" + kB1 +
        "\r\n" + PlainHeader("quoted-printable") + "Hi\r\n--" + kB1 +
        "\r\nContent-Type: application/octet-stream;\r\n\t name=\"a.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: inline;\r\n\t filename=\"a.bin\"\r\nContent-ID: "
        "<id1>\r\n\r\nYWI=\r\n--" +
        kB1 + "\r\nContent-Type: multipart/alternative;\r\n\t boundary=\"" + kB2 +
        "\"\r\n\r\n\r\n--" + kB2 + "\r\n" + PlainHeader("quoted-printable") + "a\r\n--" + kB2 +
        "\r\n" + PlainHeader("quoted-printable", "html") + "b\r\n--" + kB2 + "--\r\n\r\n--" + kB1 +
        "--\r\n";
    EXPECT_EQ(sink.text, expected);
  });
  InNewThread([] {
    // Related announces the type of its first part; an empty multipart writes only its
    // closing delimiter.
    StringSink sink;
    Smtp::MessageBody related(&sink, Smtp::MessageBody::Kind::kRelated, 65001);
    ASSERT_EQ(related.AddHtmlText("<b>x</b>"), 0u);
    EXPECT_EQ(sink.text.substr(0, sink.text.find("\r\n\r\n")),
              "Content-Type: multipart/related;\r\n\t type=\"text/html\";\r\n\t boundary=\"" + kB1 +
                  "\"");
    StringSink emptySink;
    Smtp::MessageBody empty(&emptySink, Smtp::MessageBody::Kind::kAlternative, 65001);
    ASSERT_EQ(empty.End(), 0u);
    EXPECT_EQ(emptySink.text, "\r\n--" + kB2 + "--\r\n");
  });
}

// The first failure of the connection comes back from every later step, and nothing more
// is written after it.
TEST(MessageBody, FailingStreamStopsEverything) {
  for (int failAt = 1; failAt <= 6; ++failAt) {
    StringSink sink;
    sink.failFromWrite = failAt;
    Smtp::MessageBody body(&sink, Smtp::MessageBody::Kind::kMixed, 65001);
    std::vector<mail::Status> results;
    results.push_back(body.AddPlainText("text"));
    mail::ISerialStream64Out* content = nullptr;
    AttachmentInfo info;
    results.push_back(body.AddAttachment(&content, info));
    if (content != nullptr) results.push_back(content->Write("abcd", 4));
    results.push_back(body.End());
    const int writesAtFailure = sink.writes;
    bool failed = false;
    for (mail::Status status : results) {
      if (status != 0) failed = true;
      if (failed) {
        EXPECT_EQ(status, 10054u) << failAt;
      }
    }
    EXPECT_TRUE(failed) << failAt;
    EXPECT_EQ(sink.writes, failAt) << "writes after the failure";
    EXPECT_EQ(body.AddPlainText("more"), 1u);
    EXPECT_EQ(sink.writes, writesAtFailure);
  }
}

}  // namespace
