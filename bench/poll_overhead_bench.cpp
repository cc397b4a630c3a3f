// What a monitor's poll costs beyond its ODBC calls: one poll of a SQLite data source with
// three test queries, without storing (neither the rows nor the uptime read of the data
// file), against the same connect, three queries and disconnect made with unixODBC's C API
// in a loop, and through the program's ODBC layer. Each runs five repetitions; prints the
// ratio of the poll's median over its repetitions to the direct calls' median (target: at
// most 1.05).
#include <benchmark/benchmark.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <map>
#include <memory>

#include "bench/bench_support.h"
#include "engine/monitor/odbc_data_source.h"
#include "platform/odbc.h"

namespace {

constexpr int kRepetitions = 5;

const char* const kQueries[] = {"SELECT count(*) FROM orders", "SELECT max(n) FROM orders",
                                "SELECT 42"};

struct Environment {
  bench::TempFolder folder;
  std::string file = folder.File("orders.db");
  std::string connection;

  Environment() {
    bench::ConfigureOdbc(folder.Path());
    bench::RunSqlite(file, {"CREATE TABLE orders (n, s)", "INSERT INTO orders VALUES (1, 'a')",
                            "INSERT INTO orders VALUES (2, 'b')"});
    connection = bench::SqliteConnectionString(file);
    setenv("LUMIVAR_DOCUMENTS_DIR", folder.Path().c_str(), 1);
    // The ODBC layer holds libraries the drivers load per connection for the whole process:
    // the direct calls run with them held too, so both sides make the same connections.
    platform::SystemOdbc();
  }
};

// The poll with its commit, history, health and alert evaluation, but without the data
// file: no rows written and no uptime read.
class PollWithoutStoring : public engine::ODBCDataSource {
 public:
  int StoreData() override { return 0; }
  void Evaluate() override {
    std::vector<engine::AlertFiring> firings;
    {
      std::lock_guard lock(Mutex());
      current.health = current.available && EvaluateHealth();
      firings = CheckAlerts({});
    }
    FireAlerts(std::move(firings));
  }
};

Environment& Env() {
  static Environment env;
  return env;
}

// The C API, as the ODBC layer uses it: time-outs, a forward-only read-only statement,
// the first column of the first row as text.
void DirectCalls(SQLHENV env, const std::string& connection) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
  std::string text = connection;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                  nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) std::abort();
  for (const char* query : kQueries) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE,
                   reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY),
                   0);
    std::string sql = query;
    rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    if (SQL_SUCCEEDED(rc) && columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
      char value[4096];
      SQLLEN length = 0;
      SQLGetData(stmt, 1, SQL_C_CHAR, value, sizeof value, &length);
      benchmark::DoNotOptimize(value[0]);
    }
    SQLCloseCursor(stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void BM_DirectOdbcCalls(benchmark::State& state) {
  const Environment& env = Env();
  SQLHENV henv = SQL_NULL_HENV;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv);
  SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  for (auto _ : state) DirectCalls(henv, env.connection);
  SQLFreeHandle(SQL_HANDLE_ENV, henv);
}
BENCHMARK(BM_DirectOdbcCalls)
    ->MinTime(2.0)
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMicrosecond);

void BM_OdbcLayerCalls(benchmark::State& state) {
  const Environment& env = Env();
  for (auto _ : state) {
    std::shared_ptr<platform::IOdbcConnection> connection;
    if (platform::SystemOdbc().Connect(env.connection, 15, &connection).Failed()) std::abort();
    for (const char* query : kQueries) {
      platform::OdbcFirstValue value;
      benchmark::DoNotOptimize(connection->QueryFirstValue(query, 15, &value));
    }
    connection->Close();
  }
}
BENCHMARK(BM_OdbcLayerCalls)
    ->MinTime(2.0)
    ->Repetitions(kRepetitions)
    ->Unit(benchmark::kMicrosecond);

void BM_MonitorPoll(benchmark::State& state) {
  const Environment& env = Env();
  PollWithoutStoring monitor;
  {
    std::lock_guard lock(monitor.Mutex());
    monitor.customConnectionString = true;
    monitor.connectionString = env.connection;
    for (const char* query : kQueries) monitor.AddTestQuery().query = query;
  }
  for (auto _ : state) monitor.Poll();
  std::lock_guard lock(monitor.Mutex());
  if (!monitor.current.available || monitor.testQueries[2].value != 42) std::abort();
}
BENCHMARK(BM_MonitorPoll)->MinTime(2.0)->Repetitions(kRepetitions)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then each benchmark's median time over all its repetitions
// against that of the direct calls.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        times_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double direct = Median("BM_DirectOdbcCalls");
    if (direct > 0) {
      std::printf(
          "\nRatios of the medians over all repetitions (poll %zu, ODBC layer %zu, direct %zu):\n",
          times_["BM_MonitorPoll"].size(), times_["BM_OdbcLayerCalls"].size(),
          times_["BM_DirectOdbcCalls"].size());
      std::printf("poll / direct ODBC calls: %.3f (target <= 1.05)\n",
                  Median("BM_MonitorPoll") / direct);
      std::printf("ODBC layer / direct ODBC calls: %.3f\n", Median("BM_OdbcLayerCalls") / direct);
    }
  }

 private:
  double Median(const std::string& name) { return bench::SpreadOf(times_[name]).median; }

  std::map<std::string, std::vector<double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  Env();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
