#pragma once
// The mathematical functions on doubles. Arctangent and sine are defined for every finite
// argument; the natural logarithm fails where it has no finite value (0 above all), which it
// learns from the status the library's log sets.

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
  if (!fp::Test(r)) return Status::Failed();
  out = r;
  return Status::Ok();
}

}  // namespace kelvarion::maths
