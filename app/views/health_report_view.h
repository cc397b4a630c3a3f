// "Health history": the share of the selected monitor's polls that found it unhealthy,
// per interval of the chosen period as a red "Critical" chart series (intervals without
// polls are gaps), and over the whole period as the "Critical" and "Clear" rows of the
// info list under the chart. Grows in width only. UI thread only.
#pragma once

#include "app/views/report_base_view.h"

namespace controls {
class InfoGraphicList;
}

namespace app {

class HealthReportView : public ReportBaseView {
 public:
  // load: the load function of the view's worker (tests pass their own).
  HealthReportView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
                   engine::ReportLoader::Load load = engine::LoadReport);

  controls::InfoGraphicList* Info() const { return info_; }

 protected:
  std::optional<engine::ReportKind> LoadKind() const override;
  void ShowReport(const engine::ReportTexts& texts) override;
  void OnInitView(bool firstInit) override;

 private:
  controls::InfoGraphicList* info_ = nullptr;
};

}  // namespace app
