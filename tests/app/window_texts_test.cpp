// Plain computations behind the windows: the alert box's pages, the text of an action
// test's result, and the main window's saved placement.
#include <gtest/gtest.h>

#include "app/app_user_interface.h"
#include "app/thread_message_box.h"
#include "app/window_placement.h"

namespace app {
namespace {

AlertPages Pages(std::initializer_list<int> kinds) {
  AlertPages pages;
  int n = 0;
  for (int kind : kinds) {
    ++n;
    pages.Add({"caption " + std::to_string(n), "text " + std::to_string(n), kind});
  }
  return pages;
}

TEST(AlertPagesTest, ANewMessageBecomesTheCurrentPage) {
  AlertPages pages = Pages({1, 1, 1});
  EXPECT_EQ(pages.CounterText(), "3/3");
  EXPECT_EQ(pages.CurrentMessage().caption, "caption 3");
  EXPECT_EQ(pages.CurrentMessage().text, "text 3");
  EXPECT_FALSE(pages.CanNext());
  EXPECT_TRUE(pages.CanPrev());

  ASSERT_TRUE(pages.ShowPage(pages.Current() - 1));
  EXPECT_EQ(pages.CounterText(), "2/3");
  EXPECT_EQ(pages.CurrentMessage().text, "text 2");
  EXPECT_TRUE(pages.CanNext());
  EXPECT_TRUE(pages.CanPrev());

  ASSERT_TRUE(pages.ShowPage(0));
  EXPECT_EQ(pages.CounterText(), "1/3");
  EXPECT_FALSE(pages.CanPrev());

  pages.Add({"c", "t", 1});
  EXPECT_EQ(pages.CounterText(), "4/4");
}

TEST(AlertPagesTest, PagesOutsideTheBoundsChangeNothing) {
  AlertPages pages = Pages({1, 0});
  ASSERT_TRUE(pages.ShowPage(0));
  for (int index : {-1, -100, 2, 3, 1000}) {
    EXPECT_FALSE(pages.ShowPage(index)) << index;
    EXPECT_EQ(pages.Current(), 0);
  }

  AlertPages empty;
  EXPECT_FALSE(empty.ShowPage(0));
  EXPECT_EQ(empty.CounterText(), "");
  EXPECT_FALSE(empty.CanPrev());
  EXPECT_FALSE(empty.CanNext());
}

TEST(AlertPagesTest, TheIconFollowsErrorAndInformationKindsOnly) {
  AlertPages pages = Pages({kAlertKindError, kAlertKindInformation, 7, kAlertKindError, 7});
  // Last page has an unknown kind: the icon of the page before stays.
  EXPECT_EQ(pages.IconKind(), kAlertKindError);
  pages.ShowPage(1);
  EXPECT_EQ(pages.IconKind(), kAlertKindInformation);
  pages.ShowPage(2);
  EXPECT_EQ(pages.IconKind(), kAlertKindInformation);
  pages.ShowPage(0);
  EXPECT_EQ(pages.IconKind(), kAlertKindError);
}

TEST(ActionTestResultTest, Texts) {
  EXPECT_EQ(FormatActionTestResult(0), "Action test successfuly completed");
  EXPECT_EQ(FormatActionTestResult(10).substr(0, 30), "Action test error: 0X0000000A ");
  EXPECT_EQ(FormatActionTestResult(5), "Action test error: 0X00000005 Access is denied.");
  EXPECT_EQ(FormatActionTestResult(10061),
            "Action test error: 0X0000274D No connection could be made because the target "
            "machine actively refused it.");
  EXPECT_EQ(FormatActionTestResult(0xFFFFFFFFu).substr(0, 29), "Action test error: 0XFFFFFFFF");
  EXPECT_EQ(FormatActionTestResult(0xABCDEF12u).substr(0, 29), "Action test error: 0XABCDEF12");
}

TEST(WindowPlacementTest, ShowModes) {
  EXPECT_EQ(EffectiveShowMode(kShowNormal), kShowNormal);
  EXPECT_EQ(EffectiveShowMode(kShowMinimized), kShowMinimized);
  EXPECT_EQ(EffectiveShowMode(kShowMaximized), kShowMaximized);
  // Hidden (0), missing values and anything unknown still show the window.
  for (int mode : {0, -1, 4, 5, 9, 10, 1000})
    EXPECT_EQ(EffectiveShowMode(mode), kShowNormal) << mode;

  EXPECT_EQ(ShowModeToSave(false, false), kShowNormal);
  EXPECT_EQ(ShowModeToSave(false, true), kShowMaximized);
  EXPECT_EQ(ShowModeToSave(true, false), kShowMinimized);
  EXPECT_EQ(ShowModeToSave(true, true), kShowMinimized);
}

TEST(WindowPlacementTest, FitToDisplays) {
  const std::vector<Rect> one = {{0, 0, 1280, 1024}};
  const std::vector<Rect> two = {{0, 0, 1280, 1024}, {1280, 0, 1920, 1080}};
  const struct {
    const char* what;
    Rect wanted;
    std::vector<Rect> displays;
    Rect expected;
  } cases[] = {
      {"inside stays", {10, 20, 800, 600}, one, {10, 20, 800, 600}},
      {"on the second display stays", {1500, 100, 800, 600}, two, {1500, 100, 800, 600}},
      {"partly outside but visible stays", {1200, 900, 800, 600}, one, {1200, 900, 800, 600}},
      {"gone display: centred on the first", {5000, 100, 800, 600}, one, {240, 212, 800, 600}},
      {"negative far away", {-3000, -3000, 800, 600}, two, {240, 212, 800, 600}},
      {"zero size gets the minimum", {10, 10, 0, 0}, one, {10, 10, 320, 240}},
      {"negative size gets the minimum", {10, 10, -5, -5}, one, {10, 10, 320, 240}},
      {"larger than the display shrinks", {0, 0, 3000, 2000}, one, {0, 0, 1280, 1024}},
      {"no display: only the minimum", {5000, 5000, 100, 100}, {}, {5000, 5000, 320, 240}},
  };
  for (const auto& c : cases) {
    const Rect r = FitToDisplays(c.wanted, c.displays, 320, 240);
    EXPECT_EQ(r.x, c.expected.x) << c.what;
    EXPECT_EQ(r.y, c.expected.y) << c.what;
    EXPECT_EQ(r.width, c.expected.width) << c.what;
    EXPECT_EQ(r.height, c.expected.height) << c.what;
  }
}

TEST(WindowPlacementTest, DefaultWindowSizeFitsASmallScreenAndTheDisplay) {
  const struct {
    const char* what;
    int width, height;
    std::vector<Rect> displays;
    int expectedWidth, expectedHeight;
  } cases[] = {
      {"small enough stays", 960, 680, {{0, 0, 1920, 1080}}, 960, 680},
      {"a wide font: within a small screen", 1298, 920, {{0, 0, 1920, 1080}}, 1298, 728},
      {"within the display", 1298, 920, {{0, 0, 1280, 1024}}, 1280, 728},
      {"larger than a small screen", 2000, 1500, {{0, 0, 2560, 1440}}, 1366, 728},
      {"a small display", 960, 680, {{0, 0, 800, 600}}, 800, 600},
      {"no display", 2000, 1500, {}, 1366, 728},
  };
  for (const auto& c : cases) {
    const Rect r = DefaultWindowSize(c.width, c.height, c.displays);
    EXPECT_EQ(r.width, c.expectedWidth) << c.what;
    EXPECT_EQ(r.height, c.expectedHeight) << c.what;
  }
}

}  // namespace
}  // namespace app
