// The colour kernel on memory canvases: the prescribed arithmetic, its failures, and the
// points it skips.
#include <QtTest>
#include <cmath>
#include <limits>
#include <vector>

#include "services/canvas_surface.h"
#include "stress/kernel.h"

using namespace kelvarion;

Q_DECLARE_METATYPE(kelvarion::Kind)

namespace {

// Counts the points a kind at an order draws and skips over a canvas, in the cycle's order.
struct Census {
  long drawn = 0, skipped = 0;
};
Census Run(Kind kind, double K, float W, float H) {
  MemoryCanvas canvas(1, 1, W, H);  // sizes as reported; what lands in the image is irrelevant
  struct Counting {
    MemoryCanvas& c;
    long plots = 0;
    Status InnerWidth(float& o) const { return c.InnerWidth(o); }
    Status InnerHeight(float& o) const { return c.InnerHeight(o); }
    Status PlotPoint(float, float, std::int32_t) {
      ++plots;
      return Status::Ok();
    }
  } counting{canvas};
  const SkipRule skip;
  double v = 2, w = 0, step = 0;
  Census census;
  for (double X = 0; X <= W; X += 1)
    for (double Y = 0; Y <= H; Y += 1) {
      const long before = counting.plots;
      KernelPoint(skip, counting, X, Y, K, kind, v, w, step);
      (counting.plots > before ? census.drawn : census.skipped) += 1;
    }
  return census;
}

}  // namespace

class KernelTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { fp::Clear(); }

  void knownPoints_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<double>("K");
    QTest::addColumn<float>("W");  // canvas sizes and point chosen for a given a
    QTest::addColumn<float>("H");
    QTest::addColumn<double>("X");
    QTest::addColumn<double>("Y");
    QTest::addColumn<double>("v");
    QTest::addColumn<double>("w");
    QTest::addColumn<bool>("drawn");
    QTest::addColumn<int>("colour");
    // a = (1 - 0.5) * (1 - 0.5) = 0.25
    QTest::newRow("arctangent a=0.25 order 2") << Kind::Arctangent << 2.0 << 1.f << 1.f << 1.0
                                               << 1.0 << 0.2449787 << -7.839318 << true << -8;
    // a = (2 - 1) * (2 - 1) = 1: 80^5 * pi/4 does not fit 32 bits
    QTest::newRow("arctangent a=1 order 80 skipped")
        << Kind::Arctangent << 80.0 << 2.f << 2.f << 2.0 << 2.0 << 0.7853982 << -2.5736e9 << false
        << 0;
    QTest::newRow("sine a=0.25 order 2") << Kind::Sine << 2.0 << 1.f << 1.f << 1.0 << 1.0
                                         << std::sin(0.25) << -32 * std::sin(0.25) << true << -8;
    QTest::newRow("logarithmic a=0.25 order 2") << Kind::Logarithmic << 2.0 << 1.f << 1.f << 1.0
                                                << 1.0 << std::log(0.25) << 44.3614 << true << 44;
  }
  void knownPoints() {
    QFETCH(Kind, kind);
    QFETCH(double, K);
    QFETCH(float, W);
    QFETCH(float, H);
    QFETCH(double, X);
    QFETCH(double, Y);
    QFETCH(double, v);
    QFETCH(double, w);
    QFETCH(bool, drawn);
    QFETCH(int, colour);
    MemoryCanvas canvas(3, 3, W, H);
    double vOut = 2, wOut = 0, step = 0;
    KernelPoint(SkipRule{}, canvas, X, Y, K, kind, vOut, wOut, step);
    QVERIFY(std::fabs(vOut - v) < 1e-7);
    QVERIFY(std::fabs(wOut / w - 1) < 1e-5);
    QCOMPARE(step, 6.0);  // the step counter ran 1 to 5
    QCOMPARE(canvas.Pixel(int(X), int(Y)), drawn ? ToRgb32(colour) : 0xFFFFFFFFu);
  }

  void fiveSeparatelyRoundedProducts() {
    // a = (1 - 0.5) * (3 - 0.5) = 1.25 at order 3: one product with 3^5 rounds differently.
    MemoryCanvas canvas(1, 1, 1, 1);
    double v = 2, w = 0, step = 0;
    KernelPoint(SkipRule{}, canvas, 1, 3, 3, Kind::Arctangent, v, w, step);
    QCOMPARE(v, std::atan(1.25));
    volatile double chained = v;
    for (int i = 0; i < 5; ++i) chained = -(chained * 3.0);
    const double single = -(v * 243.0);
    QVERIFY(chained != single);  // the case tells the two apart
    QCOMPARE(w, static_cast<double>(chained));
    QVERIFY(w != single);
  }

  void negatedProductFailures_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("factor");
    QTest::addColumn<bool>("ok");
    QTest::newRow("ordinary") << 1.5 << 4.0 << true;
    QTest::newRow("overflow") << 1e300 << 1e10 << false;
    QTest::newRow("invalid: infinity times 0")
        << std::numeric_limits<double>::infinity() << 0.0 << false;
    QTest::newRow("infinity times 2 is exact")
        << std::numeric_limits<double>::infinity() << 2.0 << true;
  }
  void negatedProductFailures() {
    QFETCH(double, value);
    QFETCH(double, factor);
    QFETCH(bool, ok);
    double w = value;
    QCOMPARE(NegatedProduct(w, factor, w).ok(), ok);
    QCOMPARE(w, ok ? -(value * factor) : value);
    // A failure leaves no status behind: the next statement succeeds.
    double next = 1;
    QVERIFY(NegatedProduct(next, 2.0, next).ok());
    QCOMPARE(next, -2.0);
  }

  void failedStepLeavesWAndNextStepRuns() {
    // The first step's w fits a colour and the second overflows: the four failing steps each
    // leave w as it was and the next one still comes, and the drawing follows with that w.
    struct Recording {
      std::vector<std::int32_t> colours;
      Status InnerWidth(float& o) const { return (o = 0, Status::Ok()); }
      Status InnerHeight(float& o) const { return (o = 0, Status::Ok()); }
      Status PlotPoint(float, float, std::int32_t colour) {
        colours.push_back(colour);
        return Status::Ok();
      }
    } canvas;
    const double K = 1e300;
    double v = 0, w = 0, step = 0;
    // a = |X * Y| = 1e-291, and v = atan(a) = a; v * K is about 1e9, v * K * K overflows.
    KernelPoint(SkipRule{}, canvas, 1e-291, 1, K, Kind::Arctangent, v, w, step);
    QCOMPARE(v, 1e-291);
    QCOMPARE(w, -(v * K));
    QCOMPARE(step, 6.0);  // all five steps ran
    QCOMPARE(canvas.colours, std::vector<std::int32_t>{std::int32_t(std::nearbyint(w))});
  }

  void logOfZeroKeepsV() {
    MemoryCanvas canvas(3, 3, 2, 2);  // centre lines at X = 1 and Y = 1
    double v = 0.5;
    QVERIFY(!SeedAndFunction(canvas, 1, 0, Kind::Logarithmic, v).ok());
    QCOMPARE(v, 0.5);
    QVERIFY(SeedAndFunction(canvas, 0, 0, Kind::Logarithmic, v).ok());
    QCOMPARE(v, 0.0);  // log |(0 - 1) * (0 - 1)|
  }

  void goneCanvasFailsEveryStatement() {
    MemoryCanvas canvas(3, 3, 2, 2);
    canvas.Detach();
    double v = 0.5, w = 0, step = 0;
    float size = -1;
    QVERIFY(!canvas.InnerWidth(size).ok());
    QCOMPARE(size, -1.f);
    KernelPoint(SkipRule{}, canvas, 0, 0, 2, Kind::Sine, v, w, step);
    QCOMPARE(v, 0.5);
    QCOMPARE(w, -16.0);  // scaling works on the kept v
  }

  void rounding_data() {
    QTest::addColumn<double>("w");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("colour");
    QTest::newRow("2.5 to even") << 2.5 << true << 2;
    QTest::newRow("3.5 to even") << 3.5 << true << 4;
    QTest::newRow("-2.5 to even") << -2.5 << true << -2;
    QTest::newRow("-7.839318") << -7.839318 << true << -8;
    QTest::newRow("largest") << 2147483647.4 << true << 2147483647;
    QTest::newRow("2^31-0.5 rounds up, out") << 2147483647.5 << false << 0;
    QTest::newRow("-2^31-0.5 rounds to even, in") << -2147483648.5 << true << int(-2147483647 - 1);
    QTest::newRow("-2^31-0.51 out") << -2147483648.51 << false << 0;
    QTest::newRow("NaN") << std::nan("") << false << 0;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false << 0;
  }
  void rounding() {
    QFETCH(double, w);
    QFETCH(bool, ok);
    QFETCH(int, colour);
    MemoryCanvas canvas(1, 1, 0, 0);
    QCOMPARE(DrawPoint(canvas, 0, 0, w).ok(), ok);
    QCOMPARE(canvas.Pixel(0, 0), ok ? ToRgb32(colour) : 0xFFFFFFFFu);
    QVERIFY(!fp::Raised());
  }

  void colourShowsLow24Bits_data() {
    QTest::addColumn<int>("colour");
    QTest::addColumn<uint>("rgb");
    QTest::newRow("red") << 0x0000FF << 0xFFFF0000u;
    QTest::newRow("blue") << 0xFF0000 << 0xFF0000FFu;
    QTest::newRow("-8") << -8 << 0xFFF8FFFFu;
    QTest::newRow("2^24 + green") << 0x100FF00 << 0xFF00FF00u;
  }
  void colourShowsLow24Bits() {
    QFETCH(int, colour);
    QFETCH(uint, rgb);
    QCOMPARE(ToRgb32(colour), rgb);
  }

  // Which orders start skipping points: 68 for Arctangent, 74 for Sine, on the real canvas.
  void overflowOrders_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<double>("K");
    QTest::addColumn<bool>("skips");
    QTest::newRow("arctangent 67") << Kind::Arctangent << 67.0 << false;
    QTest::newRow("arctangent 68") << Kind::Arctangent << 68.0 << true;
    QTest::newRow("sine 73") << Kind::Sine << 73.0 << false;
    QTest::newRow("sine 74") << Kind::Sine << 74.0 << true;
  }
  void overflowOrders() {
    QFETCH(Kind, kind);
    QFETCH(double, K);
    QFETCH(bool, skips);
    const Census c = Run(kind, K, 413, 333);
    QCOMPARE(c.drawn + c.skipped, 414L * 334L);
    QCOMPARE(c.skipped > 0, skips);
  }

  void arctangentAt80SkipsExactlyAboveThreshold() {
    // Every point with v = atan(a) > 0.65536 (a > 0.7687) is skipped, every other is drawn.
    const float W = 41, H = 33;
    long expectedSkipped = 0;
    for (double X = 0; X <= W; X += 1)
      for (double Y = 0; Y <= H; Y += 1)
        expectedSkipped += std::fabs((X - W / 2) * (Y - H / 2)) > 0.7687;
    const Census c = Run(Kind::Arctangent, 80, W, H);
    QCOMPARE(c.skipped, expectedSkipped);
    QVERIFY(c.drawn > 0);
  }
};

QTEST_APPLESS_MAIN(KernelTest)
#include "test_kernel.moc"
