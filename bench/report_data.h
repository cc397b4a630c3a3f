// The data file of the report benchmark: 20 monitors x one year of one-minute samples
// (about 10.5 million rows) plus one test query of the first monitor with a value every
// minute, written through the program's own insert statements (on several threads into
// files of their own, then taken over in time order in one transaction). Connection times
// change from each row to the next, so no row stands for a run. The file is kept in the
// bench program's build folder under "report-bench-data/" and made again when missing.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/db/database.h"
#include "engine/store/data_files.h"
#include "engine/store/sql_text.h"
#include "engine/store/statements.h"

namespace bench::report_data {

inline constexpr int kMonitors = 20;
inline constexpr std::int64_t kDay = 86400;
inline constexpr std::int64_t kYear = 365 * kDay;

// The first monitor and its test query: their identifiers are fixed texts.
// Identifiers as long as the program's own.
inline const std::string kMonitorId = "00000000-0000-4000-8000-report-bench";
inline const std::string kTestQueryId = "00000000-0000-4000-8000-report-query";

// The rows end at midday of a fixed day.
inline std::int64_t End() {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = 14;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

inline std::string MonitorId(int m) {
  char id[48];
  std::snprintf(id, sizeof id, "%08d-0000-4000-8000-report-bench", m);
  return id;
}

// The documents folder: "report-bench-data" beside the running program.
inline std::string Folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path base =
      ec ? std::filesystem::temp_directory_path() : self.parent_path();
  return (base / "report-bench-data").string();
}

inline void Exec(db::Database& database, const std::string& sql) {
  if (db::Database::ExecSQL(database, sql) != 0) {
    std::fprintf(stderr, "failed: %s\n", sql.c_str());
    std::exit(1);
  }
}

inline void OpenForWriting(db::Database& database, const std::string& path) {
  std::filesystem::remove(path);
  if (database.Open(path) != 0) {
    std::fprintf(stderr, "cannot make %s\n", path.c_str());
    std::exit(1);
  }
  for (const char* pragma :
       {"PRAGMA journal_mode = OFF", "PRAGMA synchronous = OFF", "PRAGMA cache_size = -65536"}) {
    Exec(database, pragma);
  }
  for (const engine::TableDefinition& table : engine::kDataTables) {
    Exec(database, std::string(table.createSql));
  }
}

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

// The rows of minutes [from, to), minute by minute and every monitor in turn, as the polls
// write them, through the program's insert statements in one transaction.
inline void WriteRows(db::Database& database, std::int64_t from, std::int64_t to) {
  Exec(database, "BEGIN");
  engine::sql::OdbcDataSourceDataRow row;
  for (std::int64_t t = from; t < to; t += 60) {
    const std::int64_t minute = t / 60;
    for (int m = 0; m < kMonitors; ++m) {
      const std::uint32_t noise = Noise(m, minute);
      // About one poll in 400 fails, one in 50 finds the monitor unhealthy. Even and odd
      // minutes take connection times from different ranges, so two rows in a row differ.
      const bool up = noise % 400 != 0;
      row.monitorId = MonitorId(m);
      row.time = t;
      row.available = up;
      row.health = up && (noise >> 9) % 50 != 0;
      row.errorCode = up ? 0 : -1;
      row.errorDescription = up ? "" : "Connection failed.";
      row.connectionTime =
          up ? static_cast<std::int32_t>(5 + (minute % 2) * 20 + (noise >> 16) % 20) : -1;
      row.requestTime = up ? static_cast<std::int32_t>(1 + (noise >> 24) % 20) : -1;
      Exec(database, engine::sql::InsertOdbcDataSourceData(row));
      if (m == 0) {
        Exec(database,
             engine::sql::InsertTestQueryData(kMonitorId, kTestQueryId, t,
                                              up ? static_cast<std::int32_t>(minute % 1000) : -1,
                                              up ? 0 : -1, up ? "" : "Connection failed."));
      }
    }
  }
  Exec(database, "COMMIT");
}

// Makes the data file at `path` with its indexes. Workers write stretches of the year
// into files of their own at once; the data file then takes their rows in time order in
// one transaction, so its rows lie as a year of polls would have left them.
inline void Generate(const std::string& path) {
  // Without SQLite's memory statistics, whose one lock the writers would all wait for.
  // Refused (and harmless) when SQLite has started already.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  const int parts = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  const std::int64_t end = End();
  const std::int64_t minutes = kYear / 60;
  std::vector<std::thread> workers;
  for (int p = 0; p < parts; ++p) {
    workers.emplace_back([&, p] {
      db::Database part;
      OpenForWriting(part, path + ".part" + std::to_string(p));
      WriteRows(part, end - kYear + minutes * p / parts * 60,
                end - kYear + minutes * (p + 1) / parts * 60);
    });
  }
  for (std::thread& worker : workers) worker.join();
  db::Database database;
  OpenForWriting(database, path);
  for (int p = 0; p < parts; ++p) {
    const std::string part = path + ".part" + std::to_string(p);
    Exec(database,
         "ATTACH DATABASE " + engine::sql::QuoteText(part) + " AS part" + std::to_string(p));
  }
  Exec(database, "BEGIN");
  for (const char* table : {"ODBCDataSourcesData", "TestQueriesData"}) {
    for (int p = 0; p < parts; ++p) {
      Exec(database, std::string("INSERT INTO ") + table + " SELECT * FROM part" +
                         std::to_string(p) + "." + table + " ORDER BY rowid");
    }
  }
  Exec(database, "COMMIT");
  // The program's indexes, made here rather than after the switch to write-ahead logging.
  for (std::string_view index : engine::kDataIndexes) Exec(database, std::string(index));
  for (int p = 0; p < parts; ++p) {
    Exec(database, "DETACH DATABASE part" + std::to_string(p));
    std::filesystem::remove(path + ".part" + std::to_string(p));
  }
}

// Points the program's documents folder at Folder() and makes the data file there unless
// a complete one is kept; then brings it up to the program's indexes and journal mode, as
// a start of the program does.
inline void UseDataFile() {
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
}

}  // namespace bench::report_data
