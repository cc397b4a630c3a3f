// The actions views without a display: the row texts per kind, the numbers the dialogs
// accept, and the model's steps against a real store (each kind sees only its own actions),
// also when the configuration file refuses a removal of all.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs/action_dialogs.h"
#include "app/views/actions_view.h"
#include "engine/store/server_storage.h"
#include "tests/engine/monitor_fixture.h"

namespace app {
namespace {

using Cells = std::vector<std::string>;

engine::ActionSettings Action(std::int32_t polls, const char* text, std::int32_t uiType = 0) {
  engine::ActionSettings a;
  a.name = "A";
  a.pollsCount = polls;
  a.server = "smtp.example";
  a.toAddress = "ops@example";
  a.datasourceName = "sales";
  a.sqlQuery = text;
  a.path = "/usr/bin/logger";
  a.uiType = uiType;
  return a;
}

TEST(ActionRowTexts, PerKind) {
  const struct {
    int kind;
    engine::ActionSettings action;
    Cells cells;
  } rows[] = {
      {0, Action(3, ""), {"A", "3", "smtp.example", "ops@example"}},
      {1, Action(3, ""), {"A", "3", "smtp.example", "ops@example"}},
      {2, Action(-1, "SELECT 1\r\nFROM t"), {"A", "-", "sales", "SELECT 1..."}},
      {2, Action(1, "SELECT 1\nFROM t"), {"A", "1", "sales", "SELECT 1..."}},
      {2, Action(1, "\nX"), {"A", "1", "sales", "..."}},
      {2, Action(1, "SELECT 1\r"), {"A", "1", "sales", "SELECT 1\r"}},
      {3, Action(0, ""), {"A", "0", "/usr/bin/logger"}},
      {4, Action(1, "", 1), {"A", "1", "Popup Balloon"}},
      {4, Action(1, "", 2), {"A", "1", "Show Application Window"}},
      {4, Action(1, "", 7), {"A", "1", "-"}},
      {4, Action(1, "", -1), {"A", "1", "-"}},
      {5, Action(1, ""), {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.kind << " " << row.action.sqlQuery);
    EXPECT_EQ(ActionRowTexts(row.kind, row.action), row.cells);
    EXPECT_EQ(ActionColumns(row.kind).size(), row.cells.size());
  }
  std::vector<std::string> email, sms;
  for (const ActionColumn& c : ActionColumns(0)) email.push_back(c.title);
  for (const ActionColumn& c : ActionColumns(1)) sms.push_back(c.title);
  EXPECT_EQ(email, sms);
  EXPECT_NE(ActionColumns(0)[0].width, ActionColumns(1)[0].width);
}

TEST(ActionDialogNumbers, Parse) {
  constexpr std::int64_t kMin = -2147483648LL;
  constexpr std::int64_t kMax = 2147483647LL;
  const struct {
    const char* text;
    std::int64_t least, greatest;
    std::optional<std::int32_t> value;
  } numbers[] = {
      {" 25 ", 1, 65535, 25},
      {"0", 1, 65535, std::nullopt},
      {"65536", 1, 65535, std::nullopt},
      {"abc", 1, 65535, std::nullopt},
      {"", kMin, kMax, std::nullopt},
      {"-", kMin, kMax, std::nullopt},
      {"12x", kMin, kMax, std::nullopt},
      {"-1", kMin, kMax, -1},
      {"+5", kMin, kMax, 5},
      {"2147483647", kMin, kMax, 2147483647},
      {"-2147483648", kMin, kMax, kMin},
      {"2147483648", kMin, kMax, std::nullopt},
      {"99999999999", kMin, kMax, std::nullopt},
  };
  for (const auto& n : numbers) {
    EXPECT_EQ(ParseWholeNumber(n.text, n.least, n.greatest), n.value) << n.text;
  }
}

enum class Step { kLoad, kAdd, kChange, kRemove, kRemoveAll, kRefuseRemoveAll, kTest };

bool Apply(Step step, ActionsModel& m) {
  engine::ActionSettings a = m.NewAction();
  switch (step) {
    case Step::kLoad:
      m.Load();
      return true;
    case Step::kAdd:
      a.name = "new";
      a.type = 0;  // the view's kind wins
      return m.Add(a);
    case Step::kChange:
      a = m.SelectedAction()->settings;
      a.name += "b";
      return m.Change(m.SelectedAction()->id, a);
    case Step::kRemove:
      return m.Remove();
    case Step::kRemoveAll:
      return m.RemoveAll(true);
    case Step::kRefuseRemoveAll:
      return m.RemoveAll(false);
    case Step::kTest:
      return m.Test();
  }
  return false;
}

const struct ModelCase {
  const char* name;
  int kind;
  int select;  // before the step; -1 for none
  Step step;
  Cells names;   // the kind's action names afterwards, in the store and in the model
  int selected;  // afterwards
  bool result;
} kModelCases[] = {
    {"refill keeps the index", 2, 2, Step::kLoad, {"q0", "q1", "q2"}, 2, true},
    {"refill selects the first", 4, -1, Step::kLoad, {"u0"}, 0, true},
    {"SMS lists its own kind", 1, 0, Step::kLoad, {"s0", "s1"}, 0, true},
    {"add makes the view's kind", 1, 0, Step::kAdd, {"s0", "s1", "new"}, 2, true},
    {"change by identifier", 2, 1, Step::kChange, {"q0", "q1b", "q2"}, 1, true},
    {"remove keeps the index", 2, 1, Step::kRemove, {"q0", "q2"}, 1, true},
    {"remove the last selects the new last", 2, 2, Step::kRemove, {"q0", "q1"}, 1, true},
    {"remove the only one", 3, 0, Step::kRemove, {}, -1, true},
    {"remove all keeps other kinds", 2, 1, Step::kRemoveAll, {}, -1, true},
    {"remove all refused", 2, 1, Step::kRefuseRemoveAll, {"q0", "q1", "q2"}, 1, false},
    {"test without selection", 2, -1, Step::kTest, {"q0", "q1", "q2"}, -1, false},
};

class ActionsModelTest : public engine::testing::MonitorTest {
 protected:
  // Every action's name by kind, in store order.
  std::map<int, Cells> Stored() const {
    std::map<int, Cells> names;
    for (const engine::ActionSnapshot& a : storage_.GetActionSnapshots()) {
      names[a.settings.type].push_back(a.settings.name);
    }
    return names;
  }
  // Every edit so far is in the file. A removal waits only briefly for the file's lock,
  // which the saves' worker holds while it writes.
  bool SavesDone() {
    return storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20));
  }

  engine::ServerStorage storage_;
};

TEST_F(ActionsModelTest, Steps) {
  for (const ModelCase& test : kModelCases) {
    SCOPED_TRACE(test.name);
    ASSERT_TRUE(SavesDone());
    for (const engine::ActionSnapshot& a : storage_.GetActionSnapshots()) {
      storage_.DeleteAction(a.id);
    }
    // Kinds interleaved, so that store order and kind order differ.
    for (const auto& [type, name] : std::vector<std::pair<int, std::string>>{{2, "q0"},
                                                                             {1, "s0"},
                                                                             {0, "e0"},
                                                                             {2, "q1"},
                                                                             {3, "p0"},
                                                                             {1, "s1"},
                                                                             {2, "q2"},
                                                                             {4, "u0"}}) {
      engine::ActionSettings a;
      a.type = type;
      a.name = name;
      ASSERT_FALSE(storage_.AddAction(a).empty());
    }
    ASSERT_TRUE(SavesDone());
    std::map<int, Cells> others = Stored();
    others.erase(test.kind);

    ActionsModel model(storage_, test.kind);
    model.Load();
    model.Select(test.select);
    EXPECT_EQ(Apply(test.step, model), test.result);

    std::map<int, Cells> stored = Stored();
    EXPECT_EQ(stored[test.kind], test.names);
    stored.erase(test.kind);
    EXPECT_EQ(stored, others);
    Cells listed;
    for (const engine::ActionSnapshot& a : model.Rows()) {
      listed.push_back(a.settings.name);
      EXPECT_EQ(a.settings.type, test.kind);
    }
    EXPECT_EQ(listed, test.names);
    EXPECT_EQ(model.Selected(), test.selected);
  }
}

// A removal of all shows at once; when the configuration file refuses it, every action
// comes back, in the store and the model reloaded as the view reloads it, the file keeps
// them, and the user is told once, not once per action.
TEST_F(ActionsModelTest, ARemovalOfAllTheFileRefusesKeepsEveryActionAndIsToldOnce) {
  for (const char* name : {"q0", "q1", "q2"}) {
    engine::ActionSettings a;
    a.type = 2;
    a.name = name;
    ASSERT_FALSE(storage_.AddAction(a).empty());
  }
  ASSERT_TRUE(storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  const Cells names = {"q0", "q1", "q2"};
  using engine::testing::ConfigRefusal;
  for (const ConfigRefusal::Kind kind : ConfigRefusal::kKinds) {
    SCOPED_TRACE(ConfigRefusal::Name(kind));
    ActionsModel model(storage_, 2);
    model.Load();
    const std::size_t told = ui_.EventsOf("error: ").size();
    {
      ConfigRefusal refusal(kind);
      EXPECT_TRUE(model.RemoveAll(true));
      ASSERT_TRUE(
          storage_.WaitForSaves(std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    }
    EXPECT_EQ(ui_.EventsOf("error: ").size(), told + 1);
    EXPECT_EQ(ui_.EventsOf("refused ").size(), 1u + (kind == ConfigRefusal::kKinds[1]));
    model.Load();
    Cells listed;
    for (const engine::ActionSnapshot& a : model.Rows()) listed.push_back(a.settings.name);
    EXPECT_EQ(listed, names);
    EXPECT_EQ(Stored()[2], names);
    EXPECT_EQ(engine::testing::ConfigRows(
                  "SELECT group_concat(name, ',') FROM (SELECT name FROM Actions ORDER BY name)"),
              (engine::testing::Rows{{"q0,q1,q2"}}));
  }
}

}  // namespace
}  // namespace app
