#include "app/online_help.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/utils.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "engine/data/data_files.h"
#include "res/help_page.h"

namespace app {
namespace {

constexpr const char* kHelpFileName = "help.html";

}  // namespace

std::string EnsureHelpPage(const std::string& dataFolder) {
  if (dataFolder.empty()) return {};
  const std::filesystem::path path = std::filesystem::path(dataFolder) / kHelpFileName;
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) return path.string();

  // Written beside it and renamed, so that a failed write never leaves half a page.
  std::filesystem::path part = path;
  part += ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << res::HelpPageHtml();
    out.close();
    if (!out) {
      std::filesystem::remove(part, error);
      return {};
    }
  }
  std::filesystem::rename(part, path, error);
  if (error) {
    std::filesystem::remove(part, error);
    return {};
  }
  return path.string();
}

void OpenOnlineHelp() {
  const std::string page = EnsureHelpPage(engine::DataFiles::DataFolder());
  if (page.empty()) return;
  // A browser that cannot be started is not reported.
  wxLogNull quiet;
  wxLaunchDefaultBrowser(wxFileName::FileNameToURL(wxFileName(wxString::FromUTF8(page))));
}

}  // namespace app
