#include "engine/store/alert_listing.h"

#include <vector>

#include "engine/monitor/alert.h"
#include "engine/monitor/health_attribute.h"

namespace engine {

namespace {

// The non-empty parts, separator between each two.
std::string JoinNonEmpty(const std::vector<const std::string*>& parts, const char* separator) {
  std::string joined;
  for (const std::string* part : parts) {
    if (part->empty()) continue;
    joined += (joined.empty() ? "" : separator) + *part;
  }
  return joined;
}

}  // namespace

std::string ThresholdText(std::int64_t threshold) {
  return threshold == -1 ? "-" : std::to_string(threshold);
}

AlertListing ListAlert(const AttributeSnapshot* attribute, const AlertSettings& alert,
                       const std::string& actionName) {
  AlertListing listing;
  if (attribute) {
    listing.attribute = attribute->displayName;
    if (attribute->type == HealthAttribute::kNumeric) {
      listing.condition = std::string(ConditionOperatorText(alert.condition));
      listing.threshold = ThresholdText(alert.threshold);
    }
  }
  listing.action = actionName;
  listing.type = alert.alertType == Alert::kError ? "Error" : "Clear";
  return listing;
}

std::string AlertName(const AlertListing& listing) {
  const std::string compared =
      JoinNonEmpty({&listing.attribute, &listing.condition, &listing.threshold}, " ");
  return JoinNonEmpty({&compared, &listing.action, &listing.type}, ", ");
}

}  // namespace engine
