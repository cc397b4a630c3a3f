// The settings store: path rules, the contract both stores keep, and the file store's
// location, file format, permissions and atomic, lock-guarded updates.
#include "platform/registry.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/settings_stores.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

unsigned Mode(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

TEST(SplitRegistryPath, SplitsAtTheLastBackslash) {
  struct Case {
    std::string_view path;
    std::string keyPath;
    std::string valueName;
  };
  for (const Case& c : {Case{"Interface\\wndX", "Interface", "wndX"}, Case{"runApp", "", "runApp"},
                        Case{"A\\B\\c", "A\\B", "c"}, Case{"\\runApp", "", "runApp"},
                        Case{"EMailReport\\last Report", "EMailReport", "last Report"},
                        Case{"Grüße\\wert", "Grüße", "wert"}}) {
    std::optional<RegistryLocation> location = SplitRegistryPath(c.path);
    ASSERT_TRUE(location) << c.path;
    EXPECT_EQ(location->keyPath, c.keyPath) << c.path;
    EXPECT_EQ(location->valueName, c.valueName) << c.path;
  }
}

TEST(SplitRegistryPath, RejectsWhatAKeyFileCannotHold) {
  for (std::string_view path : std::initializer_list<std::string_view>{
           "", "Interface\\", "A\\\\b", "A\\B\\\\c", "General\\x", "a[b", "x=y", " lead", "trail ",
           "#comment", "a\nb", "Tab\there\\x", "a/b\\c", "[group]\\x", "bad\xff\\x",
           std::string_view("nul\0x", 5)}) {
    EXPECT_FALSE(SplitRegistryPath(path)) << path;
  }
}

// The contract both stores keep.
class StoreContract : public testing::TestWithParam<testing_support::SettingsStoreKind> {
 protected:
  TempDir dir_;
  std::unique_ptr<SettingsStore> store_ = GetParam().make(dir_);
};

TEST_P(StoreContract, TextsRoundTrip) {
  const std::string texts[] = {
      "%ALERT_TIME%\r\n%ATTRIBUTE_NAME%\r\n\r\nend",
      "tab\there",
      "back\\slash \\n not a newline",
      "  edge blanks  ",
      "Zürich – 東京 ✓",
      "#not a comment; [not a group]",
      "a=b=c",
      "",
      "-",
  };
  for (const std::string& text : texts) {
    ASSERT_TRUE(store_->Write("AlertTemplate\\message", text)) << text;
    EXPECT_EQ(store_->Read("AlertTemplate\\message"), text);
  }
}

TEST_P(StoreContract, BaseValuesAndKeyPathsLandInTheirGroups) {
  EXPECT_EQ(store_->Read("runApp"), "");  // no value yet
  ASSERT_TRUE(store_->Write("runApp", "1"));
  ASSERT_TRUE(store_->Write("Interface\\wndX", "10"));
  ASSERT_TRUE(store_->Write("A\\B\\deep", "x"));
  EXPECT_EQ(store_->Read("wndX"), "");
  EXPECT_EQ(store_->Read("Interface\\runApp"), "");
  EXPECT_EQ(store_->Read("runApp"), "1");
  EXPECT_EQ(store_->Read("Interface\\wndX"), "10");
  EXPECT_EQ(store_->Read("A\\B\\deep"), "x");
}

TEST_P(StoreContract, RejectedWritesChangeNothing) {
  ASSERT_TRUE(store_->Write("EMailReport\\server", "mail.example"));
  EXPECT_FALSE(store_->Write("EMailReport\\", "x"));
  EXPECT_FALSE(store_->Write("EMailReport\\server", "bad\xc3"));
  EXPECT_FALSE(store_->Write("EMailReport\\server", std::string_view("nul\0x", 5)));
  const RegistryValue batch[] = {{"EMailReport\\server", "other"}, {"x=y", "1"}};
  EXPECT_FALSE(store_->Write(batch));
  EXPECT_EQ(store_->Read("EMailReport\\server"), "mail.example");
  EXPECT_EQ(store_->Read("x=y"), "");
}

// The report thread writes its time while the user interface saves everything: neither
// write may lose the other.
TEST_P(StoreContract, ConcurrentWritersLoseNothing) {
  constexpr int kRounds = 40;
  auto writer = [this](std::string path) {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_TRUE(store_->Write(path + std::to_string(i), std::to_string(i)));
    }
  };
  std::thread first(writer, "EMailReport\\a");
  std::thread second(writer, "Interface\\b");
  first.join();
  second.join();
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_EQ(store_->Read("EMailReport\\a" + std::to_string(i)), std::to_string(i));
    EXPECT_EQ(store_->Read("Interface\\b" + std::to_string(i)), std::to_string(i));
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract,
                         testing::Values(testing_support::kFileSettingsStore,
                                         testing_support::kMemorySettingsStore),
                         testing_support::SettingsStoreName);

TEST(FileSettingsStore, WritesAPrivateKeyFileAtomically) {
  TempDir dir;
  std::string path = dir.File("Zephrane Software/Lumivar.conf");
  FileSettingsStore store(path);
  EXPECT_EQ(store.Read("runApp"), "");
  EXPECT_FALSE(std::filesystem::exists(path));  // reading creates nothing

  ASSERT_TRUE(store.Write("AlertTemplate\\message", "a\r\nb"));
  EXPECT_EQ(Mode(path), 0600u);
  EXPECT_EQ(Mode(dir.File("Zephrane Software")), 0700u);
  EXPECT_EQ(ReadFile(path), "[AlertTemplate]\nmessage=a\\r\\nb\n");
  // Values at the base go to [General], key paths to groups of their own.
  const RegistryValue more[] = {{"runApp", "1"}, {"Interface\\wndX", "10"}, {"A\\B\\deep", "x"}};
  ASSERT_TRUE(store.Write(more));
  EXPECT_EQ(ReadFile(path),
            "[AlertTemplate]\nmessage=a\\r\\nb\n\n[General]\nrunApp=1\n\n[Interface]\nwndX=10\n\n"
            "[A/B]\ndeep=x\n");
  // Only the file itself is left behind: no temporary file.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("Zephrane Software"))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(FileSettingsStore, KeepsWhatItDoesNotOwnAndTightensTheMode) {
  TempDir dir;
  std::string path = dir.File("Lumivar.conf");
  WriteFile(path, "# kept comment\n[General]\nrunApp=0\nhideSplash[de]=1\n");
  chmod(path.c_str(), 0644);
  FileSettingsStore store(path);
  ASSERT_TRUE(store.Write("runApp", "1"));
  std::string text = ReadFile(path);
  EXPECT_NE(text.find("# kept comment"), std::string::npos) << text;
  EXPECT_NE(text.find("hideSplash[de]=1"), std::string::npos) << text;
  EXPECT_EQ(store.Read("runApp"), "1");
  EXPECT_EQ(Mode(path), 0600u);
}

TEST(FileSettingsStore, NeverOverwritesAFileItCannotParseAndSaysWhy) {
  TempDir dir;
  std::string path = dir.File("Lumivar.conf");
  const std::string broken = "[General]\nrunApp=1\nthis is not a key file\n";
  WriteFile(path, broken);
  FileSettingsStore store(path);
  EXPECT_EQ(store.Read("runApp"), "");
  EXPECT_FALSE(store.Write("runApp", "0"));
  EXPECT_EQ(ReadFile(path), broken);
  EXPECT_TRUE(store.WriteProblem().starts_with("line 3: ")) << store.WriteProblem();
  EXPECT_NE(store.WriteProblem().find("this is not a key file"), std::string::npos);

  // A folder that cannot be made: a file stands where it should be.
  WriteFile(dir.File("blocker"), "");
  FileSettingsStore blocked(dir.File("blocker/Lumivar.conf"));
  EXPECT_FALSE(blocked.Write("runApp", "0"));
  EXPECT_NE(blocked.WriteProblem(), "");

  std::filesystem::remove(path);
  EXPECT_TRUE(store.Write("runApp", "0"));
  EXPECT_EQ(store.WriteProblem(), "");
}

// The first line the key-file parser rejects, found in files of any length; a file that
// parses, or none at all, is no problem.
TEST(FileSettingsStore, ReadProblemNamesTheFirstLineThatDoesNotParse) {
  std::string longFile = "# written by hand\n[General]\n";
  for (int i = 0; i < 500; ++i)
    longFile += "value" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  const struct {
    std::string text;
    int line;  // 0: the file parses
    const char* named;
  } cases[] = {
      {"[General]\nrunApp=0\nno equals sign here\nhideSplash=1\n", 3, "no equals sign here"},
      {"runApp=0\n[General]\n", 1, ""},  // a value before any group
      {"[General]\nrunApp=0\n[Interface\nwndX=1\n", 3, ""},
      {"[General]\nrunApp=0\nthe last line, without newline", 3, "the last line"},
      {"[General]\r\nrunApp=0\r\nbroken\r\n", 3, "broken"},
      {longFile + "broken\nrunApp=1\n", 503, "broken"},
      {longFile, 0, ""},
      {"# only a comment\n\n[General]\nrunApp=0\n", 0, ""},
      {"", 0, ""},
  };
  TempDir dir;
  const std::string path = dir.File("Lumivar.conf");
  FileSettingsStore store(path);
  EXPECT_EQ(store.ReadProblem(), std::nullopt);  // no file
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    WriteFile(path, c.text);
    const std::optional<SettingsFileProblem> problem = store.ReadProblem();
    if (c.line == 0) {
      EXPECT_EQ(problem, std::nullopt);
      continue;
    }
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->line, c.line);
    EXPECT_NE(problem->text.find(c.named), std::string::npos) << problem->text;
  }
  // A file that cannot be read at all concerns no line.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  const std::optional<SettingsFileProblem> folder = store.ReadProblem();
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->line, 0);
  EXPECT_NE(folder->text, "");
}

TEST(SettingsFilePath, FollowsTheBasePathAndTheConfigurationFolder) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path());
  EXPECT_EQ(MakeRegistryBasePath(), "Software\\Zephrane Software\\Lumivar\\");
  EXPECT_EQ(SettingsFilePath(MakeRegistryBasePath()), dir.File("Zephrane Software/Lumivar.conf"));
  EXPECT_EQ(SettingsFilePath("Software\\Lumivar"), dir.File("Lumivar.conf"));
  for (std::string_view unusable :
       {"", "Software\\", "Other\\Maker\\Product\\", "Software\\..\\x\\", "Software\\a/b\\c\\"}) {
    EXPECT_EQ(SettingsFilePath(unusable), "") << unusable;
  }
  {
    ScopedEnv home("HOME", dir.File("home"));
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(SettingsFilePath("Software\\A\\B\\"), dir.File("home/.config/A/B.conf"));
    ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(SettingsFilePath("Software\\A\\B\\"), dir.File("home/.config/A/B.conf"));
  }
}

// The process-wide helpers: nothing without a base path; with it, the report's time in
// the private file under the configuration folder, which is looked up on every use.
TEST(ProcessRegistry, LastReportTimeGoesThroughTheHelpers) {
  TempDir dir, other;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path());
  SetRegistryBasePath("");
  EXPECT_EQ(OpenRegistryStore(), nullptr);
  EXPECT_FALSE(WriteRegistryString("runApp", "1"));
  EXPECT_EQ(ReadRegistryString("runApp"), "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  SetRegistryBasePath(MakeRegistryBasePath());
  EXPECT_EQ(ReadRegistryString("EMailReport\\lastReportTime"), "");
  ASSERT_TRUE(WriteRegistryString("EMailReport\\lastReportTime", "07 30 14 05 03 2024"));
  EXPECT_EQ(ReadRegistryString("EMailReport\\lastReportTime"), "07 30 14 05 03 2024");
  std::string path = dir.File("Zephrane Software/Lumivar.conf");
  EXPECT_EQ(ReadFile(path), "[EMailReport]\nlastReportTime=07 30 14 05 03 2024\n");
  EXPECT_EQ(Mode(path), 0600u);

  ScopedEnv moved("XDG_CONFIG_HOME", other.Path());
  EXPECT_EQ(ReadRegistryString("EMailReport\\lastReportTime"), "");
  ASSERT_TRUE(WriteRegistryString("runApp", "0"));
  EXPECT_TRUE(std::filesystem::exists(other.File("Zephrane Software/Lumivar.conf")));
  SetRegistryBasePath("");
}

}  // namespace
}  // namespace platform
