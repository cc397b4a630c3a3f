// The cost of typing into a test query and of committing it, on the user-interface thread:
// one keystroke (the edit in memory), one commit of a monitor with three test queries and
// the default alerts on a quiet file, and one commit while another connection holds the
// configuration file's write lock (it returns and leaves the save to the worker). The
// files live in a temporary folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <string>

#include "bench/bench_support.h"
#include "engine/data/data_files.h"
#include "engine/store/server_storage.h"

namespace {

struct Environment {
  bench::TempFolder folder{"lumivar-edit-bench"};
  engine::ServerStorage store;
  std::string monitorId;
  std::string queryId;

  Environment() {
    setenv("LUMIVAR_DOCUMENTS_DIR", folder.Path().c_str(), 1);
    engine::DataFiles::CreateConfigTables();
    engine::MonitorSettings settings;
    settings.name = "Sales";
    monitorId = store.AddMonitor(settings);
    for (const char* name : {"Orders", "Stock", "Users"}) {
      queryId = store.AddTestQuery(monitorId, {name, "SELECT 1"});
    }
  }
};

Environment& Env() {
  static auto* env = new Environment;
  return *env;
}

void BM_Keystroke(benchmark::State& state) {
  Environment& env = Env();
  std::string name;
  for (auto _ : state) {
    name += 'x';
    if (name.size() > 40) name.clear();
    benchmark::DoNotOptimize(env.store.EditTestQuery(env.monitorId, env.queryId, {name, "q"}));
  }
  env.store.CommitEdits();
}
BENCHMARK(BM_Keystroke)->Unit(benchmark::kMicrosecond);

void BM_CommitOnAQuietFile(benchmark::State& state) {
  Environment& env = Env();
  int n = 0;
  for (auto _ : state) {
    env.store.EditTestQuery(env.monitorId, env.queryId, {std::to_string(++n), "q"});
    if (env.store.CommitEdits() != SQLITE_OK) state.SkipWithError("commit failed");
  }
}
BENCHMARK(BM_CommitOnAQuietFile)->Unit(benchmark::kMillisecond);

void BM_CommitUnderAForeignLock(benchmark::State& state) {
  Environment& env = Env();
  sqlite3* holder = nullptr;
  sqlite3_open_v2((env.folder.Path() + "/" + engine::DataFiles::kConfigFileName).c_str(), &holder,
                  SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  int n = 0;
  for (auto _ : state) {
    env.store.EditTestQuery(env.monitorId, env.queryId, {std::to_string(++n), "q"});
    if (env.store.CommitEdits() != SQLITE_OK) state.SkipWithError("commit failed");
  }
  sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close_v2(holder);
  env.store.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20));
}
BENCHMARK(BM_CommitUnderAForeignLock)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
