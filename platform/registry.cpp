#include "platform/registry.h"

#include <errno.h>
#include <glib.h>
#include <stdlib.h>

#include <vector>

#include "platform/resources.h"

namespace platform {
namespace {

constexpr std::string_view kBaseGroup = "General";

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool IsUtf8WithoutNul(std::string_view text) {
  return text.empty() || g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

// A key name as one component of a group name.
bool IsStorableKeyName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c == '[' || c == ']' || c == '/' || IsControl(c)) return false;
  }
  return true;
}

// A value name as a key of the key file: no '=', no brackets (they mark translations), no
// edge blanks (they are trimmed when the file is read back), no leading '#' (a comment).
bool IsStorableValueName(std::string_view name) {
  if (name.empty() || name.front() == ' ' || name.back() == ' ' || name.front() == '#') {
    return false;
  }
  for (char c : name) {
    if (c == '=' || c == '[' || c == ']' || IsControl(c)) return false;
  }
  return true;
}

// Guards every load-change-save of a settings file in this process.
std::mutex& FileMutex() {
  static std::mutex mutex;
  return mutex;
}

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

enum class LoadResult { kLoaded, kMissing, kFailed };

constexpr GKeyFileFlags kLoadFlags =
    static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

// The library's text of a failed load, when asked for.
LoadResult LoadKeyFile(const std::string& path, GKeyFile* file, std::string* failure = nullptr) {
  g_autoptr(GError) error = nullptr;
  if (g_key_file_load_from_file(file, path.c_str(), kLoadFlags, &error)) return LoadResult::kLoaded;
  if (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) return LoadResult::kMissing;
  if (failure != nullptr) *failure = error != nullptr ? error->message : "the file cannot be read";
  return LoadResult::kFailed;
}

// Whether the first `length` bytes parse as a key file; the library's text when they do not.
bool Parses(const gchar* data, gsize length, std::string* failure) {
  KeyFilePtr file(g_key_file_new());
  g_autoptr(GError) error = nullptr;
  if (g_key_file_load_from_data(file.get(), data, length, kLoadFlags, &error)) return true;
  if (failure != nullptr)
    *failure = error != nullptr ? error->message : "the file cannot be parsed";
  return false;
}

std::optional<SettingsFileProblem> ProblemOf(const std::string& path) {
  g_autofree gchar* data = nullptr;
  gsize length = 0;
  g_autoptr(GError) error = nullptr;
  if (!g_file_get_contents(path.c_str(), &data, &length, &error)) {
    if (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) return std::nullopt;
    return SettingsFileProblem{0, error != nullptr ? error->message : "the file cannot be read"};
  }
  SettingsFileProblem problem;
  if (Parses(data, length, &problem.text)) return std::nullopt;
  // The parser stops at the first line it rejects, so a prefix of whole lines fails exactly
  // when it holds that line: search for the shortest one that fails.
  std::vector<gsize> ends;  // the end of each line, past its newline
  for (gsize i = 0; i < length; ++i) {
    if (data[i] == '\n') ends.push_back(i + 1);
  }
  if (ends.empty() || ends.back() != length) ends.push_back(length);
  std::size_t low = 0, high = ends.size() - 1;  // the failing line's index lies in [low, high]
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (Parses(data, ends[middle], nullptr)) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  problem.line = static_cast<int>(low + 1);
  return problem;
}

std::string Describe(const SettingsFileProblem& problem) {
  if (problem.line == 0) return problem.text;
  return "line " + std::to_string(problem.line) + ": " + problem.text;
}

std::string ConfigFolder() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] != '/') home = g_get_home_dir();
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.config";
}

std::mutex& BasePathMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& BasePath() {
  static std::string basePath;
  return basePath;
}

}  // namespace

std::optional<RegistryLocation> SplitRegistryPath(std::string_view path) {
  if (!IsUtf8WithoutNul(path)) return std::nullopt;
  RegistryLocation location;
  size_t last = path.rfind('\\');
  if (last == std::string_view::npos) {
    location.valueName = path;
  } else {
    location.keyPath = path.substr(0, last);
    location.valueName = path.substr(last + 1);
  }
  if (!IsStorableValueName(location.valueName)) return std::nullopt;
  if (location.keyPath == kBaseGroup) return std::nullopt;
  std::string_view rest = location.keyPath;
  while (!rest.empty()) {
    size_t end = rest.find('\\');
    if (!IsStorableKeyName(rest.substr(0, end))) return std::nullopt;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
    if (rest.empty()) return std::nullopt;  // a trailing backslash leaves an empty key name
  }
  return location;
}

std::string SettingsStore::Read(std::string_view path) const {
  std::optional<RegistryLocation> location = SplitRegistryPath(path);
  if (!location) return {};
  return Get(*location).value_or(std::string());
}

bool SettingsStore::Write(std::string_view path, std::string_view text) {
  RegistryValue value{std::string(path), std::string(text)};
  return Write(std::span<const RegistryValue>(&value, 1));
}

bool SettingsStore::Write(std::span<const RegistryValue> values) {
  std::vector<Entry> entries;
  entries.reserve(values.size());
  for (const RegistryValue& value : values) {
    std::optional<RegistryLocation> location = SplitRegistryPath(value.path);
    if (!location || !IsUtf8WithoutNul(value.text)) return false;
    entries.emplace_back(std::move(*location), value.text);
  }
  return Put(entries);
}

std::optional<std::string> MemorySettingsStore::Get(const RegistryLocation& location) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(location);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool MemorySettingsStore::Put(std::span<const Entry> entries) {
  std::lock_guard lock(mutex_);
  for (const Entry& entry : entries) values_[entry.first] = entry.second;
  return true;
}

FileSettingsStore::FileSettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

std::string FileSettingsStore::GroupName(std::string_view keyPath) {
  if (keyPath.empty()) return std::string(kBaseGroup);
  std::string group(keyPath);
  for (char& c : group) {
    if (c == '\\') c = '/';
  }
  return group;
}

std::optional<std::string> FileSettingsStore::Get(const RegistryLocation& location) const {
  std::lock_guard lock(FileMutex());
  KeyFilePtr file(g_key_file_new());
  if (LoadKeyFile(filePath_, file.get()) != LoadResult::kLoaded) return std::nullopt;
  std::string group = GroupName(location.keyPath);
  g_autoptr(GError) error = nullptr;
  g_autofree gchar* text =
      g_key_file_get_string(file.get(), group.c_str(), location.valueName.c_str(), &error);
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

std::optional<SettingsFileProblem> FileSettingsStore::ReadProblem() const {
  std::lock_guard lock(FileMutex());
  return ProblemOf(filePath_);
}

std::string FileSettingsStore::WriteProblem() const {
  std::lock_guard lock(FileMutex());
  return writeProblem_;
}

bool FileSettingsStore::Put(std::span<const Entry> entries) {
  std::lock_guard lock(FileMutex());
  writeProblem_.clear();
  KeyFilePtr file(g_key_file_new());
  std::string failure;
  if (LoadKeyFile(filePath_, file.get(), &failure) == LoadResult::kFailed) {
    const std::optional<SettingsFileProblem> problem = ProblemOf(filePath_);
    writeProblem_ = problem ? Describe(*problem) : failure;
    return false;
  }
  for (const Entry& entry : entries) {
    std::string group = GroupName(entry.first.keyPath);
    g_key_file_set_string(file.get(), group.c_str(), entry.first.valueName.c_str(),
                          entry.second.c_str());
  }
  gsize length = 0;
  g_autofree gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  if (data == nullptr) {
    writeProblem_ = "the settings cannot be put into the file's form";
    return false;
  }
  g_autofree gchar* folder = g_path_get_dirname(filePath_.c_str());
  if (g_mkdir_with_parents(folder, 0700) != 0) {
    writeProblem_ = std::string("the folder ") + folder + " cannot be made: " + g_strerror(errno);
    return false;
  }
  auto flags = static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                  G_FILE_SET_CONTENTS_DURABLE);
  g_autoptr(GError) error = nullptr;
  if (g_file_set_contents_full(filePath_.c_str(), data, static_cast<gssize>(length), flags, 0600,
                               &error)) {
    return true;
  }
  writeProblem_ = error != nullptr ? error->message : "the file cannot be written";
  return false;
}

std::string MakeRegistryBasePath() {
  return "Software\\" + LoadResourceString(130) + "\\" + LoadResourceString(131) + "\\";
}

void SetRegistryBasePath(std::string basePath) {
  std::lock_guard lock(BasePathMutex());
  BasePath() = std::move(basePath);
}

std::string GetRegistryBasePath() {
  std::lock_guard lock(BasePathMutex());
  return BasePath();
}

std::string SettingsFilePath(std::string_view basePath) {
  std::vector<std::string_view> keys;
  while (!basePath.empty()) {
    size_t end = basePath.find('\\');
    std::string_view key = basePath.substr(0, end);
    if (!key.empty()) keys.push_back(key);
    if (end == std::string_view::npos) break;
    basePath.remove_prefix(end + 1);
  }
  if (keys.size() < 2 || keys.front() != "Software") return {};
  for (std::string_view key : keys) {
    if (key == "." || key == ".." || key.find('/') != std::string_view::npos ||
        !IsUtf8WithoutNul(key)) {
      return {};
    }
  }
  std::string path = ConfigFolder();
  if (path.empty()) return {};
  for (size_t i = 1; i < keys.size(); ++i) {
    path += '/';
    path += keys[i];
  }
  return path + ".conf";
}

std::unique_ptr<SettingsStore> OpenRegistryStore() {
  std::string path = SettingsFilePath(GetRegistryBasePath());
  if (path.empty()) return nullptr;
  return std::make_unique<FileSettingsStore>(std::move(path));
}

std::string ReadRegistryString(std::string_view path) {
  std::unique_ptr<SettingsStore> store = OpenRegistryStore();
  return store ? store->Read(path) : std::string();
}

bool WriteRegistryString(std::string_view path, std::string_view text) {
  std::unique_ptr<SettingsStore> store = OpenRegistryStore();
  return store && store->Write(path, text);
}

}  // namespace platform
