// "History": for the selected monitor and the chosen period, the five availability figures,
// the minimum, maximum and average connection time over the whole period (both lists
// without header) and the minimum, maximum and average value of each test query. UI thread
// only.
#pragma once

#include "app/views/report_base_view.h"

namespace app {

// The connection-time list's row labels, in row order.
extern const char* const kConnectionRowLabels[3];

class HistoryView : public ReportBaseView {
 public:
  // load: the load function of the view's worker (tests pass their own).
  HistoryView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
              engine::ReportLoader::Load load = engine::LoadReport);

  controls::ColorList* AvailabilityList() const { return availability_; }
  controls::ColorList* ConnectionList() const { return connection_; }
  controls::ColorList* ValuesList() const { return values_; }

 protected:
  std::optional<engine::ReportKind> LoadKind() const override;
  void ShowReport(const engine::ReportTexts& texts) override;

 private:
  controls::ColorList* availability_ = nullptr;
  controls::ColorList* connection_ = nullptr;
  controls::ColorList* values_ = nullptr;
};

}  // namespace app
