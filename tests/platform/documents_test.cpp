#include "platform/documents.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing_support::ScopedEnv;
using testing_support::TempDir;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(DocumentsFolderTest, CreatesMissingFoldersPrivatelyOnEveryCall) {
  TempDir dir;
  ScopedEnv docs("LUMIVAR_DOCUMENTS_DIR", dir.File("a/b/"));
  const std::string folder = GetDocumentsFolder();
  EXPECT_EQ(folder, dir.File("a/b/Lumivar/"));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(ModeOf(dir.File("a")), 0700u);
  EXPECT_EQ(ModeOf(folder), 0700u);

  fs::remove(folder);
  EXPECT_EQ(GetDocumentsFolder(), folder);
  EXPECT_TRUE(fs::is_directory(folder));
}

// Under a regular file nothing can be created, even by root.
TEST(DocumentsFolderTest, UncreatableFolderNeverFallsBackToTheCurrentDirectory) {
  TempDir dir, cwd;
  std::ofstream(dir.File("file")) << "x";
  ScopedEnv docs("LUMIVAR_DOCUMENTS_DIR", dir.File("file/docs"));
  const fs::path oldCwd = fs::current_path();
  fs::current_path(cwd.Path());

  const std::string folder = GetDocumentsFolder();
  EXPECT_EQ(folder, dir.File("file/docs/Lumivar/"));
  EXPECT_EQ(std::fopen((folder + "varnholt.cfg").c_str(), "w"), nullptr);
  EXPECT_TRUE(fs::is_empty(cwd.Path()));
  fs::current_path(oldCwd);
}

// GLib caches the XDG folders per process, so this runs in a fresh child process.
TEST(DocumentsFolderTest, UsesTheXdgDocumentsFolderAndElseHomeDocuments) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir home;
  fs::create_directories(home.File("config"));
  std::ofstream(home.File("config/user-dirs.dirs")) << "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
  ScopedEnv docs("LUMIVAR_DOCUMENTS_DIR", std::nullopt);
  ScopedEnv homeEnv("HOME", home.Path());
  {
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    EXPECT_EXIT(std::exit(GetDocumentsFolder() == home.File("Papers/Lumivar/") ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
  }
  ScopedEnv config("XDG_CONFIG_HOME", home.File("none"));
  EXPECT_EXIT(std::exit(GetDocumentsFolder() == home.File("Documents/Lumivar/") ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(fs::exists("Lumivar"));
}

}  // namespace
}  // namespace platform
