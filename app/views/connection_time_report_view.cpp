#include "app/views/connection_time_report_view.h"

#include <wx/statbox.h>

#include <variant>

#include "controls/color_list.h"
#include "controls/graphic.h"

namespace app {

namespace {

constexpr const char* kChartName = "Connection Time in ms";
// Titles, labels and the legend.
constexpr int kLegendMode = 2;
// The chart draws every fourth time label from this many points on.
constexpr int kDenseLimit = 10;
constexpr int kGap = 6;

}  // namespace

ConnectionTimeReportView::ConnectionTimeReportView(wxWindow* parent, SnapshotSource snapshots,
                                                   ReportPeriodSink savePeriod,
                                                   engine::ReportLoader::Load load)
    : ReportBaseView(parent, std::move(snapshots), std::move(savePeriod), std::move(load)) {
  chart_ = new controls::Graphic(this, wxID_ANY, kChartName, wxDefaultPosition,
                                 wxSize(-1, kChartHeight));
  chart_->SetMinSize(wxSize(-1, kChartHeight));
  chart_->SetLegendMode(kLegendMode);
  chart_->SetDenseLimit(kDenseLimit);
  chart_->SetAxisTitles(kChartName, "Time");
  chart_->SetSeriesNames(
      {"Minimum Connection Time", "Maximum Connection Time", "Average Connection Time"});
  // The chart widens with the view and keeps its height; the list takes the spare height.
  ReportBody()->Add(chart_, wxSizerFlags(0).Expand().Border(wxLEFT | wxRIGHT | wxTOP, kGap));
  wxStaticBoxSizer* group = AddGroup("Time values in ms", 1);
  times_ = AddList(
      group, "Time values in ms",
      {"Date/Time", "Connection Time Min", "Connection Time Max", "Connection Time Avg"}, true);
  SetSizeLimits(true, true);
}

std::optional<engine::ReportKind> ConnectionTimeReportView::LoadKind() const {
  return engine::ReportKind::kConnectionTime;
}

void ConnectionTimeReportView::ShowReport(const engine::ReportTexts& texts) {
  const auto* report = std::get_if<engine::ConnectionTimeReportTexts>(&texts);
  if (!report) return;
  SetRows(times_, report->intervals);
  chart_->SetTimeFormat(report->granularity);
  for (int i = 0; i < static_cast<int>(report->series.size()); ++i) {
    chart_->SetSeries(ChartPoints(report->series[i]), i);
  }
}

}  // namespace app
