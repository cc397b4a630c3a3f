#include "engine/program_launcher.h"

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

// The file's text once something has been written to it (the started process writes it
// on its own time); "" when nothing came within a few seconds.
std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (!text.str().empty() && text.str().back() == '\n') return text.str();
    std::this_thread::sleep_for(10ms);
  }
  return {};
}

// A script that records its argument count and arguments (one per line) in `marker`.
std::string RecordingScript(const std::string& marker) {
  return "#!/bin/sh\n{ echo \"$#\"; for a in \"$0\" \"$@\"; do echo \"$a\"; done; } > '" + marker +
         "'\n";
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

  const std::string document = dir.File("report; echo hi.txt");
  WriteFile(document, "text\n", false);
  const std::string folder = dir.File("a folder");
  std::filesystem::create_directory(folder);

  struct Case {
    std::string path;
    std::string argument;
  };
  const Case cases[] = {
      {document, document},
      {folder, folder},
      {"https://example.com/a b?c=1;d", "https://example.com/a b?c=1;d"},
      {"mailto:someone@example.com", "mailto:someone@example.com"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir.File("marker"));
    EXPECT_EQ(StartProgram(c.path), platform::kOk) << c.path;
    EXPECT_EQ(WaitForFile(dir.File("marker")),
              "1\n" + bin.File("xdg-open") + "\n" + c.argument + "\n")
        << c.path;
  }
}

TEST(ProgramLauncherTest, ArgumentBeginningWithADashIsNotTakenForAnOption) {
  TempDir dir;
  TempDir bin;
  WriteFile(bin.File("xdg-open"), RecordingScript(dir.File("marker")), true);
  ScopedEnv path("PATH", bin.Path());
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  WriteFile(dir.File("-n.txt"), "text\n", false);

  EXPECT_EQ(StartProgram("-n.txt"), platform::kOk);
  EXPECT_EQ(WaitForFile(dir.File("marker")), "1\n" + bin.File("xdg-open") + "\n./-n.txt\n");
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
  {
    ScopedEnv path("PATH", emptyBin.Path());
    EXPECT_EQ(StartProgram(dir.File("document.txt"), &pid), platform::kFileNotFound);
  }
}

TEST(ProgramLauncherTest, StartedProcessIsReapedAndRunsInItsOwnSession) {
  TempDir dir;
  const std::string program = dir.File("session.sh");
  WriteFile(program,
            "#!/bin/sh\nps -o sid= -p $$ > '" + dir.File("sid") + ".tmp' && mv '" +
                dir.File("sid") + ".tmp' '" + dir.File("sid") + "'\n",
            true);
  int pid = 0;
  ASSERT_EQ(StartProgram(program, &pid), platform::kOk);
  const std::string sid = WaitForFile(dir.File("sid"));
  EXPECT_EQ(std::stoi(sid), pid);

  // Once it has ended, nothing of it stays (a zombie keeps its /proc entry).
  const std::string proc = "/proc/" + std::to_string(pid);
  for (int i = 0; i < 500 && std::filesystem::exists(proc); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(std::filesystem::exists(proc));
}

}  // namespace
}  // namespace engine
