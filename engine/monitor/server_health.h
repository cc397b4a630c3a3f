// The part of every monitor that holds its health attributes and alerts and decides,
// after each poll, whether the monitor is healthy and which alerts fire. ServerHealth is
// the base of Server (server.h); every ServerHealth is a Server.
//
// Threads and locking: Mutex() is the monitor's one mutex; it guards every field of the
// monitor (see server.h), the attributes and the alerts with their counters. Members
// marked "caller holds Mutex()" expect it held (or the monitor not yet shared with any
// other thread); all others take it themselves and must be called without it. Nothing
// here holds the mutex while it writes rows or starts an action.
//
// Firing: under the mutex the poll calls CheckAlerts, which only collects the firings;
// after releasing the mutex it hands them to FireAlerts, which starts the actions and
// writes the AlertsData rows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/db/database.h"
#include "engine/monitor/alert.h"
#include "engine/monitor/health_attribute.h"

namespace engine {

class Action;

// One alert that fired on a poll: everything its action and its AlertsData row need,
// copied out of the monitor.
struct AlertFiring {
  std::shared_ptr<Action> action;  // the store's action; it starts the execution
  std::string monitorId;
  std::string alertId;
  std::int32_t alertType = Alert::kError;
  std::string actionId;
  std::string subject;    // the expanded title template; also the AlertsData title
  std::string text;       // the expanded message template
  std::int64_t time = 0;  // when it fired
};

// The order a sequence had before the removals still waiting for the file took records
// out of it: the records' identifiers, with those added since at the end. Every such
// removal holds it and the sequence's owner keeps a weak reference, so it lasts while any
// of them may still bring its records back.
using RemovalOrder = std::vector<std::string>;

// Records a removal took out of a sequence, and the order to put them back by.
template <typename T>
struct Taken {
  std::vector<T> records;
  std::shared_ptr<RemovalOrder> order;

  bool empty() const { return records.empty(); }
};

template <typename T>
const std::string& RecordId(const T& record) {
  return record.id;
}
template <typename T>
const std::string& RecordId(const std::shared_ptr<T>& record) {
  return record->id;
}

// Caller holds the sequence's lock. Erases every element that matches into *taken, after
// noting the sequence's order in the owner's `kept` (see RemovalOrder).
template <typename T, typename Match>
void TakeWhere(std::vector<T>& from, Match match, std::weak_ptr<RemovalOrder>& kept,
               Taken<T>* taken) {
  std::shared_ptr<RemovalOrder> order = kept.lock();
  if (!order) {
    order = std::make_shared<RemovalOrder>();
    kept = order;
  }
  for (const T& record : from) {
    if (std::find(order->begin(), order->end(), RecordId(record)) == order->end()) {
      order->push_back(RecordId(record));
    }
  }
  taken->order = order;
  for (std::size_t i = 0; i < from.size();) {
    if (match(from[i])) {
      taken->records.push_back(std::move(from[i]));
      from.erase(from.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

// Caller holds the sequence's lock. Puts back the records that keep accepts, each right
// after the nearest record before it in the order of its removal that is still there (at
// the front when none is), so the sequence has its order again whatever the order the
// refused removals come back in and whatever other records left meanwhile.
template <typename T, typename Keep>
void PutBackInto(std::vector<T>& into, const Taken<T>& taken, Keep keep) {
  for (const T& record : taken.records) {
    if (!keep(record)) continue;
    std::size_t at = into.size();
    if (taken.order) {
      const RemovalOrder& order = *taken.order;
      const auto self = std::find(order.begin(), order.end(), RecordId(record));
      if (self != order.end()) {
        at = 0;
        for (auto before = self; before != order.begin();) {
          --before;
          const auto there = std::find_if(into.begin(), into.end(),
                                          [&](const T& r) { return RecordId(r) == *before; });
          if (there != into.end()) {
            at = static_cast<std::size_t>(there - into.begin()) + 1;
            break;
          }
        }
      }
    }
    into.insert(into.begin() + static_cast<std::ptrdiff_t>(at), record);
  }
}

template <typename T>
void PutBackInto(std::vector<T>& into, const Taken<T>& taken) {
  PutBackInto(into, taken, [](const T&) { return true; });
}

// A monitor's attributes and alerts that a removal took out of it.
struct TakenHealth {
  Taken<HealthAttribute> attributes;
  Taken<Alert> alerts;
  // The monitor's attributes when the alerts were taken: an alert whose attribute has left
  // the monitor since (its test query's removal reached the file) does not come back.
  std::vector<std::string> attributesThen;
};

class ServerHealth {
 public:
  // String-table identifiers of the built-in attributes' names.
  static constexpr unsigned kAvailabilityNameId = 3000;
  static constexpr unsigned kHealthNameId = 3002;
  static constexpr unsigned kConnectionTimeNameId = 3004;
  static constexpr unsigned kRequestTimeNameId = 3006;
  // String-table identifier of the name of every test query's attribute.
  static constexpr unsigned kTestQueryValueNameId = 122;

  ServerHealth(const ServerHealth&) = delete;
  ServerHealth& operator=(const ServerHealth&) = delete;

  std::mutex& Mutex() const { return mutex_; }

  // ---- lookups (caller holds Mutex()); pointers are valid while it is held and the
  // sequence does not change ----

  Alert* FindAlert(const std::string& alertId);
  const Alert* FindAlert(const std::string& alertId) const;
  HealthAttribute* FindHealthAttribute(const std::string& attributeId);
  const HealthAttribute* FindHealthAttribute(const std::string& attributeId) const;
  HealthAttribute* FindHealthAttributeByName(const std::string& name);

  // ---- building (caller holds Mutex()); references as for the lookups ----

  // Appends a new alert of this monitor.
  Alert& NewAlert();
  // Appends a numeric attribute with that name and test query ("" for a built-in one).
  HealthAttribute& AddHealthAttribute(const std::string& name, const std::string& testQueryId);
  // The four built-in attributes, for a new monitor: availability and health (boolean),
  // connection time and total query time (numeric).
  void AddDefaultAttributes();
  // A new enabled alert with these fields; the threshold is sign-extended.
  Alert& AddAlert(const std::string& actionId, const std::string& healthAttributeId,
                  std::int32_t threshold, std::int32_t condition, std::int32_t alertType);

  // ---- evaluation (caller holds Mutex()) ----

  // A boolean attribute's condition holds exactly when the value is 0. A numeric one
  // compares value (left) with threshold by condition 0 "<", 1 ">", 2 "=", 3 "<=",
  // 4 ">=", 5 "<>"; any other condition does not hold.
  static bool CompareCondition(std::int64_t value, std::int64_t threshold, std::int32_t condition,
                               bool numeric);
  // The attribute's value on the current sample; -1 for none (unknown attribute or name,
  // missing or failed test query).
  std::int32_t GetAttributeValue(const std::string& attributeId) const;
  // False when an enabled error alert on the current sample is met (alerts on the health
  // attribute itself do not count).
  bool EvaluateHealth() const;
  // Counts each alert's consecutive met polls against its action's pollsCount and
  // returns the alerts that fire now, with their subject and text expanded from the
  // user's templates. Each firing resets its alert's `done`. `actions` is the store's
  // action list, taken before the mutex (GetActionList): the store's lock must never be
  // taken while a monitor's mutex is held.
  std::vector<AlertFiring> CheckAlerts(const std::vector<std::shared_ptr<Action>>& actions);
  // Replaces the macros in text, in this order, each in one pass that continues after
  // the inserted text: %MONITOR_NAME%, %SERVER_NAME%, %ERROR_NUMBER%,
  // %ERROR_DESCRIPTION%; with an alert also %ALERT_TIME%, %ATTRIBUTE_TYPE% and, when its
  // attribute exists, %ATTRIBUTE_VALUE% and %ATTRIBUTE_THRESHOLD% (the other way round
  // for a boolean attribute) and %ATTRIBUTE_NAME%. A macro inside an earlier macro's text
  // is expanded when its own turn comes; a text never makes the expansion go on for ever.
  void ExpandMacros(std::string& text, const Alert* alert, std::int32_t value) const;

  // ---- firing (without any monitor's mutex) ----

  // Starts each firing's action and writes its AlertsData row, in order.
  static void FireAlerts(std::vector<AlertFiring>&& firings);
  // Runs fn on the alert under its monitor's mutex when the monitor is still in the store
  // and still has that alert; says whether it did. Takes the store's lock, then the
  // monitor's: never call it while holding a monitor's mutex.
  static bool WithAlert(const std::string& monitorId, const std::string& alertId,
                        const std::function<void(Alert&)>& fn);
  // One AlertsData row in the data file; failures are not reported.
  static void AddAlertsData(const std::string& monitorId, const std::string& alertId,
                            std::int64_t time, const std::string& actionId,
                            const std::string& title);

  // ---- persistence (without the mutex) ----

  // Reads this monitor's attributes, then its alerts, from the configuration file and
  // replaces the sequences with them. On a failing statement its SQLite result is
  // returned and both sequences stay as they were.
  int Load(db::Database& database);
  // Writes every attribute's row, then every alert's row; the first failure's result, 0
  // when all were written (every row is attempted).
  int Save(db::Database& database) const;
  // Caller holds Mutex(). Takes the alerts with these identifiers (every alert when all is
  // set) out of the monitor into *taken, and appends the statements that delete their
  // rows to *statements, for the caller's transaction.
  void TakeAlertRecords(const std::vector<std::string>& alertIds, bool all, TakenHealth* taken,
                        std::vector<std::string>* statements);
  // Caller holds Mutex(). The same for the test query's attributes and the alerts on them.
  void TakeTestQueryAttributes(const std::string& testQueryId, TakenHealth* taken,
                               std::vector<std::string>* statements);
  // Caller holds Mutex(). Puts what was taken back where it was (a removal the
  // configuration file refused), but no alert whose attribute has gone since.
  void PutBackHealth(const TakenHealth& taken);

  // ---- fields (caller holds Mutex(), except id, which never changes once the monitor
  // is shared) ----

  std::string id;
  std::vector<HealthAttribute> healthAttributes;
  std::vector<Alert> alerts;

 protected:
  // A new monitor's identifier.
  ServerHealth();
  ~ServerHealth() = default;

 private:
  // Caller holds Mutex(). Notes the attributes the monitor has in *taken, once.
  void NoteAttributes(TakenHealth* taken) const;
  void ExpandMacros(std::string& text, const Alert* alert, std::int32_t value,
                    std::int64_t now) const;

  mutable std::mutex mutex_;
  // The sequences' order before the removals still waiting for the file (RemovalOrder);
  // guarded by the mutex.
  std::weak_ptr<RemovalOrder> attributesOrder_;
  std::weak_ptr<RemovalOrder> alertsOrder_;
};

}  // namespace engine
