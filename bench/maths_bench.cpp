// kelvarion-maths-bench [--plain] [WIDTH HEIGHT]: what the correctly rounded functions cost,
// against the C library's own, over the distinct arguments the kernel forms on a canvas (413 x 333
// unless given), over random arguments from 2^-10 to 2^25 (the kernel's range and more), and for
// the sine over large ones (2^26 to 2^1000, reduced by Payne and Hanek's method). With --plain,
// the own functions take the path without fused multiply-add, as on a processor without it.
//
// For each function and argument set, in ns a call:
//   library   the C library's function alone
//   own       the correctly rounded value (fast path, and the slow one where needed)
//   own/lib   the ratio of the two
//   slow      the slow path alone (on every 16th argument)
//   kernel    the kernel's call: the library's value, the own value, and the choice between them
// and how often the fast path leaves the rounding to the slow one, and at how many arguments the
// library's value is not the correctly rounded one.
//
// Each figure is the fastest of many passes over the arguments, in CPU time of this thread:
// interruptions only ever add time, so the minimum is the stable figure on a shared machine. The
// library, own and kernel figures come from passes taken in turn, so that all three meet the
// same state of the machine.

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "services/maths.h"

using namespace kelvarion;

namespace {

double CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

volatile double sink;

// ns a call of fn over args, one pass.
template <class F>
double Pass(const std::vector<double>& args, F fn) {
  const double t0 = CpuNs();
  double s = 0;
  for (double a : args) s += fn(a);
  const double t1 = CpuNs();
  sink = s;
  return (t1 - t0) / args.size();
}

// ns a call of fn over args: the fastest of `passes` passes.
template <class F>
double Time(const std::vector<double>& args, F fn, int passes) {
  double best = 1e300;
  for (int p = 0; p < passes; ++p) best = std::min(best, Pass(args, fn));
  return best;
}

// The three functions, each as the kernel calls it (inlined, as here) and in its parts.
struct Atan {
  static constexpr const char* kName = "atan";
  static double Library(double a) { return maths::PlatformAtan(a); }
  static double Own(double a) { return maths::CorrectAtan(a); }
  static bool Fast(double a, double& v) { return maths::detail::FastAtan(a, v); }
  static bool Slow(double a, double& v) { return maths::detail::SlowAtan(a, v); }
  static Status Kernel(double a, double& v) { return maths::Atan(a, v); }
  static bool FastDomain(double a) { return a >= 0x1p-27 && a < 0x1p56; }
};
struct Sin {
  static constexpr const char* kName = "sin";
  static double Library(double a) { return maths::PlatformSin(a); }
  static double Own(double a) { return maths::CorrectSin(a); }
  static bool Fast(double a, double& v) { return maths::detail::FastSin(a, v); }
  static bool Slow(double a, double& v) { return maths::detail::SlowSin(a, v); }
  static Status Kernel(double a, double& v) { return maths::Sin(a, v); }
  static bool FastDomain(double a) { return a >= 0x1p-26; }
};
struct Log {
  static constexpr const char* kName = "log";
  static double Library(double a) { return maths::PlatformLog(a); }
  static double Own(double a) { return maths::CorrectLog(a); }
  static bool Fast(double a, double& v) { return maths::detail::FastLog(a, v); }
  static bool Slow(double a, double& v) { return maths::detail::SlowLog(a, v); }
  static Status Kernel(double a, double& v) { return maths::Log(a, v); }
  static bool FastDomain(double a) { return a > 0 && a != 1; }
};

template <class F>
void Report(const char* set, std::vector<double> args) {
  args.erase(std::remove_if(args.begin(), args.end(), [](double a) { return !F::FastDomain(a); }),
             args.end());
  long undecided = 0, misrounded = 0;
  for (double a : args) {
    double v;
    undecided += !F::Fast(a, v);
    misrounded += F::Library(a) != F::Own(a);
  }
  std::vector<double> some;
  for (std::size_t i = 0; i < args.size(); i += 16) some.push_back(args[i]);
  // The library, the own function and the kernel's call in turn, pass after pass, so that all
  // three meet the same state of the machine; each keeps its fastest pass.
  double library = 1e300, own = 1e300, kernel = 1e300;
  for (int p = 0; p < 60; ++p) {
    library = std::min(library, Pass(args, [](double a) { return F::Library(a); }));
    own = std::min(own, Pass(args, [](double a) { return F::Own(a); }));
    kernel = std::min(kernel, Pass(args, [](double a) {
                        double v = 0;
                        (void)F::Kernel(a, v);
                        return v;
                      }));
  }
  const double slow = Time(
      some,
      [](double a) {
        double v = 0;
        F::Slow(a, v);
        return v;
      },
      5);
  std::printf("%-4s %-7s %7zu %8.1f %6.1f %6.2f %7.0f %7.1f %6ld (%.4f %%) %8ld\n", F::kName, set,
              args.size(), library, own, own / library, slow, kernel, undecided,
              100.0 * undecided / args.size(), misrounded);
}

// `count` doubles with exponents spread evenly over [lo, hi] and random mantissas.
std::vector<double> Spread(int lo, int hi, int count, std::mt19937_64& g) {
  std::vector<double> v(static_cast<std::size_t>(count));
  for (double& a : v)
    a = std::ldexp(1 + static_cast<double>(g() >> 11) * 0x1p-53,
                   lo + static_cast<int>(g() % static_cast<unsigned>(hi - lo + 1)));
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  int W = 413, H = 333;
  const bool plain = argc > 1 && std::strcmp(argv[1], "--plain") == 0;
  argc -= plain;
  argv += plain;
  if (argc == 3) {
    W = std::atoi(argv[1]);
    H = std::atoi(argv[2]);
  }
  if (argc != 1 && argc != 3) {
    std::fprintf(stderr, "usage: kelvarion-maths-bench [--plain] [WIDTH HEIGHT]\n");
    return 2;
  }
  // The fused multiply-add path where the processor has it, unless --plain asks for the other.
  if (plain) maths::detail::UsePath(maths::detail::Path::Plain);
  std::printf("own functions' path: %s (fused multiply-add %s on this processor)\n",
              maths::detail::CurrentPath() == maths::detail::Path::Fma ? "fma" : "plain",
              maths::detail::FmaAvailable() ? "available" : "not available");
  // The kernel's arguments: float half sizes, double products, magnitudes; each once.
  std::vector<double> canvas;
  const float halfW = static_cast<float>(W) / 2, halfH = static_cast<float>(H) / 2;
  for (int X = 0; X <= W; ++X)
    for (int Y = 0; Y <= H; ++Y)
      canvas.push_back(
          std::fabs((X - static_cast<double>(halfW)) * (Y - static_cast<double>(halfH))));
  std::sort(canvas.begin(), canvas.end());
  canvas.erase(std::unique(canvas.begin(), canvas.end()), canvas.end());
  std::shuffle(canvas.begin(), canvas.end(), std::mt19937_64(1));

  std::printf(
      "%d x %d canvas: %zu distinct arguments; random: 100000 of 2^-10..2^25, exponents "
      "spread evenly; large: 10000 of 2^26..2^1000\n",
      W, H, canvas.size());
  std::printf(
      "fn   set        args  library    own own/lib    slow  kernel  slow path (share)  "
      "library misrounded\n");
  std::mt19937_64 g(2);
  const std::vector<double> random = Spread(-10, 25, 100000, g), large = Spread(26, 1000, 10000, g);
  Report<Atan>("canvas", canvas);
  Report<Atan>("random", random);
  Report<Sin>("canvas", canvas);
  Report<Sin>("random", random);
  Report<Sin>("large", large);
  Report<Log>("canvas", canvas);
  Report<Log>("random", random);
  return 0;
}
