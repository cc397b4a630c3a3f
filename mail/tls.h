// TLS as a client over a connected KivSocket (after STARTTLS): TLS 1.2 or later, the
// server's certificate verified against the system's authorities (or a given bundle) and
// against the host name or address we connected to. Every wait goes through the socket, so
// its time-out, deadline and cancel event hold here too. Used by one thread.
#pragma once

#include <string>

#include "mail/socket.h"

typedef struct ssl_st SSL;

namespace mail {

class TlsStream : public ISocketStream {
 public:
  explicit TlsStream(KivSocket* socket);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Runs the handshake for host (a name, or an address with or without brackets).
  // caFile names a PEM bundle to trust instead of the system's authorities; empty for
  // the system's. Failures: kTlsUntrusted, kTlsWrongHost, kTlsCertExpired,
  // kTlsHandshakeFailed, or the socket's status (258, cancel, a reset).
  Status Handshake(const std::string& host, const std::string& caFile = std::string());

  Status Send(const void* data, std::size_t size, std::size_t* sent) override;
  Status Receive(void* buffer, std::size_t size, std::size_t* received) override;

  // What the TLS library said about the last failure, for logs and tests.
  const std::string& LastError() const { return lastError_; }

 private:
  // Turns an SSL_get_error result into a wait (0 to try again) or a final status.
  Status HandleError(int result, int sslError);
  void Free();

  KivSocket* socket_;
  SSL* ssl_ = nullptr;
  bool ready_ = false;
  std::string lastError_;
};

}  // namespace mail
