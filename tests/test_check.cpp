// The self-check without a toolkit: the checksum, the processor tour with stand-in affinity
// calls, and whole runs of the generation cycle on memory canvases with faults injected into
// the maths (this file defines the hook its build passes every result through).
#include <QtTest>
#include <algorithm>
#include <map>
#include <vector>

#include "stress/generation_cycle.h"
#include "tools/recording_window.h"

using namespace kelvarion;

Q_DECLARE_METATYPE(kelvarion::ErrorReport::Verdict)

namespace {

// Faults: image number -> how many of that image's points to spoil (the first ones drawn),
// armed when the count before it is set and spent by the image's own function.
struct Faults {
  std::map<long, int> planned;
  int pending = 0;
  char function = 0;
  void Arm(long image) {
    const auto it = planned.find(image);
    if (it == planned.end()) return;
    pending = it->second;
    function = "asl"[(image - 1) % 3];  // Arctangent, Sine, Logarithmic in turn
  }
} faults;

}  // namespace

double kelvarion::maths::InjectFault(char function, double, double result) {
  if (faults.pending == 0 || function != faults.function) return result;
  --faults.pending;
  return result + 0.5;  // far beyond any rounding: what an unstable processor might give
}

namespace {

// A canvas in memory that can change size, keeping what was drawn, like the window's; rows
// are padded so that the checksum's row-by-row path is taken.
class TestCanvas : public CanvasRef {
 public:
  TestCanvas(int w, int h) {
    surface_ = &store_;
    Resize(w, h);
  }
  void Resize(int w, int h) {
    const int stride = w + 3;
    std::vector<std::uint32_t> fresh(static_cast<std::size_t>(stride) * h, 0xFF00FF00u);
    for (int y = 0; y < std::min(h, store_.height); ++y)
      for (int x = 0; x < std::min(w, store_.width); ++x)
        fresh[static_cast<std::size_t>(y) * stride + x] = pixels_[y * store_.stride + x];
    pixels_.swap(fresh);
    drawn_.assign(static_cast<std::size_t>(w) + 1, 0);
    store_.bits = pixels_.data();
    store_.drawn = drawn_.data();
    store_.SetSize(w, h, stride);
    store_.innerWidth = static_cast<float>(w);
    store_.innerHeight = static_cast<float>(h);
  }
  void Detach() { surface_ = nullptr; }

 private:
  std::vector<std::uint32_t> pixels_;
  std::vector<unsigned char> drawn_;
  CanvasSurface store_;
};

// The test window's stand-in: records reports and counts, stops after a number of passes, and
// arms the planned faults as the count goes by.
struct TestWindow {
  std::int16_t StopFlag = 0;
  RecordedLabel lblWhen, lblType, lblNum;
  TestCanvas pctGen;
  CheckSetup checking;
  std::vector<ErrorReport> reports;
  std::function<void(long)> onImage;  // after each count
  std::function<void()> onPump;
  long passes = 0;

  TestWindow(int w, int h, long stopAfterPasses) : pctGen(w, h), passes(stopAfterPasses) {
    faults.Arm(1);
    lblNum.onSet = [this](std::string_view text) {
      const long n = std::stol(std::string(text));
      faults.Arm(n + 1);
      if (onImage) onImage(n);
      if (n == passes * kImagesPerPass) StopFlag = -1;
    };
  }
  Status Show() { return Status::Ok(); }
  void Unload() { StopFlag = -1; }
  void PumpEvents() {
    if (onPump) onPump();
  }
  std::string Now() const { return "now"; }
  void ReportError(const ErrorReport& r) { reports.push_back(r); }
  long Errors() const { return reports.empty() ? 0 : reports.back().errors; }
};

// Stand-in affinity calls: a set of processors, a log of what was asked, and calls that fail
// on demand.
struct FakeProcessors {
  std::vector<int> allowed, thread;  // what the process may use; the thread's mask now
  std::vector<std::vector<int>> sets;
  bool getFails = false;
  int failSet = -1;  // the set call (counted from 0) that fails, if any
} fake;

bool FakeGet(std::vector<int>& out) {
  if (fake.getFails) return false;
  out = fake.thread;
  return true;
}
bool FakeSet(const std::vector<int>& p) {
  const bool fail = static_cast<int>(fake.sets.size()) == fake.failSet;
  fake.sets.push_back(p);
  if (fail) return false;
  fake.thread = p;
  return true;
}
int FakeCurrent() {
  return fake.thread.size() == 1 ? fake.thread[0] : -1;
}
const affinity::Calls kFake{&FakeGet, &FakeSet, &FakeCurrent};

void ResetFake(std::vector<int> allowed) {
  fake = FakeProcessors{};
  fake.allowed = fake.thread = std::move(allowed);
}

using Sets = std::vector<std::vector<int>>;

}  // namespace

class CheckTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { faults = Faults{}; }

  // Any one changed pixel, anywhere, changes the checksum; so does a swap of two pixels and
  // the image's shape; what lies beyond a row's end (stride padding) does not.
  void checksumSeesEveryPixel_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("stride");
    QTest::newRow("contiguous, odd") << 13 << 7 << 13;
    QTest::newRow("contiguous, whole blocks") << 16 << 4 << 16;
    QTest::newRow("padded rows") << 9 << 5 << 12;
    QTest::newRow("one pixel") << 1 << 1 << 1;
  }
  void checksumSeesEveryPixel() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, stride);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(stride) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = ToRgb32(static_cast<int>(i * 7919));
    CanvasSurface s;
    s.bits = pixels.data();
    s.SetSize(width, height, stride);
    const std::uint64_t base = ImageChecksum(s);
    QCOMPARE(ImageChecksum(s), base);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < stride; ++x) {
        std::uint32_t& p = pixels[static_cast<std::size_t>(y) * stride + x];
        const std::uint32_t old = p;
        p ^= 1u << ((x + y) % 24);  // one bit of the colour
        if (x < width)
          QVERIFY2(ImageChecksum(s) != base, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        else
          QCOMPARE(ImageChecksum(s), base);
        p = old;
      }
    if (width * height > 1) {
      std::swap(pixels[0], pixels[static_cast<std::size_t>(stride) * (height - 1) + width - 1]);
      QVERIFY(ImageChecksum(s) != base);
    }
    CanvasSurface other = s;
    other.SetSize(height, width, height);  // the same words in another shape
    if (width != height) QVERIFY(ImageChecksum(other) != base);
  }

  void tourVisitsEveryProcessorInOrder_data() {
    QTest::addColumn<std::vector<int>>("allowed");
    QTest::addColumn<int>("failSet");
    QTest::addColumn<bool>("getFails");
    QTest::addColumn<Sets>("expected");  // every set call, the last being the restore
    const std::vector<int> two{0, 1}, sparse{1, 4, 7};
    QTest::newRow("two processors") << two << -1 << false << Sets{{0}, {1}, {0}, {1}, {0}, {0, 1}};
    QTest::newRow("three, not counted from 0")
        << sparse << -1 << false << Sets{{1}, {4}, {7}, {1}, {4}, {1, 4, 7}};
    QTest::newRow("one processor: never pinned") << std::vector<int>{3} << -1 << false << Sets{};
    QTest::newRow("affinity unknown: never pinned") << two << -1 << true << Sets{};
    QTest::newRow("first pin refused: unpinned at once")
        << sparse << 0 << false << Sets{{1}, {1, 4, 7}, {1, 4, 7}};
    QTest::newRow("a later pin refused: unpinned from there")
        << sparse << 2 << false << Sets{{1}, {4}, {7}, {1, 4, 7}, {1, 4, 7}};
  }
  // Four pass boundaries after the dwell each, and some before it that move nothing.
  void tourVisitsEveryProcessorInOrder() {
    QFETCH(std::vector<int>, allowed);
    QFETCH(int, failSet);
    QFETCH(bool, getFails);
    QFETCH(Sets, expected);
    ResetFake(allowed);
    fake.failSet = failSet;
    fake.getFails = getFails;
    std::vector<int> visited;  // where the thread ran, as the stand-in reports it
    {
      ProcessorTour tour(&kFake, 100, 0);
      visited.push_back(tour.Processor());
      for (std::int64_t t : {50, 100, 150, 199, 200, 299, 300, 400}) {
        tour.PassBoundary(t);
        if (tour.Processor() != visited.back()) visited.push_back(tour.Processor());
      }
    }
    QCOMPARE(fake.sets, expected);
    QCOMPARE(fake.thread, allowed);                        // given back as it was
    if (failSet < 0 && !getFails && allowed.size() > 1) {  // every processor in turn
      std::vector<int> tour(allowed);
      tour.insert(tour.end(), allowed.begin(), allowed.end());
      tour.resize(5);
      QCOMPARE(visited, tour);
    }
  }

  void nestedTourKeepsTheOuterProcessors() {
    ResetFake({2, 5});
    {
      ProcessorTour outer(&kFake, 10, 0);
      outer.PassBoundary(10);  // on 5 now
      QCOMPARE(fake.thread, std::vector<int>{5});
      {
        ProcessorTour inner(&kFake, 10, 10);  // Stop and Begin at once
        QCOMPARE(fake.thread, std::vector<int>{2});
        inner.PassBoundary(20);
        QCOMPARE(fake.thread, std::vector<int>{5});
        inner.PassBoundary(30);
        QCOMPARE(fake.thread, std::vector<int>{2});
      }
      QCOMPARE(fake.thread, std::vector<int>{5});  // the outer test's processor again
    }
    QCOMPARE(fake.thread, (std::vector<int>{2, 5}));
  }

  // Many passes of correct work never give an error, whatever the canvas's size.
  void noFalseErrors_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("passes");
    QTest::newRow("1 x 1") << 1 << 1 << 2000;
    QTest::newRow("4 x 3") << 4 << 3 << 2000;
    QTest::newRow("8 x 6, centre lines on points") << 8 << 6 << 600;
    QTest::newRow("17 x 11") << 17 << 11 << 200;
  }
  void noFalseErrors() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, passes);
    ResetFake({0, 1});
    TestWindow w(width, height, passes);
    w.checking = CheckSetup{&kFake, 0};  // a new processor every pass
    GenerationCycle(w);
    QCOMPARE(CountOf(w), long(passes) * kImagesPerPass);
    QVERIFY(w.reports.empty());
    QCOMPARE(fake.sets.size(), std::size_t(passes) + 1);  // pins, then the restore
  }

  // A wrong result in one image: reported after that image, named by number, order, kind and
  // pass, with the processors of both drawings.
  void faultIsReported_data() {
    QTest::addColumn<long>("image");  // counted from the test's start
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<long>("pass");
    QTest::newRow("Sine, order 2, pass 2") << 239L << 2 << "Sine" << 2L;
    QTest::newRow("Arctangent, order 2, pass 2 (its first image)")
        << 238L << 2 << "Arctangent" << 2L;
    QTest::newRow("Logarithmic, order 30, pass 3") << 474L + 87 << 30 << "Logarithmic" << 3L;
    QTest::newRow("Sine, order 60, pass 4") << 711L + 176 << 60 << "Sine" << 4L;
  }
  void faultIsReported() {
    QFETCH(long, image);
    QFETCH(int, order);
    QFETCH(QString, kind);
    QFETCH(long, pass);
    faults.planned[image] = 1;
    ResetFake({3, 6});
    TestWindow w(9, 7, pass);  // ends with the pass of the error: nothing decided yet
    w.checking = CheckSetup{&kFake, 0};
    long reportedAfter = -1;
    w.onImage = [&](long n) {
      if (reportedAfter < 0 && !w.reports.empty()) reportedAfter = n;
    };
    GenerationCycle(w);
    QCOMPARE(w.reports.size(), std::size_t(1));
    const ErrorReport& r = w.reports.front();
    QCOMPARE(reportedAfter, image);  // seen as the image was finished
    QCOMPARE(r.image, image);
    QCOMPARE(r.order, order);
    QCOMPARE(QString::fromUtf8(Caption(r.kind)), kind);
    QCOMPARE(r.pass, pass);
    QCOMPARE(r.firstPass, 1L);
    // A new processor every pass: 3 for odd passes, 6 for even ones.
    QCOMPARE(r.processor, pass % 2 ? 3 : 6);
    QCOMPARE(r.firstProcessor, 3);
    QVERIFY(r.held);
    QCOMPARE(r.verdict, ErrorReport::Verdict::Open);  // the last pass ended at the error's pass
    QCOMPARE(r.errors, 1L);
    QCOMPARE(r.time, std::string("now"));
    QCOMPARE(r.testStart, std::string("now"));
  }

  // A wrong colour that outlives its image (the next ones skip the point) is one error, not
  // one for every image it shows in. (The count rising fault by fault: test_verify.)
  void lingeringWrongColourCountsOnce() {
    // Order 80: Arctangent and Logarithmic images skip most points, so a wrong colour left by
    // the Sine image of order 79 (spoiled so that it is not drawn) is still there after them.
    const long sine79 = 237 + 3 * 77 + 2;
    faults.planned[sine79] = 7 * 6;  // every point of it
    TestWindow w(6, 5, 2);
    std::uint64_t endOfPass[2] = {0, 0};
    w.onImage = [&](long n) {
      if (n % 237 == 0) endOfPass[n / 237 - 1] = ImageChecksum(*w.pctGen.Surface());
    };
    GenerationCycle(w);
    QVERIFY(endOfPass[0] != endOfPass[1]);  // still wrong at the pass's end, four images on
    QCOMPARE(w.reports.size(), std::size_t(1));
    QCOMPARE(w.reports.front().image, sine79);
    QCOMPARE(w.reports.front().errors, 1L);
  }

  // A fault in the first drawing: the second pass differs and names both processors; the third
  // agrees with the second, and the first drawing takes the blame. And the other way round.
  void furtherDrawingDecides_data() {
    QTest::addColumn<long>("faulty");
    QTest::addColumn<long>("reportedImage");
    QTest::addColumn<long>("reportedPass");
    QTest::addColumn<ErrorReport::Verdict>("verdict");
    QTest::addColumn<int>("blamed");
    QTest::newRow("first drawing wrong")
        << 14L << 251L << 2L << ErrorReport::Verdict::FirstWrong << 3;
    QTest::newRow("second drawing wrong")
        << 251L << 251L << 2L << ErrorReport::Verdict::LaterWrong << 6;
  }
  void furtherDrawingDecides() {
    QFETCH(long, faulty);
    QFETCH(long, reportedImage);
    QFETCH(long, reportedPass);
    QFETCH(ErrorReport::Verdict, verdict);
    QFETCH(int, blamed);
    faults.planned[faulty] = 1;
    ResetFake({3, 6});
    TestWindow w(7, 7, 3);
    w.checking = CheckSetup{&kFake, 0};
    std::vector<ErrorReport::Verdict> seen;
    w.onImage = [&](long n) {
      if (n == reportedImage || n == reportedImage + 237) seen.push_back(w.reports.back().verdict);
    };
    GenerationCycle(w);
    QCOMPARE(seen, (std::vector<ErrorReport::Verdict>{ErrorReport::Verdict::Open, verdict}));
    const ErrorReport& r = w.reports.back();
    QCOMPARE(r.image, reportedImage);
    QCOMPARE(r.pass, reportedPass);
    QCOMPARE(r.processor, 6);
    QCOMPARE(r.firstProcessor, 3);
    QCOMPARE(r.decidingPass, 3L);
    QCOMPARE(r.decidingProcessor, 3);
    QCOMPARE(verdict == ErrorReport::Verdict::FirstWrong ? r.firstProcessor : r.processor, blamed);
    QCOMPARE(r.errors, 1L);
    QCOMPARE(w.reports.size(), std::size_t(2));  // the error, then its verdict
  }

  // A canvas that changes size starts a fresh first pass at the next boundary: no false error
  // meanwhile, and faults are seen again afterwards against the new first pass.
  void sizeChangeStartsAFreshFirstPass_data() {
    QTest::addColumn<long>("resizeAfter");  // image count after which the canvas grows
    QTest::newRow("in the first pass") << 100L;
    QTest::newRow("in the second pass") << 300L;
    QTest::newRow("at a pass boundary") << 474L;
    QTest::newRow("twice in one pass") << 500L;
  }
  void sizeChangeStartsAFreshFirstPass() {
    QFETCH(long, resizeAfter);
    TestWindow w(6, 4, 6);
    const long fresh = (resizeAfter + 236) / 237 * 237;  // the count before the new first pass
    faults.planned[fresh + 237 + 40] = 1;
    w.onImage = [&](long n) {
      if (n == resizeAfter) w.pctGen.Resize(9, 5);
      if (n == resizeAfter + 2 && resizeAfter == 500) w.pctGen.Resize(6, 4);
    };
    GenerationCycle(w);
    QVERIFY(!w.reports.empty());
    QCOMPARE(w.reports.back().errors, 1L);
    QCOMPARE(w.reports.back().verdict, ErrorReport::Verdict::LaterWrong);  // decided later on
    QCOMPARE(w.reports.front().image, fresh + 237 + 40);
    QCOMPARE(w.reports.front().firstPass, fresh / 237 + 1);
  }

  // Stop and Begin at once: the second test runs inside the first one's pump with its own
  // first pass and count, and the first adds nothing when it ends.
  void nestedTestKeepsItsOwnReference() {
    faults.planned[300] = 1;  // the outer test's second pass: one error
    TestWindow outer(5, 5, 3);
    std::unique_ptr<TestWindow> inner;
    outer.onImage = [&](long n) {
      if (n != 400) return;
      outer.StopFlag = -1;
      faults.planned = {{237 + 5, 1}};  // the inner test's second pass, image 5
      inner = std::make_unique<TestWindow>(5, 5, 2);
      GenerationCycle(*inner);
    };
    GenerationCycle(outer);
    QCOMPARE(outer.reports.size(), std::size_t(1));
    QCOMPARE(outer.reports.back().image, 300L);
    QCOMPARE(inner->reports.size(), std::size_t(1));
    QCOMPARE(inner->reports.back().image, 242L);
    QCOMPARE(inner->reports.back().errors, 1L);
  }

  void goneCanvasIsNotChecked() {
    TestWindow w(5, 5, 3);
    faults.planned[250] = 1;
    w.onImage = [&](long n) {
      if (n == 240) w.pctGen.Detach();
    };
    GenerationCycle(w);
    QVERIFY(w.reports.empty());
  }

 private:
  static long CountOf(const TestWindow& w) { return std::stol(w.lblNum.caption); }
};

QTEST_APPLESS_MAIN(CheckTest)
#include "test_check.moc"
