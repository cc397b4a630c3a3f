// The start-at-login entry: the Exec line as a desktop session's parser reads it back, the
// folder from the environment, writing and removing (twice each), a failed write that
// leaves nothing behind, and a reader that never sees part of a file.
#include "app/autostart.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace app {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The arguments a desktop session starts: the Exec string value read by GLib's key-file
// parser, "%%" taken as "%", then split by the shell quoting rules.
std::vector<std::string> ExecArguments(const std::string& entryText) {
  GKeyFile* file = g_key_file_new();
  std::vector<std::string> arguments;
  if (g_key_file_load_from_data(file, entryText.data(), entryText.size(), G_KEY_FILE_NONE,
                                nullptr)) {
    if (gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr)) {
      std::string line;
      for (const gchar* c = exec; *c != '\0'; ++c) {
        line += *c;
        if (c[0] == '%' && c[1] == '%') ++c;
      }
      g_free(exec);
      gchar** argv = nullptr;
      if (g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) {
        for (gchar** a = argv; *a != nullptr; ++a) arguments.emplace_back(*a);
        g_strfreev(argv);
      }
    }
  }
  g_key_file_free(file);
  return arguments;
}

TEST(AutostartTest, ExecLineQuotesEveryReservedCharacter) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/opt/my apps/lumivar", R"("/opt/my apps/lumivar")"},
      {"/x y/$HOME \"q\" \\n `ls`/lumivar", R"("/x y/\\$HOME \\"q\\" \\\\n \\`ls\\`/lumivar")"},
      {"/home/50%\t/lumivar", R"("/home/50%%\t/lumivar")"},
  };
  for (const auto& [path, quoted] : cases) {
    EXPECT_EQ(QuoteExecArgument(path), quoted) << path;
    const std::vector<std::string> expected = {path, "autorun"};
    EXPECT_EQ(ExecArguments(AutostartEntryText(path)), expected) << path;
  }
  EXPECT_EQ(AutostartEntryText("/opt/lumivar"),
            "[Desktop Entry]\nType=Application\nName=Lumivar\nExec=\"/opt/lumivar\" autorun\n");
}

TEST(AutostartTest, FolderAndProgramPath) {
  struct Case {
    std::optional<std::string> config;
    std::optional<std::string> home;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {"/cfg", "/home/ann", "/cfg/autostart"},
      {"relative/cfg", "/home/ann", "/home/ann/.config/autostart"},  // not absolute: ignored
      {std::nullopt, "/home/ann", "/home/ann/.config/autostart"},
      {std::nullopt, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const ScopedEnv config("XDG_CONFIG_HOME", c.config);
    const ScopedEnv home("HOME", c.home);
    EXPECT_EQ(AutostartFolder(), c.folder) << c.config.value_or("(unset)");
  }
  EXPECT_EQ(std::filesystem::path(ProgramPath()).filename(), "app_autostart_test");
}

TEST(AutostartTest, WriteAndRemoveTwice) {
  const TempDir dir;
  const ScopedEnv config("XDG_CONFIG_HOME", dir.File("config"));
  const AutostartEntry entry;
  const std::string folder = dir.File("config/autostart");
  EXPECT_EQ(entry.Path(), folder + "/Lumivar.desktop");
  EXPECT_FALSE(entry.Exists());
  EXPECT_TRUE(entry.Remove());
  EXPECT_TRUE(AutostartEntry("").Remove());  // no folder known: no entry anywhere
  EXPECT_FALSE(AutostartEntry("").Write("/opt/a"));

  for (const char* program : {"/opt/a", "/opt/b"}) {
    ASSERT_TRUE(entry.Write(program));
    EXPECT_EQ(ReadFile(entry.Path()), AutostartEntryText(program));
  }
  EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);

  for (int i = 0; i < 2; ++i) EXPECT_TRUE(entry.Remove());
  EXPECT_FALSE(entry.Exists());

  // A write that cannot replace the file (a folder in its place) leaves no temporary file.
  std::filesystem::create_directory(entry.Path());
  EXPECT_FALSE(entry.Write("/opt/lumivar"));
  EXPECT_FALSE(entry.Exists());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST(AutostartTest, ReaderNeverSeesPartOfAFile) {
  const TempDir dir;
  const AutostartEntry entry(dir.Path());
  // Large enough that a plain rewrite would be seen half done.
  const std::string first = "/opt/" + std::string(200000, 'a');
  const std::string second = "/opt/" + std::string(100000, 'b');
  ASSERT_TRUE(entry.Write(first));
  const std::string firstText = AutostartEntryText(first);
  const std::string secondText = AutostartEntryText(second);

  std::atomic<bool> done = false;
  std::thread writer([&] {
    for (int i = 0; i < 60; ++i) entry.Write(i % 2 == 0 ? second : first);
    done = true;
  });
  int reads = 0;
  int torn = 0;
  while (!done || reads == 0) {
    const std::string text = ReadFile(entry.Path());
    if (text != firstText && text != secondText) ++torn;
    ++reads;
  }
  writer.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
}

}  // namespace
}  // namespace app
