#include "app/window_placement.h"

#include <algorithm>

namespace app {
namespace {

constexpr int kVisibleEdge = 64;

int Overlap(int a0, int a1, int b0, int b1) {
  return std::max(0, std::min(a1, b1) - std::max(a0, b0));
}

bool ShowsEnough(const Rect& r, const Rect& d) {
  const int w = Overlap(r.x, r.x + r.width, d.x, d.x + d.width);
  const int h = Overlap(r.y, r.y + r.height, d.y, d.y + d.height);
  return w >= std::min(kVisibleEdge, r.width) && h >= std::min(kVisibleEdge, r.height);
}

}  // namespace

int EffectiveShowMode(int savedMode) {
  return savedMode == kShowMinimized || savedMode == kShowMaximized ? savedMode : kShowNormal;
}

int ShowModeToSave(bool minimizedOrHidden, bool maximized) {
  if (minimizedOrHidden) return kShowMinimized;
  return maximized ? kShowMaximized : kShowNormal;
}

Rect DefaultWindowSize(int wantedWidth, int wantedHeight, const std::vector<Rect>& displays) {
  Rect r{0, 0, std::min(wantedWidth, kSmallScreenWidth),
         std::min(wantedHeight, kSmallScreenHeight)};
  if (!displays.empty()) {
    r.width = std::min(r.width, displays.front().width);
    r.height = std::min(r.height, displays.front().height);
  }
  return r;
}

Rect FitToDisplays(Rect wanted, const std::vector<Rect>& displays, int minWidth, int minHeight) {
  Rect r = wanted;
  r.width = std::max(r.width, minWidth);
  r.height = std::max(r.height, minHeight);
  if (displays.empty()) return r;

  const Rect* home = nullptr;
  for (const Rect& d : displays) {
    if (ShowsEnough(r, d)) {
      home = &d;
      break;
    }
  }
  const bool moved = home == nullptr;
  if (moved) home = &displays.front();
  r.width = std::min(r.width, std::max(home->width, minWidth));
  r.height = std::min(r.height, std::max(home->height, minHeight));
  if (moved) {
    r.x = home->x + std::max(0, (home->width - r.width) / 2);
    r.y = home->y + std::max(0, (home->height - r.height) / 2);
  }
  return r;
}

}  // namespace app
