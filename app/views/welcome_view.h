// The welcome views: one of the program's HTML pages from the data folder (the overview of
// all monitors, or the list of actions) filling the whole view, with no header band. The
// page is shown by the desktop's web engine with scripts off, and the view never leaves
// for another address; without a web engine a plain HTML window shows it. UI thread only.
#pragma once

#include <string>

#include "app/views/base_view.h"

typedef struct _GtkWidget GtkWidget;
class wxHtmlWindow;
class wxWebView;
class wxWebViewEvent;

namespace app {

// Whether a navigation to url stays on the page file at pagePath: a file URL of that very
// file, with or without an anchor or a query.
bool IsPageAddress(const std::string& url, const std::string& pagePath);

class WelcomeView : public BaseView {
 public:
  WelcomeView(wxWindow* parent, SnapshotSource snapshots);
  ~WelcomeView() override;

  // The page file to show (an absolute path); set once, before the view is first shown.
  void SetPage(const std::string& path);
  const std::string& Page() const { return pagePath_; }

  // Loading shows the page again: a reload when it is already shown, which keeps the
  // scroll position. Saving has nothing to store. Notifications of polls change nothing:
  // the page follows PagesWritten.
  bool UpdateView(bool save, int hint) override;
  // Reloads the page when this view is the one shown.
  void PagesWritten() override;

  // The window showing the page: null until the view is first shown.
  wxWindow* PageWindow() const;
  // Whether the web engine's widget is in the widget tree (drawn while the view shows);
  // false without a web engine.
  bool PageInWidgetTree() const;
  // The page's address as a file URL.
  std::string PageUrl() const;

 protected:
  void OnInitView(bool firstInit) override;

 private:
  void ShowPage();
  void OnNavigating(wxWebViewEvent& event);
  // A web page reports itself showing to screen readers even in a hidden view, so while
  // the view is hidden the web engine's widget is taken out of the widget tree (the engine
  // keeps its page) and put back when the view shows again. Until the engine has ended its
  // first load (loaded or failed) the widget stays out as well: drawing it before then
  // makes the UI thread wait for the engine's process to draw its first page, which takes
  // long while that process starts beside hundreds of monitors' first polls.
  void KeepPageInTree(bool inTree);
  // The first load has ended: the widget joins the tree when the view shows.
  void FirstLoadEnded();

  std::string pagePath_;
  wxWebView* web_ = nullptr;
  wxHtmlWindow* html_ = nullptr;
  // The URL the web view was last told to load; "" before the first load.
  std::string loadedUrl_;
  // The page has finished loading at loadedUrl_ (until then a reload would reload what
  // was shown before it).
  bool pageLoaded_ = false;
  // The widget that held the web engine's widget while that is out of the tree.
  GtkWidget* pageHolder_ = nullptr;
  // The web engine has ended a load since the view made it.
  bool firstLoadEnded_ = false;
};

}  // namespace app
