#pragma once
// The benchmark's loops on a memory canvas, shared by the Linux and the Windows benchmark so
// that both time the same code: the kernel's own column through a MemoryCanvas, and the same
// prescribed operations written as one plain loop, the floor the kernel is measured against.

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "services/canvas_surface.h"
#include "services/fpstatus.h"
#include "services/maths.h"
#include "stress/kernel.h"

namespace kelvarion::bench {

inline constexpr int kImages = 237;

using PassTimes = std::array<double, kImages>;  // fastest time of each image of a pass, ns

inline void KeepFastest(PassTimes& best, int image, double ns) {
  best[image] = std::min(best[image], ns);
}
inline PassTimes Unmeasured() {
  PassTimes t;
  t.fill(1e18);
  return t;
}
// A pass's time a point, for images of `points` points each.
inline double NsPerPoint(const PassTimes& t, double points) {
  double sum = 0;
  for (double ns : t) sum += ns;
  return sum / (kImages * points);
}

// One image through the kernel's own code on a canvas in memory; v carries as in the cycle.
// Both memory loops are functions of their own, so that neither is compiled into the code
// around it differently from the other.
[[gnu::noinline]] inline void KernelImage(MemoryCanvas& canvas, double K, Kind kind, double& v) {
  const SkipRule skip;
  double w = 0, step = 0;
  float endX = 0;
  skip(canvas.InnerWidth(endX));
  double Y = 0;
  for (double X = 0; X <= endX; X += 1) KernelColumn(skip, canvas, X, K, kind, Y, v, w, step);
}

// The same operations with no abstraction at all: the floor the kernel is measured against.
struct Plain {
  Plain(int width, int height)
      : pixels(std::size_t(width) * height),
        drawn(std::size_t(width) + 1),
        innerW(float(width)),
        innerH(float(height)),
        limitX(float(width)),
        limitY(float(height)),
        stride(std::size_t(width)) {}
  std::vector<std::uint32_t> pixels;
  std::vector<unsigned char> drawn;
  volatile float innerW, innerH;
  // The image's size, as any canvas that can change size keeps it: read at every point.
  float limitX, limitY;
  std::size_t stride;
};
[[gnu::noinline]] inline void PlainImage(Plain& p, double K, int kind, double& v) {
  const float endX = p.innerW;
  for (double X = 0; X <= endX; X += 1) {
    const float endY = p.innerH;
    for (double Y = 0; Y <= endY; Y += 1) {
      do {
        float hw = p.innerW / 2;
        fp::Settle(hw);
        if (!std::isfinite(hw) && fp::Raised()) {
          fp::Clear();
          break;
        }
        float hh = p.innerH / 2;
        fp::Settle(hh);
        if (!std::isfinite(hh) && fp::Raised()) {
          fp::Clear();
          break;
        }
        double a = std::fabs((X - hw) * (Y - hh));
        fp::Settle(a);
        if (!std::isfinite(a) && fp::Raised()) {
          fp::Clear();
          break;
        }
        // The program's functions, as the kernel calls them: the library's value, rounded
        // correctly.
        double r;
        if (!(kind == 0 ? maths::Atan(a, r) : kind == 1 ? maths::Sin(a, r) : maths::Log(a, r)))
          break;
        v = r;
      } while (false);
      double w = v;
      for (double step = 1; step <= 5; step += 1) {  // the step counter is a double too
        double r = -(w * K);
        fp::Settle(r);
        if (!std::isfinite(r) && fp::Raised()) {
          fp::Clear();
          continue;
        }
        w = r;
      }
      if (!(std::isgreaterequal(w, -2147483648.5) && std::isless(w, 2147483647.5))) continue;
      const int c = _mm_cvtsd_si32(_mm_set_sd(w));
      const float fx = static_cast<float>(X), fy = static_cast<float>(Y);
      if (fx >= 0 && fy >= 0 && fx < p.limitX && fy < p.limitY) {
        const int x = static_cast<int>(fx), y = static_cast<int>(fy);
        p.pixels[static_cast<std::size_t>(y) * p.stride + x] = ToRgb32(c);
        p.drawn[x] = 1;
      }
    }
  }
}

// The kernel and the plain loop, image by image, each image's fastest time kept, on canvases of
// the size of the window's own (at its pixel ratio), so that all three figures time the same
// points.
struct MemoryLoops {
  MemoryLoops(int width, int height)
      : canvas(width, height, float(width), float(height)), plainCanvas(width, height) {}
  double PointsPerImage() const {
    float W = 0, H = 0;
    (void)canvas.InnerWidth(W);
    (void)canvas.InnerHeight(H);
    return double(W + 1) * double(H + 1);
  }
  PassTimes kernel = Unmeasured(), plain = Unmeasured();
  MemoryCanvas canvas;
  Plain plainCanvas;
  double vKernel = 2, vPlain = 2;
  long images = 0;

  // Runs image `index` of a pass through the kernel and through the plain loop, timing each
  // with `now` (nanoseconds).
  template <class Clock>
  void Image(int index, Clock now) {
    const double K = 2 + index / 3;
    const int kind = index % 3;
    if (kind == 0) vKernel = vPlain = 2;
    // Whichever runs first finds the caches as the code before left them: take turns.
    const bool kernelFirst = (images++ / kImages) % 2 == 0;
    for (int turn = 0; turn < 2; ++turn) {
      fp::ClearUpperVectors();
      const double t0 = now();
      if ((turn == 0) == kernelFirst) {
        KernelImage(canvas, K, kKinds[kind], vKernel);
        KeepFastest(kernel, index, now() - t0);
      } else {
        PlainImage(plainCanvas, K, kind, vPlain);
        KeepFastest(plain, index, now() - t0);
      }
    }
  }
  // Keeps the plain loop's work from being optimised away.
  bool Used() const { return plainCanvas.pixels[1] == 0x12345678u; }
};

}  // namespace kelvarion::bench
