#pragma once
// Which of two differing drawings of an image was wrong, when they were made on two different
// cores. Never by the word of either core alone: a core that gets some operands wrong every time
// it meets them agrees with itself, so a further drawing on either of the two proves nothing.
// The image is drawn again off screen (a drawing's values do not depend on where its points
// land), on a third core where there is one; otherwise on each of the two, point by point, and
// where they still differ each differing value is held against its exact value: the seed, the
// correctly rounded function value, v, w after each product and the colour are all exactly
// defined by the kernel's operations, and are worked out here in integer arithmetic, which
// shares nothing with the floating-point unit under test; a C library's value is wrong where it
// lies farther from the exact one than an honest library of this platform can (maths.h).

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "services/maths.h"
#include "services/status.h"
#include "stress/kernel.h"

namespace kelvarion {

// What drawing an image again exactly as the cycle drew it takes.
struct ImageRecipe {
  float width = 0, height = 0;  // the canvas's inner size
  double K = 0;
  Kind kind = Kind::Arctangent;
  double v = 0;  // v as the image began
};

// A canvas that keeps nothing.
struct ScratchCanvas {
  float width, height;
  Status InnerWidth(float& out) const {
    out = width;
    return Status::Ok();
  }
  Status InnerHeight(float& out) const {
    out = height;
    return Status::Ok();
  }
  Status PlotPoint(float, float, std::int32_t) { return Status::Ok(); }
};

// Every value one point produced, and the v it began with.
struct PointValues {
  double vIn = 0, library = 0, own = 0, seed = 0, v = 0;
  double w[5] = {};
  std::uint64_t colour = 0;
};

// The lanes of a drawing done again, recording each point as well: a digest of its values, to
// find the points where two drawings differ, or all of its values at the points asked for.
class PointLog {
 public:
  static constexpr std::size_t kMostPoints = 16;  // judged of the points that differ
  struct Record {
    std::vector<std::uint64_t> digests;                   // each point's, when filled
    const std::vector<std::uint64_t>* compare = nullptr;  // another drawing's digests
    std::vector<std::size_t> points;                      // where the two differ, or those to keep
    std::vector<PointValues> kept;                        // the values at `points`
    bool keep = false;                                    // keep the values at `points`
    std::size_t at = 0;                                   // the point being drawn
  };
  PointLog() = default;
  PointLog(Record* record, double v) : record_(record), lastV_(v) {}

  void AddSeed(const maths::Values& got, double a, double v) {
    sums_.AddSeed(got, a, v);
    point_ = PointValues{lastV_, got.library, got.own, a, v, {}, 0};
    lastV_ = v;
    step_ = 0;
  }
  void AddProduct(double w) {
    sums_.AddProduct(w);
    if (step_ < 5) point_.w[step_++] = w;
  }
  void AddColour(std::uint64_t colour) {
    sums_.AddColour(colour);
    point_.colour = colour;
    if (record_) Done(*record_);
  }
  void AddLanes(const PointLog& o) { sums_.AddLanes(o.sums_); }
  const ValueLanes& sums() const { return sums_; }

 private:
  void Done(Record& r) {
    const std::size_t i = r.at++;
    if (r.keep) {
      for (std::size_t k = 0; k < r.points.size(); ++k)
        if (r.points[k] == i) r.kept[k] = point_;
      return;
    }
    const std::uint64_t d = Digest(point_);
    if (!r.compare) {
      r.digests.push_back(d);
    } else if (i >= r.compare->size() || (*r.compare)[i] != d) {
      if (r.points.size() < kMostPoints) {
        r.points.push_back(i);
        r.kept.push_back(point_);
      }
    }
  }
  static std::uint64_t Digest(const PointValues& p) {
    std::uint64_t h = 0;
    for (double x : {p.library, p.own, p.seed, p.v, p.w[0], p.w[1], p.w[2], p.w[3], p.w[4]})
      h = (h ^ ValueLanes::Bits(x)) * 0x9E3779B97F4A7C15u, h ^= h >> 29;
    return (h ^ p.colour) * 0x9E3779B97F4A7C15u;
  }

  ValueLanes sums_;
  Record* record_ = nullptr;
  PointValues point_;
  double lastV_ = 0;
  int step_ = 0;
};

// The image drawn again off screen, through the kernel's own column; its lanes, and each point
// in `record` if given.
inline ImageValues<PointLog> DrawAgain(const ImageRecipe& s, PointLog::Record* record) {
  ScratchCanvas canvas{s.width, s.height};
  ImageValues<PointLog> values{PointLog(record, s.v), PointLog(), {}};
  double Y = 0, v = s.v, w = 0, step = 0;
  const SkipRule skip;
  for (double X = 0; X <= s.width; X += 1)
    KernelColumn(skip, canvas, X, s.K, s.kind, Y, v, w, step, values);
  return values;
}

namespace exact {

// A double's parts: sign, 53-bit significand and exponent (value = m * 2^e); false for zeros,
// subnormals, infinities and NaN, which the judge leaves undecided.
struct Parts {
  bool negative;
  std::uint64_t m;
  int e;
};
inline bool Split(double x, Parts& p) {
  const std::uint64_t u = ValueLanes::Bits(x);
  const int biased = static_cast<int>(u >> 52 & 0x7FF);
  if (biased == 0 || biased == 0x7FF) return false;
  p = {(u >> 63) != 0, (u & 0xFFFFFFFFFFFFFull) | (std::uint64_t{1} << 52), biased - 1075};
  return true;
}
inline double Join(bool negative, std::uint64_t m, int e) {  // m has 53 bits, e in range
  const std::uint64_t u = (std::uint64_t{negative} << 63) |
                          (static_cast<std::uint64_t>(e + 1075) << 52) | (m & 0xFFFFFFFFFFFFFull);
  double x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}
inline int BitLength(std::uint64_t x) {
  int n = 0;
  while (x) ++n, x >>= 1;
  return n;
}
// x >> s rounded to nearest, ties to even (s from 0 to 63).
inline std::uint64_t ShiftRounded(std::uint64_t x, int s) {
  if (s == 0) return x;
  const std::uint64_t q = x >> s, rest = x & ((std::uint64_t{1} << s) - 1),
                      half = std::uint64_t{1} << (s - 1);
  return q + (rest > half || (rest == half && (q & 1)));
}

enum class Result { Right, Wrong, Unknown };

// -(w * K) as the kernel's product gives it: `ok` false where it overflows (the statement
// fails); false where it cannot say (a zero, subnormal or non-finite w, K not a small integer).
inline bool NegatedProduct(double w, double K, double& out, bool& ok) {
  const auto k = static_cast<std::uint64_t>(K);
  Parts p;
  if (static_cast<double>(k) != K || k == 0 || k > 1024 || !Split(w, p)) return false;
  std::uint64_t m = p.m * k;
  int e = p.e;
  const int s = BitLength(m) - 53;
  if (s > 0) m = ShiftRounded(m, s), e += s;
  if (BitLength(m) > 53) m >>= 1, ++e;
  ok = e + 52 <= 1023;
  if (ok) out = Join(!p.negative, m, e);
  return true;
}

// The colour: w rounded to the nearest integer, ties to even, as 32 bits, or kNoColour where it
// does not fit.
inline bool Colour(double w, std::uint64_t& out) {
  if (w == 0) return out = 0, true;
  Parts p;
  if (!Split(w, p)) return false;
  if (p.e >= 32) return out = ValueLanes::kNoColour, true;
  const std::uint64_t magnitude = p.e >= 0 ? p.m << p.e : p.e < -63 ? 0 : ShiftRounded(p.m, -p.e);
  const std::int64_t n =
      p.negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (n < INT32_MIN || n > INT32_MAX) return out = ValueLanes::kNoColour, true;
  out = static_cast<std::uint32_t>(static_cast<std::int32_t>(n));
  return true;
}

inline bool Same(double x, double y) {
  return ValueLanes::Bits(x) == ValueLanes::Bits(y);
}

// Whether the values of point `index` (in drawing order) of the image, as one core produced
// them, are what the kernel's operations give exactly, each taken from that core's own inputs.
inline Result Point(const ImageRecipe& s, std::size_t index, const PointValues& p) {
  const auto rows = static_cast<std::size_t>(std::floor(s.height)) + 1;
  const auto X = static_cast<std::int64_t>(index / rows),
             Y = static_cast<std::int64_t>(index % rows);
  // The seed |(X - W/2) (Y - H/2)|, in quarters: exact for any canvas below 2^24 a side.
  const auto W2 = static_cast<std::int64_t>(s.width), H2 = static_cast<std::int64_t>(s.height);
  if (static_cast<float>(W2) != s.width || static_cast<float>(H2) != s.height)
    return Result::Unknown;
  const std::int64_t quarters = (2 * X - W2) * (2 * Y - H2);
  const double a = static_cast<double>(quarters < 0 ? -quarters : quarters) / 4;
  if (!Same(p.seed, a)) return Result::Wrong;
  const char f = s.kind == Kind::Arctangent ? 'a' : s.kind == Kind::Sine ? 's' : 'l';
  double v = p.vIn;
  if (f == 'l' && a == 0) {  // the logarithm of 0: no call, v kept
    if (!Same(p.library, 0) || !Same(p.own, 0)) return Result::Wrong;
  } else {
    const double right = maths::Reference(f, a);
    if (!Same(p.own, right)) return Result::Wrong;
    if (!std::isfinite(p.library) || !maths::Honest(f, p.library, right)) return Result::Wrong;
    v = right;
  }
  if (!Same(p.v, v)) return Result::Wrong;
  double w = p.v;
  for (const double got : p.w) {
    double product = w;
    bool ok = false;
    if (!NegatedProduct(w, s.K, product, ok)) {
      if (w != 0 || !std::isfinite(s.K)) return Result::Unknown;
      product = -(w * s.K);  // a zero stays a zero, its sign turned
    }
    if (!Same(got, product)) return Result::Wrong;
    w = got;
  }
  std::uint64_t colour;
  if (!Colour(w, colour)) return Result::Unknown;
  return colour == p.colour ? Result::Right : Result::Wrong;
}

}  // namespace exact

}  // namespace kelvarion
