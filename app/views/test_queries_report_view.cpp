#include "app/views/test_queries_report_view.h"

#include <wx/statbox.h>

#include <variant>

#include "controls/color_list.h"

namespace app {

namespace {

// The interval list's height in pixels; the summary below takes what is left.
constexpr int kTimesListHeight = 180;

}  // namespace

TestQueriesReportView::TestQueriesReportView(wxWindow* parent, SnapshotSource snapshots,
                                             ReportPeriodSink savePeriod,
                                             engine::ReportLoader::Load load)
    : ReportBaseView(parent, std::move(snapshots), std::move(savePeriod), std::move(load)) {
  wxStaticBoxSizer* times = AddGroup("Total Test Queries Time in ms", 0);
  times_ = AddList(times, "Total Test Queries Time in ms",
                   {"Date/Time", "Minimum Time", "Maximum Time", "Average Time"}, true);
  times_->SetMinSize(wxSize(-1, kTimesListHeight));
  wxStaticBoxSizer* values = AddGroup("Test Queries Values", 1);
  values_ = AddList(values, "Test Queries Values", {"Name", "Minimum", "Maximum", "Average"}, true);
  SetSizeLimits(true, true);
}

std::optional<engine::ReportKind> TestQueriesReportView::LoadKind() const {
  return engine::ReportKind::kTestQueries;
}

void TestQueriesReportView::ShowReport(const engine::ReportTexts& texts) {
  const auto* report = std::get_if<engine::TestQueriesReportTexts>(&texts);
  if (!report) return;
  SetRows(times_, report->intervals);
  SetRows(values_, report->testQueries);
}

}  // namespace app
