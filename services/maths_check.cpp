// What the kernel's calls do when the C library's value and the program's own disagree beyond
// the reach (maths.h): the rare path, out of line, so that agreeing points never pay for it.
#include <cmath>
#include <cstring>

#include "services/maths.h"

namespace kelvarion::maths {

namespace {

bool SameBits(double x, double y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}

}  // namespace

// The right value once more, by the fixed-point computation where it applies (a way that shares
// nothing with the double-double one the kernel used), or else by the same computation again:
// the kernel's arguments are 0 or at least 1/4, all inside the fixed-point ranges.
double Reference(char function, double a) {
  double r;
  switch (function) {
    case 'a':
      if (a >= 0x1p-27 && a < 0x1p56 && detail::SlowAtan(a, r)) return r;
      return CorrectAtan(a);
    case 's':
      if (a >= 0x1p-26 && detail::SlowSin(a, r)) return r;
      return CorrectSin(a);
    default:
      if (a != 1 && detail::SlowLog(a, r)) return r;
      return CorrectLog(a);
  }
}

Outcome Disagree(char function, double argument, double library, double own, Findings& findings) {
  Disagreement d;
  d.function = function;
  d.argument = argument;
  d.library = library;
  d.own = own;
  d.further = Reference(function, argument);
  d.ownWrong = !SameBits(own, d.further);
  d.libraryWrong = !Honest(function, library, d.further);
  if (findings.count++ == 0) findings.first = d;
  // A signalling NaN among the values raised invalid on the way; the library may have left
  // flags in either unit.
  fp::ClearAll();
  return {d.further, std::isfinite(library) != 0};
}

}  // namespace kelvarion::maths
