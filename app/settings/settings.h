// The process-wide settings object: window placement, list column widths, start-up
// options, the monitors to restart, the alert message templates and the e-mail report.
// Loaded from the settings store once at start-up and saved as the window closes and at
// exit; in between the program reads and changes it in memory. Every member function may
// be called from any thread: the object is guarded, and getters return copies. The user
// interface loads, saves and changes it; polling threads read the templates and the
// report thread the mail settings, through engine::ISettingsSource.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/settings_source.h"
#include "platform/registry.h"

namespace app {

using engine::AlertMessageTemplate;
using engine::MailSettings;

// The main window's placement and the list column widths, in pixels.
struct LayoutSettings {
  int wndX = 0;
  int wndY = 0;
  int wndWidth = 800;
  int wndHeight = 600;
  int wndMode = 3;  // 1 normal, 2 minimised, 3 maximised
  int testQueriesNameWidth = 150;
  int testQueriesQueryWidth = 250;
  int testQueriesResultWidth = 80;
  int alertsAttributeWidth = 150;
  int alertsConditionWidth = 70;
  int alertsThresholdWidth = 70;
  int alertsActionWidth = 150;
  int alertsAlertTypeWidth = 80;
  int alertsCurrentValueWidth = 80;
  int alertsStatusWidth = 80;
  int logTypeWidth = 100;
  int logDateWidth = 100;
  int logMessageWidth = 200;
  int actionsEmailNameWidth = 200;
  int actionsEmailPollsWidth = 100;
  int actionsEmailServerWidth = 200;
  int actionsEmailSendToWidth = 200;
  int actionsSMSNameWidth = 200;
  int actionsSMSPollsWidth = 100;
  int actionsSMSServerWidth = 200;
  int actionsSMSSendToWidth = 200;
  int actionsSQLNameWidth = 200;
  int actionsSQLPollsWidth = 100;
  int actionsSQLDatasourceNameWidth = 200;
  int actionsSQLQueryWidth = 200;
  int actionsProgramNameWidth = 200;
  int actionsProgramPollsWidth = 100;
  int actionsProgramPathWidth = 200;
  int actionsUINameWidth = 200;
  int actionsUIPollsWidth = 100;
  int actionsUITypeWidth = 200;

  bool operator==(const LayoutSettings&) const = default;
};

// Every value of the settings object as one plain value, starting with the defaults.
struct SettingsValues {
  LayoutSettings layout;
  AlertMessageTemplate alertTemplate;
  MailSettings mail;
  int runApp = 1;  // start the program at login
  int hideSplash = 0;
  std::string startedMonitors;  // identifiers of the monitors running at the last exit

  bool operator==(const SettingsValues&) const = default;
};

// The 49 stored values in their order: the 36 layout values ("Interface\wndX", ...),
// "runApp", "hideSplash", "startedMonitors", "AlertTemplate\title",
// "AlertTemplate\message", then "EMailReport\" mode, server, port, auth, userName,
// password, fromAddress and toAddress.
inline constexpr int kStoredValueCount = 49;

// Reads the values from a store. nullopt when "Interface\wndX" is missing or empty (the
// settings were never saved): then every value keeps what it was. Otherwise a number
// that is missing or not a number reads as 0 and a missing text as "".
std::optional<SettingsValues> ReadSettingsValues(const platform::SettingsStore& store);

// Writes the 49 values into a store in one update, numbers through IntToDisplayText, an
// empty text as an empty value. Other values of the store stay. True when all were
// stored.
bool WriteSettingsValues(const SettingsValues& values, platform::SettingsStore& store);

// A settings file that could not be read at start-up: its path, the first line that does
// not parse (0 when the file as a whole cannot be read), the library's text, and where the
// file was moved so that new settings can be saved ("" when it stays where it was).
struct SettingsLoadProblem {
  std::string path;
  int line = 0;
  std::string text;
  std::string keptAs;
  bool operator==(const SettingsLoadProblem&) const = default;
};

// What start-up tells the user of it: the file, the line, and what the program does.
std::string SettingsLoadProblemMessage(const SettingsLoadProblem& problem);

// A settings file that could not be written: its path ("" when no settings folder is
// known) and why.
struct SettingsSaveProblem {
  std::string path;
  std::string text;
  bool operator==(const SettingsSaveProblem&) const = default;
};

class Settings final : public engine::ISettingsSource {
 public:
  Settings() = default;
  explicit Settings(SettingsValues values);
  Settings(const Settings& other);
  Settings& operator=(const Settings& other);

  // The process-wide object, holding the defaults until start-up loads it. It is never
  // destroyed, so a thread still running at exit (the e-mail report's) can read it.
  static Settings& Instance();

  // Sets the process-wide base path below which the settings file lies
  // (platform::SetRegistryBasePath); start-up calls it once before Load.
  static void SetRegistryBasePath(std::string basePath);

  // Reads every value from the settings file at the base path, as ReadSettingsValues says;
  // nothing changes when no base path is set or the settings were never saved. A file that
  // exists but cannot be read or parsed is moved to the first free name of "<file>.bad",
  // "<file>.bad.2", ... (so that the next save writes a new file and the old one is kept),
  // every value keeps what it was, and the problem is returned.
  std::optional<SettingsLoadProblem> Load();
  // Reads every value from a given store, as ReadSettingsValues says. Always true.
  bool Load(const platform::SettingsStore& store);
  // Writes every value to the settings file at the base path (or to a given store). False
  // when nothing or not all could be stored, for instance when no base path is set.
  bool Save() const;
  bool Save(platform::SettingsStore& store) const;
  // As Save(), with the file and the reason when the values could not all be stored.
  std::optional<SettingsSaveProblem> SaveToFile() const;

  // A note an exit leaves in the settings file at the base path for the next start, when it
  // lost work and had nowhere else to say so. Take reads it and removes it from the file;
  // "" when there is none. Leave is false when the note could not be stored.
  static std::string TakeExitNote();
  static bool LeaveExitNote(std::string_view text);

  SettingsValues Get() const;
  void Set(SettingsValues values);

  LayoutSettings GetLayout() const;
  void SetLayout(const LayoutSettings& layout);
  AlertMessageTemplate GetAlertTemplate() const override;
  void SetAlertTemplate(AlertMessageTemplate alertTemplate);
  MailSettings GetMail() const override;
  void SetMail(MailSettings mail);
  int GetRunApp() const;
  void SetRunApp(int runApp);
  int GetHideSplash() const;
  void SetHideSplash(int hideSplash);
  std::string GetStartedMonitors() const;
  void SetStartedMonitors(std::string startedMonitors);

 private:
  mutable std::mutex mutex_;
  SettingsValues values_;
};

}  // namespace app
