// The socket layer of the mail code: a TCP client connection that behaves like a blocking
// one but is built on a non-blocking socket, where every wait is bounded by a per-wait
// time-out and an optional overall deadline and is broken off by a cancel event. Also name
// resolution (IPv4 and IPv6, every address), the local host name for EHLO, and the output
// stream that sends over a connection. A KivSocket is used by one thread; only its cancel
// event may be signalled from another.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mail/stream.h"
#include "platform/status.h"

namespace mail {

// The status of a wait ended through the cancel event ("a blocking operation was
// interrupted").
inline constexpr Status kCancelled = platform::kWsaEintr;

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Bytes are sent in pieces of at most this size.
inline constexpr std::size_t kSendChunk = 32768;

// An event that another thread signals to end the waits of a connection (an eventfd).
// It stays signalled until Reset.
class CancelEvent {
 public:
  CancelEvent() = default;
  ~CancelEvent();
  CancelEvent(const CancelEvent&) = delete;
  CancelEvent& operator=(const CancelEvent&) = delete;

  Status Create();
  Status Signal();  // any thread
  void Reset();
  bool IsSignalled() const;
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A socket address: up to 128 bytes and their length (0 when empty).
struct Blob128 {
  sockaddr_storage data{};
  socklen_t length = 0;

  void Assign(const void* address, std::size_t size);
  int Family() const { return length == 0 ? AF_UNSPEC : data.ss_family; }
  const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&data); }
};

// Looks a host name up and gives its addresses in the resolver's order, each with the
// port set. Returns 0 or a resolver status (11001 and so on), never 0 with no address.
using NameLookup =
    std::function<Status(const std::string& host, std::uint16_t port, std::vector<Blob128>*)>;

// The system's lookup (getaddrinfo, IPv4 and IPv6, thread-safe).
Status SystemNameLookup(const std::string& host, std::uint16_t port, std::vector<Blob128>* out);

// Resolves a server name: an IPv4 address (inet_aton forms) or an IPv6 address, bare or in
// brackets, is used as it stands and never reaches the lookup; anything else goes through
// the lookup. An empty name gives 11001.
Status ResolveHostAddress(const std::string& host, std::uint16_t port, std::vector<Blob128>* out,
                          const NameLookup& lookup = SystemNameLookup);

// The host name without brackets around an IPv6 address.
std::string StripAddressBrackets(const std::string& host);

// True when the text is an IPv4 or IPv6 address rather than a name.
bool IsAddressLiteral(const std::string& host);

// The local computer's fully qualified name: the canonical name of the host name when it
// resolves, else the host name itself; empty on failure.
std::string GetLocalFqdn();

// The address literal of a socket address: "[127.0.0.1]" or "[IPv6:::1]"; empty when the
// address is neither.
std::string FormatAddressLiteral(const Blob128& address);

// The name to give in EHLO: the fully qualified name when it has a dot in it, else the
// address literal of the local end of the connection, else "[127.0.0.1]". Never empty.
std::string MakeEhloName(const std::string& fqdn, const Blob128& localAddress);

// Ignores SIGPIPE for the whole process (once), so that a peer that closes while we write
// (our sends, or the TLS library's) gives an error status instead of ending the program.
void IgnoreSigpipe();

// A two-way byte stream over a connection.
class ISocketStream {
 public:
  virtual ~ISocketStream() = default;
  // Sends up to size bytes; *sent receives what went out (it may be less).
  virtual Status Send(const void* data, std::size_t size, std::size_t* sent) = 0;
  // Receives up to size bytes; 0 bytes received with status 0 means the peer closed.
  virtual Status Receive(void* buffer, std::size_t size, std::size_t* received) = 0;
};

// Sends all bytes in pieces of at most kSendChunk; *sent (optional) receives the total.
Status SendAll(ISocketStream& stream, const void* data, std::size_t size,
               std::size_t* sent = nullptr);

class KivSocket : public ISocketStream {
 public:
  KivSocket() = default;
  ~KivSocket() override;
  KivSocket(const KivSocket&) = delete;
  KivSocket& operator=(const KivSocket&) = delete;

  // Makes the object usable. cancel must stay valid until Reset; a null one gives 1.
  // timeoutMs limits every single wait; deadlineMs, counted from now, limits all waits
  // together (kInfinite for neither). Both expire with 258.
  Status Init(const CancelEvent* cancel, std::uint32_t timeoutMs,
              std::uint32_t deadlineMs = kInfinite);
  // A new non-blocking, close-on-exec stream socket of that family; closes the old one.
  Status Create(int family);
  // Connects the socket made by Create; a refusal gives its status (10061), not 258.
  Status Connect(const Blob128& address);
  // Tries each address in turn with a socket of its family; the first that connects wins.
  // When all fail, the first failure's status is returned.
  Status ConnectAny(const std::vector<Blob128>& addresses);

  Status Send(const void* data, std::size_t size, std::size_t* sent) override;
  Status Receive(void* buffer, std::size_t size, std::size_t* received) override;
  Status SendAll(const void* data, std::size_t size, std::size_t* sent = nullptr) {
    return mail::SendAll(*this, data, size, sent);
  }

  // Waits until the socket is ready for the poll events asked for (POLLIN, POLLOUT), has
  // an error or was hung up. 258 on a time-out or past the deadline, kCancelled when the
  // cancel event is signalled, 0xFFFFFFFF when the wait itself fails.
  Status WaitFor(short events);
  // 0 while neither cancelled nor past the deadline, else the status that ends the wait.
  Status CheckAbort() const;

  // The address of the local end of the connection.
  Status GetLocalAddress(Blob128* address) const;
  int Fd() const { return fd_; }
  bool IsInitialised() const { return cancel_ != nullptr; }

  // Closes the socket (no shutdown); the object stays initialised.
  Status Close();
  // Closes the socket and makes the object uninitialised.
  void Reset();

 private:
  using Clock = std::chrono::steady_clock;

  // Milliseconds the next wait may last, -1 for no limit; nullopt when the deadline is
  // past.
  std::optional<int> NextWaitMs() const;

  const CancelEvent* cancel_ = nullptr;
  int fd_ = -1;
  std::uint32_t timeoutMs_ = 0;
  std::optional<Clock::time_point> deadline_;
};

// The output stream that sends what is written to it over a connection (plain or TLS).
class KivSocketExStreamOut : public ISerialStream64Out {
 public:
  explicit KivSocketExStreamOut(ISocketStream* stream) : stream_(stream) {}
  void SetStream(ISocketStream* stream) { stream_ = stream; }
  Status Write(const void* data, std::uint64_t size, std::uint64_t* written = nullptr) override;

 private:
  ISocketStream* stream_;
};

}  // namespace mail
