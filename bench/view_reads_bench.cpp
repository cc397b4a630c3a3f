// What the views cost: a report's read of one monitor's samples over a day, a week, 30
// days and a year, on the data file of 20 monitors x one year of one-minute samples
// written as polls write them (bench/year_data.h, made once and shared); and, on the user-interface
// thread, a snapshot of a monitor with ten test queries and full histories, and the summaries of
// 200 monitors for the tree.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/year_data.h"
#include "engine/data/data_reads.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"

namespace {

namespace history = bench::year_data;

struct Environment {
  std::string monitorId;
  Environment() {
    history::UseDataFile();
    monitorId = history::MonitorId(0);
  }
};

Environment& Env() {
  static Environment env;
  return env;
}

void ReadSamples(benchmark::State& state) {
  const std::string& id = Env().monitorId;
  const std::int64_t end = history::End();
  const std::int64_t start = end - state.range(0) * 86400;
  std::size_t rows = 0;
  for (auto _ : state) {
    int status = 0;
    rows = engine::LoadSamples(id, start, end, &status).size();
    if (status != 0) state.SkipWithError("read failed");
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(ReadSamples)->Arg(1)->Arg(7)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);

// A store of in-memory monitors (never saved, never started).
struct Monitors {
  engine::ServerStorage store;
  std::string busyId;
  explicit Monitors(int count) {
    for (int i = 0; i < count; ++i) {
      auto monitor = store.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Monitor " + std::to_string(i);
      if (i != 0) continue;
      busyId = monitor->id;
      for (int q = 0; q < 10; ++q) {
        engine::TestQuery& query = monitor->AddTestQuery();
        query.name = "Query " + std::to_string(q);
        query.query = "SELECT count(*) FROM orders WHERE state = 'open'";
        for (std::size_t h = 0; h < engine::TestQuery::kHistorySize; ++h) {
          query.history.push_back({static_cast<std::int32_t>(h), 1'700'000'000});
        }
        monitor->AddAlert("action", query.id, 5, 1, 0);
      }
      for (std::size_t h = 0; h < engine::ODBCDataSource::kHistorySize; ++h) {
        monitor->history.push_back({10, 5, 1'700'000'000});
      }
    }
  }
};

void Snapshot(benchmark::State& state) {
  static Monitors monitors(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(monitors.store.GetMonitorSnapshot(monitors.busyId));
  }
}
BENCHMARK(Snapshot)->Unit(benchmark::kMicrosecond);

void Summaries(benchmark::State& state) {
  static Monitors monitors(200);
  for (auto _ : state) benchmark::DoNotOptimize(monitors.store.GetMonitorSummaries());
}
BENCHMARK(Summaries)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
