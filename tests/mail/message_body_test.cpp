// Body side of message composition: exact bytes of single-part and multipart bodies, a
// failing connection, and whole messages parsed back by Python's email package.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mail/mime.h"
#include "tests/mail/smtp_fakes.h"
#include "tests/mail/string_sink.h"
#include "tests/support/temp_dir.h"

namespace {

using mail_test::StringSink;

// Boundaries come from a per-thread sequence; in a new thread the first two are these.
const std::string kB1 = "=====_=678418be48230029";
const std::string kB2 = "=====_=72ae2cd63d6c4ae1";

template <typename F>
void InNewThread(F f) {
  std::thread thread(f);
  thread.join();
}

struct AttachmentInfo final : Smtp::IAttachmentInfo {
  std::string GetType() const override { return type; }
  std::string GetSubtype() const override { return subtype; }
  std::string GetFileName() const override { return fileName; }
  bool GetInline() const override { return isInline; }
  std::optional<std::string> GetContentId() const override { return contentId; }
  std::string type = "application", subtype = "octet-stream", fileName = "a.bin";
  bool isInline = false;
  std::optional<std::string> contentId;
};

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

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

constexpr const char* kParser = R"(
import sys, email, email.header, email.policy, email.utils
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
print('subject', msg['subject'].encode().hex())
# Display names as RFC 2047 reads them: blanks between adjacent encoded words are dropped
# (the newer header parser keeps one there).
plain = email.message_from_bytes(open(sys.argv[1], 'rb').read())
for field in ('from', 'to'):
    for name, addr in email.utils.getaddresses(plain.get_all(field)):
        name = str(email.header.make_header(email.header.decode_header(name)))
        print(field, name.encode().hex() or '-', addr)
print('year', msg['date'].datetime.year)
for part in msg.walk():
    if part.is_multipart():
        print('multipart', part.get_content_type())
    else:
        print('part', part.get_content_type(), part.get_content_charset() or '-',
              part.get_filename() or '-', part.get_payload(decode=True).hex())
print('defects', sum(len(p.defects) for p in msg.walk()) +
      sum(len(msg[f].defects) for f in ('subject', 'from', 'to')))
)";

// Writes the message to a file and returns what the parser printed, line by line.
std::vector<std::string> ParseWithPython(const std::string& message) {
  testing_support::TempDir dir;
  std::ofstream(dir.File("parse.py")) << kParser;
  std::ofstream(dir.File("message.eml"), std::ios::binary) << message;
  const std::string command =
      "/usr/bin/python3 " + dir.File("parse.py") + " " + dir.File("message.eml");
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  if (pipe != nullptr) {
    EXPECT_EQ(pclose(pipe), 0) << output;
  }
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < output.size(); start = end + 1) {
    end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    lines.push_back(output.substr(start, end - start));
  }
  return lines;
}

TEST(ComposedMessage, ParsesBackToWhatWasSent) {
  // Long names and a long subject: folded, or split into many encoded words.
  std::string longName;
  for (int i = 0; i < 12; ++i)
    longName += "Equipe d'exploitation n\xC2\xB0" + std::to_string(i) + " ";
  mail_testing::MessageInfo info;
  info.sender = {std::string(3000, 'x'), "from@example.com"};
  info.recipients = {
      {longName, "one@example.com"},
      {"M\xC3\xBCller, Hans", "hans@example.com"},
      {"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\"",
       "ivan@example.com"}};
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

  StringSink sink;
  sink.text = Smtp::ComposeTopHeader(info, {0, 1, 2}, 65001);
  Smtp::MessageBody body(&sink, Smtp::MessageBody::Kind::kMixed, 65001);
  ASSERT_EQ(body.AddPlainText(text), 0u);
  Smtp::IMessageBody* alternative = nullptr;
  ASSERT_EQ(body.AddBody(&alternative, Smtp::kBodyAlternative), 0u);
  ASSERT_EQ(alternative->AddPlainText(cyrillic), 0u);
  ASSERT_EQ(alternative->AddHtmlText("<p>" + cyrillic + "</p>"), 0u);
  AttachmentInfo info2;
  info2.fileName = "report.bin";
  mail::ISerialStream64Out* content = nullptr;
  ASSERT_EQ(body.AddAttachment(&content, info2), 0u);
  for (std::size_t i = 0; i < binary.size(); i += 7) {
    ASSERT_EQ(content->Write(binary.data() + i, std::min<std::size_t>(7, binary.size() - i)), 0u);
  }
  ASSERT_EQ(body.End(), 0u);

  // No line reaches the transport's limit, and none starts with a period.
  for (std::size_t start = 0, end; start < sink.text.size(); start = end + 2) {
    end = sink.text.find("\r\n", start);
    if (end == std::string::npos) end = sink.text.size();
    EXPECT_LE(end - start, 78u);
    EXPECT_NE(sink.text[start], '.');
  }

  const std::vector<std::string> expected = {
      "subject " + Hex(subject + "  Bcc: evil@example.com"),
      "from " + Hex(std::string(3000, 'x')) + " from@example.com",
      "to " + Hex(longName) + " one@example.com",
      "to " + Hex("M\xC3\xBCller, Hans") + " hans@example.com",
      "to " +
          Hex("\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD "
              "\"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\"") +
          " ivan@example.com",
      "year " + std::to_string(1900 +
                               [] {
                                 std::time_t t = std::time(nullptr);
                                 std::tm tm{};
                                 localtime_r(&t, &tm);
                                 return tm.tm_year;
                               }()),
      "multipart multipart/mixed",
      "part text/plain utf-8 - " + Hex(text),
      "multipart multipart/alternative",
      "part text/plain utf-8 - " + Hex(cyrillic),
      "part text/html utf-8 - " + Hex("<p>" + cyrillic + "</p>"),
      "part application/octet-stream - report.bin " + Hex(binary),
      "defects 0",
  };
  EXPECT_EQ(ParseWithPython(sink.text), expected);
}

}  // namespace
