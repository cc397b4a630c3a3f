// "Availability history": for the selected monitor and the chosen period, the total up and
// down time, the up percentage, the mean times to repair and between failures in a summary
// list without header, and the last completed outages, oldest first, with their start, end
// and duration. UI thread only.
#pragma once

#include "app/views/report_base_view.h"

namespace app {

// The summary's row labels, in row order.
extern const char* const kAvailabilityRowLabels[5];

class AvailabilityReportView : public ReportBaseView {
 public:
  // load: the load function of the view's worker (tests pass their own).
  AvailabilityReportView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
                         engine::ReportLoader::Load load = engine::LoadReport);

  controls::ColorList* SummaryList() const { return summary_; }
  controls::ColorList* DowntimeList() const { return downtimes_; }

 protected:
  std::optional<engine::ReportKind> LoadKind() const override;
  void ShowReport(const engine::ReportTexts& texts) override;

 private:
  controls::ColorList* summary_ = nullptr;
  controls::ColorList* downtimes_ = nullptr;
};

}  // namespace app
