// The alert report: the alert totals without header and a list of alert details under the
// period bar. Its load does nothing, so the value column and the details stay empty. UI
// thread only.
#pragma once

#include "app/views/report_base_view.h"

namespace app {

// The totals' row labels, in row order.
extern const char* const kAlertRowLabels[4];

class AlertsReportView : public ReportBaseView {
 public:
  AlertsReportView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod);

  controls::ColorList* SummaryList() const { return summary_; }
  controls::ColorList* DetailsList() const { return details_; }

 protected:
  std::optional<engine::ReportKind> LoadKind() const override { return std::nullopt; }
  void ShowReport(const engine::ReportTexts&) override {}

 private:
  controls::ColorList* summary_ = nullptr;
  controls::ColorList* details_ = nullptr;
};

}  // namespace app
