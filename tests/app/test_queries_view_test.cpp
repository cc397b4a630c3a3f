// The test queries model against a real store: adds, removes, confirmed and refused
// removal of all, removals the configuration file refuses, edits of the selected query
// (which polls run only once committed), and the list's texts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/views/test_queries_view.h"
#include "engine/monitor/server.h"
#include "engine/store/server_storage.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace app {
namespace {

struct ModelCase {
  const char* name;
  int queries;  // added before the step, named q0, q1, ...
  int select;   // the row selected before the step; -1 for none
  std::function<bool(TestQueriesModel&)> step;
  std::vector<std::string> names;  // the store's query names afterwards
  int selected;                    // the selection afterwards
  bool result;
};

const std::string kLong(5000, 'x');

const ModelCase kModelCases[] = {
    {"add appends", 2, 0, [](TestQueriesModel& m) { return m.Add(); }, {"q0", "q1", ""}, 2, true},
    // The row that takes the removed one's place is selected, else the new last row.
    {"remove first", 3, 0, [](TestQueriesModel& m) { return m.Remove(); }, {"q1", "q2"}, 0, true},
    {"remove middle", 3, 1, [](TestQueriesModel& m) { return m.Remove(); }, {"q0", "q2"}, 1, true},
    {"remove last", 3, 2, [](TestQueriesModel& m) { return m.Remove(); }, {"q0", "q1"}, 1, true},
    {"remove only", 1, 0, [](TestQueriesModel& m) { return m.Remove(); }, {}, -1, true},
    {"remove without selection",
     2,
     -1,
     [](TestQueriesModel& m) { return m.Remove(); },
     {"q0", "q1"},
     -1,
     false},
    {"remove all yes", 3, 1, [](TestQueriesModel& m) { return m.RemoveAll(true); }, {}, -1, true},
    {"remove all no",
     3,
     1,
     [](TestQueriesModel& m) { return m.RemoveAll(false); },
     {"q0", "q1", "q2"},
     1,
     false},
    {"name without selection",
     2,
     -1,
     [](TestQueriesModel& m) { return m.SetName("new"); },
     {"q0", "q1"},
     -1,
     false},
    {"query without selection",
     2,
     -1,
     [](TestQueriesModel& m) { return m.SetQuery("SELECT 2"); },
     {"q0", "q1"},
     -1,
     false},
    // Typing changes the store when it is committed.
    {"name of the selected",
     2,
     1,
     [](TestQueriesModel& m) { return m.SetName("new"); },
     {"q0", "q1"},
     1,
     true},
    {"name of the selected, committed",
     2,
     1,
     [](TestQueriesModel& m) {
       const bool typed = m.SetName("new");
       m.Commit();
       return typed;
     },
     {"q0", "new"},
     1,
     true},
};

class TestQueriesModelTest : public engine::testing::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    engine::MonitorSettings settings;
    settings.name = "Sales";
    id_ = storage_.AddMonitor(settings);
    ASSERT_FALSE(id_.empty());
  }
  engine::MonitorSnapshot Monitor() const { return *storage_.GetMonitorSnapshot(id_); }
  // Every edit so far is in the file. A removal waits only briefly for the file's lock,
  // which the saves' worker holds while it writes.
  bool SavesDone() {
    return storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& query : Monitor().testQueries) names.push_back(query.settings.name);
    return names;
  }

  engine::ServerStorage storage_;
  std::string id_;
};

TEST_F(TestQueriesModelTest, Steps) {
  for (const ModelCase& test : kModelCases) {
    SCOPED_TRACE(test.name);
    ASSERT_TRUE(SavesDone());
    for (const auto& query : Monitor().testQueries) storage_.DeleteTestQuery(id_, query.id);
    for (int i = 0; i < test.queries; ++i) {
      storage_.AddTestQuery(id_, {"q" + std::to_string(i), "SELECT " + std::to_string(i)});
    }
    ASSERT_TRUE(SavesDone());
    TestQueriesModel model(storage_, id_);
    model.Load(Monitor());
    model.Select(test.select);
    EXPECT_EQ(test.step(model), test.result);
    EXPECT_EQ(Names(), test.names);
    EXPECT_EQ(model.Selected(), test.selected);
    EXPECT_EQ(model.Rows().size(), test.names.size());
  }
}

TEST_F(TestQueriesModelTest, AnAddedQueryIsEmptyEnabledWithoutValueAndLongTextsSurviveEdits) {
  TestQueriesModel model(storage_, id_);
  model.Load(Monitor());
  ASSERT_TRUE(model.Add());
  const engine::TestQuerySnapshot added = Monitor().testQueries.at(0);
  EXPECT_EQ(added.settings, engine::TestQuerySettings{});
  EXPECT_TRUE(added.enable);
  EXPECT_EQ(added.value, -1);
  EXPECT_EQ(model.Selected(), 0);

  ASSERT_TRUE(model.SetQuery(kLong));
  ASSERT_TRUE(model.SetName("long"));
  model.Commit();
  EXPECT_EQ(Monitor().testQueries.at(0).settings.query, kLong);
  EXPECT_EQ(Monitor().testQueries.at(0).settings.name, "long");

  ASSERT_TRUE(model.SetEnabled(0, false));
  EXPECT_FALSE(Monitor().testQueries.at(0).enable);
  EXPECT_FALSE(model.SetEnabled(1, true));
}

// A removal shows at once; when the configuration file refuses it, every query comes back
// with its attribute and the alert on it, in the store and the model reloaded as the view
// reloads it, the file keeps them, and the user is told once.
TEST_F(TestQueriesModelTest, RemovalsTheFileRefusesKeepTheQueriesAndAreToldOnce) {
  for (const char* name : {"q0", "q1", "q2"}) storage_.AddTestQuery(id_, {name, "SELECT 1"});
  const engine::MonitorSnapshot before = Monitor();
  const engine::AttributeSnapshot& attribute = before.attributes.back();
  ASSERT_EQ(attribute.testQueryId, before.testQueries.back().id);
  ASSERT_FALSE(storage_.AddAlert(id_, {"action", attribute.id, 1, 0, 0}).empty());
  ASSERT_TRUE(storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  const std::vector<std::string> names = {"q0", "q1", "q2"};
  const auto fileRows = [] {
    return engine::testing::ConfigRows(
        "SELECT (SELECT group_concat(name, ',') FROM (SELECT name FROM TestQueries ORDER BY "
        "name)), "
        "(SELECT count(*) FROM HealthAttributes), (SELECT count(*) FROM Alerts)");
  };
  const engine::testing::Rows stored = fileRows();
  ASSERT_EQ(stored, (engine::testing::Rows{{"q0,q1,q2", "7", "1"}}));

  const struct {
    const char* name;
    std::function<bool(TestQueriesModel&)> remove;
  } removals[] = {
      {"remove", [](TestQueriesModel& m) { return m.Remove(); }},
      {"remove all", [](TestQueriesModel& m) { return m.RemoveAll(true); }},
  };
  using engine::testing::ConfigRefusal;
  for (const ConfigRefusal::Kind kind : ConfigRefusal::kKinds) {
    for (const auto& removal : removals) {
      SCOPED_TRACE(std::string(ConfigRefusal::Name(kind)) + ", " + removal.name);
      TestQueriesModel model(storage_, id_);
      model.Load(Monitor());
      model.Select(2);
      const std::size_t told = ui_.EventsOf("error: ").size();
      const std::size_t refused = ui_.EventsOf("refused " + id_).size();
      {
        ConfigRefusal refusal(kind);
        EXPECT_TRUE(removal.remove(model));
        ASSERT_TRUE(SavesDone());
      }
      ASSERT_TRUE(engine::Server::WaitForHelpers(std::chrono::steady_clock::now() +
                                                 std::chrono::seconds(20)));
      EXPECT_EQ(ui_.EventsOf("error: ").size(), told + 1);
      EXPECT_EQ(ui_.EventsOf("refused " + id_).size(), refused + 1);
      model.Load(Monitor());
      std::vector<std::string> listed;
      for (const auto& row : model.Rows()) listed.push_back(row.settings.name);
      EXPECT_EQ(listed, names);
      EXPECT_EQ(Names(), names);
      EXPECT_EQ(Monitor().alerts.size(), 1u);
      EXPECT_EQ(fileRows(), stored);
    }
  }
}

// While the user types a query, polls run the query as last committed, never a half-typed
// text (an UPDATE without its WHERE); the commit hands the whole text to the next poll.
TEST_F(TestQueriesModelTest, PollsRunOnlyTheCommittedQuery) {
  auto odbc = std::make_shared<engine::testing::FakeOdbc>();
  const std::shared_ptr<engine::Server> monitor = storage_.GetServerById(id_);
  monitor->SetOdbc(odbc);
  storage_.AddTestQuery(id_, {"Stock", "SELECT 1"});
  TestQueriesModel model(storage_, id_);
  model.Load(Monitor());
  model.Select(0);

  const std::string typed = "UPDATE t SET n = 0 WHERE id = 1";
  for (std::size_t n = 0; n <= typed.size(); ++n) {
    ASSERT_TRUE(model.SetQuery(typed.substr(0, n)));
    if (n % 3 == 0) monitor->Poll();
  }
  EXPECT_EQ(model.SelectedQuery()->settings.query, typed);
  EXPECT_EQ(Monitor().testQueries.at(0).settings.query, "SELECT 1");
  EXPECT_EQ(odbc->QueriedTexts(), std::vector<std::string>{"SELECT 1"});

  model.Commit();
  monitor->Poll();
  EXPECT_EQ(odbc->QueriedTexts(), (std::vector<std::string>{"SELECT 1", typed}));
  ASSERT_TRUE(SavesDone());
  EXPECT_EQ(engine::testing::ConfigRows("SELECT query FROM TestQueries"),
            (engine::testing::Rows{{typed}}));
}

TEST(TestQueriesTexts, FirstLineAndResult) {
  const struct {
    const char* query;
    const char* firstLine;
  } lines[] = {
      {"SELECT 1\r\nFROM t", "SELECT 1"},
      {"SELECT 1\nFROM t", "SELECT 1"},
      {"SELECT 1", "SELECT 1"},
      {"SELECT 1\r", "SELECT 1\r"},
      {"\nSELECT 1", ""},
      {"", ""},
  };
  for (const auto& line : lines) EXPECT_EQ(QueryFirstLine(line.query), line.firstLine);
  EXPECT_EQ(QueryResultText(-1), "-");
  EXPECT_EQ(QueryResultText(0), "0");
  EXPECT_EQ(QueryResultText(42), "42");
}

}  // namespace
}  // namespace app
