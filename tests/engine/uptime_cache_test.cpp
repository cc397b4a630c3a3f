// The uptime cache against the rows themselves: over weeks of irregular rows in a time
// zone with summer time, every cell the cache gives equals the cell read from the rows of
// its whole period; rows moved by a poll that ends after midnight, deleted rows and a new
// day are read again.
#include "engine/report/uptime_cache.h"

#include <gtest/gtest.h>
#include <time.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/data/data_changes.h"
#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/report/html_report.h"
#include "tests/engine/html_fixture.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::LocalTime;

class UptimeCacheTest : public testing::HtmlDataTest {
 protected:
  void SetUp() override {
    HtmlDataTest::SetUp();
    tz_.emplace("TZ", "Europe/Berlin");
    tzset();
    ASSERT_EQ(DataFiles::OpenDatabase(data_, DataFiles::kDataFileName), 0);
  }

  // Rows of the monitor from `from` to `to`: gaps of a second to three hours, some rows on
  // the same second as the one before, some exactly on a local midnight.
  void AddIrregularRows(const std::string& monitorId, std::int64_t from, std::int64_t to,
                        std::uint32_t seed) {
    ASSERT_EQ(db::Database::ExecSQL(data_, "BEGIN"), 0);
    for (std::int64_t t = from; t < to;) {
      seed = seed * 1103515245u + 12345u;
      const std::uint32_t r = seed >> 8;
      sql::OdbcDataSourceDataRow row;
      row.monitorId = monitorId;
      row.time = t;
      row.available = (r >> 12) % 5 != 0;
      ASSERT_EQ(db::Database::ExecSQL(data_, sql::InsertOdbcDataSourceData(row)), 0);
      switch (r % 10) {
        case 0:
          break;  // the same second again
        case 1:
          t = LocalMidnight(t, -1);  // the next midnight
          break;
        default:
          t += 1 + static_cast<std::int64_t>((r >> 4) % 10'800);
      }
    }
    ASSERT_EQ(db::Database::ExecSQL(data_, "COMMIT"), 0);
  }

  // The cells read from the rows of each whole period.
  static std::array<std::string, 4> Uncached(const std::string& monitorId, std::int64_t now) {
    std::array<std::string, 4> cells;
    const auto periods = UptimePeriods(now);
    for (int c = 0; c < 4; ++c) {
      cells[c] = HtmlReport::GetUptimePercent(monitorId, periods[c].start, periods[c].end);
    }
    return cells;
  }

  // The cache's row, read `reads` times in a row, equals the cells read from the rows.
  void ExpectSameCells(UptimeCache& cache, const std::string& monitorId, std::int64_t now,
                       const std::string& what, int reads = 1) {
    const std::array<std::string, 4> expected = Uncached(monitorId, now);
    for (int read = 1; read <= reads; ++read) {
      EXPECT_EQ(cache.Row(&data_, monitorId, now), expected)
          << what << ", read " << read << ", monitor " << monitorId << ", now " << now;
    }
  }

  db::Database data_;
};

TEST_F(UptimeCacheTest, CachedCellsEqualCellsReadFromTheRows) {
  // Weeks around both changes of summer time in 2025, in a zone that changes at night
  // and in one that changes at midnight (whose midnight may not exist).
  const struct {
    const char* zone;
    std::array<int, 2> spring;  // month, day of the change
    std::array<int, 2> autumn;
  } zones[] = {
      {"Europe/Berlin", {3, 30}, {10, 26}},
      {"America/Havana", {3, 9}, {11, 2}},
  };
  std::uint32_t seed = 7;
  for (const auto& zone : zones) {
    tz_.emplace("TZ", zone.zone);
    tzset();
    for (const std::array<int, 2>& change : {zone.spring, zone.autumn}) {
      const std::int64_t day = LocalTime(2025, change[0], change[1], 12);
      const std::int64_t next = LocalMidnight(day, -1);
      const std::string name = std::string(zone.zone) + " " + std::to_string(change[0]);
      const std::string irregular = name + " irregular";
      const std::string sparse = name + " sparse";  // days without rows
      const std::string empty = name + " empty";
      const std::int64_t from = day - 40 * 86'400, to = day + 12 * 86'400;
      AddIrregularRows(irregular, from, to, seed++);
      for (std::int64_t t = from; t < to; t += 2 * 86'400 + 3'593) {
        AddSample(sparse, t, (t / 7) % 3 != 0);
      }
      // A cache kept across pages, as the page writer keeps it; the page times go forward
      // through the days, then back to earlier ones (a clock set back).
      UptimeCache cache;
      std::vector<std::int64_t> nows;
      for (std::int64_t now = day - 10 * 86'400; now < to; now += 13 * 3600 + 1'234) {
        nows.push_back(now);
      }
      for (std::int64_t offset : {0, 600, 3599, 3600, 86'399}) {
        nows.push_back(LocalMidnight(day, 0) + offset);
        nows.push_back(next + offset);
      }
      for (std::int64_t now : nows) {
        for (const std::string& id : {irregular, sparse, empty}) {
          ExpectSameCells(cache, id, now, name, 2);
        }
      }
    }
  }
}

TEST_F(UptimeCacheTest, ARowMovedByAPollThatEndsAfterMidnightCounts) {
  const std::string id = "extended";
  // Yesterday's last row at 23:50, then a poll that began at 23:59:30 and ends after
  // midnight moves it forward (an unchanged sample) or adds a new one.
  const std::int64_t yesterday = LocalTime(2025, 6, 10);
  const std::int64_t today = LocalTime(2025, 6, 11);
  const struct {
    const char* name;
    std::string sql;
  } polls[] = {
      {"moved forward", sql::ExtendOdbcDataSourceData(today - 30, id, today - 600)},
      {"a new row", ""},
  };
  for (const auto& poll : polls) {
    Exec("DELETE FROM ODBCDataSourcesData");
    NoteMonitorDataDeleted(id);
    AddSample(id, yesterday - 3600, true);
    AddSample(id, yesterday + 3600, false);
    AddSample(id, today - 600, false);
    UptimeCache cache;
    ExpectSameCells(cache, id, today + 600, poll.name);
    if (poll.sql.empty()) {
      AddSample(id, today - 30, true);
    } else {
      Exec(poll.sql);
    }
    AddSample(id, today + 900, true);
    for (std::int64_t now : {today + 1200, today + 3599, today + 3600, today + 7200}) {
      ExpectSameCells(cache, id, now, poll.name);
    }
  }
}

TEST_F(UptimeCacheTest, DeletedRowsAreReadAgain) {
  const std::int64_t now = LocalTime(2025, 6, 11, 14);
  AddIrregularRows("kept", now - 40 * 86'400, now, 11);
  UptimeCache cache;
  const struct {
    const char* name;
    std::string deletion;
  } cases[] = {
      {"the monitor deleted", "DELETE FROM ODBCDataSourcesData WHERE monitorId = 'deleted'"},
      {"a day of its rows deleted",
       "DELETE FROM ODBCDataSourcesData WHERE monitorId = 'deleted' AND time >= '" +
           std::to_string(now - 5 * 86'400) + "' AND time < '" + std::to_string(now - 4 * 86'400) +
           "'"},
  };
  for (const auto& c : cases) {
    Exec("DELETE FROM ODBCDataSourcesData WHERE monitorId = 'deleted'");
    NoteMonitorDataDeleted("deleted");
    AddIrregularRows("deleted", now - 40 * 86'400, now, 12);
    ExpectSameCells(cache, "deleted", now, c.name);
    ExpectSameCells(cache, "kept", now, c.name);
    const std::uint64_t before = cache.DaysRead();
    Exec(c.deletion);
    NoteMonitorDataDeleted("deleted");
    ExpectSameCells(cache, "deleted", now + 60, c.name);
    ExpectSameCells(cache, "kept", now + 60, c.name);
    // Only the monitor whose rows were deleted is read again.
    EXPECT_EQ(cache.DaysRead() - before, UptimeCache::kDays) << c.name;
  }
}

TEST_F(UptimeCacheTest, ClosedDaysAreReadOncePerDay) {
  const std::int64_t day = LocalTime(2025, 3, 31);  // after a day of 23 hours
  AddIrregularRows("m", day - 35 * 86'400, day + 2 * 86'400, 3);
  UptimeCache cache;
  const struct {
    const char* name;
    std::int64_t now;
    std::uint64_t daysRead;  // by this page
  } pages[] = {
      {"first page of the day", day + 600, UptimeCache::kDays},
      {"yesterday may still change", day + 1200, 1},
      {"yesterday has settled", day + UptimeCache::kSettleSeconds, 1},
      {"all days kept", day + 5 * 3600, 0},
      {"the clock went back within the day", day + 4 * 3600, 0},
      {"the next day", day + 86'400 + 2 * 3600, UptimeCache::kDays},
      {"the clock went back a day", day + 5 * 3600, UptimeCache::kDays},
  };
  for (const auto& page : pages) {
    const std::uint64_t before = cache.DaysRead();
    ExpectSameCells(cache, "m", page.now, page.name);
    EXPECT_EQ(cache.DaysRead() - before, page.daysRead) << page.name;
  }
  cache.Clear();
  EXPECT_EQ(cache.Row(nullptr, "m", day + 600), (std::array<std::string, 4>{"-", "-", "-", "-"}));
}

// A monitor first polled at 23:22: no cell counts time before its first row; with rows from
// before, each period counts from its start.
TEST_F(UptimeCacheTest, CellsCountFromTheMonitorsFirstSample) {
  const std::int64_t day = LocalTime(2025, 6, 10);
  const std::int64_t first = day + (23 * 60 + 22) * 60;
  const std::array<std::string, 3> ids = {"first up", "first down", "older"};
  for (const std::string& id : ids) {
    const bool s = id != "first down";
    if (id == "older") AddSample(id, day - 40 * 86'400, true);
    AddSample(id, first, s);
    AddSample(id, first + 8 * 60, !s);
    AddSample(id, first + 18 * 60, s);
  }
  using Cells = std::array<std::string, 4>;  // Today, Yesterday, Last 7 Days, Last 30 Days
  const struct {
    std::int64_t now;
    std::array<Cells, 3> cells;  // per monitor
  } pages[] = {
      {first + 20 * 60,
       {{{"55.56%", "-", "-", "-"}, {"44.44%", "-", "-", "-"}, {"99.44%", "-", "-", "-"}}}},
      {day + 86'400 + 8 * 3600,
       {{{"-", "55.56%", "55.56%", "55.56%"},
         {"-", "44.44%", "44.44%", "44.44%"},
         {"-", "99.44%", "99.92%", "99.98%"}}}},
  };
  // The pages and the e-mail report take their cells from the shared cache's rows
  // (PagesAndTheEMailReportShareOneCache).
  UptimeCache cache;
  for (const auto& page : pages) {
    for (std::size_t m = 0; m < ids.size(); ++m) {
      EXPECT_EQ(Uncached(ids[m], page.now), page.cells[m]) << ids[m] << " at " << page.now;
      EXPECT_EQ(cache.Row(&data_, ids[m], page.now), page.cells[m]) << ids[m] << " at " << page.now;
    }
  }
}

TEST_F(UptimeCacheTest, PagesAndTheEMailReportShareOneCache) {
  HtmlSnapshot snapshot;
  snapshot.now = LocalTime(2025, 10, 27, 9, 30);  // the day after a day of 25 hours
  for (const char* id : {"first", "second"}) {
    HtmlMonitorInfo monitor;
    monitor.id = id;
    monitor.name = id;
    snapshot.monitors.push_back(monitor);
    AddIrregularRows(id, snapshot.now - 35 * 86'400, snapshot.now, id[0]);
  }
  UptimeCache& shared = UptimeCache::Shared();
  shared.Clear();
  const std::uint64_t before = shared.DaysRead();
  std::string index, report;
  HtmlReport::BuildSnapshotPage(snapshot, index);
  EXPECT_EQ(shared.DaysRead() - before, 2 * UptimeCache::kDays);
  HtmlReport::BuildReportPage(snapshot, report);
  EXPECT_EQ(shared.DaysRead() - before, 2 * UptimeCache::kDays);
  for (const HtmlMonitorInfo& monitor : snapshot.monitors) {
    std::string indexCells, reportCells;
    for (const std::string& cell : Uncached(monitor.id, snapshot.now)) {
      indexCells += "<td class = \"style2\">" + cell + "</td>\n";
      reportCells += "<td>" + cell + "</td>\n";
    }
    EXPECT_NE(index.find(">" + monitor.name + "</td>\n" + indexCells), std::string::npos);
    EXPECT_NE(report.find(">" + monitor.name + "</td>\n" + reportCells), std::string::npos);
  }
}

}  // namespace
}  // namespace engine
