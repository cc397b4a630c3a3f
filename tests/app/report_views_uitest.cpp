// The report base view and the availability, history and alert reports under a display:
// choosing a period fills the pickers, remembers the period and loads once; "Custom
// Period" enables the pickers and loads nothing; the reversed-range warning comes on a
// click of Refresh only; polls of other monitors do not reload; a delivered result shows in
// the lists, a superseded one does not; the event loop keeps turning during a slow load.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/datectrl.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/timectrl.h>
#include <wx/timer.h>

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/views/alerts_report_view.h"
#include "app/views/availability_view.h"
#include "app/views/history_view.h"
#include "controls/color_list.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

constexpr std::int64_t kNow = 1709719200;  // a Wednesday morning
constexpr std::int64_t kDay = 86400;

// A text that tells which period a canned result answers.
std::string Tag(std::int64_t start) { return engine::FormatTimeSpan(kNow - start + 60); }

// A load function for the views' workers: records each request and answers with canned
// texts (none while failing); while closed, a load waits until the gate opens.
class FakeLoads {
 public:
  engine::ReportLoader::Load Function() {
    return [this](const engine::ReportRequest& request) -> engine::ReportTexts {
      std::unique_lock<std::mutex> lock(mutex_);
      requests_.push_back(request);
      ++running_;
      changed_.wait(lock, [this] { return open_; });
      --running_;
      if (fail_) return std::monostate();
      const std::string tag = Tag(request.inputs.period.start);
      if (request.kind == engine::ReportKind::kAvailability) {
        return engine::AvailabilityReportTexts{
            {"1 Days 2 Hours 5 Minutes", "35 Minutes", "97.81%", "17 Minutes", tag},
            {{"05 Mar 2024 10:30 AM", "05 Mar 2024 10:45 AM", "15 Minutes"},
             {"06 Mar 2024 01:00 AM", "06 Mar 2024 01:20 AM", "20 Minutes"}}};
      }
      return engine::HistoryReportTexts{{"6 Hours 40 Minutes", "-", "100.00%", "-", "-"},
                                        {"12", "340", "87"},
                                        {{"Orders", "3", "9", "5"}, {"Stock", "-", "-", "-"}}};
    };
  }
  void SetOpen(bool open) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = open;
    changed_.notify_all();
  }
  void SetFailing(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_ = fail;
  }
  bool Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ > 0;
  }
  engine::ReportRequest Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.back();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<engine::ReportRequest> requests_;
  int running_ = 0;
  bool open_ = true;
  bool fail_ = false;
};

class ReportViewsUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* id : {"Sales", "Stock"}) {
      engine::MonitorSnapshot& monitor = monitors_[id];
      monitor.id = id;
      monitor.settings.name = id;
      monitor.current.time = kNow - 60;
      monitor.testQueries.push_back({});
      monitor.testQueries.back().id = std::string(id) + "-q";
      monitor.testQueries.back().settings.name = "Orders";
    }
    frame_ = new wxFrame(nullptr, wxID_ANY, "reports", wxPoint(0, 0), wxSize(900, 600));
    sizer_ = new wxBoxSizer(wxVERTICAL);
    frame_->SetSizer(sizer_);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    loads_.SetOpen(true);
    frame_->Destroy();
    PumpFor(std::chrono::milliseconds(20));
  }

  template <class View>
  View* Make() {
    View* view = new View(frame_, Snapshots(), Sink(), loads_.Function());
    Place(view);
    return view;
  }
  void Place(ReportBaseView* view) {
    for (wxSizerItem* item : sizer_->GetChildren()) item->GetWindow()->Hide();
    sizer_->Add(view, 1, wxEXPAND);
    view->SetClock([] { return kNow; });
    view->SetMessageFunction([this](const wxString& text) { messages_.push_back(text); });
    view->InitView();
    frame_->Layout();
  }
  SnapshotSource Snapshots() {
    return [this](const std::string& id) {
      const auto found = monitors_.find(id);
      return found == monitors_.end() ? std::nullopt
                                      : std::optional<engine::MonitorSnapshot>(found->second);
    };
  }
  ReportPeriodSink Sink() {
    return
        [this](const std::string& id, std::int64_t start, std::int64_t end, std::int32_t period) {
          ++stores_;
          engine::MonitorSnapshot& monitor = monitors_.at(id);
          monitor.reportStart = start;
          monitor.reportEnd = end;
          monitor.reportPeriod = period;
        };
  }

  static void Show(ReportBaseView* view, const std::string& id, int hint = kRefreshShow) {
    view->SetMonitorId(id);
    view->UpdateView(false, hint);
  }
  static void Choose(ReportBaseView* view, int period) {
    wxChoice* choice = view->PeriodChoice();
    choice->SetSelection(period);
    wxCommandEvent event(wxEVT_CHOICE, choice->GetId());
    event.SetEventObject(choice);
    event.SetInt(period);
    choice->ProcessWindowEvent(event);
  }
  static void ClickRefresh(ReportBaseView* view) {
    wxCommandEvent event(wxEVT_BUTTON, view->RefreshButton()->GetId());
    event.SetEventObject(view->RefreshButton());
    view->RefreshButton()->ProcessWindowEvent(event);
  }
  static void SetPickers(ReportBaseView* view, std::int64_t start, std::int64_t end) {
    const wxDateTime from(wxLongLong(start) * 1000);
    const wxDateTime to(wxLongLong(end) * 1000);
    view->FromDate()->SetValue(from);
    view->FromTime()->SetValue(from);
    view->ToDate()->SetValue(to);
    view->ToTime()->SetValue(to);
  }
  static bool PickersEnabled(ReportBaseView* view) {
    return view->FromDate()->IsEnabled() && view->FromTime()->IsEnabled() &&
           view->ToDate()->IsEnabled() && view->ToTime()->IsEnabled();
  }
  static std::vector<std::string> Column(controls::ColorList* list, unsigned column) {
    std::vector<std::string> texts;
    for (int row = 0; row < list->GetItemCount(); ++row) {
      texts.push_back(list->GetCellText(static_cast<unsigned>(row), column).utf8_string());
    }
    return texts;
  }
  bool WaitShown(ReportBaseView* view, std::uint64_t shown) {
    return PumpUntil([view, shown] { return view->LoadsShown() >= shown && !view->Loading(); });
  }
  void Screenshot(const char* name) {
    frame_->Layout();
    testing_support::ScreenshotIfAsked(frame_, name);
  }

  std::map<std::string, engine::MonitorSnapshot> monitors_;
  int stores_ = 0;
  std::vector<wxString> messages_;
  FakeLoads loads_;
  wxFrame* frame_ = nullptr;
  wxBoxSizer* sizer_ = nullptr;
};

TEST_F(ReportViewsUiTest, ChoosingAPeriodFillsThePickersRemembersItAndLoadsOnce) {
  auto* view = Make<AvailabilityReportView>();
  Show(view, "Sales");
  ASSERT_TRUE(WaitShown(view, 1));
  EXPECT_EQ(view->LoadsRequested(), 1u);
  EXPECT_EQ(view->PeriodChoice()->GetSelection(), engine::kPeriodToday);
  for (int period : {engine::kPeriodYesterday, engine::kPeriodLastWeek, engine::kPeriodLastMonth,
                     engine::kPeriodThisYear}) {
    SCOPED_TRACE(period);
    const engine::PeriodBounds bounds = *engine::PeriodBoundsFor(period, kNow);
    const std::uint64_t before = view->LoadsRequested();
    Choose(view, period);
    EXPECT_EQ(view->PickerStart(), bounds.start);
    EXPECT_EQ(view->PickerEnd(), bounds.end);
    EXPECT_FALSE(PickersEnabled(view));
    EXPECT_EQ(view->LoadsRequested(), before + 1);
    EXPECT_EQ(monitors_["Sales"].reportPeriod, period);
    EXPECT_EQ(monitors_["Sales"].reportStart, bounds.start);
    ASSERT_TRUE(WaitShown(view, before + 1));
    const engine::ReportRequest request = loads_.Last();
    EXPECT_EQ(request.inputs.monitorId, "Sales");
    EXPECT_EQ(request.inputs.period.start, bounds.start);
    EXPECT_EQ(request.inputs.period.end, bounds.end);
    ASSERT_EQ(request.inputs.testQueries.size(), 1u);
    EXPECT_EQ(request.inputs.testQueries[0].name, "Orders");
  }

  // Custom Period enables the pickers, remembers only the index and loads nothing; the
  // other reports of the monitor then show the same custom range.
  const std::uint64_t before = view->LoadsRequested();
  Choose(view, engine::kPeriodCustom);
  EXPECT_TRUE(PickersEnabled(view));
  EXPECT_EQ(monitors_["Sales"].reportPeriod, engine::kPeriodCustom);
  SetPickers(view, kNow - 5 * kDay, kNow - 2 * kDay);
  Screenshot("custom_period");
  ClickRefresh(view);
  EXPECT_EQ(view->LoadsRequested(), before + 1);
  EXPECT_TRUE(messages_.empty());
  auto* history = Make<HistoryView>();
  Show(history, "Sales");
  EXPECT_EQ(history->PeriodChoice()->GetSelection(), engine::kPeriodCustom);
  EXPECT_TRUE(PickersEnabled(history));
  EXPECT_EQ(history->PickerStart(), kNow - 5 * kDay);
  EXPECT_EQ(history->PickerEnd(), kNow - 2 * kDay);
  ASSERT_TRUE(WaitShown(history, 1));
  EXPECT_EQ(loads_.Last().inputs.period.start, kNow - 5 * kDay);
}

TEST_F(ReportViewsUiTest, TheReversedRangeWarningComesOnAClickOfRefreshOnly) {
  monitors_["Sales"].reportStart = kNow - kDay;
  monitors_["Sales"].reportEnd = kNow - 2 * kDay;  // reversed, remembered
  auto* view = Make<AvailabilityReportView>();
  Show(view, "Sales");
  monitors_["Sales"].current.time = kNow;
  Show(view, "Sales", kRefreshNotify);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(view->LoadsRequested(), 0u);

  ClickRefresh(view);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Start Time is greater then End Time. Please provide the correct time.");
  EXPECT_EQ(stores_, 0);
  EXPECT_EQ(view->LoadsRequested(), 0u);

  SetPickers(view, kNow - kDay, kNow - kDay);  // equal ends load
  ClickRefresh(view);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(view->LoadsRequested(), 1u);
}

TEST_F(ReportViewsUiTest, OnlyAPollOfTheShownMonitorReloadsAndCustomPickersStay) {
  auto* view = Make<HistoryView>();
  Show(view, "Sales");
  ASSERT_TRUE(WaitShown(view, 1));
  Choose(view, engine::kPeriodCustom);
  SetPickers(view, kNow - 9 * kDay, kNow - 8 * kDay);  // typed, not yet applied
  const std::uint64_t before = view->LoadsRequested();

  const struct {
    const char* monitor;  // the one that polled
    std::uint64_t loads;  // requested after the notification
  } cases[] = {{"Stock", before}, {"Stock", before}, {"Sales", before + 1}, {"Stock", before + 1}};
  std::int64_t poll = kNow;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.monitor);
    monitors_[c.monitor].current.time = ++poll;
    monitors_["Sales"].statusText = std::string("after ") + c.monitor;
    Show(view, "Sales", kRefreshNotify);
    EXPECT_EQ(view->LoadsRequested(), c.loads);
    EXPECT_EQ(view->Header().status, std::string("after ") + c.monitor);
    EXPECT_EQ(view->PickerStart(), kNow - 9 * kDay);
    EXPECT_EQ(view->PeriodChoice()->GetSelection(), engine::kPeriodCustom);
  }
  // The poll reloaded the remembered range, not the one being typed.
  ASSERT_TRUE(WaitShown(view, 2));
  EXPECT_EQ(loads_.Last().inputs.period.start,
            engine::PeriodBoundsFor(engine::kPeriodToday, kNow)->start);
}

TEST_F(ReportViewsUiTest, DeliveredResultsShowInTheLists) {
  auto* availability = Make<AvailabilityReportView>();
  EXPECT_EQ(Column(availability->SummaryList(), 0),
            (std::vector<std::string>{"Total Uptime", "Total Downtime", "Total Uptime Percentage",
                                      "Mean Time To Repair (MTTR)",
                                      "Mean Time Between Failures (MTBF)"}));
  Show(availability, "Sales");
  ASSERT_TRUE(WaitShown(availability, 1));
  const std::string today = Tag(engine::PeriodBoundsFor(engine::kPeriodToday, kNow)->start);
  EXPECT_EQ(Column(availability->SummaryList(), 1),
            (std::vector<std::string>{"1 Days 2 Hours 5 Minutes", "35 Minutes", "97.81%",
                                      "17 Minutes", today}));
  EXPECT_EQ(Column(availability->DowntimeList(), 0),
            (std::vector<std::string>{"05 Mar 2024 10:30 AM", "06 Mar 2024 01:00 AM"}));
  EXPECT_EQ(Column(availability->DowntimeList(), 2),
            (std::vector<std::string>{"15 Minutes", "20 Minutes"}));
  Screenshot("availability_report");

  // A failed load keeps what the lists show.
  loads_.SetFailing(true);
  Choose(availability, engine::kPeriodYesterday);
  ASSERT_TRUE(PumpUntil([availability] { return !availability->Loading(); }));
  EXPECT_EQ(availability->LoadsShown(), 1u);
  EXPECT_EQ(availability->SummaryList()->GetCellText(4, 1).utf8_string(), today);
  EXPECT_EQ(availability->DowntimeList()->GetItemCount(), 2);
  loads_.SetFailing(false);

  auto* history = Make<HistoryView>();
  Show(history, "Stock");
  ASSERT_TRUE(WaitShown(history, 1));
  EXPECT_EQ(Column(history->AvailabilityList(), 1),
            (std::vector<std::string>{"6 Hours 40 Minutes", "-", "100.00%", "-", "-"}));
  EXPECT_EQ(Column(history->ConnectionList(), 0),
            (std::vector<std::string>{"Connection Time Minimum", "Connection Time Maximum",
                                      "Connection Time Average"}));
  EXPECT_EQ(Column(history->ConnectionList(), 1), (std::vector<std::string>{"12", "340", "87"}));
  EXPECT_EQ(Column(history->ValuesList(), 0), (std::vector<std::string>{"Orders", "Stock"}));
  EXPECT_EQ(Column(history->ValuesList(), 3), (std::vector<std::string>{"5", "-"}));
  Screenshot("history_report");

  // The alert report loads nothing: its value column stays empty.
  auto* alerts = new AlertsReportView(frame_, Snapshots(), Sink());
  Place(alerts);
  Show(alerts, "Sales");
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(alerts->LoadsRequested(), 0u);
  EXPECT_EQ(Column(alerts->SummaryList(), 1), std::vector<std::string>(4, ""));
  EXPECT_EQ(alerts->DetailsList()->GetItemCount(), 0);
  Screenshot("alerts_report");
}

TEST_F(ReportViewsUiTest, TheEventLoopTurnsDuringASlowLoadAndOnlyTheNewestResultShows) {
  auto* view = Make<AvailabilityReportView>();
  loads_.SetOpen(false);
  Show(view, "Sales");  // "Today"
  ASSERT_TRUE(PumpUntil([this] { return loads_.Running(); }));
  wxTimer timer;
  bool fired = false;
  timer.Bind(wxEVT_TIMER, [&fired](wxTimerEvent&) { fired = true; });
  timer.StartOnce(10);
  ASSERT_TRUE(PumpUntil([&fired] { return fired; }));
  EXPECT_TRUE(view->Loading());
  EXPECT_EQ(view->SummaryList()->GetCellText(0, 1), "");  // nothing shown meanwhile

  Choose(view, engine::kPeriodThisYear);  // supersedes the running load
  loads_.SetOpen(true);
  ASSERT_TRUE(WaitShown(view, 1));
  EXPECT_EQ(view->LoadsShown(), 1u);
  EXPECT_EQ(view->SummaryList()->GetCellText(4, 1).utf8_string(),
            Tag(engine::PeriodBoundsFor(engine::kPeriodThisYear, kNow)->start));

  // A result for a monitor that has gone meanwhile is dropped.
  loads_.SetOpen(false);
  Choose(view, engine::kPeriodToday);
  ASSERT_TRUE(PumpUntil([this] { return loads_.Running(); }));
  monitors_.erase("Sales");
  Show(view, "Sales");
  loads_.SetOpen(true);
  ASSERT_TRUE(PumpUntil([this] { return !loads_.Running(); }));
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(view->LoadsShown(), 1u);
  EXPECT_FALSE(view->Loading());
}

}  // namespace
}  // namespace app
