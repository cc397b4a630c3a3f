// The per-user settings store. Values are texts addressed by a relative path of key names
// and a value name separated by backslashes ("Interface\wndX", "runApp"), below a base
// path set once at start-up ("Software\<company>\<product>\"). The file store keeps them
// in one key file under the XDG configuration folder; the memory store serves tests.
// Every function and both stores may be used from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// Where one value lives below the base: the key path ("" for the base key itself,
// "Interface", "A\B") and the value name.
struct RegistryLocation {
  std::string keyPath;
  std::string valueName;

  auto operator<=>(const RegistryLocation&) const = default;
};

// Splits a relative path at its last backslash: the key path before it, the value name
// after it (the whole path when it has none). nullopt when the path cannot be stored:
// an empty value name or key name, characters a key file cannot hold ('[', ']', '/',
// control characters; also '=' and edge blanks in the value name), or the key "General",
// which is the name the file gives to the base key.
std::optional<RegistryLocation> SplitRegistryPath(std::string_view path);

// One value of a batch write.
struct RegistryValue {
  std::string path;  // relative, as for SplitRegistryPath
  std::string text;
};

// A store of text values. Both implementations follow the same rules, which live here:
// paths are split and checked by SplitRegistryPath, texts must be UTF-8 without NUL, a
// missing or unreadable value reads as "", and an empty text is stored as an empty value.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The text at the path; "" when the store, the key or the value is missing, or the path
  // cannot be stored.
  std::string Read(std::string_view path) const;
  // Stores one value. False when the path or the text cannot be stored or the store
  // cannot be written; the store is unchanged then.
  bool Write(std::string_view path, std::string_view text);
  // Stores all values in one update, in their order; values already in the store and not
  // named here stay. False (and nothing changed) when any of them cannot be stored.
  bool Write(std::span<const RegistryValue> values);

 protected:
  using Entry = std::pair<RegistryLocation, std::string>;
  virtual std::optional<std::string> Get(const RegistryLocation& location) const = 0;
  virtual bool Put(std::span<const Entry> entries) = 0;
};

// Keeps the values in memory. For tests and fakes.
class MemorySettingsStore final : public SettingsStore {
 protected:
  std::optional<std::string> Get(const RegistryLocation& location) const override;
  bool Put(std::span<const Entry> entries) override;

 private:
  mutable std::mutex mutex_;
  std::map<RegistryLocation, std::string> values_;
};

// Why a settings file cannot be read.
struct SettingsFileProblem {
  int line = 0;      // the first line that does not parse, from 1; 0 when the file as a whole
                     // cannot be read
  std::string text;  // the library's text
  bool operator==(const SettingsFileProblem&) const = default;
};

// Keeps the values in one key file: a group per key path (backslashes become '/', the
// base key is the group "General"), the value name as the key, the text escaped so that
// CR, LF and tab survive. Every read loads the file; every write loads it, changes it and
// replaces it atomically (temporary file in the same folder, synced, renamed), mode 0600,
// creating missing folders with mode 0700. A missing file reads as empty. A file that
// exists but cannot be read or parsed is never overwritten: writes fail. All file stores
// of the process share one lock, so a write from one thread never loses another's.
class FileSettingsStore final : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string filePath);

  const std::string& FilePath() const { return filePath_; }

  // Why the file cannot be read or parsed now; nullopt when it can, or when it is missing.
  std::optional<SettingsFileProblem> ReadProblem() const;
  // Why the last write through this object that reached the file failed ("line N: " before
  // a text that concerns a line); "" when it succeeded or none was made.
  std::string WriteProblem() const;

  // The group that holds values of this key path.
  static std::string GroupName(std::string_view keyPath);

 protected:
  std::optional<std::string> Get(const RegistryLocation& location) const override;
  bool Put(std::span<const Entry> entries) override;

 private:
  std::string filePath_;
  std::string writeProblem_;  // guarded by the lock the file stores share
};

// The base path: "Software\" + string 130 (the company) + "\" + string 131 (the product)
// + "\".
std::string MakeRegistryBasePath();

// The process-wide base path; empty until start-up sets it.
void SetRegistryBasePath(std::string basePath);
std::string GetRegistryBasePath();

// The settings file for a base path: a leading "Software\" stands for the XDG
// configuration folder ($XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config, read anew on every call); the following keys become folders and the last
// one the file "<name>.conf". "Software\Zephrane Software\Lumivar\" gives
// "<config>/Zephrane Software/Lumivar.conf". "" when the base path is empty or unusable.
std::string SettingsFilePath(std::string_view basePath);

// The file store at the process-wide base path; nullptr while no usable base path is set.
std::unique_ptr<SettingsStore> OpenRegistryStore();

// One value at the process-wide base path: "" when it is missing or no base path is set;
// the write is false when nothing was stored.
std::string ReadRegistryString(std::string_view path);
bool WriteRegistryString(std::string_view path, std::string_view text);

}  // namespace platform
