// maths-digest WIDTH HEIGHT
// maths-digest --library WIDTH HEIGHT
//
// Takes every distinct argument the kernel forms on a canvas of the given inner size, as it
// forms them (W / 2 and H / 2 in float, the product in double, its magnitude), in increasing
// order, and prints one line for each of arctangent, sine and logarithm:
//   NAME COUNT SHA256
// SHA256 covers the kernel's result for each argument, 9 bytes each: 0x01 and the value's bits
// as 8-byte little-endian when the call succeeds, nine 0x00 when it fails. Two builds or
// platforms whose lines agree give the kernel the same values.
//
// With --library, the lines tell instead how far this platform's C library is from the values
// used: NAME COUNT DIFFERING MAX_ULPS MAX_ABS, the arguments where the library's value is not the
// one used, and the largest gap in units in the last place and in absolute value.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "services/maths.h"
#include "tools/sha256.h"

namespace {

using namespace kelvarion;

bool ParseSize(const char* text, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 100000) return false;
  out = v;
  return true;
}

std::vector<double> Arguments(long width, long height) {
  const float W = static_cast<float>(width), H = static_cast<float>(height);
  const float halfW = W / 2, halfH = H / 2;
  std::vector<double> args;
  args.reserve(static_cast<std::size_t>((width + 1) * (height + 1)));
  for (double X = 0; X <= W; X += 1)
    for (double Y = 0; Y <= H; Y += 1)
      args.push_back(
          std::fabs((X - static_cast<double>(halfW)) * (Y - static_cast<double>(halfH))));
  std::sort(args.begin(), args.end());
  args.erase(std::unique(args.begin(), args.end()), args.end());
  return args;
}

struct Function {
  const char* name;
  Status (*kernel)(double, double&);
  double (*library)(double);
};

const Function kFunctions[] = {
    {"atan", maths::Atan, maths::PlatformAtan},
    {"sin", maths::Sin, maths::PlatformSin},
    {"log", maths::Log, maths::PlatformLog},
};

std::uint64_t BitsOf(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

void Digest(const Function& f, const std::vector<double>& args) {
  Sha256 sha;
  for (double a : args) {
    double v = 0;
    unsigned char bytes[9] = {};
    if (f.kernel(a, v)) {
      const std::uint64_t u = BitsOf(v);
      bytes[0] = 1;
      for (int b = 0; b < 8; ++b) bytes[1 + b] = static_cast<unsigned char>(u >> (8 * b));
    }
    sha.Add(bytes, sizeof bytes);
  }
  std::printf("%s %zu %s\n", f.name, args.size(), sha.Hex().c_str());
}

void Library(const Function& f, const std::vector<double>& args) {
  long differing = 0;
  double maxUlps = 0, maxAbs = 0;
  for (double a : args) {
    double v = 0;
    if (!f.kernel(a, v)) continue;
    const double y = f.library(a);
    if (BitsOf(y) == BitsOf(v)) continue;
    ++differing;
    const double gap = std::fabs(y - v);
    const double ulp = std::nextafter(std::fabs(v), INFINITY) - std::fabs(v);
    if (gap / ulp > maxUlps) maxUlps = gap / ulp;
    if (gap > maxAbs) maxAbs = gap;
  }
  std::printf("%s %zu %ld %.0f %.3g\n", f.name, args.size(), differing, maxUlps, maxAbs);
}

}  // namespace

int main(int argc, char** argv) {
  const bool library = argc == 4 && std::strcmp(argv[1], "--library") == 0;
  long width = 0, height = 0;
  if (argc != 3 + library || !ParseSize(argv[1 + library], width) ||
      !ParseSize(argv[2 + library], height) || (width + 1) * (height + 1) > 50'000'000) {
    std::fprintf(stderr, "usage: maths-digest [--library] WIDTH HEIGHT (sizes 0-100000)\n");
    return 2;
  }
  const std::vector<double> args = Arguments(width, height);
  for (const Function& f : kFunctions) library ? Library(f, args) : Digest(f, args);
  return 0;
}
