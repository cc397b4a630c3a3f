// The pane under the monitor tree: with a monitor, today's availability of that monitor
// over a list of its name, health and poll times; without one, the counts of all monitors
// by state. The texts are computed by plain functions from snapshots and summaries, so
// the pane never reads a monitor itself. UI thread only (the functions: any thread).
#pragma once

#include <wx/panel.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store/monitor_snapshot.h"

class wxStaticBitmap;

namespace controls {
class ColorBackgroundPanel;
class ColorList;
class ColorStatic;
}  // namespace controls

namespace app {

// A row of the info list: label, value and the value's image (res::StatusImage, -1 for none).
struct InfoRow {
  std::string label;
  std::string value;
  int image = -1;

  bool operator==(const InfoRow&) const = default;
};

// Name, Health, Last alert, Last polled at, Next poll at. Health is "OFF" while the monitor
// is not running or has not been polled yet; "Next poll at" is "-" while it is not running.
std::vector<InfoRow> MakeInfoRows(const engine::MonitorSnapshot& monitor);

// The upper panel with a monitor.
struct AvailabilityTexts {
  std::string uptimePercent;  // "Uptime 97.50%"
  std::string status;         // "UP", "DOWN" or "OFF"
  int statusImage = 0;        // res::StatusImage
  std::string uptime;         // "Uptime 5 Hours 7 Minutes"
  std::string downtime;       // "Downtime 0 Hours 12 Minutes"

  bool operator==(const AvailabilityTexts&) const = default;
};

// The share of today's uptime in uptime + downtime (100% when both are 0), the status and
// both spans.
AvailabilityTexts MakeAvailabilityTexts(const engine::MonitorSnapshot& monitor);

// "<word> <hours> Hours <minutes> Minutes" of a span of seconds, without leading zeros.
// Hours are the span's whole hours, so a full day (24 h, or 25 h when summer time ends)
// shows all of them. Negative spans count as 0.
std::string FormatDaySpan(std::string_view word, std::int64_t seconds);

// Monitors by state: off = not running; of the running ones, up = the current sample is
// available or there is none yet, down = it is not available.
struct MonitorCounts {
  int total = 0, up = 0, down = 0, off = 0;

  bool operator==(const MonitorCounts&) const = default;
};

MonitorCounts CountMonitors(const std::vector<engine::MonitorSummary>& monitors);

class MonitorInfoPane : public wxPanel {
 public:
  // The width that shows every label and a time whole in the information list.
  int WholeTextWidth() const { return wholeTextWidth_; }
  MonitorInfoPane(wxWindow* parent, wxWindowID id);

  // The upper panel "Today's Availability" and the list for this monitor.
  void ShowMonitor(const engine::MonitorSnapshot& monitor);
  // The counts of every monitor, and an empty list.
  void ShowSummary(const std::vector<engine::MonitorSummary>& monitors);

  // For tests: the texts now shown (the shown upper panel's texts top to bottom, then each
  // list row's label and value).
  std::vector<std::string> ShownTexts() const;
  // Whether the upper panel with a monitor (true) or the summary (false) is shown.
  bool ShowsMonitor() const;

 private:
  // An image and a text on one line of an upper panel.
  struct ImageLine {
    wxStaticBitmap* image = nullptr;
    controls::ColorStatic* text = nullptr;
  };

  void BuildAvailabilityPanel();
  void BuildSummaryPanel();
  ImageLine AddImageLine(wxWindow* parent, wxSizer* sizer, int image, const wxString& text);
  void SetImage(wxStaticBitmap* image, int statusImage);
  void ShowPanel(bool monitor);
  void FitValueColumn();

  std::vector<wxBitmap> images_;  // by res::StatusImage
  controls::ColorStatic* availabilityTitle_ = nullptr;
  controls::ColorStatic* infoTitle_ = nullptr;

  controls::ColorBackgroundPanel* availability_ = nullptr;
  controls::ColorStatic* uptimePercent_ = nullptr;
  controls::ColorStatic* statusLabel_ = nullptr;
  ImageLine status_;
  ImageLine uptime_;
  ImageLine downtime_;

  controls::ColorBackgroundPanel* summary_ = nullptr;
  controls::ColorStatic* total_ = nullptr;
  ImageLine up_;
  ImageLine down_;
  ImageLine off_;

  controls::ColorList* list_ = nullptr;
  bool fitPending_ = false;
  int wholeTextWidth_ = 0;
};

}  // namespace app
