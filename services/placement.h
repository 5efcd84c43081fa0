#pragma once
// Where windows open, in the screen's pixels: the same rules on every platform. Positions are
// those of a window's outer frame within the screen's work area (the screen less its panels).

#include <algorithm>

namespace kelvarion::placement {

struct Box {
  int x, y, width, height;
};
struct Point {
  int x, y;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};

// Centred on the work area; on a work area too small for it, at the area's top-left corner
// along that side, so that the title bar stays on the screen.
inline Point Centred(int width, int height, const Box& area) {
  return {area.x + std::max(0, (area.width - width) / 2),
          area.y + std::max(0, (area.height - height) / 2)};
}

// Beside `anchor`: to its right, its left, below or above it, wholly on the work area, at the
// first of those places that covers none of the anchor, else where it covers the least.
inline Point Beside(const Box& anchor, int width, int height, const Box& area) {
  const auto onScreen = [&](Point p) {
    p.x = std::max(area.x, std::min(p.x, area.x + area.width - width));
    p.y = std::max(area.y, std::min(p.y, area.y + area.height - height));
    return p;
  };
  const auto covered = [&](Point p) {
    const long long w = std::min(p.x + width, anchor.x + anchor.width) - std::max(p.x, anchor.x);
    const long long h = std::min(p.y + height, anchor.y + anchor.height) - std::max(p.y, anchor.y);
    return w > 0 && h > 0 ? w * h : 0;
  };
  const Point sides[] = {{anchor.x + anchor.width, anchor.y},
                         {anchor.x - width, anchor.y},
                         {anchor.x, anchor.y + anchor.height},
                         {anchor.x, anchor.y - height}};
  Point best{};
  long long least = -1;
  for (const Point& side : sides) {
    const Point p = onScreen(side);
    const long long area = covered(p);
    if (least < 0 || area < least) {
      best = p;
      least = area;
    }
  }
  return best;
}

}  // namespace kelvarion::placement
