#pragma once
// The benchmark's loops on a memory canvas, shared by the Linux and the Windows benchmark so
// that both time the same code: the kernel's own column through a MemoryCanvas, with its value
// sums and without them (what the sums cost), the same prescribed operations written as one
// plain loop (the floor the kernel is measured against), and that plain loop with the C library
// alone (what the program's own computation of the functions costs beside it).

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
template <class Lanes>
[[gnu::noinline]] void KernelImage(MemoryCanvas& canvas, double K, Kind kind, double& v,
                                   ImageValues<Lanes>& values) {
  const SkipRule skip;
  double w = 0, step = 0;
  float endX = 0;
  skip(canvas.InnerWidth(endX));
  double Y = 0;
  for (double X = 0; X <= endX; X += 1)
    KernelColumn(skip, canvas, X, K, kind, Y, v, w, step, values);
}

// The C library's function alone, with the status test of its value: the kernel's call as it
// would be without the program's own computation beside it.
inline bool LibraryOnly(int kind, double a, double& r) {
  if (kind == 0) {
    if (std::isnan(a)) return false;
    r = maths::PlatformAtan(a);
  } else if (kind == 1) {
    if (!std::isfinite(a)) return false;
    r = maths::PlatformSin(a);
  } else {
    if (!(__builtin_isgreater(a, 0.0) && std::isfinite(a))) return false;
    r = maths::PlatformLog(a);
  }
  fp::Settle(r);
  if (std::isfinite(r)) return true;
  fp::Clear();
  return false;
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
  maths::Findings findings;
};
// With `own`, the program's functions as the kernel calls them (the library's value and the
// program's own checking each other); without, the C library's alone.
template <bool own>
[[gnu::noinline]] void PlainImage(Plain& p, double K, int kind, double& v) {
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
        double r;
        if (own) {
          maths::Values got;
          if (!(kind == 0   ? maths::Atan(a, r, got, p.findings)
                : kind == 1 ? maths::Sin(a, r, got, p.findings)
                            : maths::Log(a, r, got, p.findings)))
            break;
        } else if (!LibraryOnly(kind, a, r)) {
          break;
        }
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

// The kernel (with and without its sums) and the two plain loops, image by image, each image's
// fastest time kept, on canvases of the size of the window's own (at its pixel ratio), so that
// all the figures time the same points.
struct MemoryLoops {
  MemoryLoops(int width, int height)
      : canvas(width, height, float(width), float(height)), plainCanvas(width, height) {}
  int Width() const { return canvas.Surface()->width; }
  int Height() const { return canvas.Surface()->height; }
  double PointsPerImage() const {
    float W = 0, H = 0;
    (void)canvas.InnerWidth(W);
    (void)canvas.InnerHeight(H);
    return double(W + 1) * double(H + 1);
  }
  static constexpr int kLoops = 4;
  // The kernel, the kernel without its sums, the plain loop, the plain loop over the library.
  PassTimes times[kLoops] = {Unmeasured(), Unmeasured(), Unmeasured(), Unmeasured()};
  const PassTimes& kernel = times[0];
  const PassTimes& unsummed = times[1];
  const PassTimes& plain = times[2];
  const PassTimes& library = times[3];
  MemoryCanvas canvas;
  Plain plainCanvas;  // both plain loops draw here: no more memory between real images than before
  double vs[kLoops] = {2, 2, 2, 2};
  ImageValues<ValueLanes> values;
  ImageValues<NoLanes> noValues;
  std::uint64_t kept = 0;
  long images = 0;

  // Runs image `index` of a pass through the kernel and the plain loop, timing each with `now`
  // (nanoseconds); with `all`, through the kernel without its sums and the plain loop over the
  // library too. (Between the real window's images only the first two run: more would leave the
  // caches and predictors further from where the real image left them, and slow it.)
  template <class Clock>
  void Image(int index, Clock now, bool all = false) {
    const double K = 2 + index / 3;
    const int kind = index % 3;
    if (kind == 0)
      for (double& v : vs) v = 2;
    // Whichever runs first finds the caches as the code before left them: take turns.
    const int start = static_cast<int>((images++ / kImages) % kLoops);
    for (int turn = 0; turn < kLoops; ++turn) {
      const int loop = (start + turn) % kLoops;
      if (!all && (loop == 1 || loop == 3)) continue;
      fp::ClearUpperVectors();
      const double t0 = now();
      switch (loop) {
        case 0:
          values = {};
          KernelImage(canvas, K, kKinds[kind], vs[0], values);
          kept += values.first.w;
          break;
        case 1:
          KernelImage(canvas, K, kKinds[kind], vs[1], noValues);
          break;
        case 2:
          PlainImage<true>(plainCanvas, K, kind, vs[2]);
          break;
        default:
          PlainImage<false>(plainCanvas, K, kind, vs[3]);
          break;
      }
      KeepFastest(times[loop], index, now() - t0);
    }
  }
  // Keeps the work from being optimised away.
  bool Used() const { return plainCanvas.pixels[1] == 0x12345678u || kept == 1; }
};

}  // namespace kelvarion::bench
