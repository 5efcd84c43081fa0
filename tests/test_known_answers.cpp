// The known answers the program carries (stress/known_answers.h) against an independent
// computation: for every canvas size in the table, each image's checksum worked out here from
// the description of the kernel and of its sums alone, with MPFR for the correctly rounded
// function values (once for each distinct argument a size has). The table's sizes are those the
// test window's canvas has at the common densities, worked out here from its layout.
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "stress/known_answers.h"
#include "tests/mpfr_reference.h"

using kelvarion::kKnownAnswers;
using kelvarion::KnownAnswers;

namespace {

std::uint64_t Bits(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

double Reference(int f, double a) {
  return reference::Value(static_cast<reference::Fn>(f), a);
}

// The products' lane takes each w as lane = (lane rotated left by one) + w, modulo 2^64; the
// other lanes are plain sums modulo 2^64.
std::uint64_t Rotate(std::uint64_t lane, std::uint64_t x) {
  return ((lane << 1) | (lane >> 63)) + x;
}

// The lanes the checksum is made of, in the order it takes them.
enum { kOwn, kSeed, kV, kW, kColour, kLanes };

// The checksum of the values every build computes alike for each image of a pass on a W x H
// canvas: for every point, column by column (X from 0 to W, Y from 0 to H), the seed
// a = |(X - W/2)(Y - H/2)|, the function's correctly rounded value (not computed, and 0 in its
// lane, for the logarithm of 0, where v keeps its value), v, w after each of five products
// w = -(w K), and the colour, w rounded half to even where it fits 32 bits, else 2^32, each kind
// of value in a lane of its own. Each lane summed once more at each column's end; the ten sums
// mixed in that order.
std::vector<std::uint64_t> ModelPass(int W, int H) {
  // Each point's argument as an index into the distinct ones, with all three functions there.
  const std::size_t points = std::size_t(W + 1) * (H + 1);
  std::vector<double> args(points);
  for (int X = 0, i = 0; X <= W; ++X)
    for (int Y = 0; Y <= H; ++Y, ++i) args[i] = std::fabs((X - W / 2.0) * (Y - H / 2.0));
  std::vector<double> distinct(args);
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<std::uint32_t> index(points);
  for (std::size_t i = 0; i < points; ++i)
    index[i] = std::uint32_t(std::lower_bound(distinct.begin(), distinct.end(), args[i]) -
                             distinct.begin());
  std::vector<double> value[3];
  for (int f = 0; f < 3; ++f)
    for (double a : distinct) value[f].push_back(f == 2 && a == 0 ? 0 : Reference(f, a));

  std::vector<std::uint64_t> sums;
  for (int K = 2; K <= 80; ++K) {
    double v = 2;
    for (int f = 0; f < 3; ++f) {
      std::uint64_t first[kLanes] = {}, second[kLanes] = {};
      std::size_t i = 0;
      for (int X = 0; X <= W; ++X) {
        for (int Y = 0; Y <= H; ++Y, ++i) {
          const double a = args[i];
          const bool computed = !(f == 2 && a == 0);
          const double c = computed ? value[f][index[i]] : 0;
          if (computed) v = c;
          first[kOwn] += Bits(c);
          first[kSeed] += Bits(a);
          first[kV] += Bits(v);
          double w = v;
          for (int step = 0; step < 5; ++step) {
            w = -(w * K);
            first[kW] = Rotate(first[kW], Bits(w));
          }
          const double r = std::nearbyint(w);
          const std::uint64_t colour = r >= -2147483648.0 && r <= 2147483647.0
                                           ? std::uint32_t(std::int32_t(r))
                                           : std::uint64_t{1} << 32;
          first[kColour] += colour;
        }
        for (int l = 0; l < kLanes; ++l) second[l] += first[l];
      }
      std::uint64_t h = 0;
      for (const std::uint64_t* lanes : {first, second})
        for (int l = 0; l < kLanes; ++l) {
          h = (h ^ lanes[l]) * 0x9E3779B97F4A7C15u;
          h ^= h >> 29;
        }
      sums.push_back(h);
    }
  }
  return sums;
}

}  // namespace

class KnownAnswersTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    QVERIFY(mpfr_set_emin(-1073) == 0);
    QVERIFY(mpfr_set_emax(1024) == 0);
  }

  // The sizes: the canvas is 6255 x 5055 twips outside, less a 2-pixel edge on each side. On
  // Linux it is laid out at 15 twips to a pixel (417 x 337) and drawn at the pixel ratio,
  // rounded; on Windows the twips are taken at the dots per inch, rounded half up.
  void sizesAreTheWindowsAtTheCommonDensities() {
    std::set<std::pair<int, int>> expected, table;
    for (const double r : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0})
      expected.insert({int(std::floor(417 * r + 0.5)) - 4, int(std::floor(337 * r + 0.5)) - 4});
    for (const int dpi : {96, 120, 144, 168, 192, 240, 288})
      expected.insert({int(std::floor(6255.0 * dpi / 1440 + 0.5)) - 4,
                       int(std::floor(5055.0 * dpi / 1440 + 0.5)) - 4});
    for (const KnownAnswers& k : kKnownAnswers) table.insert({k.width, k.height});
    QCOMPARE(table, expected);
    QCOMPARE(std::size(kKnownAnswers), expected.size());  // each once
  }

  void everyImageAtEverySize_data() {
    QTest::addColumn<int>("entry");
    for (std::size_t e = 0; e < std::size(kKnownAnswers); ++e)
      QTest::addRow("%d x %d", kKnownAnswers[e].width, kKnownAnswers[e].height) << int(e);
  }
  void everyImageAtEverySize() {
    QFETCH(int, entry);
    const KnownAnswers& k = kKnownAnswers[entry];
    const std::vector<std::uint64_t> model = ModelPass(k.width, k.height);
    QCOMPARE(model.size(), std::size_t(237));
    for (int i = 0; i < 237; ++i)
      if (model[std::size_t(i)] != k.sums[i])
        QFAIL(qPrintable(QStringLiteral("image %1: %2 in the table, %3 worked out")
                             .arg(i + 1)
                             .arg(k.sums[i], 16, 16, QLatin1Char('0'))
                             .arg(model[std::size_t(i)], 16, 16, QLatin1Char('0'))));
  }
};

QTEST_APPLESS_MAIN(KnownAnswersTest)
#include "test_known_answers.moc"
