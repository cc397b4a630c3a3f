#include "platform/guid.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace platform {
namespace {

bool HasGuidShape(const std::string& s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = (s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f');
    if (hyphen ? s[i] != '-' : !hex) return false;
  }
  return true;
}

TEST(GuidTest, TextForm) {
  Guid g;
  for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i * 17);
  EXPECT_EQ(GuidToString(g), "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_TRUE(HasGuidShape(NewGuidString()));
}

TEST(GuidTest, ManyFromSeveralThreadsAreDistinct) {
  std::mutex mutex;
  std::set<std::string> all;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      std::vector<std::string> mine;
      for (int i = 0; i < 2500; ++i) mine.push_back(NewGuidString());
      std::lock_guard lock(mutex);
      for (auto& s : mine) {
        EXPECT_TRUE(HasGuidShape(s)) << s;
        all.insert(s);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(all.size(), 10000u);
}

}  // namespace
}  // namespace platform
