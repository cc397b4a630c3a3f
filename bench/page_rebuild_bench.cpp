// Rebuilding the HTML pages on a data file of 20 monitors x one year of one-minute samples
// written as polls write them (bench/year_data.h, made once and shared): one full build of the
// snapshot page and the actions page, written to their files, as the page writer does after a poll.
// Warm: the uptime cache holds the closed days, as after the first build of a day. Cold:
// the cache is emptied before each build, as at the first build after midnight. Prints
// the median and 90th percentile per build.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/year_data.h"
#include "engine/clock.h"
#include "engine/report/html_report.h"
#include "engine/report/uptime_cache.h"

namespace {

namespace history = bench::year_data;

struct Environment {
  engine::HtmlSnapshot snapshot;
  Environment() {
    history::UseDataFile();
    snapshot.now = history::End();
    for (int n = 1; n <= history::kMonitors; ++n) {
      engine::HtmlMonitorInfo monitor;
      monitor.id = history::MonitorId(n - 1);
      monitor.name = "Monitor " + std::to_string(n);
      monitor.address = "dsn" + std::to_string(n);
      monitor.running = true;
      monitor.health = true;
      monitor.time = snapshot.now - 60;
      monitor.connectionTime = 12;
      snapshot.monitors.push_back(std::move(monitor));
    }
    engine::HtmlActionInfo action;
    action.id = "action";
    action.name = "Mail the team";
    action.toAddress = "ops@example.com";
    snapshot.actions.push_back(action);
    std::printf("%zu monitors, pages at %lld\n", snapshot.monitors.size(),
                static_cast<long long>(snapshot.now));
  }
};

Environment& Env() {
  static Environment env;
  return env;
}

// What the page writer's thread does for one request.
void BuildAndWrite(const engine::HtmlSnapshot& snapshot) {
  if (!engine::HtmlReport::WritePages(snapshot)) std::fprintf(stderr, "pages not written\n");
}

void Report(benchmark::State& state, std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return;
  state.counters["median_ms"] = samples[samples.size() / 2];
  state.counters["p90_ms"] = samples[samples.size() * 9 / 10];
}

void Rebuilds(benchmark::State& state, bool warm) {
  const engine::HtmlSnapshot& snapshot = Env().snapshot;
  engine::FakeClock clock(snapshot.now);
  engine::ScopedClock scoped(&clock);
  engine::UptimeCache& cache = engine::UptimeCache::Shared();
  cache.Clear();
  if (warm) BuildAndWrite(snapshot);
  std::vector<double> samples;
  for (auto _ : state) {
    if (!warm) cache.Clear();
    const auto start = std::chrono::steady_clock::now();
    BuildAndWrite(snapshot);
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  Report(state, samples);
}

void BM_PageRebuildWarm(benchmark::State& state) { Rebuilds(state, true); }
void BM_PageRebuildCold(benchmark::State& state) { Rebuilds(state, false); }
BENCHMARK(BM_PageRebuildWarm)->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageRebuildCold)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
