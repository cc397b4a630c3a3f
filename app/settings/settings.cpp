#include "app/settings/settings.h"

#include <errno.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings/display_text.h"

namespace app {
namespace {

using V = SettingsValues;
using L = LayoutSettings;
using M = MailSettings;
using T = AlertMessageTemplate;

// One stored value: its path and where it lives in SettingsValues (a number or a text).
struct Field {
  std::string_view path;
  int& (*number)(V&);
  std::string& (*text)(V&);
};

template <auto Part, auto Member>
auto& In(V& values) {
  return (values.*Part).*Member;
}

template <auto Member>
auto& Top(V& values) {
  return values.*Member;
}

template <auto Member>
constexpr Field Layout(std::string_view path) {
  return {path, &In<&V::layout, Member>, nullptr};
}

constexpr std::array<Field, kStoredValueCount> kFields = {{
    Layout<&L::wndX>("Interface\\wndX"),
    Layout<&L::wndY>("Interface\\wndY"),
    Layout<&L::wndWidth>("Interface\\wndWidth"),
    Layout<&L::wndHeight>("Interface\\wndHeight"),
    Layout<&L::wndMode>("Interface\\wndMode"),
    Layout<&L::testQueriesNameWidth>("Interface\\testQueriesNameWidth"),
    Layout<&L::testQueriesQueryWidth>("Interface\\testQueriesQueryWidth"),
    Layout<&L::testQueriesResultWidth>("Interface\\testQueriesResultWidth"),
    Layout<&L::alertsAttributeWidth>("Interface\\alertsAttributeWidth"),
    Layout<&L::alertsConditionWidth>("Interface\\alertsConditionWidth"),
    Layout<&L::alertsThresholdWidth>("Interface\\alertsThresholdWidth"),
    Layout<&L::alertsActionWidth>("Interface\\alertsActionWidth"),
    Layout<&L::alertsAlertTypeWidth>("Interface\\alertsAlertTypeWidth"),
    Layout<&L::alertsCurrentValueWidth>("Interface\\alertsCurrentValueWidth"),
    Layout<&L::alertsStatusWidth>("Interface\\alertsStatusWidth"),
    Layout<&L::logTypeWidth>("Interface\\logTypeWidth"),
    Layout<&L::logDateWidth>("Interface\\logDateWidth"),
    Layout<&L::logMessageWidth>("Interface\\logMessageWidth"),
    Layout<&L::actionsEmailNameWidth>("Interface\\actionsEmailNameWidth"),
    Layout<&L::actionsEmailPollsWidth>("Interface\\actionsEmailPollsWidth"),
    Layout<&L::actionsEmailServerWidth>("Interface\\actionsEmailServerWidth"),
    Layout<&L::actionsEmailSendToWidth>("Interface\\actionsEmailSendToWidth"),
    Layout<&L::actionsSMSNameWidth>("Interface\\actionsSMSNameWidth"),
    Layout<&L::actionsSMSPollsWidth>("Interface\\actionsSMSPollsWidth"),
    Layout<&L::actionsSMSServerWidth>("Interface\\actionsSMSServerWidth"),
    Layout<&L::actionsSMSSendToWidth>("Interface\\actionsSMSSendToWidth"),
    Layout<&L::actionsSQLNameWidth>("Interface\\actionsSQLNameWidth"),
    Layout<&L::actionsSQLPollsWidth>("Interface\\actionsSQLPollsWidth"),
    Layout<&L::actionsSQLDatasourceNameWidth>("Interface\\actionsSQLDatasourceNameWidth"),
    Layout<&L::actionsSQLQueryWidth>("Interface\\actionsSQLQueryWidth"),
    Layout<&L::actionsProgramNameWidth>("Interface\\actionsProgramNameWidth"),
    Layout<&L::actionsProgramPollsWidth>("Interface\\actionsProgramPollsWidth"),
    Layout<&L::actionsProgramPathWidth>("Interface\\actionsProgramPathWidth"),
    Layout<&L::actionsUINameWidth>("Interface\\actionsUINameWidth"),
    Layout<&L::actionsUIPollsWidth>("Interface\\actionsUIPollsWidth"),
    Layout<&L::actionsUITypeWidth>("Interface\\actionsUITypeWidth"),
    {"runApp", &Top<&V::runApp>, nullptr},
    {"hideSplash", &Top<&V::hideSplash>, nullptr},
    {"startedMonitors", nullptr, &Top<&V::startedMonitors>},
    {"AlertTemplate\\title", nullptr, &In<&V::alertTemplate, &T::title>},
    {"AlertTemplate\\message", nullptr, &In<&V::alertTemplate, &T::message>},
    {"EMailReport\\mode", &In<&V::mail, &M::mode>, nullptr},
    {"EMailReport\\server", nullptr, &In<&V::mail, &M::server>},
    {"EMailReport\\port", &In<&V::mail, &M::port>, nullptr},
    {"EMailReport\\auth", &In<&V::mail, &M::auth>, nullptr},
    {"EMailReport\\userName", nullptr, &In<&V::mail, &M::userName>},
    {"EMailReport\\password", nullptr, &In<&V::mail, &M::password>},
    {"EMailReport\\fromAddress", nullptr, &In<&V::mail, &M::fromAddress>},
    {"EMailReport\\toAddress", nullptr, &In<&V::mail, &M::toAddress>},
}};

// Where an exit leaves its note for the next start; not one of the stored values.
constexpr std::string_view kExitNotePath = "lostAtLastExit";

// Moves an unreadable settings file (or a link to one) to the first free name of
// "<path>.bad", "<path>.bad.2", ...; the new path, or "" when it was not moved.
std::string MoveAside(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
    return {};
  }
  for (int n = 1; n <= 100; ++n) {
    std::string kept = path + ".bad" + (n == 1 ? std::string() : "." + std::to_string(n));
    if (lstat(kept.c_str(), &info) == 0 || errno != ENOENT) continue;
    return std::rename(path.c_str(), kept.c_str()) == 0 ? kept : std::string();
  }
  return {};
}

}  // namespace

std::optional<SettingsValues> ReadSettingsValues(const platform::SettingsStore& store) {
  if (store.Read(kFields.front().path).empty()) return std::nullopt;
  SettingsValues values;
  for (const Field& field : kFields) {
    std::string text = store.Read(field.path);
    if (field.number != nullptr) {
      field.number(values) = ParseLeadingInt(text);
    } else {
      field.text(values) = std::move(text);
    }
  }
  return values;
}

bool WriteSettingsValues(const SettingsValues& values, platform::SettingsStore& store) {
  SettingsValues copy = values;  // the accessors hand out mutable references
  std::vector<platform::RegistryValue> stored;
  stored.reserve(kFields.size());
  for (const Field& field : kFields) {
    std::string text =
        field.number != nullptr ? IntToDisplayText(field.number(copy)) : field.text(copy);
    stored.push_back({std::string(field.path), std::move(text)});
  }
  return store.Write(stored);
}

std::string SettingsLoadProblemMessage(const SettingsLoadProblem& problem) {
  std::string message = "The settings file " + problem.path + " cannot be read";
  if (problem.line > 0) message += " at line " + std::to_string(problem.line);
  message +=
      ": " + problem.text + ". Lumivar starts with the default settings and restarts no monitor; ";
  if (!problem.keptAs.empty()) return message + "the file is kept as " + problem.keptAs + ".";
  return message +
         "the file stays as it is, and no setting can be saved until it is mended or removed.";
}

Settings::Settings(SettingsValues values) : values_(std::move(values)) {}

Settings::Settings(const Settings& other) : values_(other.Get()) {}

Settings& Settings::operator=(const Settings& other) {
  if (this != &other) Set(other.Get());
  return *this;
}

Settings& Settings::Instance() {
  static Settings* const instance = new Settings();
  return *instance;
}

void Settings::SetRegistryBasePath(std::string basePath) {
  platform::SetRegistryBasePath(std::move(basePath));
}

std::optional<SettingsLoadProblem> Settings::Load() {
  const std::string path = platform::SettingsFilePath(platform::GetRegistryBasePath());
  if (path.empty()) return std::nullopt;
  platform::FileSettingsStore store(path);
  if (std::optional<platform::SettingsFileProblem> problem = store.ReadProblem()) {
    return SettingsLoadProblem{path, problem->line, problem->text, MoveAside(path)};
  }
  Load(store);
  return std::nullopt;
}

bool Settings::Load(const platform::SettingsStore& store) {
  if (std::optional<SettingsValues> values = ReadSettingsValues(store)) Set(std::move(*values));
  return true;
}

bool Settings::Save() const { return !SaveToFile(); }

std::optional<SettingsSaveProblem> Settings::SaveToFile() const {
  const std::string path = platform::SettingsFilePath(platform::GetRegistryBasePath());
  if (path.empty()) return SettingsSaveProblem{"", "no settings folder is known"};
  platform::FileSettingsStore store(path);
  if (Save(store)) return std::nullopt;
  std::string why = store.WriteProblem();
  return SettingsSaveProblem{path, why.empty() ? "a value cannot be stored in the file" : why};
}

std::string Settings::TakeExitNote() {
  std::unique_ptr<platform::SettingsStore> store = platform::OpenRegistryStore();
  if (!store) return {};
  std::string note = store->Read(kExitNotePath);
  if (!note.empty()) store->Write(kExitNotePath, "");
  return note;
}

bool Settings::LeaveExitNote(std::string_view text) {
  std::unique_ptr<platform::SettingsStore> store = platform::OpenRegistryStore();
  return store && store->Write(kExitNotePath, text);
}

bool Settings::Save(platform::SettingsStore& store) const {
  return WriteSettingsValues(Get(), store);
}

SettingsValues Settings::Get() const {
  std::lock_guard lock(mutex_);
  return values_;
}

void Settings::Set(SettingsValues values) {
  std::lock_guard lock(mutex_);
  values_ = std::move(values);
}

LayoutSettings Settings::GetLayout() const {
  std::lock_guard lock(mutex_);
  return values_.layout;
}

void Settings::SetLayout(const LayoutSettings& layout) {
  std::lock_guard lock(mutex_);
  values_.layout = layout;
}

AlertMessageTemplate Settings::GetAlertTemplate() const {
  std::lock_guard lock(mutex_);
  return values_.alertTemplate;
}

void Settings::SetAlertTemplate(AlertMessageTemplate alertTemplate) {
  std::lock_guard lock(mutex_);
  values_.alertTemplate = std::move(alertTemplate);
}

MailSettings Settings::GetMail() const {
  std::lock_guard lock(mutex_);
  return values_.mail;
}

void Settings::SetMail(MailSettings mail) {
  std::lock_guard lock(mutex_);
  values_.mail = std::move(mail);
}

int Settings::GetRunApp() const {
  std::lock_guard lock(mutex_);
  return values_.runApp;
}

void Settings::SetRunApp(int runApp) {
  std::lock_guard lock(mutex_);
  values_.runApp = runApp;
}

int Settings::GetHideSplash() const {
  std::lock_guard lock(mutex_);
  return values_.hideSplash;
}

void Settings::SetHideSplash(int hideSplash) {
  std::lock_guard lock(mutex_);
  values_.hideSplash = hideSplash;
}

std::string Settings::GetStartedMonitors() const {
  std::lock_guard lock(mutex_);
  return values_.startedMonitors;
}

void Settings::SetStartedMonitors(std::string startedMonitors) {
  std::lock_guard lock(mutex_);
  values_.startedMonitors = std::move(startedMonitors);
}

}  // namespace app
