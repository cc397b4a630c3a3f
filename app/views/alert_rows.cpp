#include "app/views/alert_rows.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "engine/monitor/alert.h"
#include "engine/monitor/health_attribute.h"
#include "platform/status.h"

namespace app {

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

const engine::ActionSnapshot* FindActionSnapshot(const std::vector<engine::ActionSnapshot>& actions,
                                                 const std::string& actionId) {
  for (const engine::ActionSnapshot& action : actions) {
    if (action.id == actionId) return &action;
  }
  return nullptr;
}

std::string AlertStatusText(const engine::AlertSnapshot& alert,
                            const engine::ActionSnapshot* action) {
  if (alert.counter == 0 || action == nullptr) return {};
  const std::int32_t polls = action->settings.pollsCount;
  if (alert.counter < polls) {
    return "WARNING. " + std::to_string(alert.counter) + "/" + std::to_string(polls);
  }
  const std::string type = alert.settings.alertType == engine::Alert::kError ? "ERROR" : "CLEAR";
  if (!alert.done) return type + ". Alert Started.";
  if (alert.lastResult == 0) return type + ". Alert Succedded.";
  char code[16];
  std::snprintf(code, sizeof code, "%#X", static_cast<unsigned>(alert.lastResult));
  const std::string text = platform::GetSystemErrorText(alert.lastResult);
  return type + ". Alert Failed. (" + code + (text.empty() ? "" : " " + text) + ")";
}

AlertRowTexts MakeAlertRowTexts(const engine::MonitorSnapshot& monitor,
                                const engine::AlertSnapshot& alert,
                                const engine::ActionSnapshot* action) {
  const engine::AttributeSnapshot* attribute =
      monitor.FindAttribute(alert.settings.healthAttributeId);
  engine::AlertListing listing =
      engine::ListAlert(attribute, alert.settings, action ? action->settings.name : "");
  AlertRowTexts row{std::move(listing.attribute), std::move(listing.condition),
                    std::move(listing.threshold), std::move(listing.action),
                    std::move(listing.type)};
  if (attribute) {
    if (attribute->type == engine::HealthAttribute::kNumeric) {
      row[5] = attribute->value == -1 ? "-" : std::to_string(attribute->value);
    } else {
      row[5] = attribute->value != 0 ? "Clear" : "Error";
    }
  }
  row[6] = AlertStatusText(alert, action);
  return row;
}

bool AlertChecked(const engine::MonitorSnapshot& monitor, const engine::AlertSnapshot& alert) {
  if (!alert.enable) return false;
  const engine::AttributeSnapshot* attribute =
      monitor.FindAttribute(alert.settings.healthAttributeId);
  if (!attribute || attribute->testQueryId.empty()) return true;
  const engine::TestQuerySnapshot* query = monitor.FindTestQuery(attribute->testQueryId);
  return !query || query->enable;
}

std::int64_t ParseThreshold(std::string_view text) {
  text = Trim(text);
  if (text == "-") return -1;
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    // Past the 32-bit range the digits that follow cannot bring the number back.
    if (value <= kMax + 1) value = value * 10 + (c - '0');
  }
  if (negative) return value > -kMin ? kMin : -value;
  return value > kMax ? kMax : value;
}

}  // namespace app
