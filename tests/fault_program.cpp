// The program as a test-only build for the black-box tests: KELVARION_FAULT="N M ..." spoils
// those images of a test (their w, through the fault hook of the test window's cycle) and
// presses Stop as soon as the last of them is finished, before the next frame is due.
// Or its own values made wrong as a core that gets certain operands wrong every time it meets
// them would make them: KELVARION_OWN_FAULT="SITE @PERIOD BIT CPU", SITE a, s or l for the
// correctly rounded arctangent, sine or logarithm, w for w after a product; bit BIT of about one
// value in PERIOD (picked by the bits of the operand: the argument, or w before the product),
// only while the thread runs on logical processor CPU.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "services/affinity.h"
#include "services/maths.h"
#include "stress/frm_fractal.h"

namespace {

std::vector<long> faulty;  // the images to spoil, in order
long finished = 0;         // images the test has finished

void OnCaption(const kelvarion::Label& label, std::string_view text) {
  kelvarion::frmFractal& test = kelvarion::frmFractal::Instance();
  if (&label != &test.lblNum) return;
  finished = std::stol(std::string(text));
  if (!faulty.empty() && finished == faulty.back()) test.Unload();
}

[[maybe_unused]] const bool armed = [] {
  std::istringstream images(std::getenv("KELVARION_FAULT") ? std::getenv("KELVARION_FAULT") : "");
  for (long n = 0; images >> n;) faulty.push_back(n);
  kelvarion::SetCaptionObserver(&OnCaption);
  return true;
}();

struct Pattern {
  char site = 0;
  unsigned long period = 0;
  int bit = 0, cpu = -1;
  Pattern() {
    if (const char* f = std::getenv("KELVARION_OWN_FAULT"))
      if (std::sscanf(f, " %c @%lu %d %d", &site, &period, &bit, &cpu) != 4) period = 0;
  }
};

}  // namespace

double kelvarion::maths::InjectFault(char site, double argument, double value) {
  static const Pattern pattern;
  if (pattern.period > 0) {
    std::uint64_t u;
    const double operand = site == 'w' ? value : argument;
    std::memcpy(&u, &operand, sizeof u);
    if (site != pattern.site || (u * 0x9E3779B97F4A7C15u >> 40) % pattern.period != 0 ||
        affinity::System().current() != pattern.cpu)
      return value;
    std::memcpy(&u, &value, sizeof u);
    u ^= std::uint64_t{1} << pattern.bit;
    std::memcpy(&value, &u, sizeof u);
    return value;
  }
  const bool spoil = std::find(faulty.begin(), faulty.end(), finished + 1) != faulty.end();
  return site == 'w' && argument == 5 && spoil ? value + 0.5 : value;
}
