// The two settings stores, for tests that run one table against both: the key file in a
// temporary folder and the in-memory store.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

struct SettingsStoreKind {
  std::string name;
  std::function<std::unique_ptr<platform::SettingsStore>(const TempDir&)> make;
};

inline const SettingsStoreKind kFileSettingsStore{
    "File", [](const TempDir& dir) {
      return std::make_unique<platform::FileSettingsStore>(
          dir.File("Zephrane Software/Lumivar.conf"));
    }};
inline const SettingsStoreKind kMemorySettingsStore{
    "Memory", [](const TempDir&) { return std::make_unique<platform::MemorySettingsStore>(); }};

// For INSTANTIATE_TEST_SUITE_P(..., testing::Values(kFileSettingsStore, kMemorySettingsStore),
// SettingsStoreName).
inline std::string SettingsStoreName(const ::testing::TestParamInfo<SettingsStoreKind>& info) {
  return info.param.name;
}

}  // namespace testing_support
