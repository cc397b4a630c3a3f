#include "tests/support/smtp_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

const char* const kPython = "/usr/bin/python3";

// Starts argv[0] with its output appended to logFile; -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile, char** env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
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
  std::ofstream(dir_.File("server.ext")) << "basicConstraints=CA:FALSE\n"
                                            "keyUsage=critical,digitalSignature,keyEncipherment\n"
                                            "extendedKeyUsage=serverAuth\n"
                                            "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
  // Each command is written as words; a word "@name" is that file of the folder.
  const std::string newKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ";
  const std::string ca =
      "req -x509 -days 2 -addext basicConstraints=critical,CA:TRUE -addext "
      "keyUsage=critical,keyCertSign,cRLSign" +
      newKey;
  for (const std::string& command :
       {ca + "@ca.key -out @ca.pem -subj /CN=Lumivar-Test-CA",
        ca + "@other-ca.key -out @other-ca.pem -subj /CN=Lumivar-Other-CA",
        "req -new" + newKey + "@server.key -out @server.csr -subj /CN=localhost",
        std::string("x509 -req -in @server.csr -CA @ca.pem -CAkey @ca.key -CAcreateserial ") +
            "-out @server.pem -days 2 -extfile @server.ext"}) {
    std::vector<std::string> argv = {"openssl"};
    std::istringstream words(command);
    for (std::string word; words >> word;) {
      argv.push_back(word[0] == '@' ? dir_.File(word.substr(1)) : word);
    }
    const pid_t pid = Spawn(argv, dir_.File("openssl.log"), environ);
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  }
  return true;
}

SmtpTestServer::SmtpTestServer(const Options& options) {
  const std::string portFile = dir_.File("port");
  const std::string log = dir_.File("server.log");
  std::filesystem::create_directory(dir_.File("messages"));
  std::vector<std::string> argv = {
      kPython,       LUMIVAR_SOURCE_DIR "/tests/support/smtp_server.py",
      "--port-file", portFile,
      "--out-dir",   dir_.File("messages")};
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
  std::string home = "HOME=" + dir_.Path();
  char path[] = "PATH=/usr/bin:/bin", lang[] = "LANG=C.UTF-8";
  char* env[] = {path, lang, home.data(), nullptr};
  pid_ = Spawn(argv, log, env);
  if (pid_ < 0) {
    error_ = "cannot start /usr/bin/python3";
    return;
  }
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    if (std::string port = ReadFile(portFile); !port.empty()) {
      port_ = static_cast<std::uint16_t>(std::stoi(port));
      return;
    }
    if (int status = 0; waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "the SMTP test server ended: " + ReadFile(log);
      return;
    }
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

std::vector<std::string> SmtpTestServer::Files(const std::string& extension) const {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("messages"))) {
    if (entry.path().extension() == extension) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> SmtpTestServer::Sessions() const {
  std::vector<std::string> sessions;
  for (const std::string& file : Files(".session")) sessions.push_back(ReadFile(file));
  return sessions;
}

std::vector<ReceivedMessage> SmtpTestServer::Messages() const {
  std::vector<ReceivedMessage> messages;
  for (const std::string& file : Files(".msg")) {
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
