// image-digest, the tool that checks the kernel on other builds and platforms: its lines must
// describe exactly the images the kernel draws, with a standard SHA-256.
#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>
#include <cmath>
#include <vector>

#include "services/maths.h"

using namespace kelvarion;

namespace {

// The line image-digest should print for image `index` (from 1) of a pass on a W x H canvas,
// worked out from the formula alone: the seed from the point's distance to the centre lines,
// the kind's function (correctly rounded, as checked against MPFR in the maths test), five
// negated products by the order, and the colour rounded half to even, skipped where it does
// not fit 32 bits. v runs on from point to point and from the order's earlier kinds; a
// logarithm of 0 keeps it.
QByteArray Expected(int W, int H, int index) {
  const int order = 2 + ((index - 1) % 237) / 3;
  const int kind = (index - 1) % 3;
  const std::size_t points = std::size_t(W + 1) * std::size_t(H + 1);
  std::vector<std::int32_t> colour;
  std::vector<bool> drawn;
  double v = 2;
  for (int k = 0; k <= kind; ++k) {
    colour.assign(points, 0);
    drawn.assign(points, false);
    std::size_t i = 0;
    for (int X = 0; X <= W; ++X) {
      for (int Y = 0; Y <= H; ++Y, ++i) {
        const double a = std::fabs((X - double(W) / 2) * (Y - double(H) / 2));
        double f = v;
        const bool ok = k == 0   ? bool(maths::Atan(a, f))
                        : k == 1 ? bool(maths::Sin(a, f))
                                 : a != 0 && bool(maths::Log(a, f));
        if (ok) v = f;
        double w = v;
        for (int step = 0; step < 5; ++step) w = -(w * order);
        const double rounded = std::nearbyint(w);  // the default mode: half to even
        if (rounded < -2147483648.0 || rounded > 2147483647.0) continue;
        colour[i] = std::int32_t(rounded);
        drawn[i] = true;
      }
    }
  }
  QByteArray bytes;
  long count = 0;
  std::int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (std::size_t i = 0; i < points; ++i) {
    bytes += char(drawn[i]);
    for (int b = 0; b < 4; ++b)
      bytes += drawn[i] ? char(std::uint32_t(colour[i]) >> (8 * b)) : char(0);
    if (drawn[i]) {
      ++count;
      lo = std::min(lo, colour[i]);
      hi = std::max(hi, colour[i]);
    }
  }
  const QByteArray range =
      count ? QByteArray::number(lo) + ' ' + QByteArray::number(hi) : QByteArray("- -");
  static const char* const kCaptions[] = {"Arctangent", "Sine", "Logarithmic"};
  return QByteArray::number(index) + ' ' + kCaptions[kind] + ' ' + QByteArray::number(order) + ' ' +
         QByteArray::number(qlonglong(count)) + ' ' +
         QByteArray::number(qlonglong(points) - count) + ' ' + range + ' ' +
         QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

struct Run {
  int status;
  QByteArray out, err;
};
Run ImageDigest(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(IMAGE_DIGEST_EXE), args);
  if (!p.waitForFinished(60000)) return {-1, {}, {}};
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

}  // namespace

class ToolsTest : public QObject {
  Q_OBJECT
 private slots:
  void digestLines_data() {
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    QTest::addColumn<int>("count");
    QTest::newRow("one point") << 0 << 0 << 4;
    QTest::newRow("12 x 9, two orders") << 12 << 9 << 6;
    // Orders from 67 on overflow here and skip points; past 237 a new pass starts at order 2.
    QTest::newRow("40 x 30, a pass and more") << 40 << 30 << 240;
  }
  void digestLines() {
    QFETCH(int, W);
    QFETCH(int, H);
    QFETCH(int, count);
    const Run run = ImageDigest({QString::number(W), QString::number(H), QString::number(count)});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QByteArray());
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), count);
    for (int i = 0; i < count; ++i) QCOMPARE(lines[i], Expected(W, H, i + 1));
  }

  void badArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("none") << QStringList{};
    QTest::newRow("two") << QStringList{"3", "3"};
    QTest::newRow("four") << QStringList{"3", "3", "1", "1"};
    QTest::newRow("not a number") << QStringList{"3", "x", "1"};
    QTest::newRow("trailing text") << QStringList{"3", "3px", "1"};
    QTest::newRow("negative size") << QStringList{"-1", "3", "1"};
    QTest::newRow("too wide") << QStringList{"100001", "0", "1"};
    QTest::newRow("too many points") << QStringList{"10000", "10000", "1"};
    QTest::newRow("no images") << QStringList{"3", "3", "0"};
  }
  void badArguments() {
    QFETCH(QStringList, args);
    const Run run = ImageDigest(args);
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QByteArray());
    QVERIFY(run.err.startsWith("usage: image-digest WIDTH HEIGHT COUNT"));
    QCOMPARE(run.err.count('\n'), 1);
  }
};

QTEST_APPLESS_MAIN(ToolsTest)
#include "test_tools.moc"
