#include "app/views/alerts_report_view.h"

#include <wx/statbox.h>

#include "controls/color_list.h"

namespace app {

const char* const kAlertRowLabels[4] = {"Total Error Alerts", "Total Clear Alerts",
                                        "Total Error Alerts Percentage",
                                        "Total Clear Alerts Percentage"};

AlertsReportView::AlertsReportView(wxWindow* parent, SnapshotSource snapshots,
                                   ReportPeriodSink savePeriod)
    : ReportBaseView(parent, std::move(snapshots), std::move(savePeriod)) {
  summary_ = AddList(AddGroup("Alert Occurrences", 0), "Alert Occurrences", {"", ""}, false);
  SetColumnTexts(summary_, 0, {std::begin(kAlertRowLabels), std::end(kAlertRowLabels)});
  FitListHeight(summary_, 4);
  details_ =
      AddList(AddGroup("Alert Details", 1), "Alert Details", {"From", "To", "Duration"}, true);
  SetSizeLimits(true, true);
}

}  // namespace app
