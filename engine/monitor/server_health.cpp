#include "engine/monitor/server_health.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>
#include <utility>

#include "engine/actions/action.h"
#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/statement.h"
#include "engine/monitor/server.h"
#include "engine/monitor_directory.h"
#include "engine/services.h"
#include "engine/settings_source.h"
#include "platform/guid.h"
#include "platform/resources.h"
#include "platform/time_format.h"

namespace engine {

namespace {

// Replaces every occurrence of macro in text in one left-to-right pass: the search goes
// on after each inserted value, so a value that holds the macro itself is left alone.
void ReplaceAll(std::string& text, std::string_view macro, std::string_view value) {
  std::size_t found = text.find(macro);
  if (found == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (; found != std::string::npos; found = text.find(macro, pos)) {
    out.append(text, pos, found - pos);
    out.append(value);
    pos = found + macro.size();
  }
  out.append(text, pos, std::string::npos);
  text = std::move(out);
}

// "[%X]" of the code as an unsigned 32-bit number.
std::string ErrorNumberText(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "[%X]", static_cast<unsigned>(code));
  return text;
}

std::int32_t Low32(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFF));
}

// The monitor this health part belongs to: every ServerHealth is the base of a Server.
const Server& Monitor(const ServerHealth& health) { return static_cast<const Server&>(health); }

// Reads every row of a query into records of type T made by make(); false (and rc set)
// when a statement fails.
template <typename T, typename Make>
bool ReadRows(db::Database& database, const std::string& sql, Make make, std::vector<T>* rows,
              int* rc) {
  db::Statement statement(database);
  *rc = statement.Prepare(sql);
  if (*rc != SQLITE_OK) return false;
  db::Cursor* cursor = nullptr;
  *rc = statement.Execute(&cursor);
  if (*rc != SQLITE_OK || cursor == nullptr) return false;
  while (!cursor->IsDone()) {
    T record = make();
    record.Load(*cursor);
    rows->push_back(std::move(record));
    *rc = cursor->Next();
    if (*rc != SQLITE_OK) return false;
  }
  return true;
}

}  // namespace

ServerHealth::ServerHealth() : id(platform::NewGuidString()) {}

// ---- lookups ----

Alert* ServerHealth::FindAlert(const std::string& alertId) {
  auto it =
      std::find_if(alerts.begin(), alerts.end(), [&](const Alert& a) { return a.id == alertId; });
  return it == alerts.end() ? nullptr : &*it;
}

const Alert* ServerHealth::FindAlert(const std::string& alertId) const {
  return const_cast<ServerHealth*>(this)->FindAlert(alertId);
}

HealthAttribute* ServerHealth::FindHealthAttribute(const std::string& attributeId) {
  auto it = std::find_if(healthAttributes.begin(), healthAttributes.end(),
                         [&](const HealthAttribute& a) { return a.id == attributeId; });
  return it == healthAttributes.end() ? nullptr : &*it;
}

const HealthAttribute* ServerHealth::FindHealthAttribute(const std::string& attributeId) const {
  return const_cast<ServerHealth*>(this)->FindHealthAttribute(attributeId);
}

HealthAttribute* ServerHealth::FindHealthAttributeByName(const std::string& name) {
  auto it = std::find_if(healthAttributes.begin(), healthAttributes.end(),
                         [&](const HealthAttribute& a) { return a.name == name; });
  return it == healthAttributes.end() ? nullptr : &*it;
}

// ---- building ----

Alert& ServerHealth::NewAlert() { return alerts.emplace_back(id); }

HealthAttribute& ServerHealth::AddHealthAttribute(const std::string& name,
                                                  const std::string& testQueryId) {
  return healthAttributes.emplace_back(name, testQueryId);
}

void ServerHealth::AddDefaultAttributes() {
  const struct {
    unsigned nameId;
    std::int32_t type;
  } builtIns[] = {
      {kAvailabilityNameId, HealthAttribute::kBoolean},
      {kHealthNameId, HealthAttribute::kBoolean},
      {kConnectionTimeNameId, HealthAttribute::kNumeric},
      {kRequestTimeNameId, HealthAttribute::kNumeric},
  };
  for (const auto& b : builtIns) {
    AddHealthAttribute(platform::LoadResourceString(b.nameId), "").type = b.type;
  }
}

Alert& ServerHealth::AddAlert(const std::string& actionId, const std::string& healthAttributeId,
                              std::int32_t threshold, std::int32_t condition,
                              std::int32_t alertType) {
  Alert& alert = NewAlert();
  alert.actionId = actionId;
  alert.healthAttributeId = healthAttributeId;
  alert.threshold = threshold;
  alert.condition = condition;
  alert.alertType = alertType;
  alert.enable = true;
  return alert;
}

// ---- evaluation ----

bool ServerHealth::CompareCondition(std::int64_t value, std::int64_t threshold,
                                    std::int32_t condition, bool numeric) {
  if (!numeric) return value == 0;
  switch (condition) {
    case 0:
      return value < threshold;
    case 1:
      return value > threshold;
    case 2:
      return value == threshold;
    case 3:
      return value <= threshold;
    case 4:
      return value >= threshold;
    case 5:
      return value != threshold;
    default:
      return false;
  }
}

std::int32_t ServerHealth::GetAttributeValue(const std::string& attributeId) const {
  const HealthAttribute* attribute = FindHealthAttribute(attributeId);
  if (attribute == nullptr) return -1;
  const Server& monitor = Monitor(*this);
  if (!attribute->testQueryId.empty()) {
    const TestQuery* query = monitor.FindTestQuery(attribute->testQueryId);
    return query != nullptr && query->errorCode == 0 ? query->value : -1;
  }
  const ServerData* sample = monitor.GetData();
  if (sample == nullptr) return -1;
  const auto* odbcSample = dynamic_cast<const ODBCDataSourceData*>(sample);
  const std::string& name = attribute->name;
  if (name == platform::LoadResourceString(kAvailabilityNameId)) return sample->available ? 1 : 0;
  if (name == platform::LoadResourceString(kHealthNameId)) return sample->health ? 1 : 0;
  if (name == platform::LoadResourceString(kConnectionTimeNameId)) {
    return odbcSample != nullptr ? Low32(odbcSample->connectionTime) : -1;
  }
  if (name == platform::LoadResourceString(kRequestTimeNameId)) {
    return odbcSample != nullptr ? Low32(odbcSample->requestTime) : -1;
  }
  return -1;
}

bool ServerHealth::EvaluateHealth() const {
  const std::string healthName = platform::LoadResourceString(kHealthNameId);
  const Server& monitor = Monitor(*this);
  for (const Alert& alert : alerts) {
    if (!alert.enable || alert.alertType != Alert::kError) continue;
    const HealthAttribute* attribute = FindHealthAttribute(alert.healthAttributeId);
    if (attribute == nullptr || attribute->name == healthName) continue;
    const bool numeric = attribute->type == HealthAttribute::kNumeric;
    bool met = false;
    if (attribute->testQueryId.empty()) {
      met = CompareCondition(GetAttributeValue(alert.healthAttributeId), alert.threshold,
                             alert.condition, numeric);
    } else {
      const TestQuery* query = monitor.FindTestQuery(attribute->testQueryId);
      if (query == nullptr || !query->enable) continue;
      met = query->errorCode != 0 ||
            CompareCondition(query->value, alert.threshold, alert.condition, numeric);
    }
    if (met) return false;
  }
  return true;
}

std::vector<AlertFiring> ServerHealth::CheckAlerts(
    const std::vector<std::shared_ptr<Action>>& actions) {
  std::vector<AlertFiring> firings;
  std::int64_t now = 0;
  AlertMessageTemplate templates;
  bool haveTemplates = false;

  for (Alert& alert : alerts) {
    if (!alert.enable) continue;
    auto action = std::find_if(actions.begin(), actions.end(), [&](const auto& a) {
      return a != nullptr && a->id == alert.actionId;
    });
    if (action == actions.end()) continue;
    const HealthAttribute* attribute = FindHealthAttribute(alert.healthAttributeId);
    if (attribute == nullptr) continue;

    const std::int32_t value = GetAttributeValue(attribute->id);
    if (value == -1) {
      alert.counter = 0;
      continue;
    }
    bool met = CompareCondition(value, alert.threshold, alert.condition,
                                attribute->type == HealthAttribute::kNumeric);
    if (attribute->type == HealthAttribute::kBoolean && alert.alertType == Alert::kClear) {
      met = !met;
    }
    if (!met) {
      alert.counter = 0;
      continue;
    }

    const std::int32_t pollsCount = (*action)->PollsCount();
    if (alert.counter < pollsCount) ++alert.counter;
    if (alert.counter != pollsCount) continue;
    // Above pollsCount now: no second firing until a poll resets the counter.
    if (alert.counter < std::numeric_limits<std::int32_t>::max()) ++alert.counter;

    if (!haveTemplates) {
      now = Clock::Now();
      if (const ISettingsSource* settings = Services::Settings()) {
        templates = settings->GetAlertTemplate();
      }
      haveTemplates = true;
    }
    AlertFiring firing;
    firing.action = *action;
    firing.monitorId = id;
    firing.alertId = alert.id;
    firing.alertType = alert.alertType;
    firing.actionId = (*action)->id;
    firing.subject = templates.title;
    firing.text = templates.message;
    firing.time = now;
    ExpandMacros(firing.subject, &alert, value, now);
    ExpandMacros(firing.text, &alert, value, now);
    alert.done = false;
    firings.push_back(std::move(firing));
  }
  return firings;
}

void ServerHealth::ExpandMacros(std::string& text, const Alert* alert, std::int32_t value) const {
  ExpandMacros(text, alert, value, Clock::Now());
}

void ServerHealth::ExpandMacros(std::string& text, const Alert* alert, std::int32_t value,
                                std::int64_t now) const {
  const Server& monitor = Monitor(*this);
  const ServerData* sample = monitor.GetData();
  const std::int32_t errorCode = sample != nullptr ? sample->errorCode : 0;

  ReplaceAll(text, "%MONITOR_NAME%", monitor.name);
  ReplaceAll(text, "%SERVER_NAME%", monitor.address);
  ReplaceAll(text, "%ERROR_NUMBER%",
             errorCode != 0 && errorCode != -1 ? ErrorNumberText(errorCode) : std::string());
  ReplaceAll(text, "%ERROR_DESCRIPTION%",
             sample != nullptr ? sample->errorDescription : std::string());
  if (alert == nullptr) return;

  ReplaceAll(text, "%ALERT_TIME%", platform::FormatTimeForDisplay(now, 3));
  ReplaceAll(text, "%ATTRIBUTE_TYPE%", alert->alertType == Alert::kError ? "ERROR" : "CLEAR");
  const HealthAttribute* attribute = FindHealthAttribute(alert->healthAttributeId);
  if (attribute == nullptr) return;

  if (attribute->type == HealthAttribute::kNumeric) {
    ReplaceAll(text, "%ATTRIBUTE_VALUE%", std::to_string(value));
    ReplaceAll(text, "%ATTRIBUTE_THRESHOLD%", std::to_string(Low32(alert->threshold)));
  } else {
    ReplaceAll(text, "%ATTRIBUTE_THRESHOLD%", "");
    ReplaceAll(text, "%ATTRIBUTE_VALUE%", value != 0 ? "CLEAR" : "ERROR");
  }
  ReplaceAll(text, "%ATTRIBUTE_NAME%", attribute->name);
}

// ---- firing ----

bool ServerHealth::WithAlert(const std::string& monitorId, const std::string& alertId,
                             const std::function<void(Alert&)>& fn) {
  IMonitorDirectory* storage = Services::Storage();
  const std::shared_ptr<Server> monitor = storage ? storage->GetServerById(monitorId) : nullptr;
  if (monitor == nullptr) return false;
  std::lock_guard lock(monitor->Mutex());
  Alert* alert = monitor->FindAlert(alertId);
  if (alert != nullptr) fn(*alert);
  return alert != nullptr;
}

void ServerHealth::FireAlerts(std::vector<AlertFiring>&& firings) {
  for (AlertFiring& firing : firings) {
    if (firing.action == nullptr) continue;
    // Whether the execution could start does not change that the alert fired. One that
    // could not start is over at once: the alert shows its failure, not a running action.
    const platform::Status status =
        firing.action->Run(FiringAlert{firing.monitorId, firing.alertId, firing.alertType},
                           firing.subject, firing.text);
    if (status != platform::kOk) {
      WithAlert(firing.monitorId, firing.alertId, [status](Alert& alert) {
        alert.done = true;
        alert.lastResult = status;
      });
    }
    AddAlertsData(firing.monitorId, firing.alertId, firing.time, firing.actionId, firing.subject);
  }
}

void ServerHealth::AddAlertsData(const std::string& monitorId, const std::string& alertId,
                                 std::int64_t time, const std::string& actionId,
                                 const std::string& title) {
  db::Database database;
  if (DataFiles::OpenDatabase(database, DataFiles::kDataFileName) != SQLITE_OK) return;
  db::Database::ExecSQL(database, sql::InsertAlertsData(monitorId, alertId, time, actionId, title));
}

// ---- persistence ----

int ServerHealth::Load(db::Database& database) {
  int rc = SQLITE_OK;
  std::vector<HealthAttribute> attributes;
  if (!ReadRows(
          database, sql::SelectHealthAttributes(id), [] { return HealthAttribute("", ""); },
          &attributes, &rc)) {
    return rc;
  }
  std::vector<Alert> loadedAlerts;
  if (!ReadRows(
          database, sql::SelectAlerts(id), [this] { return Alert(id); }, &loadedAlerts, &rc)) {
    return rc;
  }
  std::lock_guard lock(mutex_);
  healthAttributes = std::move(attributes);
  alerts = std::move(loadedAlerts);
  return SQLITE_OK;
}

int ServerHealth::Save(db::Database& database) const {
  std::vector<HealthAttribute> attributes;
  std::vector<Alert> alertsCopy;
  {
    std::lock_guard lock(mutex_);
    attributes = healthAttributes;
    alertsCopy = alerts;
  }
  int result = SQLITE_OK;
  auto keepFirstFailure = [&result](int rc) {
    if (result == SQLITE_OK && rc != SQLITE_OK) result = rc;
  };
  for (const HealthAttribute& attribute : attributes)
    keepFirstFailure(attribute.Save(database, id));
  for (const Alert& alert : alertsCopy) keepFirstFailure(alert.Save(database));
  return result;
}

void ServerHealth::TakeAlertRecords(const std::vector<std::string>& alertIds, bool all,
                                    TakenHealth* taken, std::vector<std::string>* statements) {
  NoteAttributes(taken);
  const std::size_t first = taken->alerts.records.size();
  TakeWhere(
      alerts,
      [&](const Alert& a) {
        return all || std::find(alertIds.begin(), alertIds.end(), a.id) != alertIds.end();
      },
      alertsOrder_, &taken->alerts);
  for (std::size_t i = first; i < taken->alerts.records.size(); ++i) {
    statements->push_back(sql::DeleteAlert(taken->alerts.records[i].id));
  }
}

void ServerHealth::TakeTestQueryAttributes(const std::string& testQueryId, TakenHealth* taken,
                                           std::vector<std::string>* statements) {
  NoteAttributes(taken);
  std::vector<std::string> attributeIds;
  for (const HealthAttribute& attribute : healthAttributes) {
    if (attribute.testQueryId == testQueryId) attributeIds.push_back(attribute.id);
  }
  TakeWhere(
      alerts,
      [&](const Alert& a) {
        return std::find(attributeIds.begin(), attributeIds.end(), a.healthAttributeId) !=
               attributeIds.end();
      },
      alertsOrder_, &taken->alerts);
  TakeWhere(
      healthAttributes, [&](const HealthAttribute& a) { return a.testQueryId == testQueryId; },
      attributesOrder_, &taken->attributes);
  // By attribute, not by alert: an alert on the attribute that only a save not yet made
  // would write goes with the rest.
  for (const std::string& attributeId : attributeIds) {
    statements->push_back(sql::DeleteAlertsOfHealthAttribute(attributeId));
  }
  statements->push_back(sql::DeleteHealthAttributesOfTestQuery(testQueryId));
}

void ServerHealth::NoteAttributes(TakenHealth* taken) const {
  if (!taken->attributesThen.empty()) return;
  for (const HealthAttribute& attribute : healthAttributes) {
    taken->attributesThen.push_back(attribute.id);
  }
}

void ServerHealth::PutBackHealth(const TakenHealth& taken) {
  PutBackInto(healthAttributes, taken.attributes);
  const auto& then = taken.attributesThen;
  PutBackInto(alerts, taken.alerts, [&](const Alert& alert) {
    // An alert on an attribute that was there when it left, and has gone since, went from
    // the file with its attribute.
    return std::find(then.begin(), then.end(), alert.healthAttributeId) == then.end() ||
           FindHealthAttribute(alert.healthAttributeId) != nullptr;
  });
}

}  // namespace engine
