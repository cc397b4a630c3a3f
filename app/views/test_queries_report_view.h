// "Test Queries history": the total time of the selected monitor's test queries per poll
// over the chosen period, interval by interval (minimum, maximum and average, newest
// interval first), and below it each test query's minimum, maximum and average values
// over the whole period. The interval list keeps its height; the summary takes the rest.
// UI thread only.
#pragma once

#include "app/views/report_base_view.h"

namespace controls {
class ColorList;
}

namespace app {

class TestQueriesReportView : public ReportBaseView {
 public:
  // load: the load function of the view's worker (tests pass their own).
  TestQueriesReportView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
                        engine::ReportLoader::Load load = engine::LoadReport);

  controls::ColorList* TimesList() const { return times_; }
  controls::ColorList* ValuesList() const { return values_; }

 protected:
  std::optional<engine::ReportKind> LoadKind() const override;
  void ShowReport(const engine::ReportTexts& texts) override;

 private:
  controls::ColorList* times_ = nullptr;
  controls::ColorList* values_ = nullptr;
};

}  // namespace app
