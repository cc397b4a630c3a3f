#include "app/views/welcome_view.h"

#include <webkit2/webkit2.h>
#include <wx/filename.h>
#include <wx/html/htmlwin.h>
#include <wx/webview.h>

#include "controls/accessible_name.h"

namespace app {

namespace {

// Scripts off on the desktop's web engine; other engines are left as they are.
void TurnScriptsOff(wxWebView* web) {
  void* native = web->GetNativeBackend();
  if (native == nullptr || !WEBKIT_IS_WEB_VIEW(native)) return;
  WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(native));
  webkit_settings_set_enable_javascript(settings, FALSE);
}

}  // namespace

bool IsPageAddress(const std::string& url, const std::string& pagePath) {
  if (pagePath.empty()) return false;
  std::string address = url.substr(0, url.find_first_of("#?"));
  if (address.rfind("file:", 0) != 0) return false;
  wxFileName file = wxFileName::URLToFileName(wxString::FromUTF8(address));
  if (!file.IsAbsolute()) return false;
  // Both without "." and ".." steps, as the page's address (PageUrl) has them.
  wxFileName page(wxString::FromUTF8(pagePath));
  const int steps = wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE;
  return file.Normalize(steps) && page.Normalize(steps) && file.GetFullPath() == page.GetFullPath();
}

WelcomeView::WelcomeView(wxWindow* parent, SnapshotSource snapshots)
    : BaseView(parent, std::move(snapshots)) {
  Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
    event.Skip();
    KeepPageInTree(event.IsShown() && firstLoadEnded_);
  });
}

// The web window is destroyed with the view's children, after this, as it was made.
WelcomeView::~WelcomeView() { KeepPageInTree(true); }

void WelcomeView::KeepPageInTree(bool inTree) {
  if (web_ == nullptr || inTree == (pageHolder_ == nullptr)) return;
  void* native = web_->GetNativeBackend();
  if (native == nullptr || !GTK_IS_WIDGET(native)) return;
  GtkWidget* engine = GTK_WIDGET(native);
  if (inTree) {
    gtk_container_add(GTK_CONTAINER(pageHolder_), engine);
    g_object_unref(engine);
    g_object_unref(pageHolder_);
    pageHolder_ = nullptr;
    return;
  }
  GtkWidget* holder = gtk_widget_get_parent(engine);
  if (holder == nullptr || !GTK_IS_CONTAINER(holder)) return;
  pageHolder_ = GTK_WIDGET(g_object_ref(holder));
  g_object_ref(engine);
  gtk_container_remove(GTK_CONTAINER(holder), engine);
}

void WelcomeView::SetPage(const std::string& path) { pagePath_ = path; }

std::string WelcomeView::PageUrl() const {
  return wxFileName::FileNameToURL(wxFileName(wxString::FromUTF8(pagePath_))).utf8_string();
}

wxWindow* WelcomeView::PageWindow() const {
  if (web_ != nullptr) return web_;
  return html_;
}

bool WelcomeView::PageInWidgetTree() const {
  if (web_ == nullptr) return false;
  void* native = web_->GetNativeBackend();
  return native != nullptr && GTK_IS_WIDGET(native) &&
         gtk_widget_get_parent(GTK_WIDGET(native)) != nullptr;
}

void WelcomeView::FirstLoadEnded() {
  if (firstLoadEnded_) return;
  firstLoadEnded_ = true;
  KeepPageInTree(IsShown());
}

void WelcomeView::OnInitView(bool firstInit) {
  if (!firstInit) return;
  HideHeader();
  wxWindow* page = nullptr;
  if (wxWebView::IsBackendAvailable(wxWebViewBackendDefault)) {
    // Made with its page (when known) rather than an empty one, which would load after it.
    web_ = wxWebView::New(
        this, wxID_ANY,
        pagePath_.empty() ? wxString(wxWebViewDefaultURLStr) : wxString::FromUTF8(PageUrl()));
    if (web_ != nullptr) {
      TurnScriptsOff(web_);
      web_->EnableContextMenu(false);
      web_->Bind(wxEVT_WEBVIEW_NAVIGATING, &WelcomeView::OnNavigating, this);
      web_->Bind(wxEVT_WEBVIEW_LOADED, [this](wxWebViewEvent& event) {
        pageLoaded_ = IsPageAddress(event.GetURL().utf8_string(), pagePath_);
        FirstLoadEnded();
      });
      web_->Bind(wxEVT_WEBVIEW_ERROR, [this](wxWebViewEvent&) {
        pageLoaded_ = false;
        FirstLoadEnded();
      });
      if (!pagePath_.empty()) loadedUrl_ = PageUrl();
      page = web_;
    }
  }
  if (page == nullptr) {
    html_ = new wxHtmlWindow(this, wxID_ANY);
    // A link is never followed: the window shows its one page.
    html_->Bind(wxEVT_HTML_LINK_CLICKED, [](wxHtmlLinkEvent&) {});
    page = html_;
  }
  controls::SetAccessibleName(page, "Page");
  // The view's least size stays that of an empty view; the page scrolls.
  page->SetMinSize(wxSize(0, 0));
  Body()->Add(page, 1, wxEXPAND);
  Layout();
  // Laid out in its place, then kept out of the tree until its first load has ended.
  KeepPageInTree(false);
}

bool WelcomeView::UpdateView(bool save, int hint) {
  if (!save && hint == kRefreshShow) ShowPage();
  return true;
}

void WelcomeView::PagesWritten() {
  if (IsShown()) ShowPage();
}

void WelcomeView::ShowPage() {
  if (pagePath_.empty()) return;
  if (web_ != nullptr) {
    const std::string url = PageUrl();
    // Until the page has loaded, a reload would reload what was shown before it, so the
    // load starts again instead (at start-up the page may not be written yet).
    if (url == loadedUrl_ && pageLoaded_) {
      web_->Reload(wxWEBVIEW_RELOAD_NO_CACHE);
    } else {
      loadedUrl_ = url;
      web_->LoadURL(wxString::FromUTF8(url));
    }
  } else if (html_ != nullptr) {
    int x = 0;
    int y = 0;
    html_->GetViewStart(&x, &y);
    html_->LoadFile(wxFileName(wxString::FromUTF8(pagePath_)));
    html_->Scroll(x, y);
  }
}

void WelcomeView::OnNavigating(wxWebViewEvent& event) {
  if (!IsPageAddress(event.GetURL().utf8_string(), pagePath_)) event.Veto();
}

}  // namespace app
