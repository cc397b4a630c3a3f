// How long the user-interface thread is held by the log view of a monitor with 200,000 log
// rows: while the view opens and fills, and while it follows polls that each add three rows
// (the selected line stays selected). The view runs in a frame of its own over the real store
// and data file; a 5 ms one-shot timer on the UI thread, started again each time it fires,
// measures how much later than due it fires, and the view's calls count too. Each phase is
// measured until 300 ms after its rows are all in the list, so the repaints count. Prints the
// longest hold of the open and of each poll (target: at most 100 ms), how long the open took
// until every row was in the list, and the resident memory after each poll.
//
// Needs a display: without DISPLAY the program runs itself again under `xvfb-run -a`.
// Not a Google Benchmark program: it prints its figures itself.
#include <wx/app.h>
#include <wx/dataview.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/sizer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/ui_thread.h"
#include "app/views/log_view.h"
#include "bench/bench_support.h"
#include "bench/ui_bench_support.h"
#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRows = 200'000;
constexpr int kPolls = 12;
constexpr int kRowsPerPoll = 3;
constexpr int kProbeMs = 5;
constexpr auto kSettle = 300ms;
constexpr double kTargetMs = 100;

// The monitor's log as weeks of failing polls leave it: one row every 20 s, oldest first.
void FillLog(const std::string& monitorId) {
  const std::string file = engine::DataFiles::DataFolder() + engine::DataFiles::kDataFileName;
  bench::RunSqlite(
      file,
      {"BEGIN",
       "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(kRows - 1) + ") INSERT INTO Log SELECT '" + monitorId +
           "', printf('%010d', 1700000000 + i * 20), CASE WHEN i % 3 = 0 THEN '1' ELSE '0' END, "
           "CASE WHEN i % 3 = 0 THEN 'Database is not available: [unixODBC][Driver Manager]Data "
           "source name not found and no default driver specified (poll ' || i || ')' ELSE "
           "'ERROR On Sales' || char(13, 10) || 'Value: ' || i || char(13, 10) || "
           "'Threshold: 10' END FROM n",
       "COMMIT"});
}

unsigned int ListRows(app::LogView& view) {
  auto* model = static_cast<wxDataViewVirtualListModel*>(view.List()->GetModel());
  return model != nullptr ? model->GetCount() : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bench::EnsureDisplay(argc, argv, "log_view_bench");
  bench::DocumentsFolder folder("lumivar-log-bench");

  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "log_view_bench: wx could not start\n");
    return 1;
  }
  {
    engine::DataFiles::CreateConfigTables();
    engine::DataFiles::CreateDataTables();
    engine::ServerStorage store;
    store.LoadAll();
    engine::MonitorSettings settings;
    settings.name = "Sales";
    settings.address = "lumivar-bench-no-such-source";
    const std::string id = store.AddMonitor(settings);
    FillLog(id);
    app::SetUiThreadReceiver(wxTheApp);
    engine::Services::SetStorage(&store);

    // A poll shows in the snapshot as a later time of the current sample.
    std::int64_t pollTime = 1'800'000'000;
    const app::SnapshotSource storeSnapshots = app::SnapshotsOf(store);
    auto snapshots = [&](const std::string& monitorId) {
      std::optional<engine::MonitorSnapshot> monitor = storeSnapshots(monitorId);
      if (monitor) monitor->current.time = pollTime;
      return monitor;
    };

    auto* frame = new wxFrame(nullptr, wxID_ANY, "log", wxPoint(0, 0), wxSize(1100, 800));
    auto* view = new app::LogView(frame, snapshots, store);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Show();
    view->InitView();

    enum class Phase { kWarmUp, kOpening, kPolling, kSettling, kDone };
    Phase phase = Phase::kWarmUp;
    const Clock::time_point started = Clock::now();
    Clock::time_point openAsked;
    Clock::time_point complete;
    double openMs = 0;
    double openHold = 0;
    unsigned int expected = kRows;
    int polls = 0;
    std::vector<double> pollHolds;
    std::vector<std::int64_t> residentKiB;
    bool selectionKept = true;

    wxGUIEventLoop loop;
    bench::HoldProbe probe(kProbeMs);
    auto finished = [&] { return !view->Busy() && ListRows(*view) == expected; };
    auto poll = [&] {
      for (int i = 0; i < kRowsPerPoll; ++i) {
        engine::WriteLogRow(id, 1,
                            "Database is not available (poll " + std::to_string(polls) + ")");
      }
      pollTime += 60;
      expected += kRowsPerPoll;
      view->UpdateView(false, app::kRefreshNotify);
      phase = Phase::kPolling;
    };
    probe.Start([&] {
      const Clock::time_point now = Clock::now();
      switch (phase) {
        case Phase::kWarmUp:
          if (now - started < 1s) return;
          probe.Take();
          openAsked = Clock::now();
          view->SetMonitorId(id);
          view->UpdateView(false, app::kRefreshShow);
          phase = Phase::kOpening;
          return;
        case Phase::kOpening:
          if (!finished()) return;
          openMs = std::chrono::duration<double, std::milli>(now - openAsked).count();
          complete = now;
          phase = Phase::kSettling;
          return;
        case Phase::kPolling:
          if (!finished()) return;
          complete = now;
          phase = Phase::kSettling;
          return;
        case Phase::kSettling: {
          if (now - complete < kSettle) return;
          if (polls == 0) {
            openHold = probe.Take();
            // The line the user reads: the tenth from the top.
            view->List()->Select(
                static_cast<wxDataViewVirtualListModel*>(view->List()->GetModel())->GetItem(9));
          } else {
            pollHolds.push_back(probe.Take());
            const wxDataViewItem item = view->List()->GetSelection();
            const unsigned int row =
                item.IsOk() ? static_cast<wxDataViewVirtualListModel*>(view->List()->GetModel())
                                  ->GetRow(item)
                            : ~0u;
            selectionKept =
                selectionKept && row == 9u + static_cast<unsigned>(polls) * kRowsPerPoll;
          }
          residentKiB.push_back(bench::ResidentKiB());
          if (polls == kPolls) {
            phase = Phase::kDone;
            loop.Exit();
            return;
          }
          ++polls;
          poll();
          return;
        }
        case Phase::kDone:
          return;
      }
    });
    loop.Run();
    probe.Stop();

    frame->Destroy();
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });
    end.StartOnce(200);
    loop.Run();
    engine::Services::SetStorage(nullptr);
    app::SetUiThreadReceiver(nullptr);
    store.Clear();

    const double pollMax =
        pollHolds.empty() ? 0 : *std::max_element(pollHolds.begin(), pollHolds.end());
    std::printf("log_view_bench: the log view of a monitor with %d log rows\n", kRows);
    std::printf("  open: every row in the list after   %.0f ms\n", openMs);
    std::printf("  open: longest UI-thread hold         %.1f ms (target <= %.0f)\n", openHold,
                kTargetMs);
    std::printf("  polls of %d rows each                 %d\n", kRowsPerPoll, kPolls);
    std::printf("  polls: longest UI-thread hold of each:");
    for (double hold : pollHolds) std::printf(" %.1f", hold);
    std::printf(" ms\n");
    std::printf("  polls: longest UI-thread hold        %.1f ms (target <= %.0f)\n", pollMax,
                kTargetMs);
    std::printf("  selected line kept through the polls %s\n", selectionKept ? "yes" : "no");
    std::printf("  resident memory after the open       %lld MiB\n",
                static_cast<long long>(residentKiB.front() / 1024));
    std::printf("  resident memory after each poll (MiB):");
    for (std::size_t i = 1; i < residentKiB.size(); ++i) {
      std::printf(" %lld", static_cast<long long>(residentKiB[i] / 1024));
    }
    std::printf("\n");
    if (residentKiB.size() > 2) {
      std::printf("  resident memory per poll, polls 2 to %d: %+.1f MiB\n", kPolls,
                  static_cast<double>(residentKiB.back() - residentKiB[1]) / 1024.0 /
                      static_cast<double>(residentKiB.size() - 2));
    }
    std::printf("  targets                              %s\n",
                openHold <= kTargetMs && pollMax <= kTargetMs ? "met" : "MISSED");
  }
  wxEntryCleanup();
  return 0;
}
