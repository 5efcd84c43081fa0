#pragma once
// Arctangent, sine and natural logarithm as the kernel uses them. Each is the platform's C
// library function, called for every value, with its result rounded correctly: the C libraries
// of the two platforms round some values differently (glibc's sine is off by an ulp at 0.15 %
// of a large canvas's arguments, the Windows build's x87 sine by up to thousands of ulps near
// the sine's zeros), and both must draw the same images bit for bit. So the program also
// computes the correctly rounded value (round to nearest, ties to even) itself, with double
// arithmetic only, identical wherever doubles are IEEE doubles (x86-64, and i686 with SSE2),
// and the library's value is replaced by it when the two are within a rounding distance
// (kReach). A library value farther away is no rounding matter but a fault of the library or of
// the machine: it is returned as it is, so that the stress test shows it instead of mending it.
//
// A statement fails, leaving its variable unassigned, where the function has no finite value:
// the logarithm of 0, of a negative number or of infinity, the sine of infinity, any function of
// NaN. Those arguments are recognised by quiet comparisons, without calling the library, so a
// failure raises no floating-point flag. The library's value is tested like any operation's
// (fpstatus.h): a non-finite value where the function has a finite one also fails, and clears
// the flags it raised. The program's own computation raises at most inexact and underflow,
// which the kernel does not test.

#include <cmath>

#include "services/fpstatus.h"
#include "services/status.h"

namespace kelvarion::maths {

// Tests only: builds made with KELVARION_FAULT_HOOK pass every result through InjectFault, which
// the test defines and which may spoil it, so that a test can show the self-check seeing a
// wrong colour. The program's own build has no hook: TestFault compiles away.
#ifdef KELVARION_FAULT_HOOK
double InjectFault(char function, double argument, double result);
inline double TestFault(char function, double argument, double result) {
  return InjectFault(function, argument, result);
}
#else
inline double TestFault(char, double, double result) {
  return result;
}
#endif

// The correctly rounded values, for every double: NaN gives NaN; CorrectAtan(+-infinity) is
// +-pi/2 rounded; CorrectSin(+-infinity) is NaN; CorrectLog gives -infinity at +-0, NaN below 0
// and +infinity at +infinity.
double CorrectAtan(double a);
double CorrectSin(double a);
double CorrectLog(double a);

namespace detail {
// How maths.cpp computes them, open to the tests and the benchmark. Each function has a fast
// path (an approximation hi + lo with an error bound, rounded when the bound decides the
// rounding) and a slow one (256-bit fixed point, to 2^-240). The fast paths exist twice: with the
// processor's fused multiply-add, chosen at start-up where the processor has it, and without.
enum class Path { Plain, Fma };
bool FmaAvailable();
// Makes CorrectAtan and the others use `path` from now on; false (and the plain path) when the
// processor has no fused multiply-add. Not thread-safe: for tests and the benchmark.
bool UsePath(Path path);
Path CurrentPath();

// A fast path's approximation of f(a) before rounding: the true value lies within `bound` of
// hi + lo (the bound the rounding test uses). Defined for every double: NaN in all three fields
// where the fast path does not compute (atan: NaN and |a| outside [2^-27, 2^56); sin: |a| below
// 2^-26, infinities, NaN; log: a not positive, infinity, NaN). `path` Fma on a processor without
// it computes the plain path.
struct Approximation {
  double hi, lo, bound;
};
Approximation ApproximateAtan(double a, Path path);
Approximation ApproximateSin(double a, Path path);
Approximation ApproximateLog(double a, Path path);

// Each path alone, for every double. The fast ones (on the path in use) return false when their
// bound leaves the rounding undecided; the slow ones only if even their 2^-240 did, which no
// argument is known to need. Where a path does not compute (see above) both give the value.
bool FastAtan(double a, double& out);
bool FastSin(double a, double& out);
bool FastLog(double a, double& out);
bool SlowAtan(double a, double& out);
bool SlowSin(double a, double& out);
bool SlowLog(double a, double& out);
}  // namespace detail

// How far a library value may lie from the correctly rounded one and still count as that value
// rounded by the library: 2^-36, absolute for arctangent and sine, relative for the logarithm.
// An honest library is within an ulp or two (2^-52 at most for these values). The widest honest
// gap is the x87 sine the Windows build links (fsin), which reduces the argument with its own
// 66-bit approximation of pi and so misses the sine by up to about a * 2^-66 (2^-41 for the
// kernel's a, below 2^25): measured under Wine, by 2^-43.4 at most. Any wider gap is a fault, and
// the reach is kept this small so that as few faults as possible are mended: at order 80 a
// change of 2^-36 in v moves a colour by a twentieth.
inline constexpr double kReach = 0x1p-36;

// The value to use, from the library's and the correctly rounded one. `reach` is the allowed
// distance: kReach, or kReach * |correct| for the logarithm.
inline double Reconcile(double platform, double correct, double reach) {
  return std::fabs(platform - correct) <= reach ? correct : platform;
}

// The library's functions, called through a volatile argument: never folded into a constant
// nor dropped, so every value really comes from the library (where a test can replace it).
inline double PlatformAtan(double a) {
  volatile double x = a;
  return std::atan(x);
}
inline double PlatformSin(double a) {
  volatile double x = a;
  return std::sin(x);
}
inline double PlatformLog(double a) {
  volatile double x = a;
  return std::log(x);
}

inline Status Atan(double a, double& out) {
  if (std::isnan(a)) return Status::Failed();
  double y = PlatformAtan(a);
  fp::Settle(y);
  if (!fp::Test(y)) return Status::Failed();
  out = TestFault('a', a, Reconcile(y, CorrectAtan(a), kReach));
  return Status::Ok();
}

inline Status Sin(double a, double& out) {
  if (!std::isfinite(a)) return Status::Failed();
  double y = PlatformSin(a);
  fp::Settle(y);
  if (!fp::Test(y)) return Status::Failed();
  out = TestFault('s', a, Reconcile(y, CorrectSin(a), kReach));
  return Status::Ok();
}

inline Status Log(double a, double& out) {
  if (!(__builtin_isgreater(a, 0.0) && std::isfinite(a))) return Status::Failed();
  double y = PlatformLog(a);
  fp::Settle(y);
  if (!fp::Test(y)) return Status::Failed();
  const double c = CorrectLog(a);
  out = TestFault('l', a, Reconcile(y, c, kReach * std::fabs(c)));
  return Status::Ok();
}

}  // namespace kelvarion::maths
