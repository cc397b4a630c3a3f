// The new-monitor commit over a real store in a data folder of the test's own: the default
// alerts, the flags that leave them out, the reuse of existing user-interface actions and
// the start. The data source does not exist, so a started monitor's polls fail at once.
#include "app/new_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <tuple>

#include "engine/store/server_storage.h"
#include "tests/engine/monitor_fixture.h"

namespace app {
namespace {

using ::testing::ElementsAreArray;
// attribute name, action name, threshold, condition, alert type
using AlertRow = std::tuple<std::string, std::string, std::int64_t, std::int32_t, std::int32_t>;

const AlertRow kAvailabilityClear{"Monitor Availability", "Popup Balloon Action", 0, 0, 1};
const AlertRow kAvailabilityError{"Monitor Availability", "MessageBox Action", 0, 0, 0};
const AlertRow kConnectionClear{"Connection Time (ms.)", "Popup Balloon Action", 1000, 0, 1};
const AlertRow kConnectionError{"Connection Time (ms.)", "Popup Balloon Action", 1000, 4, 0};
const AlertRow kHealthClear{"Monitor Health", "Popup Balloon Action", 0, 0, 1};
const AlertRow kHealthError{"Monitor Health", "MessageBox Action", 0, 0, 0};

engine::ActionSettings UiAction(const char* name, std::int32_t uiType, std::int32_t type = 4) {
  engine::ActionSettings settings;
  settings.name = name;
  settings.type = type;
  settings.uiType = uiType;
  return settings;
}

class NewMonitorTest : public engine::testing::MonitorTest {
 protected:
  NewMonitorData Data(bool start = false) {
    NewMonitorData data;
    data.name = "Sales";
    data.dataSource = "lumivar-test-no-such-source";
    data.userName = "clerk";
    data.password = "secret";
    data.pollingInterval = 7;
    data.startMonitor = start;
    return data;
  }
  // The monitor's alerts in order, with the names of their attributes and actions.
  std::vector<AlertRow> Alerts(const std::string& id) {
    std::vector<AlertRow> rows;
    const std::optional<engine::MonitorSnapshot> monitor = storage_.GetMonitorSnapshot(id);
    if (!monitor) return rows;
    for (const engine::AlertSnapshot& alert : monitor->alerts) {
      const engine::AttributeSnapshot* attribute =
          monitor->FindAttribute(alert.settings.healthAttributeId);
      const std::optional<engine::ActionSnapshot> action =
          storage_.GetActionSnapshot(alert.settings.actionId);
      rows.emplace_back(attribute ? attribute->name : "?", action ? action->settings.name : "?",
                        alert.settings.threshold, alert.settings.condition,
                        alert.settings.alertType);
    }
    return rows;
  }

  engine::ServerStorage storage_;
};

TEST_F(NewMonitorTest, EveryFlagGivesTheSixDefaultAlertsAndTheMonitorAsDescribed) {
  const std::string id = CommitNewMonitor(storage_, Data());
  ASSERT_FALSE(id.empty());
  EXPECT_THAT(Alerts(id),
              ElementsAreArray({kAvailabilityClear, kAvailabilityError, kConnectionClear,
                                kConnectionError, kHealthClear, kHealthError}));
  const std::optional<engine::MonitorSnapshot> monitor = storage_.GetMonitorSnapshot(id);
  ASSERT_TRUE(monitor.has_value());
  engine::MonitorSettings expected;
  expected.name = "Sales";
  expected.address = "lumivar-test-no-such-source";
  expected.username = "clerk";
  expected.password = "secret";
  expected.pollingInterval = 7;
  EXPECT_EQ(monitor->settings, expected);
  EXPECT_FALSE(monitor->running);
  EXPECT_TRUE(monitor->testQueries.empty());
  const std::vector<engine::ActionSnapshot> actions = storage_.GetActionSnapshots();
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0].settings, UiAction("MessageBox Action", 0));
  EXPECT_EQ(actions[1].settings, UiAction("Popup Balloon Action", 1));
}

TEST_F(NewMonitorTest, AFlagOffOrItsActionOffLeavesItsAlertsOut) {
  const struct {
    const char* name;
    std::function<void(NewMonitorData&)> change;
    bool boxBefore;       // a message-box action is already in the store
    std::size_t actions;  // in the store afterwards
    std::vector<AlertRow> alerts;
  } cases[] = {
      {"availability clear",
       [](auto& d) { d.availabilityClear = false; },
       false,
       2,
       {kAvailabilityError, kConnectionClear, kConnectionError, kHealthClear, kHealthError}},
      {"availability error",
       [](auto& d) { d.availabilityError = false; },
       false,
       2,
       {kAvailabilityClear, kConnectionClear, kConnectionError, kHealthClear, kHealthError}},
      {"connection time",
       [](auto& d) { d.connectionTimeClear = d.connectionTimeError = false; },
       false,
       2,
       {kAvailabilityClear, kAvailabilityError, kHealthClear, kHealthError}},
      {"health",
       [](auto& d) { d.healthClear = d.healthError = false; },
       false,
       2,
       {kAvailabilityClear, kAvailabilityError, kConnectionClear, kConnectionError}},
      {"message box",
       [](auto& d) { d.messageBoxAction = false; },
       true,
       2,
       {kAvailabilityClear, kConnectionClear, kConnectionError, kHealthClear}},
      {"balloon",
       [](auto& d) { d.balloonAction = false; },
       false,
       1,
       {kAvailabilityError, kHealthError}},
      {"both actions", [](auto& d) { d.messageBoxAction = d.balloonAction = false; }, true, 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    storage_.Clear();
    if (c.boxBefore) storage_.AddAction(UiAction("MessageBox Action", 0));
    NewMonitorData data = Data();
    c.change(data);
    const std::string id = CommitNewMonitor(storage_, data);
    EXPECT_THAT(Alerts(id), ElementsAreArray(c.alerts));
    EXPECT_EQ(storage_.GetActionSnapshots().size(), c.actions);
  }
}

TEST_F(NewMonitorTest, LaterRunsReuseTheLastMatchingActions) {
  for (const auto& settings :
       {UiAction("First box", 0), UiAction("Old balloon", 1), UiAction("Second box", 0),
        UiAction("Restore", 2), UiAction("Mail box", 0, 0), UiAction("Program", 1, 3)}) {
    storage_.AddAction(settings);
  }
  const std::vector<engine::ActionSnapshot> before = storage_.GetActionSnapshots();
  for (int run = 0; run < 2; ++run) {
    const std::string id = CommitNewMonitor(storage_, Data());
    EXPECT_THAT(Alerts(id), ElementsAreArray(std::vector<AlertRow>{
                                {"Monitor Availability", "Old balloon", 0, 0, 1},
                                {"Monitor Availability", "Second box", 0, 0, 0},
                                {"Connection Time (ms.)", "Old balloon", 1000, 0, 1},
                                {"Connection Time (ms.)", "Old balloon", 1000, 4, 0},
                                {"Monitor Health", "Old balloon", 0, 0, 1},
                                {"Monitor Health", "Second box", 0, 0, 0}}));
    EXPECT_EQ(storage_.GetActionSnapshots().size(), before.size());
  }

  // From an empty store the first run makes the two actions and the second reuses them.
  storage_.Clear();
  const std::string first = CommitNewMonitor(storage_, Data());
  const std::string second = CommitNewMonitor(storage_, Data());
  EXPECT_EQ(storage_.GetActionSnapshots().size(), 2u);
  EXPECT_EQ(Alerts(second), Alerts(first));
}

TEST_F(NewMonitorTest, StartLeavesTheMonitorRunning) {
  for (bool start : {true, false}) {
    SCOPED_TRACE(start);
    const std::string id = CommitNewMonitor(storage_, Data(start));
    const std::optional<engine::MonitorSnapshot> monitor = storage_.GetMonitorSnapshot(id);
    ASSERT_TRUE(monitor.has_value());
    EXPECT_EQ(monitor->running, start);
    storage_.StopServer(id);
    EXPECT_TRUE(storage_.WaitForStops(std::chrono::steady_clock::now() + std::chrono::seconds(30)));
  }
}

}  // namespace
}  // namespace app
