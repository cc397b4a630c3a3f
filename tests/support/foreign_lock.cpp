#include "tests/support/foreign_lock.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace testing_support {

ForeignProcessLock::ForeignProcessLock(const std::string& path) : marker_(path + ".locked") {
  std::filesystem::remove(marker_);
  const std::string command =
      "/usr/bin/python3 -c \"import sqlite3, sys\n"
      "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
      "c.execute('BEGIN EXCLUSIVE')\n"
      "open(sys.argv[2], 'w').close()\n"
      "sys.stdin.read()\n"
      "c.execute('COMMIT')\n"
      "c.close()\" '" +
      path + "' '" + marker_ + "'";
  // Close-on-exec: a program the test starts later must not keep the pipe open, or the
  // other process never sees the end of its input and Release waits for that program.
  pipe_ = popen(command.c_str(), "we");
  if (pipe_ == nullptr) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(marker_) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  held_ = std::filesystem::exists(marker_);
}

ForeignProcessLock::~ForeignProcessLock() { Release(); }

bool ForeignProcessLock::Release() {
  if (pipe_ == nullptr) return false;
  const int status = pclose(pipe_);
  pipe_ = nullptr;
  held_ = false;
  std::filesystem::remove(marker_);
  return status == 0;
}

}  // namespace testing_support
