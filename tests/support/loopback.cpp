#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testing_support {

LoopbackListener::LoopbackListener(bool ipv6) {
  fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket");
  int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_addr = in6addr_loopback;
  auto* address = ipv6 ? reinterpret_cast<sockaddr*>(&sin6) : reinterpret_cast<sockaddr*>(&sin);
  socklen_t length = ipv6 ? sizeof sin6 : sizeof sin;
  if (bind(fd_, address, length) != 0 || listen(fd_, 16) != 0) {
    close(fd_);
    throw std::runtime_error("bind/listen on loopback");
  }
  getsockname(fd_, address, &length);
  port_ = ntohs(ipv6 ? sin6.sin6_port : sin.sin_port);
}

LoopbackListener::~LoopbackListener() { Close(); }

void LoopbackListener::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

int LoopbackListener::Accept(std::chrono::milliseconds wait) {
  if (fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return -1;
  return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

std::uint16_t UnusedLoopbackPort() {
  LoopbackListener listener;
  return listener.Port();
}

bool SendText(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

// Waits until fd is readable or the deadline passes; then reads up to size bytes.
ssize_t ReceiveBy(int fd, char* buffer, std::size_t size,
                  std::chrono::steady_clock::time_point end) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    pollfd p{fd, POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(left.count()));
    if (rc < 0 && errno == EINTR) continue;
    return rc <= 0 ? -1 : recv(fd, buffer, size, 0);
  }
}

}  // namespace

bool ReadLine(int fd, std::string* line, std::chrono::milliseconds wait) {
  line->clear();
  const auto end = std::chrono::steady_clock::now() + wait;
  char c;
  while (ReceiveBy(fd, &c, 1, end) == 1) {
    line->push_back(c);
    if (c == '\n') return true;
  }
  return false;
}

std::string ReadUntilClosed(int fd, std::chrono::milliseconds wait) {
  std::string all;
  const auto end = std::chrono::steady_clock::now() + wait;
  char buffer[4096];
  for (ssize_t n; (n = ReceiveBy(fd, buffer, sizeof buffer, end)) > 0;) {
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

void CloseWithReset(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

}  // namespace testing_support
