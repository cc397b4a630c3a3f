// The socket layer against listeners on loopback: arguments, connect, receive and send
// outcomes, time-outs, name resolution through a seam, and the EHLO name. (The overall
// deadline and cancel are checked through the SMTP client.)
#include "mail/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace mail {
namespace {

using namespace std::chrono_literals;
using platform::kFailure;
using platform::kOk;
using platform::kWaitTimeout;
using testing_support::LoopbackListener;

Blob128 Loopback4(std::uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Blob128 blob;
  blob.Assign(&sin, sizeof sin);
  return blob;
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(cancel_.Create(), kOk); }

  // Connects socket_ to the listener and accepts the server side.
  int ConnectPair(LoopbackListener& listener, std::uint32_t timeoutMs = 2000,
                  std::uint32_t deadlineMs = kInfinite) {
    EXPECT_EQ(socket_.Init(&cancel_, timeoutMs, deadlineMs), kOk);
    EXPECT_EQ(socket_.Create(AF_INET), kOk);
    EXPECT_EQ(socket_.Connect(Loopback4(listener.Port())), kOk);
    return listener.Accept();
  }

  CancelEvent cancel_;
  KivSocket socket_;
};

TEST_F(SocketTest, ArgumentsAndLifecycle) {
  char buffer[8];
  std::size_t count = 99;
  // Not initialised.
  EXPECT_EQ(socket_.Send("x", 1, &count), kFailure);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, &count), kFailure);
  EXPECT_EQ(socket_.Create(AF_INET), kFailure);
  EXPECT_EQ(socket_.Init(nullptr, 100), kFailure);

  LoopbackListener listener;
  int server = ConnectPair(listener);
  ASSERT_GE(server, 0);
  EXPECT_EQ(socket_.Send(nullptr, 1, &count), kFailure);
  EXPECT_EQ(socket_.Receive(nullptr, 1, &count), kFailure);
  EXPECT_EQ(socket_.Send("x", 0, &count), kOk);
  EXPECT_EQ(socket_.Receive(buffer, 0, &count), kOk);
  EXPECT_EQ(count, 0u);
  // No child program started by an action may inherit the connection.
  EXPECT_TRUE(fcntl(socket_.Fd(), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(cancel_.Fd(), F_GETFD) & FD_CLOEXEC);

  // Close keeps the object usable for another connection.
  EXPECT_EQ(socket_.Close(), kOk);
  close(server);
  EXPECT_EQ(socket_.Create(AF_INET), kOk);
  EXPECT_EQ(socket_.Connect(Loopback4(listener.Port())), kOk);
  int second = listener.Accept();
  EXPECT_GE(second, 0);
  close(second);
}

TEST_F(SocketTest, RefusedConnectionGivesItsStatusAndNextAddressIsTried) {
  const std::uint16_t unused = testing_support::UnusedLoopbackPort();
  ASSERT_EQ(socket_.Init(&cancel_, 2000), kOk);
  EXPECT_EQ(socket_.ConnectAny({Loopback4(unused)}), platform::kWsaEconnrefused);

  LoopbackListener listener;
  EXPECT_EQ(socket_.ConnectAny({Loopback4(unused), Loopback4(listener.Port())}), kOk);
  int server = listener.Accept();
  EXPECT_GE(server, 0);
  close(server);
}

TEST_F(SocketTest, Ipv6AddressConnects) {
  std::unique_ptr<LoopbackListener> listener;
  try {
    listener = std::make_unique<LoopbackListener>(true);
  } catch (const std::exception&) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  std::vector<Blob128> addresses;
  ASSERT_EQ(ResolveHostAddress("[::1]", listener->Port(), &addresses), kOk);
  ASSERT_EQ(socket_.Init(&cancel_, 2000), kOk);
  EXPECT_EQ(socket_.ConnectAny(addresses), kOk);
  int server = listener->Accept();
  ASSERT_GE(server, 0);
  Blob128 local;
  ASSERT_EQ(socket_.GetLocalAddress(&local), kOk);
  EXPECT_EQ(MakeEhloName("", local), "[IPv6:::1]");
  close(server);
}

TEST_F(SocketTest, ReceiveOutcomes) {
  struct Case {
    const char* name;
    int serverAction;  // 0 stays silent, 1 closes, 2 resets, 3 sends "hi"
    Status status;
    std::size_t received;
  };
  const Case cases[] = {
      {"silent server times out", 0, kWaitTimeout, 0},
      {"orderly close reads 0 bytes", 1, kOk, 0},
      {"reset", 2, platform::kWsaEconnreset, 0},
      {"data", 3, kOk, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener listener;
    int server = ConnectPair(listener, 150);
    ASSERT_GE(server, 0);
    if (c.serverAction == 1) close(server);
    if (c.serverAction == 2) testing_support::CloseWithReset(server);
    if (c.serverAction == 3) testing_support::SendText(server, "hi");
    char buffer[16];
    std::size_t received = 99;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(socket_.Receive(buffer, sizeof buffer, &received), c.status);
    EXPECT_EQ(received, c.received);
    if (c.status == kWaitTimeout) {
      EXPECT_GE(std::chrono::steady_clock::now() - start, 140ms);
    }
    if (c.serverAction == 0 || c.serverAction == 3) close(server);
    socket_.Reset();
  }
}

// Counts the pieces that reach the socket.
class CountingStream : public ISocketStream {
 public:
  explicit CountingStream(ISocketStream* inner) : inner_(inner) {}
  Status Send(const void* data, std::size_t size, std::size_t* sent) override {
    ++calls;
    largest = std::max(largest, size);
    return inner_->Send(data, size, sent);
  }
  Status Receive(void* buffer, std::size_t size, std::size_t* received) override {
    return inner_->Receive(buffer, size, received);
  }
  int calls = 0;
  std::size_t largest = 0;

 private:
  ISocketStream* inner_;
};

TEST_F(SocketTest, SendAllSendsEverythingInBoundedPieces) {
  LoopbackListener listener;
  int server = ConnectPair(listener);
  ASSERT_GE(server, 0);
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(50ms);  // let the sender fill the buffers first
    received = testing_support::ReadUntilClosed(server);
  });
  std::string data(100000, 'x');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  CountingStream counting(&socket_);
  std::size_t sent = 0;
  EXPECT_EQ(SendAll(counting, data.data(), data.size(), &sent), kOk);
  EXPECT_EQ(sent, data.size());
  EXPECT_GE(counting.calls, 4);
  EXPECT_LE(counting.largest, kSendChunk);
  socket_.Close();
  reader.join();
  close(server);
  EXPECT_EQ(received, data);
}

TEST_F(SocketTest, PeerClosingDuringSendIsAnErrorNotASignal) {
  // SIGPIPE is deliberately left at its default here: the send itself must not raise it.
  LoopbackListener listener;
  int server = ConnectPair(listener);
  ASSERT_GE(server, 0);
  testing_support::CloseWithReset(server);
  std::this_thread::sleep_for(20ms);
  std::string data(1 << 20, 'x');
  Status status = kOk;
  for (int i = 0; i < 4 && status == kOk; ++i) {
    status = socket_.SendAll(data.data(), data.size());
  }
  EXPECT_NE(status, kOk);
  EXPECT_NE(status, kFailure);
}

TEST(ResolveTest, AddressesNeverReachTheLookupAndNamesDo) {
  int calls = 0;
  NameLookup lookup = [&](const std::string& host, std::uint16_t port,
                          std::vector<Blob128>* out) -> Status {
    ++calls;
    if (host == "unknown.invalid") return platform::kWsaHostNotFound;
    if (host == "empty.invalid") return kOk;  // a lookup that finds nothing
    out->push_back(Loopback4(port));
    return kOk;
  };
  struct Case {
    const char* host;
    Status status;
    int family;
    int lookups;
  };
  const Case cases[] = {
      {"127.0.0.1", kOk, AF_INET, 0},
      {"127.1", kOk, AF_INET, 0},  // inet_aton forms, as the address parser always took
      {"::1", kOk, AF_INET6, 0},
      {"[::1]", kOk, AF_INET6, 0},
      {"mail.example.test", kOk, AF_INET, 1},
      {"unknown.invalid", platform::kWsaHostNotFound, AF_UNSPEC, 1},
      {"empty.invalid", platform::kWsaNoData, AF_UNSPEC, 1},
      {"", platform::kWsaHostNotFound, AF_UNSPEC, 0},
      {"[]", platform::kWsaHostNotFound, AF_UNSPEC, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    calls = 0;
    std::vector<Blob128> out;
    EXPECT_EQ(ResolveHostAddress(c.host, 2525, &out, lookup), c.status);
    EXPECT_EQ(calls, c.lookups);
    if (c.status == kOk) {
      ASSERT_FALSE(out.empty());
      EXPECT_EQ(out[0].Family(), c.family);
      EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in*>(&out[0].data)->sin_port), 2525);
    } else {
      EXPECT_TRUE(out.empty());
    }
  }
  // localhost comes from the hosts file, never from a name server.
  std::vector<Blob128> out;
  EXPECT_EQ(ResolveHostAddress("localhost", 25, &out), kOk);
  EXPECT_FALSE(out.empty());
}

TEST(EhloNameTest, NeverEmpty) {
  Blob128 v4 = Loopback4(25);
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_addr = in6addr_loopback;
  Blob128 v6;
  v6.Assign(&sin6, sizeof sin6);
  struct Case {
    std::string fqdn;
    const Blob128* local;
    std::string expected;
  };
  const Blob128 none;
  const Case cases[] = {
      {"mail.example.org", &v4, "mail.example.org"},
      {"", &v4, "[127.0.0.1]"},
      {"vm", &v4, "[127.0.0.1]"},
      {"vm", &v6, "[IPv6:::1]"},
      {"bad name.example", &v4, "[127.0.0.1]"},
      {"", &none, "[127.0.0.1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fqdn);
    EXPECT_EQ(MakeEhloName(c.fqdn, *c.local), c.expected);
  }
}

}  // namespace
}  // namespace mail
