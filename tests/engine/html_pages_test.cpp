// Golden pages: every expected byte below is written out by hand from the pages' fixed
// layout; the code under test never produced any of it. Tabs inside the raw strings are
// real tab characters.
#include <gtest/gtest.h>

#include <string>

#include "engine/data/statements.h"
#include "engine/report/html_report.h"
#include "tests/engine/html_fixture.h"

namespace engine {
namespace {

constexpr std::int64_t kNow = 1765120500;       // 07 Dec 2025 03:15 PM UTC
constexpr std::int64_t kMidnight = 1765065600;  // 07 Dec 2025 00:00 UTC

const std::string kHead = R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0 Transitional//EN">
<HTML><HEAD><TITLE>Lumivar Snapshot</TITLE>
<style type="text/css">
table.style1 {border-width: 1px; border-style: solid; border-color: gray; }
td.style1 {font-size:12; font-face: "arial"; border-bottom-width: 1px; border-right-width: 1px; border-bottom-style: solid; border-right-style: solid; border-color: gray; background-color: #E6EBFF; padding: 5px;}
th.style1 {font-size:14; font-face: "arial"; border-bottom-width: 1px; border-bottom-style: solid; border-color: gray; background-color: #D6DBEF; text-align = "left"; padding: 5px;}
td.style2 {font-size:12; font-face: "arial"; border-bottom-width: 1px; border-right-width: 1px; border-bottom-style: solid; border-right-style: solid; border-color: gray; padding: 5px;}
td.style2error {font-size:12; font-face: "arial"; border-bottom-width: 1px; border-right-width: 1px; border-bottom-style: solid; border-right-style: solid; border-color: gray; padding: 5px; background-color: #FFA0A0;}
th.style2 {font-size:14; font-face: "arial"; border-bottom-width: 1px; border-right-width: 1px; border-bottom-style: solid; border-right-style: solid; border-color: gray; background-color: #D6DBEF;}
th.style3 {font-size:14; font-face: "arial"; border-width: 1px; border-style: solid; border-color: gray; background-color: #D6DBEF; padding: 10px; text-align = "left";}
</style></HEAD><BODY>
)";

const std::string kSnapshotTitle =
    R"(<TABLE border = "0" width = "100%" cellspacing = "0"><th class = "style3">
<STRONG><FONT size = "4" color = "black" face = "arial">
Lumivar Snapshot<BR>
</FONT></STRONG>
<FONT size = "1" color = "black" face = "arial">
07 Dec 2025 03:15 PM</FONT></th>
</TABLE>
<BR>
)";

const std::string kActionsTitle =
    R"(<TABLE border = "0" width = "100%" cellspacing = "0"><th class = "style3">
<STRONG><FONT size = "4" color = "black" face = "arial">
Lumivar Actions<BR>
</FONT></STRONG>
<FONT size = "1" color = "black" face = "arial">
07 Dec 2025 03:15 PM</FONT></th>
</TABLE>
)";

const std::string kReportTitle =
    R"(<TABLE border = "0" width = "100%" cellpadding = "2" cellspacing = "1"><th>
<STRONG><FONT size = "4" color = "black" face = "arial">
Lumivar Report<BR>
</FONT></STRONG>
<FONT size = "1" color = "black" face = "arial">
07 Dec 2025 03:15 PM</FONT></th>
</TABLE>
<BR>
)";

const std::string kMonitorsHeader =
    R"(<TABLE class = "style1" width = "100%" cellspacing = "0">		   <th class = "style1">Monitors</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style2">&nbsp;</th><tr>
<td class = "style1">Monitor Name</td><td class = "style1">Datasource</td><td class = "style1">Availability</td>		   <td class = "style1">Health</td><td class = "style1">Last Polled At</td><td class = "style1">Connection Time (ms.)</td>
</tr>)";

const std::string kUptimeHeader =
    R"(<TABLE class = "style1" width = "100%" cellspacing = "0">		   <th class = "style1">Uptime</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style2">&nbsp;</th><tr>
<td class = "style1">Monitor Name</td><td class = "style1">Today</td><td class = "style1">Yesterday</td>		   <td class = "style1">Last 7 Days</td><td class = "style1">Last 30 Days</td>
</tr>)";

const std::string kAlertsHeader =
    R"(<TABLE class = "style1" width = "100%" cellspacing = "0">		   <th class = "style1">Last Alerts</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style2">&nbsp;</th><tr>
<td class = "style1">Time</td><td class = "style1">Monitor Name</td><td class = "style1">Alert Name</td>		   <td class = "style1">Action</td><td class = "style1">Title</td>
</tr>)";

const std::string kReportMonitorsHeader =
    R"(<FONT color = "black" face = "arial"><B>Monitors</B></FONT><TABLE border = "1" width = "100%" cellspacing = "1" cellpadding = "3">
<th>Monitor Name</th><th>Datasource</th><th>Availability</th>		   <th>Health</th><th>Last Polled At</th><th>Connection Time (ms.)</th>
</tr>)";

const std::string kReportUptimeHeader =
    R"(<FONT color = "black" face = "arial"><B>Uptime</B></FONT><TABLE border = "1" width = "100%" cellspacing = "1" cellpadding = "3">
<th>Monitor Name</th><th>Today</th><th>Yesterday</th>		   <th>Last 7 Days</th><th>Last 30 Days</th>
</tr>)";

const std::string kReportAlertsHeader =
    R"(<FONT color = "black" face = "arial"><B>Last Alerts</B></FONT><TABLE border = "1" width = "100%" cellspacing = "1" cellpadding = "3">
<th>Time</th><th>Monitor Name</th><th>Alert Name</th>		   <th>Action</th><th>Title</th>
</tr>)";

const std::string kSectionEnd = "</TABLE>\n<BR>\n";
const std::string kPageEnd = "</TABLE>\n</tr></TABLE>\n";

class HtmlPagesTest : public testing::HtmlDataTest {
 protected:
  void AddAlert(const std::string& monitorId, const std::string& alertId, std::int64_t time,
                const std::string& actionId, const std::string& title) {
    Exec(sql::InsertAlertsData(monitorId, alertId, time, actionId, title));
  }

  // Four monitors (stopped; running and healthy; running before its first poll; a failed
  // poll), one action of every kind and every user-interface notice, samples and alerts.
  HtmlSnapshot FullStore() {
    HtmlSnapshot s;
    s.now = kNow;
    HtmlMonitorInfo billing;
    billing.id = "m-billing";
    billing.name = "Billing";
    billing.address = "billing_dsn";
    billing.running = false;
    billing.available = false;  // not looked at while stopped
    billing.time = kNow - 60;
    HtmlMonitorInfo orders;
    orders.id = "m-orders";
    orders.name = "Orders";
    orders.address = "orders_dsn";
    orders.running = true;
    orders.available = true;
    orders.health = true;
    orders.time = 1765116300;  // 02:05 PM
    orders.connectionTime = 42;
    orders.attributes = {{"h-avail", "Availability"}, {"h-conn", "Connection Time"}};
    orders.alerts = {{"a-clear", "h-avail", 1}, {"a-error", "h-conn", 0}};
    HtmlMonitorInfo fresh;
    fresh.id = "m-fresh";
    fresh.name = "Fresh";
    fresh.address = "fresh_dsn";
    fresh.running = true;
    HtmlMonitorInfo broken;
    broken.id = "m-broken";
    broken.name = "Broken";
    broken.address = "broken_dsn";
    broken.running = true;
    broken.available = false;
    broken.health = false;
    broken.time = 1765119600;  // 03:00 PM
    broken.connectionTime = -1;
    broken.alerts = {{"a-broken", "h-missing", 0}};
    s.monitors = {billing, orders, fresh, broken};

    auto action = [](std::string id, std::string name, std::int32_t type, std::int32_t polls) {
      HtmlActionInfo a;
      a.id = std::move(id);
      a.name = std::move(name);
      a.type = type;
      a.pollsCount = polls;
      return a;
    };
    HtmlActionInfo mail = action("x-mail", "Mail ops", 0, 1);
    mail.fromAddress = "lumivar@example.com";
    mail.toAddress = "ops@example.com";
    HtmlActionInfo sms = action("x-sms", "SMS ops", 1, 3);
    sms.fromAddress = "lumivar@example.com";
    sms.toAddress = "5551234@sms.example.com";
    HtmlActionInfo sqlAction = action("x-sql", "Log it", 2, -1);
    sqlAction.datasourceName = "audit_dsn";
    sqlAction.sqlQuery = "INSERT INTO audit VALUES (1)";
    HtmlActionInfo mail2 = action("x-mail2", "Mail dba", 0, 2);
    mail2.fromAddress = "lumivar@example.com";
    mail2.toAddress = "dba@example.com";
    HtmlActionInfo program = action("x-prog", "Restart", 3, 2);
    program.path = "/usr/local/bin/restart-db";
    HtmlActionInfo box = action("x-box", "Box", 4, 1);
    HtmlActionInfo balloon = action("x-balloon", "Balloon", 4, 1);
    balloon.uiType = 1;
    HtmlActionInfo open = action("x-open", "Open", 4, 1);
    open.uiType = 2;
    HtmlActionInfo odd = action("x-odd", "Odd", 4, 1);
    odd.uiType = 3;
    s.actions = {mail, sms, sqlAction, mail2, program, box, balloon, open, odd};

    // Orders: Today 30 min up then 10 down; Yesterday up; a day down on 1 Dec; rows from
    // before every period, so that each counts from its start.
    AddSample("m-orders", 1764547200 - 40 * 86400, true);
    AddSample("m-orders", 1764547200, false);  // 01 Dec 00:00
    AddSample("m-orders", 1765022400, true);   // 06 Dec 12:00
    AddSample("m-orders", kMidnight + 1800, true);
    AddSample("m-orders", kMidnight + 2400, false);
    // Broken: one row exactly on today's midnight, which ends the earlier periods.
    AddSample("m-broken", kMidnight - 40 * 86400, false);
    AddSample("m-broken", kMidnight, false);

    AddAlert("m-orders", "a-clear", 1765116300, "x-mail", "Orders is UP");
    AddAlert("m-orders", "a-error", 1765110000, "x-gone", "Connection Time slow On Orders");
    AddAlert("m-orders", "a-deleted", 1765099800, "x-mail", "Orders was DOWN");
    AddAlert("m-gone", "a-x", 1765090000, "x-mail", "Of a deleted monitor");
    AddAlert("m-broken", "a-broken", 1765080000, "x-sms", "Broken is DOWN");
    return s;
  }
};

// The snapshot page and the report page share their layout; only the table markup differs.
struct PageLayout {
  const char* name;
  void (*build)(const HtmlSnapshot&, std::string&);
  const std::string& title;
  const std::string* headers[3];  // monitors, uptime, alerts
  std::string notice;             // opening of the "nothing here" table
  std::string cell;               // attributes of a data cell
};

const PageLayout kLayouts[] = {
    {"snapshot",
     HtmlReport::BuildSnapshotPage,
     kSnapshotTitle,
     {&kMonitorsHeader, &kUptimeHeader, &kAlertsHeader},
     R"(<TABLE class = "style1" width = "100%">)",
     R"( class = "style2")"},
    {"report",
     HtmlReport::BuildReportPage,
     kReportTitle,
     {&kReportMonitorsHeader, &kReportUptimeHeader, &kReportAlertsHeader},
     R"(<TABLE border = "1" width = "100%" cellspacing = "1" cellpadding = "3">)",
     ""},
};

// One table row: each cell on its own line, "<td" + attributes + ">".
const std::string kCell = R"( class = "style2")";

std::string Row(const std::string& attrs, std::initializer_list<std::string> cells) {
  std::string row = "<tr>\n";
  for (const std::string& c : cells) row += "<td" + attrs + ">" + c + "</td>\n";
  return row + "</tr>\n";
}

TEST_F(HtmlPagesTest, SnapshotAndReportPagesOfAnEmptyStore) {
  HtmlSnapshot empty;
  empty.now = kNow;
  AddAlert("m-gone", "a-x", kNow - 10, "x-mail", "Of a deleted monitor");
  for (const PageLayout& l : kLayouts) {
    SCOPED_TRACE(l.name);
    std::string page = "left over";
    l.build(empty, page);
    const std::string monitors =
        l.notice +
        R"(<td align = "center"><FONT color = "gray">Monitors has not been created.</FONT></td></table>
)";
    EXPECT_EQ(
        page,
        kHead + l.title + *l.headers[0] + monitors + kSectionEnd + *l.headers[1] + monitors +
            kSectionEnd + *l.headers[2] + l.notice +
            R"(<td align = "center"><FONT color = "gray">Alerts has not been raised.</FONT></td></table>
)" + kPageEnd);
  }
}

TEST_F(HtmlPagesTest, ActionsPageWithoutActions) {
  HtmlSnapshot empty;
  empty.now = kNow;
  std::string page;
  HtmlReport::BuildActionsPage(empty, page);
  EXPECT_EQ(page,
            kHead + kActionsTitle +
                R"(<p align = "center"><FONT color = "gray">Actions has not been created.</FONT></p>
)");
}

TEST_F(HtmlPagesTest, SnapshotAndReportPagesOfAFullStore) {
  const HtmlSnapshot store = FullStore();
  for (const PageLayout& l : kLayouts) {
    SCOPED_TRACE(l.name);
    std::string page;
    l.build(store, page);
    const std::string& c = l.cell;
    const std::string e = c.empty() ? c : R"( class = "style2error")";
    // A stopped monitor's availability cell carries one blank too many.
    const std::string monitors =
        "<tr>\n<td" + c + ">Billing</td>\n<td" + c + ">billing_dsn</td>\n<td " + c +
        ">OFF</td>\n<td" + c + ">-</td>\n<td" + c + ">-</td>\n<td" + c + ">-</td>\n</tr>\n" +
        Row(c, {"Orders", "orders_dsn", "UP", "OK", "07 Dec 2025 02:05 PM", "42"}) +
        Row(e, {"Fresh", "fresh_dsn", "UP", "ERROR", "-", "N/A"}) +
        Row(e, {"Broken", "broken_dsn", "DOWN", "ERROR", "07 Dec 2025 03:00 PM", "N/A"});
    const std::string uptime = Row(c, {"Billing", "-", "-", "-", "-"}) +
                               Row(c, {"Orders", "75.00%", "100.00%", "84.62%", "18.64%"}) +
                               Row(c, {"Fresh", "-", "-", "-", "-"}) +
                               Row(c, {"Broken", "-", "0.00%", "0.00%", "0.00%"});
    const std::string alerts =
        Row(c, {"07 Dec 2025 02:05 PM", "Orders", "Availability", "Mail ops", "Orders is UP"}) +
        Row(e, {"07 Dec 2025 12:20 PM", "Orders", "Connection Time", "-",
                "Connection Time slow On Orders"}) +
        Row(e, {"07 Dec 2025 09:30 AM", "Orders", "-", "Mail ops", "Orders was DOWN"}) +
        Row(e, {"07 Dec 2025 04:00 AM", "Broken", "-", "SMS ops", "Broken is DOWN"});
    EXPECT_EQ(page, kHead + l.title + *l.headers[0] + monitors + kSectionEnd + *l.headers[1] +
                        uptime + kSectionEnd + *l.headers[2] + alerts + kPageEnd);
  }
}

TEST_F(HtmlPagesTest, ActionsPageOfAFullStore) {
  const HtmlSnapshot store = FullStore();
  std::string page;
  HtmlReport::BuildActionsPage(store, page);
  const std::string mail =
      R"(<TABLE class = "style1" width = "100%" cellspacing = "0">			   <th class = "style1">E-Mail</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><tr>
<td class = "style1">Name</td><td class = "style1">Polls Count</td><td class = "style1">From</td>			   <td class = "style1">Recipient EMail</td>
</tr>)" +
      Row(kCell, {"Mail ops", "1", "lumivar@example.com", "ops@example.com"}) +
      Row(kCell, {"Mail dba", "2", "lumivar@example.com", "dba@example.com"}) + "<BR>\n";
  const std::string sms =
      R"(<TABLE class = "style1" width = "100%" cellspacing = "0">			   <th class = "style1">SMS</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><tr>
<td class = "style1">Name</td><td class = "style1">Polls Count</td><td class = "style1">From</td>			   <td class = "style1">Recipient EMail</td>
</tr>)" +
      Row(kCell, {"SMS ops", "3", "lumivar@example.com", "5551234@sms.example.com"}) + "<BR>\n";
  const std::string sql =
      R"(<TABLE class = "style1" width = "100%" cellspacing = "0">			   <th class = "style1">Execute SQL</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><tr>
<td class = "style1">Name</td><td class = "style1">Polls Count</td><td class = "style1">ODBC Datasource Name</td>			   <td class = "style1">SQL Query</td>
</tr>)" +
      Row(kCell, {"Log it", "N/A", "audit_dsn", "INSERT INTO audit VALUES (1)"}) + "<BR>\n";
  const std::string program =
      R"(<TABLE class = "style1" width = "100%" cellspacing = "0">			   <th class = "style1">Execute Program</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><tr>
<td class = "style1">Name</td><td class = "style1">Polls Count</td><td class = "style1">Path to execute Program</td>
</tr>)" +
      Row(kCell, {"Restart", "2", "/usr/local/bin/restart-db"}) + "<BR>\n";
  const std::string ui =
      R"(<TABLE class = "style1" width = "100%" cellspacing = "0">			   <th class = "style1">User Interface</th><th class = "style1">&nbsp;</th><th class = "style1">&nbsp;</th><tr>
<td class = "style1">Name</td><td class = "style1">Polls Count</td><td class = "style1">Action</td>
</tr>)" +
      Row(kCell, {"Box", "1", "Message Box"}) + Row(kCell, {"Balloon", "1", "Popup Balloon"}) +
      Row(kCell, {"Open", "1", "Open Application"}) + Row(kCell, {"Odd", "1"}) + "<BR>\n";
  EXPECT_EQ(page, kHead + kActionsTitle + mail + sms + sql + program + ui);
}

}  // namespace
}  // namespace engine
