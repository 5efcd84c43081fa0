// The correctly rounded arctangent, sine and natural logarithm (maths.h).
//
// Each value is first computed in double-double arithmetic (a value carried as an unevaluated
// sum hi + lo of two doubles, about 106 bits) to within an error bound of about 2^-66 of the
// result, derived below for each function (against MPFR the largest error seen is a tenth of
// it): argument reduction by small tables of exact points (i/256), then short polynomials. When
// every value within that bound of the approximation rounds to the same double, that double is
// the answer. Otherwise, for one argument in five thousand or fewer, the value is computed
// again in 256-bit fixed point (integer arithmetic) to within 2^-240, far closer than the
// hardest known cases of these functions need (about 2^-120 of the result).
//
// Only IEEE double operations (+ - * /, each rounded to nearest), integer arithmetic and exact
// conversions are used: no long double, no fused multiply-add (the project builds with
// -ffp-contract=off), no library function. So every platform computes the same bits.

#include "services/maths.h"

#include <cstdint>
#include <cstring>

#include "services/maths_tables.h"

namespace kelvarion::maths {
namespace {

using std::uint32_t;
using std::uint64_t;

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

// a * b exactly (Dekker's product with Veltkamp's splitting; |a|, |b| far from overflow).
inline DD TwoProd(double a, double b) {
  const double p = a * b;
  const double ta = 134217729.0 * a, tb = 134217729.0 * b;  // 2^27 + 1
  const double ah = ta - (ta - a), al = a - ah;
  const double bh = tb - (tb - b), bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

// n / d to about 2^-103.
inline DD Divide(const DD& n, const DD& d) {
  const double inv = 1 / d.hi;
  const double q1 = n.hi * inv;
  const DD t = TwoProd(q1, d.hi);
  const double rem = (((n.hi - t.hi) - t.lo) + n.lo) - q1 * d.lo;  // n.hi - t.hi is exact
  return FastTwoSum(q1, rem * inv);
}

// The double nearest to a value known to lie within `err` of v.hi + v.lo, when all of that
// interval rounds to the same double; false when it straddles a rounding boundary. v must be
// normalised (|v.lo| <= ulp(v.hi)), and err must include 2^-104 |v.hi| for the rounding of
// v.lo +- err itself. Rounding is monotonic, so equal ends mean an equal whole.
inline bool RoundCertain(const DD& v, double err, double& out) {
  const double up = v.hi + (v.lo + err);
  const double down = v.hi + (v.lo - err);
  if (up != down) return false;
  out = up;
  return true;
}

// x rounded to an integer, halves to even (|x| < 2^51).
inline double NearestInt(double x) {
  constexpr double kShift = 0x1.8p52;
  return (x + kShift) - kShift;
}

// a = m * 2^e with m in [sqrt(1/2), sqrt(2)), and i = round(256 m) in [181, 362]; a positive and
// finite.
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

// a as a normalised double-double, to about 2^-104 (|a| > 2^-150).
DD ToDD(const Fixed& a) {
  const double hi = ToDouble(a);
  return FastTwoSum(hi, ToDouble(Sub(a, FromDouble(hi))));
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

// The polynomials' coefficients.
constexpr double kThird = 1.0 / 3, kFifth = 1.0 / 5, kSeventh = 1.0 / 7;

// The fast paths are inlined into CorrectAtan and the others, which the kernel calls for
// every point: one call less, and the result stays in a register.

// atan a for 2^-27 <= a < 2^56. x = a or 1/a (then atan a = pi/2 - atan x), b = i/256 the
// nearest point to x, u = (x - b) / (1 + x b), |u| <= 2^-9, and atan x = atan b + atan u with
// atan u = u - u^3/3 + u^5/5 - u^7/7 (the next term is below 2^-75 |u|). The error: u^3 (...)
// in plain double, 2^-19.6 |u| computed with four roundings and without u.lo, under 2^-69.5 |u|;
// the rest (table, quotient, sums) under 2^-101 of the result. Bound used: 2^-67 |u| + 2^-99
// of the result.
[[gnu::always_inline]] inline bool AtanFast(double a, double& out) {
  using tables::kAtan;
  using tables::kPio2;
  const bool inverted = a > 1;
  const double x = inverted ? 1 / a : a;
  int i = 0;
  DD u;
  // i = 0 when x <= 2^-9: when a <= 2^-9 or a >= 512 (1/512 is a double, and division rounds
  // monotonically), known before the division ends. The general branch takes i = 0 as well.
  if (a <= 0x1p-9 || a >= 512) {
    if (inverted) {  // 1/a = x + (1 - a x) / a; x is the nearest double, so this is normalised
      const DD p = TwoProd(a, x);
      u = {x, ((1 - p.hi) - p.lo) * x};
    } else {
      u = {a, 0};
    }
  } else {
    i = static_cast<int>(NearestInt(x * 256));  // exactly rounded: a - b below is exact
    const double b = i * 0x1p-8;
    const DD p = TwoProd(a, b);
    DD n, d;
    if (inverted) {  // (1/a - b) / (1 + b/a) = (1 - a b) / (a + b); a b in [1/2, 2]
      n = FastTwoSum(1 - p.hi, -p.lo);
      d = TwoSum(a, b);
    } else {  // (a - b) / (1 + a b); a in [b/2, 2b], so a - b is exact
      n = {a - b, 0};
      d = FastTwoSum(1, p.hi);
      d.lo += p.lo;
    }
    u = Divide(n, d);
  }
  const double s = u.hi * u.hi;
  const double tail = u.hi * s * (-kThird + s * (kFifth - s * kSeventh));
  const double* A = kAtan[i];
  DD r;
  double size;  // within 2^-50 of |r.hi|
  if (inverted) {
    const DD t = TwoSum(kPio2[0], -A[0]);
    const DD t2 = FastTwoSum(t.hi, -u.hi);
    r = FastTwoSum(t2.hi, (t.lo + t2.lo) + ((kPio2[1] - A[1]) - (u.lo + tail)));
    size = t2.hi;
  } else {
    const DD t = FastTwoSum(A[0], u.hi);  // |u| < atan b, or b = 0
    r = FastTwoSum(t.hi, t.lo + (A[1] + (u.lo + tail)));
    size = t.hi;
  }
  const double err = 0x1p-67 * std::fabs(u.hi) + 0x1p-99 * std::fabs(size);
  return RoundCertain(r, err, out);
}

// sin a for 2^-26 <= a finite. r = a - k pi/2, |r| <= pi/4 (plus 2^-22): for a < 2^26 with
// pi/2 in parts whose products with k are exact (Cody and Waite), to 2^-104 |r| + 2^-106;
// beyond, by ReduceLarge above. Then t = r - j/256, |t| <= 2^-9, and with X, Y = S, C for
// sin r and C, -S for cos r (S, C = sin, cos (j/256) from the table) the value is
// X cos t + Y sin t = X + Y t + X (cos t - 1) + Y (sin t - t), where cos t - 1 = -t^2/2 +
// t^4/24 - t^6/720 and sin t - t = -t^3/6 + t^5/120 - t^7/5040 (next terms below 2^-79 and
// 2^-81 |t|). Y t is exact but for 2^-80 |t|; cos t - 1 (2^-19) and sin t - t (2^-29.6) are
// computed in plain double, to under 2^-70 of X, which is at most twice the result. Bound used:
// 2^-66 of the result, plus the reduction's error.
[[gnu::always_inline]] inline bool SinFast(double a, double& out) {
  DD r;
  int q;
  double reductionErr;
  if (a <= 0.78) {
    r = {a, 0};
    q = 0;
    reductionErr = 0;
  } else if (a < 0x1p26) {
    using tables::kPio2Short;
    const double k = NearestInt(a * tables::kTwoOverPi);  // below 2^26: 26 bits
    q = static_cast<int>(k) & 3;
    const double s = a - k * kPio2Short[0];  // both exact: 53 bits, and within 0.9 of a
    const double ph = k * (kPio2Short[1] + kPio2Short[2]);  // Dekker's product, k unsplit
    const double pl = (k * kPio2Short[1] - ph) + k * kPio2Short[2];
    const DD r1 = TwoSum(s, -ph);
    r = TwoSum(r1.hi, (r1.lo - pl) - k * kPio2Short[3]);
    reductionErr = 0x1p-106;
  } else {
    Fixed fr;
    ReduceLarge(a, fr, q);
    r = ToDD(fr);
    reductionErr = 0x1p-200;
  }
  const double j = NearestInt(r.hi * 256);
  const int ij = static_cast<int>(j);
  const double th = r.hi - j * 0x1p-8;  // exact: r.hi is within 1/512 of j/256
  const double tl = r.lo;
  // th = th1 + th2 with 26 bits each (Veltkamp), so that Y1 th1 below is exact.
  const double tt = 134217729.0 * th;
  const double th1 = tt - (tt - th), th2 = th - th1;
  // Rows hold hi, lo and the leading 26 bits of hi, for S then C; X and Y pick them branch-free.
  const double* row = tables::kSinCos[ij < 0 ? -ij : ij];
  const int odd = q & 1;
  const double* X = row + 3 * odd;
  const double* Y = row + 3 * (1 - odd);
  const double sj = ij < 0 ? -1.0 : 1.0;
  const double xs = odd ? 1.0 : sj, ys = odd ? -sj : 1.0;
  const double Xh = xs * X[0], Xl = xs * X[1];
  const double Yh = ys * Y[0], Yl = ys * Y[1], Y1 = ys * Y[2];
  const double p = th * th;
  const double cm = p * p * (1.0 / 24 - p * (1.0 / 720)) - (0.5 * p + th * tl);
  const double sm = th * p * ((-1.0 / 6 + p * (1.0 / 120)) - (p * p) * (1.0 / 5040));
  const DD main = FastTwoSum(Xh, Y1 * th1);  // Y1 th1 is exact; |Y t| < |X|, or X = 0
  const double yt = ((Yh - Y1) * th1 + Yh * (th2 + tl)) + Yl * th;
  const double lo = ((main.lo + Xl) + (yt + Yh * sm)) + Xh * cm;
  const double sign = (q & 2) ? -1.0 : 1.0;
  const DD v = FastTwoSum(sign * main.hi, sign * lo);
  const double err = 0x1.01p-66 * std::fabs(main.hi) + reductionErr;  // |v.hi| < 1.001 |main.hi|
  return RoundCertain(v, err, out);
}

// log a for a positive and finite. a = m 2^e with m in [sqrt(1/2), sqrt(2)), r = 256/i rounded
// to 26 bits for i = round(256 m), z = m r - 1 (exact as a double-double), |z| <= 2^-8.49,
// and log a = e ln 2 - log r + log(1 + z), with log(1 + z) = z - z^2/2 + z^3/3 - ... + z^9/9
// (the next term is below 2^-79 |z|). The error: z^3 (...) in plain double, 2^-18.6 |z| with
// about four roundings and without z.lo, under 2^-69 |z|; e ln 2 under 2^-82 of the result;
// the rest under 2^-101. Bound used: 2^-66 |z| + 2^-80 of the result.
[[gnu::always_inline]] inline bool LogFast(double a, double& out) {
  double m;
  int e, i;
  Decompose(a, m, e, i);
  const double* row = tables::kLog[i - 181];
  const double r = row[0];
  const double tm = 134217729.0 * m;  // m = mh + ml, 26 bits each, so mh r and ml r are exact
  const double mh = tm - (tm - m), ml = m - mh;
  const double ph = m * r;
  const DD z = FastTwoSum(ph - 1, (mh * r - ph) + ml * r);  // ph - 1 is exact
  const double zh = z.hi;
  const DD z2 = TwoProd(zh, zh);
  const double zz = z2.hi, z4 = zz * zz;
  const double tail = zh * zz *
                      (((kThird - 0.25 * zh) + zz * (kFifth - (1.0 / 6) * zh)) +
                       z4 * ((kSeventh - 0.125 * zh) + zz * (1.0 / 9)));
  const DD s = FastTwoSum(zh, -0.5 * zz);
  const double ed = e;
  // e kLn2[0] is exact. |e ln 2| > |log r| unless e = 0; |log r| > |z| unless r = 1 (and then
  // log r = 0); so each sum's first term is the larger, or 0.
  const DD A = FastTwoSum(ed * tables::kLn2[0], row[1]);
  const DD B = FastTwoSum(A.hi, s.hi);
  const double lo = ((s.lo + z.lo) - (0.5 * z2.lo + zh * z.lo) + tail) +
                    ((B.lo + A.lo) + (row[2] + ed * tables::kLn2[1]));
  const DD v = FastTwoSum(B.hi, lo);
  const double err = 0x1p-66 * std::fabs(zh) + 0x1p-79 * std::fabs(B.hi);  // |v.hi| < 2 |B.hi|
  return RoundCertain(v, err, out);
}

}  // namespace

namespace detail {

bool FastAtan(double a, double& out) {
  return AtanFast(a, out);
}
bool FastSin(double a, double& out) {
  return SinFast(a, out);
}
bool FastLog(double a, double& out) {
  return LogFast(a, out);
}

// atan a for 2^-27 <= a < 2^56 in fixed point: x = a or 1/a, c = i/8 the nearest eighth,
// atan x = atan c + atan((x - c) / (1 + x c)), the last by its series (|u| <= 1/16: 33 terms).
bool SlowAtan(double a, double& out) {
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

// sin a for 2^-26 <= a finite in fixed point: r as in SinFast (to 2^-250), then the series.
bool SlowSin(double a, double& out) {
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

// log a for a positive, finite and not 1, in fixed point: a = m 2^e as in LogFast,
// log m = 2 atanh s with s = (m - 1) / (m + 1), |s| <= 0.172 (51 terms).
bool SlowLog(double a, double& out) {
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

}  // namespace detail

double CorrectAtan(double a) {
  const double x = std::fabs(a);
  // Below 2^-27, atan a = a - a^3/3 + ... is within a quarter ulp of a; from 2^56 on,
  // atan a = pi/2 - 1/a + ... rounds to the double nearest pi/2.
  if (x < 0x1p-27) return a;
  double r;
  if (x >= 0x1p56)
    r = tables::kPio2[0];
  else if (!AtanFast(x, r))
    detail::SlowAtan(x, r);
  return a < 0 ? -r : r;
}

double CorrectSin(double a) {
  const double x = std::fabs(a);
  if (x < 0x1p-26) return a;  // sin a = a - a^3/6 + ... is within a quarter ulp of a
  double r;
  if (!SinFast(x, r)) detail::SlowSin(x, r);
  return a < 0 ? -r : r;
}

double CorrectLog(double a) {
  if (a == 1) return 0;
  double r;
  if (!LogFast(a, r)) detail::SlowLog(a, r);
  return r;
}

}  // namespace kelvarion::maths
