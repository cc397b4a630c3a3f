#include "app/views/report_base_view.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/datectrl.h>
#include <wx/datetime.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>
#include <wx/weakref.h>
#include <wx/wupdlock.h>

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <utility>

#include "app/modal_command.h"
#include "app/ui_thread.h"
#include "controls/accessible_name.h"
#include "controls/color_list.h"
#include "controls/font_scale.h"

namespace app {

const char* const kReversedRangeText =
    "Start Time is greater then End Time. Please provide the correct time.";

namespace {

constexpr int kGap = 6;
// A list row: its text or image and the tree view's padding; the list's frame.
constexpr int kRowPadding = 8;
constexpr int kListFrame = 4;

std::int64_t SystemNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

// A picker pair's time: the date of one with the time of day of the other, in local time.
std::int64_t PickerTime(const wxDatePickerCtrl* date, const wxTimePickerCtrl* time) {
  const wxDateTime day = date->GetValue();
  int hour = 0;
  int minute = 0;
  int second = 0;
  time->GetTime(&hour, &minute, &second);
  if (!day.IsValid()) return 0;
  const wxDateTime at(
      day.GetDay(), day.GetMonth(), day.GetYear(), static_cast<wxDateTime::wxDateTime_t>(hour),
      static_cast<wxDateTime::wxDateTime_t>(minute), static_cast<wxDateTime::wxDateTime_t>(second));
  return at.IsValid() ? static_cast<std::int64_t>(at.GetValue().GetValue() / 1000) : 0;
}

void SetPicker(wxDatePickerCtrl* date, wxTimePickerCtrl* time, std::int64_t t) {
  const wxDateTime at(wxLongLong(t) * 1000);
  date->SetValue(at);
  time->SetValue(at);
  // The time picker selects its current field's text, which an unfocused entry would
  // keep showing highlighted; the field is highlighted again when the user enters it.
  for (wxWindow* child : time->GetChildren()) {
    if (auto* text = dynamic_cast<wxTextCtrl*>(child)) text->SelectNone();
  }
}

// A part of the period bar within its line.
wxSizerFlags PartFlags() {
  return wxSizerFlags().CentreVertical().Border(wxTOP | wxBOTTOM | wxRIGHT, kGap);
}

// The period bar's lines. Their least width is their widest part's, however the parts are
// placed now, so that the bar never sets the view's least width.
class PartLines : public wxBoxSizer {
 public:
  explicit PartLines(std::vector<wxBoxSizer*> parts)
      : wxBoxSizer(wxVERTICAL), parts_(std::move(parts)) {}

  wxSize CalcMin() override {
    wxSize least = wxBoxSizer::CalcMin();
    least.x = 0;
    for (wxSizer* part : parts_) least.x = std::max(least.x, part->CalcMin().x + kGap);
    return least;
  }

 private:
  std::vector<wxBoxSizer*> parts_;
};

PeriodMemory MemoryOf(const engine::MonitorSnapshot& monitor) {
  return {monitor.reportStart, monitor.reportEnd, monitor.reportPeriod};
}

}  // namespace

ReportBaseView::ReportBaseView(wxWindow* parent, SnapshotSource snapshots,
                               ReportPeriodSink savePeriod, engine::ReportLoader::Load load)
    : BaseView(parent, std::move(snapshots)),
      savePeriod_(std::move(savePeriod)),
      message_([this](const wxString& text) {
        OpenModalLater(
            this, [this, text] { wxMessageBox(text, "Lumivar", wxOK | wxICON_EXCLAMATION, this); });
      }),
      now_(SystemNow),
      self_(std::make_shared<wxWeakRef<ReportBaseView>>(this)) {
  auto* bar = new wxStaticBoxSizer(wxHORIZONTAL, this, wxString());
  wxStaticBox* box = bar->GetStaticBox();
  controls::SetAccessibleName(box, "Period");

  wxArrayString periods;
  for (int i = 0; i < engine::kReportPeriodCount; ++i) periods.Add(engine::ReportPeriodName(i));
  periodChoice_ = new wxChoice(box, wxID_ANY, wxDefaultPosition, wxDefaultSize, periods);
  controls::SetAccessibleName(periodChoice_, "Period");
  auto* customLabel = new wxStaticText(box, wxID_ANY, "Custom Period:");
  auto* fromLabel = new wxStaticText(box, wxID_ANY, "From");
  fromDate_ = new wxDatePickerCtrl(box, wxID_ANY, wxDefaultDateTime, wxDefaultPosition,
                                   wxDefaultSize, wxDP_DROPDOWN | wxDP_SHOWCENTURY);
  fromTime_ = new wxTimePickerCtrl(box, wxID_ANY);
  auto* toLabel = new wxStaticText(box, wxID_ANY, "To");
  toDate_ = new wxDatePickerCtrl(box, wxID_ANY, wxDefaultDateTime, wxDefaultPosition, wxDefaultSize,
                                 wxDP_DROPDOWN | wxDP_SHOWCENTURY);
  toTime_ = new wxTimePickerCtrl(box, wxID_ANY);
  refresh_ = new wxButton(box, wxID_ANY, "&Refresh");
  controls::SetAccessibleName(customLabel, "Custom Period:");
  controls::SetAccessibleName(fromLabel, "From");
  controls::SetAccessibleName(toLabel, "To");
  controls::SetAccessibleName(fromDate_, "From date", fromLabel);
  controls::SetAccessibleName(fromTime_, "From time", fromLabel);
  controls::SetAccessibleName(toDate_, "To date", toLabel);
  controls::SetAccessibleName(toTime_, "To time", toLabel);
  controls::SetAccessibleName(refresh_, "Refresh");

  const wxSizerFlags centred = wxSizerFlags().CentreVertical();
  // The bar's parts flow into as many lines as the view's width needs (PlaceParts), so that
  // the bar does not set the view's least width.
  const auto part = [&](std::initializer_list<wxWindow*> windows) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    for (wxWindow* window : windows) row->Add(window, wxSizerFlags(centred).Border(wxLEFT, kGap));
    parts_.push_back(row);
  };
  part({periodChoice_});
  part({customLabel});
  part({fromLabel, fromDate_, fromTime_});
  part({toLabel, toDate_, toTime_});
  // All on the first line until the view knows its width: the view's least height counts
  // one line.
  auto* lines = new PartLines(parts_);
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    lines_.push_back(new wxBoxSizer(wxHORIZONTAL));
    lines->Add(lines_.back());
    lines_.front()->Add(parts_[i], PartFlags());
    partLines_.push_back(0);
  }
  bar->Add(lines, wxSizerFlags(1).Expand());
  bar->Add(refresh_, wxSizerFlags().Top().Border(wxALL, kGap));
  bar_ = bar;
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    if (placePending_) return;
    // Moving parts inside the size event would lay the view out twice at once.
    placePending_ = true;
    CallAfter([this] {
      placePending_ = false;
      PlaceParts();
    });
  });
  Body()->Add(bar, wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT | wxTOP, kGap));

  reportBody_ = new wxBoxSizer(wxVERTICAL);
  Body()->Add(reportBody_, wxSizerFlags(1).Expand());

  periodChoice_->SetSelection(engine::kPeriodToday);
  SetPickers(now_(), now_());
  EnablePickers(false);

  periodChoice_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnPeriodChosen(); });
  refresh_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnRefreshClicked(); });

  // The worker hands results to the UI thread, where the view is reached only if it lives.
  loader_ = std::make_unique<engine::ReportLoader>(
      [self = self_](engine::ReportResult result) {
        PostToUiThread([self, result = std::move(result)] {
          if (ReportBaseView* view = self->get()) view->Deliver(result);
        });
      },
      std::move(load));
  SetSizeLimits(true, true);
}

ReportBaseView::~ReportBaseView() {
  // Waits for a running load, so nothing is posted after this; results already queued
  // find the reference cleared.
  loader_.reset();
  self_->Release();
}

bool ReportBaseView::UpdateView(bool save, int hint) {
  if (save) return BaseView::UpdateView(true, hint);
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  const std::int64_t now = Now();
  if (!monitor) {
    loader_->Cancel();
    loading_ = false;
    loadedMonitor_.clear();
    loadedPollTime_ = -1;
    Apply(PeriodOnShow(PeriodMemory{}, now), std::string());
  } else if (hint == kRefreshNotify && monitor->id == loadedMonitor_) {
    // Only a poll of the monitor shown can change its rows.
    if (monitor->current.time != loadedPollTime_) {
      loadedPollTime_ = monitor->current.time;
      Apply(PeriodOnPoll(MemoryOf(*monitor), CurrentBar(), now), monitor->id);
    }
  } else {
    // Whatever was asked for before no longer answers what the view shows.
    loader_->Cancel();
    loading_ = false;
    loadedMonitor_ = monitor->id;
    loadedPollTime_ = monitor->current.time;
    Apply(PeriodOnShow(MemoryOf(*monitor), now), monitor->id);
  }
  return BaseView::UpdateView(false, hint);
}

void ReportBaseView::PlaceParts() {
  int top = 0;
  int other = 0;
  bar_->GetStaticBox()->GetBordersForSizer(&top, &other);
  const int available = GetClientSize().x - 2 * kGap - 2 * other - refresh_->GetSize().x - 2 * kGap;
  std::vector<int> widths;
  for (wxSizer* part : parts_) widths.push_back(part->CalcMin().x + kGap);
  const std::vector<int> wanted = controls::FlowIntoLines(widths, available);
  if (wanted == partLines_) return;
  partLines_ = wanted;
  for (wxBoxSizer* line : lines_) {
    while (line->GetItemCount() > 0) line->Detach(0);
  }
  for (std::size_t i = 0; i < parts_.size(); ++i)
    lines_[static_cast<std::size_t>(wanted[i])]->Add(parts_[i], PartFlags());
  Layout();
}

std::int64_t ReportBaseView::PickerStart() const { return PickerTime(fromDate_, fromTime_); }

std::int64_t ReportBaseView::PickerEnd() const { return PickerTime(toDate_, toTime_); }

wxStaticBoxSizer* ReportBaseView::AddGroup(const wxString& title, int proportion) {
  auto* group = new wxStaticBoxSizer(wxVERTICAL, this, title);
  controls::SetAccessibleName(group->GetStaticBox(), title);
  reportBody_->Add(group, wxSizerFlags(proportion).Expand().Border(wxLEFT | wxRIGHT | wxTOP, kGap));
  return group;
}

controls::ColorList* ReportBaseView::AddList(wxStaticBoxSizer* group,
                                             const wxString& accessibleName,
                                             const std::vector<wxString>& columns, bool header) {
  long style = wxDV_SINGLE | wxDV_ROW_LINES | wxDV_HORIZ_RULES | wxDV_VERT_RULES;
  if (!header) style |= wxDV_NO_HEADER;
  auto* list = new controls::ColorList(group->GetStaticBox(), wxID_ANY, accessibleName,
                                       wxDefaultPosition, wxDefaultSize, style);
  for (const wxString& title : columns) list->AddColumn(title);
  list->SetFitColumns(true);
  group->Add(list, wxSizerFlags(1).Expand().Border(wxALL, kGap / 2));
  return list;
}

void ReportBaseView::FitListHeight(controls::ColorList* list, int rows) {
  const int rowHeight = std::max(list->GetCharHeight(), controls::ColorList::kMinRowHeight) +
                        list->FromDIP(kRowPadding);
  const bool header = !list->HasFlag(wxDV_NO_HEADER);
  const int height = (rows + (header ? 1 : 0)) * rowHeight + list->FromDIP(kListFrame);
  list->SetMinSize(wxSize(-1, height));
  list->SetMaxSize(wxSize(-1, height));
}

void ReportBaseView::SetRows(controls::ColorList* list,
                             const std::vector<std::vector<std::string>>& rows) {
  wxWindowUpdateLocker freeze(list);
  list->DeleteAllItems();
  std::vector<wxString> texts;
  for (const std::vector<std::string>& row : rows) {
    texts.clear();
    for (const std::string& text : row) texts.push_back(wxString::FromUTF8(text));
    list->AddRow(texts);
  }
}

controls::GraphPoints ReportBaseView::ChartPoints(const engine::Series& series) {
  controls::GraphPoints points;
  points.reserve(series.size());
  for (const engine::SeriesPoint& point : series) points.push_back({point.value, point.time});
  return points;
}

void ReportBaseView::SetColumnTexts(controls::ColorList* list, unsigned column,
                                    const std::vector<std::string>& texts) {
  wxWindowUpdateLocker freeze(list);
  for (unsigned row = 0; row < texts.size(); ++row) {
    while (static_cast<unsigned>(list->GetItemCount()) <= row) list->AddRow({});
    list->SetCellText(row, column, wxString::FromUTF8(texts[row]));
  }
}

void ReportBaseView::OnPeriodChosen() {
  Apply(PeriodOnChoose(periodChoice_->GetSelection(), CurrentBar(), Now()), MonitorId());
}

void ReportBaseView::OnRefreshClicked() {
  const PeriodStep step = PeriodOnRefresh(CurrentBar(), Now());
  if (step.reversed) {
    if (message_) message_(kReversedRangeText);
    return;
  }
  Apply(step, MonitorId());
}

void ReportBaseView::Apply(const PeriodStep& step, const std::string& monitorId) {
  const int period = step.bar.period;
  if (period >= 0 && period < engine::kReportPeriodCount &&
      periodChoice_->GetSelection() != period) {
    periodChoice_->SetSelection(period);
  }
  EnablePickers(periodChoice_->GetSelection() == engine::kPeriodCustom);
  if (step.setPickers) SetPickers(step.bar.start, step.bar.end);
  if (monitorId.empty()) return;
  if (step.store && savePeriod_) {
    savePeriod_(monitorId, step.store->start, step.store->end, step.store->period);
  }
  if (step.load) RequestLoad(*step.load);
}

void ReportBaseView::SetPickers(std::int64_t start, std::int64_t end) {
  SetPicker(fromDate_, fromTime_, start);
  SetPicker(toDate_, toTime_, end);
}

void ReportBaseView::EnablePickers(bool enable) {
  fromDate_->Enable(enable);
  fromTime_->Enable(enable);
  toDate_->Enable(enable);
  toTime_->Enable(enable);
}

void ReportBaseView::RequestLoad(const engine::PeriodBounds& bounds) {
  bounds_ = bounds;
  const std::optional<engine::ReportKind> kind = LoadKind();
  const std::optional<engine::MonitorSnapshot> monitor = SelectedMonitor();
  if (!kind || !monitor) return;
  engine::ReportRequest request;
  request.kind = *kind;
  request.inputs.monitorId = monitor->id;
  for (const engine::TestQuerySnapshot& query : monitor->testQueries) {
    request.inputs.testQueries.push_back({query.id, query.settings.name});
  }
  request.inputs.period = bounds;
  generation_ = loader_->Request(std::move(request));
  ++loadsRequested_;
  loading_ = true;
}

void ReportBaseView::Deliver(const engine::ReportResult& result) {
  // A newer request, or another monitor shown since, makes the result stale.
  if (result.generation != generation_ || !loader_->IsCurrent(result) ||
      result.request.inputs.monitorId != MonitorId()) {
    return;
  }
  loading_ = false;
  if (std::holds_alternative<std::monostate>(result.texts)) return;
  ShowReport(result.texts);
  ++loadsShown_;
}

PeriodBar ReportBaseView::CurrentBar() const {
  return {periodChoice_->GetSelection(), PickerStart(), PickerEnd()};
}

std::int64_t ReportBaseView::Now() const { return now_ ? now_() : SystemNow(); }

}  // namespace app
