#include "engine/actions/program_launcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using namespace std::chrono_literals;
using testing_support::ScopedEnv;
using testing_support::TempDir;

void WriteFile(const std::string& path, const std::string& text, bool executable) {
  std::ofstream(path) << text;
  chmod(path.c_str(), executable ? 0700 : 0600);
}

// The file's text once the started process has written a whole line; "" when nothing came
// within a few seconds.
std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    if (!text.str().empty() && text.str().back() == '\n') return text.str();
    std::this_thread::sleep_for(10ms);
  }
  return {};
}

// A script that writes its argument count and its arguments, $0 first, one per line. The
// lines go to a temporary file that is then renamed, so a reader never sees only the first
// lines (mv by its full path: a test may empty PATH).
std::string RecordingScript(const std::string& marker) {
  return "#!/bin/sh\n{ echo \"$#\"; for a in \"$0\" \"$@\"; do echo \"$a\"; done; } > '" + marker +
         ".tmp' && /bin/mv -f '" + marker + ".tmp' '" + marker + "'\n";
}

TEST(ProgramLauncherTest, ExecutableIsStartedDirectlyWithItsPathAsTheOnlyArgument) {
  TempDir dir;
  const std::string program = dir.File("my tool; rm -rf x");
  WriteFile(program, RecordingScript(dir.File("marker")), true);
  int pid = 0;
  EXPECT_EQ(StartProgram(program, &pid), platform::kOk);
  EXPECT_GT(pid, 0);
  EXPECT_EQ(WaitForFile(dir.File("marker")), "0\n" + program + "\n");
}

TEST(ProgramLauncherTest, AnythingElseGoesToXdgOpenAsOneArgument) {
  TempDir dir;
  TempDir bin;
  WriteFile(bin.File("xdg-open"), RecordingScript(dir.File("marker")), true);
  ScopedEnv path("PATH", bin.Path());
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  WriteFile(dir.File("report; echo hi.txt"), "text\n", false);
  WriteFile(dir.File("-n.txt"), "text\n", false);
  std::filesystem::create_directory(dir.File("a folder"));

  const std::pair<std::string, std::string> cases[] = {
      {dir.File("report; echo hi.txt"), dir.File("report; echo hi.txt")},
      {dir.File("a folder"), dir.File("a folder")},
      {"https://example.com/a b?c=1;d", "https://example.com/a b?c=1;d"},
      {"mailto:someone@example.com", "mailto:someone@example.com"},
      {"-n.txt", "./-n.txt"},  // not to be taken for an option
  };
  for (const auto& [target, argument] : cases) {
    std::filesystem::remove(dir.File("marker"));
    EXPECT_EQ(StartProgram(target), platform::kOk) << target;
    EXPECT_EQ(WaitForFile(dir.File("marker")),
              "1\n" + bin.File("xdg-open") + "\n" + argument + "\n");
  }
  std::filesystem::current_path(cwd);
}

TEST(ProgramLauncherTest, NothingToStartIsAFailure) {
  TempDir dir;
  TempDir emptyBin;
  WriteFile(dir.File("document.txt"), "text\n", false);
  WriteFile(dir.File("no-interpreter"), "not a program\n", true);
  int pid = -1;
  EXPECT_EQ(StartProgram("", &pid), platform::kFileNotFound);
  EXPECT_EQ(pid, 0);
  EXPECT_EQ(StartProgram(dir.File("missing"), &pid), platform::kFileNotFound);
  EXPECT_EQ(StartProgram(dir.File("document.txt/inside"), &pid), platform::kFileNotFound);
  EXPECT_NE(StartProgram(dir.File("no-interpreter"), &pid), platform::kOk);
  EXPECT_EQ(pid, 0);
  ScopedEnv path("PATH", emptyBin.Path());  // no xdg-open
  EXPECT_EQ(StartProgram(dir.File("document.txt"), &pid), platform::kFileNotFound);
}

TEST(ProgramLauncherTest, StartedProcessRunsInItsOwnSessionAndIsReaped) {
  TempDir dir;
  const std::string program = dir.File("session.sh");
  const std::string sid = dir.File("sid");
  WriteFile(
      program,
      "#!/bin/sh\nps -o sid= -p $$ > '" + sid + ".tmp' && mv '" + sid + ".tmp' '" + sid + "'\n",
      true);
  int pid = 0;
  ASSERT_EQ(StartProgram(program, &pid), platform::kOk);
  EXPECT_EQ(std::stoi(WaitForFile(sid)), pid);
  // Once it has ended nothing of it stays (a zombie keeps its /proc entry).
  const std::string proc = "/proc/" + std::to_string(pid);
  for (int i = 0; i < 500 && std::filesystem::exists(proc); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(std::filesystem::exists(proc));
}

}  // namespace
}  // namespace engine
