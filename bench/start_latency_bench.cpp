// How long the user-interface thread is held while the program starts with 500 running
// monitors: the program's own application object, start-up sequence and main window, on a
// data folder whose configuration file holds 500 monitors, each polling a SQLite file of
// its own through the SQLite ODBC driver once a minute with one test query, every one of
// them in the settings' running set. Each start is a process of its own, as the program's
// start is. From the end of the application's initialisation on, a 10 ms one-shot timer
// on the UI thread, started again each time it fires, measures how much later than 10 ms
// after its start each firing came, for 15 s: every monitor's first poll, the reading of
// today's figures and the burst of notifications fall in that time. Prints, per start, the
// initialisation's length, the longest and 99th percentile lateness, when the longest
// ended and how many of the monitors' reports reached the window (every monitor polls at
// once when it starts), then the longest lateness across all starts (target: under
// 250 ms).
//
// Flags: --monitors=N (default 500), --starts=K (default 6), --run_seconds=R (default 15).
// Needs a display: without DISPLAY the program runs itself again under `xvfb-run -a`.
// Not a Google Benchmark program: it prints its figures itself.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_lifecycle.h"
#include "app/main_frame.h"
#include "app/orbanel_app.h"
#include "app/settings/settings.h"
#include "bench/bench_support.h"
#include "bench/ui_bench_support.h"
#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/registry.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kTimerMs = 10;
constexpr double kTargetMs = 250;
constexpr char kChildArgument[] = "--start-child";

struct Options {
  int monitors = 500;
  int starts = 6;
  int runSeconds = 15;
};

// What one start measured, as the child prints it on one line.
struct StartFigures {
  double initMs = 0;  // the application's OnInit
  double maxMs = 0;   // the longest lateness
  double p99Ms = 0;
  double maxAtS = 0;  // when the longest lateness ended, in seconds after OnInit
  int firings = 0;
  int notifications = 0;  // the monitors' reports that reached the window
};

// Every descriptor the system allows: each poll in the driver holds its source file open.
void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const std::size_t index = std::min(
      samples.size() - 1, static_cast<std::size_t>(p * static_cast<double>(samples.size())));
  return samples[index];
}

// The folders of the program (settings, runtime, data) and the ODBC configuration under
// one temporary folder, in the environment the starts inherit.
void PointEnvironmentAt(const bench::TempFolder& root) {
  for (const char* sub : {"config", "run", "docs", "sources"}) {
    std::filesystem::create_directories(root.File(sub));
  }
  chmod(root.File("run").c_str(), 0700);
  setenv("XDG_CONFIG_HOME", root.File("config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", root.File("run").c_str(), 1);
  setenv("LUMIVAR_DOCUMENTS_DIR", root.File("docs").c_str(), 1);
  bench::ConfigureOdbc(root.Path());
}

// Today's rows of every monitor as a day of polls leaves them: one row an hour from local
// midnight (a steady monitor extends its row within the hour), every fifth hour down.
void SeedToday(const std::vector<std::string>& ids) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  std::time_t t = static_cast<std::time_t>(now);
  std::tm local{};
  localtime_r(&t, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  const std::int64_t midnight = static_cast<std::int64_t>(std::mktime(&local));
  db::Database data;
  if (engine::DataFiles::OpenDatabase(data, engine::DataFiles::kDataFileName) != 0) {
    throw std::runtime_error("the data file cannot be opened");
  }
  db::Database::ExecSQL(data, "BEGIN");
  for (const std::string& id : ids) {
    int hour = 0;
    for (std::int64_t time = midnight; time + 3600 < now; time += 3600, ++hour) {
      engine::sql::OdbcDataSourceDataRow row;
      row.monitorId = id;
      row.time = time;
      row.available = hour % 5 != 4;
      row.health = row.available;
      row.connectionTime = 12;
      row.requestTime = 3;
      db::Database::ExecSQL(data, engine::sql::InsertOdbcDataSourceData(row));
    }
  }
  db::Database::ExecSQL(data, "COMMIT");
}

// The configuration file with the monitors, today's rows and the settings' running set.
void PrepareScene(const bench::TempFolder& root, int monitors) {
  engine::DataFiles::CreateConfigTables();
  engine::DataFiles::CreateDataTables();
  std::vector<app::MonitorState> running;
  {
    engine::ServerStorage store;
    store.LoadAll();
    for (int i = 0; i < monitors; ++i) {
      const std::string file = root.File("sources/source" + std::to_string(i) + ".db");
      bench::RunSqlite(
          file, {"PRAGMA journal_mode = OFF", "CREATE TABLE t (n)", "INSERT INTO t VALUES (1)"});
      auto monitor = store.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Monitor " + std::to_string(i + 1);
      monitor->pollingInterval = 1;
      monitor->customConnectionString = true;
      monitor->connectionString = bench::SqliteConnectionString(file);
      monitor->AddTestQuery().query = "SELECT count(*) FROM t";
      running.push_back({monitor->id, true});
    }
    engine::FileFailure failure;
    if (store.SaveAll(&failure) != 0) throw std::runtime_error("save: " + failure.text);
    std::vector<std::string> ids;
    for (const app::MonitorState& m : running) ids.push_back(m.id);
    SeedToday(ids);
    store.Clear();
  }
  engine::DataFiles::KeepDataFileOpen(false);
  app::Settings::SetRegistryBasePath(platform::MakeRegistryBasePath());
  app::Settings::Instance().SetStartedMonitors(app::BuildStartedMonitors(running));
  if (const auto problem = app::Settings::Instance().SaveToFile()) {
    throw std::runtime_error("settings: " + problem->text);
  }
}

// One start of the program in this process: prints its figures on one line of standard
// output and ends the process without the exit sequence, so that every start finds the
// files as the scene left them (but the rows the polls added).
[[noreturn]] void RunStart(int argc, char** argv, int runSeconds) {
  wxApp::SetInstance(new app::OrbanelApp);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "start_latency_bench: wx could not start\n");
    std::_Exit(1);
  }
  const auto initStart = SteadyClock::now();
  if (!wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "start_latency_bench: the program did not start\n");
    std::_Exit(1);
  }
  const auto initEnd = SteadyClock::now();

  wxGUIEventLoop loop;
  std::vector<double> lateMs;
  StartFigures figures;
  figures.initMs = std::chrono::duration<double, std::milli>(initEnd - initStart).count();
  SteadyClock::time_point timerStart = SteadyClock::now();
  wxTimer probe;
  probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    const auto now = SteadyClock::now();
    const double late =
        std::chrono::duration<double, std::milli>(now - timerStart).count() - kTimerMs;
    lateMs.push_back(late);
    if (late > figures.maxMs) {
      figures.maxMs = late;
      figures.maxAtS = std::chrono::duration<double>(now - initEnd).count();
    }
    timerStart = SteadyClock::now();
    probe.StartOnce(kTimerMs);
  });
  wxTimer end;
  end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });
  probe.StartOnce(kTimerMs);
  end.StartOnce(runSeconds * 1000);
  loop.Run();
  probe.Stop();

  const app::CMainFrame* frame = app::OrbanelApp::Get()->GetMainFrame();
  figures.notifications = frame != nullptr ? frame->MonitorUpdatesNoted() : 0;
  figures.p99Ms = Percentile(lateMs, 0.99);
  figures.firings = static_cast<int>(lateMs.size());
  std::printf("%.1f %.1f %.1f %.2f %d %d\n", figures.initMs, figures.maxMs, figures.p99Ms,
              figures.maxAtS, figures.firings, figures.notifications);
  std::fflush(nullptr);
  std::_Exit(0);
}

// Runs one start as a child process and reads its line.
bool MeasureStart(int runSeconds, StartFigures* figures) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command =
      "'" + self + "' " + kChildArgument + " --run_seconds=" + std::to_string(runSeconds);
  std::FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return false;
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, child) != nullptr;
  const int status = pclose(child);
  if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  return std::sscanf(line, "%lf %lf %lf %lf %d %d", &figures->initMs, &figures->maxMs,
                     &figures->p99Ms, &figures->maxAtS, &figures->firings,
                     &figures->notifications) == 6;
}

bool ParseOptions(int argc, char** argv, Options* options, bool* child) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const std::string prefix = std::string("--") + name + "=";
      return arg.rfind(prefix, 0) == 0 ? argv[i] + prefix.size() : nullptr;
    };
    if (arg == kChildArgument) {
      *child = true;
    } else if (const char* v = value("monitors")) {
      options->monitors = std::atoi(v);
    } else if (const char* v = value("starts")) {
      options->starts = std::atoi(v);
    } else if (const char* v = value("run_seconds")) {
      options->runSeconds = std::atoi(v);
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
      return false;
    }
  }
  return options->monitors > 0 && options->starts > 0 && options->runSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool child = false;
  if (!ParseOptions(argc, argv, &options, &child)) return 2;
  bench::EnsureDisplay(argc, argv, "start_latency_bench");
  RaiseFileLimit();
  if (child) {
    // The program sees no arguments of the benchmark's.
    char* programArgs[] = {argv[0], nullptr};
    RunStart(1, programArgs, options.runSeconds);
  }

  try {
    bench::TempFolder root("lumivar-start-bench");
    PointEnvironmentAt(root);
    PrepareScene(root, options.monitors);
    std::printf("start_latency_bench: %d running monitors, %d starts, %d s each\n",
                options.monitors, options.starts, options.runSeconds);
    std::printf("  start  init ms  longest hold ms  p99 ms  at s  timer firings  notifications\n");
    double worst = 0;
    int failed = 0;
    for (int start = 1; start <= options.starts; ++start) {
      StartFigures figures;
      if (!MeasureStart(options.runSeconds, &figures)) {
        std::printf("  %5d  the start failed\n", start);
        ++failed;
        continue;
      }
      std::printf("  %5d  %7.0f  %15.1f  %6.1f  %4.1f  %13d  %13d\n", start, figures.initMs,
                  figures.maxMs, figures.p99Ms, figures.maxAtS, figures.firings,
                  figures.notifications);
      std::fflush(stdout);
      worst = std::max(worst, figures.maxMs);
    }
    std::printf("  longest hold across starts  %.1f ms (target < %.0f)\n", worst, kTargetMs);
    std::printf("  target                      %s\n",
                failed == 0 && worst < kTargetMs ? "met" : "MISSED");
    return failed == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "start_latency_bench: %s\n", e.what());
    return 1;
  }
}
