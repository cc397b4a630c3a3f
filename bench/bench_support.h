// Helpers shared by the benchmark programs: a temporary folder, a unixODBC configuration
// of the program's own with the SQLite ODBC driver, SQLite files made through the SQLite
// C API, the process's resident memory and CPU time, and a data file holding a year of
// one-minute samples of 20 monitors.
#pragma once

#include <glob.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/store/data_files.h"
#include "platform/guid.h"

namespace bench {

class TempFolder {
 public:
  explicit TempFolder(const std::string& stem = "lumivar-bench") {
    std::string base = std::filesystem::temp_directory_path().string() + "/" + stem + "-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = base;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string FindSqliteDriver() {
  glob_t found{};
  std::string path;
  if (glob("/usr/lib/*/odbc/libsqlite3odbc.so", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
    path = found.gl_pathv[0];
  }
  globfree(&found);
  if (path.empty()) throw std::runtime_error("the SQLite ODBC driver is not installed");
  return path;
}

// Points the driver manager at an odbcinst.ini in `folder` naming the SQLite driver
// "SQLite3". Must come before the process's first ODBC call.
inline void ConfigureOdbc(const std::string& folder) {
  std::ofstream(folder + "/odbcinst.ini")
      << "[SQLite3]\nDescription = SQLite3 ODBC Driver\nDriver = " << FindSqliteDriver() << "\n";
  std::ofstream(folder + "/odbc.ini") << "";
  setenv("ODBCSYSINI", folder.c_str(), 1);
  setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);
}

inline std::string SqliteConnectionString(const std::string& file) {
  return "Driver=SQLite3;Database=" + file;
}

// Runs statements on a SQLite file (made when missing) through the C API.
inline void RunSqlite(const std::string& file, const std::vector<std::string>& statements) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + file);
  for (const std::string& sql : statements) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string text = error != nullptr ? error : "?";
      sqlite3_free(error);
      sqlite3_close(db);
      throw std::runtime_error(sql + ": " + text);
    }
  }
  sqlite3_close(db);
}

// Resident memory of the process in KiB.
inline std::int64_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
  }
  return 0;
}

// User plus system CPU time of the process, in seconds.
inline double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A data file of kMonitors monitors x one year of one-minute samples (about 10.5 million
// rows), one in 500 of them down, ending at End(). It is built once with the SQLite C API
// in one transaction and kept for later runs in $LUMIVAR_BENCH_DIR (default: the
// temporary folder) under "lumivar-store-bench/"; delete that folder to build it again.
namespace year_history {

inline constexpr int kMonitors = 20;
inline constexpr std::int64_t kYear = 365LL * 24 * 3600;

// Midday of a fixed day: the data end here, so today already holds half a day of rows.
inline std::int64_t End() {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = 14;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

// The documents folder of the benchmark; the data folder is its "Lumivar/".
inline std::string Folder() {
  const char* base = std::getenv("LUMIVAR_BENCH_DIR");
  return std::string(base != nullptr && *base == '/'
                         ? base
                         : std::filesystem::temp_directory_path().string()) +
         "/lumivar-store-bench";
}

inline void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Builds the data file in `dataFolder` unless a complete one is there; returns the first
// monitor's identifier. The program's documents folder must point at its parent.
inline std::string BuildDataFile(const std::string& dataFolder) {
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

// Points the program's documents folder at Folder() and builds the data file in its data
// folder unless it is there; then brings it up to the program's tables, indexes and
// journal mode, as a start of the program does. Returns the data folder (ending in '/').
inline std::string UseDataFile() {
  const std::string folder = Folder();
  std::filesystem::create_directories(folder);
  setenv("LUMIVAR_DOCUMENTS_DIR", folder.c_str(), 1);
  const std::string dataFolder = folder + "/Lumivar/";
  std::filesystem::create_directories(dataFolder);
  BuildDataFile(dataFolder);
  engine::DataFiles::CreateDataTables();
  return dataFolder;
}

// Every monitor identifier of the data file, in text order (one index look-up each).
inline std::vector<std::string> MonitorIds(const std::string& dataFolder) {
  std::vector<std::string> ids;
  sqlite3* db = nullptr;
  const std::string path = dataFolder + engine::DataFiles::kDataFileName;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  sqlite3_stmt* next = nullptr;
  Check(sqlite3_prepare_v2(db,
                           "SELECT monitorId FROM ODBCDataSourcesData WHERE monitorId > ? "
                           "ORDER BY monitorId LIMIT 1",
                           -1, &next, nullptr),
        db, "prepare");
  std::string last;
  for (;;) {
    sqlite3_bind_text(next, 1, last.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(next) != SQLITE_ROW) break;
    last = reinterpret_cast<const char*>(sqlite3_column_text(next, 0));
    ids.push_back(last);
    sqlite3_reset(next);
  }
  sqlite3_finalize(next);
  sqlite3_close(db);
  return ids;
}

}  // namespace year_history

}  // namespace bench
