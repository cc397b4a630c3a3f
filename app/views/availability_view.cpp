#include "app/views/availability_view.h"

#include <wx/statbox.h>

#include "controls/color_list.h"

namespace app {

const char* const kAvailabilityRowLabels[5] = {
    "Total Uptime", "Total Downtime", "Total Uptime Percentage", "Mean Time To Repair (MTTR)",
    "Mean Time Between Failures (MTBF)"};

AvailabilityReportView::AvailabilityReportView(wxWindow* parent, SnapshotSource snapshots,
                                               ReportPeriodSink savePeriod,
                                               engine::ReportLoader::Load load)
    : ReportBaseView(parent, std::move(snapshots), std::move(savePeriod), std::move(load)) {
  summary_ = AddList(AddGroup("Summary", 0), "Summary", {"", ""}, false);
  SetColumnTexts(summary_, 0,
                 {std::begin(kAvailabilityRowLabels), std::end(kAvailabilityRowLabels)});
  FitListHeight(summary_, 5);
  downtimes_ = AddList(AddGroup("Downtime Details", 1), "Downtime Details",
                       {"From", "To", "Duration"}, true);
  SetSizeLimits(true, true);
}

std::optional<engine::ReportKind> AvailabilityReportView::LoadKind() const {
  return engine::ReportKind::kAvailability;
}

void AvailabilityReportView::ShowReport(const engine::ReportTexts& texts) {
  const auto* report = std::get_if<engine::AvailabilityReportTexts>(&texts);
  if (!report) return;
  SetColumnTexts(summary_, 1, {report->figures.begin(), report->figures.end()});
  SetRows(downtimes_, report->downtimes);
}

}  // namespace app
