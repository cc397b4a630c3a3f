// The samples of a monitor: ServerData holds what every poll yields (availability,
// health, the error, the poll times), ODBCDataSourceData adds the connection and query
// times of an ODBC data source. A sample is a value; the monitor that owns it guards it
// with its mutex, and readers on other threads take copies.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

class ServerData {
 public:
  ServerData() = default;
  virtual ~ServerData() = default;
  ServerData(const ServerData&) = default;
  ServerData& operator=(const ServerData&) = default;

  // Availability, health, error code and error text all equal.
  virtual bool IsEqual(const ServerData& other) const;

  // The time of this poll becomes the previous poll's; this poll's time is now.
  void ShiftPollTime();
  void SetError(std::int32_t code, std::string text);

  // "OK" / "ERROR" and "UP" / "DOWN".
  std::string GetHealthText() const;
  std::string GetAvailabilityText() const;

  std::string monitorId;
  std::int64_t lastAlertTime = 0;  // when an action fired by an alert last finished
  std::int64_t previousPollTime = 0;
  std::int64_t time = 0;  // start of this poll
  bool available = true;
  bool health = false;
  std::int32_t errorCode = 0;  // 0: no error
  std::string errorDescription;
  std::string addressText;
};

class ODBCDataSourceData : public ServerData {
 public:
  // The base's fields, and both times, equal. Against a sample of another kind: false.
  bool IsEqual(const ServerData& other) const override;
  // Both times -1 (not measured).
  void ResetTimes();

  std::int64_t connectionTime = -1;  // ms from the start of the connection attempt
  std::int64_t requestTime = -1;     // ms for all enabled test queries together
};

// One entry of a monitor's short history of polls.
struct ServerHistoryEntry {
  std::int64_t connectionTime = -1;
  std::int64_t requestTime = -1;
  std::int64_t time = 0;
};

// True when both times fall in the same hour of the same local calendar day (year,
// month, day and hour all equal, and not the two passes of the hour repeated when summer
// time ends): the rule for extending a stored run of equal samples.
bool InSameLocalHour(std::int64_t a, std::int64_t b);

}  // namespace engine
