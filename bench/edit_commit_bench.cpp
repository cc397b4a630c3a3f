// What committing an edit costs the user-interface thread (this program's own thread): a
// view's keystrokes stay in the view, and the commit hands the test query's new name to a
// monitor with three test queries and the default alerts (IWindowStore::ChangeTestQuery,
// as the test-queries view does), on a quiet configuration file and while another process
// holds the file's write lock. Each commit is timed on its own, with the saves' worker
// idle: the quiet case waits for the save after each commit, the locked case takes the
// lock anew for each commit and lets it go after it. Prints the median, 95th percentile and maximum
// of the commit's time (goal: median under 0.1 ms for both), and checks that the last commit
// reached the file. The files live in a temporary folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/data/data_files.h"
#include "engine/db/database.h"
#include "engine/store/server_storage.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr double kGoalMs = 0.1;

struct Environment {
  bench::DocumentsFolder folder{"lumivar-edit-bench"};
  engine::ServerStorage store;
  engine::IWindowStore& window = store;
  std::string configFile;
  std::string monitorId;
  std::string queryId;
  int commits = 0;
  // The commit's times in milliseconds, by case.
  std::vector<double> quietMs;
  std::vector<double> lockedMs;

  Environment() {
    engine::DataFiles::CreateConfigTables();
    configFile = engine::DataFiles::DataFolder() + engine::DataFiles::kConfigFileName;
    engine::MonitorSettings settings;
    settings.name = "Sales";
    monitorId = window.AddMonitor(settings);
    for (const char* name : {"Orders", "Stock", "Users"}) {
      queryId = window.AddTestQuery(monitorId, {name, "SELECT 1"});
    }
  }

  // One commit of a new name for the test query, timed on this thread: sets the
  // iteration's time, keeps it in ms in *samples and returns the name.
  std::string TimedCommit(benchmark::State& state, std::vector<double>* samples) {
    std::string name = "edit " + std::to_string(++commits);
    const auto start = SteadyClock::now();
    const int rc = window.ChangeTestQuery(monitorId, queryId, {name, "SELECT 1"});
    const std::chrono::duration<double> took = SteadyClock::now() - start;
    state.SetIterationTime(took.count());
    if (rc != SQLITE_OK) state.SkipWithError("the commit failed");
    samples->push_back(took.count() * 1000);
    return name;
  }

  bool WaitForSaves() { return store.WaitForSaves(SteadyClock::now() + std::chrono::seconds(20)); }

  // The test query's name as the file holds it; "" when it cannot be read.
  std::string SavedName() const {
    sqlite3* db = nullptr;
    std::string name;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(configFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT name FROM TestQueries WHERE id = ?", -1, &stmt, nullptr) ==
            SQLITE_OK) {
      sqlite3_bind_text(stmt, 1, queryId.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(stmt) == SQLITE_ROW) {
        name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return name;
  }

  // Once the saves are done, the file must hold the last edit.
  void CheckSaved(benchmark::State& state, const std::string& lastName) {
    if (!WaitForSaves()) {
      state.SkipWithError("the saves did not end within 20 s");
    } else if (SavedName() != lastName) {
      state.SkipWithError("the last commit did not reach the file");
    }
  }
};

Environment* env = nullptr;

// Whether a write to the configuration file, opened as the engine's writer opens it, is
// refused at once (SQLITE_BUSY): another connection holds the file's lock.
bool ConfigWriteIsRefused() {
  db::Database database;
  if (engine::DataFiles::OpenDatabase(database, engine::DataFiles::kConfigFileName) != 0) {
    return false;
  }
  database.LimitBusyWaits(std::chrono::milliseconds(0));
  const int rc = db::Database::ExecSQL(database, "BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) db::Database::ExecSQL(database, "ROLLBACK");
  return rc == SQLITE_BUSY;
}

void ReportSpread(benchmark::State& state, const std::vector<double>& samples) {
  const bench::Spread spread = bench::SpreadOf(samples);
  state.counters["median_ms"] = spread.median;
  state.counters["p95_ms"] = spread.p95;
  state.counters["max_ms"] = spread.max;
}

void BM_CommitOnAQuietFile(benchmark::State& state) {
  std::string name;
  for (auto _ : state) {
    name = env->TimedCommit(state, &env->quietMs);
    env->WaitForSaves();
  }
  env->CheckSaved(state, name);
  ReportSpread(state, env->quietMs);
}
BENCHMARK(BM_CommitOnAQuietFile)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CommitUnderAForeignLock(benchmark::State& state) {
  std::string name;
  for (auto _ : state) {
    {
      bench::ForeignLock lock(env->configFile);
      if (!ConfigWriteIsRefused()) {
        state.SkipWithError("the file's write lock is not held");
        break;
      }
      name = env->TimedCommit(state, &env->lockedMs);
      if (!ConfigWriteIsRefused()) {
        state.SkipWithError("the file's write lock was let go during the commit");
        break;
      }
    }
    env->WaitForSaves();
  }
  env->CheckSaved(state, name);
  ReportSpread(state, env->lockedMs);
}
BENCHMARK(BM_CommitUnderAForeignLock)
    ->Iterations(30)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void PrintSummary(const char* what, const std::vector<double>& samples) {
  if (samples.empty()) return;
  const bench::Spread spread = bench::SpreadOf(samples);
  std::printf(
      "commit %s: median %.3f ms, p95 %.3f ms, max %.3f ms over %zu commits (goal: "
      "median under %.1f ms)\n",
      what, spread.median, spread.p95, spread.max, samples.size(), kGoalMs);
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = bench::RunLockHolder(argc, argv)) return *status;
  return bench::RunBenchmarks(argc, argv, [] {
    Environment environment;
    env = &environment;
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\nThe user-interface thread's cost of one commit:\n");
    PrintSummary("on a quiet file", environment.quietMs);
    PrintSummary("under another process's write lock", environment.lockedMs);
    env = nullptr;
  });
}
