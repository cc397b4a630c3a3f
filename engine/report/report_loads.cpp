#include "engine/report/report_loads.h"

#include <algorithm>
#include <utility>

#include "engine/data/data_reads.h"

namespace engine {

namespace {

std::vector<std::string> Ids(const std::vector<TestQueryName>& queries) {
  std::vector<std::string> ids;
  ids.reserve(queries.size());
  for (const TestQueryName& query : queries) ids.push_back(query.id);
  return ids;
}

// The summary of the monitor's test queries; nothing when the file cannot be read.
std::optional<std::vector<TextRow4>> LoadSummary(const ReportInputs& inputs) {
  int status = 0;
  const std::vector<ReportTestQueryValues> found = LoadReportTestQueryValues(
      Ids(inputs.testQueries), inputs.period.start, inputs.period.end, &status);
  if (status != 0) return std::nullopt;
  TestQuerySummary summary;
  for (const ReportTestQueryValues& query : found) {
    for (std::int32_t value : query.values) summary.Add(query.testQueryId, value);
  }
  return summary.Rows(inputs.testQueries);
}

std::optional<std::vector<ReportSampleRow>> LoadRows(const ReportInputs& inputs) {
  int status = 0;
  std::vector<ReportSampleRow> rows =
      LoadReportSamples(inputs.monitorId, inputs.period.start, inputs.period.end, &status);
  if (status != 0) return std::nullopt;
  return rows;
}

// The period's rows and the monitor's first sample, read after them so that it is never
// later than a row read.
struct AvailabilityRows {
  std::vector<ReportSampleRow> rows;
  std::int64_t firstSample = kNoSampleYet;
};

std::optional<AvailabilityRows> LoadAvailabilityRows(const ReportInputs& inputs) {
  auto rows = LoadRows(inputs);
  if (!rows) return std::nullopt;
  int status = 0;
  const std::int64_t first = LoadFirstSampleTime(inputs.monitorId, &status);
  if (status != 0) return std::nullopt;
  return AvailabilityRows{std::move(*rows), first};
}

// The interval rows newest first.
std::vector<TextRow4> NewestFirst(const TimesReport& report) {
  std::vector<TextRow4> rows;
  rows.reserve(report.intervals.size());
  for (auto it = report.intervals.rbegin(); it != report.intervals.rend(); ++it) {
    rows.push_back(IntervalRowTexts(*it, report.granularity));
  }
  return rows;
}

}  // namespace

std::optional<AvailabilityReportTexts> LoadAvailabilityReport(const ReportInputs& inputs) {
  const auto read = LoadAvailabilityRows(inputs);
  if (!read) return std::nullopt;
  AvailabilityWalk walk(inputs.period.start, read->firstSample);
  for (const ReportSampleRow& row : read->rows) walk.Add(row.time, row.available);
  const AvailabilityResult result = walk.Finish();
  AvailabilityReportTexts texts;
  texts.figures = AvailabilityTexts(result);
  for (const DowntimeRecord& record : result.downtimes) {
    texts.downtimes.push_back(DowntimeRowTexts(record));
  }
  return texts;
}

std::optional<HistoryReportTexts> LoadHistoryReport(const ReportInputs& inputs) {
  const auto read = LoadAvailabilityRows(inputs);
  if (!read) return std::nullopt;
  AvailabilityWalk walk(inputs.period.start, read->firstSample, false);
  ValueStats connection;
  for (const ReportSampleRow& row : read->rows) {
    walk.Add(row.time, row.available);
    connection.Add(row.connectionTime);
  }
  auto summary = LoadSummary(inputs);
  if (!summary) return std::nullopt;
  HistoryReportTexts texts;
  texts.availability = AvailabilityTexts(walk.Finish());
  texts.connectionTime = {StatText(connection.Min()), StatText(connection.Max()),
                          StatText(connection.Average())};
  texts.testQueries = std::move(*summary);
  return texts;
}

std::optional<ConnectionTimeReportTexts> LoadConnectionTimeReport(const ReportInputs& inputs) {
  const auto rows = LoadRows(inputs);
  if (!rows) return std::nullopt;
  TimesReportBuilder builder(inputs.period, true);
  for (const ReportSampleRow& row : *rows) builder.Add(row.time, row.connectionTime);
  TimesReport report = builder.Finish();
  ConnectionTimeReportTexts texts;
  texts.granularity = report.granularity;
  texts.intervals = NewestFirst(report);
  texts.series = std::move(report.series);
  return texts;
}

std::optional<TestQueriesReportTexts> LoadTestQueriesReport(const ReportInputs& inputs) {
  const auto rows = LoadRows(inputs);
  if (!rows) return std::nullopt;
  TimesReportBuilder builder(inputs.period, false);
  for (const ReportSampleRow& row : *rows) builder.Add(row.time, row.requestTime);
  const TimesReport report = builder.Finish();
  auto summary = LoadSummary(inputs);
  if (!summary) return std::nullopt;
  TestQueriesReportTexts texts;
  texts.granularity = report.granularity;
  texts.intervals = NewestFirst(report);
  texts.testQueries = std::move(*summary);
  return texts;
}

std::optional<HealthReportTexts> LoadHealthReport(const ReportInputs& inputs) {
  const auto rows = LoadRows(inputs);
  if (!rows) return std::nullopt;
  HealthReportBuilder builder(inputs.period);
  for (const ReportSampleRow& row : *rows) builder.Add(row.time, row.health ? 1 : 0);
  HealthReport report = builder.Finish();
  HealthReportTexts texts;
  texts.granularity = report.granularity;
  texts.critical = std::move(report.critical);
  texts.criticalText = std::move(report.criticalText);
  texts.clearText = std::move(report.clearText);
  return texts;
}

namespace {

template <typename T>
ReportTexts Texts(std::optional<T> texts) {
  if (!texts) return std::monostate{};
  return std::move(*texts);
}

}  // namespace

ReportTexts LoadReport(const ReportRequest& request) {
  switch (request.kind) {
    case ReportKind::kAvailability:
      return Texts(LoadAvailabilityReport(request.inputs));
    case ReportKind::kHistory:
      return Texts(LoadHistoryReport(request.inputs));
    case ReportKind::kConnectionTime:
      return Texts(LoadConnectionTimeReport(request.inputs));
    case ReportKind::kTestQueries:
      return Texts(LoadTestQueriesReport(request.inputs));
    case ReportKind::kHealth:
      return Texts(LoadHealthReport(request.inputs));
  }
  return std::monostate{};
}

ReportLoader::ReportLoader(Deliver deliver, Load load)
    : deliver_(std::move(deliver)), load_(std::move(load)), worker_([this] { Run(); }) {}

ReportLoader::~ReportLoader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    pending_.reset();
  }
  wake_.notify_all();
  worker_.join();
}

std::uint64_t ReportLoader::Request(ReportRequest request) {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    generation = ++generation_;
    pending_ = ReportResult{generation, std::move(request), std::monostate{}};
  }
  wake_.notify_all();
  return generation;
}

void ReportLoader::Cancel() {
  std::lock_guard lock(mutex_);
  ++generation_;
  pending_.reset();
}

bool ReportLoader::IsCurrent(const ReportResult& result) const {
  std::lock_guard lock(mutex_);
  return result.generation == generation_;
}

void ReportLoader::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
    if (stop_) return;
    ReportResult result = std::move(*pending_);
    pending_.reset();
    lock.unlock();
    try {
      result.texts = load_(result.request);
    } catch (...) {
      result.texts = std::monostate{};
    }
    lock.lock();
    if (stop_ || result.generation != generation_) continue;
    lock.unlock();
    deliver_(std::move(result));
    lock.lock();
  }
}

}  // namespace engine
