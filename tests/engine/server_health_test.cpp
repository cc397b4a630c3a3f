#include "engine/monitor/server_health.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/settings_source.h"
#include "platform/resources.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::ConfigRows;
using testing::DataRows;
using testing::Rows;

constexpr std::int64_t kNow = 1'700'000'000;  // 14 Nov 2023 22:13:20 in London and UTC
constexpr unsigned kAvail = ServerHealth::kAvailabilityNameId;
constexpr unsigned kHealth = ServerHealth::kHealthNameId;
constexpr unsigned kConn = ServerHealth::kConnectionTimeNameId;

class FakeSettings : public ISettingsSource {
 public:
  AlertMessageTemplate GetAlertTemplate() const override { return templates; }
  MailSettings GetMail() const override { return {}; }
  AlertMessageTemplate templates;
};

class ServerHealthTest : public testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetSettings(&settings_);
    monitor_->name = "Sales";
    monitor_->address = "salesdsn";
    monitor_->AddDefaultAttributes();
    monitor_->current.connectionTime = 10;
  }

  std::string Attribute(unsigned nameId) {
    return monitor_->FindHealthAttributeByName(platform::LoadResourceString(nameId))->id;
  }
  std::shared_ptr<Action> NewAction(std::int32_t pollsCount) {
    auto action = std::make_shared<Action>(Action::kUserInterface);
    action->pollsCount = pollsCount;
    actions_.push_back(action);
    return action;
  }
  std::vector<AlertFiring> Check() { return monitor_->CheckAlerts(actions_); }

  FakeClock clock_{kNow};
  ScopedClock scopedClock_{&clock_};
  FakeSettings settings_;
  std::shared_ptr<ODBCDataSource> monitor_ = std::make_shared<ODBCDataSource>();
  std::vector<std::shared_ptr<Action>> actions_;
};

// ---- firing ----

TEST_F(ServerHealthTest, FiringSequences) {
  // One alert over a run of polls: the attribute's value on each poll ("-" for none) and
  // the polls on which it fires.
  settings_.templates.title = "%ATTRIBUTE_TYPE% on %MONITOR_NAME%";
  settings_.templates.message = "at %ALERT_TIME%";
  const struct {
    const char* what;
    unsigned attribute;
    std::int32_t alertType, condition, threshold, pollsCount;
    const char* values;
    const char* fires;
  } cases[] = {
      {"pollsCount 1: once per run", kConn, 0, 1, 100, 1, "200 200 200 50 200", "F...F"},
      {"pollsCount 3: unmet or no value starts again", kConn, 0, 1, 100, 3,
       "200 200 50 200 200 - 200 200 200 200", "........F."},
      {"pollsCount 0: the first met poll", kConn, 0, 1, 100, 0, "200 200 50 200", "F..F"},
      {"pollsCount -1: never", kConn, 0, 1, 100, -1, "200 200 200 200", "...."},
      {"numeric clear alert is not inverted", kConn, 1, 0, 1000, 1, "2000 500 500 2000 999",
       ".F..F"},
      {"boolean error alert: met when down", kAvail, 0, 1, 77, 1, "1 0 0 1 0", ".F..F"},
      {"boolean clear alert: met when up", kAvail, 1, 1, 77, 2, "0 1 1 1 0 1 1", "..F...F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    actions_.clear();
    monitor_->alerts.clear();
    auto action = NewAction(c.pollsCount);
    const std::string alertId =
        monitor_
            ->AddAlert(action->id, Attribute(c.attribute), c.threshold, c.condition, c.alertType)
            .id;
    std::istringstream values(c.values);
    std::string fired;
    for (std::string v; values >> v;) {
      const std::int64_t value = v == "-" ? -1 : std::stoll(v);
      if (c.attribute == kAvail) monitor_->current.available = value != 0;
      if (c.attribute == kConn) monitor_->current.connectionTime = value;
      monitor_->alerts[0].done = true;
      auto firings = Check();
      ASSERT_LE(firings.size(), 1u);
      fired += firings.empty() ? '.' : 'F';
      if (firings.empty()) continue;
      EXPECT_EQ(firings[0].action, action);
      EXPECT_EQ(firings[0].actionId, action->id);
      EXPECT_EQ(firings[0].monitorId + "/" + firings[0].alertId, monitor_->id + "/" + alertId);
      EXPECT_EQ(firings[0].alertType, c.alertType);
      EXPECT_EQ(firings[0].time, kNow);
      // The user's templates, expanded; the alert counts as running again.
      EXPECT_EQ(firings[0].subject, (c.alertType ? "CLEAR" : "ERROR") + std::string(" on Sales"));
      EXPECT_EQ(firings[0].text, "at 14 Nov 2023 10:13 PM");
      EXPECT_FALSE(monitor_->alerts[0].done);
    }
    EXPECT_EQ(fired, c.fires);
  }
}

TEST_F(ServerHealthTest, SkippedAlertKeepsItsCount) {
  auto action = NewAction(3);
  const std::string attribute = Attribute(kConn);
  monitor_->current.connectionTime = 500;
  Alert& alert = monitor_->AddAlert(action->id, attribute, 100, 1, Alert::kError);
  const struct {
    const char* what;
    std::function<void(bool)> skip;
  } cases[] = {
      {"disabled", [&](bool skip) { alert.enable = !skip; }},
      {"action deleted",
       [&](bool skip) { actions_ = skip ? decltype(actions_){} : decltype(actions_){action}; }},
      {"attribute deleted",
       [&](bool skip) { alert.healthAttributeId = skip ? "gone" : attribute; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    alert.counter = 0;
    EXPECT_TRUE(Check().empty() && Check().empty());
    c.skip(true);
    EXPECT_TRUE(Check().empty() && Check().empty());
    EXPECT_EQ(alert.counter, 2);
    c.skip(false);
    EXPECT_EQ(Check().size(), 1u);
  }
  // The count is compared with the action's pollsCount of the moment: raised after a
  // firing, the alert fires again within the same run.
  EXPECT_TRUE(Check().empty());
  action->pollsCount = 5;
  EXPECT_EQ(Check().size(), 1u);
}

// ---- conditions, values, health ----

TEST_F(ServerHealthTest, CompareConditionAroundTheThreshold) {
  // Per condition: met at threshold - 1, at the threshold, at threshold + 1.
  const char* expected[] = {"TFF", "FFT", "FTF", "TTF", "FTT", "TFT", "FFF", "FFF"};
  const std::int32_t conditions[] = {0, 1, 2, 3, 4, 5, 6, -1};
  for (std::int64_t t : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{1} << 40}) {
    for (int i = 0; i < 8; ++i) {
      std::string met;
      for (std::int64_t v : {t - 1, t, t + 1}) {
        met += ServerHealth::CompareCondition(v, t, conditions[i], true) ? 'T' : 'F';
      }
      EXPECT_EQ(met, expected[i]) << "condition " << conditions[i] << " threshold " << t;
    }
  }
  // A boolean attribute ignores threshold and condition: met exactly when the value is 0.
  for (std::int32_t condition : {0, 1, 5, 9}) {
    EXPECT_TRUE(ServerHealth::CompareCondition(0, 1, condition, false));
    EXPECT_FALSE(ServerHealth::CompareCondition(1, 1, condition, false));
    EXPECT_FALSE(ServerHealth::CompareCondition(-1, 0, condition, false));
  }
}

TEST_F(ServerHealthTest, AttributeValues) {
  TestQuery& query = monitor_->AddTestQuery();
  query.value = 42;
  const std::string onQuery = monitor_->healthAttributes.back().id;
  const std::string unknown = monitor_->AddHealthAttribute("Something Else", "").id;
  const std::string orphan = monitor_->AddHealthAttribute("Test Query Value", "gone").id;
  monitor_->current.available = true;
  monitor_->current.health = false;
  monitor_->current.connectionTime = (std::int64_t{1} << 32) + 7;
  monitor_->current.requestTime = -1;

  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(kAvail)), 1);
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(kHealth)), 0);
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(kConn)), 7);  // its low 32 bits
  EXPECT_EQ(monitor_->GetAttributeValue(Attribute(ServerHealth::kRequestTimeNameId)), -1);
  for (const std::string& id : {unknown, orphan, std::string("no such attribute")}) {
    EXPECT_EQ(monitor_->GetAttributeValue(id), -1);
  }
  query.enable = false;  // not looked at
  EXPECT_EQ(monitor_->GetAttributeValue(onQuery), 42);
  query.errorCode = -1;
  EXPECT_EQ(monitor_->GetAttributeValue(onQuery), -1);
}

TEST_F(ServerHealthTest, Health) {
  TestQuery& query = monitor_->AddTestQuery();
  query.value = 5;
  const std::string onQuery = monitor_->healthAttributes.back().id;
  const std::string missingQuery = monitor_->AddHealthAttribute("Test Query Value", "gone").id;
  monitor_->current.connectionTime = 500;

  // Alerts on the health attribute itself, clear alerts and disabled ones never count.
  monitor_->AddAlert("", Attribute(kHealth), 0, 0, Alert::kError);
  monitor_->AddAlert("", Attribute(kConn), 100, 1, Alert::kClear);
  monitor_->AddAlert("", Attribute(kConn), 100, 1, Alert::kError).enable = false;
  EXPECT_TRUE(monitor_->EvaluateHealth());
  // A met error alert does, with or without an action; no value (-1) is not filtered out.
  Alert& slow = monitor_->AddAlert("", Attribute(kConn), 100, 1, Alert::kError);
  EXPECT_FALSE(monitor_->EvaluateHealth());
  monitor_->current.connectionTime = 50;
  EXPECT_TRUE(monitor_->EvaluateHealth());
  slow.condition = 0;
  monitor_->current.connectionTime = -1;
  EXPECT_FALSE(monitor_->EvaluateHealth());
  slow.enable = false;

  // A failing test query makes an error alert on it met whatever its condition; a disabled
  // or missing test query is skipped.
  Alert& alert = monitor_->AddAlert("", onQuery, -1000, 0, Alert::kError);
  EXPECT_TRUE(monitor_->EvaluateHealth());
  query.errorCode = -1;
  EXPECT_FALSE(monitor_->EvaluateHealth());
  query.enable = false;
  EXPECT_TRUE(monitor_->EvaluateHealth());
  query.enable = true;
  alert.healthAttributeId = missingQuery;
  EXPECT_TRUE(monitor_->EvaluateHealth());
}

// ---- macros ----

TEST_F(ServerHealthTest, MacroExpansion) {
  const std::string avail = Attribute(kAvail);
  const std::string conn = Attribute(kConn);
  const struct {
    std::string name;
    std::int32_t errorCode;
    std::string errorText;
    std::string attributeId;  // "" for no alert
    std::int32_t alertType;
    std::int64_t threshold;
    std::int32_t value;
    std::string text;
    std::string expected;
  } cases[] = {
      // The default templates.
      {"Bob's DB", -2, "Boom\nsecond line", conn, 0, 1000, 1234, AlertMessageTemplate().title,
       "14 Nov 2023 10:13 PM ERROR Connection Time (ms.) On Bob's DB"},
      {"Bob's DB", -2, "Boom\nsecond line", conn, 0, 1000, 1234, AlertMessageTemplate().message,
       "14 Nov 2023 10:13 PM\r\nConnection Time (ms.) On Bob's DB(salesdsn): ERROR\r\n\r\n"
       "Connection Time (ms.) = 1234\r\n\r\nBoom\nsecond line [FFFFFFFE]"},
      {"S", 0, "", conn, 0, 0, 1, "plain %FOO% %MONITOR_NAME", "plain %FOO% %MONITOR_NAME"},
      {"S", 0, "", "", 0, 0, 0, "<%ERROR_NUMBER%>", "<>"},
      {"S", -1, "x", "", 0, 0, 0, "<%ERROR_NUMBER%>", "<>"},
      {"S", 10061, "x", "", 0, 0, 0, "%ERROR_NUMBER%", "[274D]"},
      // Without an alert the expansion stops after the error; without its attribute, after
      // the type.
      {"S", 0, "d", "", 0, 0, 0, "%MONITOR_NAME% %SERVER_NAME% %ERROR_DESCRIPTION% %ALERT_TIME%",
       "S salesdsn d %ALERT_TIME%"},
      {"S", 0, "", "gone", 1, 0, 0, "%ALERT_TIME% %ATTRIBUTE_TYPE% %ATTRIBUTE_VALUE%",
       "14 Nov 2023 10:13 PM CLEAR %ATTRIBUTE_VALUE%"},
      {"S", 0, "", conn, 0, -7, 12, "%ATTRIBUTE_VALUE% (%ATTRIBUTE_THRESHOLD%)", "12 (-7)"},
      {"S", 0, "", conn, 0, (std::int64_t{1} << 32) + 5, 0, "%ATTRIBUTE_THRESHOLD%", "5"},
      {"S", 0, "", avail, 0, 9, 0, "%ATTRIBUTE_VALUE%<%ATTRIBUTE_THRESHOLD%>", "ERROR<>"},
      {"S", 0, "", avail, 1, 9, 1, "%ATTRIBUTE_VALUE%<%ATTRIBUTE_THRESHOLD%>", "CLEAR<>"},
      // A later macro inside a replacement is expanded in its turn; an earlier one stays.
      {"%SERVER_NAME%", 0, "%ATTRIBUTE_NAME% %MONITOR_NAME%", conn, 0, 0, 0,
       "%MONITOR_NAME%: %ERROR_DESCRIPTION%", "salesdsn: Connection Time (ms.) %MONITOR_NAME%"},
      // A name that is, or holds, its own macro does not make the expansion go on for ever.
      {"%MONITOR_NAME%", 0, "", "", 0, 0, 0, "%MONITOR_NAME%-%MONITOR_NAME%",
       "%MONITOR_NAME%-%MONITOR_NAME%"},
      {"a%MONITOR_NAME%%MONITOR_NAME%b", 0, "", "", 0, 0, 0, "[%MONITOR_NAME%]",
       "[a%MONITOR_NAME%%MONITOR_NAME%b]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    monitor_->name = c.name;
    monitor_->current.SetError(c.errorCode, c.errorText);
    Alert alert(monitor_->id);
    alert.healthAttributeId = c.attributeId;
    alert.alertType = c.alertType;
    alert.threshold = c.threshold;
    std::string text = c.text;
    monitor_->ExpandMacros(text, c.attributeId.empty() ? nullptr : &alert, c.value);
    EXPECT_EQ(text, c.expected);
  }
}

// ---- rows ----

// An attribute or alert as one text, every stored field included.
std::string Text(const HealthAttribute& a) {
  return a.id + "|" + a.name + "|" + a.testQueryId + "|" + std::to_string(a.type);
}
std::string Text(const Alert& a) {
  return a.monitorId + "|" + a.id + "|" + a.actionId + "|" + a.healthAttributeId + "|" +
         std::to_string(a.enable) + "|" + std::to_string(a.threshold) + "|" +
         std::to_string(a.condition) + "|" + std::to_string(a.alertType) + "|" + a.customMessage;
}

TEST_F(ServerHealthTest, SaveAndLoadKeepEveryField) {
  monitor_->AddTestQuery();
  monitor_->healthAttributes.back().name = "Ann's \"query\" — größe";
  Alert& alert = monitor_->AddAlert("action-1", monitor_->healthAttributes.back().id, 0, 5, 1);
  alert.threshold = std::int64_t{1} << 40;
  alert.enable = false;
  alert.customMessage = "it's 'quoted'\r\nünïcödé ✓";
  monitor_->AddAlert("action-2", Attribute(kAvail), -3, 0, 0);
  db::Database database;
  ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kConfigFileName), 0);
  EXPECT_EQ(monitor_->ServerHealth::Save(database), 0);

  ODBCDataSource loaded;
  loaded.id = monitor_->id;
  EXPECT_EQ(loaded.ServerHealth::Load(database), 0);
  ASSERT_EQ(loaded.healthAttributes.size(), 5u);
  ASSERT_EQ(loaded.alerts.size(), 2u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(Text(loaded.healthAttributes[i]), Text(monitor_->healthAttributes[i]));
  }
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(Text(loaded.alerts[i]), Text(monitor_->alerts[i]));
  EXPECT_EQ(ConfigRows("SELECT threshold, condition FROM Alerts WHERE actionId = 'action-1'"),
            (Rows{{"1099511627776", "5"}}));

  // A failing query leaves both sequences as they were.
  db::Database empty;
  ASSERT_EQ(empty.Open(dir_.File("empty.db")), 0);
  EXPECT_NE(loaded.ServerHealth::Load(empty), 0);
  EXPECT_EQ(loaded.healthAttributes.size(), 5u);
  EXPECT_EQ(loaded.alerts.size(), 2u);
}

TEST_F(ServerHealthTest, TakesAndPutsBack) {
  ODBCDataSource other;
  other.AddAlert("x", "y", 0, 0, 0);
  const std::string firstQuery = monitor_->AddTestQuery().id;
  const std::string first = monitor_->healthAttributes.back().id;
  monitor_->AddTestQuery();
  const std::string second = monitor_->healthAttributes.back().id;
  const std::string onFirst = monitor_->AddAlert("a", first, 0, 0, 0).id;
  monitor_->AddAlert("a", second, 0, 0, 0);
  const std::string onHealth = monitor_->AddAlert("a", Attribute(kHealth), 0, 0, 0).id;
  const auto ids = [](const auto& sequence) {
    std::vector<std::string> out;
    for (const auto& element : sequence) out.push_back(element.id);
    return out;
  };
  const std::vector<std::string> attributesBefore = ids(monitor_->healthAttributes);
  const std::vector<std::string> alertsBefore = ids(monitor_->alerts);
  db::Database database;
  ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kConfigFileName), 0);
  monitor_->ServerHealth::Save(database);
  other.ServerHealth::Save(database);

  // A test query's attributes go with the alerts on them; put back, each is where it was.
  TakenHealth taken;
  std::vector<std::string> statements;
  monitor_->TakeTestQueryAttributes(firstQuery, &taken, &statements);
  EXPECT_EQ(monitor_->FindHealthAttribute(first), nullptr);
  EXPECT_NE(monitor_->FindHealthAttribute(second), nullptr);
  EXPECT_EQ(monitor_->FindAlert(onFirst), nullptr);
  EXPECT_EQ(monitor_->alerts.size(), 2u);
  monitor_->PutBackHealth(taken);
  EXPECT_EQ(ids(monitor_->healthAttributes), attributesBefore);
  EXPECT_EQ(ids(monitor_->alerts), alertsBefore);
  taken = {};
  statements.clear();
  monitor_->TakeTestQueryAttributes(firstQuery, &taken, &statements);
  for (const std::string& statement : statements) {
    ASSERT_EQ(db::Database::ExecSQL(database, statement), 0);
  }
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM HealthAttributes"), (Rows{{"5"}}));
  EXPECT_EQ(ConfigRows("SELECT count(*) FROM Alerts WHERE id = '" + onFirst + "'"), (Rows{{"0"}}));

  // One alert, then every alert: their rows only.
  statements.clear();
  monitor_->TakeAlertRecords({onHealth}, false, &taken, &statements);
  EXPECT_EQ(monitor_->alerts.size(), 1u);
  monitor_->TakeAlertRecords({}, true, &taken, &statements);
  EXPECT_TRUE(monitor_->alerts.empty());
  for (const std::string& statement : statements) {
    ASSERT_EQ(db::Database::ExecSQL(database, statement), 0);
  }
  EXPECT_EQ(ConfigRows("SELECT monitorId FROM Alerts"), (Rows{{other.id}}));
  monitor_->PutBackHealth(taken);
  EXPECT_EQ(ids(monitor_->healthAttributes), attributesBefore);
  EXPECT_EQ(ids(monitor_->alerts), alertsBefore);
}

TEST_F(ServerHealthTest, AlertsDataRowKeepsTheTitleAsItStands) {
  ServerHealth::AddAlertsData("m", "a", kNow, "act", "Bob's DB is 'down'");
  EXPECT_EQ(DataRows("SELECT * FROM AlertsData"),
            (Rows{{"m", "a", "1700000000", "act", "Bob's DB is 'down'"}}));
}

}  // namespace
}  // namespace engine
