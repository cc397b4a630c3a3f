#include "mail/smtp_reply.h"

namespace Smtp {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

void ReplyParser::Append(std::string_view bytes) {
  // Drop what is parsed already before the buffer grows, so it never holds more than one
  // reply and its partial line.
  if (pos_ > 0 && pos_ == buffer_.size()) {
    buffer_.clear();
    scan_ -= pos_;
    pos_ = 0;
  } else if (pos_ > 4096) {
    buffer_.erase(0, pos_);
    scan_ -= pos_;
    pos_ = 0;
  }
  buffer_.append(bytes);
}

void ReplyParser::Clear() {
  buffer_.clear();
  pos_ = scan_ = replyBytes_ = 0;
  current_ = Reply();
}

ReplyParser::Result ReplyParser::Next(Reply* reply) {
  for (;;) {
    if (scan_ < pos_) scan_ = pos_;
    std::size_t cr = buffer_.find('\r', scan_);
    if (cr == std::string::npos || cr + 1 >= buffer_.size()) {
      // No whole line yet; remember how far the search went.
      scan_ = cr == std::string::npos ? buffer_.size() : cr;
      if (replyBytes_ + (buffer_.size() - pos_) > kMaxReplySize) return Result::kTooLong;
      return Result::kIncomplete;
    }
    const std::size_t length = cr - pos_;
    if (buffer_[cr + 1] != '\n' || length < 3) return Result::kMalformed;
    std::string_view line(buffer_.data() + pos_, length);
    if (!IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return Result::kMalformed;
    replyBytes_ += length + 2;
    if (replyBytes_ > kMaxReplySize) return Result::kTooLong;

    ReplyLine parsed;
    parsed.code =
        static_cast<std::uint16_t>((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
    const bool more = length > 3 && line[3] == '-';
    std::size_t textStart = more ? 4 : 3;
    while (textStart < length && line[textStart] == ' ') ++textStart;
    parsed.text.assign(line.substr(textStart));
    current_.lines.push_back(std::move(parsed));
    pos_ = scan_ = cr + 2;
    if (!more) {
      *reply = std::move(current_);
      current_ = Reply();
      replyBytes_ = 0;
      return Result::kComplete;
    }
  }
}

void Capabilities::ParseEhloReply(const Reply& reply) {
  entries_.clear();
  for (std::size_t i = 1; i < reply.lines.size(); ++i) {
    const ReplyLine& line = reply.lines[i];
    if (line.code != 250 || line.text.empty()) continue;
    Entry entry;
    std::size_t blank = line.text.find(' ');
    entry.keyword = line.text.substr(0, blank);
    if (blank != std::string::npos) {
      // Every single blank ends a word: two in a row give an empty word, one at the end
      // none.
      std::size_t start = blank + 1;
      while (start < line.text.size()) {
        std::size_t next = line.text.find(' ', start);
        if (next == std::string::npos) next = line.text.size();
        entry.params.push_back(line.text.substr(start, next - start));
        start = next + 1;
      }
    }
    entries_.push_back(std::move(entry));
  }
}

const std::vector<std::string>* Capabilities::Find(std::string_view keyword) const {
  for (const Entry& entry : entries_) {
    if (EqualsIgnoreCase(entry.keyword, keyword)) return &entry.params;
  }
  return nullptr;
}

std::optional<AuthMechanism> ChooseAuthMechanism(const Capabilities& capabilities) {
  const std::vector<std::string>* mechanisms = capabilities.Find("AUTH");
  if (mechanisms == nullptr) return std::nullopt;
  for (const std::string& word : *mechanisms) {
    if (EqualsIgnoreCase(word, "PLAIN")) return AuthMechanism::kPlain;
    if (EqualsIgnoreCase(word, "CRAM-MD5")) return AuthMechanism::kCramMd5;
  }
  return std::nullopt;
}

}  // namespace Smtp
