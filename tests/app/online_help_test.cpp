// The help page in the data folder: written when missing, an existing file kept, and ""
// where it cannot be written.
#include "app/online_help.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "res/help_page.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(OnlineHelpTest, ThePageIsWrittenOnceAndKept) {
  const struct {
    const char* name;
    const char* before;  // the file's text beforehand; null: missing
    bool trailingSlash;
  } cases[] = {
      {"missing", nullptr, true},
      {"missing, folder without a slash", nullptr, false},
      {"there already", "<p>edited by the user</p>", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir dir;
    const std::string page = dir.File("help.html");
    if (c.before != nullptr) std::ofstream(page) << c.before;
    EXPECT_EQ(EnsureHelpPage(dir.Path() + (c.trailingSlash ? "/" : "")), page);
    EXPECT_EQ(ReadFile(page), c.before != nullptr ? c.before : res::HelpPageHtml());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST(OnlineHelpTest, AFolderThatCannotTakeThePageGivesNothing) {
  testing_support::TempDir dir;
  std::ofstream(dir.File("plain")) << "a file, not a folder";
  std::filesystem::create_directory(dir.File("taken"));
  std::filesystem::create_directory(dir.File("taken/help.html"));
  for (const std::string& folder :
       {std::string(), dir.File("plain") + "/", dir.File("missing/deeper") + "/"}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(EnsureHelpPage(folder), "");
  }
  // A folder named like the page is not a page, and no partial file is left beside it.
  EXPECT_EQ(EnsureHelpPage(dir.File("taken")), "");
  EXPECT_FALSE(std::filesystem::exists(dir.File("taken/help.html.part")));
}

}  // namespace
}  // namespace app
