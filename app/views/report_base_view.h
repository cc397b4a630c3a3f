// The form under every report view: the period bar (a list of named periods, "From" and
// "To" dates with times enabled for a custom period, and "&Refresh") above the view's own
// controls. The bar turns the choice into bounds, remembers them on the monitor through a
// sink (all reports of a monitor show one period) and asks for one load per refresh. Loads
// run on a worker of the view's own; their results come back on the UI thread, and only
// the newest request's result for the monitor shown is handed to the derived view, which
// keeps what it shows until then. UI thread only.
#pragma once

#include <wx/string.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/views/base_view.h"
#include "app/views/report_period.h"
#include "controls/graphic.h"
#include "engine/report/report_loads.h"

class wxButton;
class wxChoice;
class wxDatePickerCtrl;
class wxStaticBoxSizer;
class wxTimePickerCtrl;
template <class T>
class wxWeakRef;

namespace controls {
class ColorList;
}

namespace app {

// Stores a monitor's report period (start, end, list index) where all its reports find it.
using ReportPeriodSink = std::function<void(const std::string& monitorId, std::int64_t start,
                                            std::int64_t end, std::int32_t period)>;

// Shows a warning to the user; tests pass their own.
using ReportMessageFunction = std::function<void(const wxString& text)>;

// The text shown when "&Refresh" is clicked with the start after the end.
extern const char* const kReversedRangeText;

class ReportBaseView : public BaseView {
 public:
  // load: the load function of the view's worker (tests pass a slow or counting one).
  ReportBaseView(wxWindow* parent, SnapshotSource snapshots, ReportPeriodSink savePeriod,
                 engine::ReportLoader::Load load = engine::LoadReport);
  ~ReportBaseView() override;

  // Loading (save false): kRefreshShow applies the monitor's remembered period (or "Today")
  // and loads; kRefreshNotify reloads only when the shown monitor has polled since the last
  // load, and keeps the pickers while "Custom Period" is chosen; any other monitor's poll
  // refreshes the header band only. Saving stores nothing.
  bool UpdateView(bool save, int hint) override;

  // The bar's controls, for tests and accessibility.
  wxChoice* PeriodChoice() const { return periodChoice_; }
  wxDatePickerCtrl* FromDate() const { return fromDate_; }
  wxTimePickerCtrl* FromTime() const { return fromTime_; }
  wxDatePickerCtrl* ToDate() const { return toDate_; }
  wxTimePickerCtrl* ToTime() const { return toTime_; }
  wxButton* RefreshButton() const { return refresh_; }

  // The pickers' range: each date with its picker's time of day, in local time.
  std::int64_t PickerStart() const;
  std::int64_t PickerEnd() const;

  // Replaces the message box (tests record the text instead).
  void SetMessageFunction(ReportMessageFunction show) { message_ = std::move(show); }
  // Replaces the clock (seconds since 1970) that the named periods are computed from.
  void SetClock(std::function<std::int64_t()> now) { now_ = std::move(now); }

  // Loads asked for, results handed to the derived view, and whether one is outstanding.
  std::uint64_t LoadsRequested() const { return loadsRequested_; }
  std::uint64_t LoadsShown() const { return loadsShown_; }
  bool Loading() const { return loading_; }

 protected:
  // The report the view loads; nothing for a view whose load does nothing.
  virtual std::optional<engine::ReportKind> LoadKind() const = 0;
  // Shows a finished load of the view's kind (never std::monostate: a failed load keeps
  // what the view shows).
  virtual void ShowReport(const engine::ReportTexts& texts) = 0;

  // The sizer below the period bar, for the view's own controls.
  wxBoxSizer* ReportBody() const { return reportBody_; }
  // The bounds of the last load asked for (all zero before the first).
  const engine::PeriodBounds& Bounds() const { return bounds_; }

  // A titled group in the report body, taking `proportion` of the spare height.
  wxStaticBoxSizer* AddGroup(const wxString& title, int proportion);
  // A list filling a group, its columns fitted to its width; without header row when
  // `header` is false. The accessible name is the group's title.
  controls::ColorList* AddList(wxStaticBoxSizer* group, const wxString& accessibleName,
                               const std::vector<wxString>& columns, bool header);
  // Keeps a list as tall as `rows` rows (and its header row, when it has one).
  static void FitListHeight(controls::ColorList* list, int rows);
  // Replaces all rows of a list, inside Freeze/Thaw.
  static void SetRows(controls::ColorList* list, const std::vector<std::vector<std::string>>& rows);
  // The same for the fixed-width rows of the report texts.
  template <std::size_t N>
  static void SetRows(controls::ColorList* list,
                      const std::vector<std::array<std::string, N>>& rows) {
    std::vector<std::vector<std::string>> copy;
    copy.reserve(rows.size());
    for (const std::array<std::string, N>& row : rows) copy.emplace_back(row.begin(), row.end());
    SetRows(list, copy);
  }
  // A report series as the chart's points.
  static controls::GraphPoints ChartPoints(const engine::Series& series);
  // Writes texts into one column of rows 0..n-1 (rows missing are added), inside
  // Freeze/Thaw.
  static void SetColumnTexts(controls::ColorList* list, unsigned column,
                             const std::vector<std::string>& texts);

 private:
  void OnPeriodChosen();
  void OnRefreshClicked();
  void Apply(const PeriodStep& step, const std::string& monitorId);
  void SetPickers(std::int64_t start, std::int64_t end);
  void EnablePickers(bool enable);
  void RequestLoad(const engine::PeriodBounds& bounds);
  void Deliver(const engine::ReportResult& result);
  PeriodBar CurrentBar() const;
  std::int64_t Now() const;
  // Flows the period bar's parts into lines as the view's width allows.
  void PlaceParts();

  ReportPeriodSink savePeriod_;
  ReportMessageFunction message_;
  std::function<std::int64_t()> now_;
  wxChoice* periodChoice_ = nullptr;
  wxDatePickerCtrl* fromDate_ = nullptr;
  wxTimePickerCtrl* fromTime_ = nullptr;
  wxDatePickerCtrl* toDate_ = nullptr;
  wxTimePickerCtrl* toTime_ = nullptr;
  wxButton* refresh_ = nullptr;
  wxBoxSizer* reportBody_ = nullptr;
  wxStaticBoxSizer* bar_ = nullptr;
  std::vector<wxBoxSizer*> parts_;  // the period bar's parts, in order
  std::vector<wxBoxSizer*> lines_;  // its lines
  std::vector<int> partLines_;      // the line of each part now
  bool placePending_ = false;

  engine::PeriodBounds bounds_;
  std::string loadedMonitor_;         // the monitor of the last load asked for
  std::int64_t loadedPollTime_ = -1;  // that monitor's latest poll then
  std::uint64_t generation_ = 0;      // of the last load asked for
  std::uint64_t loadsRequested_ = 0;
  std::uint64_t loadsShown_ = 0;
  bool loading_ = false;
  // Reached by deliveries through the UI thread's queue; cleared when the view goes.
  std::shared_ptr<wxWeakRef<ReportBaseView>> self_;
  std::unique_ptr<engine::ReportLoader> loader_;
};

}  // namespace app
