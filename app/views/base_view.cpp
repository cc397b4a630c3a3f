#include "app/views/base_view.h"

#include <wx/settings.h>

#include <utility>

#include "controls/color_static.h"
#include "engine/store/window_store.h"

namespace app {

namespace {

constexpr int kIndent = 12;
// The lines' text cell heights, for a GUI font whose text is kReferenceTextHeight tall;
// scaled to this desktop's GUI font, so that the status stays readable where fonts are
// larger.
constexpr int kTitleHeight = 20;
constexpr int kStatusHeight = 12;
constexpr int kReferenceTextHeight = 13;
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

SnapshotSource SnapshotsOf(const engine::IWindowStore& storage) {
  return [&storage](const std::string& id) { return storage.GetMonitorSnapshot(id); };
}

namespace {

wxColour BandColour() {
  return HeaderBandColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT),
                          wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
}

// One line of the header band: as wide as the view, as tall as its text.
controls::ColorStatic* HeaderLine(wxWindow* parent, const std::string& text, int height,
                                  int weight) {
  controls::ColorStaticStyle style;
  style.back = BandColour();
  style.text = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
  style.height =
      (height * parent->GetCharHeight() + kReferenceTextHeight / 2) / kReferenceTextHeight;
  style.weight = weight;
  style.leftIndent = kIndent;
  auto* line = new controls::ColorStatic(parent, wxID_ANY, wxString::FromUTF8(text), style);
  line->SetMinSize(wxSize(0, line->GetBestSize().y));
  return line;
}

}  // namespace

BaseView::BaseView(wxWindow* parent, SnapshotSource snapshots, wxSize formSize, bool growWidth,
                   bool growHeight)
    : wxPanel(parent), snapshots_(std::move(snapshots)), formSize_(formSize) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  const HeaderTexts none = MakeHeaderTexts(nullptr);
  title_ = HeaderLine(this, none.title, kTitleHeight, wxFONTWEIGHT_BOLD);
  status_ = HeaderLine(this, none.status, kStatusHeight, wxFONTWEIGHT_NORMAL);
  sizer->Add(title_, 0, wxEXPAND);
  sizer->Add(status_, 0, wxEXPAND);
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

HeaderTexts BaseView::Header() const {
  return {title_->GetLabel().utf8_string(), status_->GetLabel().utf8_string()};
}

std::optional<engine::MonitorSnapshot> BaseView::SelectedMonitor() const {
  if (monitorId_.empty() || !snapshots_) return std::nullopt;
  return snapshots_(monitorId_);
}

void BaseView::HideHeader() {
  title_->Hide();
  status_->Hide();
  Layout();
}

void BaseView::RefreshHeader(const engine::MonitorSnapshot* monitor) {
  const wxColour band = BandColour();
  const HeaderTexts texts = MakeHeaderTexts(monitor);
  title_->SetLabel(wxString::FromUTF8(texts.title));
  status_->SetLabel(wxString::FromUTF8(texts.status));
  status_->SetBackColor(monitor ? StatusLineColour(monitor->statusColor, band) : band);
}

}  // namespace app
