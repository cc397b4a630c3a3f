// The alerts view's texts without a display: the row cells, the status, the check box and
// the threshold typed in the dialog.
#include <gtest/gtest.h>

#include <limits>

#include "app/views/alert_rows.h"
#include "platform/status.h"

namespace app {
namespace {

engine::MonitorSnapshot Monitor() {
  engine::MonitorSnapshot monitor;
  monitor.attributes = {
      {"avail", "Monitor Availability", "", 1, "Monitor Availability", -1},
      {"conn", "Connection Time (ms.)", "", 0, "Connection Time (ms.)", 125},
      {"none", "Connection Time (ms.)", "", 0, "Connection Time (ms.)", -1},
      {"down", "Monitor Health", "", 1, "Monitor Health", 0},
      {"tq", "Test Query Value", "q1", 0, "Orders Test Query Value", 7},
      {"gone", "Test Query Value", "q9", 0, "Test Query Value", -1},
  };
  monitor.testQueries.resize(1);
  monitor.testQueries[0].id = "q1";
  monitor.testQueries[0].enable = false;
  return monitor;
}

engine::ActionSnapshot Mail(std::int32_t polls = 3) {
  engine::ActionSnapshot action{"a1", {}};
  action.settings.name = "Mail DBA";
  action.settings.pollsCount = polls;
  return action;
}

engine::AlertSnapshot Alert(const char* attribute, std::int64_t threshold = 500,
                            std::int32_t condition = 1, std::int32_t type = 0) {
  engine::AlertSnapshot alert;
  alert.id = "x";
  alert.settings = {"a1", attribute, threshold, condition, type};
  return alert;
}

TEST(AlertRows, Texts) {
  const engine::ActionSnapshot mail = Mail();
  const struct {
    const char* name;
    engine::AlertSnapshot alert;
    bool withAction;
    AlertRowTexts texts;
  } cases[] = {
      {"numeric",
       Alert("conn"),
       true,
       {"Connection Time (ms.)", ">", "500", "Mail DBA", "Error", "125", ""}},
      {"boolean leaves condition and threshold empty; -1 is Clear",
       Alert("avail", 5, 2, 1),
       true,
       {"Monitor Availability", "", "", "Mail DBA", "Clear", "Clear", ""}},
      {"boolean 0 is Error",
       Alert("down"),
       true,
       {"Monitor Health", "", "", "Mail DBA", "Error", "Error", ""}},
      {"threshold and value -1",
       Alert("none", -1, 0),
       true,
       {"Connection Time (ms.)", "<", "-", "Mail DBA", "Error", "-", ""}},
      {"missing action",
       Alert("conn"),
       false,
       {"Connection Time (ms.)", ">", "500", "", "Error", "125", ""}},
      {"condition out of the table",
       Alert("conn", 500, 7),
       true,
       {"Connection Time (ms.)", "", "500", "Mail DBA", "Error", "125", ""}},
      {"negative condition",
       Alert("conn", 500, -1),
       true,
       {"Connection Time (ms.)", "", "500", "Mail DBA", "Error", "125", ""}},
      {"test query attribute",
       Alert("tq", -5, 5, 1),
       true,
       {"Orders Test Query Value", "<>", "-5", "Mail DBA", "Clear", "7", ""}},
      {"missing attribute", Alert("nowhere"), true, {"", "", "", "Mail DBA", "Error", "", ""}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(MakeAlertRowTexts(Monitor(), test.alert, test.withAction ? &mail : nullptr),
              test.texts);
  }
}

TEST(AlertRows, CheckState) {
  const struct {
    const char* attribute;
    bool enable;
    bool checked;
  } cases[] = {
      {"conn", true, true}, {"conn", false, false},  {"tq", true, false},
      {"gone", true, true}, {"nowhere", true, true}, {"tq", false, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.attribute);
    engine::AlertSnapshot alert = Alert(test.attribute);
    alert.enable = test.enable;
    EXPECT_EQ(AlertChecked(Monitor(), alert), test.checked);
  }
}

TEST(AlertRows, Status) {
  const std::string notFound = platform::GetSystemErrorText(platform::kFileNotFound);
  ASSERT_FALSE(notFound.empty());
  const struct {
    std::int32_t counter;
    bool done;
    platform::Status result;
    std::int32_t type;
    std::int32_t polls;  // -1: the action is missing
    std::string status;
  } cases[] = {
      {0, true, 5, 0, 3, ""},
      {2, false, 0, 0, 3, "WARNING. 2/3"},
      {4, false, 0, 0, 3, "ERROR. Alert Started."},
      {4, true, 0, 0, 3, "ERROR. Alert Succedded."},
      {4, true, 2, 0, 3, "ERROR. Alert Failed. (0X2 " + notFound + ")"},
      {4, true, 10, 0, 3, "ERROR. Alert Failed. (0XA)"},
      {2, true, 0, 1, 1, "CLEAR. Alert Succedded."},
      {1, false, 0, 1, 1, "CLEAR. Alert Started."},
      {2, true, 0, 0, -1, ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.status);
    engine::AlertSnapshot alert = Alert("conn", 0, 1, test.type);
    alert.counter = test.counter;
    alert.done = test.done;
    alert.lastResult = test.result;
    const engine::ActionSnapshot action = Mail(test.polls);
    EXPECT_EQ(AlertStatusText(alert, test.polls < 0 ? nullptr : &action), test.status);
  }
}

TEST(AlertRows, Threshold) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  const struct {
    const char* text;
    std::int64_t value;
  } cases[] = {
      {"-5", -5},
      {"abc", 0},
      {" 12x", 12},
      {"99999999999", kMax},
      {"-99999999999", kMin},
      {"2147483647", kMax},
      {"-2147483648", kMin},
      {"-", -1},
      {" - ", -1},
      {"", 0},
      {"+7", 7},
      {"--3", 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.text);
    EXPECT_EQ(ParseThreshold(test.text), test.value);
  }
  EXPECT_EQ(ThresholdText(-1), "-");
  EXPECT_EQ(ThresholdText(-5), "-5");
  EXPECT_EQ(ParseThreshold(ThresholdText(-1)), -1);
}

}  // namespace
}  // namespace app
