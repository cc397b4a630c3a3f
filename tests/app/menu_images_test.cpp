#include "app/menu_images.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "app/command_ids.h"

namespace app {
namespace {

TEST(MenuImagesTest, LookupSearchesFromTheLastEntry) {
  struct Case {
    std::vector<int> commands;
    int command;
    int index;
  } const cases[] = {
      {{10, 20, 30}, 20, 1}, {{10, 20, 10}, 10, 2},   // the last occurrence wins
      {{10, 10, 10}, 10, 2}, {{10, 20, 30}, 40, -1},  // an unknown command has none
      {{}, 10, -1},          {{0, 10}, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FindMenuImage(c.commands, c.command), c.index);
}

TEST(MenuImagesTest, TheStripCoversTheImagedCommandsOnce) {
  const auto commands = MenuImageCommands();
  EXPECT_EQ(std::set<int>(commands.begin(), commands.end()).size(), commands.size());
  for (int command :
       {kIdMonitorNew, kIdMonitorStart, kIdMonitorStop, kIdMonitorDelete, kIdSettings}) {
    EXPECT_GE(FindMenuImage(commands, command), 0) << command;
  }
  // Check items cannot carry an image, so their commands are not in the strip.
  for (int command : {kIdViewToolbar, kIdViewStatusBar})
    EXPECT_EQ(FindMenuImage(commands, command), -1);
}

}  // namespace
}  // namespace app
