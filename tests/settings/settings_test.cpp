// The settings object: defaults, the stored form of all 49 values against both stores,
// the rule that an unsaved store leaves the defaults, and snapshots taken while another
// thread assigns the whole object.
#include "app/settings/settings.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings/display_text.h"
#include "tests/support/settings_stores.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

using platform::RegistryValue;
using platform::SettingsStore;
using testing_support::ScopedEnv;
using testing_support::TempDir;

const char kDefaultMessage[] =
    "%ALERT_TIME%\r\n%ATTRIBUTE_NAME% On %MONITOR_NAME%(%SERVER_NAME%): %ATTRIBUTE_TYPE%\r\n\r\n"
    "%ATTRIBUTE_NAME% = %ATTRIBUTE_VALUE%\r\n\r\n%ERROR_DESCRIPTION% %ERROR_NUMBER%";

// The layout values under "Interface\", in their order, each with a distinct number.
const char kLayoutNames[] =
    "wndX wndY wndWidth wndHeight wndMode testQueriesNameWidth testQueriesQueryWidth "
    "testQueriesResultWidth alertsAttributeWidth alertsConditionWidth alertsThresholdWidth "
    "alertsActionWidth alertsAlertTypeWidth alertsCurrentValueWidth alertsStatusWidth "
    "logTypeWidth logDateWidth logMessageWidth actionsEmailNameWidth "
    "actionsEmailPollsWidth actionsEmailServerWidth actionsEmailSendToWidth "
    "actionsSMSNameWidth actionsSMSPollsWidth actionsSMSServerWidth actionsSMSSendToWidth "
    "actionsSQLNameWidth actionsSQLPollsWidth actionsSQLDatasourceNameWidth "
    "actionsSQLQueryWidth actionsProgramNameWidth actionsProgramPollsWidth "
    "actionsProgramPathWidth actionsUINameWidth actionsUIPollsWidth actionsUITypeWidth";
const int kLayoutNumbers[] = {11, -12, 1013, 714, 1,  16, 17, 18, 19, 20, 21, 22,
                              23, 24,  25,   26,  27, 28, 29, 30, 31, 32, 33, 34,
                              35, 36,  37,   38,  39, 40, 41, 42, 43, 44, 45, 46};

// Every stored value with a distinct text, in the order the file must hold them.
const std::vector<RegistryValue> kAllValues = [] {
  std::vector<RegistryValue> values;
  std::istringstream names(kLayoutNames);
  std::string name;
  for (int number : kLayoutNumbers) {
    names >> name;
    values.push_back({"Interface\\" + name, std::to_string(number)});
  }
  values.insert(values.end(), {{"runApp", "0"},
                               {"hideSplash", "1"},
                               {"startedMonitors", " 3f2a-1;9b7c-2;"},
                               {"AlertTemplate\\title", "Alarm: %MONITOR_NAME% – Störung"},
                               {"AlertTemplate\\message",
                                "%ALERT_TIME%\r\n\tWert: %ATTRIBUTE_VALUE%\r\n\r\n東京"},
                               {"EMailReport\\mode", "2"},
                               {"EMailReport\\server", "smtp.example.org"},
                               {"EMailReport\\port", "587"},
                               {"EMailReport\\auth", "1"},
                               {"EMailReport\\userName", "jörg"},
                               {"EMailReport\\password", ""},
                               {"EMailReport\\fromAddress", "monitor@example.org"},
                               {"EMailReport\\toAddress", "ops@example.org"}});
  return values;
}();

// kAllValues as the object holds them.
SettingsValues AllValues() {
  SettingsValues v;
  v.layout = {11, -12, 1013, 714, 1,  16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28,
              29, 30,  31,   32,  33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46};
  v.runApp = 0;
  v.hideSplash = 1;
  v.startedMonitors = " 3f2a-1;9b7c-2;";
  v.alertTemplate = {"Alarm: %MONITOR_NAME% – Störung",
                     "%ALERT_TIME%\r\n\tWert: %ATTRIBUTE_VALUE%\r\n\r\n東京"};
  v.mail = {2, "smtp.example.org", 587, 1, "jörg", "", "monitor@example.org", "ops@example.org"};
  return v;
}

class SettingsAgainstStore : public testing::TestWithParam<testing_support::SettingsStoreKind> {
 protected:
  TempDir dir_;
  std::unique_ptr<SettingsStore> store_ = GetParam().make(dir_);
};

TEST(Settings, StartsWithTheDefaults) {
  SettingsValues v = Settings().Get();
  EXPECT_EQ(v.layout.wndWidth, 800);
  EXPECT_EQ(v.layout.wndHeight, 600);
  EXPECT_EQ(v.layout.wndMode, 3);
  EXPECT_EQ(v.layout.testQueriesQueryWidth, 250);
  EXPECT_EQ(v.layout.alertsConditionWidth, 70);
  EXPECT_EQ(v.layout.actionsUITypeWidth, 200);
  EXPECT_EQ(v.runApp, 1);
  EXPECT_EQ(v.alertTemplate.title,
            "%ALERT_TIME% %ATTRIBUTE_TYPE% %ATTRIBUTE_NAME% On %MONITOR_NAME%");
  EXPECT_EQ(v.alertTemplate.message, kDefaultMessage);
  EXPECT_EQ(v.mail, (MailSettings{0, "", 25, 0, "", "", "", ""}));
}

TEST_P(SettingsAgainstStore, AnEmptyStoreLeavesTheDefaults) {
  Settings settings;
  EXPECT_TRUE(settings.Load(*store_));
  EXPECT_EQ(settings.Get(), SettingsValues());
}

TEST_P(SettingsAgainstStore, WithoutWndXEveryOtherValueIsIgnored) {
  for (const char* wndX : {"missing", ""}) {
    std::vector<RegistryValue> values(kAllValues.begin() + 1, kAllValues.end());
    if (std::string(wndX) != "missing") values.push_back({"Interface\\wndX", wndX});
    ASSERT_TRUE(store_->Write(values));
    Settings settings;
    settings.Load(*store_);
    EXPECT_EQ(settings.Get(), SettingsValues()) << wndX;
  }
}

TEST_P(SettingsAgainstStore, AllValuesRoundTrip) {
  ASSERT_TRUE(store_->Write(kAllValues));
  Settings loaded;
  loaded.Load(*store_);
  EXPECT_EQ(loaded.Get(), AllValues());

  TempDir otherDir;
  std::unique_ptr<SettingsStore> other = GetParam().make(otherDir);
  ASSERT_TRUE(loaded.Save(*other));
  for (const RegistryValue& value : kAllValues) {
    EXPECT_EQ(other->Read(value.path), value.text) << value.path;
  }
  Settings reloaded;
  reloaded.Load(*other);
  EXPECT_EQ(reloaded.Get(), AllValues());
}

TEST_P(SettingsAgainstStore, MinusOneIsSavedAsADashAndLoadsAsZero) {
  SettingsValues v;
  v.layout.logTypeWidth = -1;
  v.mail.port = -1;
  ASSERT_TRUE(Settings(v).Save(*store_));
  EXPECT_EQ(store_->Read("Interface\\logTypeWidth"), "-");
  EXPECT_EQ(store_->Read("EMailReport\\port"), "-");
  Settings loaded;
  loaded.Load(*store_);
  EXPECT_EQ(loaded.GetLayout().logTypeWidth, 0);
  EXPECT_EQ(loaded.GetMail().port, 0);
}

TEST_P(SettingsAgainstStore, MissingOrOddValuesWithWndXPresentLoadAsZeroOrEmpty) {
  ASSERT_TRUE(store_->Write("Interface\\wndX", "5"));
  ASSERT_TRUE(store_->Write("Interface\\wndMode", "two"));
  ASSERT_TRUE(store_->Write("Interface\\wndWidth", " 640px"));
  Settings loaded;
  loaded.Load(*store_);
  SettingsValues v = loaded.Get();
  EXPECT_EQ(v.layout.wndX, 5);
  EXPECT_EQ(v.layout.wndWidth, 640);
  EXPECT_EQ(v.layout.wndMode, 0);
  EXPECT_EQ(v.layout.wndHeight, 0);
  EXPECT_EQ(v.mail.port, 0);
  EXPECT_EQ(v.runApp, 0);
  EXPECT_EQ(v.alertTemplate.title, "");
  EXPECT_EQ(v.alertTemplate.message, "");
}

TEST_P(SettingsAgainstStore, SavingKeepsValuesOutsideTheObjectAndStoresEmptiedTexts) {
  ASSERT_TRUE(store_->Write("EMailReport\\lastReportTime", "00 00 12 01 06 2024"));
  SettingsValues v;
  v.mail.password = "secret";
  ASSERT_TRUE(Settings(v).Save(*store_));
  v.mail.password = "";
  ASSERT_TRUE(Settings(v).Save(*store_));
  Settings loaded;
  loaded.Load(*store_);
  EXPECT_EQ(loaded.GetMail().password, "");
  EXPECT_EQ(store_->Read("EMailReport\\lastReportTime"), "00 00 12 01 06 2024");
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsAgainstStore,
                         testing::Values(testing_support::kFileSettingsStore,
                                         testing_support::kMemorySettingsStore),
                         testing_support::SettingsStoreName);

TEST(SettingsFile, SavedInOrderIntoAPrivateFileAtTheBasePath) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path());
  Settings::SetRegistryBasePath("");
  EXPECT_FALSE(Settings(AllValues()).Save());  // before start-up set the base: nothing written
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  Settings::SetRegistryBasePath(platform::MakeRegistryBasePath());
  ASSERT_TRUE(Settings(AllValues()).Save());
  std::string path = dir.File("Zephrane Software/Lumivar.conf");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // The file lists the values in their order, each once; the message is one escaped line.
  std::ifstream in(path);
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '[') continue;
    names.push_back(line.substr(0, line.find('=')));
    if (names.back() == "message") {
      EXPECT_EQ(line, "message=%ALERT_TIME%\\r\\n\tWert: %ATTRIBUTE_VALUE%\\r\\n\\r\\n東京");
    }
  }
  ASSERT_EQ(names.size(), kAllValues.size());
  for (size_t i = 0; i < names.size(); ++i) {
    std::string path = kAllValues[i].path;
    EXPECT_EQ(names[i], path.substr(path.rfind('\\') + 1));
  }

  Settings loaded;
  EXPECT_EQ(loaded.Load(), std::nullopt);
  EXPECT_EQ(loaded.Get(), AllValues());
  Settings::SetRegistryBasePath("");
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A settings file with a line that does not parse: Load leaves the defaults, moves the
// file aside (never over an earlier copy) and says so; the next save writes a new file
// that loads whole. What cannot be moved stays, and its saves say why they fail.
TEST(SettingsFile, AnUnreadableFileIsKeptAsideAndTheNextSaveWritesANewOne) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path());
  Settings::SetRegistryBasePath(platform::MakeRegistryBasePath());
  const std::string path = dir.File("Zephrane Software/Lumivar.conf");
  for (const std::string& kept : {path + ".bad", path + ".bad.2"}) {
    SCOPED_TRACE(kept);
    ASSERT_TRUE(Settings(AllValues()).Save());
    std::string broken = ReadBytes(path);
    broken.insert(broken.find('\n') + 1, "a line without an equals sign\n");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << broken;

    Settings settings;
    const std::optional<SettingsLoadProblem> problem = settings.Load();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->path, path);
    EXPECT_EQ(problem->line, 2);
    EXPECT_NE(problem->text.find("a line without an equals sign"), std::string::npos);
    EXPECT_EQ(problem->keptAs, kept);
    EXPECT_EQ(settings.Get(), SettingsValues());
    EXPECT_EQ(ReadBytes(kept), broken);
    EXPECT_FALSE(std::filesystem::exists(path));
    const std::string message = SettingsLoadProblemMessage(*problem);
    for (const std::string& part :
         {"The settings file " + path + " cannot be read at line 2: ",
          std::string("starts with the default settings"), "the file is kept as " + kept + "."}) {
      EXPECT_NE(message.find(part), std::string::npos) << message;
    }

    settings.Set(AllValues());
    EXPECT_EQ(settings.SaveToFile(), std::nullopt);
    Settings reloaded;
    EXPECT_EQ(reloaded.Load(), std::nullopt);
    EXPECT_EQ(reloaded.Get(), AllValues());
  }
  EXPECT_NE(ReadBytes(path + ".bad"), ReadBytes(path));

  // A folder where the file should be is neither read, moved nor written over.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  Settings settings;
  const std::optional<SettingsLoadProblem> problem = settings.Load();
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->line, 0);
  EXPECT_EQ(problem->keptAs, "");
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_NE(SettingsLoadProblemMessage(*problem).find("the file stays as it is"),
            std::string::npos);
  const std::optional<SettingsSaveProblem> refused = settings.SaveToFile();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->path, path);
  EXPECT_NE(refused->text, "");

  Settings::SetRegistryBasePath("");
  EXPECT_EQ(Settings().SaveToFile(), (SettingsSaveProblem{"", "no settings folder is known"}));
}

// The note an exit leaves stays through saves of the values, does not disturb them, and is
// taken once.
TEST(SettingsFile, TheExitNoteOutlivesSavesAndIsTakenOnce) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path());
  Settings::SetRegistryBasePath("");
  EXPECT_FALSE(Settings::LeaveExitNote("lost"));
  EXPECT_EQ(Settings::TakeExitNote(), "");

  Settings::SetRegistryBasePath(platform::MakeRegistryBasePath());
  EXPECT_EQ(Settings::TakeExitNote(), "");
  ASSERT_TRUE(Settings::LeaveExitNote("The changes\nwere lost."));
  ASSERT_TRUE(Settings(AllValues()).Save());
  Settings loaded;
  EXPECT_EQ(loaded.Load(), std::nullopt);
  EXPECT_EQ(loaded.Get(), AllValues());
  EXPECT_EQ(Settings::TakeExitNote(), "The changes\nwere lost.");
  EXPECT_EQ(Settings::TakeExitNote(), "");
  Settings::SetRegistryBasePath("");
}

TEST(Settings, CopiesAreWholeAndIndependent) {
  Settings original(AllValues());
  Settings copy = original;
  EXPECT_EQ(copy.Get(), AllValues());
  copy.SetRunApp(1);
  EXPECT_EQ(original.GetRunApp(), 0);
  original = Settings();
  EXPECT_EQ(original.Get(), SettingsValues());
  EXPECT_EQ(copy.GetMail().server, "smtp.example.org");
}

// Polling and report threads read through the engine's interface while the user interface
// assigns whole objects (a cancelled settings dialog). Every snapshot must be one of the
// assigned states, never a mix.
TEST(Settings, SnapshotsStayWholeWhileTheObjectIsAssigned) {
  Settings first;
  Settings second(AllValues());
  MailSettings mailA = first.GetMail(), mailB = second.GetMail();
  AlertMessageTemplate templateA = first.GetAlertTemplate(), templateB = second.GetAlertTemplate();

  Settings shared;
  const engine::ISettingsSource& source = shared;
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        MailSettings mail = source.GetMail();
        AlertMessageTemplate text = source.GetAlertTemplate();
        if (!(mail == mailA || mail == mailB)) ++torn;
        if (!(text == templateA || text == templateB)) ++torn;
      }
    });
  }
  for (int i = 0; i < 3000; ++i) shared = (i % 2 == 0) ? second : first;
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(torn.load(), 0);
}

TEST(DisplayText, NumbersAndTheirStoredText) {
  EXPECT_EQ(IntToDisplayText(-1), "-");
  EXPECT_EQ(IntToDisplayText(-2), "-2");
  EXPECT_EQ(IntToDisplayText(0), "0");
  EXPECT_EQ(IntToDisplayText(2147483647), "2147483647");
  EXPECT_EQ(Int64ToDisplayText(-1), "-");
  EXPECT_EQ(Int64ToDisplayText(1700000000123), "1700000000123");

  struct Case {
    std::string_view text;
    int value;
  };
  for (const Case& c :
       {Case{"", 0}, Case{"-", 0}, Case{"abc", 0}, Case{"42", 42}, Case{"-7", -7}, Case{"+5", 5},
        Case{" \t\n12abc", 12}, Case{"1 2", 1}, Case{"- 3", 0}, Case{"2147483647", 2147483647},
        Case{"2147483648", 2147483647}, Case{"-2147483648", -2147483647 - 1},
        Case{"-2147483649", -2147483647 - 1}, Case{"99999999999999999999999", 2147483647}}) {
    EXPECT_EQ(ParseLeadingInt(c.text), c.value) << c.text;
  }
}

}  // namespace
}  // namespace app
