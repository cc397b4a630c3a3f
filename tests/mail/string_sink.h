// Helpers for the mail tests: a byte sink that collects what is written, counts the writes
// and can be told to fail from a given write on; text split into CR LF lines.
#pragma once

#include <string>
#include <vector>

#include "mail/stream.h"

namespace mail_test {

class StringSink : public mail::ISerialStream64Out {
 public:
  mail::Status Write(const void* data, std::uint64_t size, std::uint64_t* written) override {
    if (written != nullptr) *written = 0;
    ++writes;
    if (failFromWrite > 0 && writes >= failFromWrite) return failStatus;
    text.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
    if (written != nullptr) *written = size;
    return 0;
  }

  std::string text;
  int writes = 0;
  int failFromWrite = 0;  // 1-based; 0 never fails
  mail::Status failStatus = 10054;
};

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(text.substr(start, pos - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

}  // namespace mail_test
