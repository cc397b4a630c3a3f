// How long the user-interface thread spends in Start and Stop of a monitor, and how long
// after Stop the monitor is reported stopped: with a poll inside a connect that takes 4 s
// (a connect cannot be cancelled), with a poll inside a query that only a cancel ends,
// and with the data file held under an exclusive lock by another connection (stop bound
// 1 s, busy retry limit 3 s). Also the deletion of a monitor with a year of one-minute
// rows: the call, and the report that its rows are gone. Each case runs once per
// iteration; the figures are milliseconds on the system clock.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "bench/bench_support.h"
#include "engine/data/data_files.h"
#include "engine/db/busy_event.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"
#include "platform/documents.h"
#include "platform/odbc.h"

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

double MsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// Records when a stop was reported.
class StopUi : public engine::IUserInterface {
 public:
  void MonitorUpdated(std::string) override {}
  void MonitorStopped(std::string) override {
    {
      std::lock_guard lock(mutex_);
      stoppedAt_ = SteadyClock::now();
      stopped_ = true;
    }
    cv_.notify_all();
  }
  void ShowBalloon(std::string, std::string, MessageKind) override {}
  void RestoreMainWindow() override {}
  void ShowAlertMessage(std::string, std::string, MessageKind) override {}
  void ShowActionTestResult(std::uint32_t) override {}

  void MonitorDeleted(std::string) override {
    {
      std::lock_guard lock(mutex_);
      deletedAt_ = SteadyClock::now();
      deleted_ = true;
    }
    cv_.notify_all();
  }

  void Reset() {
    std::lock_guard lock(mutex_);
    stopped_ = false;
    deleted_ = false;
  }
  double WaitForDeleted(SteadyClock::time_point start, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return deleted_; })) return -1;
    return std::chrono::duration<double, std::milli>(deletedAt_ - start).count();
  }
  // Milliseconds from start to the report; -1 when none came within the time-out.
  double WaitForStopped(SteadyClock::time_point start, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return stopped_; })) return -1;
    return std::chrono::duration<double, std::milli>(stoppedAt_ - start).count();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopped_ = false;
  SteadyClock::time_point stoppedAt_;
  bool deleted_ = false;
  SteadyClock::time_point deletedAt_;
};

// A driver whose connect takes a fixed time and whose queries answer at once or run until
// cancelled.
class SlowOdbc : public platform::IOdbc, public std::enable_shared_from_this<SlowOdbc> {
 public:
  SlowOdbc(std::chrono::milliseconds connectTime, bool blockQueries)
      : connectTime_(connectTime), blockQueries_(blockQueries) {}

  platform::OdbcError Connect(std::string_view, int,
                              std::shared_ptr<platform::IOdbcConnection>* connection) override {
    std::this_thread::sleep_for(connectTime_);
    *connection = std::make_shared<Connection>(shared_from_this(), blockQueries_);
    return {};
  }
  platform::OdbcError ListDataSources(std::vector<platform::OdbcDataSource>*) override {
    return {};
  }
  int Cancels() const { return cancels_.load(); }

 private:
  class Connection : public platform::IOdbcConnection {
   public:
    Connection(std::shared_ptr<SlowOdbc> owner, bool block)
        : owner_(std::move(owner)), block_(block) {}
    platform::OdbcError QueryFirstValue(std::string_view, int,
                                        platform::OdbcFirstValue* value) override {
      if (!block_) {
        value->kind = platform::OdbcFirstValue::Kind::kText;
        value->text = "1";
        return {};
      }
      std::unique_lock lock(mutex_);
      cv_.wait_for(lock, 60s, [&] { return cancelled_; });
      return {-1, "cancelled", "HY008"};
    }
    platform::OdbcError Execute(std::string_view, int) override { return {}; }
    void Cancel() override {
      owner_->cancels_.fetch_add(1);
      {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
      }
      cv_.notify_all();
    }
    void Close() override {}

   private:
    std::shared_ptr<SlowOdbc> owner_;
    const bool block_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool cancelled_ = false;
  };

  const std::chrono::milliseconds connectTime_;
  const bool blockQueries_;
  std::atomic<int> cancels_{0};
};

// The files in a temporary folder, removed again whichever way the case ends, once the
// engine's work on them has ended (while the user interface is still there to be told).
struct Setup {
  Setup() {
    engine::Services::SetUi(&ui);
    engine::DataFiles::CreateConfigTables();
    engine::DataFiles::CreateDataTables();
  }
  ~Setup() {
    bench::DocumentsFolder::Settle();
    engine::Services::SetUi(nullptr);
  }
  StopUi ui;
  bench::DocumentsFolder folder;
};

std::shared_ptr<engine::ODBCDataSource> NewMonitor(std::shared_ptr<platform::IOdbc> odbc) {
  auto monitor = std::make_shared<engine::ODBCDataSource>();
  monitor->SetOdbc(std::move(odbc));
  std::lock_guard lock(monitor->Mutex());
  monitor->AddTestQuery().query = "SELECT 1";
  return monitor;
}

// Starts a monitor on odbc, stops it 100 ms later and records how long Stop took, when
// MonitorStopped came and how many cancels the driver saw.
void MeasureStop(benchmark::State& state, Setup& setup, std::shared_ptr<SlowOdbc> odbc) {
  auto monitor = NewMonitor(odbc);
  setup.ui.Reset();
  monitor->Start();
  std::this_thread::sleep_for(100ms);
  const auto start = SteadyClock::now();
  monitor->Stop();
  state.counters["stop_ms"] = MsSince(start);
  state.counters["stopped_report_ms"] = setup.ui.WaitForStopped(start, 10s);
  state.counters["cancels"] = odbc->Cancels();
}

// A poll inside a connect of 4 s.
void BM_StopDuringConnect(benchmark::State& state) {
  Setup setup;
  for (auto _ : state) {
    MeasureStop(state, setup, std::make_shared<SlowOdbc>(4s, false));
    std::this_thread::sleep_for(4s);  // let the connect end before the next run
  }
}
BENCHMARK(BM_StopDuringConnect)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A poll inside a query that only a cancel ends.
void BM_StopDuringQuery(benchmark::State& state) {
  Setup setup;
  for (auto _ : state) MeasureStop(state, setup, std::make_shared<SlowOdbc>(0ms, true));
}
BENCHMARK(BM_StopDuringQuery)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Start and Stop while another connection holds the data file under BEGIN EXCLUSIVE for
// 8 s; stop bound 1 s, busy retry limit 3 s.
void BM_StartStopWhileTheDataFileIsLocked(benchmark::State& state) {
  Setup setup;
  engine::Server::SetStopTimeout(1s);
  db::BusyEvent::SetRetryLimit(3s);
  for (auto _ : state) {
    auto odbc = std::make_shared<SlowOdbc>(0ms, false);
    auto monitor = NewMonitor(odbc);
    sqlite3* locker = nullptr;
    sqlite3_open((platform::GetDocumentsFolder() + engine::DataFiles::kDataFileName).c_str(),
                 &locker);
    sqlite3_exec(locker, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    std::jthread release([locker] {
      std::this_thread::sleep_for(8s);
      sqlite3_exec(locker, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(locker);
    });
    setup.ui.Reset();
    auto start = SteadyClock::now();
    monitor->Start();
    state.counters["start_ms"] = MsSince(start);
    std::this_thread::sleep_for(100ms);
    start = SteadyClock::now();
    monitor->Stop();
    state.counters["stop_ms"] = MsSince(start);
    state.counters["stopped_report_ms"] = setup.ui.WaitForStopped(start, 20s);
  }
  engine::Server::SetStopTimeout(120s);
  db::BusyEvent::SetRetryLimit(db::BusyEvent::kDefaultRetryLimit);
}
BENCHMARK(BM_StartStopWhileTheDataFileIsLocked)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A monitor with a year of one-minute rows in the sample tables, deleted.
void BM_DeleteAYearOfRows(benchmark::State& state) {
  Setup setup;
  for (auto _ : state) {
    engine::ServerStorage store;
    auto monitor = store.AddNewODBCDataSource();
    sqlite3* db = nullptr;
    sqlite3_open((platform::GetDocumentsFolder() + engine::DataFiles::kDataFileName).c_str(), &db);
    const std::string minutes =
        "WITH RECURSIVE m(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM m WHERE n < 525599) ";
    for (const std::string& sql : std::vector<std::string>{
             "BEGIN",
             minutes + "INSERT INTO ODBCDataSourcesData SELECT '" + monitor->id +
                 "', printf('%010d', 1700000000 + 60 * n), '1', '1', '0', '', '5', '7' FROM m",
             minutes + "INSERT INTO TestQueriesData SELECT '" + monitor->id +
                 "', 'query', printf('%010d', 1700000000 + 60 * n), '3', '0', '' FROM m",
             "COMMIT"}) {
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    setup.ui.Reset();
    const auto start = SteadyClock::now();
    store.DeleteServer(monitor->id);
    state.counters["delete_ms"] = MsSince(start);
    state.counters["deleted_report_ms"] = setup.ui.WaitForDeleted(start, 120s);
  }
}
BENCHMARK(BM_DeleteAYearOfRows)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return bench::RunBenchmarks(argc, argv, [] { benchmark::RunSpecifiedBenchmarks(); });
}
