// Values that describe monitors without being part of the monitor class: the kind code of
// the one kind the program makes, the defaults of new monitors, the text a monitor
// connects with and the colour of a status text. Plain values and functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/odbc.h"

namespace engine {

// The kind code stored for a monitor of an ODBC data source.
inline constexpr int kOdbcDataSourceType = 2;
// A new monitor's polling interval, in minutes.
inline constexpr std::int32_t kDefaultPollingInterval = 15;
// A new monitor's login and query time-outs, in seconds.
inline constexpr std::int32_t kDefaultOdbcTimeout = 15;

// The text a monitor connects with: its own connection text when it has a custom one,
// else its data source name and credentials.
inline std::string MonitorConnectionText(bool customConnectionString,
                                         const std::string& connectionString,
                                         const std::string& address, const std::string& username,
                                         const std::string& password) {
  return customConnectionString ? connectionString
                                : platform::BuildDsnConnectionString(address, username, password);
}

// A colour as the user interface should paint it: the theme's colour of inactive
// captions, or an RGB value.
struct StatusColor {
  bool inactiveCaption = true;
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;

  static StatusColor InactiveCaption() { return {}; }
  static StatusColor Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {false, r, g, b};
  }
  bool operator==(const StatusColor&) const = default;
};

}  // namespace engine
