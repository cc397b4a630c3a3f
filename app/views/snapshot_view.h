// The snapshot view of a monitor's connection times: its latest connection time and total
// test-query time as two rows of an attribute list, and both over its recent polls as a
// chart above them. It reads the monitor only through snapshot copies, grows in width only
// and holds nothing the user edits. UI thread only.
#pragma once

#include <array>
#include <string>

#include "app/views/base_view.h"
#include "controls/chart_model.h"

namespace controls {
class InfoGraphicList;
}

namespace app {

// The rows' values for the monitor's current sample: "12 ms", or "-" for no value;
// connection time first, then total test-query time.
std::array<std::string, 2> SnapshotRowTexts(const engine::MonitorSnapshot& monitor);

// The chart's series 0 (connection time) and 1 (total test-query time): one point per
// entry of the monitor's history, the newest 10 at most, oldest first; -1 stays a gap.
std::array<controls::GraphPoints, 2> SnapshotSeries(const engine::MonitorSnapshot& monitor);

class ODBCSnapshotView : public BaseView {
 public:
  static constexpr std::size_t kMaxPoints = 10;

  ODBCSnapshotView(wxWindow* parent, SnapshotSource snapshots);

  // Loading shows the selected monitor as it is now, for either hint; without a monitor
  // the rows and the chart keep what they showed. Saving stores nothing.
  bool UpdateView(bool save, int hint) override;

  controls::InfoGraphicList* Info() const { return info_; }

 protected:
  void OnInitView(bool firstInit) override;

 private:
  controls::InfoGraphicList* info_ = nullptr;
};

}  // namespace app
