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

constexpr int kMonitors = 20;
constexpr std::int64_t kYear = 365LL * 24 * 3600;

// Midday of a fixed day: the data end here, so today already holds half a day of rows.
std::int64_t End() {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = 14;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

std::string Folder() {
  const char* base = std::getenv("LUMIVAR_BENCH_DIR");
  return std::string(base != nullptr && *base == '/'
                         ? base
                         : std::filesystem::temp_directory_path().string()) +
         "/lumivar-store-bench";
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// The data file with the year of samples; returns the first monitor's identifier.
std::string BuildDataFile(const std::string& dataFolder) {
  const std::string path = dataFolder + engine::DataFiles::kDataFileName;
  const std::string marker = dataFolder + "complete";
  std::string firstId;
  if (std::ifstream(marker) >> firstId) return firstId;

  std::filesystem::remove(path);
  std::printf("building %s (once)...\n", path.c_str());
  const auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  for (const char* pragma : {"PRAGMA encoding = 'UTF-16le'", "PRAGMA journal_mode = OFF",
                             "PRAGMA synchronous = OFF", "PRAGMA cache_size = -262144"}) {
    Check(sqlite3_exec(db, pragma, nullptr, nullptr, nullptr), db, pragma);
  }
  const std::string create(engine::kDataTables[0].createSql);
  Check(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), db, "create");
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO ODBCDataSourcesData VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &insert, nullptr),
        db, "prepare");
  const std::int64_t end = End();
  std::uint32_t noise = 12345;
  for (int m = 0; m < kMonitors; ++m) {
    const std::string id = platform::NewGuidString();
    if (m == 0) firstId = id;
    for (std::int64_t t = end - kYear; t < end; t += 60) {
      noise = noise * 1103515245u + 12345u;
      const bool up = (noise >> 8) % 500 != 0;
      const std::string time = std::to_string(t);
      const std::string connect = up ? std::to_string(5 + (noise >> 16) % 40) : "-1";
      const std::string request = up ? std::to_string(1 + (noise >> 20) % 20) : "-1";
      const char* values[] = {id.c_str(),      time.c_str(),    up ? "1" : "0",
                              up ? "1" : "0",  up ? "0" : "-1", up ? "" : "Connection failed.",
                              connect.c_str(), request.c_str()};
      for (int c = 0; c < 8; ++c) sqlite3_bind_text(insert, c + 1, values[c], -1, SQLITE_STATIC);
      Check(sqlite3_step(insert), db, "insert");
      sqlite3_reset(insert);
    }
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
  // The other tables and the indexes, as the program makes them.
  engine::DataFiles::CreateDataTables();
  std::ofstream(marker) << firstId;
  std::printf("built in %.0f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return firstId;
}

struct Environment {
  std::string folder = Folder();
  std::string monitorId;
  Environment() {
    std::filesystem::create_directories(folder);
    setenv("LUMIVAR_DOCUMENTS_DIR", folder.c_str(), 1);
    const std::string dataFolder = folder + "/Lumivar/";
    std::filesystem::create_directories(dataFolder);
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
