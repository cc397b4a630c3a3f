// Test helpers for plain TCP on loopback: a listening socket on a free port of 127.0.0.1
// (or ::1) and small blocking helpers for the accepted connection. Nothing here ever
// leaves the loopback interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testing_support {

class LoopbackListener {
 public:
  // Listens on a free port of 127.0.0.1, or of ::1 when ipv6 is set.
  explicit LoopbackListener(bool ipv6 = false);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t Port() const { return port_; }
  // Accepts one connection; -1 when none came within the time given.
  int Accept(std::chrono::milliseconds wait = std::chrono::seconds(5));
  void Close();

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A port of 127.0.0.1 on which nothing listens (bound once, then closed).
std::uint16_t UnusedLoopbackPort();

// Blocking helpers on a connected socket; they return false on error or closed peer.
bool SendText(int fd, const std::string& text);
// Reads up to and including the next LF; false on close, error or time-out.
bool ReadLine(int fd, std::string* line, std::chrono::milliseconds wait = std::chrono::seconds(5));
// Reads whatever arrives until the peer closes or the wait ends.
std::string ReadUntilClosed(int fd, std::chrono::milliseconds wait = std::chrono::seconds(5));
// Closes with an RST instead of an orderly close.
void CloseWithReset(int fd);

}  // namespace testing_support
