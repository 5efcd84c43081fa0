// The correctly rounded arctangent, sine and natural logarithm (maths.h).
//
// Ziv's strategy. A fast path computes each value as an unevaluated sum hi + lo of two doubles,
// with a bound on its error derived below for each function (and measured against MPFR by
// tests/test_maths.cpp, over every table cell and the whole reduction range). When every value
// within that bound of hi + lo rounds to the same double, that double is the answer: for all but
// about one argument in ten thousand or fewer. Otherwise the value is computed again in 256-bit
// fixed point (integer arithmetic) to within 2^-240, far closer than the hardest known cases of
// these functions need (about 2^-120 of the result).
//
// Each fast path is written once and compiled twice: with the processor's fused multiply-add
// (fma, which rounds a * b + c once, so that a product's rounding error is one instruction),
// chosen at start-up where the processor has it, and without it (Dekker's and Veltkamp's exact
// products instead). The project builds with -ffp-contract=off: every fma is written out. A
// correctly rounded value is the same whichever path computed it; the paths differ only in
// speed and in which rare arguments they hand to the slow path.
//
// Only IEEE double operations (each rounded to nearest), integer arithmetic and exact
// conversions are used: no long double, no library function. So every platform computes the
// same bits.

#include "services/maths.h"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>

#include "services/maths_tables.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KELVARION_FMA 1
#define KELVARION_TARGET_FMA __attribute__((target("fma")))
#else
#define KELVARION_FMA 0
#endif
#if defined(__GNUC__)
#define KELVARION_LIKELY(x) __builtin_expect(!!(x), 1)
#define KELVARION_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define KELVARION_LIKELY(x) (x)
#define KELVARION_UNLIKELY(x) (x)
#endif

namespace kelvarion::maths {
namespace {

using std::int64_t;
using std::uint32_t;
using std::uint64_t;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

uint64_t Bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}
double FromBits(uint64_t u) {
  double x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// ---- Double-double arithmetic ------------------------------------------------------------
// The error-free transformations: each returns the rounded result and its exact rounding error.

struct DD {
  double hi, lo;
};

// a + b exactly, when |a| >= |b| or a == 0.
inline DD FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a + b exactly.
inline DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// a * b + c rounded once (only on the fused multiply-add path, F = true).
template <bool F>
[[gnu::always_inline]] inline double Fma(double a, double b, double c) {
  static_assert(F, "the plain path has no fused multiply-add");
#if KELVARION_FMA
  return __builtin_fma(a, b, c);
#else
  return a * b + c;
#endif
}

// x = hi + lo with 26 and 27 significant bits (Veltkamp; |x| < 2^995).
inline DD Split(double x) {
  const double t = 134217729.0 * x;  // 2^27 + 1
  const double hi = t - (t - x);
  return {hi, x - hi};
}

// a * b exactly: with fma, or by Dekker's product (|a|, |b| far from overflow).
template <bool F>
[[gnu::always_inline]] inline DD TwoProd(double a, double b) {
  const double p = a * b;
  if constexpr (F) {
    return {p, Fma<F>(a, b, -p)};
  } else {
    const DD x = Split(a), y = Split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
  }
}

// a * b + c, with one rounding (fma) or two.
template <bool F>
[[gnu::always_inline]] inline double MulAdd(double a, double b, double c) {
  if constexpr (F)
    return Fma<F>(a, b, c);
  else
    return a * b + c;
}

// A fast path's result: the value lies within `err` of hi + lo.
struct Approx {
  double hi, lo, err;
};

// The double nearest the value, when all of [hi + lo - err, hi + lo + err] rounds to the same
// double; false when it straddles a rounding boundary. Rounding is monotonic, so equal ends
// mean an equal whole, provided err also covers the rounding of lo +- err itself (about
// 2^-53 |lo|), which each bound below does.
inline bool RoundCertain(const Approx& v, double& out) {
  const double up = v.hi + (v.lo + v.err);
  const double down = v.hi + (v.lo - v.err);
  if (up != down) return false;
  out = up;
  return true;
}

constexpr uint64_t kSignBit = 0x8000000000000000ull;

// x with its sign bit flipped where `sign` has it.
inline double WithSign(double x, uint64_t sign) {
  return FromBits(Bits(x) ^ sign);
}

// x rounded to an integer, halves to even (|x| < 2^51).
inline double NearestInt(double x) {
  constexpr double kShift = 0x1.8p52;
  return (x + kShift) - kShift;
}

// a = m * 2^e with m in [sqrt(1/2), sqrt(2)), and i = round(256 m) in [181, 362]; a positive and
// finite. (For the slow logarithm.)
void Decompose(double a, double& m, int& e, int& i) {
  uint64_t u = Bits(a);
  e = 0;
  if ((u >> 52) == 0) {  // subnormal
    u = Bits(a * 0x1p54);
    e = -54;
  }
  e += static_cast<int>(u >> 52) - 1023;
  const uint64_t mantissa = u & 0xFFFFFFFFFFFFFull;
  const int above = mantissa > 0x6A09E667F3BCCull;  // m >= the double above sqrt(2): halve it
  e += above;
  m = FromBits(mantissa | (static_cast<uint64_t>(1023 - above) << 52));
  // 256 m = (256 + 256 f) / 2^above for m = (1 + f) / 2^above, rounded half up in integers.
  const int shift = 44 + above;
  i = (256 >> above) + static_cast<int>((mantissa + (1ull << (shift - 1))) >> shift);
}

// ---- 256-bit fixed point -------------------------------------------------------------------
// Nine 32-bit limbs, least significant first: eight of fraction and one of integer part, in
// two's complement. Products and quotients are truncated: each loses less than one unit of
// the last place, 2^-256.

constexpr int kLimbs = 9;

struct Fixed {
  uint32_t limb[kLimbs];
};

Fixed FixedOf(const uint32_t (&c)[kLimbs]) {
  Fixed f;
  for (int i = 0; i < kLimbs; ++i) f.limb[i] = c[i];
  return f;
}

Fixed Integer(uint32_t n) {
  Fixed f{};
  f.limb[kLimbs - 1] = n;
  return f;
}

bool Negative(const Fixed& a) {
  return (a.limb[kLimbs - 1] >> 31) != 0;
}

bool IsZero(const Fixed& a) {
  for (uint32_t l : a.limb)
    if (l != 0) return false;
  return true;
}

Fixed Add(const Fixed& a, const Fixed& b) {
  Fixed r;
  uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    carry += uint64_t{a.limb[i]} + b.limb[i];
    r.limb[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return r;
}

Fixed Sub(const Fixed& a, const Fixed& b) {
  Fixed r;
  uint64_t borrow = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const uint64_t d = uint64_t{a.limb[i]} - b.limb[i] - borrow;
    r.limb[i] = static_cast<uint32_t>(d);
    borrow = (d >> 63) & 1;
  }
  return r;
}

Fixed Abs(const Fixed& a) {
  return Negative(a) ? Sub(Fixed{}, a) : a;
}

// Signed comparison: negative, zero or positive as a <, = or > b.
int Compare(const Fixed& a, const Fixed& b) {
  if (Negative(a) != Negative(b)) return Negative(a) ? -1 : 1;
  for (int i = kLimbs - 1; i >= 0; --i)
    if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
  return 0;
}

// a * b for a, b >= 0 (product below 2^31).
Fixed MulPositive(const Fixed& a, const Fixed& b) {
  uint32_t p[2 * kLimbs] = {};
  for (int i = 0; i < kLimbs; ++i) {
    if (a.limb[i] == 0) continue;
    uint64_t carry = 0;
    for (int j = 0; j < kLimbs; ++j) {
      carry += uint64_t{a.limb[i]} * b.limb[j] + p[i + j];
      p[i + j] = static_cast<uint32_t>(carry);
      carry >>= 32;
    }
    p[i + kLimbs] = static_cast<uint32_t>(carry);
  }
  Fixed r;
  for (int i = 0; i < kLimbs; ++i) r.limb[i] = p[i + kLimbs - 1];
  return r;
}

Fixed Mul(const Fixed& a, const Fixed& b) {
  const Fixed m = MulPositive(Abs(a), Abs(b));
  return Negative(a) != Negative(b) ? Sub(Fixed{}, m) : m;
}

// a * n for a >= 0 (product below 2^31): exact.
Fixed MulSmall(const Fixed& a, uint32_t n) {
  Fixed r;
  uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    carry += uint64_t{a.limb[i]} * n;
    r.limb[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return r;
}

// a / n for a >= 0, n > 0.
Fixed DivSmall(const Fixed& a, uint32_t n) {
  Fixed r;
  uint64_t rem = 0;
  for (int i = kLimbs - 1; i >= 0; --i) {
    const uint64_t cur = (rem << 32) | a.limb[i];
    r.limb[i] = static_cast<uint32_t>(cur / n);
    rem = cur % n;
  }
  return r;
}

// The 32 bits of a little-endian limb array from bit `pos` (pos >= 0) up; bits past the end are 0.
uint32_t Bits32(const uint32_t* limbs, int count, int pos) {
  const int i = pos / 32, shift = pos % 32;
  const uint32_t low = i < count ? limbs[i] : 0;
  const uint32_t high = i + 1 < count ? limbs[i + 1] : 0;
  return shift == 0 ? low : (low >> shift) | (high << (32 - shift));
}

// a * 2^-n for a >= 0, n >= 0.
Fixed ShiftRight(const Fixed& a, int n) {
  Fixed r;
  for (int i = 0; i < kLimbs; ++i) r.limb[i] = Bits32(a.limb, kLimbs, 32 * i + n);
  return r;
}

// x exactly but for bits below 2^-256, which are dropped; |x| < 2^31.
Fixed FromDouble(double x) {
  const uint64_t u = Bits(x);
  const int field = static_cast<int>((u >> 52) & 0x7FF);
  uint64_t m = u & 0xFFFFFFFFFFFFFull;
  if (field != 0) m |= 1ull << 52;
  int s = (field == 0 ? 1 : field) - 1075 + 256;  // x * 2^256 = m * 2^s
  if (s < 0) {
    m = s <= -64 ? 0 : m >> -s;
    s = 0;
  }
  const uint32_t part[3] = {static_cast<uint32_t>(m), static_cast<uint32_t>(m >> 32), 0};
  Fixed f{};
  const int w = s / 32, b = s % 32;
  for (int k = 0; k < 3 && w + k < kLimbs; ++k)
    f.limb[w + k] = b == 0 ? part[k] : (part[k] << b) | (k > 0 ? part[k - 1] >> (32 - b) : 0);
  return (u >> 63) != 0 ? Sub(Fixed{}, f) : f;
}

// 2^(32 (i - 8)): the weight of limb i.
double LimbWeight(int i) {
  return FromBits(static_cast<uint64_t>(1023 + 32 * (i - 8)) << 52);
}

// a to about 2^-52 (its top 96 bits, summed in double).
double ToDouble(const Fixed& a) {
  const Fixed m = Abs(a);
  int i = kLimbs - 1;
  while (i > 0 && m.limb[i] == 0) --i;
  double v = m.limb[i] * LimbWeight(i);
  if (i >= 1)
    v += m.limb[i - 1] * LimbWeight(i - 1) + (i >= 2 ? m.limb[i - 2] * LimbWeight(i - 2) : 0);
  return Negative(a) ? -v : v;
}

// 1 / d for d in [1/2, 4]: Newton's iteration from the double quotient, 53, 106, 212, then
// 256 bits.
Fixed Reciprocal(const Fixed& d) {
  const Fixed one = Integer(1);
  Fixed y = FromDouble(1 / ToDouble(d));
  for (int i = 0; i < 3; ++i) y = Add(y, Mul(y, Sub(one, Mul(d, y))));
  return y;
}

// The error bound of every slow result: 2^-240, some thousands of units of 2^-256, against the
// few hundred the series below lose at most (two units a term, and |e| / 2 from e * ln 2).
constexpr uint32_t kSlowErrorUnits = 1u << 16;

// The double nearest v, where the true value lies within kSlowErrorUnits of v; false (with
// the nearest double of v still in `out`) if the value might round otherwise. |v| >= 2^-180.
bool RoundFixed(const Fixed& v, double& out) {
  const Fixed m = Abs(v);
  int top = 32 * kLimbs - 1;
  while (top >= 0 && ((m.limb[top / 32] >> (top % 32)) & 1) == 0) --top;
  if (top < 76) {  // below 2^-180: not a value these functions take at the arguments given here
    out = ToDouble(v);
    return false;
  }
  // Mantissa: bits top .. top - 52; the rest, against the midpoint 2^(top - 53).
  const int low = top - 52;
  uint64_t mantissa =
      (uint64_t{Bits32(m.limb, kLimbs, low + 32) & 0x1FFFFFu} << 32) | Bits32(m.limb, kLimbs, low);
  Fixed rest = m;
  for (int bit = low; bit < 32 * kLimbs; ++bit) rest.limb[bit / 32] &= ~(1u << (bit % 32));
  Fixed half{};
  half.limb[(low - 1) / 32] = 1u << ((low - 1) % 32);
  const Fixed diff = Sub(rest, half);
  Fixed err{};
  err.limb[0] = kSlowErrorUnits;
  const bool certain = Compare(Abs(diff), err) > 0;
  const int side = Negative(diff) ? -1 : IsZero(diff) ? 0 : 1;
  int exponent = top - 256;
  if (side > 0 || (side == 0 && (mantissa & 1) != 0)) {
    if (++mantissa == 1ull << 53) {
      mantissa >>= 1;
      ++exponent;
    }
  }
  const double r =
      FromBits((static_cast<uint64_t>(exponent + 1023) << 52) | (mantissa & 0xFFFFFFFFFFFFFull));
  out = Negative(v) ? -r : r;
  return certain;
}

// a * 2/pi reduced to the nearest quadrant: a = (q + 4n + f) * pi/2 with |f| <= 1/2, and
// r = f * pi/2. Payne and Hanek's method: only the bits of 2/pi that matter modulo 4 for this
// a (from 2^(1 - E) on, where a = M 2^E) are multiplied in, 384 of them, so the reduction is
// exact to 2^-290 for every finite a >= 0.78.
void ReduceLarge(double a, Fixed& r, int& q) {
  const uint64_t u = Bits(a);
  const uint64_t M = (u & 0xFFFFFFFFFFFFFull) | (1ull << 52);
  const int E = static_cast<int>(u >> 52) - 1075;
  // Words of 2/pi before w0 contribute multiples of 4; sh places the rest.
  const int w0 = E - 2 < 32 ? 0 : (E - 2) / 32;
  const int sh = E - 32 * (w0 + 1);
  constexpr int kWords = 12;
  // P = M * (the words w0 .. w0 + 11 as one integer), so that a * 2/pi ~ P * 2^(sh - 352).
  uint32_t P[kWords + 2] = {};
  const uint32_t m[2] = {static_cast<uint32_t>(M), static_cast<uint32_t>(M >> 32)};
  for (int i = 0; i < kWords; ++i) {
    const uint64_t t = tables::kTwoOverPiBits[w0 + kWords - 1 - i];
    uint64_t carry = 0;
    for (int j = 0; j < 2; ++j) {
      carry += t * m[j] + P[i + j];
      P[i + j] = static_cast<uint32_t>(carry);
      carry >>= 32;
    }
    P[i + 2] = static_cast<uint32_t>(carry);
  }
  const int point = 32 * (kWords - 1) - sh;  // bit of P with weight 1
  q = static_cast<int>(Bits32(P, kWords + 2, point) & 3);
  Fixed f{};
  for (int k = 0; k < kLimbs - 1; ++k) f.limb[k] = Bits32(P, kWords + 2, point - 256 + 32 * k);
  if ((f.limb[kLimbs - 2] >> 31) != 0) {  // f >= 1/2: the next quadrant
    f = Sub(f, Integer(1));
    q = (q + 1) & 3;
  }
  r = Mul(f, FixedOf(tables::kFixedPio2));
}

// sin r or cos r for 0 <= r <= 0.8 by their Taylor series, each term the last times
// r^2 / (n (n + 1)), until the terms vanish.
Fixed SinCosSeries(const Fixed& r, bool cosine) {
  const Fixed r2 = MulPositive(r, r);
  Fixed term = cosine ? Integer(1) : r;
  Fixed sum = term;
  bool subtract = true;
  for (uint32_t n = cosine ? 1 : 2;; n += 2, subtract = !subtract) {
    term = DivSmall(MulPositive(term, r2), n * (n + 1));
    if (IsZero(term)) break;
    sum = subtract ? Sub(sum, term) : Add(sum, term);
  }
  return sum;
}

// atan u (alternate = true) or atanh u for 0 <= u <= 1/5: u - u^3/3 + u^5/5 ..., or all added.
Fixed AtanSeries(const Fixed& u, bool alternate) {
  const Fixed u2 = MulPositive(u, u);
  Fixed power = u, sum = u;
  bool subtract = alternate;
  for (uint32_t n = 3;; n += 2) {
    power = MulPositive(power, u2);
    const Fixed term = DivSmall(power, n);
    if (IsZero(term)) break;
    sum = subtract ? Sub(sum, term) : Add(sum, term);
    if (alternate) subtract = !subtract;
  }
  return sum;
}

// atan a for 2^-27 <= a < 2^56 in fixed point: x = a or 1/a, c = i/8 the nearest eighth,
// atan x = atan c + atan((x - c) / (1 + x c)), the last by its series (|u| <= 1/16: 33 terms).
bool SlowAtanFixed(double a, double& out) {
  const bool inverted = a > 1;
  Fixed x;
  if (inverted) {  // 1/a = (1/m) 2^-e for a = m 2^e, m in [1, 2)
    const uint64_t u = Bits(a);
    const int e = static_cast<int>(u >> 52) - 1023;
    const double m = FromBits((u & 0xFFFFFFFFFFFFFull) | (1023ull << 52));
    x = ShiftRight(Reciprocal(FromDouble(m)), e);
  } else {
    x = FromDouble(a);
  }
  const int i = static_cast<int>(ToDouble(x) * 8 + 0.5);
  const Fixed c = DivSmall(Integer(static_cast<uint32_t>(i)), 8);  // exact
  const Fixed num = Sub(x, c);
  const Fixed den = Add(Integer(1), DivSmall(MulSmall(x, static_cast<uint32_t>(i)), 8));
  const Fixed uq = Mul(num, Reciprocal(den));
  const Fixed series = AtanSeries(Abs(uq), true);
  Fixed v =
      Add(FixedOf(tables::kFixedAtanEighths[i]), Negative(uq) ? Sub(Fixed{}, series) : series);
  if (inverted) v = Sub(FixedOf(tables::kFixedPio2), v);
  return RoundFixed(v, out);
}

// sin a for 2^-26 <= a finite in fixed point: reduced modulo pi/2 (to 2^-250), then the series.
bool SlowSinFixed(double a, double& out) {
  Fixed r;
  int q = 0;
  if (a <= 0.78)
    r = FromDouble(a);  // exact: a >= 2^-26
  else
    ReduceLarge(a, r, q);
  const bool cosine = (q & 1) != 0;
  Fixed v = SinCosSeries(Abs(r), cosine);
  const bool negative = ((q & 2) != 0) != (!cosine && Negative(r));
  if (negative) v = Sub(Fixed{}, v);
  return RoundFixed(v, out);
}

// log a for a positive, finite and not 1, in fixed point: a = m 2^e, m in [sqrt(1/2), sqrt(2)),
// log m = 2 atanh s with s = (m - 1) / (m + 1), |s| <= 0.172 (51 terms).
bool SlowLogFixed(double a, double& out) {
  double md;
  int e, i;
  Decompose(a, md, e, i);
  const Fixed m = FromDouble(md), one = Integer(1);
  const Fixed s = Mul(Sub(m, one), Reciprocal(Add(m, one)));
  const Fixed series = MulSmall(AtanSeries(Abs(s), false), 2);
  Fixed v = Negative(s) ? Sub(Fixed{}, series) : series;
  const Fixed eln2 = MulSmall(FixedOf(tables::kFixedLn2), static_cast<uint32_t>(e < 0 ? -e : e));
  v = e < 0 ? Sub(v, eln2) : Add(v, eln2);
  return RoundFixed(v, out);
}

// The slow path, out of the fast paths' way: the value for |a| (x), with the sign given.
[[gnu::noinline]] double SlowAtanCore(double x, uint64_t sign) {
  double r;
  SlowAtanFixed(x, r);
  return WithSign(r, sign);
}
[[gnu::noinline]] double SlowSinCore(double x, uint64_t sign) {
  double r;
  SlowSinFixed(x, r);
  return WithSign(r, sign);
}
[[gnu::noinline]] double SlowLogCore(double a) {
  double r;
  SlowLogFixed(a, r);
  return r;
}

// ---- Arctangent -----------------------------------------------------------------------------
// atan x for 2^-27 <= x < 2^56, branch-free: x' = x (x < 1) or 1/x (x >= 1), b = i/256 the point
// nearest x' (|x' - b| <= 2^-9 and a hair), and
//   x < 1:  atan x = atan b + atan((x - b) / (1 + b x))
//   x >= 1: atan x = pi/2 - atan b + atan((b x - 1) / (b + x))
// that is atan x = T + atan u, u = s (b P - Q) / (b Q + P), with (P, Q, s) = (max, min)(x, 1)
// and s = +-1, T = atan b or pi/2 - atan b (kAtanRows). b has 9 bits and |b P - Q| <= 2^-9 P, so
// b P - Q is a double, computed exactly; b Q + P is computed exactly as a double-double. One
// division gives u, its remainder (exact with fma; to 2^-105 |n| without) the correction, to
// 2^-103 |u|. |u| <= 2^-9 (and a hair): atan u = u + u^3 (-1/3 + u^2/5 - u^4/7) with the next
// term below 2^-81 |u|, the cubic part in plain double from u's leading part: its rounding and
// the neglected u.lo are under 2^-70 |u|. Table, sums and quotient: under 2^-100 of the result.
// |u| is at most 1.3 times the result (at i = 1), so the bound used is 2^-68 of the result.
template <bool F>
[[gnu::always_inline]] inline Approx AtanApprox(double x) {
  const uint64_t inverted = (Bits(x) + (1ull << 52)) >> 62;  // x >= 1
  const double P = x > 1.0 ? x : 1.0, Q = x < 1.0 ? x : 1.0;
  constexpr double kSign[2] = {1.0, -1.0};
  const double s = kSign[inverted ^ 1];
  const double kf = MulAdd<F>(Q / P, 256, 0x1.8p52);  // x' 256 is exact; the sum rounds it
  const uint64_t i = Bits(kf) & 511;
  const double b = (kf - 0x1.8p52) * 0x1p-8, sb = s * b, sQ = s * Q;
  double n, dh, dl;
  if constexpr (F) {
    n = Fma<F>(sb, P, -sQ);
    dh = Fma<F>(b, Q, P);
    dl = Fma<F>(b, Q, P - dh);  // P - dh is exact, and so is the whole rounding error
  } else {
    const DD p = Split(P), q = Split(Q);  // b times either part is exact (9 + 27 bits)
    n = (sb * p.hi - sQ) + sb * p.lo;     // sb p.hi - sQ is exact, and so the sum
    const DD t = TwoSum(P, b * q.hi);     // one of t.lo and q.lo is 0
    const DD d = FastTwoSum(t.hi, t.lo + b * q.lo);
    dh = d.hi;
    dl = d.lo;
  }
  const double y = 1 / dh;
  const double uh = n * y;
  double rest;  // n - uh (dh + dl)
  if constexpr (F) {
    rest = Fma<F>(-uh, dl, Fma<F>(-uh, dh, n));
  } else {
    const DD p = TwoProd<F>(uh, dh);
    rest = ((n - p.hi) - p.lo) - uh * dl;  // n - p.hi is exact (Sterbenz)
  }
  const double u2 = uh * uh;
  const double c = MulAdd<F>(u2, MulAdd<F>(u2, -1.0 / 7, 1.0 / 5), -1.0 / 3);
  const double tail = MulAdd<F>(uh * u2, c, rest * y);
  const double* T = tables::kAtanRows[inverted][i];
  const DD h = FastTwoSum(T[0], uh);  // |u| < atan b, or b = 0
  return {h.hi, h.lo + (T[1] + tail), 0x1p-68 * std::fabs(h.hi)};
}

// The arguments the fast arctangent leaves: NaN, |a| < 2^-27 (atan a = a - a^3/3 + ... is
// within a quarter ulp of a) and |a| >= 2^56 (atan a = pi/2 - 1/a + ... rounds to pi/2).
double AtanOutside(double a) {
  if (a != a) return a;
  if (std::fabs(a) < 0x1p-27) return a;
  return a < 0 ? -tables::kPio2[0] : tables::kPio2[0];
}

// x >= 512, the most common case in the kernel (b = 0 above): the same with one division.
// atan x = pi/2 - atan y, y = 1/x = yh + yl to 2^-104 (the remainder 1 - yh x is exact), and
// atan y = y + y^3 (-1/3 + y^2/5 - y^4/7) for y <= 2^-9: errors under 2^-70 y, so under 2^-80
// of the result. Bound used: 2^-75 of the result.
template <bool F>
[[gnu::always_inline]] inline Approx AtanLarge(double x) {
  const double yh = 1 / x;
  double rest;
  if constexpr (F) {
    rest = Fma<F>(-yh, x, 1.0);
  } else {
    const DD p = TwoProd<F>(yh, x);
    rest = (1 - p.hi) - p.lo;  // 1 - p.hi is exact (Sterbenz)
  }
  const double y2 = yh * yh;
  const double c = MulAdd<F>(y2, MulAdd<F>(y2, -1.0 / 7, 1.0 / 5), -1.0 / 3);
  const double atanLow = MulAdd<F>(yh * y2, c, rest * yh);  // atan y - yh
  const DD h = FastTwoSum(tables::kPio2[0], -yh);
  return {h.hi, h.lo + (tables::kPio2[1] - atanLow), 0x1p-75 * h.hi};
}

template <bool F>
[[gnu::always_inline]] inline Approx AtanAny(double x) {
  return x >= 512 ? AtanLarge<F>(x) : AtanApprox<F>(x);
}

constexpr uint64_t kAtanLow = 0x3E40000000000000ull, kAtanHigh = 0x4370000000000000ull;

template <bool F>
[[gnu::always_inline]] inline double AtanImpl(double a) {
  const uint64_t u = Bits(a), ux = u & ~kSignBit;
  if (KELVARION_UNLIKELY((ux >> 32) - (kAtanLow >> 32) >= (kAtanHigh - kAtanLow) >> 32))
    return AtanOutside(a);
  double r;
  if (KELVARION_LIKELY(RoundCertain(AtanAny<F>(FromBits(ux)), r))) return WithSign(r, u & kSignBit);
  return SlowAtanCore(FromBits(ux), u & kSignBit);
}

// ---- Sine -----------------------------------------------------------------------------------
// sin a for 2^-26 <= |a| finite. a = k pi/512 + r, |r| <= pi/1024 (and a hair), and with
// S, C = sin, cos (k pi/512) (rows k and k + 256 of kSinPi512, modulo 1024: no quadrants, no
// symmetries), sin a = S cos r + C sin r = S + C r + S (cos r - 1) + C (sin r - r), where
// cos r - 1 = -r^2/2 + r^4/24 - r^6/720 and sin r - r = -r^3/6 + r^5/120 - r^7/5040 (next
// terms below 2^-82 and 2^-93 |r|). C r is exact as a double-double; the rest is added in plain
// double, S (cos r - 1) last: its rounding and cos r - 1's own (2^-17.7 |S| in size, so about
// 2^-69 |S|) dominate. |S| is at most twice the result (for k = +-1 and r = -+pi/1024). r's low
// part rl enters as C rl - S rh rl. Bound used: 2^-66 of the result, plus the reduction's error.
template <bool F>
[[gnu::always_inline]] inline Approx SinEval(uint64_t k, double rh, double rl, double reduction) {
  const double* S = tables::kSinPi512[k & 1023];
  const double* C = tables::kSinPi512[(k + 256) & 1023];
  const double r2 = rh * rh;
  const double cm = r2 * MulAdd<F>(r2, MulAdd<F>(r2, -1.0 / 720, 1.0 / 24), -0.5);
  const double sm = rh * r2 * MulAdd<F>(r2, MulAdd<F>(r2, -1.0 / 5040, 1.0 / 120), -1.0 / 6);
  const DD p = TwoProd<F>(C[0], rh);
  const DD h = FastTwoSum(S[0], p.hi);  // |S| >= sin(pi/512) > |C r|, or S = 0
  double small = MulAdd<F>(C[0], sm, S[1]);
  small = MulAdd<F>(C[1], rh, small);
  small = MulAdd<F>(MulAdd<F>(-S[0], rh, C[0]), rl, small);
  small = MulAdd<F>(S[0], cm, small);
  return {h.hi, (h.lo + p.lo) + small, 0x1p-66 * std::fabs(h.hi) + reduction};
}

// a = k pi/512 + rh + rl for 2^-26 <= |a| < 2^26; returns k (modulo 1024 is what counts).
// With fma: k = round(a 512/pi) (|k| < 2^34); pi/512 = P0 + P1 + P2 (kPiOver512), a - k P0 is
// exact (both multiples of 2^-61 when k != 0, and the difference below 2^-8), k P1 is exact as a
// double-double, and the rest k P2 is below 2^-79: error under 2^-110.
// Without: the existing exact reduction modulo pi/2 (pi/2 in parts whose products with the
// quadrant number, below 2^26, are exact), then r = j pi/512 + t with |j| <= 129 and pi/512 in
// two parts of 44 bits (exact products with j) and a double: error under 2^-104.
template <bool F>
[[gnu::always_inline]] inline uint64_t ReduceSmall(double a, double& rh, double& rl,
                                                   double& error) {
  if constexpr (F) {
    using tables::kPiOver512;
    const double kf = Fma<F>(a, tables::kInvPiOver512, 0x1.8p52);
    const double k = kf - 0x1.8p52;
    const double r1 = Fma<F>(-k, kPiOver512[0], a);
    const DD p = TwoProd<F>(k, kPiOver512[1]);
    const DD r = TwoSum(r1, -p.hi);
    rh = r.hi;
    rl = Fma<F>(-k, kPiOver512[2], r.lo - p.lo);
    error = 0x1p-110;
    return Bits(kf);
  } else {
    using tables::kPio2Short;
    using tables::kPiOver512Short;
    const double k = NearestInt(a * tables::kTwoOverPi);  // below 2^26: 26 bits
    const double s = a - k * kPio2Short[0];  // both exact: 53 bits, and within 0.9 of a
    const double ph = k * (kPio2Short[1] + kPio2Short[2]);  // Dekker's product, k unsplit
    const double pl = (k * kPio2Short[1] - ph) + k * kPio2Short[2];
    const DD r1 = TwoSum(s, -ph);
    const DD r = TwoSum(r1.hi, (r1.lo - pl) - k * kPio2Short[3]);
    const double j = NearestInt(r.hi * tables::kInvPiOver512);
    const double t1 = r.hi - j * kPiOver512Short[0];  // exact: a multiple of ulp(r.hi), below 2^-8
    const DD t = TwoSum(t1, -(j * kPiOver512Short[1]));
    const DD v = TwoSum(t.hi, (t.lo + r.lo) - j * kPiOver512Short[2]);
    rh = v.hi;
    rl = v.lo;
    error = 0x1p-104;
    return (static_cast<uint64_t>(static_cast<int64_t>(k)) << 8) +
           static_cast<uint64_t>(static_cast<int64_t>(j));
  }
}

// 64 bits of 2/pi from bit `pos` on (bit 1 is the first after the binary point).
uint64_t TwoOverPiWord(int pos) {
  using tables::kTwoOverPiBits;
  const int w = (pos - 1) >> 5, off = (pos - 1) & 31;
  const uint64_t v = (uint64_t{kTwoOverPiBits[w]} << 32) | kTwoOverPiBits[w + 1];
  return off == 0 ? v : (v << off) | (kTwoOverPiBits[w + 2] >> (32 - off));
}

// a * b = hi 2^64 + lo.
inline void Mul64(uint64_t a, uint64_t b, uint64_t& hi, uint64_t& lo) {
#ifdef __SIZEOF_INT128__
  __extension__ const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  hi = static_cast<uint64_t>(p >> 64);
  lo = static_cast<uint64_t>(p);
#else
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
  hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
#endif
}

// x 512/pi for 2^26 <= x finite, by Payne and Hanek's method: x = M 2^E, and only the 192 bits
// of 2/pi from bit max(E - 1, 1) on matter (the earlier ones give multiples of 1024, the later
// ones less than 2^-129). Returns k (modulo 1024) and the fraction f in [-1/2, 1/2] as a
// double-double (to 2^-128 and 2^-105 |f|), so that x = (k + f) pi/512 modulo 2 pi.
uint64_t ReduceHuge(double x, double& fh, double& fl) {
  const uint64_t u = Bits(x);
  const uint64_t M = (u & 0xFFFFFFFFFFFFFull) | (1ull << 52);
  const int E = static_cast<int>(u >> 52) - 1075;
  const int first = E - 1 > 1 ? E - 1 : 1;
  uint64_t h0, l0, h1, l1, h2, l2;
  Mul64(M, TwoOverPiWord(first), h0, l0);
  Mul64(M, TwoOverPiWord(first + 64), h1, l1);
  Mul64(M, TwoOverPiWord(first + 128), h2, l2);
  // X = M * (the 192 bits) = x 512/pi 2^sh, sh = first + 183 - E (182 to 210).
  uint64_t X[4];
  X[0] = l2;
  X[1] = h2 + l1;
  const uint64_t c1 = X[1] < h2;
  X[2] = h1 + l0;
  uint64_t c2 = X[2] < h1;
  X[2] += c1;
  c2 += X[2] < c1;
  X[3] = h0 + c2;
  const int s = first + 183 - E - 128;  // the fraction's 128 bits start here: 54 to 82
  const int w = s >> 6, b = s & 63;
  const auto word = [&](int n) {  // the 64 bits of X from bit s + 64 n on
    const uint64_t lo = w + n < 4 ? X[w + n] : 0, hi = w + n + 1 < 4 ? X[w + n + 1] : 0;
    return b == 0 ? lo : (lo >> b) | (hi << (64 - b));
  };
  uint64_t Fl = word(0), Fh = word(1), k = word(2);
  uint64_t sign = 0;
  if (Fh >> 63) {  // f >= 1/2: the next k, and f - 1
    ++k;
    Fh = ~Fh;
    Fl = ~Fl + 1;
    Fh += Fl == 0;
    sign = kSignBit;
  }
  int shift = 0;
  if (Fh == 0) {
    Fh = Fl;
    Fl = 0;
    shift = 64;
  }
  if (Fh == 0) {  // an exact multiple of pi/512, which no double is: only for completeness
    fh = fl = 0;
    return k;
  }
  int lz = 0;  // Fh's leading zeros
  while ((Fh << lz) >> 63 == 0) ++lz;
  const uint64_t Nh = lz == 0 ? Fh : (Fh << lz) | (Fl >> (64 - lz)), Nl = Fl << lz;
  const double scale = FromBits(static_cast<uint64_t>(1023 - 53 - lz - shift) << 52);
  const int64_t top = static_cast<int64_t>(Nh >> 11);
  const int64_t next = static_cast<int64_t>(((Nh & 0x7FF) << 42) | (Nl >> 22));
  fh = WithSign(static_cast<double>(top) * scale, sign);
  fl = WithSign(static_cast<double>(next) * (scale * 0x1p-53), sign);
  return k;
}

// The sine's fast approximation for 2^-26 <= |a| finite.
template <bool F>
[[gnu::always_inline]] inline Approx SinApprox(double a) {
  double rh, rl, error;
  uint64_t k;
  if (KELVARION_LIKELY(std::fabs(a) < 0x1p26)) {
    k = ReduceSmall<F>(a, rh, rl, error);
  } else {
    double fh, fl;
    k = ReduceHuge(std::fabs(a), fh, fl);
    const DD p = TwoProd<F>(fh, tables::kPiOver512[0]);
    rh = p.hi;
    rl = p.lo + MulAdd<F>(fh, tables::kPiOver512[1], fl * tables::kPiOver512[0]);
    error = 0x1p-125;
    if (a < 0) {  // sin(-x) = -sin x: the reduction of x, negated
      k = 0 - k;
      rh = -rh;
      rl = -rl;
    }
  }
  return SinEval<F>(k, rh, rl, error);
}

constexpr uint64_t kSinLow = 0x3E50000000000000ull,
                   kSinHigh = 0x4190000000000000ull;  // 2^-26, 2^26

// The arguments the fast sine does not take: |a| < 2^-26 (sin a = a - a^3/6 + ... is within a
// quarter ulp of a), infinities and NaN.
double SinOutside(double a) {
  if (std::fabs(a) < 0x1p-26) return a;
  return a != a ? a : kNaN;
}

template <bool F>
[[gnu::always_inline]] inline double SinImpl(double a) {
  const uint64_t ux = Bits(a) & ~kSignBit;
  if (KELVARION_UNLIKELY(ux - kSinLow >= kSinHigh - kSinLow)) {
    if (ux < kSinLow || ux >= 0x7FF0000000000000ull) return SinOutside(a);
  }
  double r;
  if (KELVARION_LIKELY(RoundCertain(SinApprox<F>(a), r))) return r;
  return SlowSinCore(FromBits(ux), Bits(a) & kSignBit);
}

// ---- Logarithm ------------------------------------------------------------------------------
// log a for a positive and finite. a = 2^e m with m in [c0, 2 c0), c0 = 0.6885, read from the bits
// of a less those of c0: the exponent field gives e, the next eight bits the cell i of m (cells
// of 2^-9 below 1 and 2^-8 above; cell 159, [1 - 2^-10, 1 + 2^-9), holds 1). kLogCells gives r
// (9 bits) with |m r - 1| < 2^-8 over the cell, so that z = m r - 1 is a double (exact with one
// fma, or from m's two halves), |z| <= 0.00293, and -log r to 2^-96, its leading part a multiple
// of 2^-42 as ln 2's is: H = e ln2_hi - (log r)_hi is exact. Then
//   log a = H + z - z^2/2 + z^3 p(z) + (e ln2_lo - (log r)_lo)
// with -z^2/2 exact as a double-double, p(z) near-minimax to 2^-55.3 (kLogPoly), H + z and the
// -z^2/2 added exactly (|H| > 2 |z| unless H = 0). The error: p's, the rounding of p and z^3
// (about 2^-52 |z^3|), and of the low parts (under 2^-80 of the result). Cell 159 has r = 1, so
// near 1 the result is z - z^2/2 + ... with no cancellation. Bound used: 1.5 2^-52 |z^3| + 2^-76
// of the result; for e != 0 a shorter sum (below).
template <bool F>
[[gnu::always_inline]] inline Approx LogApprox(uint64_t u, int scale) {
  // The bits of a less those of c0 = 0x3FE6080000000000: c0's low 32 bits are 0, so the high
  // word alone gives the exponent and the cell.
  const uint32_t t = static_cast<uint32_t>(u >> 32) - 0x3FE60800u;
  const int k = static_cast<int32_t>(t) >> 20;
  const int e = k + scale;
  const double* c = tables::kLogCells[0] + ((t >> 10) & (255 << 2));
  const double m = FromBits(u - (static_cast<uint64_t>(static_cast<int64_t>(k)) << 52));
  const double r = c[0];
  double z;
  if constexpr (F) {
    z = Fma<F>(m, r, -1.0);
  } else {
    const DD h = Split(m);  // h.hi r and h.lo r are exact; h.hi r - 1 too; so their sum is z
    z = (h.hi * r - 1) + h.lo * r;
  }
  const double ed = e;
  const double H = MulAdd<F>(ed, tables::kLn2[0], c[1]);  // exact: 53 bits at most
  const double t1 = MulAdd<F>(ed, tables::kLn2[1], c[2]);
  const double z2 = z * z, z3 = z2 * z;
  const DD A = FastTwoSum(H, z);
  if (KELVARION_LIKELY(e != 0)) {
    // The result is at least 0.32 (a is outside [c0, 2 c0)) and -z^2/2 below 2^-17.8, so it needs
    // no exact product: it, z^2's rounding, the sum of the small terms, and the rounding test's
    // own sum each lose at most 2^-70.8; the rest (p to 2^-49.1 here, so z^3 p to 2^-74) is far
    // smaller. Bound used: 2^-68.
    const double* p = tables::kLogPolyShort;
    const double poly =
        MulAdd<F>(z2 * z2, p[4], MulAdd<F>(z2, MulAdd<F>(z, p[3], p[2]), MulAdd<F>(z, p[1], p[0])));
    const double low = MulAdd<F>(-0.5, z2, MulAdd<F>(z3, poly, t1));
    return {A.hi, A.lo + low, 0x1p-68};
  }
  const double* p = tables::kLogPoly;
  const double poly = MulAdd<F>(z2 * z2, MulAdd<F>(z, p[5], p[4]),
                                MulAdd<F>(z2, MulAdd<F>(z, p[3], p[2]), MulAdd<F>(z, p[1], p[0])));
  const DD h2 = TwoProd<F>(-0.5 * z, z);  // -z^2/2 exactly
  const DD B = FastTwoSum(A.hi, h2.hi);
  return {B.hi, (A.lo + B.lo) + (h2.lo + MulAdd<F>(z3, poly, t1)),
          0x1.8p-52 * std::fabs(z3) + 0x1p-76 * std::fabs(B.hi)};
}

// The arguments the fast logarithm does not take: log 0 = -infinity, log of a negative number
// or NaN is NaN, log infinity = infinity.
double LogOutside(double a) {
  if (a == 0) return -kInf;
  if (a > 0) return a;  // infinity
  return a != a ? a : kNaN;
}

template <bool F>
[[gnu::always_inline]] inline double LogImpl(double a) {
  const uint64_t u = Bits(a);
  double r;
  if (KELVARION_UNLIKELY((u >> 32) - 0x00100000u >= 0x7FE00000u)) {
    if (!(a > 0) || a == kInf) return LogOutside(a);
    // Subnormal: scaled exactly.
    if (KELVARION_LIKELY(RoundCertain(LogApprox<F>(Bits(a * 0x1p54), -54), r))) return r;
    return SlowLogCore(a);
  }
  if (KELVARION_LIKELY(RoundCertain(LogApprox<F>(u, 0), r))) return r;
  return SlowLogCore(a);
}

// ---- The two paths, and the choice between them ---------------------------------------------

double AtanPlain(double a) {
  return AtanImpl<false>(a);
}
double SinPlain(double a) {
  return SinImpl<false>(a);
}
double LogPlain(double a) {
  return LogImpl<false>(a);
}

// The approximations alone, for the tests: the value of f(a), within `bound`, or NaN outside the
// fast path's arguments.
template <bool F>
[[gnu::always_inline]] inline detail::Approximation Approximate(char f, double a) {
  const uint64_t u = Bits(a), ux = u & ~kSignBit;
  Approx v{kNaN, kNaN, kNaN};
  if (f == 'a' && ux - kAtanLow < kAtanHigh - kAtanLow) {
    v = AtanAny<F>(FromBits(ux));
    v.hi = WithSign(v.hi, u & kSignBit);
    v.lo = WithSign(v.lo, u & kSignBit);
  } else if (f == 's' && ux - kSinLow < 0x7FF0000000000000ull - kSinLow) {
    v = SinApprox<F>(a);
  } else if (f == 'l' && a > 0 && a < kInf) {
    v = a < 0x1p-1022 ? LogApprox<F>(Bits(a * 0x1p54), -54) : LogApprox<F>(u, 0);
  }
  return {v.hi, v.lo, v.err};
}

detail::Approximation ApproximatePlain(char f, double a) {
  return Approximate<false>(f, a);
}

#if KELVARION_FMA
KELVARION_TARGET_FMA double AtanFma(double a) {
  return AtanImpl<true>(a);
}
KELVARION_TARGET_FMA double SinFma(double a) {
  return SinImpl<true>(a);
}
KELVARION_TARGET_FMA double LogFma(double a) {
  return LogImpl<true>(a);
}
KELVARION_TARGET_FMA detail::Approximation ApproximateFma(char f, double a) {
  return Approximate<true>(f, a);
}

bool ProcessorHasFma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("fma");
}
#else
bool ProcessorHasFma() {
  return false;
}
#endif

// The functions in use: the plain ones until the start-up below has looked at the processor
// (constant-initialised, so any earlier caller still gets correct values).
double (*gAtan)(double) = AtanPlain;
double (*gSin)(double) = SinPlain;
double (*gLog)(double) = LogPlain;
detail::Path gPath = detail::Path::Plain;

const bool kHasFma = ProcessorHasFma();
[[maybe_unused]] const bool kChosen =
    detail::UsePath(kHasFma ? detail::Path::Fma : detail::Path::Plain);

}  // namespace

namespace detail {

bool FmaAvailable() {
  return kHasFma;
}

bool UsePath(Path path) {
#if KELVARION_FMA
  if (path == Path::Fma && ProcessorHasFma()) {
    gAtan = AtanFma;
    gSin = SinFma;
    gLog = LogFma;
    gPath = Path::Fma;
    return true;
  }
#endif
  gAtan = AtanPlain;
  gSin = SinPlain;
  gLog = LogPlain;
  gPath = Path::Plain;
  return path == Path::Plain;
}

Path CurrentPath() {
  return gPath;
}

Approximation ApproximateAtan(double a, Path path) {
#if KELVARION_FMA
  if (path == Path::Fma && kHasFma) return ApproximateFma('a', a);
#endif
  (void)path;
  return ApproximatePlain('a', a);
}
Approximation ApproximateSin(double a, Path path) {
#if KELVARION_FMA
  if (path == Path::Fma && kHasFma) return ApproximateFma('s', a);
#endif
  (void)path;
  return ApproximatePlain('s', a);
}
Approximation ApproximateLog(double a, Path path) {
#if KELVARION_FMA
  if (path == Path::Fma && kHasFma) return ApproximateFma('l', a);
#endif
  (void)path;
  return ApproximatePlain('l', a);
}

// The fast path alone, on the path in use; outside its arguments, the value itself.
namespace {
bool Fast(Approximation v, double exact, double& out) {
  if (v.hi != v.hi) {
    out = exact;
    return true;
  }
  return RoundCertain({v.hi, v.lo, v.bound}, out);
}
}  // namespace

bool FastAtan(double a, double& out) {
  return Fast(ApproximateAtan(a, gPath), CorrectAtan(a), out);
}
bool FastSin(double a, double& out) {
  return Fast(ApproximateSin(a, gPath), CorrectSin(a), out);
}
bool FastLog(double a, double& out) {
  return Fast(ApproximateLog(a, gPath), CorrectLog(a), out);
}

// The slow path alone: the fixed-point computation where there is one, the value itself
// elsewhere (special arguments, and those the fast path answers by a rule).
bool SlowAtan(double a, double& out) {
  const double x = std::fabs(a);
  if (!(x >= 0x1p-27 && x < 0x1p56)) {
    out = AtanOutside(a);
    return true;
  }
  const bool sure = SlowAtanFixed(x, out);
  if (a < 0) out = -out;
  return sure;
}
bool SlowSin(double a, double& out) {
  const double x = std::fabs(a);
  if (!(x >= 0x1p-26 && x < kInf)) {
    out = SinOutside(a);
    return true;
  }
  const bool sure = SlowSinFixed(x, out);
  if (a < 0) out = -out;
  return sure;
}
bool SlowLog(double a, double& out) {
  if (!(a > 0 && a < kInf) || a == 1) {
    out = a == 1 ? 0 : LogOutside(a);
    return true;
  }
  return SlowLogFixed(a, out);
}

}  // namespace detail

double CorrectAtan(double a) {
  return gAtan(a);
}
double CorrectSin(double a) {
  return gSin(a);
}
double CorrectLog(double a) {
  return gLog(a);
}

}  // namespace kelvarion::maths
