#include "app/instance_lock.h"

#include <glib.h>
#include <wx/log.h>
#include <wx/snglinst.h>
#include <wx/utils.h>

#include <chrono>
#include <thread>

namespace app {
namespace {

constexpr int kReadAttempts = 20;
constexpr std::chrono::milliseconds kReadRetry{50};

}  // namespace

std::string DefaultInstanceLockFolder() {
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0' && g_file_test(runtime, G_FILE_TEST_IS_DIR))
    return runtime;
  return g_get_home_dir();
}

SingleInstanceLock::SingleInstanceLock(std::string folder) : folder_(std::move(folder)) {}

SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::TryAcquire() {
  if (checker_) return true;
  const std::string folder = folder_.empty() ? DefaultInstanceLockFolder() : folder_;
  const wxString name = ".Lumivar-" + wxGetUserId() + ".lock";
  const std::string path = folder + "/" + name.utf8_string();
  std::unique_ptr<wxSingleInstanceChecker> checker;
  bool created;
  for (int attempt = 1;; ++attempt) {
    checker = std::make_unique<wxSingleInstanceChecker>();
    {
      wxLogNull quiet;
      created = checker->Create(name, wxString::FromUTF8(folder));
    }
    // A start at the same moment may have made the lock file and not yet written its
    // process number into it; the file cannot be read for that moment, so it is read again.
    if (created || attempt == kReadAttempts || !g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
      break;
    std::this_thread::sleep_for(kReadRetry);
  }
  // A mark that cannot be made at all (an unwritable folder) does not keep the program
  // from running; only a mark held by another live process does.
  if (!created) {
    checker_ = std::move(checker);
    return true;
  }
  if (checker->IsAnotherRunning()) return false;
  checker_ = std::move(checker);
  return true;
}

void SingleInstanceLock::Release() { checker_.reset(); }

}  // namespace app
