#include "app/views/snapshot_view.h"

#include <algorithm>

#include "controls/attribute_list.h"
#include "controls/graphic.h"
#include "controls/info_list.h"
#include "controls/value_text.h"

namespace app {

namespace {

constexpr const char* kConnectionTime = "Connection Time";
constexpr const char* kQueriesTime = "Test Queries Total Time";
constexpr const char* kUnit = "ms";
// The chart draws every fourth time label from this many points on.
constexpr int kDenseLimit = 10;
// Titles and labels, with the legend.
constexpr int kLegendMode = 2;

controls::GraphPoint Point(std::int64_t value, std::int64_t time) {
  return {value == -1 ? -1.0 : static_cast<double>(value), time};
}

}  // namespace

std::array<std::string, 2> SnapshotRowTexts(const engine::MonitorSnapshot& monitor) {
  return {controls::FormatIntValueText(monitor.current.connectionTime, kUnit),
          controls::FormatIntValueText(monitor.current.requestTime, kUnit)};
}

std::array<controls::GraphPoints, 2> SnapshotSeries(const engine::MonitorSnapshot& monitor) {
  std::array<controls::GraphPoints, 2> series;
  const auto& history = monitor.history;
  const std::size_t skip = history.size() - std::min(history.size(), ODBCSnapshotView::kMaxPoints);
  for (auto entry = history.begin() + static_cast<std::ptrdiff_t>(skip); entry != history.end();
       ++entry) {
    controls::Graphic::AddPoint(series[0], Point(entry->connectionTime, entry->time));
    controls::Graphic::AddPoint(series[1], Point(entry->requestTime, entry->time));
  }
  return series;
}

ODBCSnapshotView::ODBCSnapshotView(wxWindow* parent, SnapshotSource snapshots)
    : BaseView(parent, std::move(snapshots), wxDefaultSize, true, false) {
  info_ = new controls::InfoGraphicList(this, wxID_ANY, kConnectionTime);
  controls::Graphic* chart = info_->GetChart();
  chart->SetLegendMode(kLegendMode);
  chart->SetDenseLimit(kDenseLimit);
  Body()->Add(info_, 1, wxEXPAND);
  SetSizeLimits(true, false);
}

void ODBCSnapshotView::OnInitView(bool firstInit) {
  if (!firstInit) return;
  info_->SetItems({kConnectionTime, kQueriesTime}, "");
  info_->SetSeriesNames({kConnectionTime, kQueriesTime});
  info_->GetChart()->SetAxisTitles("Values in ms", "Time");
}

bool ODBCSnapshotView::UpdateView(bool save, int hint) {
  if (!save) {
    if (const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor()) {
      const std::array<controls::GraphPoints, 2> series = SnapshotSeries(*monitor);
      for (int i = 0; i < 2; ++i) info_->GetChart()->SetSeries(series[i], i);
      const std::array<std::string, 2> rows = SnapshotRowTexts(*monitor);
      for (unsigned row = 0; row < rows.size(); ++row) {
        info_->GetList()->SetCellText(row, controls::AttributeList::kValueColumn,
                                      wxString::FromUTF8(rows[row]));
      }
    }
  }
  return BaseView::UpdateView(save, hint);
}

}  // namespace app
