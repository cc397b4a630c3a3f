// The report views' loads: each reads one monitor's rows of a period from the data file
// and turns them into the texts and series a view shows, and ReportLoader runs them one
// at a time on a worker of its own. The inputs are plain copies made on the user-interface
// thread; the results are plain values. The load functions may run on any thread (they
// open their own connection and may wait for the file); ReportLoader's calls are made on
// one thread, the user interface's.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "engine/report/report_logic.h"

namespace engine {

// What a load needs, copied from the monitor when it is asked for. The interval length
// follows from the period's span (ReportGranularity).
struct ReportInputs {
  std::string monitorId;
  std::vector<TestQueryName> testQueries;  // the monitor's, identifiers with names
  PeriodBounds period;
};

using TextRow3 = std::array<std::string, 3>;
using TextRow4 = std::array<std::string, 4>;

// "Availability history": the five figures and the last completed outages, oldest first.
struct AvailabilityReportTexts {
  std::array<std::string, 5> figures;
  std::vector<TextRow3> downtimes;
};

// "History": the five availability figures, the connection-time minimum, maximum and
// average over the whole period, and the test-query summary.
struct HistoryReportTexts {
  std::array<std::string, 5> availability;
  std::array<std::string, 3> connectionTime;
  std::vector<TextRow4> testQueries;
};

// "Connection Time history": the interval rows newest first, and the chart's series
// minimum, maximum and average (0, 1, 2) oldest first.
struct ConnectionTimeReportTexts {
  int granularity = 0;
  std::vector<TextRow4> intervals;
  std::array<Series, 3> series;
};

// "Test Queries history": the total-time interval rows newest first and the summary.
struct TestQueriesReportTexts {
  int granularity = 0;
  std::vector<TextRow4> intervals;
  std::vector<TextRow4> testQueries;
};

// "Health history": the unhealthy share per interval and the "Critical" / "Clear" texts.
struct HealthReportTexts {
  int granularity = 0;
  Series critical;
  std::string criticalText = "-";
  std::string clearText = "-";
};

// Each gives nothing when the data file cannot be read; the view then keeps what it shows.
std::optional<AvailabilityReportTexts> LoadAvailabilityReport(const ReportInputs& inputs);
std::optional<HistoryReportTexts> LoadHistoryReport(const ReportInputs& inputs);
std::optional<ConnectionTimeReportTexts> LoadConnectionTimeReport(const ReportInputs& inputs);
std::optional<TestQueriesReportTexts> LoadTestQueriesReport(const ReportInputs& inputs);
std::optional<HealthReportTexts> LoadHealthReport(const ReportInputs& inputs);

enum class ReportKind { kAvailability, kHistory, kConnectionTime, kTestQueries, kHealth };

struct ReportRequest {
  ReportKind kind = ReportKind::kAvailability;
  ReportInputs inputs;
};

// A finished load: std::monostate when the data file could not be read.
using ReportTexts =
    std::variant<std::monostate, AvailabilityReportTexts, HistoryReportTexts,
                 ConnectionTimeReportTexts, TestQueriesReportTexts, HealthReportTexts>;

struct ReportResult {
  std::uint64_t generation = 0;
  ReportRequest request;
  ReportTexts texts;
};

// The load function of a request kind.
ReportTexts LoadReport(const ReportRequest& request);

// Runs one load at a time on its own worker. A request supersedes the one pending or
// running: only the newest request's result is handed to `deliver`, on the worker thread
// (the window wraps it in a call onto its own thread, where it checks IsCurrent again,
// since a newer request may have come meanwhile). Destruction waits for a running load.
class ReportLoader {
 public:
  using Deliver = std::function<void(ReportResult)>;
  using Load = std::function<ReportTexts(const ReportRequest&)>;

  // load: the load function; tests pass their own.
  explicit ReportLoader(Deliver deliver, Load load = LoadReport);
  ~ReportLoader();
  ReportLoader(const ReportLoader&) = delete;
  ReportLoader& operator=(const ReportLoader&) = delete;

  // Asks for a load; returns its generation, newer than every one before.
  std::uint64_t Request(ReportRequest request);
  // Drops the pending or running load's result (the view shows something else now).
  void Cancel();
  // True when the result answers the newest request and nothing was cancelled since.
  bool IsCurrent(const ReportResult& result) const;

 private:
  void Run();

  Deliver deliver_;
  Load load_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t generation_ = 0;  // of the newest request or cancellation
  std::optional<ReportResult> pending_;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace engine
