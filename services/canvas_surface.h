#pragma once
// The drawing side of a canvas, free of the toolkit so that the kernel, the benchmark and the
// tools all draw through exactly the code the window draws through.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "services/status.h"

namespace kelvarion {

// A colour is a signed 32-bit value, RGB with red in the lowest byte. Values outside
// 0 ... 2^24 - 1 show as their low 24 bits (so -8 is red 0xF8, green 0xFF, blue 0xFF).
inline constexpr std::uint32_t ToRgb32(std::int32_t colour) {
  const auto c = static_cast<std::uint32_t>(colour);
  return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

// A persistent image in device pixels plus the columns drawn on since it was last shown.
// Drawing goes column by column, so a mark per column (one store a point, no compare) tells
// what to repaint; the repaint covers those columns' whole height.
struct CanvasSurface {
  float innerWidth = 0;  // the interior as the canvas reports it
  float innerHeight = 0;
  std::uint32_t* bits = nullptr;   // width x height pixels, `stride` pixels a row
  unsigned char* drawn = nullptr;  // one mark a column
  int width = 0;
  int height = 0;
  int stride = 0;
  float limitX = 0;  // width and height as floats, for the clip test at every point
  float limitY = 0;
  // Counts the changes of size: an image is comparable with an earlier one only while it holds.
  unsigned shape = 0;

  void SetSize(int w, int h, int pixelsPerRow) {
    ++shape;
    width = w;
    height = h;
    stride = pixelsPerRow;
    limitX = static_cast<float>(w);
    limitY = static_cast<float>(h);
  }

  // The first and last column drawn on since the marks were cleared; false if none.
  bool TakeDrawnColumns(int& first, int& last) {
    first = -1;
    for (int x = 0; x < width; ++x)
      if (drawn[x]) {
        if (first < 0) first = x;
        last = x;
        drawn[x] = 0;
      }
    return first >= 0;
  }
};

// What the kernel sees of a canvas. It fails cleanly once the canvas is gone (no surface).
// The sizes are read from the surface at every call: volatile, so the compiler can never keep
// them across points, and a canvas that changes size is seen at once.
class CanvasRef {
 public:
  Status InnerWidth(float& out) const {
    if (!surface_) return Status::Failed();
    out = *static_cast<const volatile float*>(&surface_->innerWidth);
    return Status::Ok();
  }
  Status InnerHeight(float& out) const {
    if (!surface_) return Status::Failed();
    out = *static_cast<const volatile float*>(&surface_->innerHeight);
    return Status::Ok();
  }
  // Sets the point at the absolute position (X, Y). Points outside the image are clipped, as
  // on any canvas: not an error.
  Status PlotPoint(float X, float Y, std::int32_t colour) {
    CanvasSurface* s = surface_;
    if (!s) return Status::Failed();
    if (X >= 0 && Y >= 0 && X < s->limitX && Y < s->limitY) {
      const int x = static_cast<int>(X);
      const int y = static_cast<int>(Y);
      s->bits[static_cast<std::size_t>(y) * s->stride + x] = ToRgb32(colour);
      s->drawn[x] = 1;
    }
    return Status::Ok();
  }
  // The persistent image as it stands, to be read (the self-check sums it); nullptr once the
  // canvas is gone.
  const CanvasSurface* Surface() const { return surface_; }

 protected:
  CanvasSurface* surface_ = nullptr;
};

// A canvas in plain memory, for the benchmark and tests.
class MemoryCanvas : public CanvasRef {
 public:
  MemoryCanvas(int width, int height, float innerWidth, float innerHeight)
      : pixels_(static_cast<std::size_t>(std::max(width, 0)) * std::max(height, 0), 0xFFFFFFFFu),
        drawn_(static_cast<std::size_t>(std::max(width, 0)) + 1) {
    store_.innerWidth = innerWidth;
    store_.innerHeight = innerHeight;
    store_.SetSize(width, height, width);
    store_.bits = pixels_.data();
    store_.drawn = drawn_.data();
    surface_ = &store_;
  }
  MemoryCanvas(const MemoryCanvas&) = delete;
  MemoryCanvas& operator=(const MemoryCanvas&) = delete;

  std::uint32_t Pixel(int x, int y) const {
    return pixels_[static_cast<std::size_t>(y) * store_.width + x];
  }
  void Detach() { surface_ = nullptr; }  // behaves like a canvas whose window is gone

 private:
  std::vector<std::uint32_t> pixels_;
  std::vector<unsigned char> drawn_;
  CanvasSurface store_;
};

}  // namespace kelvarion
