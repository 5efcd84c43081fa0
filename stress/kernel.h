#pragma once
// The colour of one point: the floating-point work the stress test repeats without end.
// Every operation here is prescribed and counted; nothing may be cached between points or
// folded together, and the status is tested exactly where a failure must stop a statement.

#include <cmath>
#include <cstdint>
#include <cstring>

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

// The self-check's sums of every value the points of an image produce, each point's whether it
// lands on the canvas or is clipped, whether its colour fits or not and whether its statements
// succeed or fail: each lane takes the bits of one kind of value, in drawing order (a value not
// produced counts as 0), modulo 2^64. Any single changed bit of any value changes its lane. The
// five products of a point go into one lane as lane = (lane rotated left by 1) + w: a fault in
// one product runs on through the later ones (a flipped sign flips every later sign), and there
// the changes land on different bits of the lane instead of cancelling out as they could in a
// plain sum (four flipped signs add up to 2^65). A point's other values are each its own, so
// plain sums do. Cheap on purpose: two or three integer operations a value, beside the
// floating-point work, that no change of the kernel's operations can escape.
struct ValueLanes {
  std::uint64_t library = 0;  // the C library's results: the platform's own, see SumsOf
  std::uint64_t own = 0;      // the correctly rounded results
  std::uint64_t seed = 0;     // a, the seed the function is applied to
  std::uint64_t v = 0;        // v after the function's statement (kept where it failed)
  std::uint64_t w = 0;        // w after each of the five products, rotating
  std::uint64_t colour = 0;   // the colour as 32 bits, or kNoColour where it does not fit

  static constexpr std::uint64_t kNoColour = std::uint64_t{1} << 32;
  static std::uint64_t Bits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
  }
  void AddSeed(const maths::Values& got, double a, double v_) {
    library += Bits(got.library);
    own += Bits(got.own);
    seed += Bits(a);
    v += Bits(v_);
  }
  void AddProduct(double w_) { w = ((w << 1) | (w >> 63)) + Bits(w_); }
  void AddColour(std::uint64_t colour_) { colour += colour_; }
  // Fletcher's second sums, at the end of each column: plain sums of the lanes as they stand.
  void AddLanes(const ValueLanes& o) {
    library += o.library;
    own += o.own;
    seed += o.seed;
    v += o.v;
    w += o.w;
    colour += o.colour;
  }
};

// The same calls summing nothing: the benchmark's measure of what the sums cost.
struct NoLanes {
  void AddSeed(const maths::Values&, double, double) {}
  void AddProduct(double) {}
  void AddColour(std::uint64_t) {}
  void AddLanes(const NoLanes&) {}
};

// What an image's points produced, for the self-check: the lanes, their sums once more at the end
// of every column (Fletcher's second sums), and what the two computations of the functions found
// where they disagreed.
template <class Lanes = ValueLanes>
struct ImageValues {
  Lanes first, second;
  maths::Findings findings;
  double vStart = 0;  // v as the image began, for drawing it again
};

// Statement 1: the seed from the point's distance to the centre lines, and the kind's
// function of it. On failure v keeps the value it had. `a` and `got` receive the seed and the
// function's two values where they are computed.
template <class Canvas>
inline Status SeedAndFunction(Canvas& canvas, double X, double Y, Kind kind, double& v, double& a,
                              maths::Values& got, maths::Findings& findings) {
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
  double t = std::fabs((X - static_cast<double>(halfW)) * (Y - static_cast<double>(halfH)));
  fp::Settle(t);
  if (!fp::Test(t)) return Status::Failed();
  a = t;
  if (kind == Kind::Arctangent) return maths::Atan(t, v, got, findings);
  if (kind == Kind::Sine) return maths::Sin(t, v, got, findings);
  return maths::Log(t, v, got, findings);
}
template <class Canvas>
inline Status SeedAndFunction(Canvas& canvas, double X, double Y, Kind kind, double& v) {
  double a;
  maths::Values got;
  maths::Findings findings;
  return SeedAndFunction(canvas, X, Y, kind, v, a, got, findings);
}

// Statement 4: the colour is w rounded to the nearest integer, halves to even; a value that
// does not fit 32 bits fails the statement and the point keeps its older colour. `word` gets the
// colour for the sums (ValueLanes::colour).
template <class Canvas>
inline Status DrawPoint(Canvas& canvas, double X, double Y, double w, std::uint64_t& word) {
  std::int32_t colour;
  if (!fp::RoundToInt32(w, colour)) return Status::Failed();
  word = static_cast<std::uint32_t>(colour);
  return canvas.PlotPoint(static_cast<float>(X), static_cast<float>(Y), colour);
}
template <class Canvas>
inline Status DrawPoint(Canvas& canvas, double X, double Y, double w) {
  std::uint64_t word;
  return DrawPoint(canvas, X, Y, w, word);
}

// The kernel step for one point: four statements under the caller's skip rule. v is the
// cycle's and survives from point to point; w and the step counter are the cycle's too. Every
// value the point produces goes into `lanes`; disagreements of the two computations of the
// function into `findings`.
template <class Canvas, class Lanes>
inline void KernelPoint(const SkipRule& skip, Canvas& canvas, double X, double Y, double K,
                        Kind kind, double& v, double& w, double& step, Lanes& lanes,
                        maths::Findings& findings) {
  double a = 0;
  maths::Values got;
  skip(SeedAndFunction(canvas, X, Y, kind, v, a, got, findings));
  lanes.AddSeed(got, a, v);
  w = v;
  for (step = 1; step <= 5; step += 1) {
    skip(NegatedProduct(w, K, w));
    w = maths::TestFault('w', step, w);
    lanes.AddProduct(w);
  }
  std::uint64_t colour = ValueLanes::kNoColour;
  skip(DrawPoint(canvas, X, Y, w, colour));
  lanes.AddColour(colour);
}
template <class Canvas>
inline void KernelPoint(const SkipRule& skip, Canvas& canvas, double X, double Y, double K,
                        Kind kind, double& v, double& w, double& step) {
  NoLanes lanes;
  maths::Findings findings;
  KernelPoint(skip, canvas, X, Y, K, kind, v, w, step, lanes, findings);
}

// One column of an image at X: Y runs from 0 to the canvas's inner height, read once as the
// column starts, inclusive. Its own function, so that the cycle and the benchmark run exactly
// the same machine code. The cycle's variables and the lanes are worked on in registers and
// handed back when the column ends: nothing else reads them meanwhile.
template <class Canvas, class Lanes>
[[gnu::noinline]] void KernelColumn(const SkipRule& skip, Canvas& canvas, double X, double K,
                                    Kind kind, double& Y, double& v, double& w, double& step,
                                    ImageValues<Lanes>& values) {
  double y = Y, vv = v, ww = w, s = step;
  Lanes lanes = values.first;
  float endY = 0;
  skip(canvas.InnerHeight(endY));
  for (y = 0; y <= endY; y += 1)
    KernelPoint(skip, canvas, X, y, K, kind, vv, ww, s, lanes, values.findings);
  Y = y;
  v = vv;
  w = ww;
  step = s;
  values.first = lanes;
  values.second.AddLanes(lanes);
}

}  // namespace kelvarion
