// Helpers shared by the benchmark programs: temporary folders (one the engine's documents
// folder), a unixODBC configuration of the program's own with the SQLite ODBC driver,
// SQLite files made through the SQLite C API, another process holding a SQLite file's
// write lock, the median and tail of samples, a main that unwinds on failure, and the
// process's resident memory and CPU time. The year of samples is in year_data.h. The
// benchmark's own thread stands for the user-interface thread.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glob.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/monitor/server.h"

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

// A temporary folder that the engine takes for the documents folder (LUMIVAR_DOCUMENTS_DIR)
// while it lives. Before it is removed, the engine's work on its files is let end (Settle),
// so that nothing writes into it, or makes it again, while or after it is removed.
class DocumentsFolder {
 public:
  explicit DocumentsFolder(const std::string& stem = "lumivar-bench") : folder_(stem) {
    setenv("LUMIVAR_DOCUMENTS_DIR", folder_.Path().c_str(), 1);
  }
  ~DocumentsFolder() { Settle(); }
  DocumentsFolder(const DocumentsFolder&) = delete;
  DocumentsFolder& operator=(const DocumentsFolder&) = delete;

  // Waits, 30 s at most, for the helpers (stops, deletions), for a poll abandoned inside
  // its store (it holds the data file's shared connection), which is then closed, and for
  // the log rows asked for so far.
  static void Settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    engine::Server::WaitForHelpers(deadline);
    engine::DataFiles::KeepDataFileOpen(false);
    engine::WaitForLogWrites(deadline);
  }

  const std::string& Path() const { return folder_.Path(); }

 private:
  TempFolder folder_;
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

// The argument that starts a benchmark program as the holder of another instance's
// ForeignLock; RunLockHolder, first thing in main, handles it.
inline constexpr std::string_view kHoldLockArgument = "--hold-write-lock-of";

// When the program was started with kHoldLockArgument and a file: opens the file, takes
// its write lock (BEGIN EXCLUSIVE, waiting up to 10 s for writers under way), writes
// "locked" (or "failed: " and SQLite's text) and a newline to standard output, keeps the
// lock until standard input closes and returns the exit status. Otherwise nullopt.
inline std::optional<int> RunLockHolder(int argc, char** argv) {
  if (argc != 3 || argv[1] != kHoldLockArgument) return std::nullopt;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    rc = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    std::printf("locked\n");
  } else {
    std::printf("failed: %s\n", db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  }
  std::fflush(stdout);
  char byte = 0;
  while (rc == SQLITE_OK && read(STDIN_FILENO, &byte, 1) > 0) {
  }
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc == SQLITE_OK ? 0 : 1;
}

// Another program holding the write lock of a SQLite file: this program run again as its
// lock holder (RunLockHolder must lead its main), in a process of its own, so the lock is
// another process's POSIX lock, as another program's would be. SQLite's sharing of locks
// among the connections of one process plays no part, nor does the holder take this
// process's mutexes or time. Constructed once the lock is held (throws otherwise); the
// destructor lets the lock go and waits for the process.
class ForeignLock {
 public:
  explicit ForeignLock(const std::string& file) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
      close(toChild[0]);
      close(toChild[1]);
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::string self = "/proc/self/exe";
    std::string argument(kHoldLockArgument);
    std::string path = file;
    char* args[] = {self.data(), argument.data(), path.data(), nullptr};
    const int spawned = posix_spawn(&pid_, self.c_str(), &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    release_ = toChild[1];
    std::string answer;
    char byte = 0;
    while (spawned == 0 && read(fromChild[0], &byte, 1) == 1 && byte != '\n') answer += byte;
    close(fromChild[0]);
    if (spawned != 0) pid_ = -1;
    if (answer != "locked") {
      Release();
      throw std::runtime_error("no lock on " + file + ": " +
                               (spawned != 0 ? "the holder did not start" : answer));
    }
  }
  ~ForeignLock() { Release(); }
  ForeignLock(const ForeignLock&) = delete;
  ForeignLock& operator=(const ForeignLock&) = delete;

 private:
  void Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int release_ = -1;  // the holder's standard input: closing it lets the lock go
};

// The median, 95th percentile (nearest rank) and maximum of samples; zeros for none.
struct Spread {
  double median = 0;
  double p95 = 0;
  double max = 0;
};

inline Spread SpreadOf(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  Spread spread;
  spread.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  spread.p95 = samples[(95 * n + 99) / 100 - 1];
  spread.max = samples.back();
  return spread;
}

// Parses the command line and calls body, which runs the benchmarks. An exception ends the
// run with its text on standard error and status 1, after the stack has been unwound, so
// that every temporary folder is removed.
template <typename Body>
int RunBenchmarks(int argc, char** argv, Body body) {
  try {
    benchmark::Initialize(&argc, argv);
    body();
    benchmark::Shutdown();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
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
