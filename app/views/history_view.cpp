#include "app/views/history_view.h"

#include <wx/statbox.h>

#include "app/views/availability_view.h"
#include "controls/color_list.h"

namespace app {

const char* const kConnectionRowLabels[3] = {"Connection Time Minimum", "Connection Time Maximum",
                                             "Connection Time Average"};

HistoryView::HistoryView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
                         engine::ReportLoader::Load load)
    : ReportBaseView(parent, std::move(snapshots), std::move(savePeriod), std::move(load)) {
  availability_ = AddList(AddGroup("Availability", 0), "Availability", {"", ""}, false);
  SetColumnTexts(availability_, 0,
                 {std::begin(kAvailabilityRowLabels), std::end(kAvailabilityRowLabels)});
  FitListHeight(availability_, 5);
  connection_ = AddList(AddGroup("Connection Time", 0), "Connection Time", {"", ""}, false);
  SetColumnTexts(connection_, 0,
                 {std::begin(kConnectionRowLabels), std::end(kConnectionRowLabels)});
  FitListHeight(connection_, 3);
  values_ = AddList(AddGroup("Test Queries Values", 1), "Test Queries Values",
                    {"Name", "Minimum", "Maximum", "Average"}, true);
  SetSizeLimits(true, true);
}

std::optional<engine::ReportKind> HistoryView::LoadKind() const {
  return engine::ReportKind::kHistory;
}

void HistoryView::ShowReport(const engine::ReportTexts& texts) {
  const auto* report = std::get_if<engine::HistoryReportTexts>(&texts);
  if (!report) return;
  SetColumnTexts(availability_, 1, {report->availability.begin(), report->availability.end()});
  SetColumnTexts(connection_, 1, {report->connectionTime.begin(), report->connectionTime.end()});
  SetRows(values_, report->testQueries);
}

}  // namespace app
