// The window's seam: no view, dialog or new-monitor helper reaches, through any chain of the
// project's own includes, a header that hands out monitors or actions as objects. They see
// the store only through window_store.h.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = LUMIVAR_SOURCE_DIR;

// Headers that give out Server, ODBCDataSource or Action objects, or the store that does.
const char* const kForbidden[] = {
    "engine/store/server_storage.h",     "engine/monitor/server.h",
    "engine/monitor/odbc_data_source.h", "engine/actions/action.h",
    "engine/monitor_directory.h",        "engine/services.h",
};

// The project files a file includes: its quoted includes that exist under the root.
std::vector<std::string> ProjectIncludes(const std::string& file) {
  static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
  std::vector<std::string> found;
  std::ifstream in(kRoot / file);
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_search(line, match, kInclude) && fs::exists(kRoot / match[1].str()))
      found.push_back(match[1].str());
  }
  return found;
}

// "a -> b -> c" from start to the first forbidden header reached; "" when none is.
std::string ChainToForbidden(const std::string& start) {
  std::map<std::string, std::string> parent{{start, ""}};
  std::vector<std::string> pending{start};
  while (!pending.empty()) {
    const std::string file = pending.back();
    pending.pop_back();
    for (const char* forbidden : kForbidden) {
      if (file != forbidden) continue;
      std::string chain = file;
      for (std::string up = parent[file]; !up.empty(); up = parent[up]) chain = up + " -> " + chain;
      return chain;
    }
    for (const std::string& next : ProjectIncludes(file)) {
      if (parent.emplace(next, file).second) pending.push_back(next);
    }
  }
  return {};
}

std::vector<std::string> WindowSources() {
  std::vector<std::string> files{"app/new_monitor.h", "app/new_monitor.cpp"};
  for (const char* folder : {"app/views", "app/dialogs"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(kRoot / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension == ".h" || extension == ".cpp")
        files.push_back(fs::relative(entry.path(), kRoot).generic_string());
    }
  }
  return files;
}

TEST(WindowSeam, ViewsAndDialogsReachNoMonitorOrActionObject) {
  const std::vector<std::string> files = WindowSources();
  ASSERT_GT(files.size(), 20u);  // the folders were found
  for (const std::string& file : files) EXPECT_EQ(ChainToForbidden(file), "") << file;
}

TEST(WindowSeam, TheWalkFindsTheStoreBehindTheAppObject) {
  // The application object owns the store, so the walk must reach it from there.
  const std::string chain = ChainToForbidden("app/orbanel_app.h");
  EXPECT_NE(chain.find("app/orbanel_app.h -> "), std::string::npos) << chain;
}

}  // namespace
