#pragma once
// MPFR's correctly rounded arctangent, sine and logarithm: the independent reference the maths
// and known-answer tests compare against. Set MPFR's exponent range to binary64's first
// (emin -1073, emax 1024), so that subnormal results round as doubles do.

#include <mpfr.h>

namespace reference {

enum class Fn { Atan, Sin, Log };

// f(a) rounded to the nearest double, ties to even, subnormals included.
inline double Value(Fn f, double a) {
  mpfr_t x, y;
  mpfr_init2(x, 53);
  mpfr_init2(y, 53);
  mpfr_set_d(x, a, MPFR_RNDN);
  int t = f == Fn::Atan  ? mpfr_atan(y, x, MPFR_RNDN)
          : f == Fn::Sin ? mpfr_sin(y, x, MPFR_RNDN)
                         : mpfr_log(y, x, MPFR_RNDN);
  t = mpfr_check_range(y, t, MPFR_RNDN);
  mpfr_subnormalize(y, t, MPFR_RNDN);
  const double r = mpfr_get_d(y, MPFR_RNDN);
  mpfr_clear(x);
  mpfr_clear(y);
  return r;
}

}  // namespace reference
