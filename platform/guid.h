// Identifiers of monitors, test queries, health attributes, alerts and actions: random
// GUIDs in their text form of 36 lower-case characters (8-4-4-4-12), without braces.
// Any thread may call.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform {

struct Guid {
  std::array<std::uint8_t, 16> bytes{};
};

// A fresh random (version 4) identifier in text form.
std::string NewGuidString();

// The text form of the 16 bytes, in their order.
std::string GuidToString(const Guid& guid);

}  // namespace platform
