#include "res/help_page.h"

namespace res {
namespace {

constexpr const char kHelpPage[] = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Lumivar Help</title>
<style>
body { font-family: sans-serif; max-width: 50em; margin: 1em auto; padding: 0 1em; line-height: 1.4; }
h1 { color: #1f4e79; }
h2 { color: #1f4e79; border-bottom: 1px solid #c8d6e5; }
dt { font-weight: bold; margin-top: 0.5em; }
code { background: #f0f3f6; padding: 0 0.2em; }
</style>
</head>
<body>
<h1>Lumivar Help</h1>
<p>Lumivar watches databases that your computer reaches through ODBC. Each <em>monitor</em>
names one ODBC data source and a polling interval in minutes. While a monitor runs, it
connects to its data source once per interval, measures how long the connection took, runs
its test queries and stores what it found. Alerts compare what a poll found with a threshold
and, when the condition holds, fire an action: an e-mail or SMS message, an SQL statement, a
program, a message box, a desktop notification or the main window brought back.</p>

<h2>The main window</h2>
<p>The menu bar and the toolbar hold the commands: <b>New</b> starts a wizard that creates a
monitor with its default actions and alerts; <b>Start</b> and <b>Stop</b> act on the selected
monitor, or on every monitor when none is selected; <b>Delete</b> removes the selected monitor
with its stored data; <b>Settings</b> opens the program's settings. The status bar explains the
command under the mouse. The tree on the left chooses what the right side shows. Below the
tree, a panel shows today's availability of the monitor that reported last, or, with no
monitor selected, how many monitors are up, down and off.</p>

<h2>The tree</h2>
<dl>
<dt>Monitors</dt>
<dd>An overview page of every monitor with its current status.</dd>
<dt>A monitor (by its name)</dt>
<dd>The monitor's connection settings: name, data source, user name, password, polling
interval, an optional connection string of your own and the login and query time-outs.</dd>
<dt>Connection Time</dt>
<dd>A snapshot of the monitor's latest polls: availability, health, connection time, query
time and the values of its test queries.</dd>
<dt>Test queries</dt>
<dd>The SQL statements the monitor runs on every poll. The first column of the first row is
read as a whole number, which alerts can watch. Queries can be added, changed, switched off
and deleted.</dd>
<dt>History</dt>
<dd>A summary of the monitor's stored polls. Its four reports chart a period you choose:
<b>Availability history</b>, <b>Health history</b>, <b>Connection Time history</b> and <b>Test Queries history</b>.</dd>
<dt>Alerts</dt>
<dd>The monitor's alerts. An alert watches one attribute (availability, health, connection
time, query time or a test query's value) with a condition and a threshold. An
<em>error</em> alert fires when the attribute goes wrong, a <em>clear</em> alert when it is
fine again; each names the action it fires.</dd>
<dt>Log</dt>
<dd>What happened to the monitor: the program opening and closing, starts and stops, and
the actions its alerts fired with their results.</dd>
<dt>Actions</dt>
<dd>An overview page of every action. Below it, one list per kind: <b>E-Mail</b>,
<b>SMS</b>, <b>Execute SQL</b>, <b>Execute Program</b> and <b>User Interface</b>, where
actions are created, changed, tested and deleted.</dd>
</dl>
<p>A right click on a monitor offers New, Start, Stop and Delete. F6 and Shift+F6 move the
focus between the tree and the view on the right.</p>

<h2>Availability and health</h2>
<p>A monitor is <b>available</b> when its last poll could connect to the data source. It is
<b>healthy</b> when it is available and no enabled error alert's condition holds. A monitor
that is not running, or has not been polled yet, shows <b>OFF</b>.</p>

<h2>The tray icon</h2>
<p>Where the desktop offers a notification area, Lumivar puts its icon there. A click on it
opens the window. A right click offers <b>Open Window</b>, <b>Start All Monitors</b>,
<b>Stop All Monitors</b> and <b>Exit</b>. Minimising the window hides it into the tray; the
monitors go on running. Without a notification area the window is minimised as usual.</p>

<h2>The data folder</h2>
<p>Lumivar keeps its files in the folder <code>Lumivar</code> in your documents folder:</p>
<dl>
<dt><code>varnholt.cfg</code></dt>
<dd>The configuration: every monitor with its test queries, attributes and alerts, and every
action. It is an SQLite database.</dd>
<dt><code>varnholt.dat</code></dt>
<dd>The stored data: the polls' results, the test queries' values, the fired alerts and the
log. It is an SQLite database too, and the reports are read from it.</dd>
<dt><code>index.html</code> and <code>actions.html</code></dt>
<dd>The overview pages of the monitors and of the actions, rewritten while monitors report.</dd>
<dt><code>help.html</code></dt>
<dd>This page. Delete it and Lumivar writes it again the next time you ask for help.</dd>
</dl>
<p>Back up the two database files while Lumivar is closed to keep your monitors and their
history.</p>
</body>
</html>
)html";

}  // namespace

const char* HelpPageHtml() { return kHelpPage; }

}  // namespace res
