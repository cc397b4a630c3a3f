// Storing one poll with a year of history: a data file holding one-minute samples of 20
// monitors for a year (about 10.5 million rows, built once with the SQLite C API in one
// transaction and kept for later runs), and one monitor storing a poll with three test
// queries and then computing today's uptime, as every poll does. Prints the file's size and
// the median and 90th percentile per poll.
//
// The file lives in $LUMIVAR_BENCH_DIR (default: the temporary folder) under
// "lumivar-store-bench/"; delete that folder to build it again.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "bench/bench_support.h"
#include "engine/clock.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/data_files.h"
#include "engine/store/server_storage.h"
#include "platform/guid.h"

namespace {

using bench::year_history::BuildDataFile;
using bench::year_history::End;
using bench::year_history::kMonitors;

struct Environment {
  std::string monitorId;
  Environment() {
    const std::string dataFolder = bench::year_history::UseDataFile();
    monitorId = BuildDataFile(dataFolder);
    const auto size = std::filesystem::file_size(dataFolder + engine::DataFiles::kDataFileName);
    std::printf("data file: %s, %.1f MiB, %d monitors x one year of one-minute samples\n",
                (dataFolder + engine::DataFiles::kDataFileName).c_str(),
                static_cast<double>(size) / (1024.0 * 1024.0), kMonitors);
  }
};

void BM_StorePollAndTodayUptime(benchmark::State& state) {
  static Environment env;
  engine::FakeClock clock(End());
  engine::ScopedClock scoped(&clock);
  engine::ODBCDataSource monitor;
  {
    std::lock_guard lock(monitor.Mutex());
    monitor.id = env.monitorId;
    for (const char* sql : {"SELECT 1", "SELECT 2", "SELECT 3"}) monitor.AddTestQuery().query = sql;
  }
  std::vector<double> samples;
  std::vector<double> storeSamples;
  std::int64_t poll = 0;
  for (auto _ : state) {
    state.PauseTiming();
    clock.Advance(std::chrono::minutes(1));
    {
      // What a poll leaves behind: a new sample, and test queries of which one changed.
      std::lock_guard lock(monitor.Mutex());
      monitor.previous = monitor.current;
      monitor.current.monitorId = monitor.id;
      monitor.current.time = clock.Now();
      monitor.current.connectionTime = 5 + poll % 7;
      monitor.current.requestTime = 2 + poll % 3;
      for (std::size_t q = 0; q < monitor.testQueries.size(); ++q) {
        engine::TestQuery& query = monitor.testQueries[q];
        query.value = q == 0 ? static_cast<std::int32_t>(poll) : 7;
        query.lastStoredTime = (q != 0 && poll > 0) ? monitor.previous.time : 0;
      }
    }
    ++poll;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    if (monitor.StoreData() != 0) state.SkipWithError("StoreData failed");
    const auto stored = std::chrono::steady_clock::now();
    monitor.UpdateTodayUptime();
    storeSamples.push_back(std::chrono::duration<double, std::milli>(stored - start).count());
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["p90_ms"] = samples[samples.size() * 9 / 10];
    std::sort(storeSamples.begin(), storeSamples.end());
    state.counters["store_median_ms"] = storeSamples[storeSamples.size() / 2];
    std::lock_guard lock(monitor.Mutex());
    state.counters["uptime_h"] = static_cast<double>(monitor.todayUptime) / 3600.0;
  }
  // Leave the file as it was built for the next run.
  db::Database database;
  if (engine::DataFiles::OpenDatabase(database, engine::DataFiles::kDataFileName) == 0) {
    const std::string where =
        " WHERE monitorId = '" + env.monitorId + "' AND time >= '" + std::to_string(End()) + "'";
    db::Database::ExecSQL(database, "DELETE FROM ODBCDataSourcesData" + where);
    db::Database::ExecSQL(database, "DELETE FROM TestQueriesData" + where);
  }
}
BENCHMARK(BM_StorePollAndTodayUptime)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
