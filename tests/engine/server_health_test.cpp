#include "engine/server_health.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/action.h"
#include "engine/clock.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "engine/odbc_data_source.h"
#include "engine/server_storage.h"
#include "engine/services.h"
#include "engine/settings_source.h"
#include "platform/resources.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

constexpr std::int64_t kNow = 1'700'000'000;  // 14 Nov 2023 22:13:20 UTC

class FakeSettings : public ISettingsSource {
 public:
  AlertMessageTemplate GetAlertTemplate() const override { return templates; }
  MailSettings GetMail() const override { return {}; }
  AlertMessageTemplate templates;
};

// Every row of a query, its columns joined by "|".
std::vector<std::string> Rows(db::Database& database, const std::string& sql) {
  std::vector<std::string> rows;
  db::Statement statement(database);
  db::Cursor* cursor = nullptr;
  if (statement.Prepare(sql) != SQLITE_OK || statement.Execute(&cursor) != SQLITE_OK) {
    return {"<failed: " + sql + ">"};
  }
  for (; !cursor->IsDone(); cursor->Next()) {
    std::string row;
    for (int c = 0; c < cursor->ColumnCount(); ++c) row += (c ? "|" : "") + cursor->GetText(c);
    rows.push_back(row);
  }
  return rows;
}

class ServerHealthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tzset();
    Services::SetSettings(&settings_);
    monitor_ = std::make_shared<ODBCDataSource>();
    monitor_->name = "Sales";
    monitor_->address = "salesdsn";
    monitor_->AddDefaultAttributes();
    monitor_->current.available = true;
    monitor_->current.connectionTime = 10;
    monitor_->current.requestTime = 20;
  }
  void TearDown() override {
    Services::SetSettings(nullptr);
    tzset();
  }

  HealthAttribute& Attribute(unsigned nameId) {
    return *monitor_->FindHealthAttributeByName(platform::LoadResourceString(nameId));
  }
  std::shared_ptr<Action> NewAction(std::int32_t pollsCount) {
    auto action = std::make_shared<Action>(Action::kUserInterface);
    action->pollsCount = pollsCount;
    actions_.push_back(action);
    return action;
  }
  std::vector<AlertFiring> Check() { return monitor_->CheckAlerts(actions_); }

  ScopedEnv tz_{"TZ", "UTC"};
  FakeClock clock_{kNow};
  ScopedClock scopedClock_{&clock_};
  FakeSettings settings_;
  std::shared_ptr<ODBCDataSource> monitor_;
  std::vector<std::shared_ptr<Action>> actions_;
};

// ---- firing ----

// One alert watched over a run of polls: the attribute's value on each poll, and on which
// polls the alert fires ('F') or not ('.').
struct FiringCase {
  const char* what;
  unsigned attribute;  // string id of a built-in attribute
  std::int32_t alertType;
  std::int32_t condition;
  std::int32_t threshold;
  std::int32_t pollsCount;
  std::vector<std::int64_t> values;
  std::string expected;
};

TEST_F(ServerHealthTest, FiringSequences) {
  constexpr unsigned kAvail = ServerHealth::kAvailabilityNameId;
  constexpr unsigned kConn = ServerHealth::kConnectionTimeNameId;
  const FiringCase cases[] = {
      {"pollsCount 1 fires once per run",
       kConn,
       Alert::kError,
       1,
       100,
       1,
       {200, 200, 200, 50, 200},
       "F...F"},
      {"pollsCount 3: an unmet poll or no value starts again",
       kConn,
       Alert::kError,
       1,
       100,
       3,
       {200, 200, 50, 200, 200, -1, 200, 200, 200, 200},
       "........F."},
      {"pollsCount 0 fires on the first met poll",
       kConn,
       Alert::kError,
       1,
       100,
       0,
       {200, 200, 50, 200},
       "F..F"},
      {"negative pollsCount never fires",
       kConn,
       Alert::kError,
       1,
       100,
       -1,
       {200, 200, 200, 200},
       "...."},
      {"numeric clear alert is not inverted",
       kConn,
       Alert::kClear,
       0,
       1000,
       1,
       {2000, 500, 500, 2000, 999},
       ".F..F"},
      {"boolean error alert: met when down",
       kAvail,
       Alert::kError,
       1,
       77,
       1,
       {1, 0, 0, 1, 0},
       ".F..F"},
      {"boolean clear alert: met when up",
       kAvail,
       Alert::kClear,
       1,
       77,
       2,
       {0, 1, 1, 1, 0, 1, 1},
       "..F...F"},
  };
  for (const FiringCase& c : cases) {
    SCOPED_TRACE(c.what);
    actions_.clear();
    monitor_->alerts.clear();
    auto action = NewAction(c.pollsCount);
    Alert& alert = monitor_->AddAlert(action->id, Attribute(c.attribute).id, c.threshold,
                                      c.condition, c.alertType);
    const std::string alertId = alert.id;
    std::string fired;
    for (std::int64_t v : c.values) {
      if (c.attribute == kAvail) {
        monitor_->current.available = v != 0;
      } else {
        monitor_->current.connectionTime = v;
      }
      auto firings = Check();
      ASSERT_LE(firings.size(), 1u);
      fired += firings.empty() ? '.' : 'F';
      if (!firings.empty()) {
        EXPECT_EQ(firings[0].action, action);
        EXPECT_EQ(firings[0].alertId, alertId);
        EXPECT_EQ(firings[0].monitorId, monitor_->id);
        EXPECT_EQ(firings[0].actionId, action->id);
        EXPECT_EQ(firings[0].alertType, c.alertType);
        EXPECT_EQ(firings[0].time, kNow);
      }
    }
    EXPECT_EQ(fired, c.expected);
  }
}

TEST_F(ServerHealthTest, SkippedAlertKeepsItsCountAndResumes) {
  auto action = NewAction(3);
  const std::string attributeId = Attribute(ServerHealth::kConnectionTimeNameId).id;
  monitor_->current.connectionTime = 500;
  Alert& alert = monitor_->AddAlert(action->id, attributeId, 100, 1, Alert::kError);

  const struct {
    const char* what;
    std::function<void()> skip;
    std::function<void()> restore;
  } cases[] = {
      {"disabled", [&] { alert.enable = false; }, [&] { alert.enable = true; }},
      {"action deleted", [&] { actions_.clear(); }, [&] { actions_.push_back(action); }},
      {"attribute deleted", [&] { alert.healthAttributeId = "gone"; },
       [&] { alert.healthAttributeId = attributeId; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    alert.counter = 0;
    EXPECT_TRUE(Check().empty());
    EXPECT_TRUE(Check().empty());
    c.skip();
    EXPECT_TRUE(Check().empty());
    EXPECT_TRUE(Check().empty());
    EXPECT_EQ(alert.counter, 2);
    c.restore();
    EXPECT_EQ(Check().size(), 1u);
  }
}

// The count is compared with the action's current pollsCount, so raising it after a firing
// lets the alert fire again within the same run of met polls.
TEST_F(ServerHealthTest, RaisingPollsCountAfterFiringFiresAgainInTheSameRun) {
  auto action = NewAction(3);
  monitor_->current.connectionTime = 500;
  monitor_->AddAlert(action->id, Attribute(ServerHealth::kConnectionTimeNameId).id, 100, 1,
                     Alert::kError);
  std::string fired;
  for (int poll = 0; poll < 6; ++poll) {
    if (poll == 4) action->pollsCount = 5;
    fired += Check().empty() ? '.' : 'F';
  }
  EXPECT_EQ(fired, "..F.F.");
}

TEST_F(ServerHealthTest, FiringExpandsTheTemplatesAndResetsDone) {
  settings_.templates.title = "%ATTRIBUTE_TYPE% on %MONITOR_NAME%";
  settings_.templates.message = "%ATTRIBUTE_NAME% = %ATTRIBUTE_VALUE% at %ALERT_TIME%";
  auto action = NewAction(1);
  monitor_->current.connectionTime = 1234;
  Alert& alert = monitor_->AddAlert(action->id, Attribute(ServerHealth::kConnectionTimeNameId).id,
                                    1000, 1, Alert::kError);
  alert.done = true;
  auto firings = Check();
  ASSERT_EQ(firings.size(), 1u);
  EXPECT_EQ(firings[0].subject, "ERROR on Sales");
  EXPECT_EQ(firings[0].text, "Connection Time (ms.) = 1234 at 14 Nov 2023 10:13 PM");
  EXPECT_FALSE(alert.done);
}

// ---- conditions and values ----

TEST_F(ServerHealthTest, CompareConditionAroundTheThreshold) {
  // For each condition: met at threshold - 1, threshold, threshold + 1.
  const struct {
    std::int32_t condition;
    bool below, at, above;
  } cases[] = {
      {0, true, false, false},  {1, false, false, true},   {2, false, true, false},
      {3, true, true, false},   {4, false, true, true},    {5, true, false, true},
      {6, false, false, false}, {-1, false, false, false},
  };
  for (std::int64_t t : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{1} << 40}) {
    for (const auto& c : cases) {
      SCOPED_TRACE("condition " + std::to_string(c.condition) + " threshold " + std::to_string(t));
      EXPECT_EQ(ServerHealth::CompareCondition(t - 1, t, c.condition, true), c.below);
      EXPECT_EQ(ServerHealth::CompareCondition(t, t, c.condition, true), c.at);
      EXPECT_EQ(ServerHealth::CompareCondition(t + 1, t, c.condition, true), c.above);
    }
  }
  // A boolean attribute ignores threshold and condition: met exactly when the value is 0.
  for (std::int32_t condition : {0, 1, 2, 5, 9}) {
    EXPECT_TRUE(ServerHealth::CompareCondition(0, 1, condition, false));
    EXPECT_FALSE(ServerHealth::CompareCondition(1, 1, condition, false));
    EXPECT_FALSE(ServerHealth::CompareCondition(-1, 0, condition, false));
  }
}

TEST_F(ServerHealthTest, AttributeValues) {
  TestQuery& query = monitor_->AddTestQuery();
  query.value = 42;
  const std::string queryAttribute = monitor_->healthAttributes.back().id;
  EXPECT_EQ(monitor_->healthAttributes.back().name, "Test Query Value");
  const std::string unknown = monitor_->AddHealthAttribute("Something Else", "").id;
  const std::string orphan = monitor_->AddHealthAttribute("Test Query Value", "no such query").id;

  monitor_->current.available = true;
  monitor_->current.health = false;
  monitor_->current.connectionTime = (std::int64_t{1} << 32) + 7;
  monitor_->current.requestTime = -1;
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(ServerHealth::kAvailabilityNameId).id), 1);
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(ServerHealth::kHealthNameId).id), 0);
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(ServerHealth::kConnectionTimeNameId).id), 7);
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(ServerHealth::kRequestTimeNameId).id), -1);
  EXPECT_EQ(monitor_->GetAttributeValue(unknown), -1);
  EXPECT_EQ(monitor_->GetAttributeValue(orphan), -1);
  EXPECT_EQ(monitor_->GetAttributeValue("no such attribute"), -1);

  EXPECT_EQ(monitor_->GetAttributeValue(queryAttribute), 42);
  query.enable = false;  // the enable flag is not looked at
  EXPECT_EQ(monitor_->GetAttributeValue(queryAttribute), 42);
  query.errorCode = -1;
  EXPECT_EQ(monitor_->GetAttributeValue(queryAttribute), -1);
}

TEST_F(ServerHealthTest, Health) {
  const std::string health = Attribute(ServerHealth::kHealthNameId).id;
  const std::string conn = Attribute(ServerHealth::kConnectionTimeNameId).id;
  TestQuery& query = monitor_->AddTestQuery();
  query.value = 5;
  const std::string queryAttribute = monitor_->healthAttributes.back().id;
  monitor_->current.connectionTime = 500;

  EXPECT_TRUE(monitor_->EvaluateHealth());
  // Alerts on the health attribute itself never count, clear alerts neither.
  monitor_->AddAlert("", health, 0, 0, Alert::kError);
  monitor_->AddAlert("", conn, 100, 1, Alert::kClear);
  monitor_->AddAlert("", conn, 100, 1, Alert::kError).enable = false;
  EXPECT_TRUE(monitor_->EvaluateHealth());
  // An error alert whose condition holds does, whether or not it has an action.
  Alert& slow = monitor_->AddAlert("", conn, 100, 1, Alert::kError);
  EXPECT_FALSE(monitor_->EvaluateHealth());
  monitor_->current.connectionTime = 50;
  EXPECT_TRUE(monitor_->EvaluateHealth());
  // No value is not filtered out: -1 is below 100.
  slow.condition = 0;
  monitor_->current.connectionTime = -1;
  EXPECT_FALSE(monitor_->EvaluateHealth());
  slow.enable = false;

  // A failing test query makes an error alert on it met whatever its condition; a disabled
  // or missing test query is skipped.
  const std::string missingQuery = monitor_->AddHealthAttribute("Test Query Value", "gone").id;
  Alert& onQuery = monitor_->AddAlert("", queryAttribute, -1000, 0, Alert::kError);
  EXPECT_TRUE(monitor_->EvaluateHealth());
  query.errorCode = -1;
  EXPECT_FALSE(monitor_->EvaluateHealth());
  query.enable = false;
  EXPECT_TRUE(monitor_->EvaluateHealth());
  query.enable = true;
  onQuery.healthAttributeId = missingQuery;
  EXPECT_TRUE(monitor_->EvaluateHealth());
}

// The health computed after a poll is what an alert on health sees in the same poll.
TEST_F(ServerHealthTest, AlertOnHealthSeesTheHealthOfTheSamePoll) {
  auto action = NewAction(1);
  monitor_->AddAlert(action->id, Attribute(ServerHealth::kHealthNameId).id, 0, 0, Alert::kError);
  monitor_->AddAlert("", Attribute(ServerHealth::kConnectionTimeNameId).id, 100, 1, Alert::kError);
  monitor_->current.health = true;
  monitor_->current.connectionTime = 500;
  monitor_->current.health = monitor_->current.available && monitor_->EvaluateHealth();
  EXPECT_EQ(Check().size(), 1u);
}

// ---- macros ----

TEST_F(ServerHealthTest, DefaultTemplatesGiveTheExactTexts) {
  monitor_->name = "Bob's DB";
  monitor_->current.SetError(-2, "Boom\nsecond line");
  monitor_->current.connectionTime = 1234;
  Alert& alert = monitor_->AddAlert("", Attribute(ServerHealth::kConnectionTimeNameId).id, 1000, 1,
                                    Alert::kError);
  const AlertMessageTemplate defaults;
  std::string title = defaults.title;
  std::string message = defaults.message;
  monitor_->ExpandMacros(title, &alert, 1234);
  monitor_->ExpandMacros(message, &alert, 1234);
  EXPECT_EQ(title, "14 Nov 2023 10:13 PM ERROR Connection Time (ms.) On Bob's DB");
  EXPECT_EQ(message,
            "14 Nov 2023 10:13 PM\r\nConnection Time (ms.) On Bob's DB(salesdsn): ERROR\r\n\r\n"
            "Connection Time (ms.) = 1234\r\n\r\nBoom\nsecond line [FFFFFFFE]");
}

TEST_F(ServerHealthTest, MacroExpansion) {
  const std::string avail = Attribute(ServerHealth::kAvailabilityNameId).id;
  const std::string conn = Attribute(ServerHealth::kConnectionTimeNameId).id;
  struct Case {
    const char* what;
    std::string name;
    std::int32_t errorCode;
    std::string errorText;
    bool withAlert;
    std::string attributeId;
    std::int32_t alertType;
    std::int64_t threshold;
    std::int32_t value;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"no macros", "Sales", 0, "", true, conn, 0, 0, 1, "plain text", "plain text"},
      {"unknown macro stays", "Sales", 0, "", true, conn, 0, 0, 1, "%FOO% %MONITOR_NAME",
       "%FOO% %MONITOR_NAME"},
      {"error 0", "S", 0, "", false, "", 0, 0, 0, "<%ERROR_NUMBER%>", "<>"},
      {"error -1", "S", -1, "x", false, "", 0, 0, 0, "<%ERROR_NUMBER%>", "<>"},
      {"error -2", "S", -2, "x", false, "", 0, 0, 0, "<%ERROR_NUMBER%>", "<[FFFFFFFE]>"},
      {"error 10061", "S", 10061, "x", false, "", 0, 0, 0, "%ERROR_NUMBER%", "[274D]"},
      {"without an alert it stops after the error", "S", 0, "d", false, "", 0, 0, 0,
       "%MONITOR_NAME% %SERVER_NAME% %ERROR_DESCRIPTION% %ALERT_TIME% %ATTRIBUTE_TYPE%",
       "S salesdsn d %ALERT_TIME% %ATTRIBUTE_TYPE%"},
      {"without the attribute it stops after the type", "S", 0, "", true, "gone", 1, 0, 0,
       "%ALERT_TIME% %ATTRIBUTE_TYPE% %ATTRIBUTE_VALUE% %ATTRIBUTE_NAME%",
       "14 Nov 2023 10:13 PM CLEAR %ATTRIBUTE_VALUE% %ATTRIBUTE_NAME%"},
      {"numeric", "S", 0, "", true, conn, 0, -7, 12,
       "%ATTRIBUTE_NAME%=%ATTRIBUTE_VALUE% (%ATTRIBUTE_THRESHOLD%)",
       "Connection Time (ms.)=12 (-7)"},
      {"threshold shows its low 32 bits", "S", 0, "", true, conn, 0, (std::int64_t{1} << 32) + 5, 0,
       "%ATTRIBUTE_THRESHOLD%", "5"},
      {"boolean 0", "S", 0, "", true, avail, 0, 9, 0, "%ATTRIBUTE_VALUE%<%ATTRIBUTE_THRESHOLD%>",
       "ERROR<>"},
      {"boolean 1", "S", 0, "", true, avail, 1, 9, 1, "%ATTRIBUTE_VALUE%<%ATTRIBUTE_THRESHOLD%>",
       "CLEAR<>"},
      {"a later macro inside a replacement is expanded", "%SERVER_NAME%", 0,
       "%ATTRIBUTE_NAME% failed", true, conn, 0, 0, 0, "%MONITOR_NAME%: %ERROR_DESCRIPTION%",
       "salesdsn: Connection Time (ms.) failed"},
      {"an earlier macro inside a replacement stays", "S", 0, "%MONITOR_NAME%", false, "", 0, 0, 0,
       "%ERROR_DESCRIPTION%", "%MONITOR_NAME%"},
      {"a name that is its own macro ends", "%MONITOR_NAME%", 0, "", false, "", 0, 0, 0,
       "%MONITOR_NAME%-%MONITOR_NAME%!", "%MONITOR_NAME%-%MONITOR_NAME%!"},
      {"a name that holds its own macro twice", "a%MONITOR_NAME%%MONITOR_NAME%b", 0, "", false, "",
       0, 0, 0, "[%MONITOR_NAME%]", "[a%MONITOR_NAME%%MONITOR_NAME%b]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    monitor_->name = c.name;
    monitor_->current.SetError(c.errorCode, c.errorText);
    Alert alert(monitor_->id);
    alert.healthAttributeId = c.attributeId;
    alert.alertType = c.alertType;
    alert.threshold = c.threshold;
    std::string text = c.text;
    monitor_->ExpandMacros(text, c.withAlert ? &alert : nullptr, c.value);
    EXPECT_EQ(text, c.expected);
  }
}

// ---- rows ----

class ServerHealthFilesTest : public ServerHealthTest {
 protected:
  void SetUp() override {
    ServerHealthTest::SetUp();
    ServerStorage::CreateConfigTables();
    ServerStorage::CreateDataTables();
  }
  std::vector<std::string> ConfigRows(const std::string& sql) {
    db::Database database;
    EXPECT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kConfigFileName), SQLITE_OK);
    return Rows(database, sql);
  }

  TempDir dir_;
  ScopedEnv documents_{"LUMIVAR_DOCUMENTS_DIR", dir_.Path()};
};

TEST_F(ServerHealthFilesTest, SaveAndLoadKeepEveryField) {
  TestQuery& query = monitor_->AddTestQuery();
  HealthAttribute& queryAttribute = monitor_->healthAttributes.back();
  queryAttribute.name = "Ann's \"query\" — größe";
  Alert& alert = monitor_->AddAlert("action-1", queryAttribute.id, 0, 5, Alert::kClear);
  alert.threshold = std::int64_t{1} << 40;
  alert.enable = false;
  alert.customMessage = "it's 'quoted'\r\nünïcödé ✓";
  monitor_->AddAlert("action-2", Attribute(ServerHealth::kAvailabilityNameId).id, -3, 0,
                     Alert::kError);
  {
    db::Database database;
    ASSERT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kConfigFileName), SQLITE_OK);
    EXPECT_EQ(monitor_->Save(database), SQLITE_OK);
  }

  ODBCDataSource loaded;
  loaded.id = monitor_->id;
  {
    db::Database database;
    ASSERT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kConfigFileName), SQLITE_OK);
    EXPECT_EQ(loaded.ServerHealth::Load(database), SQLITE_OK);
  }
  ASSERT_EQ(loaded.healthAttributes.size(), monitor_->healthAttributes.size());
  for (std::size_t i = 0; i < loaded.healthAttributes.size(); ++i) {
    const HealthAttribute& a = loaded.healthAttributes[i];
    const HealthAttribute& b = monitor_->healthAttributes[i];
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.testQueryId, b.testQueryId);
    EXPECT_EQ(a.type, b.type);
  }
  EXPECT_EQ(loaded.healthAttributes[4].testQueryId, query.id);
  ASSERT_EQ(loaded.alerts.size(), 2u);
  for (std::size_t i = 0; i < loaded.alerts.size(); ++i) {
    const Alert& a = loaded.alerts[i];
    const Alert& b = monitor_->alerts[i];
    EXPECT_EQ(a.monitorId, monitor_->id);
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.actionId, b.actionId);
    EXPECT_EQ(a.healthAttributeId, b.healthAttributeId);
    EXPECT_EQ(a.enable, b.enable);
    EXPECT_EQ(a.threshold, b.threshold);
    EXPECT_EQ(a.condition, b.condition);
    EXPECT_EQ(a.alertType, b.alertType);
    EXPECT_EQ(a.customMessage, b.customMessage);
    EXPECT_EQ(a.counter, 0);
  }
  // Values are stored as the texts the statements name.
  EXPECT_EQ(ConfigRows("SELECT enable, threshold, condition, alertType FROM Alerts WHERE "
                       "actionId = 'action-1'"),
            std::vector<std::string>{"0|1099511627776|5|1"});
}

TEST_F(ServerHealthFilesTest, FailingLoadLeavesEverythingAsItWas) {
  db::Database database;
  ASSERT_EQ(database.Open(dir_.File("empty.db")), SQLITE_OK);
  const auto before = monitor_->healthAttributes.size();
  monitor_->AddAlert("a", "b", 1, 1, 0);
  EXPECT_NE(monitor_->ServerHealth::Load(database), SQLITE_OK);
  EXPECT_EQ(monitor_->healthAttributes.size(), before);
  EXPECT_EQ(monitor_->alerts.size(), 1u);
}

TEST_F(ServerHealthFilesTest, Deletes) {
  ODBCDataSource other;
  other.AddAlert("x", "y", 0, 0, 0);
  TestQuery& first = monitor_->AddTestQuery();
  const std::string firstAttribute = monitor_->healthAttributes.back().id;
  const std::string firstId = first.id;
  monitor_->AddTestQuery();
  const std::string secondAttribute = monitor_->healthAttributes.back().id;
  const std::string onFirst = monitor_->AddAlert("a", firstAttribute, 0, 0, 0).id;
  monitor_->AddAlert("a", secondAttribute, 0, 0, 0);
  const std::string builtIn =
      monitor_->AddAlert("a", Attribute(ServerHealth::kHealthNameId).id, 0, 0, 0).id;
  {
    db::Database database;
    ASSERT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kConfigFileName), SQLITE_OK);
    monitor_->Save(database);
    other.ServerHealth::Save(database);
    monitor_->DeleteTestQueryAttributes(database, firstId);
  }
  EXPECT_EQ(monitor_->FindHealthAttribute(firstAttribute), nullptr);
  EXPECT_NE(monitor_->FindHealthAttribute(secondAttribute), nullptr);
  EXPECT_EQ(monitor_->FindAlert(onFirst), nullptr);
  EXPECT_EQ(monitor_->alerts.size(), 2u);
  EXPECT_EQ(monitor_->healthAttributes.size(), 5u);
  EXPECT_EQ(
      ConfigRows("SELECT count(*) FROM HealthAttributes WHERE monitorId = '" + monitor_->id + "'"),
      std::vector<std::string>{"5"});
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM Alerts WHERE id = '" + onFirst + "'"),
            std::vector<std::string>{"0"});

  monitor_->DeleteAlert(builtIn);
  EXPECT_EQ(monitor_->alerts.size(), 1u);
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM Alerts"), std::vector<std::string>{"2"});
  monitor_->DeleteAllAlerts();
  EXPECT_TRUE(monitor_->alerts.empty());
  EXPECT_EQ(ConfigRows("SELECT monitorId FROM Alerts"), std::vector<std::string>{other.id});
}

TEST_F(ServerHealthFilesTest, AlertsDataRowKeepsTheTitleAsItStands) {
  ServerHealth::AddAlertsData("m", "a", kNow, "act", "Bob's DB is 'down'");
  db::Database database;
  ASSERT_EQ(ServerStorage::OpenDatabase(database, ServerStorage::kDataFileName), SQLITE_OK);
  EXPECT_EQ(Rows(database, "SELECT * FROM AlertsData"),
            std::vector<std::string>{"m|a|1700000000|act|Bob's DB is 'down'"});
}

}  // namespace
}  // namespace engine
