// 500 monitors running at once in one process, each polling a SQLite file of its own
// through the SQLite ODBC driver with one test query and storing every poll in the data
// file, on a fake clock that runs each monitor's polls back to back (the fastest cadence
// the clock allows). Prints the resident memory per running monitor (the process's growth
// from all monitors stopped to all running) and the CPU time per poll.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "bench/bench_support.h"
#include "engine/clock.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/services.h"
#include "engine/store/data_files.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"

namespace {

class CountingUi : public engine::IUserInterface {
 public:
  void MonitorUpdated(std::string) override { polls.fetch_add(1, std::memory_order_relaxed); }
  void ShowBalloon(std::string, std::string, MessageKind) override {}
  void RestoreMainWindow() override {}
  void ShowAlertMessage(std::string, std::string, MessageKind) override {}
  void ShowActionTestResult(std::uint32_t) override {}
  std::atomic<std::int64_t> polls{0};
};

void BM_RunningMonitors(benchmark::State& state) {
  const int kMonitors = static_cast<int>(state.range(0));
  const auto runFor = std::chrono::seconds(state.range(1));
  // How much faster than real time the clock runs; 0: each monitor polls again as soon as
  // its previous poll is done.
  const double scale = static_cast<double>(state.range(2));
  bench::TempFolder folder;
  bench::ConfigureOdbc(folder.Path());
  setenv("LUMIVAR_DOCUMENTS_DIR", folder.Path().c_str(), 1);
  engine::FakeClock clock(
      1'700'000'000,
      scale > 0 ? engine::FakeClock::Mode::kScaled : engine::FakeClock::Mode::kAutoAdvance, scale);
  engine::ScopedClock scoped(&clock);
  CountingUi ui;
  engine::Services::SetUi(&ui);
  engine::ServerStorage store;
  engine::Services::SetStorage(&store);
  engine::DataFiles::CreateConfigTables();
  engine::DataFiles::CreateDataTables();

  for (int i = 0; i < kMonitors; ++i) {
    const std::string file = folder.File("source" + std::to_string(i) + ".db");
    bench::RunSqlite(file, {"CREATE TABLE t (n)", "INSERT INTO t VALUES (1)"});
    auto monitor = store.AddNewODBCDataSource();
    std::lock_guard lock(monitor->Mutex());
    monitor->name = "monitor " + std::to_string(i);
    monitor->pollingInterval = 1;
    monitor->customConnectionString = true;
    monitor->connectionString = bench::SqliteConnectionString(file);
    monitor->AddTestQuery().query = "SELECT count(*) FROM t";
  }
  // One poll of each on this thread first, so that the driver and every lazily made
  // structure exist before the baseline.
  for (const auto& monitor : store.GetServerList()) monitor->Poll();
  const std::int64_t stoppedKiB = bench::ResidentKiB();

  for (auto _ : state) {
    store.StartAll();
    // Measured once all are running.
    const std::int64_t pollsBefore = ui.polls.load();
    const double cpuBefore = bench::CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::int64_t runningKiB = 0;
    while (std::chrono::steady_clock::now() - start < runFor) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      runningKiB = std::max(runningKiB, bench::ResidentKiB());
    }
    const std::int64_t polls = ui.polls.load() - pollsBefore;
    const double cpu = bench::CpuSeconds() - cpuBefore;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    store.StopAll();
    state.SetIterationTime(seconds);
    state.counters["monitors"] = kMonitors;
    state.counters["polls"] = static_cast<double>(polls);
    state.counters["polls_per_s"] = static_cast<double>(polls) / seconds;
    state.counters["cpu_us_per_poll"] = polls > 0 ? cpu * 1e6 / static_cast<double>(polls) : 0;
    state.counters["rss_stopped_MiB"] = static_cast<double>(stoppedKiB) / 1024.0;
    state.counters["rss_running_MiB"] = static_cast<double>(runningKiB) / 1024.0;
    state.counters["rss_KiB_per_monitor"] =
        static_cast<double>(runningKiB - stoppedKiB) / kMonitors;
  }
  // The polling threads read the fake clock until their stops have completed.
  store.WaitForStops(std::chrono::steady_clock::now() + std::chrono::minutes(2));
  store.Clear();
  engine::Services::SetStorage(nullptr);
  engine::Services::SetUi(nullptr);
}
BENCHMARK(BM_RunningMonitors)
    ->Args({500, 20, 12})  // a poll every 5 s per monitor: 100 polls a second
    ->Args({500, 20, 0})   // back to back: as many polls as the data file takes
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
