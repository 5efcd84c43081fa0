#pragma once
// The mathematical functions on doubles. Arctangent and sine are defined for every finite
// argument; the natural logarithm fails where it has no finite value (0 above all).

#include <cmath>

#include "services/fpstatus.h"

namespace kelvarion::maths {

inline double Atan(double a) {
  return std::atan(a);
}
inline double Sin(double a) {
  return std::sin(a);
}

inline Status Log(double a, double& out) {
  double r = std::log(a);
  fp::Settle(r);
  // For the finite arguments it gets, the logarithm has no finite value exactly where it
  // fails. glibc raises division by zero for log(0); mingw-w64's log returns -inf and raises
  // nothing, so the result decides, and any flag the library did raise is cleared.
  if (!std::isfinite(r)) {
    fp::Clear();
    return Status::Failed();
  }
  out = r;
  return Status::Ok();
}

}  // namespace kelvarion::maths
