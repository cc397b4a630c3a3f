// The program's HTML pages: the snapshot page "index.html" and the actions page
// "actions.html" in the data folder (the welcome view shows them), and the report page,
// the body of the periodic e-mail report. A page is built from an HtmlSnapshot – plain
// copies of the store's monitors and actions taken under their locks – and from the data
// file (uptime percentages, whose closed days come from UptimeCache::Shared(), and the
// last alerts); data values are HTML-escaped and every page is pure ASCII. Update and the
// Write functions build and write on the calling thread (the program asks its PageWriter
// instead, never the UI thread); BuildReportPage runs on the report thread; the builders
// that take a snapshot may run on any thread.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

// What the pages show of one monitor, copied from it under its lock.
struct HtmlMonitorInfo {
  struct AlertInfo {
    std::string id;
    std::string healthAttributeId;
    std::int32_t alertType = 0;  // 1: a clear alert
  };
  struct AttributeInfo {
    std::string id;
    std::string name;
  };

  std::string id;
  std::string name;
  std::string address;  // the data source name
  bool running = false;
  // The current sample. A new monitor's sample is available, not healthy, has time 0 and
  // no connection time.
  bool available = true;
  bool health = false;
  std::int64_t time = 0;             // of the poll; 0 before the first
  std::int64_t connectionTime = -1;  // ms; -1 when not measured
  std::vector<AlertInfo> alerts;
  std::vector<AttributeInfo> attributes;
};

// What the pages show of one action.
struct HtmlActionInfo {
  std::string id;
  std::string name;
  std::int32_t type = 0;  // 0 e-mail, 1 SMS, 2 execute SQL, 3 execute program, 4 user interface
  std::int32_t pollsCount = 1;
  std::string fromAddress;
  std::string toAddress;
  std::string datasourceName;
  std::string sqlQuery;
  std::string path;
  std::int32_t uiType = 0;  // 0 message box, 1 balloon, 2 open the application
};

// Everything a page needs of the store, at one moment.
struct HtmlSnapshot {
  std::int64_t now = 0;                   // the time shown in the title; periods end here
  std::vector<HtmlMonitorInfo> monitors;  // in store order
  std::vector<HtmlActionInfo> actions;    // in store order
};

// One row of the AlertsData table.
struct LastAlertRow {
  std::string monitorId;
  std::string alertId;
  std::int64_t time = 0;
  std::string actionId;
  std::string title;
};

// What writing one page file came to.
struct PageFileWrite {
  std::string path;  // the page file's full path
  bool written = false;
  std::string failure;  // when not written: the system's text for why not
};

// A period of the uptime table; both ends are included.
struct UptimePeriod {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// The four uptime periods of a page built at `now`, in column order: Today (local
// midnight to now), Yesterday, Last 7 Days and Last 30 Days (from local midnight of the
// calendar day 1, 7 or 30 days back to today's midnight). Days are calendar days, so a
// day on which summer time begins or ends is 23 or 25 hours long.
std::array<UptimePeriod, 4> UptimePeriods(std::int64_t now);

// Held only while one page file is written; page files are never written at the same time.
std::mutex& HtmlPageLock();

class HtmlReport {
 public:
  // From the monitor store (Services::Storage(); none: an empty store), read under its
  // locks:
  // Writes "index.html", then "actions.html", on the calling thread.
  static void Update();
  static void WriteIndexPage();
  static void WriteActionsPage();
  // The page text, replacing what `page` held.
  static void BuildSnapshotPage(std::string& page);
  static void BuildReportPage(std::string& page);
  // Copies of the store's monitors and actions and the current time (Clock::Now()).
  // Takes the store's lock, then each monitor's in turn.
  static HtmlSnapshot TakeSnapshot();

  // From a snapshot and the data file; any thread.
  // Builds the snapshot page and the actions page, then writes "index.html" and
  // "actions.html", each under HtmlPageLock. True when both were written; `writes`, when
  // given, gets what became of each, in that order.
  static bool WritePages(const HtmlSnapshot& snapshot,
                         std::vector<PageFileWrite>* writes = nullptr);
  static void BuildSnapshotPage(const HtmlSnapshot& snapshot, std::string& page);
  static void BuildReportPage(const HtmlSnapshot& snapshot, std::string& page);
  static void BuildActionsPage(const HtmlSnapshot& snapshot, std::string& page);

  // Replaces the file of that name in the data folder with the page: written to a
  // temporary file in the same folder and synced to the disk, then renamed over it, so a
  // reader sees the old page or the new one, never a part, even after a crash. False when
  // it could not be written; the old file then stays, `failure` (when given) gets the
  // system's text for why, and nothing else happens. Callers hold HtmlPageLock.
  static bool WritePage(const std::string& fileName, const std::string& page,
                        std::string* failure = nullptr);

  // The monitor's availability from start to end as "99.50%", from its rows of the data
  // file (no cache); "-" when there are none to measure or the data file cannot be read.
  static std::string GetUptimePercent(const std::string& monitorId, std::int64_t start,
                                      std::int64_t end);
  // The at most 10 newest AlertsData rows, newest first. The list stays as it was when
  // the data file cannot be read.
  static void LoadLastAlerts(std::vector<LastAlertRow>& rows);
  static bool HasActionOfType(const HtmlSnapshot& snapshot, std::int32_t type);
};

}  // namespace engine
