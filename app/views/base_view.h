// The form under every view of the right pane: a two-line header band (the selected
// monitor's name and data source, and its status on its status colour), the protocol
// through which the main window shows, saves and refreshes views, and the view's size
// limits. A view remembers only the selected monitor's identifier and reads the monitor
// through snapshots, each time it needs it. UI thread only.
#pragma once

#include <wx/colour.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <functional>
#include <optional>
#include <string>

#include "engine/store/monitor_snapshot.h"

namespace controls {
class ColorStatic;
}

namespace engine {
class IWindowStore;
}

namespace app {

// Why a view is refreshed. kRefreshShow: the view became current or the selection changed,
// so everything is loaded. kRefreshNotify: the monitor reported a poll, so only what the
// view merely displays is refreshed; editable fields and pickers keep what the user typed.
// kSaveClosing (with save true): the window is closing, so the view saves what passes its
// checks and asks nothing (no one may be there to answer).
enum ViewHint : int {
  kRefreshShow = 0,
  kRefreshNotify = 1,
  kSaveClosing = 2,
};

// The two lines of the header band.
struct HeaderTexts {
  std::string title;
  std::string status;

  bool operator==(const HeaderTexts&) const = default;
};

// "<name> (<data source>)", or the bare name when the data source is empty, over the status
// text; "Lumivar" over an empty line when no monitor is selected.
HeaderTexts MakeHeaderTexts(const engine::MonitorSnapshot* monitor);

// The header band's colour: the theme's highlight blended into its window colour, so that
// the band stands out in light and dark themes alike.
wxColour HeaderBandColour(const wxColour& highlight, const wxColour& window);

// The status line's background: the engine's colour, or the band's colour where the engine
// asks for the theme's inactive-caption colour.
wxColour StatusLineColour(const engine::StatusColor& color, const wxColour& band);

// Looks a monitor up by identifier: empty when there is no such monitor.
using SnapshotSource =
    std::function<std::optional<engine::MonitorSnapshot>(const std::string& monitorId)>;

// A source reading the store's snapshots; the store must outlive the views using it.
SnapshotSource SnapshotsOf(const engine::IWindowStore& storage);

class BaseView : public wxPanel {
 public:
  // formSize: the least size of the view's own controls (the body's sizer may ask more).
  BaseView(wxWindow* parent, SnapshotSource snapshots, wxSize formSize = wxDefaultSize,
           bool growWidth = true, bool growHeight = true);

  // Called each time the view becomes current; the first call passes firstInit true.
  void InitView();
  // save true: saves what the user changed; false refuses (the view stays current).
  // save false: loads what the view shows for the selected monitor, as the hint says.
  // Views that override it call this one last, so the header follows the selection.
  virtual bool UpdateView(bool save, int hint);
  // Saves, then loads everything again.
  bool ReloadView();
  // The HTML pages in the data folder have been written anew.
  virtual void PagesWritten() {}
  // A removal the configuration file refused has put records back: the test queries or
  // alerts of the monitor named, or the actions for "". A view listing them shows them
  // again, keeping what the user typed.
  virtual void RemovalRefused(const std::string& /*monitorId*/) {}

  // The selected monitor; "" for none. Takes effect on the next UpdateView(false, ...).
  void SetMonitorId(const std::string& monitorId) { monitorId_ = monitorId; }
  const std::string& MonitorId() const { return monitorId_; }

  // A view that may not grow in a direction keeps its least size there (a maximum size).
  void SetSizeLimits(bool growWidth, bool growHeight);

  // The header band's current texts.
  HeaderTexts Header() const;

 protected:
  // The one-time set-up of a view (columns, charts) runs when firstInit is true.
  virtual void OnInitView(bool /*firstInit*/) {}

  // The selected monitor as it is now; empty when none is selected or it is gone.
  std::optional<engine::MonitorSnapshot> SelectedMonitor() const;
  // The sizer below the header band, for the view's own controls.
  wxBoxSizer* Body() const { return body_; }
  // Takes the header band away for good, for views that fill the pane with a page.
  void HideHeader();

 private:
  void RefreshHeader(const engine::MonitorSnapshot* monitor);

  SnapshotSource snapshots_;
  std::string monitorId_;
  controls::ColorStatic* title_ = nullptr;
  controls::ColorStatic* status_ = nullptr;
  wxBoxSizer* body_ = nullptr;
  wxSize formSize_;
  bool growWidth_ = true;
  bool growHeight_ = true;
  bool initialized_ = false;
};

}  // namespace app
