// "Connection Time history": the connection times of the selected monitor's polls over the
// chosen period, interval by interval, as a list of minimum, maximum and average, newest
// interval first, and as a chart of the same three series in time order, which widens with
// the view at a fixed height. Failed polls and intervals without polls are gaps in the
// chart. UI thread only.
#pragma once

#include "app/views/report_base_view.h"

namespace controls {
class ColorList;
class Graphic;
}  // namespace controls

namespace app {

class ConnectionTimeReportView : public ReportBaseView {
 public:
  // The chart's height in pixels.
  static constexpr int kChartHeight = 220;

  // load: the load function of the view's worker (tests pass their own).
  ConnectionTimeReportView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
                           engine::ReportLoader::Load load = engine::LoadReport);

  controls::ColorList* TimesList() const { return times_; }
  controls::Graphic* Chart() const { return chart_; }

 protected:
  std::optional<engine::ReportKind> LoadKind() const override;
  void ShowReport(const engine::ReportTexts& texts) override;

 private:
  controls::Graphic* chart_ = nullptr;
  controls::ColorList* times_ = nullptr;
};

}  // namespace app
