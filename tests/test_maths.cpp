// The correctly rounded arctangent, sine and logarithm against MPFR's correctly rounded values,
// over the arguments the kernel meets and over every function's whole range; and the rule that
// chooses between them and the C library's values.
#include <mpfr.h>

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

using namespace kelvarion;

enum class Fn { Atan, Sin, Log };
Q_DECLARE_METATYPE(Fn)

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

// MPFR's value of f(a) rounded to the nearest double, ties to even, subnormals included.
double Reference(Fn f, double a) {
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

}  // namespace

class MathsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
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

QTEST_APPLESS_MAIN(MathsTest)
#include "test_maths.moc"
