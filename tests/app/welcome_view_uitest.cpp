// The welcome views under a display: each shows its own page file filling the view with no
// header band, scripts do not run, no navigation leaves the page, and rewritten pages are
// reloaded only in the view that is shown. Web content pixels are never compared.
#include "app/views/welcome_view.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <wx/frame.h>
#include <wx/simplebook.h>
#include <wx/sizer.h>
#include <wx/webview.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/report/html_report.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

// The web engine's compositing needs a GPU that Xvfb has not; set before wx starts.
const int kNoCompositing = setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);

void WritePage(const std::string& path, const std::string& title, const std::string& body = "") {
  std::ofstream(path) << "<html><head><title>" << title << "</title></head><body>" << body
                      << "</body></html>";
}

class WelcomeViewUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)kNoCompositing;
    if (!wxWebView::IsBackendAvailable(wxWebViewBackendDefault)) GTEST_SKIP() << "no web view";
    frame_ = new wxFrame(nullptr, wxID_ANY, "welcome", wxPoint(0, 0), wxSize(640, 420));
    book_ = new wxSimplebook(frame_);
    for (WelcomeView*& view : views_) {
      view = new WelcomeView(book_, {});
      book_->AddPage(view, "welcome");
    }
    views_[0]->SetPage(dir_.File("index.html"));
    views_[1]->SetPage(dir_.File("actions.html"));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(book_, 1, wxEXPAND);
    frame_->SetSizer(sizer);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    if (frame_ != nullptr) frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }

  // Switches to view i the way the main window does.
  void Show(int i) {
    book_->SetSelection(i);
    views_[i]->InitView();
    views_[i]->UpdateView(false, kRefreshShow);
  }
  static wxWebView* Web(WelcomeView* view) { return dynamic_cast<wxWebView*>(view->PageWindow()); }
  // Waits until the view's page is loaded and shows that title.
  static bool Shows(WelcomeView* view, const std::string& title) {
    return PumpUntil([&] {
      wxWebView* web = Web(view);
      return web != nullptr && !web->IsBusy() && web->GetCurrentTitle().utf8_string() == title;
    });
  }

  void Screenshot(const char* name) {
    if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
      PumpFor(std::chrono::milliseconds(500));
      testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/" + name + ".png");
    }
  }

  testing_support::TempDir dir_;
  wxFrame* frame_ = nullptr;
  wxSimplebook* book_ = nullptr;
  WelcomeView* views_[2] = {};
};

TEST_F(WelcomeViewUiTest, EachViewShowsItsOwnPageWithNoHeader) {
  WritePage(dir_.File("index.html"), "Monitors page");
  WritePage(dir_.File("actions.html"), "Actions page");
  EXPECT_EQ(views_[0]->PageWindow(), nullptr) << "a view never shown has no browser";

  for (int i : {0, 1, 0}) {
    Show(i);
    ASSERT_TRUE(Shows(views_[i], i == 0 ? "Monitors page" : "Actions page")) << i;
    EXPECT_TRUE(Web(views_[i])->GetCurrentURL().utf8_string().ends_with(i == 0 ? "/index.html"
                                                                               : "/actions.html"))
        << Web(views_[i])->GetCurrentURL();
    wxWindow* page = views_[i]->PageWindow();
    EXPECT_EQ(page->GetPosition(), wxPoint(0, 0)) << "a header band above the page";
    EXPECT_EQ(page->GetSize(), views_[i]->GetClientSize());
  }
}

TEST_F(WelcomeViewUiTest, ScriptsDoNotRunAndNavigationStaysOnThePage) {
  WritePage(dir_.File("index.html"), "plain",
            "<script>document.title = 'scripted';</script><a href='other.html'>other</a>");
  WritePage(dir_.File("other.html"), "other");
  Show(0);
  ASSERT_TRUE(Shows(views_[0], "plain"));

  const std::string page = views_[0]->PageUrl();
  const struct {
    std::string url;
    bool allowed;
  } cases[] = {
      {page, true},
      {page + "#monitors", true},
      {"file://" + dir_.File("other.html"), false},
      {"file://" + dir_.File("index.html.bak"), false},
      {"https://example.invalid/", false},
      {"about:blank", false},
      {"", false},
  };
  for (const auto& c : cases) {
    wxWebViewEvent event(wxEVT_WEBVIEW_NAVIGATING, Web(views_[0])->GetId(),
                         wxString::FromUTF8(c.url), "");
    Web(views_[0])->GetEventHandler()->ProcessEvent(event);
    EXPECT_EQ(event.IsAllowed(), c.allowed) << c.url;
  }

  Web(views_[0])->LoadURL(wxString::FromUTF8("file://" + dir_.File("other.html")));
  PumpFor(std::chrono::milliseconds(500));
  EXPECT_EQ(Web(views_[0])->GetCurrentTitle(), "plain");
}

TEST_F(WelcomeViewUiTest, RewrittenPagesReloadOnlyInTheViewShown) {
  WritePage(dir_.File("index.html"), "index 1");
  WritePage(dir_.File("actions.html"), "actions 1");
  Show(1);
  ASSERT_TRUE(Shows(views_[1], "actions 1"));
  Show(0);
  ASSERT_TRUE(Shows(views_[0], "index 1"));

  WritePage(dir_.File("index.html"), "index 2");
  WritePage(dir_.File("actions.html"), "actions 2");
  for (WelcomeView* view : views_) view->PagesWritten();
  EXPECT_TRUE(Shows(views_[0], "index 2"));
  EXPECT_EQ(Web(views_[1])->GetCurrentTitle(), "actions 1");
  // A poll's notification alone reloads nothing.
  WritePage(dir_.File("index.html"), "index 3");
  views_[0]->UpdateView(false, kRefreshNotify);
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(Web(views_[0])->GetCurrentTitle(), "index 2");
  // Switching to the other view loads its page as written now.
  Show(1);
  EXPECT_TRUE(Shows(views_[1], "actions 2"));
}

TEST_F(WelcomeViewUiTest, ScreenshotsOfTheProgramsPages) {
  if (std::getenv("LUMIVAR_SCREENSHOT_DIR") == nullptr) GTEST_SKIP() << "no screenshot folder";
  engine::HtmlSnapshot snapshot;
  snapshot.now = 1796212800;
  std::string index;
  std::string actions;
  engine::HtmlReport::BuildSnapshotPage(snapshot, index);
  engine::HtmlReport::BuildActionsPage(snapshot, actions);
  std::ofstream(dir_.File("index.html")) << index;
  std::ofstream(dir_.File("actions.html")) << actions;
  for (int i : {0, 1}) {
    Show(i);
    ASSERT_TRUE(PumpUntil([&] { return !Web(views_[i])->IsBusy(); }));
    Screenshot(i == 0 ? "welcome_index" : "welcome_actions");
  }
}

}  // namespace
}  // namespace app
