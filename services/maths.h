#pragma once
// Arctangent, sine and natural logarithm as the kernel uses them. Each is the platform's C
// library function, called for every value, and the program's own correctly rounded value
// (round to nearest, ties to even) computed beside it: two computations of the same value that
// check each other at every point. The C libraries of the two platforms round some values
// differently (glibc's sine is off by an ulp at 0.15 % of a large canvas's arguments, the
// Windows build's x87 sine by up to thousands of ulps near the sine's zeros), and both must draw
// the same images bit for bit, so the kernel goes on with the program's own value, computed
// with double arithmetic only, identical wherever doubles are IEEE doubles (x86-64, and i686
// with SSE2). A library value within a rounding distance of it (Reach) is the library's
// rounding; one farther away is no rounding matter but a fault of the machine, reported at once
// (Disagree).
//
// A statement fails, leaving its variable unassigned, where the function has no finite value:
// the logarithm of 0, of a negative number or of infinity, the sine of infinity, any function of
// NaN. Those arguments are recognised by quiet comparisons, without calling the library, so a
// failure raises no floating-point flag. A library call that fails where the function has a
// finite value (a non-finite result) fails the statement too, and clears the flags it raised.
// The program's own computation raises at most inexact and underflow, which the kernel does not
// test.

#include <cmath>

#include "services/fpstatus.h"
#include "services/status.h"

namespace kelvarion::maths {

// Tests only: builds made with KELVARION_FAULT_HOOK pass values through InjectFault, which the
// test defines and which may spoil them, so that a test can show the self-check seeing a wrong
// value: `site` is 'a', 's' or 'l' for the correctly rounded arctangent, sine or logarithm of
// `argument`, 'w' for the kernel's w after its product number `argument` (1 to 5). The program's
// own build has no hook: TestFault compiles away.
#ifdef KELVARION_FAULT_HOOK
double InjectFault(char site, double argument, double value);
inline double TestFault(char site, double argument, double value) {
  return InjectFault(site, argument, value);
}
#else
inline double TestFault(char, double, double value) {
  return value;
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
// rounded by the library: an honest library's error bound, with a margin. A wider gap is a fault
// of the machine (or of the library): the point is an error at once. A smaller fault is no
// rounding matter either, but only the self-check's sums can see it: they take the library's
// value too.
//
// glibc documents its functions' largest known errors per architecture ("Known Maximum Errors
// in Math Functions" in its manual): atan, sin and log in double, round to nearest, within 1 ulp
// on x86-64. The correctly rounded value lies within half an ulp of the true one, so an honest
// glibc value lies within 1.5 ulps of it; the reach, |own| * 2^-50, is 2 to 4 ulps of it.
// Elsewhere nothing is documented, and the reach is 2^-36, absolute for arctangent and sine,
// relative for the logarithm: the widest honest gap measured is the x87 sine the Windows build
// links (fsin), which reduces the argument with its own 66-bit approximation of pi and so misses
// the sine by up to about a * 2^-66 (2^-41 for the kernel's a, below 2^25): under Wine, by
// 2^-43.4 at most.
inline constexpr double kReach = 0x1p-36;
#if defined(__GLIBC__)
inline constexpr bool kReachDocumented = true;
inline constexpr double kRelativeReach = 0x1p-50;
#else
inline constexpr bool kReachDocumented = false;
inline constexpr double kRelativeReach = kReach;
#endif
// The reach for `function` ('a', 's' or 'l') around the correctly rounded value `own`.
inline double Reach(char function, double own) {
  if (kReachDocumented || function == 'l') return kRelativeReach * std::fabs(own);
  return kReach;
}

// Whether the library's value lies within `reach` of the program's own (Reach). A quiet
// comparison: a NaN disagrees without raising a flag.
inline bool Agree(double library, double own, double reach) {
  return __builtin_islessequal(std::fabs(library - own), reach);
}

// Both values a call produced, for the self-check's sums (zero where the call was not made).
struct Values {
  double library = 0, own = 0;
};

// A point where the two lay farther apart than the reach: the function ('a', 's' or 'l'), its
// argument, both values, and a further computation of the right value that decided which of the
// two was wrong (either or both).
struct Disagreement {
  char function = 0;
  double argument = 0, library = 0, own = 0, further = 0;
  bool libraryWrong = false, ownWrong = false;
};

// What the calls of one image found beyond the reach: every such point counted, the first kept.
struct Findings {
  long count = 0;
  Disagreement first;
};

// Out of line and only for a disagreement, so the agreeing path costs one comparison: records it
// in `findings`, computes the right value again by another way (the fixed-point one where it
// applies) to decide which was wrong, and gives that value as the call's; where the library's
// value is not finite the library call failed and so does the statement (`ok` false). Either way
// it clears the floating-point status, the x87 unit's included, for the next statement. Returned
// by value, so that no variable of the kernel has its address taken.
struct Outcome {
  double value;
  bool ok;
};
Outcome Disagree(char function, double argument, double library, double own, Findings& findings);

// The right value of `function` ('a', 's' or 'l') at `a` by the 256-bit fixed-point computation
// where it applies, a way that shares nothing with the kernel's; and whether a library value is
// one an honest library gives for the right value `right`.
double Reference(char function, double a);
inline bool Honest(char function, double library, double right) {
  return Agree(library, right, Reach(function, right));
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

inline Status Take(const Outcome& o, double& out) {
  if (!o.ok) return Status::Failed();
  out = o.value;
  return Status::Ok();
}

// The kernel's calls. Each calls the library and computes its own value beside it; where the two
// agree, the result is the program's own (so every build draws the same), and both go into
// `got`. The library's value needs no status test of its own: where the function has a finite
// value (checked first), a library call failed exactly when its value is not finite, and such a
// value never agrees. That holds whichever unit the library computed in: mingw-w64's sine and
// logarithm use the x87 unit, whose flags the SSE status register does not show.
inline Status Atan(double a, double& out, Values& got, Findings& findings) {
  if (std::isnan(a)) return Status::Failed();
  double y = PlatformAtan(a);
  fp::Settle(y);
  const double c = TestFault('a', a, CorrectAtan(a));
  got = {y, c};
  if (__builtin_expect(!Agree(y, c, Reach('a', c)), 0))
    return Take(Disagree('a', a, y, c, findings), out);
  out = c;
  return Status::Ok();
}

inline Status Sin(double a, double& out, Values& got, Findings& findings) {
  if (!std::isfinite(a)) return Status::Failed();
  double y = PlatformSin(a);
  fp::Settle(y);
  const double c = TestFault('s', a, CorrectSin(a));
  got = {y, c};
  if (__builtin_expect(!Agree(y, c, Reach('s', c)), 0))
    return Take(Disagree('s', a, y, c, findings), out);
  out = c;
  return Status::Ok();
}

inline Status Log(double a, double& out, Values& got, Findings& findings) {
  if (!(__builtin_isgreater(a, 0.0) && std::isfinite(a))) return Status::Failed();
  double y = PlatformLog(a);
  fp::Settle(y);
  const double c = TestFault('l', a, CorrectLog(a));
  got = {y, c};
  if (__builtin_expect(!Agree(y, c, Reach('l', c)), 0))
    return Take(Disagree('l', a, y, c, findings), out);
  out = c;
  return Status::Ok();
}

// The same for callers that keep neither (tools, tests).
inline Status Atan(double a, double& out) {
  Values got;
  Findings findings;
  return Atan(a, out, got, findings);
}
inline Status Sin(double a, double& out) {
  Values got;
  Findings findings;
  return Sin(a, out, got, findings);
}
inline Status Log(double a, double& out) {
  Values got;
  Findings findings;
  return Log(a, out, got, findings);
}

}  // namespace kelvarion::maths
