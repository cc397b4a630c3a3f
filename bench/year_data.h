// The data file of the benchmarks: 20 monitors x one year of one-minute samples (about
// 10.5 million rows) plus one test query of the first monitor with a value every minute,
// laid out as polls leave it: minute by minute, every monitor in turn. One generator gives
// every row, so the file is made once and later rows (a benchmark's further day) look
// like the year's. Connection times change from each row to the next, so no row stands
// for a run.
//
// The file lives in $LUMIVAR_BENCH_DIR (default: beside the running program) under
// "year-data/Lumivar/"; it is made again when its marker is missing.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"

namespace bench::year_data {

inline constexpr int kMonitors = 20;
inline constexpr std::int64_t kDay = 86400;
inline constexpr std::int64_t kYear = 365 * kDay;

// Identifiers as long as the program's own.
inline std::string MonitorId(int m) {
  char id[48];
  std::snprintf(id, sizeof id, "%08d-0000-4000-8000-000000year", m);
  return id;
}
// The first monitor's test query.
inline const std::string kTestQueryId = "00000000-0000-4000-8000-0000000query";

// Local time of day `day` of June 2024 at that hour.
inline std::int64_t LocalTime(int day, int hour) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

// The year's rows end here, at midday of a fixed day; they begin one year earlier.
inline std::int64_t End() { return LocalTime(14, 12); }
inline std::int64_t Begin() { return End() - kYear; }

// A mixed hash of a monitor and a minute: the values depend on nothing else, so any
// stretch of time can be written on its own.
inline std::uint32_t Noise(int monitor, std::int64_t minute) {
  std::uint64_t x = static_cast<std::uint64_t>(minute) * 0x9E3779B97F4A7C15ull +
                    static_cast<std::uint64_t>(monitor) * 0xC2B2AE3D27D4EB4Full;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 29;
  return static_cast<std::uint32_t>(x);
}

// The sample of monitor m at time t (a whole minute). About one poll in 400 fails, one in
// 50 finds the monitor unhealthy. Even and odd minutes take connection times from
// different ranges, so two rows in a row differ.
inline engine::sql::OdbcDataSourceDataRow Sample(int m, std::int64_t t) {
  const std::int64_t minute = t / 60;
  const std::uint32_t noise = Noise(m, minute);
  const bool up = noise % 400 != 0;
  engine::sql::OdbcDataSourceDataRow row;
  row.monitorId = MonitorId(m);
  row.time = t;
  row.available = up;
  row.health = up && (noise >> 9) % 50 != 0;
  row.errorCode = up ? 0 : -1;
  row.errorDescription = up ? "" : "Connection failed.";
  row.connectionTime =
      up ? static_cast<std::int32_t>(5 + (minute % 2) * 20 + (noise >> 16) % 20) : -1;
  row.requestTime = up ? static_cast<std::int32_t>(1 + (noise >> 24) % 20) : -1;
  return row;
}

// The first monitor's test-query value at time t; -1 when its poll failed.
inline std::int32_t TestQueryValue(const engine::sql::OdbcDataSourceDataRow& row) {
  return row.available ? static_cast<std::int32_t>((row.time / 60) % 1000) : -1;
}

inline void Exec(db::Database& database, const std::string& sql) {
  if (db::Database::ExecSQL(database, sql) != 0) {
    std::fprintf(stderr, "failed: %s\n", sql.c_str());
    std::exit(1);
  }
}

// Appends the rows of minutes [from, to) in the order polls write them, through the
// program's own insert statements on an open data file, in one transaction. The monitor
// `skip` (-1: none) writes no rows: a benchmark polls it itself.
inline void AppendMinutes(db::Database& database, std::int64_t from, std::int64_t to,
                          int skip = -1) {
  Exec(database, "BEGIN IMMEDIATE");
  for (std::int64_t t = from; t < to; t += 60) {
    for (int m = 0; m < kMonitors; ++m) {
      if (m == skip) continue;
      const engine::sql::OdbcDataSourceDataRow row = Sample(m, t);
      Exec(database, engine::sql::InsertOdbcDataSourceData(row));
      if (m == 0) {
        Exec(database,
             engine::sql::InsertTestQueryData(MonitorId(0), kTestQueryId, t, TestQueryValue(row),
                                              row.errorCode, row.errorDescription));
      }
    }
  }
  Exec(database, "COMMIT");
}

inline void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Makes the year's file at `path`: the same rows as AppendMinutes, bound to prepared
// statements (the year would take minutes as statement texts), in one transaction
// without a journal, then the program's indexes.
inline void Generate(const std::string& path) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  for (const char* pragma : {"PRAGMA encoding = 'UTF-16le'", "PRAGMA journal_mode = OFF",
                             "PRAGMA synchronous = OFF", "PRAGMA cache_size = -262144"}) {
    Check(sqlite3_exec(db, pragma, nullptr, nullptr, nullptr), db, pragma);
  }
  for (const engine::TableDefinition& table : engine::kDataTables) {
    Check(sqlite3_exec(db, std::string(table.createSql).c_str(), nullptr, nullptr, nullptr), db,
          "create");
  }
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* sample = nullptr;
  sqlite3_stmt* query = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO ODBCDataSourcesData VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &sample, nullptr),
        db, "prepare");
  Check(sqlite3_prepare_v2(db, "INSERT INTO TestQueriesData VALUES (?, ?, ?, ?, ?, ?)", -1, &query,
                           nullptr),
        db, "prepare");
  auto bind = [](sqlite3_stmt* statement, int column, const std::string& text) {
    sqlite3_bind_text(statement, column, text.c_str(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  };
  auto run = [db](sqlite3_stmt* statement) {
    Check(sqlite3_step(statement), db, "insert");
    sqlite3_reset(statement);
  };
  for (std::int64_t t = Begin(); t < End(); t += 60) {
    for (int m = 0; m < kMonitors; ++m) {
      const engine::sql::OdbcDataSourceDataRow row = Sample(m, t);
      // As the program's statements write them: every value as text, flags as 0 and 1.
      bind(sample, 1, row.monitorId);
      bind(sample, 2, std::to_string(row.time));
      bind(sample, 3, row.available ? "1" : "0");
      bind(sample, 4, row.health ? "1" : "0");
      bind(sample, 5, std::to_string(row.errorCode));
      bind(sample, 6, row.errorDescription);
      bind(sample, 7, std::to_string(row.connectionTime));
      bind(sample, 8, std::to_string(row.requestTime));
      run(sample);
      if (m == 0) {
        bind(query, 1, row.monitorId);
        bind(query, 2, kTestQueryId);
        bind(query, 3, std::to_string(row.time));
        bind(query, 4, std::to_string(TestQueryValue(row)));
        bind(query, 5, std::to_string(row.errorCode));
        bind(query, 6, row.errorDescription);
        run(query);
      }
    }
  }
  sqlite3_finalize(sample);
  sqlite3_finalize(query);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  // The program's indexes, made here rather than after the switch to write-ahead logging.
  for (std::string_view index : engine::kDataIndexes) {
    Check(sqlite3_exec(db, std::string(index).c_str(), nullptr, nullptr, nullptr), db, "index");
  }
  sqlite3_close(db);
}

// The documents folder of the benchmarks.
inline std::string Folder() {
  const char* base = std::getenv("LUMIVAR_BENCH_DIR");
  if (base != nullptr && *base == '/') return std::string(base) + "/year-data";
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path parent =
      ec ? std::filesystem::temp_directory_path() : self.parent_path();
  return (parent / "year-data").string();
}

// Points the program's documents folder at Folder() and makes the data file there unless
// a complete one is kept; then brings it up to the program's tables, indexes and journal
// mode, as a start of the program does. Returns the data folder (ending in '/').
inline std::string UseDataFile() {
  const std::string folder = Folder();
  const std::string dataFolder = folder + "/Lumivar/";
  std::filesystem::create_directories(dataFolder);
  setenv("LUMIVAR_DOCUMENTS_DIR", folder.c_str(), 1);
  const std::string marker = dataFolder + "complete";
  if (!std::filesystem::exists(marker)) {
    const std::string path = dataFolder + engine::DataFiles::kDataFileName;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    std::printf("writing %s (once)...\n", path.c_str());
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    Generate(path);
    engine::DataFiles::CreateDataTables();
    std::ofstream(marker) << "complete\n";
    std::printf("written in %.0f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  engine::DataFiles::CreateDataTables();
  return dataFolder;
}

}  // namespace bench::year_data
