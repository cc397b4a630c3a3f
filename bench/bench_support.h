// Helpers shared by the benchmark programs: a temporary folder, a unixODBC configuration
// of the program's own with the SQLite ODBC driver, SQLite files made through the SQLite
// C API, and the process's resident memory and CPU time. The year of samples is in
// year_data.h.
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

}  // namespace bench
