#pragma once
#include <QRect>
#include <cstdlib>

// Whether `outer` stands centred in `area`, or at its start along a side too small for it. An
// odd leftover pixel may go to either side.
inline bool Centred(const QRect& outer, const QRect& area) {
  auto along = [](int pos, int size, int start, int length) {
    return size >= length ? pos == start : std::abs(2 * (pos - start) - (length - size)) <= 1;
  };
  return along(outer.x(), outer.width(), area.x(), area.width()) &&
         along(outer.y(), outer.height(), area.y(), area.height());
}
