// How late the user-interface thread runs its work while the main window keeps up with
// 100 monitors polling back to back: the real main window on the real store, each monitor
// polling a fake driver whose connect takes 1 to 20 ms of real time, for about 20 s. The
// window's tree, info pane and current view follow every reported poll, the pages are
// rebuilt as the program rebuilds them, and the current view switches between the
// connection time, the test queries and the log once a second. A 10 ms one-shot timer on
// the UI thread, started again each time it fires, measures the lateness: how much later
// than 10 ms after its start each firing came. Prints the 50th and 99th percentiles and
// the maximum (targets: 99th percentile at most 50 ms, maximum at most 200 ms).
//
// Needs a display: without DISPLAY the program runs itself again under `xvfb-run -a`.
// Not a Google Benchmark program: it prints its figures itself.
#include <stdlib.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/app_user_interface.h"
#include "app/main_frame.h"
#include "app/monitor_tree.h"
#include "app/ui_thread.h"
#include "bench/bench_support.h"
#include "bench/ui_bench_support.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/report/page_writer.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "tests/engine/fake_odbc.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kMonitors = 100;
constexpr auto kRunTime = 20s;
constexpr int kTimerMs = 10;
constexpr int kViewCodes[] = {8, 19, 26};  // connection time, test queries, log
constexpr char kTestQuery[] = "SELECT count(*) FROM orders";

// The fake driver of one monitor: each connect takes 1 to 20 ms of real time, then the
// fake layer answers (every query gives "1").
class TimedOdbc : public platform::IOdbc {
 public:
  TimedOdbc(unsigned seed, std::atomic<std::int64_t>& polls)
      : inner_(std::make_shared<engine::testing::FakeOdbc>()), random_(seed), polls_(polls) {}

  platform::OdbcError Connect(std::string_view text, int loginTimeout,
                              std::shared_ptr<platform::IOdbcConnection>* connection) override {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(1, 20)(random_)));
    polls_.fetch_add(1, std::memory_order_relaxed);
    return inner_->Connect(text, loginTimeout, connection);
  }
  platform::OdbcError ListDataSources(std::vector<platform::OdbcDataSource>* sources) override {
    return inner_->ListDataSources(sources);
  }

 private:
  std::shared_ptr<engine::testing::FakeOdbc> inner_;
  std::minstd_rand random_;  // used by the monitor's polling thread only
  std::atomic<std::int64_t>& polls_;
};

std::uint64_t PageBuilds(const app::CMainFrame* frame) {
  return frame->Pages() != nullptr ? frame->Pages()->Builds() : 0;
}

double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  const std::size_t index =
      std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())));
  return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
  bench::EnsureDisplay(argc, argv, "ui_latency_bench");

  bench::TempFolder folder("lumivar-ui-bench");
  setenv("LUMIVAR_DOCUMENTS_DIR", folder.Path().c_str(), 1);
  engine::FakeClock clock(1'700'000'000, engine::FakeClock::Mode::kAutoAdvance);
  engine::ScopedClock scopedClock(&clock);

  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "ui_latency_bench: wx could not start\n");
    return 1;
  }
  {
    engine::DataFiles::CreateConfigTables();
    engine::DataFiles::CreateDataTables();
    engine::ServerStorage store;
    store.LoadAll();
    std::atomic<std::int64_t> polls{0};
    std::string firstId;
    for (int i = 0; i < kMonitors; ++i) {
      auto monitor = store.AddNewODBCDataSource();
      monitor->SetOdbc(std::make_shared<TimedOdbc>(static_cast<unsigned>(i + 1), polls));
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Monitor " + std::to_string(i + 1);
      monitor->address = "bench-source-" + std::to_string(i + 1);
      monitor->pollingInterval = 1;
      monitor->AddTestQuery().query = kTestQuery;
      if (i == 0) firstId = monitor->id;
    }
    store.SaveAll();

    wxWeakRef<app::CMainFrame> frame;
    app::AppUserInterface ui([&frame]() { return frame.get(); });
    app::SetUiThreadReceiver(wxTheApp);
    engine::Services::SetUi(&ui);
    engine::Services::SetStorage(&store);

    app::MainFrameOptions options;
    options.trayIcon = false;
    frame = new app::CMainFrame(store, std::move(options));
    frame->RestorePlacementAndStart({20, 20, 1100, 800, app::kShowNormal});
    frame->Tree()->SelectServer(firstId, 0);

    wxGUIEventLoop loop;
    std::vector<double> lateMs;
    lateMs.reserve(static_cast<std::size_t>(kRunTime / std::chrono::milliseconds(kTimerMs)));
    bool measuring = false;
    SteadyClock::time_point timerStart;
    wxTimer probe;
    probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      const auto now = SteadyClock::now();
      if (measuring) {
        lateMs.push_back(std::chrono::duration<double, std::milli>(now - timerStart).count() -
                         kTimerMs);
      }
      timerStart = SteadyClock::now();
      probe.StartOnce(kTimerMs);
    });
    int switches = 0;
    int switched = 0;  // the switches the window made
    wxTimer viewSwitch;
    viewSwitch.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      const int code = kViewCodes[switches % std::size(kViewCodes)];
      ++switches;
      if (frame->SwitchView(code) && frame->CurrentViewCode() == code) ++switched;
    });
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });

    // Measured from one second after every monitor has started, once the window is up
    // and the first polls have come in.
    std::int64_t pollsBefore = 0;
    int notificationsBefore = 0;
    std::uint64_t pageBuildsBefore = 0;
    SteadyClock::time_point started;
    wxTimer warmedUp;
    warmedUp.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      pollsBefore = polls.load();
      notificationsBefore = frame->MonitorUpdatesNoted();
      pageBuildsBefore = PageBuilds(frame);
      measuring = true;
      started = SteadyClock::now();
      viewSwitch.Start(1000);
      end.StartOnce(static_cast<int>(std::chrono::milliseconds(kRunTime).count()));
    });
    store.StartAll();
    timerStart = SteadyClock::now();
    probe.StartOnce(kTimerMs);
    warmedUp.StartOnce(1000);
    loop.Run();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    probe.Stop();
    viewSwitch.Stop();
    const std::int64_t pollCount = polls.load() - pollsBefore;
    const int notifications = frame->MonitorUpdatesNoted() - notificationsBefore;
    const std::uint64_t pageBuilds = PageBuilds(frame) - pageBuildsBefore;

    store.StopAll();
    store.WaitForStops(SteadyClock::now() + 30s);
    // The window goes in the loop's idle time.
    frame->Destroy();
    end.StartOnce(200);
    loop.Run();
    engine::Services::SetUi(nullptr);
    engine::Services::SetStorage(nullptr);
    app::SetUiThreadReceiver(nullptr);
    store.Clear();

    std::sort(lateMs.begin(), lateMs.end());
    const double p50 = Percentile(lateMs, 0.50);
    const double p99 = Percentile(lateMs, 0.99);
    const double max = lateMs.empty() ? 0 : lateMs.back();
    std::printf("ui_latency_bench: %d monitors polling back to back for %.1f s\n", kMonitors,
                seconds);
    std::printf("  polls                 %lld (%.0f per second)\n",
                static_cast<long long>(pollCount), static_cast<double>(pollCount) / seconds);
    std::printf("  notifications         %d reached the window\n", notifications);
    std::printf("  page builds           %llu\n", static_cast<unsigned long long>(pageBuilds));
    std::printf("  view switches         %d of %d made\n", switched, switches);
    std::printf("  %d ms timer firings   %zu\n", kTimerMs, lateMs.size());
    std::printf("  lateness p50          %.1f ms\n", p50);
    std::printf("  lateness p99          %.1f ms (target <= 50)\n", p99);
    std::printf("  lateness max          %.1f ms (target <= 200)\n", max);
    std::printf("  targets               %s\n", p99 <= 50 && max <= 200 ? "met" : "MISSED");
  }
  wxEntryCleanup();
  return 0;
}
