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
  monitor.attributes = {{"avail", "Monitor Availability", "", 1, "Monitor Availability", -1},
                        {"conn", "Connection Time (ms.)", "", 0, "Connection Time (ms.)", 125},
                        {"none", "Connection Time (ms.)", "", 0, "Connection Time (ms.)", -1},
                        {"down", "Monitor Health", "", 1, "Monitor Health", 0},
                        {"tq", "Test Query Value", "q1", 0, "Orders Test Query Value", 7},
                        {"gone", "Test Query Value", "q9", 0, "Test Query Value", -1}};
  monitor.testQueries.resize(1);
  monitor.testQueries[0].id = "q1";
  monitor.testQueries[0].enable = false;
  return monitor;
}

engine::AlertSnapshot Alert(const char* attribute, std::int64_t threshold = 500,
                            std::int32_t condition = 1, std::int32_t type = 0) {
  return {"x", {"a1", attribute, threshold, condition, type}};
}

std::string Joined(const AlertRowTexts& texts) {
  std::string out = texts[0];
  for (std::size_t i = 1; i < texts.size(); ++i) out += "|" + texts[i];
  return out;
}

TEST(AlertRows, TextsAndCheckState) {
  const engine::ActionSnapshot mail{"a1", {"Mail DBA"}};
  const struct {
    engine::AlertSnapshot alert;
    bool withAction;
    const char* texts;
    bool checked;
  } rows[] = {
      {Alert("conn"), true, "Connection Time (ms.)|>|500|Mail DBA|Error|125|", true},
      {Alert("avail", 5, 2, 1), true, "Monitor Availability|||Mail DBA|Clear|Clear|", true},
      {Alert("down"), true, "Monitor Health|||Mail DBA|Error|Error|", true},
      {Alert("none", -1, 0), true, "Connection Time (ms.)|<|-|Mail DBA|Error|-|", true},
      {Alert("conn"), false, "Connection Time (ms.)|>|500||Error|125|", true},
      {Alert("conn", 500, 7), true, "Connection Time (ms.)||500|Mail DBA|Error|125|", true},
      {Alert("tq", -5, 5, 1), true, "Orders Test Query Value|<>|-5|Mail DBA|Clear|7|", false},
      {Alert("gone"), true, "Test Query Value|>|500|Mail DBA|Error|-|", true},
      {Alert("nowhere"), true, "|||Mail DBA|Error||", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Joined(MakeAlertRowTexts(Monitor(), row.alert, row.withAction ? &mail : nullptr)),
              row.texts);
    EXPECT_EQ(AlertChecked(Monitor(), row.alert), row.checked) << row.texts;
  }
  engine::AlertSnapshot disabled = Alert("conn");
  disabled.enable = false;
  EXPECT_FALSE(AlertChecked(Monitor(), disabled));
}

TEST(AlertRows, Status) {
  const std::string notFound = platform::GetSystemErrorText(platform::kFileNotFound);
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
      {2, true, 0, 0, -1, ""},
  };
  for (const auto& test : cases) {
    engine::AlertSnapshot alert = Alert("conn", 0, 1, test.type);
    alert.counter = test.counter;
    alert.done = test.done;
    alert.lastResult = test.result;
    engine::ActionSnapshot action;
    action.settings.pollsCount = test.polls;
    EXPECT_EQ(AlertStatusText(alert, test.polls < 0 ? nullptr : &action), test.status);
  }
}

TEST(AlertRows, Threshold) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  const struct {
    const char* text;
    std::int64_t value;
  } cases[] = {{"-5", -5},
               {"abc", 0},
               {" 12x", 12},
               {"99999999999", kMax},
               {"-", -1},
               {"-99999999999", kMin},
               {"-2147483648", kMin},
               {" - ", -1},
               {"", 0},
               {"+7", 7},
               {"--3", 0}};
  for (const auto& test : cases) EXPECT_EQ(ParseThreshold(test.text), test.value) << test.text;
  EXPECT_EQ(ThresholdText(-1), "-");
  EXPECT_EQ(ThresholdText(-5), "-5");
}

}  // namespace
}  // namespace app
