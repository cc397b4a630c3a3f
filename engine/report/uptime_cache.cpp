#include "engine/report/uptime_cache.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <vector>

#include "engine/data/data_changes.h"
#include "engine/data/data_files.h"
#include "engine/data/data_reads.h"
#include "engine/data/statements.h"
#include "engine/db/cursor.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"

namespace engine {
namespace {

constexpr int kOdbcDataSourceKind = 2;  // the table whose rows hold every monitor's samples

// The monitor's rows from first to last, both included, in time order (ties in the order
// of the index, the same for every range).
bool Select(db::Statement& statement, db::Cursor** cursor, const std::string& monitorId,
            std::int64_t first, std::int64_t last) {
  const std::string sql =
      sql::SelectDataInPeriod("available, time", DataFiles::GetTableName(kOdbcDataSourceKind),
                              monitorId, first, last) +
      " ORDER BY time";
  return statement.Prepare(sql) == 0 && statement.Execute(cursor) == 0;
}

// The monitor's first sample (kNoSampleYet without one); false when it cannot be read.
bool FirstSample(db::Database& data, const std::string& monitorId, std::int64_t* first) {
  return ReadFirstSampleTime(data, DataFiles::GetTableName(kOdbcDataSourceKind), monitorId,
                             first) == 0;
}

// The rows of a period: each ends a span that began at the row before it (the first at
// CountedFrom(the period's start, the first sample)) and counts as up or down by its own
// availability. Only spans forward in time count.
struct PeriodScan {
  bool ok = false;
  std::int64_t up = 0;
  std::int64_t down = 0;
  bool startRow = false;  // a row lies exactly on the start
  bool startRowAvailable = false;
};

PeriodScan ScanPeriod(db::Database& data, const std::string& monitorId, std::int64_t start,
                      std::int64_t end, std::int64_t firstSample) {
  PeriodScan scan;
  db::Statement statement(data);
  db::Cursor* cursor = nullptr;
  if (!Select(statement, &cursor, monitorId, start, end)) return scan;
  std::int64_t previous = CountedFrom(start, firstSample);
  bool first = true;
  // A scan that fails part-way gives no figure rather than one from some of the rows.
  for (; !cursor->IsDone(); first = false) {
    const std::int64_t time = cursor->GetInt64(1);
    const bool available = cursor->GetInt(0) != 0;
    if (first && time == start) {
      scan.startRow = true;
      scan.startRowAvailable = available;
    }
    if (time > previous) {
      (available ? scan.up : scan.down) += time - previous;
      previous = time;
    }
    if (cursor->Next() != 0) return scan;
  }
  scan.ok = true;
  return scan;
}

// Fills `days` (contiguous, oldest first, each with its start and end) from one read of
// their rows. False when the read failed.
bool ReadDays(db::Database& data, const std::string& monitorId, std::vector<DayUptime>& days) {
  if (days.empty()) return true;
  db::Statement statement(data);
  db::Cursor* cursor = nullptr;
  if (!Select(statement, &cursor, monitorId, days.front().start, days.back().end - 1)) {
    return false;
  }
  std::size_t i = 0;
  for (; !cursor->IsDone();) {
    const std::int64_t time = cursor->GetInt64(1);
    const bool available = cursor->GetInt(0) != 0;
    while (i < days.size() && time >= days[i].end) ++i;
    if (i == days.size()) break;
    DayUptime& day = days[i];
    if (time >= day.start) {
      if (!day.hasRows) {
        day.hasRows = true;
        day.firstTime = day.lastTime = time;
        day.firstAvailable = available;
      } else if (time > day.lastTime) {
        (available ? day.up : day.down) += time - day.lastTime;
        day.lastTime = time;
      }
    }
    if (cursor->Next() != 0) return false;
  }
  return true;
}

}  // namespace

std::int64_t LocalMidnight(std::int64_t now, int days) {
  const time_t value = static_cast<time_t>(now);
  struct tm local {};
  if (localtime_r(&value, &local) == nullptr) return now;
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_mday -= days;
  local.tm_isdst = -1;
  const time_t midnight = mktime(&local);
  return midnight == static_cast<time_t>(-1) ? now : static_cast<std::int64_t>(midnight);
}

std::string FormatUptime(std::int64_t up, std::int64_t down) {
  if (up + down <= 0) return "-";
  const double value = 100.0 * static_cast<double>(up) / static_cast<double>(up + down);
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::fixed, 2);
  std::string text(buffer, result.ptr);
  text += '%';
  return text;
}

std::string UptimeOverRows(db::Database& data, const std::string& monitorId, std::int64_t start,
                           std::int64_t end) {
  std::int64_t first = kNoSampleYet;
  if (!FirstSample(data, monitorId, &first)) return "-";
  const PeriodScan scan = ScanPeriod(data, monitorId, start, end, first);
  return scan.ok ? FormatUptime(scan.up, scan.down) : "-";
}

UptimeCache& UptimeCache::Shared() {
  static auto* cache = new UptimeCache;
  return *cache;
}

std::array<std::string, 4> UptimeCache::Row(db::Database* data, const std::string& monitorId,
                                            std::int64_t now) {
  std::array<std::string, 4> cells{"-", "-", "-", "-"};
  if (data == nullptr || !data->IsOpen()) return cells;

  // midnight[j] begins the day j days back; day j (1..kDays) runs to midnight[j - 1].
  std::array<std::int64_t, kDays + 1> midnight{};
  bool ordered = true;
  for (int j = 0; j <= kDays; ++j) {
    midnight[j] = LocalMidnight(now, j);
    if (j > 0 && midnight[j] >= midnight[j - 1]) ordered = false;
  }
  if (!ordered || midnight[0] > now) {
    // A time the calendar cannot split into days: each period from its rows.
    const std::array<std::int64_t, 4> starts = {midnight[0], midnight[1], midnight[7],
                                                midnight[30]};
    for (int c = 0; c < 4; ++c) {
      cells[c] = UptimeOverRows(*data, monitorId, starts[c], c == 0 ? now : midnight[0]);
    }
    return cells;
  }

  // The days this row needs, oldest first; those the cache holds are filled in.
  std::vector<DayUptime> days(kDays);
  std::vector<bool> known(kDays, false);
  for (int j = kDays; j >= 1; --j) {
    days[kDays - j].start = midnight[j];
    days[kDays - j].end = midnight[j - 1];
  }
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    if (today_ != midnight[0] || file_ != data->Path()) {
      // A new day, the clock set back to an earlier one, or another data file.
      monitors_.clear();
      today_ = midnight[0];
      file_ = data->Path();
    }
    MonitorDays& cached = monitors_[monitorId];
    generation = MonitorDataGeneration(monitorId);
    if (cached.generation != generation) {
      cached.days.clear();  // rows were deleted since the days were read
      cached.generation = generation;
    }
    for (std::size_t i = 0; i < days.size(); ++i) {
      const auto it = cached.days.find(days[i].start);
      if (it != cached.days.end() && it->second.end == days[i].end) {
        days[i] = it->second;
        known[i] = true;
      }
    }
  }

  // One read for the days not cached, from the oldest of them to the newest.
  std::size_t firstUnknown = 0;
  while (firstUnknown < days.size() && known[firstUnknown]) ++firstUnknown;
  std::size_t endUnknown = days.size();
  while (endUnknown > firstUnknown && known[endUnknown - 1]) --endUnknown;
  bool daysOk = true;
  if (firstUnknown < endUnknown) {
    std::vector<DayUptime> read(days.begin() + static_cast<std::ptrdiff_t>(firstUnknown),
                                days.begin() + static_cast<std::ptrdiff_t>(endUnknown));
    for (DayUptime& day : read) day = DayUptime{day.start, day.end};
    daysOk = ReadDays(*data, monitorId, read);
    if (daysOk) {
      std::copy(read.begin(), read.end(), days.begin() + static_cast<std::ptrdiff_t>(firstUnknown));
      std::lock_guard lock(mutex_);
      daysRead_ += read.size();
      // Kept only while the cache is still for this day and file and no rows were
      // deleted since the generation was taken (before the read).
      if (today_ == midnight[0] && file_ == data->Path() &&
          MonitorDataGeneration(monitorId) == generation) {
        MonitorDays& cached = monitors_[monitorId];
        if (cached.generation == generation) {
          for (const DayUptime& day : read) {
            if (now - day.end >= kSettleSeconds) cached.days[day.start] = day;
          }
        }
      }
    }
  }

  // Today from its rows; a row exactly on today's midnight also ends the other periods.
  std::int64_t first = kNoSampleYet;
  if (!FirstSample(*data, monitorId, &first)) return cells;
  const PeriodScan today = ScanPeriod(*data, monitorId, midnight[0], now, first);
  if (today.ok) cells[0] = FormatUptime(today.up, today.down);
  if (!today.ok || !daysOk) return cells;

  // The spans that end at a day's first row or on today's midnight; one that would run
  // back in time (the monitor was deleted during the reads) counts nowhere.
  const auto span = [](std::int64_t from, std::int64_t to) {
    return std::max<std::int64_t>(0, to - from);
  };
  const std::array<int, 3> periodDays = {1, 7, 30};
  for (int c = 0; c < 3; ++c) {
    std::int64_t previous = CountedFrom(midnight[periodDays[c]], first);
    std::int64_t up = 0, down = 0;
    for (std::size_t i = days.size() - static_cast<std::size_t>(periodDays[c]); i < days.size();
         ++i) {
      const DayUptime& day = days[i];
      if (!day.hasRows) continue;
      (day.firstAvailable ? up : down) += span(previous, day.firstTime);
      up += day.up;
      down += day.down;
      previous = std::max(previous, day.lastTime);
    }
    if (today.startRow) (today.startRowAvailable ? up : down) += span(previous, midnight[0]);
    cells[c + 1] = FormatUptime(up, down);
  }
  return cells;
}

void UptimeCache::Clear() {
  std::lock_guard lock(mutex_);
  monitors_.clear();
  today_ = 0;
  file_.clear();
}

std::uint64_t UptimeCache::DaysRead() const {
  std::lock_guard lock(mutex_);
  return daysRead_;
}

}  // namespace engine
