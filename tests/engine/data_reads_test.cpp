// Reads of the data file for the views: time order whatever the order written, the newest
// rows under a limit, periods with both ends, one monitor's rows only (identifiers with
// apostrophes included), failures that give no rows, and the sums of today's uptime with
// and without the poll's sample not stored yet. A list of a monitor's log that reads only the
// rows written since ends up with the rows a whole read gives, whatever happened to the file.
#include "engine/data/data_reads.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>

#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::ExecData;

constexpr std::int64_t kT = 1'700'000'000;
const std::string kMonitor = "mon'itor";  // an apostrophe must not end its literal
const std::string kOther = "other";

class DataReadsTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    // Written out of time order; two log rows share a time.
    for (const auto& [time, text] : std::vector<std::pair<std::int64_t, std::string>>{
             {kT + 30, "c"}, {kT + 10, "a"}, {kT + 20, "b1"}, {kT + 20, "b2"}, {kT + 40, "d"}}) {
      ExecData(sql::InsertLog(kMonitor, time, text == "d" ? 1 : 0, text));
      ExecData(sql::InsertAlertsData(kMonitor, "alert " + text, time, "action", "title " + text));
    }
    ExecData(sql::InsertLog(kOther, kT + 15, 0, "other"));
    ExecData(sql::InsertAlertsData(kOther, "x", kT + 15, "action", "other"));

    for (std::int64_t offset : {300, 100, 200, 400}) {
      sql::OdbcDataSourceDataRow row;
      row.monitorId = kMonitor;
      row.time = kT + offset;
      row.available = offset != 200;
      row.health = offset == 100;
      row.errorCode = offset == 200 ? -1 : 0;
      row.errorDescription = offset == 200 ? "down" : "";
      row.connectionTime = offset == 200 ? -1 : static_cast<std::int32_t>(offset / 10);
      row.requestTime = offset == 200 ? -1 : static_cast<std::int32_t>(offset / 100);
      ExecData(sql::InsertOdbcDataSourceData(row));
      row.monitorId = kOther;
      ExecData(sql::InsertOdbcDataSourceData(row));
      for (const char* query : {"q1", "q'2", "q3"}) {
        ExecData(sql::InsertTestQueryData(kMonitor, query, kT + offset,
                                          static_cast<std::int32_t>(offset), 0, ""));
      }
      ExecData(sql::InsertTestQueryData(kOther, "q1", kT + offset, 7, 0, ""));
    }
  }
};

template <typename Row, typename Field>
std::vector<Field> Column(const std::vector<Row>& rows, Field Row::*field) {
  std::vector<Field> out;
  for (const Row& row : rows) out.push_back(row.*field);
  return out;
}

TEST_F(DataReadsTest, LogAndAlertsDataKeepTheNewestRowsInTimeOrder) {
  const struct {
    std::size_t limit;
    std::vector<std::string> texts;
  } cases[] = {
      {0, {"a", "b1", "b2", "c", "d"}},    // every row; equal times as written
      {2, {"c", "d"}},                     // the newest two, oldest first
      {3, {"b2", "c", "d"}},               // a limit may split equal times
      {100, {"a", "b1", "b2", "c", "d"}},  //
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::vector<LogRow> log = LoadLog(kMonitor, c.limit, &status);
    EXPECT_EQ(status, SQLITE_OK);
    EXPECT_EQ(Column(log, &LogRow::text), c.texts) << "limit " << c.limit;

    std::vector<std::string> titles;
    for (const std::string& text : c.texts) titles.push_back("title " + text);
    const std::vector<AlertsDataRow> alerts = LoadAlertsData(kMonitor, c.limit, &status);
    EXPECT_EQ(status, SQLITE_OK);
    EXPECT_EQ(Column(alerts, &AlertsDataRow::title), titles) << "limit " << c.limit;
  }
  const std::vector<LogRow> log = LoadLog(kMonitor, 1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].time, kT + 40);
  EXPECT_EQ(log[0].type, 1);
  const std::vector<AlertsDataRow> alerts = LoadAlertsData(kMonitor, 1);
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].alertId, "alert d");
  EXPECT_EQ(alerts[0].actionId, "action");
  EXPECT_EQ(alerts[0].time, kT + 40);
  EXPECT_TRUE(LoadLog("nobody", 0).empty());
}

// The rows a list holds once it applies an update.
std::vector<LogRow> Applied(std::vector<LogRow> held, const LogUpdate& update) {
  if (update.whole) held.clear();
  held.insert(held.end(), update.rows.begin(), update.rows.end());
  return held;
}

TEST_F(DataReadsTest, ALogUpdateGivesTheRowsWrittenSinceOnlyWhileTheyFollowTheRowsHeld) {
  const std::string other = "other";
  const auto write = [](const std::string& id, std::int64_t time, const char* text) {
    return sql::InsertLog(id, time, 0, text);
  };
  // Before each change the file holds, in rowid order: o1, a, b, o2, c, o3 (the monitor's
  // rows a, b, c at kT + 10, 20, 30 between another monitor's), and the list has read it whole.
  const std::vector<std::string> start = {
      write(other, kT + 5, "o1"),  write(kMonitor, kT + 10, "a"), write(kMonitor, kT + 20, "b"),
      write(other, kT + 25, "o2"), write(kMonitor, kT + 30, "c"), write(other, kT + 35, "o3")};
  const struct {
    const char* name;
    std::vector<std::string> change;
    bool whole;
  } cases[] = {
      {"nothing new", {}, false},
      {"rows written since", {write(kMonitor, kT + 40, "d"), write(kMonitor, kT + 40, "e")}, false},
      {"another monitor's rows only", {write(other, kT + 50, "o4")}, false},
      {"a row written since at the newest time held", {write(kMonitor, kT + 30, "c2")}, false},
      // The other monitor held the largest rowid; the next row written takes it again, below
      // the largest rowid the last read saw.
      {"another monitor's log cleared and its last rowid used again",
       {sql::DeleteLogOfMonitor(other), write(kMonitor, kT + 40, "d")},
       true},
      {"the log cleared and as many rows written again",
       {sql::DeleteLogOfMonitor(kMonitor), write(kMonitor, kT + 40, "x"),
        write(kMonitor, kT + 41, "y"), write(kMonitor, kT + 42, "z")},
       true},
      {"an old row deleted", {"DELETE FROM Log WHERE text = 'a'"}, true},
      {"the last row held deleted and a newer one written",
       {"DELETE FROM Log WHERE text = 'c'", write(kMonitor, kT + 40, "d")},
       true},
      {"a row written since that sorts before the newest held (a clock set back)",
       {write(kMonitor, kT + 25, "late")},
       true},
      // As a VACUUM may: the same rows under other rowids.
      {"the rowids renumbered",
       {"CREATE TABLE Copy AS SELECT * FROM Log", "DELETE FROM Log",
        "INSERT INTO Log SELECT * FROM Copy WHERE monitorId = 'other'",
        "INSERT INTO Log SELECT * FROM Copy WHERE monitorId <> 'other'", "DROP TABLE Copy"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExecData("DELETE FROM Log");
    for (const std::string& statement : start) ExecData(statement);
    int status = -1;
    const LogUpdate first = LoadLogUpdate(kMonitor, nullptr, &status);
    ASSERT_EQ(status, SQLITE_OK);
    EXPECT_TRUE(first.whole);
    EXPECT_EQ(first.rows, LoadLog(kMonitor, 0));

    for (const std::string& statement : c.change) ExecData(statement);
    status = -1;
    const LogUpdate next = LoadLogUpdate(kMonitor, &first.mark, &status);
    ASSERT_EQ(status, SQLITE_OK);
    EXPECT_EQ(next.whole, c.whole);
    EXPECT_EQ(Applied(first.rows, next), LoadLog(kMonitor, 0));
    // The new mark stands for what the list holds now.
    const LogUpdate again = LoadLogUpdate(kMonitor, &next.mark);
    EXPECT_FALSE(again.whole);
    EXPECT_TRUE(again.rows.empty());
  }

  // A list that read a monitor without rows takes its first rows as following.
  ExecData("DELETE FROM Log");
  const LogUpdate none = LoadLogUpdate(kMonitor, nullptr);
  EXPECT_TRUE(none.rows.empty());
  EXPECT_EQ(none.mark, LogMark{});
  ExecData(write(other, kT + 5, "o1"));
  ExecData(write(kMonitor, kT + 10, "a"));
  const LogUpdate firstRows = LoadLogUpdate(kMonitor, &none.mark);
  EXPECT_FALSE(firstRows.whole);
  EXPECT_EQ(firstRows.rows, LoadLog(kMonitor, 0));
}

TEST(LogMarks, ATailFollowsOnlyTheRowsHeldInTheirOrder) {
  const LogRow c{kT + 30, 0, "c"};
  const LogMark held{3, 5, c, kT + 30};
  const auto after = [](std::vector<std::int64_t> times) {
    std::vector<StoredLogRow> rows;
    std::int64_t rowid = 6;
    for (std::int64_t time : times) rows.push_back({rowid++, {time, 0, "new"}});
    return rows;
  };
  const struct {
    const char* name;
    LogMark held;
    LogTail tail;
    bool follows;
  } cases[] = {
      {"the rows held, none since", held, {3, c, {}}, true},
      {"rows since at and after the newest time", held, {3, c, after({kT + 30, kT + 40})}, true},
      {"fewer rows up to the mark", held, {2, c, after({kT + 40})}, false},
      {"more rows up to the mark", held, {4, c, {}}, false},
      {"no row at the mark", held, {3, std::nullopt, {}}, false},
      {"another row at the mark", held, {3, LogRow{kT + 30, 1, "c"}, {}}, false},
      {"a row since before the newest time", held, {3, c, after({kT + 29, kT + 40})}, false},
      {"nothing held, rows since", {}, {0, std::nullopt, after({kT})}, true},
      {"nothing held, rows below the mark", {}, {1, std::nullopt, {}}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(LogTailFollows(c.held, c.tail), c.follows) << c.name;

  // The largest rowid need not be the newest row; the newest time is the last row's.
  const LogRow older{kT + 10, 1, "written later, dated earlier"};
  const LogRow newer{kT + 20, 0, "newest"};
  EXPECT_EQ(MarkWith({}, {{7, older}, {6, newer}}), (LogMark{2, 7, older, kT + 20}));
  EXPECT_EQ(MarkWith(held, {}), held);
  EXPECT_EQ(MarkWith(held, {{8, newer}}), (LogMark{4, 8, newer, kT + 20}));
}

TEST_F(DataReadsTest, SamplesOfAPeriodWithBothEnds) {
  const struct {
    std::int64_t start, end;
    std::vector<std::int64_t> times;
  } cases[] = {
      {kT, kT + 1000, {kT + 100, kT + 200, kT + 300, kT + 400}},
      {kT + 200, kT + 300, {kT + 200, kT + 300}},
      {kT + 201, kT + 299, {}},
      {kT + 300, kT + 300, {kT + 300}},
      {kT + 300, kT + 200, {}},
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::vector<SampleRow> rows = LoadSamples(kMonitor, c.start, c.end, &status);
    EXPECT_EQ(status, SQLITE_OK);
    EXPECT_EQ(Column(rows, &SampleRow::time), c.times) << c.start - kT << ".." << c.end - kT;
  }
  const std::vector<SampleRow> rows = LoadSamples(kMonitor, kT + 100, kT + 200);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].available);
  EXPECT_TRUE(rows[0].health);
  EXPECT_EQ(rows[0].connectionTime, 10);
  EXPECT_EQ(rows[0].requestTime, 1);
  EXPECT_FALSE(rows[1].available);
  EXPECT_FALSE(rows[1].health);
  EXPECT_EQ(rows[1].errorCode, -1);
  EXPECT_EQ(rows[1].errorDescription, "down");
  EXPECT_EQ(rows[1].connectionTime, -1);
  EXPECT_EQ(rows[1].requestTime, -1);
}

TEST_F(DataReadsTest, TestQuerySamplesOfTheGivenQueriesOnly) {
  const struct {
    std::vector<std::string> ids;
    std::int64_t start, end;
    std::vector<std::string> rowIds;
  } cases[] = {
      {{"q1"}, kT, kT + 1000, {"q1", "q1", "q1", "q1"}},
      {{"q'2", "q3"}, kT + 100, kT + 200, {"q'2", "q3", "q'2", "q3"}},
      {{"q1", "unknown"}, kT + 400, kT + 400, {"q1"}},
      {{}, kT, kT + 1000, {}},
      {{"q1"}, kT + 401, kT + 1000, {}},
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::vector<TestQuerySampleRow> rows =
        LoadTestQuerySamples(kMonitor, c.ids, c.start, c.end, &status);
    EXPECT_EQ(status, SQLITE_OK);
    EXPECT_EQ(Column(rows, &TestQuerySampleRow::testQueryId), c.rowIds);
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LE(rows[i - 1].time, rows[i].time);
  }
  // The other monitor's rows of a test query with the same identifier stay out.
  const auto rows = LoadTestQuerySamples(kMonitor, {"q1"}, kT + 100, kT + 100);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].value, 100);
}

// Today's uptime is summed in the program from the ordered rows; the figures are those of
// a window query, whatever the rows: out of order, sharing times, on and before the start,
// after the end (a clock set back), of another monitor, the monitor's first row before or
// after the start. A poll's sample not stored yet counts as the row its storing writes.
TEST_F(DataReadsTest, UptimeSinceGivesTheFiguresOfTheWindowQuery) {
  std::uint32_t noise = 7;
  const auto next = [&](std::uint32_t range) {
    noise = noise * 1103515245u + 12345u;
    return static_cast<std::int64_t>((noise >> 8) % range);
  };
  const auto read = [](std::int64_t until, const UnstoredSample* unstored) {
    db::Database data;
    std::pair<std::int64_t, std::int64_t> figures{-1, -1};
    EXPECT_EQ(DataFiles::OpenDatabase(data, DataFiles::kDataFileName), SQLITE_OK);
    EXPECT_EQ(ReadUptimeSince(data, "ODBCDataSources", "u", kT, until, unstored, &figures.first,
                              &figures.second),
              SQLITE_OK);
    return figures;
  };
  for (int round = 0; round < 40; ++round) {
    ExecData("DELETE FROM ODBCDataSourcesData WHERE monitorId IN ('u', 'v')");
    const int rows = static_cast<int>(next(12));
    for (int i = 0; i < rows; ++i) {
      for (const char* id : {"u", "v"}) {
        sql::OdbcDataSourceDataRow row;
        row.monitorId = id;
        row.time = kT - 120 + next(20) * 60;  // some on or before the start, some equal
        row.available = next(3) != 0;
        ExecData(sql::InsertOdbcDataSourceData(row));
      }
    }
    const std::int64_t until = kT + next(16) * 60 + 30;  // before some rows, on none
    EXPECT_EQ(read(until, nullptr), testing::WalkRows("u", kT, until)) << "round " << round;
    // The poll's sample counts as its row will once stored; one after the end, nowhere.
    const UnstoredSample sample{until, next(2) != 0};
    const UnstoredSample late{until + 60, true};
    const auto withSample = read(until, &sample);
    ExecData(sql::InsertOdbcDataSourceData(
        {.monitorId = "u", .time = sample.time, .available = sample.available}));
    EXPECT_EQ(withSample, testing::WalkRows("u", kT, until)) << "round " << round;
    EXPECT_EQ(read(until, &late), withSample) << "round " << round;
  }
  // A failed read leaves the figures as they were.
  ExecData("DROP TABLE ODBCDataSourcesData");
  db::Database data;
  ASSERT_EQ(DataFiles::OpenDatabase(data, DataFiles::kDataFileName), SQLITE_OK);
  std::int64_t up = 5;
  std::int64_t down = 6;
  EXPECT_EQ(ReadUptimeSince(data, "ODBCDataSources", "u", kT, kT + 600, nullptr, &up, &down),
            SQLITE_ERROR);
  EXPECT_EQ(up, 5);
  EXPECT_EQ(down, 6);
}

TEST_F(DataReadsTest, AFailedReadGivesItsResultAndNoRows) {
  const std::vector<std::pair<const char*, std::function<std::size_t(int*)>>> reads = {
      {"log", [](int* s) { return LoadLog(kMonitor, 0, s).size(); }},
      {"samples", [](int* s) { return LoadSamples(kMonitor, kT, kT + 1000, s).size(); }},
      {"test queries",
       [](int* s) { return LoadTestQuerySamples(kMonitor, {"q1"}, kT, kT + 1000, s).size(); }},
      {"alerts", [](int* s) { return LoadAlertsData(kMonitor, 0, s).size(); }},
      {"log update", [](int* s) { return LoadLogUpdate(kMonitor, nullptr, s).rows.size(); }},
      {"log update since a mark",
       [](int* s) {
         const LogMark nothing;
         return LoadLogUpdate(kMonitor, &nothing, s).rows.size();
       }},
  };
  // Each read gives the result; rows only with success. The status starts at a value the
  // read must overwrite.
  const auto expectReads = [&](int result, const char* when) {
    for (const auto& [name, read] : reads) {
      int status = result == SQLITE_OK ? -1 : SQLITE_OK;
      EXPECT_EQ(read(&status) > 0, result == SQLITE_OK) << name << when;
      EXPECT_EQ(status, result) << name << when;
    }
  };
  expectReads(SQLITE_OK, "");
  for (const char* table : {"Log", "ODBCDataSourcesData", "TestQueriesData", "AlertsData"}) {
    ExecData(std::string("DROP TABLE ") + table);
  }
  expectReads(SQLITE_ERROR, " without its table");
  // A data folder that cannot be made: the file cannot be opened.
  std::ofstream(dir_.File("blocker")) << "a file, not a folder";
  testing_support::ScopedEnv nowhere{"LUMIVAR_DOCUMENTS_DIR", dir_.File("blocker") + "/below"};
  expectReads(SQLITE_CANTOPEN, " without its file");
}

}  // namespace
}  // namespace engine
