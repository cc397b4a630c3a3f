#include "controls/accessible_name.h"

#include <gtest/gtest.h>

namespace controls {
namespace {

TEST(NameFromLabel, DropsMnemonicsAndTheClosingMark) {
  const struct {
    const char* label;
    const char* name;
  } cases[] = {
      {"T&est Connection...", "Test Connection"},
      {"&Monitor Name:", "Monitor Name"},
      {"Open Lumivar on startup.", "Open Lumivar on startup"},
      {"Sales && Stock:", "Sales & Stock"},  // a doubled mark is a literal one
      {"minute(s)", "minute(s)"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NameFromLabel(c.label), c.name) << c.label;
}

}  // namespace
}  // namespace controls
