// What a report's load costs, from the read of the data file to its finished texts and
// series: each report of one monitor over a month and over a year, on a data file of 20
// monitors x one year of one-minute samples (bench/year_data.h, made once). Aims: a
// month within 200 ms, a year within 1 s.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <variant>

#include "bench/year_data.h"
#include "engine/data/data_reads.h"
#include "engine/report/report_loads.h"

namespace {

namespace data = bench::year_data;

void Load(benchmark::State& state, engine::ReportKind kind) {
  static const bool ready = (data::UseDataFile(), true);
  (void)ready;
  const std::int64_t end = data::End();
  const engine::ReportRequest request{kind,
                                      {data::MonitorId(0),
                                       {{data::kTestQueryId, "Open orders"}},
                                       {end - state.range(0) * data::kDay, end, false}}};
  for (auto _ : state) {
    const engine::ReportTexts texts = engine::LoadReport(request);
    if (std::holds_alternative<std::monostate>(texts)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(texts);
  }
}

// The read alone, for comparison: the samples every report but the summary walks.
void ReadSamples(benchmark::State& state) {
  static const bool ready = (data::UseDataFile(), true);
  (void)ready;
  const std::int64_t end = data::End();
  std::size_t rows = 0;
  for (auto _ : state) {
    int status = 0;
    rows = engine::LoadReportSamples(data::MonitorId(0), end - state.range(0) * data::kDay, end,
                                     &status)
               .size();
    if (status != 0) state.SkipWithError("read failed");
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void Availability(benchmark::State& state) { Load(state, engine::ReportKind::kAvailability); }
void History(benchmark::State& state) { Load(state, engine::ReportKind::kHistory); }
void ConnectionTime(benchmark::State& state) { Load(state, engine::ReportKind::kConnectionTime); }
void TestQueries(benchmark::State& state) { Load(state, engine::ReportKind::kTestQueries); }
void Health(benchmark::State& state) { Load(state, engine::ReportKind::kHealth); }

// Arguments: the period in days, a month and a year.
BENCHMARK(ReadSamples)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);
BENCHMARK(Availability)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);
BENCHMARK(History)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionTime)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);
BENCHMARK(TestQueries)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);
BENCHMARK(Health)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
