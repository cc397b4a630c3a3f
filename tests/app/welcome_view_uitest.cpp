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
#include <filesystem>
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

// Xvfb has no GPU for the web engine's compositing; set before wx starts.
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
    for (int i : {0, 1}) {
      views_[i] = new WelcomeView(book_, {});
      views_[i]->SetPage(dir_.File(i == 0 ? "index.html" : "actions.html"));
      book_->AddPage(views_[i], "welcome");
    }
    frame_->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame_->GetSizer()->Add(book_, 1, wxEXPAND);
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
  wxWebView* Web(int i) const { return dynamic_cast<wxWebView*>(views_[i]->PageWindow()); }
  // Waits until view i has loaded its page and shows that title.
  bool Shows(int i, const std::string& title) const {
    return PumpUntil([&] {
      return Web(i) != nullptr && !Web(i)->IsBusy() && Web(i)->GetCurrentTitle() == title;
    });
  }

  testing_support::TempDir dir_;
  wxFrame* frame_ = nullptr;
  wxSimplebook* book_ = nullptr;
  WelcomeView* views_[2] = {};
};

TEST_F(WelcomeViewUiTest, EachViewShowsItsOwnPageWithNoHeader) {
  engine::HtmlSnapshot snapshot;
  snapshot.now = 1796212800;
  std::string pages[2];
  engine::HtmlReport::BuildSnapshotPage(snapshot, pages[0]);
  engine::HtmlReport::BuildActionsPage(snapshot, pages[1]);
  for (int i : {0, 1}) std::ofstream(views_[i]->Page()) << pages[i];
  EXPECT_EQ(views_[0]->PageWindow(), nullptr) << "a view never shown has no browser";

  const char* const ends[] = {"/index.html", "/actions.html"};
  for (int i : {0, 1, 0}) {
    Show(i);
    ASSERT_TRUE(PumpUntil([&] {
      return !Web(i)->IsBusy() && Web(i)->GetCurrentURL().utf8_string().ends_with(ends[i]);
    })) << Web(i)->GetCurrentURL();
    EXPECT_EQ(views_[i]->PageWindow()->GetRect(), wxRect(views_[i]->GetClientSize()))
        << "the page does not fill the view";
    if (const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR")) {
      PumpFor(std::chrono::milliseconds(500));
      const std::string name = i == 0 ? "/welcome_index.png" : "/welcome_actions.png";
      testing_support::SaveWindowScreenshot(frame_, dir + name);
    }
  }
}

TEST_F(WelcomeViewUiTest, ScriptsDoNotRunAndNavigationStaysOnThePage) {
  WritePage(views_[0]->Page(), "plain", "<script>document.title = 'scripted';</script>");
  WritePage(dir_.File("other.html"), "other");
  Show(0);
  ASSERT_TRUE(Shows(0, "plain"));

  const std::string page = views_[0]->PageUrl();
  const std::string other = "file://" + dir_.File("other.html");
  const struct {
    std::string url;
    bool allowed;
  } cases[] = {{page, true},           {page + "#monitors", true},
               {other, false},         {"file://" + dir_.File("index.html.bak"), false},
               {"about:blank", false}, {"https://example.invalid/index.html", false}};
  for (const auto& c : cases) {
    wxWebViewEvent event(wxEVT_WEBVIEW_NAVIGATING, Web(0)->GetId(), c.url, "");
    Web(0)->GetEventHandler()->ProcessEvent(event);
    EXPECT_EQ(event.IsAllowed(), c.allowed) << c.url;
  }
  Web(0)->LoadURL(other);
  PumpFor(std::chrono::milliseconds(500));
  EXPECT_EQ(Web(0)->GetCurrentTitle(), "plain");
}

TEST_F(WelcomeViewUiTest, RewrittenPagesReloadOnlyInTheViewShown) {
  for (int i : {1, 0}) {
    WritePage(views_[i]->Page(), "old");
    Show(i);
    ASSERT_TRUE(Shows(i, "old"));
  }
  for (int i : {0, 1}) WritePage(views_[i]->Page(), "new");
  for (WelcomeView* view : views_) view->PagesWritten();
  EXPECT_TRUE(Shows(0, "new"));
  EXPECT_EQ(Web(1)->GetCurrentTitle(), "old");
  // A poll's notification alone reloads nothing; switching views does.
  WritePage(views_[0]->Page(), "newer");
  views_[0]->UpdateView(false, kRefreshNotify);
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(Web(0)->GetCurrentTitle(), "new");
  Show(1);
  EXPECT_TRUE(Shows(1, "new"));
}

// Drawing the web engine's widget before its first page has loaded makes the UI thread
// wait for the engine's process; the widget joins the tree only once that load has ended,
// loaded or failed, and leaves it again while the view is hidden.
TEST_F(WelcomeViewUiTest, ThePageIsDrawnOnlyOnceItsFirstLoadHasEnded) {
  WritePage(views_[0]->Page(), "first");
  Show(0);
  EXPECT_FALSE(views_[0]->PageInWidgetTree()) << "in the tree before its load has ended";
  ASSERT_TRUE(Shows(0, "first"));
  EXPECT_TRUE(PumpUntil([this] { return views_[0]->PageInWidgetTree(); }));
  EXPECT_EQ(views_[0]->PageWindow()->GetRect(), wxRect(views_[0]->GetClientSize()));

  // No page file yet (the start's first pages not written): the failed load ends it too.
  Show(1);
  EXPECT_FALSE(views_[1]->PageInWidgetTree());
  EXPECT_TRUE(PumpUntil([this] { return views_[1]->PageInWidgetTree(); }));
  EXPECT_FALSE(views_[0]->PageInWidgetTree()) << "a hidden view keeps its page out";

  Show(0);
  EXPECT_TRUE(PumpUntil([this] { return views_[0]->PageInWidgetTree(); }));
  EXPECT_FALSE(views_[1]->PageInWidgetTree());
}

// The data folder may come with "." or ".." steps, which the page's address leaves out.
TEST_F(WelcomeViewUiTest, APagePathWithDotStepsStillReloads) {
  std::filesystem::create_directory(dir_.File("sub"));
  views_[0]->SetPage(dir_.File("sub/.././index.html"));
  WritePage(views_[0]->Page(), "old");
  Show(0);
  ASSERT_TRUE(Shows(0, "old"));
  WritePage(views_[0]->Page(), "new");
  views_[0]->PagesWritten();
  EXPECT_TRUE(Shows(0, "new")) << Web(0)->GetCurrentTitle();
}

// At start-up the view shows before the pages are first written, and the news that they
// were written may come before the first load has even begun.
TEST_F(WelcomeViewUiTest, APageWrittenAfterTheFirstShowAppears) {
  Show(0);
  WritePage(views_[0]->Page(), "written");
  views_[0]->PagesWritten();
  EXPECT_TRUE(Shows(0, "written")) << Web(0)->GetCurrentTitle();
}

}  // namespace
}  // namespace app
