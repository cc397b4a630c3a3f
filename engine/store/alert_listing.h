// How an alert reads to the user: the cells of its row in the alerts view that say which
// alert it is, and the name made of them by which other messages point at it. Pure
// functions of snapshot values; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/store/monitor_snapshot.h"

namespace engine {

// The threshold as it is shown and typed: "-" for -1 (no value), else the number.
std::string ThresholdText(std::int64_t threshold);

// The alert's cells before its run-time ones: attribute (its display name), condition,
// threshold, action (its name) and alert type ("Error" or "Clear").
struct AlertListing {
  std::string attribute;
  std::string condition;
  std::string threshold;
  std::string action;
  std::string type;
};

// attribute is null when the alert's attribute is missing: its three cells stay empty. A
// boolean attribute leaves condition and threshold empty, and a condition number outside
// the table the condition. actionName is "" when the action is missing.
AlertListing ListAlert(const AttributeSnapshot* attribute, const AlertSettings& alert,
                       const std::string& actionName);

// The alert as its row reads, without the empty cells: attribute, condition and threshold
// as one phrase, then the action and the type, `Connection Time (ms.) > 500, Mail DBA,
// Error`.
std::string AlertName(const AlertListing& listing);

}  // namespace engine
