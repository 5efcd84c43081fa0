// The correctly rounded arctangent, sine and logarithm against MPFR's correctly rounded values,
// over the arguments the kernel meets and over every function's whole range; and the rule that
// chooses between them and the C library's values.
#include <QtTest>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "services/fpstatus.h"
#include "services/maths.h"
#include "tests/mpfr_reference.h"

using namespace kelvarion;

using reference::Fn;
Q_DECLARE_METATYPE(reference::Fn)

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The exact hexadecimal form of x, as printf's %a writes it.
QString Hex(double x) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", x);
  return QString::fromLatin1(text);
}

std::uint64_t BitsOf(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}
double FromBits(std::uint64_t u) {
  double x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

double Reference(Fn f, double a) {
  return reference::Value(f, a);
}

double Own(Fn f, double a) {
  return f == Fn::Atan  ? maths::CorrectAtan(a)
         : f == Fn::Sin ? maths::CorrectSin(a)
                        : maths::CorrectLog(a);
}

// Where the function has a finite value (so CorrectX applies).
bool InDomain(Fn f, double a) {
  if (std::isnan(a)) return false;
  if (f == Fn::Sin) return std::isfinite(a);
  if (f == Fn::Log) return a > 0 && std::isfinite(a);
  return true;
}

// Compares own with reference, bit for bit, at every argument in the domain: empty when all
// agree, else how many differ and the first few. `checked` counts the arguments compared.
QString Mismatches(Fn f, const std::vector<double>& args, long* checked = nullptr) {
  long n = 0, wrong = 0;
  QString first;
  for (double a : args) {
    if (!InDomain(f, a)) continue;
    ++n;
    const double own = Own(f, a), ref = Reference(f, a);
    if (BitsOf(own) != BitsOf(ref) && ++wrong <= 5)
      first += QString(" a=%1: %2 instead of %3;").arg(Hex(a), Hex(own), Hex(ref));
  }
  if (checked) *checked = n;
  return wrong == 0 ? QString() : QString("%1 of %2 wrong:%3").arg(wrong).arg(n).arg(first);
}

// The distinct arguments the kernel forms on a W x H canvas (float half sizes, double product,
// magnitude).
std::vector<double> CanvasArguments(int W, int H) {
  const float halfW = static_cast<float>(W) / 2, halfH = static_cast<float>(H) / 2;
  std::vector<double> args;
  for (int X = 0; X <= W; ++X)
    for (int Y = 0; Y <= H; ++Y)
      args.push_back(
          std::fabs((X - static_cast<double>(halfW)) * (Y - static_cast<double>(halfH))));
  std::sort(args.begin(), args.end());
  args.erase(std::unique(args.begin(), args.end()), args.end());
  return args;
}

// `count` doubles with exponents spread evenly over [lo, hi] and random mantissas, random signs
// when `signs`; a fixed seed, so every run checks the same ones.
std::vector<double> Spread(int lo, int hi, int count, bool signs, unsigned seed) {
  std::mt19937_64 g(seed);
  std::vector<double> v(static_cast<std::size_t>(count));
  for (double& a : v) {
    a = std::ldexp(1 + static_cast<double>(g() >> 11) * 0x1p-53,
                   lo + static_cast<int>(g() % (hi - lo + 1)));
    if (signs && (g() & 1)) a = -a;
  }
  return v;
}

// `count` random bit patterns: every double alike, NaNs and infinities included.
std::vector<double> AnyBits(int count, bool positive, unsigned seed) {
  std::mt19937_64 g(seed);
  std::vector<double> v(static_cast<std::size_t>(count));
  for (double& a : v) a = FromBits(positive ? g() >> 1 : g());
  return v;
}

// The doubles nearest k pi/2 and two neighbours either side, for k spread up to 2^bits.
std::vector<double> NearHalfPiMultiples(int count, int bits, unsigned seed) {
  std::mt19937_64 g(seed);
  mpfr_t pi, t;
  mpfr_init2(pi, 2000);
  mpfr_init2(t, 2000);
  mpfr_const_pi(pi, MPFR_RNDN);
  std::vector<double> v;
  for (int i = 0; i < count; ++i) {
    const double k = std::floor(std::ldexp(1 + static_cast<double>(g() >> 11) * 0x1p-53,
                                           static_cast<int>(g() % static_cast<unsigned>(bits))));
    mpfr_mul_d(t, pi, k / 2, MPFR_RNDN);  // k / 2 is exact
    double a = mpfr_get_d(t, MPFR_RNDN);
    for (int d = 0; d < 2; ++d) a = std::nextafter(a, 0.0);
    for (int d = 0; d < 5; ++d, a = std::nextafter(a, kInf)) v.push_back(a);
  }
  mpfr_clear(pi);
  mpfr_clear(t);
  return v;
}

// The path the functions use now, by name.
const char* PathName() {
  return maths::detail::CurrentPath() == maths::detail::Path::Fma ? "fma" : "plain";
}

// How far hi + lo lies from f(a), by MPFR at 300 bits.
double ErrorOf(Fn f, double a, double hi, double lo) {
  mpfr_t x, y, v;
  mpfr_inits2(300, x, y, v, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(x, a, MPFR_RNDN);
  f == Fn::Atan  ? mpfr_atan(y, x, MPFR_RNDN)
  : f == Fn::Sin ? mpfr_sin(y, x, MPFR_RNDN)
                 : mpfr_log(y, x, MPFR_RNDN);
  mpfr_set_d(v, hi, MPFR_RNDN);
  mpfr_add_d(v, v, lo, MPFR_RNDN);  // exact at 300 bits
  mpfr_sub(v, v, y, MPFR_RNDN);
  const double e = std::fabs(mpfr_get_d(v, MPFR_RNDU));
  mpfr_clears(x, y, v, static_cast<mpfr_ptr>(nullptr));
  return e;
}

maths::detail::Approximation Approximate(Fn f, double a) {
  const auto path = maths::detail::CurrentPath();
  return f == Fn::Atan  ? maths::detail::ApproximateAtan(a, path)
         : f == Fn::Sin ? maths::detail::ApproximateSin(a, path)
                        : maths::detail::ApproximateLog(a, path);
}

// n points evenly over [lo, hi], the ends and their neighbours inside included.
void Fill(std::vector<double>& v, double lo, double hi, int n) {
  for (int k = 0; k <= n; ++k) v.push_back(lo + (hi - lo) * k / n);
  v.push_back(std::nextafter(lo, hi));
  v.push_back(std::nextafter(hi, lo));
}

// The arctangent's table cells: x' (x or 1/x) over [b - 1/512, b + 1/512] for every b = i/256.
std::vector<double> AtanCells(bool inverted) {
  std::vector<double> v;
  for (int i = 0; i <= 256; ++i) {
    std::vector<double> x;
    Fill(x, std::max((i - 0.5) / 256, 0x1p-27), std::min((i + 0.5) / 256, 1.0), 14);
    for (double t : x)
      if (inverted ? t > 1.0 / 512 : t < 1) v.push_back(inverted ? 1 / t : t);
  }
  return v;
}

// k pi/512 + r for every k of a turn and r over [-pi/1024, pi/1024], k offset by `base` turns,
// negated when `negative`.
std::vector<double> SinCells(double base, bool negative) {
  mpfr_t t;
  mpfr_init2(t, 300);
  std::vector<double> v;
  for (int k = 0; k < 1024; ++k)
    for (int j = -4; j <= 4; ++j) {
      mpfr_const_pi(t, MPFR_RNDN);
      mpfr_mul_d(t, t, (1024 * base + k + j / 8.0) / 512, MPFR_RNDN);  // the factor is exact
      const double a = mpfr_get_d(t, MPFR_RNDN);
      if (a >= 0x1p-26) v.push_back(negative ? -a : a);
    }
  mpfr_clear(t);
  return v;
}

// m 2^e for m over [c0, 2 c0), c0 = 0.6884765625 (the logarithm's cells, each met ten times or
// more, and their edges), for each e given (m 2^e exact: for subnormal results, m rounded).
std::vector<double> LogCells(std::initializer_list<int> exponents) {
  const double c0 = 0.6884765625;
  std::vector<double> m;
  Fill(m, c0, 2 * c0, 4096);
  for (int i = 0; i <= 256; ++i) {  // the cells' edges: multiples of 2^-10 and 2^-9
    const double edge = i < 160 ? c0 + i * 0x1p-9 : 1 + 0x1p-9 + (i - 160) * 0x1p-8;
    m.insert(m.end(), {std::nextafter(edge, 0.0), edge, std::nextafter(edge, 2.0)});
  }
  std::vector<double> v;
  for (int e : exponents)
    for (double x : m)
      if (x >= c0 && x < 2 * c0) v.push_back(std::ldexp(x, e));
  return v;
}

// Hard-to-round arguments from V. Lefevre's published searches (testlibm data and hard cases of
// exp and log, as collected with the CORE-MATH project): results with 43 to 64 identical bits after
// the rounding bit; the last logarithm is the worst case of Lefevre and Muller's 2001 table
// for 1.648..2980.957 (61 ones after bit 53).
const std::vector<double> kHardAtan = {
    0x1.000321dec01a8p-10, 0x1.00046968c6c71p+11, 0x1.0007ba6fbd19ap-15, 0x1.00094221b47e5p+7,
    0x1.000a9ac7bfd91p-4,  0x1.000adaedb43f3p+0,  0x1.000ebcb0aa83cp-3,  0x1.0010debd6372dp+15,
    0x1.00110cb9144eep+32, 0x1.0012a94e63692p-20, 0x1.00193ccd54105p+10, 0x1.0019fa1f8fa74p-9,
    0x1.001b16eddb3adp+9,  0x1.00212fd642328p+21, 0x1.0021adc93964cp+6,  0x1.002657c1a3eap+1,
    0x1.002a1bf91d1aep+2,  0x1.002aa39031ec4p-22, 0x1.00376e5478868p+0,  0x1.0061c6a5a887fp-1,
    0x1.0066febc06a6bp-1,  0x1.00706e523e587p+25, 0x1.00b0231682966p+28, 0x1.015010c5a285ap+42,
    0x1.01e031e16cc19p+43, 0x1.02c0e7bad8ce8p+44, 0x1.02a3ad2ef6f3dp-24, 0x1.00aa39615214fp-23,
    0x1.0310744692036p+41, 0x1.03e005bfc9a2bp+30, 0x1.008285f51be86p+14, 0x1.00857e4c5b477p+19,
    0x1.01c0a1152aec2p+28, 0x1.0259025d3b8f4p+24};
const std::vector<double> kHardSin = {
    0x1.005023d32fee5p+1,  0x1.00874a5f9fc33p-13, 0x1.009ee184a02e7p-8,  0x1.00e730f98fd44p-9,
    0x1.00f620e3203b4p-7,  0x1.0102947e7003bp-3,  0x1.013b76f655be4p-4,  0x1.0192deafac33fp+0,
    0x1.0285070f9f1bcp-5,  0x1.034c2318b3f2dp+0,  0x1.03749c462134ep-3,  0x1.039d88c480fccp-22,
    0x1.04394261cffa6p-1,  0x1.043e268ba402ap+1,  0x1.05149eefb774ap-1,  0x1.0518fffe634f2p-2,
    0x1.057e5c72ad274p+0,  0x1.07d5978b896fcp+0,  0x1.07edc73037d32p+1,  0x1.08c495b034a31p+0,
    0x1.093026e62d889p+1,  0x1.0e9f8bb095163p+1,  0x1.1065078d33361p+1,  0x1.10b4048d92a67p+1,
    0x1.184a0aa58191dp-24, 0x1.1da5d5a23306dp+0,  0x1.1fa6b462b1c81p+1,  0x1.23f40dccdef72p+0,
    0x1.2645db00c9b84p+1,  0x1.273a233829bc6p+0,  0x1.276d5c5c9df2cp+1,  0x1.29b798b1566fcp+1,
    0x1.2daf8e028c6c9p+0,  0x1.2e8439fd922dep+1,  0x1.30c7efbee12acp-24, 0x1.34b19761f1f4bp+0,
    0x1.36bd8001bb569p+1,  0x1.3aff240e7a743p+1,  0x1.3b727649b9393p+0,  0x1.407f8eb75c76p+1};
const std::vector<double> kHardLog = {0x1.a6ae5142326b5p+0,
                                      0x1.a6ba95b1520f9p+0,
                                      0x1.b072ab04ee9bfp+0,
                                      0x1.1e852e6951306p+1,
                                      0x1.000976581ce4ep+1,
                                      0x1.24dea21900258p+1,
                                      0x1.2c86090791524p+1,
                                      0x1.3fa2991e8c0c2p+1,
                                      0x1.547de187239f2p+1,
                                      0x1.967e2d739876bp+1,
                                      0x1.006057e9892f7p+2,
                                      0x1.2d26e1ebebee6p+2,
                                      0x1.45ac1494a8454p+2,
                                      0x1.94a11eb4a79dfp+2,
                                      0x1.39e3e05fe5f35p+3,
                                      0x1.0af4fba7063b8p+4,
                                      0x1.84a5538257275p+4,
                                      0x1.0bb1747d46314p+5,
                                      0x1.186e96b6dca56p+6,
                                      0x1.15956b273c365p+8,
                                      0x1.07598f4a78f02p+9,
                                      0x1.38a3dbb5a6a4fp+10,
                                      0x1.1e88509f96c39p+11,
                                      0x1.a455a70c31d8p+13,
                                      0x1.467cb238723a1p+15,
                                      0x1.561031d4db97cp+16,
                                      0x1.51335f6f0989cp+18,
                                      0x1.7d822b508bb3bp+20,
                                      0x1.5106c15d1fc3fp+22,
                                      0x1.30dafba546295p+24,
                                      0x1.70945ecdc0194p+28,
                                      0x1.187473f1019f6p+31,
                                      0x1.8e27f4f0e6c74p+34,
                                      0x1.deab16bf0cba3p+37,
                                      0x1.304da5ffcea3dp+42,
                                      0x1.a6004162f2b8cp+45,
                                      3767500756895095.0 / 8796093022208.0};

}  // namespace

class MathsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    qInfo("The %s path.", PathName());
    // Doubles' exponent range, so that subnormal results round as doubles do.
    QVERIFY(mpfr_set_emin(-1073) == 0);
    QVERIFY(mpfr_set_emax(1024) == 0);
  }
  void init() { fp::Clear(); }

  // Every argument of the kernel on these canvases, through the kernel's call: the C library
  // here is within reach of the right value everywhere, so the right value is what comes back.
  void canvasArguments_data() {
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    const int sizes[][2] = {{413, 333}, {826, 666}, {517, 417}, {621, 501},  {1240, 1000},
                            {1, 1},     {2, 2},     {7, 3},     {1001, 999}, {1919, 1079}};
    for (const auto& s : sizes) QTest::addRow("%d x %d", s[0], s[1]) << s[0] << s[1];
  }
  void canvasArguments() {
    QFETCH(int, W);
    QFETCH(int, H);
    for (double a : CanvasArguments(W, H)) {
      for (Fn f : {Fn::Atan, Fn::Sin, Fn::Log}) {
        double v = -7;
        const Status s = f == Fn::Atan  ? maths::Atan(a, v)
                         : f == Fn::Sin ? maths::Sin(a, v)
                                        : maths::Log(a, v);
        if (fp::Raised()) QFAIL(qPrintable("a flag raised at a=" + Hex(a)));
        if (f == Fn::Log && a == 0) {
          QVERIFY(!s.ok());
          QCOMPARE(v, -7.0);
          continue;
        }
        const double ref = Reference(f, a), own = Own(f, a);
        if (!s.ok() || BitsOf(v) != BitsOf(ref) || BitsOf(own) != BitsOf(ref))
          QFAIL(qPrintable(QString("a=%1: %2, and the kernel's call %3, instead of %4")
                               .arg(Hex(a), Hex(own), Hex(v), Hex(ref))));
      }
    }
  }

  // Random arguments over each function's range.
  void randomArguments_data() {
    QTest::addColumn<Fn>("f");
    QTest::addColumn<std::vector<double>>("args");
    QTest::newRow("atan, any double") << Fn::Atan << AnyBits(60000, false, 1);
    QTest::newRow("atan, 2^-30..2^60, both signs") << Fn::Atan << Spread(-30, 60, 60000, true, 2);
    QTest::newRow("atan, 2^-10..2^10") << Fn::Atan << Spread(-10, 10, 40000, false, 3);
    QTest::newRow("sin, 2^-30..2^26, both signs") << Fn::Sin << Spread(-30, 26, 60000, true, 4);
    QTest::newRow("sin, 2^26..2^1023") << Fn::Sin << Spread(26, 1023, 40000, false, 5);
    QTest::newRow("sin, any double") << Fn::Sin << AnyBits(40000, false, 6);
    QTest::newRow("sin, multiples of 1/4 below 2^27") << Fn::Sin << [] {
      std::mt19937_64 g(7);
      std::vector<double> v(40000);
      for (double& a : v) a = static_cast<double>(g() % (1ull << 29)) / 4;
      return v;
    }();
    QTest::newRow("log, any positive double") << Fn::Log << AnyBits(60000, true, 8);
    QTest::newRow("log, 2^-1074..2^1023") << Fn::Log << Spread(-1074, 1023, 60000, false, 9);
    QTest::newRow("log, 1/2..2") << Fn::Log << Spread(-1, 0, 40000, false, 10);
    QTest::newRow("log, 1 + k 2^-52 and 1 - k 2^-53") << Fn::Log << [] {
      std::mt19937_64 g(11);
      std::vector<double> v(40000);
      for (double& a : v) {
        const double k = static_cast<double>(g() % 4000000);
        a = (g() & 1) ? 1 + k * 0x1p-52 : 1 - k * 0x1p-53;
      }
      return v;
    }();
  }
  void randomArguments() {
    QFETCH(Fn, f);
    QFETCH(std::vector<double>, args);
    long checked = 0;
    const QString wrong = Mismatches(f, args, &checked);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(checked > static_cast<long>(args.size()) / 2);
  }

  // Arguments that end up within a few ulps of a multiple of pi/2, where the sine reduction
  // cancels most: near its zeros the sine's ulp is tiny, so each must be reduced exactly.
  void sineNearHalfPiMultiples_data() {
    QTest::addColumn<std::vector<double>>("args");
    QTest::newRow("k < 2^26") << NearHalfPiMultiples(6000, 26, 12);
    QTest::newRow("k < 2^60") << NearHalfPiMultiples(3000, 60, 13);
    QTest::newRow("k < 2^1000") << NearHalfPiMultiples(2000, 1000, 14);
    // The double nearest a multiple of pi/2, over all doubles: 6381956970095103 * 2^797.
    QTest::newRow("the closest of all") << std::vector<double>{std::ldexp(6381956970095103.0, 797)};
  }
  void sineNearHalfPiMultiples() {
    QFETCH(std::vector<double>, args);
    long checked = 0;
    const QString wrong = Mismatches(Fn::Sin, args, &checked);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(checked, static_cast<long>(args.size()));
  }

  void specialValues_data() {
    QTest::addColumn<Fn>("f");
    QTest::addColumn<std::vector<double>>("args");
    std::vector<double> edges = {0.0,
                                 -0.0,
                                 4.9e-324,
                                 -4.9e-324,
                                 DBL_MIN,
                                 -DBL_MIN,
                                 DBL_MAX,
                                 -DBL_MAX,
                                 1.0,
                                 -1.0,
                                 0.25,
                                 0.5,
                                 0x1p-27,
                                 0x1p-26,
                                 0x1.fffffffffffffp-28,
                                 0x1.fffffffffffffp-27,
                                 0x1p56,
                                 0x1.fffffffffffffp55,
                                 kInf,
                                 -kInf};
    std::vector<double> powers;
    for (int e = -1074; e <= 1023; ++e) powers.push_back(std::ldexp(1.0, e));
    std::vector<double> nearOne;
    for (int k = 1; k <= 2000; ++k) {
      nearOne.push_back(1 + k * 0x1p-52);
      nearOne.push_back(1 - k * 0x1p-53);
    }
    std::vector<double> eighths;  // the tables' points (i/256, i/8) and their neighbours
    for (int i = 0; i <= 4096; ++i) {
      const double a = i / 4096.0;
      eighths.insert(eighths.end(), {std::nextafter(a, 0.0), a, std::nextafter(a, 2.0)});
    }
    for (Fn f : {Fn::Atan, Fn::Sin, Fn::Log}) {
      const char* name = f == Fn::Atan ? "atan" : f == Fn::Sin ? "sin" : "log";
      QTest::addRow("%s, edges", name) << f << edges;
      QTest::addRow("%s, powers of 2", name) << f << powers;
      QTest::addRow("%s, near 1", name) << f << nearOne;
      QTest::addRow("%s, table points", name) << f << eighths;
    }
  }
  void specialValues() {
    QFETCH(Fn, f);
    QFETCH(std::vector<double>, args);
    const QString wrong = Mismatches(f, args);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
  }

  // The slow path alone (the fast one hands it about one argument in ten thousand): right, and
  // sure of it, everywhere.
  void slowPath_data() {
    QTest::addColumn<Fn>("f");
    QTest::addColumn<std::vector<double>>("args");
    QTest::newRow("atan") << Fn::Atan << Spread(-27, 55, 3000, false, 15);
    QTest::newRow("sin") << Fn::Sin << Spread(-26, 1023, 3000, false, 16);
    QTest::newRow("sin near multiples of pi/2") << Fn::Sin << NearHalfPiMultiples(300, 1000, 17);
    QTest::newRow("log") << Fn::Log << Spread(-1074, 1023, 3000, false, 18);
    std::vector<double> nearOne = Spread(-52, -20, 1000, true, 19);
    for (double& a : nearOne) a += 1;
    QTest::newRow("log near 1") << Fn::Log << nearOne;
  }
  void slowPath() {
    QFETCH(Fn, f);
    QFETCH(std::vector<double>, args);
    for (double a : args) {
      double v = 0;
      const bool sure = f == Fn::Atan  ? maths::detail::SlowAtan(a, v)
                        : f == Fn::Sin ? maths::detail::SlowSin(a, v)
                                       : maths::detail::SlowLog(a, v);
      const double ref = Reference(f, a);
      if (!sure || BitsOf(v) != BitsOf(ref))
        QFAIL(qPrintable(QString("a=%1: %2 (%3) instead of %4")
                             .arg(Hex(a), Hex(v), sure ? "sure" : "unsure", Hex(ref))));
    }
  }

  // Every fast path's error, before rounding, against the bound its rounding test uses: over
  // every table cell (points spread through each, its edges and their neighbours) and the whole
  // reduction range, at each kind of argument. The bound must hold with room for the rounding
  // test's own sums (2^-52 of |lo| and the bound).
  void errorBounds_data() {
    QTest::addColumn<Fn>("f");
    QTest::addColumn<std::vector<double>>("args");
    QTest::newRow("atan, x < 1, every cell") << Fn::Atan << AtanCells(false);
    QTest::newRow("atan, 1 <= x < 512, every cell") << Fn::Atan << AtanCells(true);
    QTest::newRow("atan, x >= 512") << Fn::Atan << Spread(9, 55, 3000, true, 21);
    QTest::newRow("sin, first turn, every cell") << Fn::Sin << SinCells(0, false);
    QTest::newRow("sin, turn 5000, every cell, negative") << Fn::Sin << SinCells(5000, true);
    QTest::newRow("sin, near 2^26, every cell") << Fn::Sin << SinCells(10680000, false);
    QTest::newRow("sin, 2^26 and above") << Fn::Sin << Spread(26, 1023, 6000, true, 22);
    QTest::newRow("log, every cell, e = 0") << Fn::Log << LogCells({0});
    QTest::newRow("log, every cell, other e") << Fn::Log << LogCells({-1, 1, 9, -40, 1023, -1022});
    QTest::newRow("log, every cell, subnormal") << Fn::Log << LogCells({-1040, -1073});
  }
  void errorBounds() {
    QFETCH(Fn, f);
    QFETCH(std::vector<double>, args);
    double worst = 0;  // the largest error as a share of the bound
    for (double a : args) {
      const maths::detail::Approximation v = Approximate(f, a);
      if (std::isnan(v.hi)) QFAIL(qPrintable("no approximation at a=" + Hex(a)));
      const double error = ErrorOf(f, a, v.hi, v.lo);
      worst = std::max(worst, error / v.bound);
      if (error > v.bound - 0x1p-52 * (std::fabs(v.lo) + v.bound))
        QFAIL(qPrintable(QString("%1 path, a=%2: error %3 beyond the bound %4")
                             .arg(PathName(), Hex(a), Hex(error), Hex(v.bound))));
    }
    qInfo("%s path: %zu arguments, largest error %.3g of the bound", PathName(), args.size(),
          worst);
  }

  // The hardest arguments known: the fast path may leave them to the slow one, but whatever it
  // decides must be right.
  void hardToRound_data() {
    QTest::addColumn<Fn>("f");
    QTest::addColumn<std::vector<double>>("args");
    QTest::newRow("atan") << Fn::Atan << kHardAtan;
    QTest::newRow("sin") << Fn::Sin << kHardSin;
    QTest::newRow("log") << Fn::Log << kHardLog;
  }
  void hardToRound() {
    QFETCH(Fn, f);
    QFETCH(std::vector<double>, args);
    for (double a : args) {
      for (double x : {a, -a}) {
        const double ref = Reference(f, x);
        double fast = 0;
        const bool decided = f == Fn::Atan  ? maths::detail::FastAtan(x, fast)
                             : f == Fn::Sin ? maths::detail::FastSin(x, fast)
                                            : maths::detail::FastLog(x, fast);
        if (std::isnan(ref)) continue;  // log of a negative number: see everyDouble
        if (BitsOf(Own(f, x)) != BitsOf(ref) || (decided && BitsOf(fast) != BitsOf(ref)))
          QFAIL(qPrintable(QString("%1 path, a=%2: %3 (fast path %4) instead of %5")
                               .arg(PathName(), Hex(x), Hex(Own(f, x)),
                                    decided ? Hex(fast) : "undecided", Hex(ref))));
      }
    }
  }

  // Every entry point gives a defined value for every double, NaN, infinities, zeros,
  // subnormals and negative numbers included (the sanitizer build checks that no table is read
  // outside its bounds): the correctly rounded value, NaN where the function has none, and
  // each path alone agrees.
  void everyDouble_data() {
    QTest::addColumn<double>("a");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<const char*, double> values[] = {
        {"NaN", nan},
        {"-NaN", -nan},
        {"signalling NaN", FromBits(0x7FF0000000000001ull)},
        {"NaN with payload", FromBits(0xFFF8DEADBEEF0001ull)},
        {"infinity", kInf},
        {"-infinity", -kInf},
        {"0", 0.0},
        {"-0", -0.0},
        {"smallest subnormal", 4.9e-324},
        {"-smallest subnormal", -4.9e-324},
        {"largest subnormal", std::nextafter(DBL_MIN, 0.0)},
        {"-largest subnormal", -std::nextafter(DBL_MIN, 0.0)},
        {"DBL_MIN", DBL_MIN},
        {"-DBL_MIN", -DBL_MIN},
        {"DBL_MAX", DBL_MAX},
        {"-DBL_MAX", -DBL_MAX},
        {"1", 1.0},
        {"-1", -1.0},
        {"-0.5", -0.5},
        {"-1000", -1000.0},
        {"2^56", 0x1p56},
        {"-2^26", -0x1p26},
    };
    for (const auto& v : values) QTest::newRow(v.first) << v.second;
  }
  void everyDouble() {
    QFETCH(double, a);
    for (Fn f : {Fn::Atan, Fn::Sin, Fn::Log}) {
      const double ref = Reference(f, a);
      double fast = 0, slow = 0;
      const bool fastOk = f == Fn::Atan  ? maths::detail::FastAtan(a, fast)
                          : f == Fn::Sin ? maths::detail::FastSin(a, fast)
                                         : maths::detail::FastLog(a, fast);
      const bool slowOk = f == Fn::Atan  ? maths::detail::SlowAtan(a, slow)
                          : f == Fn::Sin ? maths::detail::SlowSin(a, slow)
                                         : maths::detail::SlowLog(a, slow);
      const maths::detail::Approximation v = Approximate(f, a);
      const auto same = [&](double x) {
        return std::isnan(ref) ? std::isnan(x) : BitsOf(x) == BitsOf(ref);
      };
      if (!same(Own(f, a)) || !fastOk || !same(fast) || !slowOk || !same(slow))
        QFAIL(qPrintable(QString("f %1, a=%2: %3, fast %4 (%5), slow %6 (%7) instead of %8")
                             .arg(int(f))
                             .arg(Hex(a), Hex(Own(f, a)), Hex(fast), fastOk ? "sure" : "unsure",
                                  Hex(slow), slowOk ? "sure" : "unsure", Hex(ref))));
      // The approximation: NaN where the fast path does not compute, else near the value.
      if (!std::isnan(v.hi) && !(std::fabs(v.hi + v.lo - ref) <= v.bound))
        QFAIL(
            qPrintable(QString("f %1, a=%2: approximation %3").arg(int(f)).arg(Hex(a), Hex(v.hi))));
    }
  }

  // Where the function has no finite value the call fails, leaves its variable alone and raises
  // no flag; everywhere else it succeeds.
  void failures_data() {
    QTest::addColumn<Fn>("f");
    QTest::addColumn<double>("a");
    QTest::addColumn<bool>("ok");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("log 0") << Fn::Log << 0.0 << false;
    QTest::newRow("log -0") << Fn::Log << -0.0 << false;
    QTest::newRow("log -1") << Fn::Log << -1.0 << false;
    QTest::newRow("log -infinity") << Fn::Log << -kInf << false;
    QTest::newRow("log infinity") << Fn::Log << kInf << false;
    QTest::newRow("log NaN") << Fn::Log << nan << false;
    QTest::newRow("log 1") << Fn::Log << 1.0 << true;
    QTest::newRow("log smallest subnormal") << Fn::Log << 4.9e-324 << true;
    QTest::newRow("log DBL_MAX") << Fn::Log << DBL_MAX << true;
    QTest::newRow("sin infinity") << Fn::Sin << kInf << false;
    QTest::newRow("sin -infinity") << Fn::Sin << -kInf << false;
    QTest::newRow("sin NaN") << Fn::Sin << nan << false;
    QTest::newRow("sin DBL_MAX") << Fn::Sin << DBL_MAX << true;
    QTest::newRow("sin -0") << Fn::Sin << -0.0 << true;
    QTest::newRow("atan NaN") << Fn::Atan << nan << false;
    QTest::newRow("atan infinity") << Fn::Atan << kInf << true;
    QTest::newRow("atan -infinity") << Fn::Atan << -kInf << true;
  }
  void failures() {
    QFETCH(Fn, f);
    QFETCH(double, a);
    QFETCH(bool, ok);
    double v = 0.5;
    const Status s = f == Fn::Atan  ? maths::Atan(a, v)
                     : f == Fn::Sin ? maths::Sin(a, v)
                                    : maths::Log(a, v);
    QVERIFY(!fp::Raised());  // before MPFR, whose own arithmetic may raise flags
    QCOMPARE(s.ok(), ok);
    if (ok)
      QCOMPARE(BitsOf(v), BitsOf(Reference(f, a)));
    else
      QCOMPARE(v, 0.5);
  }

  // Whether the library's value and the correctly rounded one agree: within reach, the library's
  // value is the right one rounded otherwise, and the kernel goes on with its own; beyond it, the
  // point is an error (test_check shows it reported). A NaN or an infinity never agrees.
  void agree_data() {
    QTest::addColumn<double>("platform");
    QTest::addColumn<double>("correct");
    QTest::addColumn<double>("reach");
    QTest::addColumn<bool>("agree");
    const double c = 0x1.5555555555555p-2;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("equal") << c << c << maths::kReach << true;
    QTest::newRow("an ulp above") << std::nextafter(c, 1.0) << c << maths::kReach << true;
    QTest::newRow("an ulp below") << std::nextafter(c, 0.0) << c << maths::kReach << true;
    QTest::newRow("a thousand ulps off") << c + 1000 * 0x1p-54 << c << maths::kReach << true;
    QTest::newRow("just within reach") << c + 0x1p-36 << c << maths::kReach << true;
    QTest::newRow("just beyond reach") << c + 0x1p-35 << c << maths::kReach << false;
    QTest::newRow("far off") << 0.75 << c << maths::kReach << false;
    QTest::newRow("opposite sign") << -c << c << maths::kReach << false;
    QTest::newRow("log, relative reach, within")
        << 700 * (1 + 0x1p-37) << 700.0 << 700 * maths::kReach << true;
    QTest::newRow("log, relative reach, beyond")
        << 700 * (1 + 0x1p-34) << 700.0 << 700 * maths::kReach << false;
    QTest::newRow("log 1: only 0 is 0") << 0x1p-60 << 0.0 << 0.0 << false;
    QTest::newRow("NaN") << nan << 0.5 << maths::kReach << false;
    QTest::newRow("infinity") << kInf << 0.5 << maths::kReach << false;
    QTest::newRow("NaN for a NaN") << nan << nan << maths::kReach << false;
  }
  void agree() {
    QFETCH(double, platform);
    QFETCH(double, correct);
    QFETCH(double, reach);
    QFETCH(bool, agree);
    QCOMPARE(maths::Agree(platform, correct, reach), agree);
    QVERIFY(!fp::Raised());  // a quiet comparison
  }

  // The own computation leaves no failure flag behind, slow path and huge arguments included,
  // so the kernel's next status test is not disturbed.
  void noFlagsLeft() {
    const std::vector<double> args = Spread(-1074, 1023, 20000, true, 20);
    for (double a : args) {
      double v;
      (void)maths::Atan(a, v);
      (void)maths::Sin(a, v);
      (void)maths::Log(a, v);
      double w;
      if (std::fabs(a) >= 0x1p-27 && std::fabs(a) < 0x1p56)
        maths::detail::SlowAtan(std::fabs(a), w);
      if (std::fabs(a) >= 0x1p-26) maths::detail::SlowSin(std::fabs(a), w);
      if (a > 0 && a != 1) maths::detail::SlowLog(a, w);
      if (fp::Raised()) QFAIL(qPrintable("a flag raised at a=" + Hex(a)));
    }
  }
};

// Every comparison on each path the processor has: with fused multiply-add (where it has it),
// then without.
int main(int argc, char** argv) {
  int failed = 0;
  for (auto path : {maths::detail::Path::Fma, maths::detail::Path::Plain}) {
    if (!maths::detail::UsePath(path)) {
      std::printf("This processor has no fused multiply-add: the plain path only.\n");
      continue;
    }
    MathsTest test;
    failed += QTest::qExec(&test, argc, argv);
  }
  return failed;
}
#include "test_maths.moc"
