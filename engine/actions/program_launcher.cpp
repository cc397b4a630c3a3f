#include "engine/actions/program_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace engine {

namespace {

// "scheme:" at the start, as in "https://host/" or "mailto:someone@example.com". A single
// letter before the colon is not taken for a scheme.
bool LooksLikeUrl(const std::string& path) {
  const auto colon = path.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(path[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = path[i];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// Waits for the process in the background so that it does not stay a zombie.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to wait with: reap now if it has already ended; otherwise it stays a
    // zombie until we exit, which is the lesser harm than blocking the caller.
    int status = 0;
    waitpid(pid, &status, WNOHANG);
  }
}

// Spawns file with argv; `search` looks file up on PATH. Returns an errno value, 0 when
// started.
int Spawn(const char* file, const std::vector<std::string>& args, bool search, pid_t* pid) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (int err = posix_spawn_file_actions_init(&actions); err != 0) return err;
  if (int err = posix_spawnattr_init(&attr); err != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return err;
  }

  int err = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaults;
  sigfillset(&defaults);
  sigdelset(&defaults, SIGKILL);
  sigdelset(&defaults, SIGSTOP);
  if (err == 0) err = posix_spawnattr_setsigmask(&attr, &noSignals);
  if (err == 0) err = posix_spawnattr_setsigdefault(&attr, &defaults);
  if (err == 0) {
    err = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (err == 0) {
    err = search ? posix_spawnp(pid, file, &actions, &attr, argv.data(), environ)
                 : posix_spawn(pid, file, &actions, &attr, argv.data(), environ);
  }

  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

}  // namespace

platform::Status StartProgram(const std::string& path, int* processId) {
  if (processId != nullptr) *processId = 0;
  if (path.empty()) return platform::kFileNotFound;

  bool executable = false;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    executable = S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
  } else if (!LooksLikeUrl(path)) {
    const int err = errno;
    return err == ENOTDIR ? platform::kFileNotFound : platform::ErrnoToStatus(err);
  }

  pid_t pid = 0;
  int err = 0;
  if (executable) {
    err = Spawn(path.c_str(), {path}, false, &pid);
  } else {
    // An argument that begins with "-" would be read as an option of the opener.
    const std::string argument = path.front() == '-' ? "./" + path : path;
    err = Spawn("xdg-open", {"xdg-open", argument}, true, &pid);
  }
  if (err != 0) return err == ENOTDIR ? platform::kFileNotFound : platform::ErrnoToStatus(err);

  if (processId != nullptr) *processId = static_cast<int>(pid);
  ReapInBackground(pid);
  return platform::kOk;
}

}  // namespace engine
