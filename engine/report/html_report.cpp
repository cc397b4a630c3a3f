#include "engine/report/html_report.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/cursor.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "engine/report/html_text.h"
#include "engine/report/uptime_cache.h"
#include "engine/store/server_storage.h"
#include "platform/documents.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/time_format.h"

namespace engine {
namespace {

// The pages' fixed text. Each literal is written exactly as the pages carry it: the
// tabs, double blanks, unclosed sections and the style rules' own oddities are part of
// the pages' bytes that earlier versions of this program wrote.
constexpr std::string_view kHead =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\n<HTML><HEAD><TITLE>Lumivar "
    "Snapshot</TITLE>\n<style type=\"text/css\">\ntable.style1 {border-width: 1px; border-style: "
    "solid; border-color: gray; }\ntd.style1 {font-size:12; font-face: \"arial\"; "
    "border-bottom-width: 1px; border-right-width: 1px; border-bottom-style: solid; "
    "border-right-style: solid; border-color: gray; background-color: #E6EBFF; padding: "
    "5px;}\nth.style1 {font-size:14; font-face: \"arial\"; border-bottom-width: 1px; "
    "border-bottom-style: solid; border-color: gray; background-color: #D6DBEF; text-align = "
    "\"left\"; padding: 5px;}\ntd.style2 {font-size:12; font-face: \"arial\"; border-bottom-width: "
    "1px; border-right-width: 1px; border-bottom-style: solid; border-right-style: solid; "
    "border-color: gray; padding: 5px;}\ntd.style2error {font-size:12; font-face: \"arial\"; "
    "border-bottom-width: 1px; border-right-width: 1px; border-bottom-style: solid; "
    "border-right-style: solid; border-color: gray; padding: 5px; background-color: "
    "#FFA0A0;}\nth.style2 {font-size:14; font-face: \"arial\"; border-bottom-width: 1px; "
    "border-right-width: 1px; border-bottom-style: solid; border-right-style: solid; border-color: "
    "gray; background-color: #D6DBEF;}\nth.style3 {font-size:14; font-face: \"arial\"; "
    "border-width: 1px; border-style: solid; border-color: gray; background-color: #D6DBEF; "
    "padding: 10px; text-align = \"left\";}\n</style></HEAD><BODY>\n";
constexpr std::string_view kTitleOpen =
    "<TABLE border = \"0\" width = \"100%\" cellspacing = \"0\"><th class = \"style3\">\n";
constexpr std::string_view kTitleFont =
    "<STRONG><FONT size = \"4\" color = \"black\" face = \"arial\">\n";
constexpr std::string_view kSnapshotTitle = "Lumivar Snapshot<BR>\n";
constexpr std::string_view kActionsTitle = "Lumivar Actions<BR>\n";
constexpr std::string_view kTitleFontEnd = "</FONT></STRONG>\n";
constexpr std::string_view kTitleTimeFont =
    "<FONT size = \"1\" color = \"black\" face = \"arial\">\n";
constexpr std::string_view kTitleTimeEnd = "</FONT></th>\n</TABLE>\n";
constexpr std::string_view kReportTitleOpen =
    "<TABLE border = \"0\" width = \"100%\" cellpadding = \"2\" cellspacing = \"1\"><th>\n";
constexpr std::string_view kReportTitle = "Lumivar Report<BR>\n";
constexpr std::string_view kBr = "<BR>\n";
constexpr std::string_view kMonitorsOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t   <th class = "
    "\"style1\">Monitors</th><th class = \"style1\">&nbsp;</th><th class = "
    "\"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><th "
    "class = \"style2\">&nbsp;</th><tr>\n";
constexpr std::string_view kMonitorsTitles =
    "<td class = \"style1\">Monitor Name</td><td class = \"style1\">Datasource</td><td class = "
    "\"style1\">Availability</td>\t\t   <td class = \"style1\">Health</td><td class = "
    "\"style1\">Last Polled At</td><td class = \"style1\">Connection Time (ms.)</td>\n";
constexpr std::string_view kTrEnd = "</tr>";
constexpr std::string_view kNoMonitors =
    "<TABLE class = \"style1\" width = \"100%\"><td align = \"center\"><FONT color = "
    "\"gray\">Monitors has not been created.</FONT></td></table>\n";
constexpr std::string_view kTableEnd = "</TABLE>\n";
constexpr std::string_view kUptimeOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t   <th class = "
    "\"style1\">Uptime</th><th class = \"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><th "
    "class = \"style1\">&nbsp;</th><th class = \"style2\">&nbsp;</th><tr>\n";
constexpr std::string_view kUptimeTitles =
    "<td class = \"style1\">Monitor Name</td><td class = \"style1\">Today</td><td class = "
    "\"style1\">Yesterday</td>\t\t   <td class = \"style1\">Last 7 Days</td><td class = "
    "\"style1\">Last 30 Days</td>\n";
constexpr std::string_view kAlertsOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t   <th class = "
    "\"style1\">Last Alerts</th><th class = \"style1\">&nbsp;</th><th class = "
    "\"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><th class = "
    "\"style2\">&nbsp;</th><tr>\n";
constexpr std::string_view kAlertsTitles =
    "<td class = \"style1\">Time</td><td class = \"style1\">Monitor Name</td><td class = "
    "\"style1\">Alert Name</td>\t\t   <td class = \"style1\">Action</td><td class = "
    "\"style1\">Title</td>\n";
constexpr std::string_view kNoAlerts =
    "<TABLE class = \"style1\" width = \"100%\"><td align = \"center\"><FONT color = "
    "\"gray\">Alerts has not been raised.</FONT></td></table>\n";
constexpr std::string_view kPageEnd = "</tr></TABLE>\n";
constexpr std::string_view kRowStart = "<tr>\n";
constexpr std::string_view kRowEnd = "</tr>\n";
constexpr std::string_view kCell = "<td class = \"style2\">";
constexpr std::string_view kStoppedOff = "<td  class = \"style2\">OFF</td>\n";
constexpr std::string_view kStoppedDash = "<td class = \"style2\">-</td>\n";
constexpr std::string_view kCellError = "<td class = \"style2error\">";
constexpr std::string_view kReportMonitorsCaption =
    "<FONT color = \"black\" face = \"arial\"><B>Monitors</B></FONT>";
constexpr std::string_view kReportTable =
    "<TABLE border = \"1\" width = \"100%\" cellspacing = \"1\" cellpadding = \"3\">\n";
constexpr std::string_view kReportMonitorsTitles =
    "<th>Monitor Name</th><th>Datasource</th><th>Availability</th>\t\t   <th>Health</th><th>Last "
    "Polled At</th><th>Connection Time (ms.)</th>\n";
constexpr std::string_view kReportUptimeCaption =
    "<FONT color = \"black\" face = \"arial\"><B>Uptime</B></FONT>";
constexpr std::string_view kReportUptimeTitles =
    "<th>Monitor Name</th><th>Today</th><th>Yesterday</th>\t\t   <th>Last 7 Days</th><th>Last 30 "
    "Days</th>\n";
constexpr std::string_view kReportAlertsCaption =
    "<FONT color = \"black\" face = \"arial\"><B>Last Alerts</B></FONT>";
constexpr std::string_view kReportAlertsTitles =
    "<th>Time</th><th>Monitor Name</th><th>Alert Name</th>\t\t   <th>Action</th><th>Title</th>\n";
constexpr std::string_view kReportCell = "<td>";
constexpr std::string_view kReportStoppedOff = "<td >OFF</td>\n";
constexpr std::string_view kReportStoppedDash = "<td>-</td>\n";
constexpr std::string_view kReportNoMonitors =
    "<TABLE border = \"1\" width = \"100%\" cellspacing = \"1\" cellpadding = \"3\"><td align = "
    "\"center\"><FONT color = \"gray\">Monitors has not been created.</FONT></td></table>\n";
constexpr std::string_view kReportNoAlerts =
    "<TABLE border = \"1\" width = \"100%\" cellspacing = \"1\" cellpadding = \"3\"><td align = "
    "\"center\"><FONT color = \"gray\">Alerts has not been raised.</FONT></td></table>\n";
constexpr std::string_view kNoActions =
    "<p align = \"center\"><FONT color = \"gray\">Actions has not been created.</FONT></p>\n";
constexpr std::string_view kEMailOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t\t   <th class = "
    "\"style1\">E-Mail</th><th class = \"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><th "
    "class = \"style1\">&nbsp;</th><tr>\n";
constexpr std::string_view kMailTitles =
    "<td class = \"style1\">Name</td><td class = \"style1\">Polls Count</td><td class = "
    "\"style1\">From</td>\t\t\t   <td class = \"style1\">Recipient EMail</td>\n";
constexpr std::string_view kSmsOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t\t   <th class = "
    "\"style1\">SMS</th><th class = \"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><th "
    "class = \"style1\">&nbsp;</th><tr>\n";
constexpr std::string_view kSqlOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t\t   <th class = "
    "\"style1\">Execute SQL</th><th class = \"style1\">&nbsp;</th><th class = "
    "\"style1\">&nbsp;</th><th class = \"style1\">&nbsp;</th><tr>\n";
constexpr std::string_view kSqlTitles =
    "<td class = \"style1\">Name</td><td class = \"style1\">Polls Count</td><td class = "
    "\"style1\">ODBC Datasource Name</td>\t\t\t   <td class = \"style1\">SQL Query</td>\n";
constexpr std::string_view kProgramOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t\t   <th class = "
    "\"style1\">Execute Program</th><th class = \"style1\">&nbsp;</th><th class = "
    "\"style1\">&nbsp;</th><tr>\n";
constexpr std::string_view kProgramTitles =
    "<td class = \"style1\">Name</td><td class = \"style1\">Polls Count</td><td class = "
    "\"style1\">Path to execute Program</td>\n";
constexpr std::string_view kUiOpener =
    "<TABLE class = \"style1\" width = \"100%\" cellspacing = \"0\">\t\t\t   <th class = "
    "\"style1\">User Interface</th><th class = \"style1\">&nbsp;</th><th class = "
    "\"style1\">&nbsp;</th><tr>\n";
constexpr std::string_view kUiTitles =
    "<td class = \"style1\">Name</td><td class = \"style1\">Polls Count</td><td class = "
    "\"style1\">Action</td>\n";
constexpr std::string_view kMessageBox = "Message Box</td>\n";
constexpr std::string_view kPopupBalloon = "Popup Balloon</td>\n";
constexpr std::string_view kOpenApplication = "Open Application</td>\n";

constexpr std::size_t kMaxLastAlerts = 10;
constexpr int kOdbcDataSourceKind = 2;
constexpr int kMinuteForm = 3;  // FormatTimeForDisplay: "%d %b %Y %I:%M %p"
constexpr unsigned kStringOk = 111, kStringError = 112, kStringUp = 113, kStringDown = 114;

// Where the snapshot page and the report page differ.
struct Markup {
  bool report;
  std::string_view titleOpen;
  std::string_view title;
  std::string monitorsHeader;
  std::string uptimeHeader;
  std::string alertsHeader;
  std::string_view noMonitors;
  std::string_view noAlerts;
  std::string_view stoppedOff;
  std::string_view stoppedDash;
};

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

// Never destroyed, as the other statics a page build reads: a build abandoned at exit may
// still run.
const Markup& SnapshotMarkup() {
  static const Markup* markup = new Markup{false,
                                           kTitleOpen,
                                           kSnapshotTitle,
                                           Join({kMonitorsOpener, kMonitorsTitles, kTrEnd}),
                                           Join({kUptimeOpener, kUptimeTitles, kTrEnd}),
                                           Join({kAlertsOpener, kAlertsTitles, kTrEnd}),
                                           kNoMonitors,
                                           kNoAlerts,
                                           kStoppedOff,
                                           kStoppedDash};
  return *markup;
}

const Markup& ReportMarkup() {
  static const Markup* markup =
      new Markup{true,
                 kReportTitleOpen,
                 kReportTitle,
                 Join({kReportMonitorsCaption, kReportTable, kReportMonitorsTitles, kTrEnd}),
                 Join({kReportUptimeCaption, kReportTable, kReportUptimeTitles, kTrEnd}),
                 Join({kReportAlertsCaption, kReportTable, kReportAlertsTitles, kTrEnd}),
                 kReportNoMonitors,
                 kReportNoAlerts,
                 kReportStoppedOff,
                 kReportStoppedDash};
  return *markup;
}

void AppendTitleBlock(std::string& page, std::string_view open, std::string_view title,
                      std::int64_t now) {
  page += open;
  page += kTitleFont;
  page += title;
  page += kTitleFontEnd;
  page += kTitleTimeFont;
  page += platform::FormatTimeForDisplay(now, kMinuteForm);
  page += kTitleTimeEnd;
}

// A cell whose value is the program's own ASCII text (numbers, times, fixed words).
void AppendCell(std::string& page, std::string_view open, std::string_view value) {
  page += open;
  page += value;
  page += "</td>\n";
}

// A cell whose value comes from the user or the data: escaped.
void AppendDataCell(std::string& page, std::string_view open, std::string_view value) {
  page += open;
  AppendHtmlText(page, value);
  page += "</td>\n";
}

// The data file, opened once for all queries of one page.
class DataFile {
 public:
  DataFile() : open_(DataFiles::OpenDatabase(database_, DataFiles::kDataFileName) == 0) {}

  std::string UptimePercent(const std::string& monitorId, std::int64_t start, std::int64_t end) {
    return open_ ? UptimeOverRows(database_, monitorId, start, end) : "-";
  }
  // The four cells of the monitor's uptime row for a page built at `now`.
  std::array<std::string, 4> UptimeRow(const std::string& monitorId, std::int64_t now) {
    return UptimeCache::Shared().Row(open_ ? &database_ : nullptr, monitorId, now);
  }

  void LastAlerts(std::vector<LastAlertRow>& rows) {
    if (!open_) return;
    db::Statement statement(database_);
    db::Cursor* cursor = nullptr;
    const std::string sql =
        sql::SelectAlertsDataNewestFirst() + " LIMIT " + std::to_string(kMaxLastAlerts);
    if (statement.Prepare(sql) != 0 || statement.Execute(&cursor) != 0) return;
    rows.clear();
    for (; !cursor->IsDone() && rows.size() < kMaxLastAlerts; cursor->Next()) {
      LastAlertRow row;
      row.monitorId = cursor->GetText(0);
      row.alertId = cursor->GetText(1);
      row.time = cursor->GetInt64(2);
      row.actionId = cursor->GetText(3);
      row.title = cursor->GetText(4);
      rows.push_back(std::move(row));
    }
  }

 private:
  db::Database database_;
  bool open_;
};

template <typename T>
const T* FindById(const std::vector<T>& items, const std::string& id) {
  for (const T& item : items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

void AppendMonitorRow(std::string& page, const Markup& markup, const HtmlMonitorInfo& monitor) {
  page += kRowStart;
  if (!monitor.running) {
    const std::string_view open = markup.report ? kReportCell : kCell;
    AppendDataCell(page, open, monitor.name);
    AppendDataCell(page, open, monitor.address);
    page += markup.stoppedOff;
    for (int i = 0; i < 3; ++i) page += markup.stoppedDash;
  } else {
    const std::string_view open = markup.report ? kReportCell : monitor.health ? kCell : kCellError;
    AppendDataCell(page, open, monitor.name);
    AppendDataCell(page, open, monitor.address);
    AppendCell(page, open,
               platform::LoadResourceString(monitor.available ? kStringUp : kStringDown));
    AppendCell(page, open, platform::LoadResourceString(monitor.health ? kStringOk : kStringError));
    AppendCell(page, open, platform::FormatTimeForDisplay(monitor.time, kMinuteForm));
    AppendCell(page, open, platform::Int64ToString(monitor.connectionTime));
  }
  page += kRowEnd;
}

void AppendUptimeRow(std::string& page, const Markup& markup, DataFile& data,
                     const HtmlMonitorInfo& monitor, std::int64_t now) {
  const std::string_view open = markup.report ? kReportCell : kCell;
  page += kRowStart;
  AppendDataCell(page, open, monitor.name);
  for (const std::string& cell : data.UptimeRow(monitor.id, now)) AppendCell(page, open, cell);
  page += kRowEnd;
}

void AppendAlertRow(std::string& page, const Markup& markup, const HtmlSnapshot& snapshot,
                    const LastAlertRow& row) {
  const HtmlMonitorInfo* monitor = FindById(snapshot.monitors, row.monitorId);
  if (monitor == nullptr) return;  // the monitor has been deleted since
  const HtmlMonitorInfo::AlertInfo* alert = FindById(monitor->alerts, row.alertId);
  const HtmlMonitorInfo::AttributeInfo* attribute =
      alert ? FindById(monitor->attributes, alert->healthAttributeId) : nullptr;
  const HtmlActionInfo* action = FindById(snapshot.actions, row.actionId);
  // A deleted alert's type is unknown: its row is shown as an error.
  const bool clear = alert != nullptr && alert->alertType == 1;
  const std::string_view open = markup.report ? kReportCell : clear ? kCell : kCellError;
  page += kRowStart;
  AppendCell(page, open, platform::FormatTimeForDisplay(row.time, kMinuteForm));
  AppendDataCell(page, open, monitor->name);
  AppendDataCell(page, open, attribute ? std::string_view(attribute->name) : "-");
  AppendDataCell(page, open, action ? std::string_view(action->name) : "-");
  AppendDataCell(page, open, row.title);
  page += kRowEnd;
}

void BuildStatusPage(const HtmlSnapshot& snapshot, const Markup& markup, std::string& page) {
  page.clear();
  page += kHead;
  AppendTitleBlock(page, markup.titleOpen, markup.title, snapshot.now);
  page += kBr;
  const bool noMonitors = snapshot.monitors.empty();

  page += markup.monitorsHeader;
  for (const HtmlMonitorInfo& monitor : snapshot.monitors) AppendMonitorRow(page, markup, monitor);
  if (noMonitors) page += markup.noMonitors;
  page += kTableEnd;
  page += kBr;

  DataFile data;
  page += markup.uptimeHeader;
  for (const HtmlMonitorInfo& monitor : snapshot.monitors) {
    AppendUptimeRow(page, markup, data, monitor, snapshot.now);
  }
  if (noMonitors) page += markup.noMonitors;
  page += kTableEnd;
  page += kBr;

  std::vector<LastAlertRow> alerts;
  data.LastAlerts(alerts);
  page += markup.alertsHeader;
  for (const LastAlertRow& row : alerts) AppendAlertRow(page, markup, snapshot, row);
  if (noMonitors) page += markup.noAlerts;
  page += kTableEnd;
  page += kPageEnd;
}

void AppendActionRow(std::string& page, const HtmlActionInfo& action) {
  page += kRowStart;
  AppendDataCell(page, kCell, action.name);
  AppendCell(page, kCell, platform::Int64ToString(action.pollsCount));
  switch (action.type) {
    case 0:
    case 1:
      AppendDataCell(page, kCell, action.fromAddress);
      AppendDataCell(page, kCell, action.toAddress);
      break;
    case 2:
      AppendDataCell(page, kCell, action.datasourceName);
      AppendDataCell(page, kCell, action.sqlQuery);
      break;
    case 3:
      AppendDataCell(page, kCell, action.path);
      break;
    case 4:
      if (action.uiType == 0) page += Join({kCell, kMessageBox});
      if (action.uiType == 1) page += Join({kCell, kPopupBalloon});
      if (action.uiType == 2) page += Join({kCell, kOpenApplication});
      break;
  }
  page += kRowEnd;
}

// Writes the whole text to the file and syncs it to the disk: 0, or the errno of the
// step that failed.
int WriteAndSync(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return EIO;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return ::fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

std::array<UptimePeriod, 4> UptimePeriods(std::int64_t now) {
  const std::int64_t midnight = LocalMidnight(now, 0);
  return {{{midnight, now},
           {LocalMidnight(now, 1), midnight},
           {LocalMidnight(now, 7), midnight},
           {LocalMidnight(now, 30), midnight}}};
}

std::mutex& HtmlPageLock() {
  // Never destroyed: a page may be written while the program ends.
  static std::mutex* lock = new std::mutex;
  return *lock;
}

void HtmlReport::BuildSnapshotPage(const HtmlSnapshot& snapshot, std::string& page) {
  BuildStatusPage(snapshot, SnapshotMarkup(), page);
}

void HtmlReport::BuildReportPage(const HtmlSnapshot& snapshot, std::string& page) {
  BuildStatusPage(snapshot, ReportMarkup(), page);
}

void HtmlReport::BuildActionsPage(const HtmlSnapshot& snapshot, std::string& page) {
  static constexpr std::array<std::string_view, 5> kOpeners = {kEMailOpener, kSmsOpener, kSqlOpener,
                                                               kProgramOpener, kUiOpener};
  static constexpr std::array<std::string_view, 5> kTitles = {kMailTitles, kMailTitles, kSqlTitles,
                                                              kProgramTitles, kUiTitles};
  page.clear();
  page += kHead;
  AppendTitleBlock(page, kTitleOpen, kActionsTitle, snapshot.now);
  bool anySection = false;
  for (std::int32_t type = 0; type < 5; ++type) {
    if (!HasActionOfType(snapshot, type)) continue;
    anySection = true;
    page += kOpeners[type];
    page += kTitles[type];
    page += kTrEnd;
    for (const HtmlActionInfo& action : snapshot.actions) {
      if (action.type == type) AppendActionRow(page, action);
    }
    page += kBr;
  }
  if (!anySection) page += kNoActions;
}

bool HtmlReport::WritePage(const std::string& fileName, const std::string& page,
                           std::string* failure) {
  int error = 0;  // errno of the first step that failed
  try {
    const std::string path = platform::GetDocumentsFolder() + fileName;
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) {
      error = errno;
    } else {
      error = WriteAndSync(fd, page);
      if (::close(fd) != 0 && error == 0) error = errno;
      if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
      if (error != 0) ::unlink(temporary.c_str());
    }
  } catch (...) {
    if (error == 0) error = ENOMEM;
  }
  if (error != 0 && failure != nullptr) *failure = std::generic_category().message(error);
  return error == 0;
}

std::string HtmlReport::GetUptimePercent(const std::string& monitorId, std::int64_t start,
                                         std::int64_t end) {
  DataFile data;
  return data.UptimePercent(monitorId, start, end);
}

void HtmlReport::LoadLastAlerts(std::vector<LastAlertRow>& rows) {
  DataFile data;
  data.LastAlerts(rows);
}

bool HtmlReport::HasActionOfType(const HtmlSnapshot& snapshot, std::int32_t type) {
  for (const HtmlActionInfo& action : snapshot.actions) {
    if (action.type == type) return true;
  }
  return false;
}

}  // namespace engine
