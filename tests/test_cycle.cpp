// The generation cycle on a stand-in window: loop bounds, counting, captions and exactly
// where it sees a stop request.
#include <QtTest>
#include <vector>

#include "stress/generation_cycle.h"
#include "tools/recording_window.h"

using namespace kelvarion;

namespace {

struct Plot {
  float X, Y;
  int pumpsBefore;
};

// A window that records every point drawn and every caption set, and can set StopFlag at a
// chosen pump.
struct Harness {
  RecordingWindow window;
  std::vector<Plot> plots;
  std::vector<std::string> numbers, types;
  Harness(float W, float H) {
    window.pctGen.width = W;
    window.pctGen.height = H;
    window.pctGen.onPlot = [this](float X, float Y, std::int32_t) {
      plots.push_back({X, Y, window.pumps});
    };
    window.lblNum.onSet = [this](std::string_view t) { numbers.emplace_back(t); };
    window.lblType.onSet = [this](std::string_view t) { types.emplace_back(t); };
  }
  void StopAtPump(int n) {
    window.onPump = [this, n] {
      if (window.pumps == n) window.StopFlag = -1;
    };
  }
  long PlotsAfterPump(int n) const {
    long count = 0;
    for (const Plot& p : plots) count += p.pumpsBefore >= n;
    return count;
  }
};

}  // namespace

class CycleTest : public QObject {
  Q_OBJECT
 private slots:
  void fullPassCountsTo237() {
    Harness h(1, 1);
    // Stop as soon as the 237th image is counted: the pass ends and the test at its end stops.
    h.window.lblNum.onSet = [&](std::string_view t) {
      h.numbers.emplace_back(t);
      if (t == "237") h.window.StopFlag = -1;
    };
    GenerationCycle(h.window);
    QCOMPARE(int(h.numbers.size()), 237);
    for (int i = 0; i < 237; ++i) QCOMPARE(h.numbers[i], std::to_string(i + 1));
    QCOMPARE(h.types.size(), std::size_t(237));
    QCOMPARE(h.types[0], std::string("Arctangent"));
    QCOMPARE(h.types[1], std::string("Sine"));
    QCOMPARE(h.types[2], std::string("Logarithmic"));
    QCOMPARE(h.window.lblWhen.caption, std::string("start"));
    QCOMPARE(h.window.shows, 1);
    QCOMPARE(h.window.unloads, 1);
    // Pumps: one after showing, one per order, one per kind, one per column, one per image.
    QCOMPARE(h.window.pumps, 1 + 79 + 237 * (1 + 2 + 1));
  }

  void countGoesOnAcrossPasses() {
    Harness h(0, 0);
    h.window.lblNum.onSet = [&](std::string_view t) {
      h.numbers.emplace_back(t);
      if (t == "238") h.window.StopFlag = -1;
    };
    GenerationCycle(h.window);
    // 238 is the first image of the second pass (Arctangent, order 2); the stop is seen after
    // the first column of the next image.
    QCOMPARE(h.numbers.back(), std::string("238"));
    QCOMPARE(h.types.back(), std::string("Sine"));
  }

  // Where a stop request made during a pump is seen.
  void stopSeenAfterOneMoreColumn_data() {
    QTest::addColumn<int>("stopPump");
    QTest::addColumn<long>("plotsAfter");
    QTest::addColumn<int>("images");
    // Canvas 3 x 2: 4 columns of 3 points. Pumps: 1 after show, 2 order start, 3 kind caption,
    // 4..7 after columns 0..3, 8 after the image, 9 next kind caption, ...
    QTest::newRow("before the cycle's first column") << 1 << 3L << 0;
    QTest::newRow("at the start of the order") << 2 << 3L << 0;
    QTest::newRow("after the kind's caption") << 3 << 3L << 0;
    QTest::newRow("after a column") << 4 << 3L << 0;
    QTest::newRow("after the last column") << 7 << 3L << 1;  // seen in the next image
    QTest::newRow("in the pump that ends an image") << 8 << 3L << 1;
  }
  void stopSeenAfterOneMoreColumn() {
    QFETCH(int, stopPump);
    QFETCH(long, plotsAfter);
    QFETCH(int, images);
    Harness h(3, 2);
    h.StopAtPump(stopPump);
    GenerationCycle(h.window);
    QCOMPARE(h.PlotsAfterPump(stopPump), plotsAfter);
    QCOMPARE(int(h.numbers.size()), images);  // an unfinished image is not counted
    QCOMPARE(h.window.unloads, 1);
  }

  void stopFlagSetBeforeStartDrawsOneColumn() {
    Harness h(3, 2);
    h.window.StopFlag = -1;
    GenerationCycle(h.window);
    QCOMPARE(h.plots.size(), std::size_t(3));
    for (const Plot& p : h.plots) QCOMPARE(p.X, 0.f);
    QVERIFY(h.numbers.empty());
  }

  void boundsAreInclusive_data() {
    QTest::addColumn<float>("W");
    QTest::addColumn<float>("H");
    QTest::addColumn<long>("points");
    QTest::newRow("width 0 still one column") << 0.f << 4.f << 5L;
    QTest::newRow("0 x 0 one point") << 0.f << 0.f << 1L;
    QTest::newRow("3 x 2") << 3.f << 2.f << 12L;
    QTest::newRow("fractional bound 2.5") << 2.5f << 0.f << 3L;
  }
  void boundsAreInclusive() {
    QFETCH(float, W);
    QFETCH(float, H);
    QFETCH(long, points);
    Harness h(W, H);
    h.window.lblNum.onSet = [&](std::string_view) { h.window.StopFlag = -1; };
    h.StopAtPump(1 << 30);
    GenerationCycle(h.window);
    // The first image in full, then the first column of the second.
    QCOMPARE(h.PlotsAfterPump(0), points + static_cast<long>(H) + 1);
  }

  void boundsReadOnceWhenTheLoopStarts() {
    // The canvas grows during the first image: the column loop keeps its bound, each new
    // column's row loop reads the new height.
    Harness h(2, 1);
    h.window.onPump = [&] {
      if (h.window.pumps == 4) {  // after column 0
        h.window.pctGen.width = 10;
        h.window.pctGen.height = 3;
      }
    };
    h.window.lblNum.onSet = [&](std::string_view) { h.window.StopFlag = -1; };
    GenerationCycle(h.window);
    long firstImage = 0;
    for (const Plot& p : h.plots) firstImage += p.pumpsBefore < 7;
    QCOMPARE(firstImage, 2L + 4L + 4L);
  }

  void goneWindowLoopsRunOnceAndFail() {
    // Once the window is gone every statement fails and every loop bound keeps its initial 0:
    // each image still runs its column loop once, with one point at (0, 0), and draws nothing,
    // and the cycle goes on until its stop test finds the flag set.
    Harness h(3, 2);
    const int gone = 3;  // the pump after the first image's kind caption
    std::vector<int> attemptPumps;
    bool watchdog = false;
    h.window.onPump = [&] {
      if (h.window.pumps == gone)
        h.window.pctGen.alive = h.window.lblNum.alive = h.window.lblType.alive = false;
      if (h.window.pumps > 1000) {  // a loop that never ends: stop it, and fail below
        watchdog = true;
        h.window.StopFlag = -1;
      }
    };
    h.window.pctGen.onPlotAttempt = [&](float X, float Y) {
      if (h.window.pumps < gone) return;
      QCOMPARE(X, 0.f);
      QCOMPARE(Y, 0.f);
      attemptPumps.push_back(h.window.pumps);
      if (attemptPumps.size() == 3) h.window.StopFlag = -1;  // seen right after this column
    };
    GenerationCycle(h.window);
    QVERIFY(!watchdog);
    QCOMPARE(h.PlotsAfterPump(gone), 0L);
    // One column an image: its pump, the image's count pump and the next kind's caption pump
    // lie between two attempts.
    QCOMPARE(attemptPumps, (std::vector<int>{gone, gone + 3, gone + 6}));
    QCOMPARE(h.window.unloads, 1);
  }

  void logarithmicKeepsValueFromSineImage() {
    // On a 0 x 2 canvas every point lies on the centre line X = 0, so log fails everywhere and
    // the Logarithmic image draws the value left by the Sine image's last point, not v = 2.
    Harness h(0, 2);
    std::vector<std::int32_t> colours;
    h.window.pctGen.onPlot = [&](float, float, std::int32_t c) { colours.push_back(c); };
    h.window.lblNum.onSet = [&](std::string_view t) {
      if (t == "3") h.window.StopFlag = -1;
    };
    GenerationCycle(h.window);
    QCOMPARE(colours.size(), std::size_t(3 * 3 + 3));
    for (int i = 6; i < 9; ++i) QCOMPARE(colours[i], 0);  // sin(0) = 0 carried
  }
};

QTEST_APPLESS_MAIN(CycleTest)
#include "test_cycle.moc"
