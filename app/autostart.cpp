#include "app/autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace app {
namespace {

// Creates the folder and every missing folder above it, each with mode 0700.
bool MakeFolders(const std::filesystem::path& folder) {
  std::filesystem::path path;
  for (const std::filesystem::path& part : folder) {
    path /= part;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Flushes the folder itself, so that a rename in it survives a crash.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string AutostartFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/autostart";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/autostart";
  return {};
}

std::string ProgramPath() {
  std::error_code error;
  std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) return {};
  // A program file replaced while it runs (an update) reads as "<path> (deleted)"; the
  // entry is for the file now at <path>.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted) && !std::filesystem::exists(path, error)) {
    path.resize(path.size() - kDeleted.size());
  }
  return path;
}

std::string QuoteExecArgument(std::string_view argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    switch (c) {
      case '"':
      case '`':
      case '$':
        quoted += "\\\\";  // the quoting backslash, itself escaped as a string value
        quoted += c;
        break;
      case '\\':
        quoted += "\\\\\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      case '%':
        quoted += "%%";
        break;
      default:
        quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string AutostartEntryText(std::string_view programPath) {
  return "[Desktop Entry]\nType=Application\nName=Lumivar\nExec=" + QuoteExecArgument(programPath) +
         " autorun\n";
}

AutostartEntry::AutostartEntry(std::string folder) : folder_(std::move(folder)) {}

std::string AutostartEntry::Path() const {
  if (folder_.empty()) return {};
  return folder_ + "/" + std::string(kAutostartFileName);
}

bool AutostartEntry::Exists() const {
  struct stat info {};
  return !folder_.empty() && ::stat(Path().c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool AutostartEntry::Write(std::string_view programPath) const {
  if (folder_.empty() || programPath.empty() || !MakeFolders(folder_)) return false;
  // Hidden and without the ".desktop" ending, so that a session never reads it as an entry.
  std::string part = folder_ + "/." + std::string(kAutostartFileName) + ".XXXXXX";
  const int fd = ::mkostemp(part.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, AutostartEntryText(programPath));
  ok = ok && ::fchmod(fd, 0644) == 0;
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(part.c_str(), Path().c_str()) == 0;
  if (!ok) {
    ::unlink(part.c_str());
    return false;
  }
  SyncFolder(folder_);
  return true;
}

bool AutostartEntry::Remove() const {
  if (folder_.empty()) return true;  // no folder, so no entry to start anything
  if (::unlink(Path().c_str()) != 0 && errno != ENOENT) return false;
  SyncFolder(folder_);
  return true;
}

}  // namespace app
