#include "mail/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace mail {

using platform::kFailure;
using platform::kOk;

namespace {

std::string OpenSslErrorText() {
  unsigned long code = ERR_peek_last_error();
  if (code == 0) return std::string();
  char text[256] = {};
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

Status VerifyResultToStatus(long result) {
  switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_EMAIL_MISMATCH:
      return platform::kTlsWrongHost;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return platform::kTlsCertExpired;
    default:
      return platform::kTlsUntrusted;
  }
}

// The address in the form the certificate check compares ("127.1" becomes "127.0.0.1").
std::string CanonicalAddress(const std::string& bare) {
  in_addr v4{};
  in6_addr v6{};
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) {
    inet_ntop(AF_INET6, &v6, text, sizeof text);
    return text;
  }
  if (inet_aton(bare.c_str(), &v4) != 0) {
    inet_ntop(AF_INET, &v4, text, sizeof text);
    return text;
  }
  return bare;
}

}  // namespace

TlsStream::TlsStream(KivSocket* socket) : socket_(socket) {}

TlsStream::~TlsStream() { Free(); }

void TlsStream::Free() {
  if (ssl_ != nullptr) {
    if (ready_) {
      // One close_notify without waiting for the peer's; the socket closes right after.
      ERR_clear_error();
      SSL_shutdown(ssl_);
    }
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  ready_ = false;
  ERR_clear_error();
}

Status TlsStream::Handshake(const std::string& host, const std::string& caFile) {
  Free();
  lastError_.clear();
  if (socket_ == nullptr || socket_->Fd() < 0) return kFailure;
  IgnoreSigpipe();  // the library writes to the socket without MSG_NOSIGNAL
  ERR_clear_error();

  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) {
    lastError_ = OpenSslErrorText();
    return kFailure;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // SMTP replies delimit themselves; a peer that drops the connection without close_notify
  // reads as closed.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  int loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx)
                              : SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr);
  if (loaded != 1) {
    lastError_ = "cannot load the trusted certificates: " + OpenSslErrorText();
    SSL_CTX_free(ctx);
    return kFailure;
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  ssl_ = SSL_new(ctx);
  SSL_CTX_free(ctx);  // the connection keeps its own reference
  if (ssl_ == nullptr || SSL_set_fd(ssl_, socket_->Fd()) != 1) {
    lastError_ = OpenSslErrorText();
    Free();
    return kFailure;
  }

  const std::string bare = StripAddressBrackets(host);
  bool named;
  if (IsAddressLiteral(bare)) {
    named =
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), CanonicalAddress(bare).c_str()) == 1;
  } else {
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named =
        SSL_set_tlsext_host_name(ssl_, bare.c_str()) == 1 && SSL_set1_host(ssl_, bare.c_str()) == 1;
  }
  if (!named) {
    lastError_ = "cannot set the host name to verify";
    Free();
    return kFailure;
  }

  for (;;) {
    ERR_clear_error();
    int rc = SSL_connect(ssl_);
    if (rc == 1) {
      ready_ = true;
      return kOk;
    }
    int sslError = SSL_get_error(ssl_, rc);
    long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      lastError_ = X509_verify_cert_error_string(verify);
      Free();
      return VerifyResultToStatus(verify);
    }
    Status status = HandleError(rc, sslError);
    if (status != kOk) {
      Free();
      return status;
    }
  }
}

Status TlsStream::HandleError(int result, int sslError) {
  (void)result;
  switch (sslError) {
    case SSL_ERROR_WANT_READ:
      return socket_->WaitFor(POLLIN);
    case SSL_ERROR_WANT_WRITE:
      return socket_->WaitFor(POLLOUT);
    case SSL_ERROR_SYSCALL: {
      int err = errno;
      lastError_ = OpenSslErrorText();
      ready_ = false;  // no shutdown after a fatal error
      if (lastError_.empty() && err != 0) {
        Status mapped = platform::ErrnoToStatus(err);
        if (mapped != kOk && mapped != kFailure) return mapped;
      }
      if (lastError_.empty()) lastError_ = "the connection broke off during TLS";
      return platform::kTlsHandshakeFailed;
    }
    case SSL_ERROR_ZERO_RETURN:
      lastError_ = "the peer closed the TLS connection";
      return platform::kTlsHandshakeFailed;
    default:
      lastError_ = OpenSslErrorText();
      if (lastError_.empty()) lastError_ = "TLS failure";
      ready_ = false;
      return platform::kTlsHandshakeFailed;
  }
}

Status TlsStream::Send(const void* data, std::size_t size, std::size_t* sent) {
  if (sent != nullptr) *sent = 0;
  if (!ready_ || data == nullptr) return kFailure;
  if (size == 0) return kOk;
  for (;;) {
    if (Status abort = socket_->CheckAbort(); abort != kOk) return abort;
    ERR_clear_error();
    std::size_t n = 0;
    int rc = SSL_write_ex(ssl_, data, std::min(size, kSendChunk), &n);
    if (rc == 1) {
      if (sent != nullptr) *sent = n;
      return kOk;
    }
    Status status = HandleError(rc, SSL_get_error(ssl_, rc));
    if (status != kOk) return status;
  }
}

Status TlsStream::Receive(void* buffer, std::size_t size, std::size_t* received) {
  if (received != nullptr) *received = 0;
  if (!ready_ || buffer == nullptr) return kFailure;
  if (size == 0) return kOk;
  for (;;) {
    if (Status abort = socket_->CheckAbort(); abort != kOk) return abort;
    ERR_clear_error();
    std::size_t n = 0;
    int rc = SSL_read_ex(ssl_, buffer, size, &n);
    if (rc == 1) {
      if (received != nullptr) *received = n;
      return kOk;
    }
    int sslError = SSL_get_error(ssl_, rc);
    if (sslError == SSL_ERROR_ZERO_RETURN) return kOk;  // closed: 0 bytes
    Status status = HandleError(rc, sslError);
    if (status != kOk) return status;
  }
}

}  // namespace mail
