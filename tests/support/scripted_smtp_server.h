// A scripted stand-in for an SMTP server, for what a real one will not do on demand:
// replies split at every byte, malformed replies, extra bytes, silence, trickling, closing
// mid-reply, any code at any step. It listens on a free port of 127.0.0.1, takes one
// connection and plays its script on a thread of its own; it records every line the
// client sent (outside DATA) and the DATA content. After the script it keeps reading, so
// anything the client says later is recorded too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace testing_support {

struct ScriptStep {
  enum class Kind { kSend, kSendBytewise, kRead, kReadData, kClose };
  Kind kind;
  std::string bytes;
  int ms = 0;
};

// Sends the bytes as they stand.
ScriptStep Send(std::string bytes);
// Sends the bytes one at a time, gapMs apart.
ScriptStep SendBytewise(std::string bytes, int gapMs = 1);
// Reads one line from the client and records it (without CR LF).
ScriptStep Read();
// Reads DATA content up to and including CR LF "." CR LF and records it (without the end).
ScriptStep ReadData();
ScriptStep Close();  // orderly close; the script ends

class ScriptedSmtpServer {
 public:
  explicit ScriptedSmtpServer(std::vector<ScriptStep> script);
  ~ScriptedSmtpServer();

  std::uint16_t Port() const { return listener_.Port(); }
  // Waits for the script to end and the client to close (call after releasing the client).
  void Wait();
  // Every line the client sent outside DATA, in order, and the DATA contents.
  const std::vector<std::string>& Lines() const { return lines_; }
  const std::vector<std::string>& Data() const { return data_; }
  // Whether the client hung up before a byte-wise send of the script was through.
  bool CutShort() const { return cutShort_; }

 private:
  void Run();

  LoopbackListener listener_;
  std::vector<ScriptStep> script_;
  std::vector<std::string> lines_;
  std::vector<std::string> data_;
  bool cutShort_ = false;
  std::thread thread_;
};

}  // namespace testing_support
