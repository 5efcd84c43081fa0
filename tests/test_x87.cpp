// The Windows build's sine and logarithm (mingw-w64's) compute in the x87 unit, whose exception
// flags the SSE status register does not show. This console program of the Windows build puts
// its own sin and log in their place, computing in the x87 unit too, and, when armed, failing
// there as a faulty library call would: an invalid operation (a NaN) for the sine, a division
// by zero (an infinity) for the logarithm, the flag left in the x87 status word alone. Such a
// call must fail the kernel's statement (v keeps its value), count as a disagreement with the
// program's own value, and leave no flag behind in either unit. It prints each failed check and
// exits with their number. Run under Wine by the Linux build's suite (x87_status_wine64).
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "services/canvas_surface.h"
#include "stress/kernel.h"
#include "tests/check.h"

using namespace kelvarion;

namespace {

using test::failures;

bool armed = false;
int calls = 0;

// The x87 status word's exception flags (invalid, denormal, divide by zero, overflow, underflow,
// precision).
unsigned X87Flags() {
  unsigned short sw;
  asm volatile("fnstsw %0" : "=m"(sw));
  return sw & 0x3Fu;
}

}  // namespace

// The library functions the kernel calls, replaced in this program: x87 code, as mingw-w64's.
extern "C" double sin(double x) {
  ++calls;
  double r;
  if (armed)  // the square root of -1: invalid, a NaN
    asm volatile("fld1\n\tfchs\n\tfsqrt\n\tfstpl %0" : "=m"(r));
  else
    asm volatile("fldl %1\n\tfsin\n\tfstpl %0" : "=m"(r) : "m"(x));
  return r;
}
extern "C" double log(double x) {
  ++calls;
  double r;
  if (armed)  // ln 2 * log2 0: division by zero, an infinity
    asm volatile("fldln2\n\tfldz\n\tfyl2x\n\tfstpl %0" : "=m"(r));
  else
    asm volatile("fldln2\n\tfldl %1\n\tfyl2x\n\tfstpl %0" : "=m"(r) : "m"(x));
  return r;
}

int main() {
  for (const Kind kind : {Kind::Sine, Kind::Logarithmic}) {
    // A point with a = |(3 - 1.5) * (2 - 1.5)| = 0.75 on a 3 x 3 canvas.
    MemoryCanvas canvas(4, 4, 3, 3);
    fp::ClearAll();
    // Healthy first: the x87 value agrees with the program's own, and the point is drawn from it.
    armed = false;
    calls = 0;
    ImageValues<> values;
    ValueLanes lanes;
    double v = 0.25, w = 0, step = 0;
    KernelPoint(SkipRule{}, canvas, 3, 2, 2, kind, v, w, step, lanes, values.findings);
    CHECK(calls == 1);
    CHECK(values.findings.count == 0);
    CHECK(v == (kind == Kind::Sine ? maths::CorrectSin(0.75) : maths::CorrectLog(0.75)));
    // Armed: the library's call fails in the x87 unit.
    armed = true;
    const double before = v;
    const std::uint32_t pixel = canvas.Pixel(3, 2);
    KernelPoint(SkipRule{}, canvas, 3, 2, 2, kind, v, w, step, lanes, values.findings);
    CHECK(calls == 2);
    CHECK(v == before);  // the statement failed: v kept its value
    CHECK(w == -32 * before);
    CHECK(canvas.Pixel(3, 2) == pixel);  // drawn from the kept v, as before
    CHECK(values.findings.count == 1);
    CHECK(!std::isfinite(values.findings.first.library));
    CHECK(values.findings.first.libraryWrong && !values.findings.first.ownWrong);
    CHECK(X87Flags() == 0);
    CHECK(!fp::Raised());
    // And the next statement is not disturbed.
    double next = 1;
    CHECK(NegatedProduct(next, 2.0, next).ok() && next == -2.0);
  }
  std::printf("%s: %d failed\n", failures ? "FAIL" : "PASS", failures);
  return failures;
}
