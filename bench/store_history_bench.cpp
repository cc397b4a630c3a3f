// Storing one poll with a year of history, at several hours of the day: on the data file
// of 20 monitors x one year of one-minute samples written as polls write them
// (bench/year_data.h), the day after the year goes on as polls would fill it, every
// monitor minute by minute. One monitor of them stores its polls (with three test
// queries) and then computes today's uptime, as every poll does, for an hour of polls
// from each hour measured; the other 19 write their rows of each minute before it.
// Today's rows, and so the cost, grow through the day. Prints the median and 90th
// percentile per poll at each hour. The rows of that day are deleted again at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/year_data.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/data/sql_text.h"
#include "engine/db/database.h"
#include "engine/monitor/odbc_data_source.h"

namespace {

namespace data = bench::year_data;

constexpr int kPollingMonitor = 1;
constexpr int kDayOfMonth = 15;  // the day after the year's end

// The rows of every monitor but `skip` for minutes [from, to), written as the polls of
// the running program write them: on the data file's shared connection.
void AppendRows(std::int64_t from, std::int64_t to, int skip) {
  if (from >= to) return;
  engine::SharedDataFile file;
  if (file.Connection() == nullptr) {
    std::fprintf(stderr, "cannot open the data file\n");
    std::exit(1);
  }
  data::AppendMinutes(*file.Connection(), from, to, skip);
}

void DeleteRowsAfterTheYear();

struct Environment {
  std::int64_t filledTo = data::End();  // every monitor has its rows before this time
  Environment() {
    const std::string path = data::UseDataFile() + engine::DataFiles::kDataFileName;
    DeleteRowsAfterTheYear();
    const auto size = std::filesystem::file_size(path);
    std::printf("data file: %s, %.1f MiB, %d monitors x one year of one-minute samples\n",
                path.c_str(), static_cast<double>(size) / (1024.0 * 1024.0), data::kMonitors);
  }
};

Environment& Env() {
  static Environment env;
  return env;
}

void BM_StorePollAndTodayUptime(benchmark::State& state) {
  Environment& env = Env();
  const std::int64_t at = data::LocalTime(kDayOfMonth, static_cast<int>(state.range(0)));
  AppendRows(env.filledTo, at, -1);
  engine::FakeClock clock(at - 60);
  engine::ScopedClock scoped(&clock);
  engine::ODBCDataSource monitor;
  {
    std::lock_guard lock(monitor.Mutex());
    monitor.id = data::MonitorId(kPollingMonitor);
    for (const char* sql : {"SELECT 1", "SELECT 2", "SELECT 3"}) monitor.AddTestQuery().query = sql;
  }
  std::vector<double> samples;
  std::vector<double> storeSamples;
  std::int64_t poll = 0;
  for (auto _ : state) {
    state.PauseTiming();
    clock.Advance(std::chrono::minutes(1));
    AppendRows(clock.Now(), clock.Now() + 60, kPollingMonitor);
    {
      // What a poll leaves behind: a new sample, and test queries of which one changed.
      std::lock_guard lock(monitor.Mutex());
      monitor.previous = monitor.current;
      monitor.current.monitorId = monitor.id;
      monitor.current.time = clock.Now();
      monitor.current.available = true;
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
  env.filledTo = clock.Now() + 60;
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["p90_ms"] = samples[samples.size() * 9 / 10];
    std::sort(storeSamples.begin(), storeSamples.end());
    state.counters["store_median_ms"] = storeSamples[storeSamples.size() / 2];
    std::lock_guard lock(monitor.Mutex());
    state.counters["uptime_h"] = static_cast<double>(monitor.todayUptime) / 3600.0;
  }
}
// The argument is the hour of the day; the hours run in this order, each an hour of polls.
BENCHMARK(BM_StorePollAndTodayUptime)
    ->ArgName("hour")
    ->Arg(1)
    ->Arg(6)
    ->Arg(12)
    ->Arg(18)
    ->Arg(23)
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// Leaves the file as it was made, for the next run and the other benchmarks (also before
// a run, after one that was cut off).
void DeleteRowsAfterTheYear() {
  db::Database database;
  if (engine::DataFiles::OpenDatabase(database, engine::DataFiles::kDataFileName) != 0) return;
  const std::string after = engine::sql::Build(" WHERE time >= ?", {data::End()});
  for (const char* table : {"ODBCDataSourcesData", "TestQueriesData", "Log", "AlertsData"}) {
    db::Database::ExecSQL(database, std::string("DELETE FROM ") + table + after);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  DeleteRowsAfterTheYear();
  return 0;
}
