#pragma once
// The colour of one point: the floating-point work the stress test repeats without end.
// Every operation here is prescribed and counted; nothing may be cached between points or
// folded together, and the status is tested exactly where a failure must stop a statement.

#include <cmath>
#include <cstdint>

#include "services/fpstatus.h"
#include "services/maths.h"
#include "services/status.h"

namespace kelvarion {

enum class Kind { Arctangent, Sine, Logarithmic };

inline constexpr Kind kKinds[] = {Kind::Arctangent, Kind::Sine, Kind::Logarithmic};

inline constexpr const char* Caption(Kind kind) {
  switch (kind) {
    case Kind::Arctangent:
      return "Arctangent";
    case Kind::Sine:
      return "Sine";
    case Kind::Logarithmic:
      return "Logarithmic";
  }
  return "";
}

// -(value * factor), formed, negated and stored as a double, then the status tested: an
// overflow, a division by zero or an invalid operation fails instead of returning, and
// `result` keeps its old value. `result` may be `value` itself.
inline Status NegatedProduct(const double& value, const double& factor, double& result) {
  double r = -(value * factor);
  fp::Settle(r);
  if (!fp::Test(r)) return Status::Failed();
  result = r;
  return Status::Ok();
}

// Statement 1: the seed from the point's distance to the centre lines, and the kind's
// function of it. On failure v keeps the value it had.
template <class Canvas>
inline Status SeedAndFunction(Canvas& canvas, double X, double Y, Kind kind, double& v) {
  float W;
  if (!canvas.InnerWidth(W)) return Status::Failed();
  float halfW = W / 2;
  fp::Settle(halfW);
  if (!fp::Test(halfW)) return Status::Failed();
  float H;
  if (!canvas.InnerHeight(H)) return Status::Failed();
  float halfH = H / 2;
  fp::Settle(halfH);
  if (!fp::Test(halfH)) return Status::Failed();
  double a = std::fabs((X - static_cast<double>(halfW)) * (Y - static_cast<double>(halfH)));
  fp::Settle(a);
  if (!fp::Test(a)) return Status::Failed();
  if (kind == Kind::Arctangent) return maths::Atan(a, v);
  if (kind == Kind::Sine) return maths::Sin(a, v);
  return maths::Log(a, v);
}

// Statement 4: the colour is w rounded to the nearest integer, halves to even; a value that
// does not fit 32 bits fails the statement and the point keeps its older colour.
template <class Canvas>
inline Status DrawPoint(Canvas& canvas, double X, double Y, double w) {
  std::int32_t colour;
  if (!fp::RoundToInt32(w, colour)) return Status::Failed();
  return canvas.PlotPoint(static_cast<float>(X), static_cast<float>(Y), colour);
}

// The kernel step for one point: four statements under the caller's skip rule. v is the
// cycle's and survives from point to point; w and the step counter are the cycle's too.
template <class Canvas>
inline void KernelPoint(const SkipRule& skip, Canvas& canvas, double X, double Y, double K,
                        Kind kind, double& v, double& w, double& step) {
  skip(SeedAndFunction(canvas, X, Y, kind, v));
  w = v;
  for (step = 1; step <= 5; step += 1) skip(NegatedProduct(w, K, w));
  skip(DrawPoint(canvas, X, Y, w));
}

// One column of an image at X: Y runs from 0 to the canvas's inner height, read once as the
// column starts, inclusive. Its own function, so that the cycle and the benchmark run exactly
// the same machine code. The cycle's variables are worked on in registers and handed back when
// the column ends: nothing else reads them meanwhile.
template <class Canvas>
[[gnu::noinline]] void KernelColumn(const SkipRule& skip, Canvas& canvas, double X, double K,
                                    Kind kind, double& Y, double& v, double& w, double& step) {
  double y = Y, vv = v, ww = w, s = step;
  float endY = 0;
  skip(canvas.InnerHeight(endY));
  for (y = 0; y <= endY; y += 1) KernelPoint(skip, canvas, X, y, K, kind, vv, ww, s);
  Y = y;
  v = vv;
  w = ww;
  step = s;
}

}  // namespace kelvarion
