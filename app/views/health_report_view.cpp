#include "app/views/health_report_view.h"

#include <variant>

#include "controls/attribute_list.h"
#include "controls/graphic.h"
#include "controls/info_list.h"

namespace app {

namespace {

constexpr const char* kCritical = "Critical";
constexpr const char* kClear = "Clear";
// Titles, labels and the legend.
constexpr int kLegendMode = 2;
// The chart draws every fourth time label from this many points on.
constexpr int kDenseLimit = 10;
constexpr int kGap = 6;
constexpr unsigned kCriticalRow = 0;
constexpr unsigned kClearRow = 1;

}  // namespace

HealthReportView::HealthReportView(wxWindow* parent, SnapshotSource snapshots,
                                   ReportPeriodSink savePeriod, engine::ReportLoader::Load load)
    : ReportBaseView(parent, std::move(snapshots), std::move(savePeriod), std::move(load)) {
  info_ = new controls::InfoGraphicList(this, wxID_ANY, "Health");
  controls::Graphic* chart = info_->GetChart();
  chart->SetLegendMode(kLegendMode);
  chart->SetDenseLimit(kDenseLimit);
  ReportBody()->Add(info_, wxSizerFlags(1).Expand().Border(wxLEFT | wxRIGHT | wxTOP, kGap));
  SetSizeLimits(true, false);
}

void HealthReportView::OnInitView(bool firstInit) {
  ReportBaseView::OnInitView(firstInit);
  if (!firstInit) return;
  info_->SetItems({kCritical, kClear}, "");
  info_->SetSeriesNames({kCritical});
  controls::Graphic* chart = info_->GetChart();
  chart->SetAxisTitles("Values in %", "Time");
  chart->SetColors(1, wxColour(255, 0, 0), 0);
}

std::optional<engine::ReportKind> HealthReportView::LoadKind() const {
  return engine::ReportKind::kHealth;
}

void HealthReportView::ShowReport(const engine::ReportTexts& texts) {
  const auto* report = std::get_if<engine::HealthReportTexts>(&texts);
  if (!report) return;
  controls::Graphic* chart = info_->GetChart();
  chart->SetTimeFormat(report->granularity);
  chart->SetSeries(ChartPoints(report->critical), 0);
  controls::AttributeList* list = info_->GetList();
  list->SetCellText(kCriticalRow, controls::AttributeList::kValueColumn,
                    wxString::FromUTF8(report->criticalText));
  list->SetCellText(kClearRow, controls::AttributeList::kValueColumn,
                    wxString::FromUTF8(report->clearText));
}

}  // namespace app
