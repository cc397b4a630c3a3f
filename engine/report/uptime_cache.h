// The uptime cells of the pages, served from a cache of closed days. A day that has ended
// keeps its rows: polls store their samples at the time they began, so only the day that
// ended last can still gain or move rows, and only while a poll that began before its
// end is running. Per monitor, the cache keeps what the rows of each closed local day add
// to a period made of whole days; a page then reads only today's rows. The figures are
// exactly those of HtmlReport::GetUptimePercent over UptimePeriods(now).
// Any thread; page builders share UptimeCache::Shared() and fill it outside its lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace db {
class Database;
}

namespace engine {

// Local midnight of the calendar day `days` before the day of `now`; the system decides
// whether summer time applies at that midnight.
std::int64_t LocalMidnight(std::int64_t now, int days);

// An uptime cell: "-" when both sums are 0, else the up share as "99.50%".
std::string FormatUptime(std::int64_t up, std::int64_t down);

// The monitor's uptime cell from start to end, both included, read from its rows in the
// open data file: each row ends a span that began at the row before it in time order (the
// first at `start`, or at the monitor's first sample when that is later: data_reads.h) and
// counts as up or down by its own availability; the stretch after the last row is not
// counted. "-" when the rows cannot be read.
std::string UptimeOverRows(db::Database& data, const std::string& monitorId, std::int64_t start,
                           std::int64_t end);

// What the rows of one monitor in one day add to the uptime of a period made of whole
// days. Every row ends a span that began at the row before it in time order; the first
// row's span begins at whatever precedes the day, so it is kept apart.
struct DayUptime {
  std::int64_t start = 0;  // the day's midnight, included
  std::int64_t end = 0;    // the next midnight, excluded
  bool hasRows = false;
  std::int64_t firstTime = 0;
  bool firstAvailable = false;
  std::int64_t lastTime = 0;
  std::int64_t up = 0;  // the spans that end at the day's second and later rows
  std::int64_t down = 0;
};

class UptimeCache {
 public:
  // A closed day is kept only once this long has passed since it ended: a poll that began
  // before midnight stores its row, or moves the day's last row forward, when it ends.
  static constexpr std::int64_t kSettleSeconds = 3600;
  static constexpr int kDays = 30;  // the longest period of the pages

  // The cache of the pages and the e-mail report; never destroyed, so a page build
  // abandoned at exit may still use it.
  static UptimeCache& Shared();

  // The cells Today, Yesterday, Last 7 Days and Last 30 Days of the monitor's uptime row
  // for a page built at `now`, from the open data file (null: all "-"). Reads today's
  // rows and the days not yet cached.
  std::array<std::string, 4> Row(db::Database* data, const std::string& monitorId,
                                 std::int64_t now);

  // Forgets everything.
  void Clear();
  // How many monitor-days were read from the data file so far (cached or not).
  std::uint64_t DaysRead() const;

 private:
  struct MonitorDays {
    std::uint64_t generation = 0;            // MonitorDataGeneration when the days were read
    std::map<std::int64_t, DayUptime> days;  // by start
  };

  mutable std::mutex mutex_;
  std::int64_t today_ = 0;  // the midnight that began the day the cache holds days for
  std::string file_;        // the path of the data file the days were read from
  std::unordered_map<std::string, MonitorDays> monitors_;
  std::uint64_t daysRead_ = 0;
};

}  // namespace engine
