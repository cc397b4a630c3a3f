#include "mail/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace mail {

using platform::kFailure;
using platform::kOk;
using platform::kWaitFailed;
using platform::kWaitTimeout;

// ---------------------------------------------------------------------------------------
// CancelEvent

CancelEvent::~CancelEvent() {
  if (fd_ >= 0) close(fd_);
}

Status CancelEvent::Create() {
  if (fd_ >= 0) return kOk;
  fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd_ < 0 ? platform::ErrnoToStatus(errno) : kOk;
}

Status CancelEvent::Signal() {
  if (fd_ < 0) return kFailure;
  std::uint64_t one = 1;
  if (write(fd_, &one, sizeof one) < 0 && errno != EAGAIN) return platform::ErrnoToStatus(errno);
  return kOk;
}

void CancelEvent::Reset() {
  if (fd_ < 0) return;
  std::uint64_t value = 0;
  while (read(fd_, &value, sizeof value) > 0) {
  }
}

bool CancelEvent::IsSignalled() const {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// ---------------------------------------------------------------------------------------
// Addresses and names

void Blob128::Assign(const void* address, std::size_t size) {
  data = sockaddr_storage{};
  size = std::min(size, sizeof data);
  std::memcpy(&data, address, size);
  length = static_cast<socklen_t>(size);
}

namespace {

void AppendResults(const addrinfo* list, std::vector<Blob128>* out) {
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    Blob128 blob;
    blob.Assign(ai->ai_addr, ai->ai_addrlen);
    out->push_back(blob);
  }
}

Status Lookup(const std::string& host, std::uint16_t port, int flags, std::vector<Blob128>* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags | AI_NUMERICSERV;
  const std::string service = std::to_string(port);
  addrinfo* list = nullptr;
  errno = 0;
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) return platform::ResolverErrorToStatus(rc, errno);
  AppendResults(list, out);
  freeaddrinfo(list);
  return out->empty() ? platform::kWsaNoData : kOk;
}

}  // namespace

Status SystemNameLookup(const std::string& host, std::uint16_t port, std::vector<Blob128>* out) {
  out->clear();
  return Lookup(host, port, 0, out);
}

std::string StripAddressBrackets(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

bool IsAddressLiteral(const std::string& host) {
  const std::string bare = StripAddressBrackets(host);
  if (bare.empty()) return false;
  in_addr v4{};
  in6_addr v6{};
  return inet_aton(bare.c_str(), &v4) != 0 || inet_pton(AF_INET6, bare.c_str(), &v6) == 1;
}

Status ResolveHostAddress(const std::string& host, std::uint16_t port, std::vector<Blob128>* out,
                          const NameLookup& lookup) {
  if (out == nullptr) return kFailure;
  out->clear();
  const std::string bare = StripAddressBrackets(host);
  if (bare.empty() || bare.find('\0') != std::string::npos) return platform::kWsaHostNotFound;
  if (IsAddressLiteral(bare)) {
    return Lookup(bare, port, AI_NUMERICHOST, out);
  }
  if (!lookup) return platform::kWsaHostNotFound;
  Status status = lookup(bare, port, out);
  if (status == kOk && out->empty()) status = platform::kWsaNoData;
  if (status != kOk) out->clear();
  return status;
}

std::string GetLocalFqdn() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::string();
  std::string result = name;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) == 0) {
    if (list != nullptr && list->ai_canonname != nullptr && list->ai_canonname[0] != '\0') {
      result = list->ai_canonname;
    }
    freeaddrinfo(list);
  }
  return result;
}

std::string FormatAddressLiteral(const Blob128& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.Family() == AF_INET && address.length >= sizeof(sockaddr_in)) {
    const auto* sin = reinterpret_cast<const sockaddr_in*>(&address.data);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) return std::string();
    return "[" + std::string(text) + "]";
  }
  if (address.Family() == AF_INET6 && address.length >= sizeof(sockaddr_in6)) {
    const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(&address.data);
    if (IN6_IS_ADDR_V4MAPPED(&sin6->sin6_addr)) {
      if (inet_ntop(AF_INET, &sin6->sin6_addr.s6_addr[12], text, sizeof text) == nullptr) {
        return std::string();
      }
      return "[" + std::string(text) + "]";
    }
    if (inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text) == nullptr) return std::string();
    return "[IPv6:" + std::string(text) + "]";
  }
  return std::string();
}

std::string MakeEhloName(const std::string& fqdn, const Blob128& localAddress) {
  bool usable = fqdn.find('.') != std::string::npos && fqdn.front() != '.' && fqdn.back() != '.';
  for (unsigned char c : fqdn) {
    if (!(std::isalnum(c) || c == '-' || c == '.')) usable = false;
  }
  if (usable) return fqdn;
  std::string literal = FormatAddressLiteral(localAddress);
  return literal.empty() ? "[127.0.0.1]" : literal;
}

void IgnoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

// ---------------------------------------------------------------------------------------
// Sending in pieces

Status SendAll(ISocketStream& stream, const void* data, std::size_t size, std::size_t* sent) {
  if (sent != nullptr) *sent = 0;
  if (data == nullptr || size == 0) return kOk;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    std::size_t piece = 0;
    Status status = stream.Send(bytes + done, std::min(size - done, kSendChunk), &piece);
    if (status != kOk) return status;
    if (piece == 0) return kFailure;  // a stream that takes nothing would loop for ever
    done += piece;
    if (sent != nullptr) *sent = done;
  }
  return kOk;
}

Status KivSocketExStreamOut::Write(const void* data, std::uint64_t size, std::uint64_t* written) {
  if (written != nullptr) *written = 0;
  if (size == 0) return kOk;
  if (data == nullptr || stream_ == nullptr) return kFailure;
  std::size_t sent = 0;
  Status status = SendAll(*stream_, data, static_cast<std::size_t>(size), &sent);
  if (written != nullptr) *written = sent;
  return status;
}

// ---------------------------------------------------------------------------------------
// KivSocket

KivSocket::~KivSocket() { Reset(); }

Status KivSocket::Init(const CancelEvent* cancel, std::uint32_t timeoutMs,
                       std::uint32_t deadlineMs) {
  Reset();
  if (cancel == nullptr || cancel->Fd() < 0) return kFailure;
  cancel_ = cancel;
  timeoutMs_ = timeoutMs;
  if (deadlineMs != kInfinite) {
    deadline_ = Clock::now() + std::chrono::milliseconds(deadlineMs);
  }
  return kOk;
}

Status KivSocket::Create(int family) {
  if (!IsInitialised()) return kFailure;
  Close();
  int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return platform::ErrnoToStatus(errno);
  fd_ = fd;
  return kOk;
}

Status KivSocket::Connect(const Blob128& address) {
  if (!IsInitialised() || fd_ < 0 || address.length == 0) return kFailure;
  if (Status abort = CheckAbort(); abort != kOk) return abort;
  if (connect(fd_, address.Address(), address.length) == 0) return kOk;
  if (errno != EINPROGRESS && errno != EINTR) return platform::ErrnoToStatus(errno);
  // The connection completes in the background; a connect interrupted by a signal does too.
  Status status = WaitFor(POLLOUT);
  if (status != kOk) return status;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    return platform::ErrnoToStatus(errno);
  }
  if (error == 0) return kOk;
  Status mapped = platform::ErrnoToStatus(error);
  return mapped == kOk ? kFailure : mapped;
}

Status KivSocket::ConnectAny(const std::vector<Blob128>& addresses) {
  if (!IsInitialised() || addresses.empty()) return kFailure;
  Status first = kOk;
  for (const Blob128& address : addresses) {
    Status status = Create(address.Family());
    if (status == kOk) status = Connect(address);
    if (status == kOk) return kOk;
    if (first == kOk) first = status;
    Close();
    // Cancel and the overall deadline end the attempts; a refusal or a time-out of one
    // address moves on to the next.
    if (status == kCancelled || CheckAbort() != kOk) break;
  }
  return first;
}

Status KivSocket::Send(const void* data, std::size_t size, std::size_t* sent) {
  if (sent != nullptr) *sent = 0;
  if (!IsInitialised() || data == nullptr || fd_ < 0) return kFailure;
  if (size == 0) return kOk;
  for (;;) {
    if (Status abort = CheckAbort(); abort != kOk) return abort;
    ssize_t n = send(fd_, data, std::min(size, kSendChunk), MSG_NOSIGNAL);
    if (n >= 0) {
      if (sent != nullptr) *sent = static_cast<std::size_t>(n);
      return kOk;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return platform::ErrnoToStatus(errno);
    if (Status status = WaitFor(POLLOUT); status != kOk) return status;
  }
}

Status KivSocket::Receive(void* buffer, std::size_t size, std::size_t* received) {
  if (received != nullptr) *received = 0;
  if (!IsInitialised() || buffer == nullptr || fd_ < 0) return kFailure;
  if (size == 0) return kOk;
  for (;;) {
    if (Status abort = CheckAbort(); abort != kOk) return abort;
    ssize_t n = recv(fd_, buffer, size, 0);
    if (n >= 0) {
      if (received != nullptr) *received = static_cast<std::size_t>(n);
      return kOk;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return platform::ErrnoToStatus(errno);
    if (Status status = WaitFor(POLLIN); status != kOk) return status;
  }
}

std::optional<int> KivSocket::NextWaitMs() const {
  long long limit = timeoutMs_ == kInfinite ? -1 : static_cast<long long>(timeoutMs_);
  if (deadline_) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    // Round up so that a wait does not end a fraction of a millisecond early.
    long long leftMs = left.count() + 1;
    limit = limit < 0 ? leftMs : std::min(limit, leftMs);
  }
  return static_cast<int>(std::min<long long>(limit, INT_MAX));
}

Status KivSocket::CheckAbort() const {
  if (!IsInitialised()) return kFailure;
  if (cancel_->IsSignalled()) return kCancelled;
  if (deadline_ && Clock::now() >= *deadline_) return kWaitTimeout;
  return kOk;
}

Status KivSocket::WaitFor(short events) {
  if (!IsInitialised() || fd_ < 0) return kFailure;
  // Each wait has its own limit; an interrupted poll goes on with the time that is left.
  const Clock::time_point start = Clock::now();
  for (;;) {
    std::optional<int> limit = NextWaitMs();
    if (!limit) return kWaitTimeout;
    int waitMs = *limit;
    if (waitMs >= 0 && timeoutMs_ != kInfinite) {
      auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      waitMs = std::max<long long>(0, std::min<long long>(waitMs, timeoutMs_ - spent));
    }
    pollfd fds[2] = {{cancel_->Fd(), POLLIN, 0}, {fd_, events, 0}};
    int rc = poll(fds, 2, waitMs);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (fds[0].revents & POLLIN) return kCancelled;
    if (fds[1].revents & POLLNVAL) return kWaitFailed;
    if (fds[1].revents & (events | POLLERR | POLLHUP)) return kOk;
    if (rc == 0) return kWaitTimeout;
  }
}

Status KivSocket::GetLocalAddress(Blob128* address) const {
  if (address == nullptr || fd_ < 0) return kFailure;
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return platform::ErrnoToStatus(errno);
  }
  address->Assign(&local, length);
  return kOk;
}

Status KivSocket::Close() {
  if (!IsInitialised()) return kFailure;
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  return kOk;
}

void KivSocket::Reset() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  cancel_ = nullptr;
  timeoutMs_ = 0;
  deadline_.reset();
}

}  // namespace mail
