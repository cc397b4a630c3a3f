#include "tests/support/postgres_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/odbc.h"
#include "tests/support/loopback.h"
#include "tests/support/odbc_fixture.h"

extern char** environ;

namespace testing_support {

namespace {

constexpr const char* kBinDir = "/usr/lib/postgresql/15/bin/";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string RunuserPath() {
  for (const char* path : {"/usr/sbin/runuser", "/sbin/runuser"}) {
    if (access(path, X_OK) == 0) return path;
  }
  throw std::runtime_error("runuser not found");
}

// Runs a program without a shell, its output appended to outputFile; returns its exit
// status (-1 when it did not exit normally).
int RunProgram(std::vector<std::string> argv, bool asPostgresUser, const std::string& outputFile) {
  if (asPostgresUser) {
    argv.insert(argv.begin(), {RunuserPath(), "-u", "postgres", "--"});
  }
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  int err = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(err));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The postgres user's ids, for a folder it must own.
void GiveToPostgresUser(const std::string& path) {
  passwd* user = getpwnam("postgres");
  if (user == nullptr) throw std::runtime_error("running as root, but there is no postgres user");
  if (chown(path.c_str(), user->pw_uid, user->pw_gid) != 0) {
    throw std::runtime_error("cannot give " + path + " to the postgres user");
  }
}

// What the guard runs: it waits until its input ends. A "done" line means the server was
// stopped and its folder removed as usual; anything else (the test process ended without
// that, killed or crashed) makes it stop the server at once and remove the folder.
// Arguments: the data folder, the folder to remove, then the pg_ctl command line.
constexpr const char* kGuardScript =
    "read -r word && [ \"$word\" = done ] && exit 0\n"
    "data=$1; dir=$2; shift 2\n"
    "\"$@\" -D \"$data\" -m immediate -w -t 30 stop\n"
    "rm -rf -- \"$dir\"\n";

}  // namespace

PostgresServer::PostgresServer() {
  asPostgresUser_ = geteuid() == 0;
  dataDir_ = dir_.File("data");
  socketDir_ = dir_.File("socket");
  StartGuard();
  try {
    Create();
  } catch (...) {
    // pg_ctl may have given up waiting on a server that still came up.
    StopNow();
    DisarmGuard();
    throw;
  }
}

void PostgresServer::StartGuard() {
  std::vector<std::string> argv = {"/usr/bin/setsid", "-f",     "/bin/sh",  "-c", kGuardScript,
                                   "postgres-guard",  dataDir_, dir_.Path()};
  if (asPostgresUser_) {
    argv.insert(argv.end(), {RunuserPath(), "-u", "postgres", "--"});
  }
  argv.push_back(std::string(kBinDir) + "pg_ctl");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  int err = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[0]);
  if (err != 0) {
    close(fds[1]);
    throw std::runtime_error(std::string("cannot start the server's guard: ") + strerror(err));
  }
  // setsid -f leaves the guard running on its own (outside this process's tree and
  // session, so that whatever kills the test leaves it) and exits at once.
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  guardFd_ = fds[1];
}

void PostgresServer::DisarmGuard() {
  if (guardFd_ < 0) return;
  if (write(guardFd_, "done\n", 5) != 5) {
    // The guard then stops a server that is down already and removes the folder itself.
  }
  close(guardFd_);
  guardFd_ = -1;
}

void PostgresServer::StopNow() {
  RunProgram({std::string(kBinDir) + "pg_ctl", "-D", dataDir_, "-m", "immediate", "-w", "-t", "30",
              "stop"},
             asPostgresUser_, dir_.File("tools.log"));
  running_ = false;
}

void PostgresServer::Create() {
  std::filesystem::create_directory(socketDir_);
  std::string passwordFile = dir_.File("password");
  WriteFile(passwordFile, std::string(kPassword) + "\n");
  if (asPostgresUser_) {
    for (const std::string& path : {dir_.Path(), socketDir_, passwordFile}) {
      GiveToPostgresUser(path);
    }
  }
  std::string toolsLog = dir_.File("tools.log");
  int status =
      RunProgram({std::string(kBinDir) + "initdb", "-D", dataDir_, "-U", kUser,
                  "--pwfile=" + passwordFile, "--auth-local=trust", "--auth-host=scram-sha-256",
                  "--no-locale", "--encoding=UTF8", "--no-sync", "--no-instructions"},
                 asPostgresUser_, toolsLog);
  if (status != 0) throw std::runtime_error("initdb failed:\n" + ReadFile(toolsLog));
  std::ofstream conf(dataDir_ + "/postgresql.conf", std::ios::app);
  conf << "\ninclude = 'lumivar_test.conf'\n";
  conf.close();
  // A port picked as free may be taken before the server binds it: try a few.
  for (int attempt = 1;; ++attempt) {
    port_ = UnusedLoopbackPort();
    WriteSettings();
    try {
      StartOnce();
      return;
    } catch (const std::runtime_error&) {
      if (attempt == 3) throw;
    }
  }
}

PostgresServer::~PostgresServer() {
  if (running_) StopNow();
  DisarmGuard();
}

void PostgresServer::WriteSettings() const {
  std::ostringstream settings;
  settings << "listen_addresses = '127.0.0.1'\n"
           << "port = " << port_ << "\n"
           << "unix_socket_directories = '" << socketDir_ << "'\n"
           << "max_connections = 50\n"
           << "shared_buffers = 16MB\n"
           << "fsync = off\n"
           << "synchronous_commit = off\n"
           << "full_page_writes = off\n";
  WriteFile(dataDir_ + "/lumivar_test.conf", settings.str());
}

void PostgresServer::StartOnce() {
  std::string toolsLog = dir_.File("tools.log");
  int status = RunProgram({std::string(kBinDir) + "pg_ctl", "-D", dataDir_, "-l",
                           dir_.File("server.log"), "-w", "-t", "30", "start"},
                          asPostgresUser_, toolsLog);
  if (status != 0) {
    throw std::runtime_error("the PostgreSQL server did not start:\n" + ReadFile(toolsLog) +
                             ServerLog());
  }
  running_ = true;
}

void PostgresServer::Start() {
  if (!running_) StartOnce();
}

void PostgresServer::Stop() {
  if (!running_) return;
  std::string toolsLog = dir_.File("tools.log");
  int status = RunProgram(
      {std::string(kBinDir) + "pg_ctl", "-D", dataDir_, "-m", "fast", "-w", "-t", "30", "stop"},
      asPostgresUser_, toolsLog);
  if (status != 0) throw std::runtime_error("pg_ctl stop failed:\n" + ReadFile(toolsLog));
  running_ = false;
}

std::string PostgresServer::ConnectionString(std::string_view user,
                                             std::string_view password) const {
  return std::string("Driver=") + kPostgresDriverName +
         ";Servername=127.0.0.1;Port=" + std::to_string(port_) + ";Database=" + kDatabase +
         ";SSLmode=disable;UID=" + platform::QuoteConnectionValue(user) +
         ";PWD=" + platform::QuoteConnectionValue(password);
}

void PostgresServer::RunSql(const std::string& sql) const {
  std::string output = dir_.File("psql.log");
  unlink(output.c_str());
  int status =
      RunProgram({std::string(kBinDir) + "psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h",
                  socketDir_, "-p", std::to_string(port_), "-U", kUser, "-d", kDatabase, "-c", sql},
                 false, output);
  if (status != 0) throw std::runtime_error("psql failed on " + sql + ":\n" + ReadFile(output));
}

std::string PostgresServer::ServerLog() const { return ReadFile(dir_.File("server.log")); }

namespace {
PostgresServer* sharedServer = nullptr;
}

void PostgresEnvironment::SetUp() {
  try {
    sharedServer = new PostgresServer;
  } catch (const std::exception& e) {
    FAIL() << e.what();  // a fatal failure here skips every test of the program
  }
}

void PostgresEnvironment::TearDown() {
  delete sharedServer;
  sharedServer = nullptr;
}

PostgresServer& PostgresEnvironment::Server() {
  if (sharedServer == nullptr) throw std::logic_error("no PostgresEnvironment was set up");
  return *sharedServer;
}

}  // namespace testing_support
