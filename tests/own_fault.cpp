// The fault hook for the real program built for the tests (Kelvarion1-own-fault): the program's
// own values made wrong as a core that gets certain operands wrong every time it meets them
// would make them. From the environment:
//   KELVARION_OWN_FAULT="SITE @PERIOD BIT CPU"
// SITE a, s or l for the correctly rounded arctangent, sine or logarithm, w for w after a
// product; bit BIT of about one value in PERIOD (picked by the bits of the operand: the
// argument, or w before the product), only while the thread runs on logical processor CPU.
#include <sched.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/maths.h"

namespace {

struct Fault {
  char site = 0;
  unsigned long period = 0;
  int bit = 0, cpu = -1;
  Fault() {
    if (const char* f = std::getenv("KELVARION_OWN_FAULT"))
      if (std::sscanf(f, " %c @%lu %d %d", &site, &period, &bit, &cpu) != 4) period = 0;
  }
};

double Flip(double x, int bit) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  u ^= std::uint64_t{1} << bit;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

}  // namespace

double kelvarion::maths::InjectFault(char site, double argument, double value) {
  static const Fault fault;
  if (fault.period == 0 || site != fault.site) return value;
  const double operand = site == 'w' ? value : argument;
  std::uint64_t u;
  std::memcpy(&u, &operand, sizeof u);
  if ((u * 0x9E3779B97F4A7C15u >> 40) % fault.period != 0 || sched_getcpu() != fault.cpu)
    return value;
  return Flip(value, fault.bit);
}
