#include "app/monitor_info_pane.h"

#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "controls/accessible_name.h"
#include "controls/color_background_panel.h"
#include "controls/color_list.h"
#include "controls/color_static.h"
#include "controls/font_scale.h"
#include "controls/image_strip.h"
#include "platform/time_format.h"
#include "res/art.h"

namespace app {

namespace {

constexpr int kTimeGranularity = 3;  // "14 Nov 2023 10:13 PM"
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
// The labels of the info list's rows, top to bottom.
constexpr const char* kRowLabels[] = {"Name", "Health", "Last alert", "Last polled at",
                                      "Next poll at"};

// Every " 0" becomes " ", scanning on after each replacement (" 00" gives " 0").
std::string DropZeroAfterBlank(std::string text) {
  std::size_t at = 0;
  while ((at = text.find(" 0", at)) != std::string::npos) {
    text.erase(at + 1, 1);
    at += 1;
  }
  return text;
}

// Two decimals, whatever locale the program runs in.
std::string FormatPercent(double percent) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, percent, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

bool Polled(const engine::MonitorSnapshot& monitor) {
  return monitor.running && !monitor.notPolledYet;
}

}  // namespace

std::string FormatDaySpan(std::string_view word, std::int64_t seconds) {
  seconds = std::max<std::int64_t>(0, seconds);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%.*s %02" PRId64 " Hours %02" PRId64 " Minutes",
                static_cast<int>(word.size()), word.data(), seconds / kSecondsPerHour,
                seconds % kSecondsPerHour / kSecondsPerMinute);
  return DropZeroAfterBlank(buffer);
}

std::vector<InfoRow> MakeInfoRows(const engine::MonitorSnapshot& monitor) {
  const engine::ODBCDataSourceData& sample = monitor.current;
  InfoRow health{kRowLabels[1], "OFF", res::kStatusOff};
  if (Polled(monitor)) {
    health.value = sample.GetHealthText();
    health.image = sample.health ? res::kStatusUp : res::kStatusDown;
  }
  std::string next = "-";
  if (monitor.running) {
    // A sample not taken yet has time 0, which shows as "-".
    const std::int64_t interval =
        std::max<std::int64_t>(1, monitor.settings.pollingInterval) * kSecondsPerMinute;
    next = platform::FormatTimeForDisplay(sample.time == 0 ? 0 : sample.time + interval,
                                          kTimeGranularity);
  }
  return {
      {kRowLabels[0], monitor.settings.name},
      health,
      {kRowLabels[2], platform::FormatTimeForDisplay(monitor.lastAlertTime, kTimeGranularity)},
      {kRowLabels[3], platform::FormatTimeForDisplay(sample.time, kTimeGranularity)},
      {kRowLabels[4], next},
  };
}

AvailabilityTexts MakeAvailabilityTexts(const engine::MonitorSnapshot& monitor) {
  AvailabilityTexts texts;
  const std::int64_t up = std::max<std::int64_t>(0, monitor.todayUptime);
  const std::int64_t down = std::max<std::int64_t>(0, monitor.todayDowntime);
  const double ratio =
      up + down == 0 ? 1.0 : static_cast<double>(up) / static_cast<double>(up + down);
  texts.uptimePercent = "Uptime " + FormatPercent(ratio * 100.0) + "%";
  if (Polled(monitor)) {
    texts.status = monitor.current.GetAvailabilityText();
    texts.statusImage = monitor.current.available ? res::kStatusUp : res::kStatusDown;
  } else {
    texts.status = "OFF";
    texts.statusImage = res::kStatusOff;
  }
  texts.uptime = FormatDaySpan("Uptime", up);
  texts.downtime = FormatDaySpan("Downtime", down);
  return texts;
}

MonitorCounts CountMonitors(const std::vector<engine::MonitorSummary>& monitors) {
  MonitorCounts counts;
  counts.total = static_cast<int>(monitors.size());
  for (const engine::MonitorSummary& monitor : monitors) {
    if (!monitor.running) {
      ++counts.off;
    } else if (monitor.notPolledYet || monitor.available) {
      ++counts.up;
    } else {
      ++counts.down;
    }
  }
  return counts;
}

// ---- the pane ----

namespace {

constexpr int kLabelColumnWidth = 90;
constexpr int kValueColumnWidth = 120;
constexpr int kMinValueColumnWidth = 20;
// The widest value a row shows, and the room an image takes before a value.
constexpr const char* kWidestTime = "28 Sep 2026 10:58 PM";
constexpr int kImageRoom = 20;
constexpr int kFigureHeight = 16;  // the uptime share's and the total's text height
constexpr int kMargin = 6;         // around the upper panels' lines
constexpr int kGap = 4;            // between an image and its text, and between lines
constexpr int kListRows = 6;       // the list's least height in rows, one spare
// An image id of the list is the status image + 1 (0 means none).
constexpr int kListImageBase = 1;

const char* const kImageNames[] = {"Up", "Down", "Off"};

controls::ColorStatic* Title(wxWindow* parent, const char* text) {
  controls::ColorStaticStyle style;
  style.back = wxSystemSettings::GetColour(wxSYS_COLOUR_INACTIVECAPTION);
  style.text = wxSystemSettings::GetColour(wxSYS_COLOUR_CAPTIONTEXT);
  auto* title = new controls::ColorStatic(parent, wxID_ANY, text, style);
  title->SetMinSize(wxSize(0, title->GetBestSize().y + 2));
  return title;
}

controls::ColorStatic* Text(wxWindow* parent, const wxString& text, bool bold = false,
                            int height = 0) {
  controls::ColorStaticStyle style;
  style.back = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
  style.weight = bold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL;
  style.height = height;
  return new controls::ColorStatic(parent, wxID_ANY, text, style);
}

std::string Utf8(const controls::ColorStatic* text) { return text->GetLabel().utf8_string(); }

}  // namespace

MonitorInfoPane::MonitorInfoPane(wxWindow* parent, wxWindowID id) : wxPanel(parent, id) {
  const res::ArtStrip art = res::StatusStrip();
  const controls::ImageStrip strip =
      controls::ImageStrip::FromPng(art.png.data, art.png.size, art.imageSize, art.count);
  for (int i = 0; i < strip.GetCount(); ++i) images_.push_back(strip.GetBitmap(i));

  availabilityTitle_ = Title(this, "  Today's Availability");
  BuildAvailabilityPanel();
  BuildSummaryPanel();
  infoTitle_ = Title(this, "  Monitor Information");

  list_ = new controls::ColorList(
      this, wxID_ANY, "Monitor Information", wxDefaultPosition, wxDefaultSize,
      wxDV_SINGLE | wxDV_NO_HEADER | wxDV_HORIZ_RULES | wxDV_VERT_RULES);
  // The label column shows every label whole; the value column a whole time after an image.
  int labelWidth = controls::FontScaled(kLabelColumnWidth);
  for (const char* label : kRowLabels) {
    labelWidth =
        std::max(labelWidth, controls::TextWidth(list_, label) + controls::CellPadding(list_));
  }
  const int valueWidth = std::max(
      controls::FontScaled(kValueColumnWidth),
      controls::TextWidth(list_, kWidestTime) + controls::CellPadding(list_) + FromDIP(kImageRoom));
  list_->AddColumn("", labelWidth);
  list_->AddColumn("", valueWidth);
  wholeTextWidth_ = labelWidth + valueWidth + controls::CellPadding(list_);
  for (int i = 0; i < static_cast<int>(images_.size()); ++i) {
    list_->RegisterImage(i + kListImageBase, wxBitmapBundle(images_[i]));
  }
  // Room for every row and one more: GTK draws a row some pixels taller than its text
  // (padding and the grid line).
  const int rowHeight = std::max(GetCharHeight(), controls::ColorList::kMinRowHeight) + FromDIP(10);
  list_->SetMinSize(wxSize(0, kListRows * rowHeight + FromDIP(4)));
  list_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    if (fitPending_) return;
    // Sizing the column inside the size event would fight the native widget's allocation.
    fitPending_ = true;
    CallAfter([this] {
      fitPending_ = false;
      FitValueColumn();
    });
  });

  // Both upper panels take the room of the larger, measured with their widest texts.
  wxSize upper = availability_->GetBestSize();
  upper.IncTo(summary_->GetBestSize());
  availability_->SetMinSize(upper);
  summary_->SetMinSize(upper);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(availabilityTitle_, 0, wxEXPAND);
  sizer->Add(availability_, 0, wxEXPAND);
  sizer->Add(summary_, 0, wxEXPAND);
  sizer->Add(infoTitle_, 0, wxEXPAND);
  sizer->Add(list_, 1, wxEXPAND);
  SetSizer(sizer);
  controls::SetAccessibleName(this, "Monitor information pane");

  ShowSummary({});
  SetMinSize(wxSize(upper.x, sizer->GetMinSize().y));
}

MonitorInfoPane::ImageLine MonitorInfoPane::AddImageLine(wxWindow* parent, wxSizer* sizer,
                                                         int image, const wxString& text) {
  ImageLine line;
  line.image = new wxStaticBitmap(parent, wxID_ANY, images_.at(image));
  controls::SetAccessibleName(line.image, kImageNames[image]);
  line.text = Text(parent, text);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(line.image, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, FromDIP(kGap));
  row->Add(line.text, 1, wxALIGN_CENTRE_VERTICAL);
  sizer->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(kGap));
  return line;
}

void MonitorInfoPane::BuildAvailabilityPanel() {
  availability_ = new controls::ColorBackgroundPanel(
      this, wxID_ANY, wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW), "Today's Availability");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  // Built with the widest texts, so that the panel's best size holds every later text.
  uptimePercent_ = Text(availability_, "Uptime 100.00%", true, kFigureHeight);
  sizer->Add(uptimePercent_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(kGap));

  statusLabel_ = Text(availability_, "Current status:");
  status_.image = new wxStaticBitmap(availability_, wxID_ANY, images_.at(res::kStatusOff));
  controls::SetAccessibleName(status_.image, kImageNames[res::kStatusOff]);
  status_.text = Text(availability_, "DOWN", true);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(statusLabel_, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, FromDIP(kGap));
  row->Add(status_.image, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, FromDIP(kGap));
  row->Add(status_.text, 1, wxALIGN_CENTRE_VERTICAL);
  sizer->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(kGap));

  uptime_ = AddImageLine(availability_, sizer, res::kStatusUp, "Uptime 25 Hours 59 Minutes");
  downtime_ = AddImageLine(availability_, sizer, res::kStatusDown, "Downtime 25 Hours 59 Minutes");
  auto* outer = new wxBoxSizer(wxVERTICAL);
  outer->Add(sizer, 1, wxEXPAND | wxALL, FromDIP(kMargin) - FromDIP(kGap));
  availability_->SetSizer(outer);
}

void MonitorInfoPane::BuildSummaryPanel() {
  summary_ = new controls::ColorBackgroundPanel(
      this, wxID_ANY, wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW), "Monitor summary");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  total_ = Text(summary_, "Monitor(s): 9999", true, kFigureHeight);
  sizer->Add(total_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(kGap));
  up_ = AddImageLine(summary_, sizer, res::kStatusUp, "Monitor(s) Up: 9999");
  down_ = AddImageLine(summary_, sizer, res::kStatusDown, "Monitor(s) Down: 9999");
  off_ = AddImageLine(summary_, sizer, res::kStatusOff, "Monitor(s) Off: 9999");
  auto* outer = new wxBoxSizer(wxVERTICAL);
  outer->Add(sizer, 1, wxEXPAND | wxALL, FromDIP(kMargin) - FromDIP(kGap));
  summary_->SetSizer(outer);
}

void MonitorInfoPane::SetImage(wxStaticBitmap* image, int statusImage) {
  if (statusImage < 0 || statusImage >= static_cast<int>(images_.size())) return;
  image->SetBitmap(images_[statusImage]);
  controls::SetAccessibleName(image, kImageNames[statusImage]);
}

void MonitorInfoPane::ShowPanel(bool monitor) {
  if (availability_->IsShown() == monitor && summary_->IsShown() == !monitor) return;
  Freeze();
  availability_->Show(monitor);
  summary_->Show(!monitor);
  Layout();
  Thaw();
}

void MonitorInfoPane::ShowMonitor(const engine::MonitorSnapshot& monitor) {
  const AvailabilityTexts texts = MakeAvailabilityTexts(monitor);
  uptimePercent_->SetLabel(wxString::FromUTF8(texts.uptimePercent));
  status_.text->SetLabel(wxString::FromUTF8(texts.status));
  SetImage(status_.image, texts.statusImage);
  uptime_.text->SetLabel(wxString::FromUTF8(texts.uptime));
  downtime_.text->SetLabel(wxString::FromUTF8(texts.downtime));
  ShowPanel(true);

  const std::vector<InfoRow> rows = MakeInfoRows(monitor);
  // Rows are rewritten in place on each poll, so the list neither flickers nor scrolls.
  if (list_->GetItemCount() != static_cast<int>(rows.size())) {
    list_->DeleteAllItems();
    for (std::size_t i = 0; i < rows.size(); ++i) list_->AddRow({});
  }
  for (unsigned i = 0; i < rows.size(); ++i) {
    list_->SetCellText(i, 0, wxString::FromUTF8(rows[i].label));
    list_->SetCellText(i, 1, wxString::FromUTF8(rows[i].value));
    const int image = rows[i].image < 0 ? 0 : rows[i].image + kListImageBase;
    if (image != 0 || list_->HasCellBitmap(i, 1)) list_->SetCellBitmap(i, 1, image);
  }
}

void MonitorInfoPane::ShowSummary(const std::vector<engine::MonitorSummary>& monitors) {
  const MonitorCounts counts = CountMonitors(monitors);
  total_->SetLabel(wxString::Format("Monitor(s): %d", counts.total));
  up_.text->SetLabel(wxString::Format("Monitor(s) Up: %d", counts.up));
  down_.text->SetLabel(wxString::Format("Monitor(s) Down: %d", counts.down));
  off_.text->SetLabel(wxString::Format("Monitor(s) Off: %d", counts.off));
  ShowPanel(false);
  list_->DeleteAllItems();
}

bool MonitorInfoPane::ShowsMonitor() const { return availability_->IsShown(); }

std::vector<std::string> MonitorInfoPane::ShownTexts() const {
  std::vector<std::string> texts;
  if (ShowsMonitor()) {
    texts = {Utf8(uptimePercent_), Utf8(statusLabel_), Utf8(status_.text), Utf8(uptime_.text),
             Utf8(downtime_.text)};
  } else {
    texts = {Utf8(total_), Utf8(up_.text), Utf8(down_.text), Utf8(off_.text)};
  }
  for (unsigned row = 0; row < static_cast<unsigned>(list_->GetItemCount()); ++row) {
    texts.push_back(list_->GetCellText(row, 0).utf8_string());
    texts.push_back(list_->GetCellText(row, 1).utf8_string());
  }
  return texts;
}

void MonitorInfoPane::FitValueColumn() {
  if (list_->GetColumnCount() < 2) return;
  const int label = list_->GetColumn(0)->GetWidth();
  // GTK keeps a pixel on either side of the columns.
  const int width =
      std::max(FromDIP(kMinValueColumnWidth), list_->GetClientSize().x - label - FromDIP(2));
  if (list_->GetColumn(1)->GetWidth() != width) list_->GetColumn(1)->SetWidth(width);
}

}  // namespace app
