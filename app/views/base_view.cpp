#include "app/views/base_view.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include <algorithm>

#include "engine/store/server_storage.h"

namespace app {

namespace {

constexpr int kIndent = 12;
// Share of the highlight colour in the band.
constexpr double kBandHighlightShare = 0.25;

unsigned char Mix(unsigned char a, unsigned char b, double shareOfA) {
  return static_cast<unsigned char>(a * shareOfA + b * (1.0 - shareOfA) + 0.5);
}

}  // namespace

HeaderTexts MakeHeaderTexts(const engine::MonitorSnapshot* monitor) {
  if (!monitor) return {"Lumivar", ""};
  const engine::MonitorSettings& s = monitor->settings;
  std::string title = s.name;
  if (!s.address.empty()) title += " (" + s.address + ")";
  return {title, monitor->statusText};
}

wxColour HeaderBandColour(const wxColour& highlight, const wxColour& window) {
  return wxColour(Mix(highlight.Red(), window.Red(), kBandHighlightShare),
                  Mix(highlight.Green(), window.Green(), kBandHighlightShare),
                  Mix(highlight.Blue(), window.Blue(), kBandHighlightShare));
}

wxColour StatusLineColour(const engine::StatusColor& color, const wxColour& band) {
  if (color.inactiveCaption) return band;
  return wxColour(color.red, color.green, color.blue);
}

SnapshotSource SnapshotsOf(const engine::ServerStorage& storage) {
  return [&storage](const std::string& id) { return storage.GetMonitorSnapshot(id); };
}

// The two header lines, painted: the title in bold on the band, the status below it on
// its own colour, both indented and vertically centred in their lines.
class HeaderBand : public wxPanel {
 public:
  explicit HeaderBand(wxWindow* parent) : wxPanel(parent) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    titleFont_ = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    titleFont_.SetWeight(wxFONTWEIGHT_BOLD);
    titleFont_.SetFractionalPointSize(titleFont_.GetFractionalPointSize() * 1.2);
    statusFont_ = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    statusFont_.SetFractionalPointSize(statusFont_.GetFractionalPointSize() * 0.9);
    titleHeight_ = std::max(20, GetTextExtentOf(titleFont_) + 6);
    statusHeight_ = std::max(12, GetTextExtentOf(statusFont_) + 4);
    SetMinSize(wxSize(-1, titleHeight_ + statusHeight_));
    statusColour_ = BandColour();
    Bind(wxEVT_PAINT, &HeaderBand::OnPaint, this);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
      Refresh();
      event.Skip();
    });
  }

  void Set(const HeaderTexts& texts, const wxColour& statusColour) {
    if (texts == texts_ && statusColour == statusColour_) return;
    texts_ = texts;
    statusColour_ = statusColour;
    SetName(wxString::FromUTF8(texts_.title));
    Refresh();
  }
  const HeaderTexts& Texts() const { return texts_; }

  static wxColour BandColour() {
    return HeaderBandColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT),
                            wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
  }

 private:
  int GetTextExtentOf(const wxFont& font) const {
    int width = 0;
    int height = 0;
    GetTextExtent("Lumivar", &width, &height, nullptr, nullptr, &font);
    return height;
  }

  void OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const wxColour band = BandColour();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(band));
    dc.DrawRectangle(0, 0, size.x, titleHeight_);
    dc.SetBrush(wxBrush(statusColour_));
    dc.DrawRectangle(0, titleHeight_, size.x, size.y - titleHeight_);
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
    DrawLine(dc, titleFont_, texts_.title, 0, titleHeight_);
    DrawLine(dc, statusFont_, texts_.status, titleHeight_, size.y - titleHeight_);
  }

  void DrawLine(wxDC& dc, const wxFont& font, const std::string& text, int top, int height) {
    if (text.empty()) return;
    dc.SetFont(font);
    const wxString label = wxString::FromUTF8(text);
    const wxSize extent = dc.GetTextExtent(label);
    dc.SetClippingRegion(0, top, GetClientSize().x, height);
    dc.DrawText(label, kIndent, top + (height - extent.y) / 2);
    dc.DestroyClippingRegion();
  }

  wxFont titleFont_;
  wxFont statusFont_;
  int titleHeight_ = 20;
  int statusHeight_ = 12;
  HeaderTexts texts_{MakeHeaderTexts(nullptr)};
  wxColour statusColour_;
};

BaseView::BaseView(wxWindow* parent, SnapshotSource snapshots, wxSize formSize, bool growWidth,
                   bool growHeight)
    : wxPanel(parent), snapshots_(std::move(snapshots)), formSize_(formSize) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  header_ = new HeaderBand(this);
  sizer->Add(header_, 0, wxEXPAND);
  body_ = new wxBoxSizer(wxVERTICAL);
  sizer->Add(body_, 1, wxEXPAND);
  SetSizer(sizer);
  SetSizeLimits(growWidth, growHeight);
}

void BaseView::InitView() {
  const bool firstInit = !initialized_;
  initialized_ = true;
  OnInitView(firstInit);
  // Controls added on the first call count towards the least size.
  if (firstInit) SetSizeLimits(growWidth_, growHeight_);
}

bool BaseView::UpdateView(bool save, int /*hint*/) {
  if (save) return true;
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  RefreshHeader(monitor ? &*monitor : nullptr);
  return true;
}

bool BaseView::ReloadView() {
  if (!UpdateView(true, kRefreshShow)) return false;
  return UpdateView(false, kRefreshShow);
}

void BaseView::SetSizeLimits(bool growWidth, bool growHeight) {
  growWidth_ = growWidth;
  growHeight_ = growHeight;
  wxSize least = GetSizer()->GetMinSize();
  least.IncTo(formSize_);
  SetMinSize(least);
  SetMaxSize(wxSize(growWidth ? -1 : least.x, growHeight ? -1 : least.y));
}

HeaderTexts BaseView::Header() const { return header_->Texts(); }

std::optional<engine::MonitorSnapshot> BaseView::SelectedMonitor() const {
  if (monitorId_.empty() || !snapshots_) return std::nullopt;
  return snapshots_(monitorId_);
}

void BaseView::RefreshHeader(const engine::MonitorSnapshot* monitor) {
  const wxColour band = HeaderBand::BandColour();
  header_->Set(MakeHeaderTexts(monitor),
               monitor ? StatusLineColour(monitor->statusColor, band) : band);
}

}  // namespace app
