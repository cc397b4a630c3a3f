// A real SMTP server for the mail tests: tests/support/smtp_server.py (aiosmtpd) run under
// the system's /usr/bin/python3 on a free port of 127.0.0.1, inside a temporary folder,
// stopped when the object goes. It knows one account, "tim" with password "tanstaaftanstaaf",
// and offers AUTH PLAIN and CRAM-MD5 on plain connections and, with TLS on, STARTTLS with a
// server certificate for localhost and 127.0.0.1 issued by a test authority made with the
// openssl tool. Each accepted message is parsed back by
// Python's email package; Messages() gives the fields it found.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testing_support {

struct ReceivedMessage {
  std::map<std::string, std::string> fields;  // see smtp_server.py for the names
  const std::string& operator[](const std::string& name) const;
};

class SmtpTestServer {
 public:
  struct Options {
    bool tls = false;
    std::vector<std::string> excludedMechanisms;  // AUTH mechanisms not offered
  };

  SmtpTestServer() : SmtpTestServer(Options()) {}
  explicit SmtpTestServer(const Options& options);
  ~SmtpTestServer();
  SmtpTestServer(const SmtpTestServer&) = delete;
  SmtpTestServer& operator=(const SmtpTestServer&) = delete;

  // Empty when the server runs; else why it does not.
  const std::string& Error() const { return error_; }
  std::uint16_t Port() const { return port_; }
  // The test authority that issued the server certificate, and one that did not.
  std::string CaFile() const { return dir_.File("ca.pem"); }
  std::string OtherCaFile() const { return dir_.File("other-ca.pem"); }

  // The messages accepted so far, in order.
  std::vector<ReceivedMessage> Messages() const;
  // The verbs each connection so far sent, one text per connection in order, e.g.
  // "EHLO STARTTLS"; a verb is there before the server answers it.
  std::vector<std::string> Sessions() const;

 private:
  bool MakeCertificates();
  // The files of the messages folder with that extension (".msg"), sorted.
  std::vector<std::string> Files(const std::string& extension) const;

  TempDir dir_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::string error_;
};

}  // namespace testing_support
