// The pages' data handling: escaping and non-ASCII text, the uptime cells and their
// periods, the last-alerts query, the page writer, and the pages under another locale.
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/data/statements.h"
#include "engine/report/html_report.h"
#include "engine/report/html_text.h"
#include "tests/engine/html_fixture.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

class HtmlReportTest : public testing::HtmlDataTest {
 protected:
  void AddAlert(const std::string& monitorId, std::int64_t time, const std::string& title) {
    Exec(sql::InsertAlertsData(monitorId, "a-" + title, time, "x", title));
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string PagePath(const std::string& name) const { return docs_.Path() + "/Lumivar/" + name; }
};

TEST(HtmlTextTest, EscapesMarkupAndWritesNonAsciiAsReferences) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"Orders DB_1 (main) 50%", "Orders DB_1 (main) 50%"},
      {"SELECT 1 WHERE a < 5 AND b > 2", "SELECT 1 WHERE a &lt; 5 AND b &gt; 2"},
      {"<b>R&D</b>", "&lt;b&gt;R&amp;D&lt;/b&gt;"},
      {"say \"hi\" it's", "say &quot;hi&quot; it&#39;s"},
      {"&amp;", "&amp;amp;"},
      {"tab\tnew\nline", "tab\tnew\nline"},
      {"\xD0\x94\xD0\xB0\xD1\x82\xD0\xB0", "&#1044;&#1072;&#1090;&#1072;"},  // Cyrillic
      {"\xE6\x97\xA5\xE6\x9C\xAC db", "&#26085;&#26412; db"},                // CJK
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf&#233; &#128512;"},               // astral
      {"bad \xFF end", "bad &#65533; end"},                                  // ill-formed
      {"cut \xE6\x97", "cut &#65533;"},                                      // truncated
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlText(c.in), c.out) << c.in;
}

TEST_F(HtmlReportTest, DataValuesAreEscapedAndPagesArePureAscii) {
  HtmlSnapshot s;
  s.now = 1765120500;
  HtmlMonitorInfo m;
  m.id = "m1";
  m.name = "<script>alert('x')</script>";
  m.address = "\xD0\x94\xD0\xB0\xD1\x82\xD0\xB0 & Co";
  m.running = true;
  m.health = true;
  m.attributes = {{"h1", "Rows > 5"}};
  m.alerts = {{"a1", "h1", 0}};
  s.monitors = {m};
  HtmlActionInfo a;
  a.id = "x1";
  a.name = "Mail \"ops\"";
  a.type = 2;
  a.datasourceName = "\xE6\x97\xA5\xE6\x9C\xAC";
  a.sqlQuery = "UPDATE t SET flag = 'y' WHERE a < 5";
  s.actions = {a};
  Exec(sql::InsertAlertsData("m1", "a1", s.now - 60, "x1", "CPU > 90% & rising"));

  std::string snapshot, report, actions;
  HtmlReport::BuildSnapshotPage(s, snapshot);
  HtmlReport::BuildReportPage(s, report);
  HtmlReport::BuildActionsPage(s, actions);
  for (const std::string* page : {&snapshot, &report, &actions}) {
    for (char c : *page) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    EXPECT_EQ(page->find("<script>"), std::string::npos);
  }
  for (const std::string* page : {&snapshot, &report}) {
    EXPECT_NE(page->find(">&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;</td>\n"),
              std::string::npos);
    EXPECT_NE(page->find(">&#1044;&#1072;&#1090;&#1072; &amp; Co</td>\n"), std::string::npos);
    EXPECT_NE(page->find(">Rows &gt; 5</td>\n"), std::string::npos);
    EXPECT_NE(page->find(">Mail &quot;ops&quot;</td>\n"), std::string::npos);
    EXPECT_NE(page->find(">CPU &gt; 90% &amp; rising</td>\n"), std::string::npos);
  }
  EXPECT_NE(actions.find(">&#26085;&#26412;</td>\n"), std::string::npos);
  EXPECT_NE(actions.find(">UPDATE t SET flag = &#39;y&#39; WHERE a &lt; 5</td>\n"),
            std::string::npos);
}

TEST_F(HtmlReportTest, UptimePercentOverOnePeriod) {
  constexpr std::int64_t kStart = 1'765'065'600, kEnd = kStart + 10'000;
  const struct {
    const char* name;
    std::vector<std::pair<std::int64_t, bool>> rows;  // offsets from the start
    const char* expected;
  } cases[] = {
      {"no rows", {}, "-"},
      {"all up", {{100, true}, {2000, true}}, "100.00%"},
      {"all down", {{100, false}, {2000, false}}, "0.00%"},
      {"one row on the start", {{0, true}}, "-"},
      {"30 minutes up then 10 down", {{1800, true}, {2400, false}}, "75.00%"},
      {"two thirds", {{200, true}, {300, false}}, "66.67%"},
      {"both bounds included, outside excluded",
       {{-1, false}, {0, false}, {10'000, true}, {10'001, false}},
       "100.00%"},
      {"rows stored out of time order", {{300, false}, {100, true}, {200, true}}, "66.67%"},
      {"rows only after the period", {{10'001, true}}, "-"},
      {"equal times count once", {{500, true}, {500, false}, {1000, false}}, "50.00%"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string id = "m" + std::to_string(n++);
    AddSample(id, kStart - 86'400, false);  // older rows: the period counts from its start
    for (const auto& [offset, up] : c.rows) AddSample(id, kStart + offset, up);
    // Another monitor's rows inside the period never count.
    AddSample("other-" + id, kStart + 50, false);
    AddSample("other-" + id, kStart + 9000, true);
    EXPECT_EQ(HtmlReport::GetUptimePercent(id, kStart, kEnd), c.expected) << c.name;
  }
}

TEST_F(HtmlReportTest, NoDataFileOrTableLeavesUptimeUnknownAndTheAlertsAlone) {
  Exec("DROP TABLE AlertsData");
  std::vector<LastAlertRow> rows(2);
  HtmlReport::LoadLastAlerts(rows);
  EXPECT_EQ(rows.size(), 2u);
  ScopedEnv nowhere("LUMIVAR_DOCUMENTS_DIR", docs_.File("missing-file") + "/below");
  std::ofstream(docs_.File("missing-file")) << "a file, not a folder";
  EXPECT_EQ(HtmlReport::GetUptimePercent("m1", 0, 2'000'000'000), "-");
  rows.resize(1);
  HtmlReport::LoadLastAlerts(rows);
  EXPECT_EQ(rows.size(), 1u);
}

TEST_F(HtmlReportTest, PeriodsFollowTheCalendarAcrossSummerTime) {
  tz_.emplace("TZ", "Europe/Berlin");
  tzset();
  const struct {
    const char* name;
    std::int64_t now;
    std::array<UptimePeriod, 4> expected;
  } cases[] = {
      // The day after the clocks went forward: yesterday had 23 hours.
      {"spring",
       1743415200,  // 31 Mar 2025 12:00 CEST
       {{{1743372000, 1743415200},
         {1743289200, 1743372000},
         {1742770800, 1743372000},     // 24 Mar 00:00 CET
         {1740783600, 1743372000}}}},  // 01 Mar 00:00 CET
      // The day after the clocks went back: yesterday had 25 hours.
      {"autumn",
       1761562800,  // 27 Oct 2025 12:00 CET
       {{{1761519600, 1761562800},
         {1761429600, 1761519600},
         {1761429600 - 6 * 86400, 1761519600},
         {1761429600 - 29 * 86400, 1761519600}}}},
      // A week that spans the change: the period starts at midnight 7 days back.
      {"week across the change",
       1743588000,  // 02 Apr 2025 12:00 CEST
       {{{1743544800, 1743588000},
         {1743544800 - 86400, 1743544800},
         {1742943600, 1743544800},  // 26 Mar 00:00 CET
         {1740956400, 1743544800}}}},
  };
  for (const auto& c : cases) {
    const auto periods = UptimePeriods(c.now);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(periods[i].start, c.expected[i].start) << c.name << " column " << i;
      EXPECT_EQ(periods[i].end, c.expected[i].end) << c.name << " column " << i;
    }
  }
}

TEST_F(HtmlReportTest, LastAlertsAreTheTenNewestAndOrphansCount) {
  for (int i = 0; i < 12; ++i) AddAlert("m1", 1'765'000'000 + i * 60, "t" + std::to_string(i));
  std::vector<LastAlertRow> rows;
  HtmlReport::LoadLastAlerts(rows);
  ASSERT_EQ(rows.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(rows[i].title, "t" + std::to_string(11 - i));
    EXPECT_EQ(rows[i].time, 1'765'000'000 + (11 - i) * 60);
    EXPECT_EQ(rows[i].monitorId, "m1");
    EXPECT_EQ(rows[i].actionId, "x");
  }

  // Ten newer rows of a deleted monitor push every row of a known monitor off the page.
  for (int i = 0; i < 10; ++i) AddAlert("gone", 1'766'000'000 + i, "orphan");
  HtmlSnapshot s;
  s.now = 1'767'000'000;
  HtmlMonitorInfo m;
  m.id = "m1";
  m.name = "Known";
  s.monitors = {m};
  std::string page;
  HtmlReport::BuildSnapshotPage(s, page);
  EXPECT_EQ(page.find(">t11<"), std::string::npos);
  EXPECT_EQ(page.find("orphan"), std::string::npos);
  EXPECT_EQ(page.find("Alerts has not been raised."), std::string::npos);
}

TEST_F(HtmlReportTest, WritePageReplacesTheFileWhole) {
  ASSERT_TRUE(HtmlReport::WritePage("index.html", "first"));
  ASSERT_TRUE(HtmlReport::WritePage("index.html", "second page"));
  EXPECT_EQ(ReadFile(PagePath("index.html")), "second page");
  struct stat st {};
  ASSERT_EQ(stat(PagePath("index.html").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the page and the data file (with its log while in use) is left.
  for (const auto& entry : std::filesystem::directory_iterator(docs_.Path() + "/Lumivar")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "index.html" || name == "varnholt.dat" || name == "varnholt.dat-wal" ||
                name == "varnholt.dat-shm")
        << name;
  }
}

TEST_F(HtmlReportTest, AFailedWriteKeepsTheOldPageAndThrowsNothing) {
  // The target is a folder that holds a file: the rename fails, and the system says why.
  std::filesystem::create_directories(PagePath("actions.html") + "/keep");
  std::string failure;
  EXPECT_FALSE(HtmlReport::WritePage("actions.html", "page", &failure));
  EXPECT_EQ(failure, "Is a directory");
  EXPECT_TRUE(std::filesystem::is_directory(PagePath("actions.html") + "/keep"));
  int temporaries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(docs_.Path() + "/Lumivar")) {
    if (entry.path().filename().string().starts_with("actions.html.")) ++temporaries;
  }
  EXPECT_EQ(temporaries, 0);

  // A folder that cannot be written.
  ASSERT_TRUE(HtmlReport::WritePage("index.html", "old"));
  if (geteuid() != 0) {
    chmod((docs_.Path() + "/Lumivar").c_str(), 0500);
    EXPECT_FALSE(HtmlReport::WritePage("index.html", "new", &failure));
    EXPECT_EQ(failure, "Permission denied");
    chmod((docs_.Path() + "/Lumivar").c_str(), 0700);
    EXPECT_EQ(ReadFile(PagePath("index.html")), "old");
  }
}

TEST_F(HtmlReportTest, AReaderNeverSeesAPartialPage) {
  const std::string a(300'000, 'a'), b(700'000, 'b');
  ASSERT_TRUE(HtmlReport::WritePage("index.html", a));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 100; ++i) {
      std::lock_guard lock(HtmlPageLock());
      HtmlReport::WritePage("index.html", i % 2 ? a : b);
    }
    done = true;
  });
  int reads = 0;
  while (!done) {
    const std::string seen = ReadFile(PagePath("index.html"));
    ASSERT_TRUE(seen == a || seen == b) << "read " << seen.size() << " bytes";
    ++reads;
  }
  writer.join();
  EXPECT_GT(reads, 0);
}

// Builds a German locale into a temporary folder when none is installed.
TEST_F(HtmlReportTest, PagesAreTheSameUnderAGermanLocale) {
  HtmlSnapshot s;
  s.now = 1765120500;
  HtmlMonitorInfo m;
  m.id = "m1";
  m.name = "Orders";
  m.running = true;
  m.health = true;
  m.time = s.now - 600;
  m.connectionTime = 1234567;
  s.monitors = {m};
  HtmlActionInfo a;
  a.name = "Mail";
  a.pollsCount = 1000;
  s.actions = {a};
  AddSample("m1", 1765065600 - 86400, true);  // older rows: today counts from midnight
  AddSample("m1", 1765065600 + 2000, true);
  AddSample("m1", 1765065600 + 3000, false);
  AddAlert("m1", s.now - 60, "x");
  std::string cSnapshot, cReport, cActions;
  HtmlReport::BuildSnapshotPage(s, cSnapshot);
  HtmlReport::BuildReportPage(s, cReport);
  HtmlReport::BuildActionsPage(s, cActions);
  ASSERT_NE(cSnapshot.find(">66.67%<"), std::string::npos);

  TempDir dir;
  std::optional<ScopedEnv> locpath;
  const char* name = "de_DE.UTF-8";
  if (locale_t l = newlocale(LC_ALL_MASK, name, locale_t{})) {
    freelocale(l);
  } else {
    const std::string command =
        "localedef -i de_DE -f UTF-8 " + dir.File(name) + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no German locale available";
    locpath.emplace("LOCPATH", dir.Path());
  }
  if (setlocale(LC_ALL, name) == nullptr) GTEST_SKIP() << "no German locale available";
  std::string snapshot, report, actions;
  HtmlReport::BuildSnapshotPage(s, snapshot);
  HtmlReport::BuildReportPage(s, report);
  HtmlReport::BuildActionsPage(s, actions);
  char probe[16];
  snprintf(probe, sizeof probe, "%.1f", 1.5);
  setlocale(LC_ALL, "C");
  ASSERT_STREQ(probe, "1,5") << "the locale did not change the decimal mark";
  EXPECT_EQ(snapshot, cSnapshot);
  EXPECT_EQ(report, cReport);
  EXPECT_EQ(actions, cActions);
}

}  // namespace
}  // namespace engine
