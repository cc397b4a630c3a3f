#include "tests/support/smtp_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

const char* const kPython = "/usr/bin/python3";

// Runs a program with arguments and waits for it; true when it exited with 0.
bool Run(const std::vector<std::string>& argv, const std::string& logFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

const std::string& ReceivedMessage::operator[](const std::string& name) const {
  static const std::string empty;
  auto it = fields.find(name);
  return it == fields.end() ? empty : it->second;
}

bool SmtpTestServer::MakeCertificates() {
  const std::string log = dir_.File("openssl.log");
  auto ca = [&](const std::string& name, const std::string& subject) {
    return Run({"openssl",
                "req",
                "-x509",
                "-newkey",
                "ec",
                "-pkeyopt",
                "ec_paramgen_curve:prime256v1",
                "-nodes",
                "-keyout",
                dir_.File(name + ".key"),
                "-out",
                dir_.File(name + ".pem"),
                "-days",
                "2",
                "-subj",
                subject,
                "-addext",
                "basicConstraints=critical,CA:TRUE",
                "-addext",
                "keyUsage=critical,keyCertSign,cRLSign"},
               log);
  };
  {
    std::ofstream ext(dir_.File("server.ext"));
    ext << "basicConstraints=CA:FALSE\n"
           "keyUsage=critical,digitalSignature,keyEncipherment\n"
           "extendedKeyUsage=serverAuth\n"
           "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
  }
  return ca("ca", "/CN=Lumivar Test CA") && ca("other-ca", "/CN=Lumivar Other CA") &&
         Run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
              "-nodes", "-keyout", dir_.File("server.key"), "-out", dir_.File("server.csr"),
              "-subj", "/CN=localhost"},
             log) &&
         Run({"openssl", "x509", "-req", "-in", dir_.File("server.csr"), "-CA", dir_.File("ca.pem"),
              "-CAkey", dir_.File("ca.key"), "-CAcreateserial", "-out", dir_.File("server.pem"),
              "-days", "2", "-extfile", dir_.File("server.ext")},
             log);
}

SmtpTestServer::SmtpTestServer(const Options& options) {
  const std::string script = std::string(LUMIVAR_SOURCE_DIR) + "/tests/support/smtp_server.py";
  const std::string outDir = dir_.File("messages");
  const std::string portFile = dir_.File("port");
  std::filesystem::create_directory(outDir);
  if (access(kPython, X_OK) != 0) {
    error_ = "no /usr/bin/python3";
    return;
  }
  std::vector<std::string> argv = {kPython,      script,          "--port-file", portFile,
                                   "--out-dir",  outDir,          "--user",      options.user,
                                   "--password", options.password};
  for (const std::string& mechanism : options.excludedMechanisms) {
    argv.insert(argv.end(), {"--exclude", mechanism});
  }
  if (options.tls) {
    if (!MakeCertificates()) {
      error_ =
          "openssl could not make the test certificates: " + ReadFile(dir_.File("openssl.log"));
      return;
    }
    argv.insert(argv.end(), {"--cert", dir_.File("server.pem"), "--key", dir_.File("server.key")});
  }

  // A clean environment, so that no other Python installation's settings reach the
  // system interpreter.
  const std::string home = "HOME=" + dir_.Path();
  std::vector<char*> env = {const_cast<char*>("PATH=/usr/bin:/bin"),
                            const_cast<char*>("LANG=C.UTF-8"), const_cast<char*>(home.c_str()),
                            nullptr};
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string log = dir_.File("server.log");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  int rc = posix_spawn(&pid_, kPython, &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start /usr/bin/python3";
    return;
  }

  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    std::string port = ReadFile(portFile);
    if (!port.empty()) {
      port_ = static_cast<std::uint16_t>(std::stoi(port));
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "the SMTP test server ended: " + ReadFile(log);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error_ = "the SMTP test server did not start: " + ReadFile(log);
}

SmtpTestServer::~SmtpTestServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<ReceivedMessage> SmtpTestServer::Messages() const {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("messages"))) {
    if (entry.path().extension() == ".msg") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<ReceivedMessage> messages;
  for (const std::string& file : files) {
    const std::string data = ReadFile(file);
    ReceivedMessage message;
    std::size_t pos = 0;
    while (pos < data.size()) {
      std::size_t eol = data.find('\n', pos);
      if (eol == std::string::npos) break;
      std::string head = data.substr(pos, eol - pos);
      std::size_t blank = head.rfind(' ');
      if (blank == std::string::npos) break;
      std::size_t length = std::stoul(head.substr(blank + 1));
      message.fields[head.substr(0, blank)] = data.substr(eol + 1, length);
      pos = eol + 1 + length + 1;
    }
    messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace testing_support
