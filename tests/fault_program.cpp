// The program as a test-only build for the black-box tests: KELVARION_FAULT="N M ..." spoils
// those images of a test (their w, through the fault hook of the test window's cycle) and
// presses Stop as soon as the last of them is finished, before the next frame is due.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace

double kelvarion::maths::InjectFault(char site, double argument, double value) {
  const bool spoil = std::find(faulty.begin(), faulty.end(), finished + 1) != faulty.end();
  return site == 'w' && argument == 5 && spoil ? value + 0.5 : value;
}
