// image-digest, the tool that checks the kernel on other builds and platforms: its lines must
// describe exactly the images the kernel draws, with a standard SHA-256.
#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>
#include <vector>

#include "stress/kernel.h"

using namespace kelvarion;

namespace {

// One image's points as the kernel leaves them.
struct Grid {
  float W, H;
  std::vector<std::int32_t> colour;
  std::vector<bool> drawn;
  Status InnerWidth(float& out) const { return out = W, Status::Ok(); }
  Status InnerHeight(float& out) const { return out = H, Status::Ok(); }
  Status PlotPoint(float X, float Y, std::int32_t c) {
    const auto i = static_cast<std::size_t>(X * (H + 1) + Y);
    colour[i] = c;
    drawn[i] = true;
    return Status::Ok();
  }
};

// The line image-digest should print for image `index` (from 1) of a pass on a W x H canvas.
QByteArray Expected(int W, int H, int index) {
  const int order = 2 + ((index - 1) % 237) / 3;
  const Kind kind = kKinds[(index - 1) % 3];
  Grid grid{float(W), float(H), {}, {}};
  const SkipRule skip;
  double v = 2, w = 0, step = 0;
  for (int k = 0; k <= (index - 1) % 3; ++k) {  // v runs on from the order's earlier kinds
    grid.colour.assign(std::size_t((W + 1) * (H + 1)), 0);
    grid.drawn.assign(grid.colour.size(), false);
    for (int X = 0; X <= W; ++X)
      for (int Y = 0; Y <= H; ++Y) KernelPoint(skip, grid, X, Y, order, kKinds[k], v, w, step);
  }
  QByteArray bytes;
  long drawn = 0;
  std::int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (std::size_t i = 0; i < grid.colour.size(); ++i) {
    bytes += char(grid.drawn[i]);
    for (int b = 0; b < 4; ++b)
      bytes += grid.drawn[i] ? char(std::uint32_t(grid.colour[i]) >> (8 * b)) : char(0);
    if (grid.drawn[i]) {
      ++drawn;
      lo = std::min(lo, grid.colour[i]);
      hi = std::max(hi, grid.colour[i]);
    }
  }
  const QByteArray range =
      drawn ? QByteArray::number(lo) + ' ' + QByteArray::number(hi) : QByteArray("- -");
  return QByteArray::number(index) + ' ' + Caption(kind) + ' ' + QByteArray::number(order) + ' ' +
         QByteArray::number(qlonglong(drawn)) + ' ' +
         QByteArray::number(qlonglong(grid.colour.size()) - drawn) + ' ' + range + ' ' +
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
