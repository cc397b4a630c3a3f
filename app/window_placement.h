// The main window's saved placement and the plain computations around it: which show
// mode a saved value stands for, and a rectangle that is sure to be usable on the
// displays at hand. No window is touched here; any thread may call.
#pragma once

#include <vector>

namespace app {

// Saved show modes (the values stored in the settings).
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;

struct WindowPlacement {
  int x = 0;
  int y = 0;
  int width = 800;
  int height = 600;
  int mode = kShowMaximized;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The smallest screen every window of the program fits: 1366x768, less a desktop panel.
inline constexpr int kSmallScreenWidth = 1366;
inline constexpr int kSmallScreenHeight = 768 - 40;

// The main window's default size: the wanted size (the layout size scaled to the font), no
// larger than a small screen nor than the main display's work area (displays as for
// FitToDisplays; none: no limit but the small screen).
Rect DefaultWindowSize(int wantedWidth, int wantedHeight, const std::vector<Rect>& displays);

// How a saved mode is shown: minimised and maximised as saved, every other value
// (a hidden or unknown mode included) as a normal window, so the window always appears.
int EffectiveShowMode(int savedMode);

// The mode to save for a window in this state.
int ShowModeToSave(bool minimizedOrHidden, bool maximized);

// The saved rectangle made usable: at least minWidth x minHeight, at most the size of the
// display it is on, and moved onto the first display when too little of it (less than
// a 64-pixel square) lies on any of them. displays are work areas; the first is the main
// one. With no display the rectangle only gets its minimum size.
Rect FitToDisplays(Rect wanted, const std::vector<Rect>& displays, int minWidth, int minHeight);

}  // namespace app
