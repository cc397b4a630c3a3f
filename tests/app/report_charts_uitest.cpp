// The connection-time, test-query and health report views under a display: a delivered
// load fills the view's lists and chart as delivered (gaps kept, time labels by interval
// length), and an empty load after it empties them rather than keeping the old contents.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <ctime>
#include <functional>

#include "app/views/connection_time_report_view.h"
#include "app/views/health_report_view.h"
#include "app/views/test_queries_report_view.h"
#include "controls/attribute_list.h"
#include "controls/graphic.h"
#include "controls/info_list.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using Table = std::vector<std::vector<std::string>>;

template <class Rows>
Table TableOf(const Rows& rows) {
  Table table;
  for (const auto& row : rows) table.emplace_back(row.begin(), row.end());
  return table;
}
Table Cells(controls::ColorList* list) {
  Table rows(static_cast<std::size_t>(list->GetItemCount()));
  for (unsigned row = 0; row < rows.size(); ++row) {
    for (unsigned column = 0; column < list->GetColumnCount(); ++column) {
      rows[row].push_back(list->GetCellText(row, column).utf8_string());
    }
  }
  return rows;
}
template <class Points>
std::vector<std::pair<double, std::int64_t>> PointsOf(const Points& points) {
  std::vector<std::pair<double, std::int64_t>> out;
  for (const auto& point : points) out.emplace_back(point.value, point.time);
  return out;
}

// A full load of each kind from the engine's builders over one closed day of polls every
// five minutes: the monitor stopped from 09:00 to 13:00 (a chart gap), some polls failed
// (-1), some afternoon polls unhealthy.
engine::ReportTexts DayTexts(engine::ReportKind kind) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900, tm.tm_mon = 2, tm.tm_mday = 5, tm.tm_isdst = -1;
  const engine::PeriodBounds day{std::mktime(&tm), std::mktime(&tm) + 86399, false};
  engine::TimesReportBuilder times(day, kind == engine::ReportKind::kConnectionTime);
  engine::HealthReportBuilder health(day);
  for (int i = 0; i < 288; ++i) {
    if (i / 12 >= 9 && i / 12 < 13) continue;
    times.Add(day.start + 300 * i, i % 17 == 0 ? -1 : 40 + (i * 37) % 90 + i / 4);
    health.Add(day.start + 300 * i, i / 12 >= 15 && i % 3 == 0 ? 0 : 1);
  }
  engine::TimesReport report = times.Finish();
  std::vector<engine::TextRow4> rows;
  for (auto it = report.intervals.rbegin(); it != report.intervals.rend(); ++it) {
    rows.push_back(engine::IntervalRowTexts(*it, report.granularity));
  }
  switch (kind) {
    case engine::ReportKind::kConnectionTime:
      return engine::ConnectionTimeReportTexts{report.granularity, rows, report.series};
    case engine::ReportKind::kTestQueries:
      return engine::TestQueriesReportTexts{
          report.granularity, rows, {{"Orders", "12", "95", "41"}, {"Stock", "-", "-", "-"}}};
    default:
      engine::HealthReport h = health.Finish();
      return engine::HealthReportTexts{h.granularity, h.critical, h.criticalText, h.clearText};
  }
}

std::optional<engine::MonitorSnapshot> Snapshot(const std::string& id) {
  engine::MonitorSnapshot monitor;
  monitor.id = id;
  monitor.settings.name = "Sales";
  return monitor;
}

struct ViewCase {
  const char* name;
  engine::ReportKind kind;
  engine::ReportTexts empty;
  std::function<ReportBaseView*(wxWindow*, engine::ReportLoader::Load)> make;
  std::function<void(ReportBaseView*, const engine::ReportTexts&)> check;
};

const ViewCase kCases[] = {
    {"connection_time_report", engine::ReportKind::kConnectionTime,
     engine::ConnectionTimeReportTexts{},
     [](wxWindow* parent, engine::ReportLoader::Load load) -> ReportBaseView* {
       return new ConnectionTimeReportView(parent, Snapshot, {}, std::move(load));
     },
     [](ReportBaseView* base, const engine::ReportTexts& texts) {
       auto* view = static_cast<ConnectionTimeReportView*>(base);
       const auto& t = std::get<engine::ConnectionTimeReportTexts>(texts);
       EXPECT_EQ(Cells(view->TimesList()), TableOf(t.intervals));
       const controls::ChartModel& chart = view->Chart()->Model();
       for (int i = 0; i < 3; ++i) EXPECT_EQ(PointsOf(chart.Series(i)), PointsOf(t.series[i]));
       EXPECT_EQ(chart.TimeFormat(), t.granularity);
     }},
    {"test_queries_report", engine::ReportKind::kTestQueries, engine::TestQueriesReportTexts{},
     [](wxWindow* parent, engine::ReportLoader::Load load) -> ReportBaseView* {
       return new TestQueriesReportView(parent, Snapshot, {}, std::move(load));
     },
     [](ReportBaseView* base, const engine::ReportTexts& texts) {
       auto* view = static_cast<TestQueriesReportView*>(base);
       const auto& t = std::get<engine::TestQueriesReportTexts>(texts);
       EXPECT_EQ(Cells(view->TimesList()), TableOf(t.intervals));
       EXPECT_EQ(Cells(view->ValuesList()), TableOf(t.testQueries));
     }},
    {"health_report", engine::ReportKind::kHealth, engine::HealthReportTexts{},
     [](wxWindow* parent, engine::ReportLoader::Load load) -> ReportBaseView* {
       return new HealthReportView(parent, Snapshot, {}, std::move(load));
     },
     [](ReportBaseView* base, const engine::ReportTexts& texts) {
       auto* view = static_cast<HealthReportView*>(base);
       const auto& t = std::get<engine::HealthReportTexts>(texts);
       EXPECT_EQ(Cells(view->Info()->GetList()),
                 (Table{{"Critical", t.criticalText, ""}, {"Clear", t.clearText, ""}}));
       const controls::ChartModel& chart = view->Info()->GetChart()->Model();
       EXPECT_EQ(PointsOf(chart.Series(0)), PointsOf(t.critical));
       EXPECT_EQ(chart.TimeFormat(), t.granularity);
       EXPECT_EQ(chart.Color(0), (controls::ChartRgb{255, 0, 0}));
     }},
};

TEST(ReportChartsUiTest, ADeliveredLoadFillsListsAndChartAndAnEmptyOneEmptiesThem) {
  for (const ViewCase& c : kCases) {
    SCOPED_TRACE(c.name);
    auto* frame = new wxFrame(nullptr, wxID_ANY, c.name, wxPoint(0, 0), wxSize(900, 720));
    engine::ReportTexts next = DayTexts(c.kind);
    ReportBaseView* view = c.make(frame, [&](const engine::ReportRequest& request) {
      return request.kind == c.kind ? next : engine::ReportTexts{};
    });
    frame->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame->GetSizer()->Add(view, 1, wxEXPAND);
    frame->Show();
    ASSERT_TRUE(ui_testing::PumpUntil([&] { return view->IsShownOnScreen(); }));
    view->InitView();
    frame->Layout();
    view->SetMonitorId("sales");
    for (unsigned load = 1; load <= 2; ++load) {
      view->UpdateView(false, kRefreshShow);
      ASSERT_TRUE(ui_testing::PumpUntil([&] { return view->LoadsShown() == load; }));
      c.check(view, next);
      const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR");
      if (dir && load == 1) {
        ui_testing::PumpFor(std::chrono::milliseconds(300));
        testing_support::SaveWindowScreenshot(frame, std::string(dir) + "/" + c.name + ".png");
      }
      next = c.empty;
    }
    frame->Destroy();
    ui_testing::PumpFor(std::chrono::milliseconds(20));
  }
}

}  // namespace
}  // namespace app
