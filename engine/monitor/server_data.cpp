#include "engine/monitor/server_data.h"

#include <ctime>

#include "engine/clock.h"
#include "platform/resources.h"

namespace engine {

namespace {

constexpr unsigned kOkText = 111;
constexpr unsigned kErrorText = 112;
constexpr unsigned kUpText = 113;
constexpr unsigned kDownText = 114;

}  // namespace

bool ServerData::IsEqual(const ServerData& other) const {
  return available == other.available && health == other.health && errorCode == other.errorCode &&
         errorDescription == other.errorDescription;
}

void ServerData::ShiftPollTime() {
  previousPollTime = time;
  time = Clock::Now();
}

void ServerData::SetError(std::int32_t code, std::string text) {
  errorCode = code;
  errorDescription = std::move(text);
}

std::string ServerData::GetHealthText() const {
  return platform::LoadResourceString(health ? kOkText : kErrorText);
}

std::string ServerData::GetAvailabilityText() const {
  return platform::LoadResourceString(available ? kUpText : kDownText);
}

bool ODBCDataSourceData::IsEqual(const ServerData& other) const {
  const auto* odbc = dynamic_cast<const ODBCDataSourceData*>(&other);
  return odbc != nullptr && ServerData::IsEqual(other) && connectionTime == odbc->connectionTime &&
         requestTime == odbc->requestTime;
}

void ODBCDataSourceData::ResetTimes() {
  connectionTime = -1;
  requestTime = -1;
}

bool InSameLocalHour(std::int64_t a, std::int64_t b) {
  const std::time_t ta = static_cast<std::time_t>(a);
  const std::time_t tb = static_cast<std::time_t>(b);
  std::tm la{};
  std::tm lb{};
  if (localtime_r(&ta, &la) == nullptr || localtime_r(&tb, &lb) == nullptr) return false;
  return la.tm_year == lb.tm_year && la.tm_mon == lb.tm_mon && la.tm_mday == lb.tm_mday &&
         la.tm_hour == lb.tm_hour && la.tm_isdst == lb.tm_isdst;
}

}  // namespace engine
