// The per-user single-instance mark over wxSingleInstanceChecker: a lock file named after
// the user in $XDG_RUNTIME_DIR (else the home folder). The file names the holding
// process, so a mark left by a process that died is taken over. UI thread only.
#pragma once

#include <memory>
#include <string>

#include "app/app_lifecycle.h"

class wxSingleInstanceChecker;

namespace app {

// $XDG_RUNTIME_DIR when it names a folder, else the home folder.
std::string DefaultInstanceLockFolder();

class SingleInstanceLock : public IInstanceLock {
 public:
  // folder: where the lock file lives; "" for DefaultInstanceLockFolder().
  explicit SingleInstanceLock(std::string folder = "");
  ~SingleInstanceLock() override;

  bool TryAcquire() override;
  void Release() override;

 private:
  std::string folder_;
  std::unique_ptr<wxSingleInstanceChecker> checker_;
};

}  // namespace app
