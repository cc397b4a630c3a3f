#include "app/instance_lock.h"

#include <glib.h>
#include <wx/log.h>
#include <wx/snglinst.h>
#include <wx/utils.h>

namespace app {

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
  auto checker = std::make_unique<wxSingleInstanceChecker>();
  const wxString name = ".Lumivar-" + wxGetUserId() + ".lock";
  // A mark that cannot be made at all (an unwritable folder) does not keep the program
  // from running; only a mark held by another live process does.
  bool created;
  {
    wxLogNull quiet;
    created = checker->Create(name, wxString::FromUTF8(folder));
  }
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
