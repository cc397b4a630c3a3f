// Many monitors running at once in one process, each polling a SQLite file of its own
// through the SQLite ODBC driver with one test query and storing every poll in the data
// file, on a fake clock that runs as many times faster than real time as makes the
// chosen cadence of a one-minute polling interval. Prints the resident memory per running
// monitor (the process's growth from all monitors stopped to all running) and the CPU
// time per poll.
//
// Flags (before Google Benchmark's own):
//   --monitors=N         monitors (default 2000)
//   --poll_seconds=S,..  real seconds between two polls of one monitor, one figure per
//                        value, each in a process of its own (default 60,5: the shortest
//                        interval a user can set, and a stress figure); 0 polls back to
//                        back
//   --run_seconds=R      how long each figure runs once all are started (default: two
//                        polls of each monitor, at least 20 s)
//   --stress_rounds=K    instead of the figures: K rounds of starting every monitor,
//                        waiting until each has polled twice (at --poll_seconds' first
//                        value, default 5) and stopping them all; exits 1 when a round
//                        does not complete
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"

namespace {

struct Options {
  int monitors = 2000;
  std::vector<double> pollSeconds = {60, 5};
  double runSeconds = 0;  // 0: two polls of each monitor, at least 20 s
  int stressRounds = 0;
};

class CountingUi : public engine::IUserInterface {
 public:
  void MonitorUpdated(std::string) override { polls.fetch_add(1, std::memory_order_relaxed); }
  void ShowBalloon(std::string, std::string, MessageKind) override {}
  void RestoreMainWindow() override {}
  void ShowAlertMessage(std::string, std::string, MessageKind) override {}
  void ShowActionTestResult(std::uint32_t) override {}
  std::atomic<std::int64_t> polls{0};
};

// Every descriptor the system allows: each poll in the driver holds its source file open.
void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// A store of `count` monitors polling files of their own, in a temporary documents folder,
// on a clock running `scale` times real time (0: each monitor polls again as soon as its
// previous poll is done). Every monitor has polled once on this thread when it is made,
// so that the driver and every lazily made structure exist before a baseline is taken.
class Scene {
 public:
  Scene(int count, double scale)
      : clock_(1'700'000'000,
               scale > 0 ? engine::FakeClock::Mode::kScaled : engine::FakeClock::Mode::kAutoAdvance,
               scale),
        scoped_(&clock_) {
    bench::ConfigureOdbc(folder_.Path());
    setenv("LUMIVAR_DOCUMENTS_DIR", folder_.Path().c_str(), 1);
    engine::Services::SetUi(&ui_);
    engine::Services::SetStorage(&store_);
    engine::DataFiles::CreateConfigTables();
    engine::DataFiles::CreateDataTables();
    for (int i = 0; i < count; ++i) {
      const std::string file = folder_.File("source" + std::to_string(i) + ".db");
      bench::RunSqlite(
          file, {"PRAGMA journal_mode = OFF", "CREATE TABLE t (n)", "INSERT INTO t VALUES (1)"});
      auto monitor = store_.AddNewODBCDataSource();
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "monitor " + std::to_string(i);
      monitor->pollingInterval = 1;
      monitor->customConnectionString = true;
      monitor->connectionString = bench::SqliteConnectionString(file);
      monitor->AddTestQuery().query = "SELECT count(*) FROM t";
    }
    for (const auto& monitor : store_.GetServerList()) monitor->Poll();
  }
  ~Scene() {
    // The polling threads read the fake clock until their stops have completed.
    store_.WaitForStops(std::chrono::steady_clock::now() + std::chrono::minutes(2));
    store_.Clear();
    engine::Services::SetStorage(nullptr);
    engine::Services::SetUi(nullptr);
  }

  engine::ServerStorage& Store() { return store_; }
  std::int64_t Polls() const { return ui_.polls.load(); }

  // Stops every monitor and waits for the stops; false when they did not all complete.
  bool StopAll() {
    store_.StopAll();
    return store_.WaitForStops(std::chrono::steady_clock::now() + std::chrono::minutes(2));
  }

 private:
  bench::TempFolder folder_;
  engine::FakeClock clock_;
  engine::ScopedClock scoped_;
  CountingUi ui_;
  engine::ServerStorage store_;
};

double Scale(double pollSeconds) { return pollSeconds > 0 ? 60.0 / pollSeconds : 0; }

void RunningMonitors(benchmark::State& state, int monitors, double pollSeconds, double runSeconds) {
  if (runSeconds <= 0) runSeconds = std::max(20.0, 2 * pollSeconds + 5);
  Scene scene(monitors, Scale(pollSeconds));
  const std::int64_t stoppedKiB = bench::ResidentKiB();
  for (auto _ : state) {
    scene.Store().StartAll();
    // Measured once all are running.
    const std::int64_t pollsBefore = scene.Polls();
    const double cpuBefore = bench::CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto runFor = std::chrono::duration<double>(runSeconds);
    std::int64_t runningKiB = 0;
    while (std::chrono::steady_clock::now() - start < runFor) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      runningKiB = std::max(runningKiB, bench::ResidentKiB());
    }
    const std::int64_t polls = scene.Polls() - pollsBefore;
    const double cpu = bench::CpuSeconds() - cpuBefore;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!scene.StopAll()) state.SkipWithError("the monitors did not all stop");
    state.SetIterationTime(seconds);
    state.counters["monitors"] = monitors;
    state.counters["polls"] = static_cast<double>(polls);
    state.counters["polls_per_s"] = static_cast<double>(polls) / seconds;
    state.counters["cpu_us_per_poll"] = polls > 0 ? cpu * 1e6 / static_cast<double>(polls) : 0;
    state.counters["rss_stopped_MiB"] = static_cast<double>(stoppedKiB) / 1024.0;
    state.counters["rss_running_MiB"] = static_cast<double>(runningKiB) / 1024.0;
    state.counters["rss_KiB_per_monitor"] = static_cast<double>(runningKiB - stoppedKiB) / monitors;
  }
}

// Rounds of start, polls and stop-all; returns the process's exit status.
int Stress(const Options& options) {
  const double pollSeconds = options.pollSeconds.empty() ? 5 : options.pollSeconds.front();
  Scene scene(options.monitors, Scale(pollSeconds));
  const std::int64_t wanted = 2LL * options.monitors;
  for (int round = 1; round <= options.stressRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t before = scene.Polls();
    scene.Store().StartAll();
    const auto deadline = start + std::chrono::duration<double>(10 * pollSeconds + 120);
    while (scene.Polls() - before < wanted && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::int64_t polls = scene.Polls() - before;
    const auto polled = std::chrono::steady_clock::now();
    const bool stopped = scene.StopAll();
    const auto end = std::chrono::steady_clock::now();
    std::printf("round %d: %d monitors, %lld polls in %.1f s, stop-all %s in %.1f s\n", round,
                options.monitors, static_cast<long long>(polls),
                std::chrono::duration<double>(polled - start).count(),
                stopped ? "done" : "NOT done", std::chrono::duration<double>(end - polled).count());
    std::fflush(stdout);
    if (polls < wanted || !stopped) return 1;
  }
  return 0;
}

// Takes this program's flags out of argv; false on a malformed one.
bool ParseOptions(int* argc, char** argv, Options* options) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const std::string prefix = std::string("--") + name + "=";
      return arg.rfind(prefix, 0) == 0 ? argv[i] + prefix.size() : nullptr;
    };
    try {
      if (const char* v = value("monitors")) {
        options->monitors = std::stoi(v);
      } else if (const char* v = value("poll_seconds")) {
        options->pollSeconds.clear();
        std::stringstream list(v);
        for (std::string item; std::getline(list, item, ',');) {
          options->pollSeconds.push_back(std::stod(item));
        }
      } else if (const char* v = value("run_seconds")) {
        options->runSeconds = std::stod(v);
      } else if (const char* v = value("stress_rounds")) {
        options->stressRounds = std::stoi(v);
      } else {
        argv[kept++] = argv[i];
      }
    } catch (const std::exception&) {
      std::fprintf(stderr, "bad value: %s\n", argv[i]);
      return false;
    }
  }
  *argc = kept;
  return options->monitors > 0;
}

// Runs this program once per cadence, each with a fresh process, so that no figure's
// baseline holds what an earlier one left in the heap. Returns the first failure's status.
int EachCadenceOnItsOwn(int argc, char** argv, const Options& options) {
  int status = 0;
  for (double pollSeconds : options.pollSeconds) {
    std::vector<std::string> args = {argv[0], "--monitors=" + std::to_string(options.monitors),
                                     "--poll_seconds=" + std::to_string(pollSeconds),
                                     "--run_seconds=" + std::to_string(options.runSeconds)};
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    std::fflush(stdout);
    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, pointers.data(), environ) != 0) {
      return 1;
    }
    int waited = 0;
    if (waitpid(child, &waited, 0) != child || !WIFEXITED(waited) || WEXITSTATUS(waited) != 0) {
      std::fprintf(stderr, "the run at one poll per %g s failed (wait status %d)\n", pollSeconds,
                   waited);
      if (status == 0) status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(&argc, argv, &options)) return 2;
  RaiseFileLimit();
  if (options.stressRounds > 0) {
    bool defaultCadence = options.pollSeconds == std::vector<double>{60, 5};
    if (defaultCadence) options.pollSeconds = {5};
    return Stress(options);
  }
  if (options.pollSeconds.size() > 1) return EachCadenceOnItsOwn(argc, argv, options);
  for (double pollSeconds : options.pollSeconds) {
    const std::string name = "BM_RunningMonitors/monitors:" + std::to_string(options.monitors) +
                             "/poll_every_s:" + std::to_string(static_cast<int>(pollSeconds));
    benchmark::RegisterBenchmark(name.c_str(), RunningMonitors, options.monitors, pollSeconds,
                                 options.runSeconds)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
