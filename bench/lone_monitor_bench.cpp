// One monitor left polling a named data source of the SQLite ODBC driver, as it runs for
// months: its polls one after another on one thread, each a new environment and a real
// login, a test query, the sample stored in the data file and the alerts checked, on a
// clock that moves one polling interval (a minute) a poll, so the run crosses midnights.
// After a warm-up, prints the growth of the heap in use and of the resident memory a poll,
// beside the cost of one connect and of one poll (goal: under 0.01 KB a poll).
//
// Flags (before Google Benchmark's own):
//   --polls=N    polls measured after the warm-up (default 20000)
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"
#include "platform/odbc.h"

namespace {

constexpr char kSourceName[] = "Orders Lone";
constexpr int kWarmUpPolls = 1000;
constexpr int kConnectSamples = 2000;
int measuredPolls = 20000;

class QuietUi : public engine::IUserInterface {
 public:
  void MonitorUpdated(std::string) override {}
  void ShowBalloon(std::string, std::string, MessageKind) override {}
  void RestoreMainWindow() override {}
  void ShowAlertMessage(std::string, std::string, MessageKind) override {}
  void ShowActionTestResult(std::uint32_t) override {}
};

std::size_t HeapInUse() { return mallinfo2().uordblks; }

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void LoneMonitor(benchmark::State& state) {
  bench::DocumentsFolder documents("lumivar-lone");
  bench::ConfigureOdbc(documents.Path());
  const std::string file = documents.Path() + "/orders.db";
  bench::RunSqlite(file, {"CREATE TABLE orders (n)", "INSERT INTO orders VALUES (1)"});
  std::ofstream(documents.Path() + "/odbc.ini")
      << "[" << kSourceName << "]\nDriver = SQLite3\nDatabase = " << file << "\n";

  engine::FakeClock clock(1'700'000'000);
  engine::ScopedClock scopedClock(&clock);
  QuietUi ui;
  engine::ServerStorage store;
  engine::Services::SetUi(&ui);
  engine::Services::SetStorage(&store);
  engine::DataFiles::CreateConfigTables();
  engine::DataFiles::CreateDataTables();
  auto monitor = store.AddNewODBCDataSource();
  {
    std::lock_guard lock(monitor->Mutex());
    monitor->name = "Orders";
    monitor->address = kSourceName;
    monitor->AddTestQuery().query = "SELECT count(*) FROM orders";
  }
  const std::string connection = platform::BuildDsnConnectionString(kSourceName, "", "");

  for (auto _ : state) {
    auto poll = [&] {
      monitor->Poll();
      clock.Advance(std::chrono::minutes(1));
    };
    for (int i = 0; i < kWarmUpPolls; ++i) poll();
    engine::WaitForLogWrites(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    // The run's own figures are held from before the baseline.
    std::vector<double> pollMs;
    pollMs.reserve(static_cast<std::size_t>(measuredPolls));
    const std::size_t heapBefore = HeapInUse();
    const std::int64_t sqliteBefore = sqlite3_memory_used();
    const std::int64_t residentBefore = bench::ResidentKiB();
    for (int i = 0; i < measuredPolls; ++i) {
      const auto start = std::chrono::steady_clock::now();
      poll();
      pollMs.push_back(MillisecondsSince(start));
    }
    engine::WaitForLogWrites(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    const double heapGrowth = static_cast<double>(HeapInUse()) - static_cast<double>(heapBefore);
    const double sqliteGrowth =
        static_cast<double>(sqlite3_memory_used()) - static_cast<double>(sqliteBefore);
    const double residentGrowth =
        static_cast<double>(bench::ResidentKiB() - residentBefore) * 1024.0;

    std::vector<double> connectMs;
    for (int i = 0; i < kConnectSamples; ++i) {
      const auto start = std::chrono::steady_clock::now();
      std::shared_ptr<platform::IOdbcConnection> open;
      if (platform::SystemOdbc().Connect(connection, 15, &open).Failed()) std::abort();
      open->Close();
      connectMs.push_back(MillisecondsSince(start));
    }
    {
      std::lock_guard lock(monitor->Mutex());
      if (!monitor->current.available) std::abort();
    }
    const bench::Spread polls = bench::SpreadOf(pollMs);
    const bench::Spread connects = bench::SpreadOf(connectMs);
    std::printf("\nLone monitor on the named data source \"%s\", %d polls after %d:\n", kSourceName,
                measuredPolls, kWarmUpPolls);
    std::printf("  heap in use:     %+.4f KB a poll (%+.0f B in all; goal under 0.01 KB)\n",
                heapGrowth / measuredPolls / 1024.0, heapGrowth);
    std::printf(
        "    of which SQLite: %+.4f KB a poll (page caches of the data file's connections)\n",
        sqliteGrowth / measuredPolls / 1024.0);
    std::printf("    the rest:        %+.4f KB a poll\n",
                (heapGrowth - sqliteGrowth) / measuredPolls / 1024.0);
    std::printf("  resident memory: %+.4f KB a poll (%+.0f KB in all)\n",
                residentGrowth / measuredPolls / 1024.0, residentGrowth / 1024.0);
    std::printf("  a poll:          median %.3f ms, p95 %.3f ms\n", polls.median, polls.p95);
    std::printf("  a connect:       median %.3f ms, p95 %.3f ms (connect and close, %d)\n\n",
                connects.median, connects.p95, kConnectSamples);
    state.counters["heap_B_per_poll"] = heapGrowth / measuredPolls;
    state.counters["rss_B_per_poll"] = residentGrowth / measuredPolls;
    state.counters["connect_ms"] = connects.median;
  }
  bench::DocumentsFolder::Settle();
  engine::Services::SetStorage(nullptr);
  engine::Services::SetUi(nullptr);
}
BENCHMARK(LoneMonitor)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--polls=", 8) == 0) {
      measuredPolls = std::max(1, std::atoi(argv[i] + 8));
      for (int j = i; j < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      --i;
    }
  }
  return bench::RunBenchmarks(argc, argv, [] { benchmark::RunSpecifiedBenchmarks(); });
}
