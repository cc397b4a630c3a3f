// The write lock of another program on a SQLite file: Debian's /usr/bin/python3 opens the
// file with its sqlite3 module, holds BEGIN EXCLUSIVE and lets go when asked (or when the
// object goes). Its marker file, beside the locked one, says when it has the lock.
#pragma once

#include <cstdio>
#include <string>

namespace testing_support {

class ForeignProcessLock {
 public:
  // Waits (up to 20 s) until the other process has the lock; Held() says whether it has.
  explicit ForeignProcessLock(const std::string& path);
  ~ForeignProcessLock();
  ForeignProcessLock(const ForeignProcessLock&) = delete;
  ForeignProcessLock& operator=(const ForeignProcessLock&) = delete;

  bool Held() const { return held_; }
  // Ends the transaction and the process; true when it ended cleanly.
  bool Release();

 private:
  std::string marker_;
  FILE* pipe_ = nullptr;
  bool held_ = false;
};

}  // namespace testing_support
