#include "platform/documents.h"

#include <glib.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/resources.h"

namespace platform {
namespace {

constexpr unsigned kIdsAppTitle = 0xE000;

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Relative candidates are skipped: they would resolve against the current directory.
std::string DocumentsFolder() {
  if (const char* dir = std::getenv("LUMIVAR_DOCUMENTS_DIR"); IsAbsolute(dir)) return dir;
  if (const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS); IsAbsolute(dir))
    return dir;
  if (const char* home = std::getenv("HOME"); IsAbsolute(home))
    return StripTrailingSlashes(home) + "/Documents";
  return StripTrailingSlashes(g_get_home_dir()) + "/Documents";
}

// Creates every missing folder of the absolute path; failures are left to the caller's
// attempt to open a file there.
void CreateFolders(const std::string& path) {
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1)) {
    mkdir(path.substr(0, pos).c_str(), 0700);
  }
}

}  // namespace

std::string GetDocumentsFolder() {
  std::string folder = StripTrailingSlashes(DocumentsFolder());
  if (folder == "/") folder.clear();
  folder += "/" + LoadResourceString(kIdsAppTitle) + "/";
  CreateFolders(folder);
  return folder;
}

}  // namespace platform
