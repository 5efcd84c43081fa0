#pragma once
// The mathematical functions on doubles. Arctangent and sine are defined for every finite
// argument; the natural logarithm fails where it has no finite value (0 above all), which it
// learns from the status the library's log sets.

#include <cmath>

#include "services/fpstatus.h"

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

inline double Atan(double a) {
  return TestFault('a', a, std::atan(a));
}
inline double Sin(double a) {
  return TestFault('s', a, std::sin(a));
}

inline Status Log(double a, double& out) {
  double r = TestFault('l', a, std::log(a));
  fp::Settle(r);
  if (!fp::Test(r)) return Status::Failed();
  out = r;
  return Status::Ok();
}

}  // namespace kelvarion::maths
