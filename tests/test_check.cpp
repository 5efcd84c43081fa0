// The self-check without a toolkit: the value sums, the processor tour with stand-in affinity
// calls, processor topology from a stand-in sysfs, and whole runs of the generation cycle on
// memory canvases with faults injected: single bits of the C library's results (through the
// library the suite loads before this test, libm_fault.cpp, found with dlsym) and of the
// correctly rounded results and of w (through the hook this build passes them through).
#include <dlfcn.h>

#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "stress/generation_cycle.h"
#include "tools/recording_window.h"

using namespace kelvarion;

Q_DECLARE_METATYPE(kelvarion::ErrorReport::Verdict)
Q_DECLARE_METATYPE(kelvarion::ErrorReport::Finding)
Q_DECLARE_METATYPE(kelvarion::Kind)
Q_DECLARE_METATYPE(kelvarion::ErrorReport::Decided)

namespace {

// A fault for the hook: at a site ('a', 's', 'l': the correctly rounded value of that function;
// 'w': w after product `step`), let `skip` calls pass, then spoil the next `pending`: flip `bit`,
// or add `delta` where bit is -1.
struct Faults {
  // The earlier plans: image number -> how many of that image's first points get w after its
  // fifth product spoiled, armed when the count before it is set.
  std::map<long, int> planned;
  char site = 'w';
  double step = 5;
  long skip = 0;
  int pending = 0;
  int bit = -1;
  double delta = 0.5;  // far beyond any rounding: what an unstable processor might give
  int made = 0;
  // A core that gets certain operands wrong every time: at `site`, flip `bit` of about one value
  // in `period` (picked by the operand's bits: the argument, or w before the product) while the
  // thread runs on `processor`.
  unsigned long period = 0;
  int processor = -1;
  void Arm(long image) {
    const auto it = planned.find(image);
    if (it == planned.end()) return;
    site = 'w';
    step = 5;
    skip = 0;
    pending = it->second;
  }
  void Arm(char where, double product, long calls, int flip) {
    site = where;
    step = product;
    skip = calls;
    pending = 1;
    bit = flip;
    made = 0;
  }
} faults;

double Flip(double x, int bit) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  u ^= std::uint64_t{1} << bit;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// The library loaded before this test, if it was.
struct LibmFault {
  void (*arm)(char, long long, int) = nullptr;
  int (*made)(double*, double*, double*, int*) = nullptr;
  void (*pattern)(char, unsigned long, int, int, int (*)()) = nullptr;
  LibmFault() {
    pattern = reinterpret_cast<void (*)(char, unsigned long, int, int, int (*)())>(
        dlsym(RTLD_DEFAULT, "kelvarion_libm_fault_pattern"));
    arm = reinterpret_cast<void (*)(char, long long, int)>(
        dlsym(RTLD_DEFAULT, "kelvarion_libm_fault_arm"));
    made = reinterpret_cast<int (*)(double*, double*, double*, int*)>(
        dlsym(RTLD_DEFAULT, "kelvarion_libm_fault_made"));
  }
  bool Present() const { return arm && made && pattern; }
};
const LibmFault& Libm() {
  static const LibmFault libm;
  return libm;
}

}  // namespace

namespace {
int FakeCurrent();
bool Picked(double x, unsigned long period) {  // as libm_fault.cpp picks
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return (u * 0x9E3779B97F4A7C15u >> 40) % period == 0;
}
}  // namespace

double kelvarion::maths::InjectFault(char site, double argument, double value) {
  if (faults.period > 0 && site == faults.site && FakeCurrent() == faults.processor &&
      Picked(site == 'w' ? value : argument, faults.period))
    return Flip(value, faults.bit);
  if (faults.pending == 0 || site != faults.site || (site == 'w' && argument != faults.step))
    return value;
  if (faults.skip > 0) {
    --faults.skip;
    return value;
  }
  --faults.pending;
  ++faults.made;
  return faults.bit >= 0 ? Flip(value, faults.bit) : value + faults.delta;
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

// One image of `kind` at order K through the kernel's column on a canvas in memory, as the cycle
// draws it (v starting at 2 as at an order's start): its values.
ImageValues<> OneImage(Kind kind, double K, int W, int H) {
  MemoryCanvas canvas(W, H, float(W), float(H));
  ImageValues<> values;
  double Y = 0, v = 2, w = 0, step = 0;
  for (double X = 0; X <= W; X += 1)
    KernelColumn(SkipRule{}, canvas, X, K, kind, Y, v, w, step, values);
  return values;
}

// The sums of a healthy pass on a W x H canvas, as a table of known answers for the tests that
// check the mechanism (the program's own table is checked against an independent model in
// test_known_answers.cpp).
KnownAnswers PassTable(int W, int H) {
  KnownAnswers t{W, H, {}};
  MemoryCanvas canvas(W, H, float(W), float(H));
  int i = 0;
  double Y = 0, v = 0, w = 0, step = 0;
  for (double K = 2; K <= 80; K += 1) {
    v = 2;
    for (const Kind kind : kKinds) {
      ImageValues<> values;
      for (double X = 0; X <= W; X += 1)
        KernelColumn(SkipRule{}, canvas, X, K, kind, Y, v, w, step, values);
      t.sums[i++] = SumsOf(values).common;
    }
  }
  return t;
}

const char kFunctions[] = "asl";  // each kind's function, as the hook and the library name it

// The correctly rounded value, for telling whether a wrong library value lies within reach.
double Correct(char f, double a) {
  return f == 'a' ? maths::CorrectAtan(a) : f == 's' ? maths::CorrectSin(a) : maths::CorrectLog(a);
}

// Writes a stand-in sysfs processor tree: one line "cpu core die package" a processor, -1 for
// a file that is missing; `possible` lists them.
void WriteSysfs(const QString& root, const QString& possible, const QList<QList<int>>& cpus) {
  QDir().mkpath(root);
  std::ofstream(QString(root + "/possible").toStdString()) << possible.toStdString() << '\n';
  for (const QList<int>& c : cpus) {
    const QString dir = QStringLiteral("%1/cpu%2/topology").arg(root).arg(c[0]);
    QDir().mkpath(dir);
    const char* files[] = {"core_id", "die_id", "physical_package_id"};
    for (int f = 0; f < 3; ++f)
      if (c[f + 1] >= 0)
        std::ofstream(QString(dir + '/' + files[f]).toStdString()) << c[f + 1] << '\n';
  }
}

}  // namespace

class CheckTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { faults = Faults{}; }

  // One flipped bit of any value any point produces changes the image's sums: at every point,
  // the clipped last column and row (X = W, Y = H), skipped colours (order 80) and failed
  // statements (the logarithm on the centre lines of an even canvas) included. The correctly
  // rounded value and w after each product through the hook, and the library's value through
  // the library loaded before the test, where it was.
  void sumsSeeEveryValue_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<double>("K");
    QTest::newRow("arctangent, order 80: most colours skipped") << Kind::Arctangent << 80.0;
    QTest::newRow("sine, order 2") << Kind::Sine << 2.0;
    QTest::newRow("logarithm, order 30: log 0 on the centre lines") << Kind::Logarithmic << 30.0;
  }
  void sumsSeeEveryValue() {
    QFETCH(Kind, kind);
    QFETCH(double, K);
    const int W = 6, H = 4, points = (W + 1) * (H + 1);
    const char f = kFunctions[static_cast<int>(kind)];
    const ValueSums healthy = SumsOf(OneImage(kind, K, W, H));
    int calls = 0;  // of the function: none where a statement fails before it
    faults.Arm(f, 0, 1 << 30, 0);
    (void)OneImage(kind, K, W, H);
    calls = (1 << 30) - static_cast<int>(faults.skip);
    QCOMPARE(calls, kind == Kind::Logarithmic ? points - (W + 1) - (H + 1) + 1 : points);
    for (const int bit : {0, 20, 51, 52, 62, 63}) {
      for (const double step : {0.0, 1.0, 2.0, 3.0, 4.0, 5.0})
        for (int call = 0; call < (step == 0 ? calls : points); ++call) {
          faults.Arm(step == 0 ? f : 'w', step, call, bit);
          const ValueSums spoiled = SumsOf(OneImage(kind, K, W, H));
          QCOMPARE(faults.made, 1);
          if (spoiled.common == healthy.common)
            QFAIL(qPrintable(QStringLiteral("bit %1 of %2 at call %3 unseen")
                                 .arg(bit)
                                 .arg(step == 0 ? QStringLiteral("the own value")
                                                : QStringLiteral("w after product %1").arg(step))
                                 .arg(call)));
        }
      if (!Libm().Present()) continue;
      for (int call = 1; call <= calls; ++call) {
        Libm().arm(f, call, bit);
        const ImageValues<> values = OneImage(kind, K, W, H);
        Libm().arm(f, 0, 0);
        double a, right, wrong;
        int cpu;
        QVERIFY(Libm().made(&a, &right, &wrong, &cpu));
        if (SumsOf(values).library == healthy.library)
          QFAIL(qPrintable(
              QStringLiteral("bit %1 of the library at call %2 unseen").arg(bit).arg(call)));
        // What is drawn stays right: the program goes on with its own value (unless the library
        // call failed, a value that is not finite, which fails the statement).
        if (std::isfinite(wrong)) QCOMPARE(SumsOf(values).common, healthy.common);
      }
    }
    if (!Libm().Present()) QSKIP("the library's own values: run with libm_fault loaded (ctest)");
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
    QTest::newRow("8 x 6, known answers") << 8 << 6 << -600;
    QTest::newRow("7 x 5, known answers") << 7 << 5 << -600;
  }
  void noFalseErrors() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, passes);
    const bool known = passes < 0;
    passes = std::abs(passes);
    ResetFake({0, 1});
    TestWindow w(width, height, passes);
    w.checking = CheckSetup{&kFake, 0};  // a new processor every pass
    const KnownAnswers table = PassTable(width, height);
    if (known) w.checking.known = &table, w.checking.knownCount = 1;
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
    // Drawn on the first drawing's processor, the next drawing decides; on the other, both
    // processors draw it again at once, as in the first pass.
    QCOMPARE(r.verdict, pass % 2 ? ErrorReport::Verdict::Open : ErrorReport::Verdict::LaterWrong);
    QCOMPARE(r.decided,
             pass % 2 ? ErrorReport::Decided::NextDrawing : ErrorReport::Decided::BothAgain);
    QCOMPARE(r.errors, 1L);
    QCOMPARE(r.time, std::string("now"));
    QCOMPARE(r.testStart, std::string("now"));
  }

  // A wrong colour that outlives its image (the next ones skip the point) is one error, not
  // one for every image it shows in: the images after it compute right. (The count rising fault
  // by fault: test_verify.)
  void lingeringWrongColourCountsOnce() {
    // Order 80: Arctangent and Logarithmic images skip most points, so a wrong colour left by
    // the Sine image of order 79 (spoiled so that it is not drawn) is still there after them.
    const long sine79 = 237 + 3 * 77 + 2;
    faults.planned[sine79] = 7 * 6;  // every point of it
    faults.delta = 1e9;              // far out of the colours' range
    TestWindow w(6, 5, 2);
    std::vector<std::uint32_t> endOfPass[2];
    w.onImage = [&](long n) {
      const CanvasSurface& c = *w.pctGen.Surface();
      if (n % 237 == 0)
        for (int y = 0; y < c.height; ++y)
          endOfPass[n / 237 - 1].insert(endOfPass[n / 237 - 1].end(), c.bits + y * c.stride,
                                        c.bits + y * c.stride + c.width);
    };
    GenerationCycle(w);
    QVERIFY(endOfPass[0] != endOfPass[1]);  // still wrong at the pass's end, four images on
    QCOMPARE(w.reports.size(), std::size_t(1));
    QCOMPARE(w.reports.front().image, sine79);
    QCOMPARE(w.reports.front().errors, 1L);
  }

  // A one-off fault in the first drawing: the second pass differs and names both processors,
  // and the first drawing takes the blame; and the other way round. On one processor the next
  // drawing decides; on two, the image is drawn again on both at once; with a third, there.
  void furtherDrawingDecides_data() {
    QTest::addColumn<std::vector<int>>("allowed");
    QTest::addColumn<long>("faulty");
    QTest::addColumn<ErrorReport::Verdict>("verdict");
    QTest::addColumn<ErrorReport::Decided>("decided");
    QTest::addColumn<int>("decider");
    QTest::addColumn<int>("blamed");
    using V = ErrorReport::Verdict;
    using D = ErrorReport::Decided;
    const std::vector<int> one{3}, two{3, 6}, three{3, 6, 9};
    QTest::newRow("one processor, first drawing wrong")
        << one << 14L << V::FirstWrong << D::NextDrawing << 3 << 3;
    QTest::newRow("one processor, second drawing wrong")
        << one << 251L << V::LaterWrong << D::NextDrawing << 3 << 3;
    QTest::newRow("two, first drawing wrong")
        << two << 14L << V::FirstWrong << D::BothAgain << -1 << 3;
    QTest::newRow("two, second drawing wrong")
        << two << 251L << V::LaterWrong << D::BothAgain << -1 << 6;
    QTest::newRow("three, first drawing wrong")
        << three << 14L << V::FirstWrong << D::OtherCore << 9 << 3;
    QTest::newRow("three, second drawing wrong")
        << three << 251L << V::LaterWrong << D::OtherCore << 9 << 6;
  }
  void furtherDrawingDecides() {
    QFETCH(std::vector<int>, allowed);
    QFETCH(long, faulty);
    QFETCH(ErrorReport::Verdict, verdict);
    QFETCH(ErrorReport::Decided, decided);
    QFETCH(int, decider);
    QFETCH(int, blamed);
    const long reportedImage = 251;
    const bool next = decided == ErrorReport::Decided::NextDrawing;
    faults.planned[faulty] = 1;
    ResetFake(allowed);
    TestWindow w(7, 7, 3);
    w.checking = CheckSetup{&kFake, 0};
    std::vector<ErrorReport::Verdict> seen;
    w.onImage = [&](long n) {
      if ((n == reportedImage || n == reportedImage + 237) && !w.reports.empty())
        seen.push_back(w.reports.back().verdict);
    };
    GenerationCycle(w);
    QCOMPARE(seen, (std::vector<ErrorReport::Verdict>{next ? ErrorReport::Verdict::Open : verdict,
                                                      verdict}));
    const ErrorReport& r = w.reports.back();
    QCOMPARE(r.image, reportedImage);
    QCOMPARE(r.pass, 2L);
    QCOMPARE(r.processor, allowed[1 % allowed.size()]);
    QCOMPARE(r.firstProcessor, 3);
    QCOMPARE(r.decided, decided);
    QCOMPARE(r.decidingPass, next ? 3L : 2L);
    QCOMPARE(r.decidingProcessor, decider);
    QCOMPARE(Blamed(r), std::vector<int>{blamed});
    QCOMPARE(r.errors, 1L);
    QCOMPARE(w.reports.size(), std::size_t(next ? 2 : 1));  // the error, then its verdict
    QCOMPARE(fake.thread, allowed);                         // given back as it was
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

  // A single flipped bit of a result, at a random point of a random image, in the first pass
  // or a later one: every bit of the C library's result of each function, a sample of bits of
  // the correctly rounded result and of w after each product. On a canvas with known answers
  // (7 x 5 here, the program's own sizes being larger) a wrong own value or w is reported in its
  // own pass; so is a wrong library value beyond the reach, or one within it in a later pass.
  // Within the reach in the first pass it shows as the second pass differing from the first,
  // and the third blames the first. Each fault counts once, on the processor it was made on.
  void singleBitFaultsAreReported_data() {
    QTest::addColumn<char>("site");  // a, s, l: the library's; A, S, L: the own value; w
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("step");  // w after this product
    QTest::addColumn<int>("pass");
    for (const int pass : {1, 2}) {
      for (const char f : {'a', 's', 'l'})
        for (int bit = 0; bit < 64; ++bit)
          QTest::addRow("library %c, bit %d, pass %d", f, bit, pass) << f << bit << 0 << pass;
      for (const char f : {'A', 'S', 'L'})
        for (const int bit : {0, 3, 17, 30, 44, 51, 52, 58, 63})
          QTest::addRow("own %c, bit %d, pass %d", f, bit, pass) << f << bit << 0 << pass;
      for (int step = 1; step <= 5; ++step)
        for (const int bit : {0, 13, 27, 40, 52, 63})
          QTest::addRow("w %d, bit %d, pass %d", step, bit, pass) << 'w' << bit << step << pass;
    }
  }
  void singleBitFaultsAreReported() {
    QFETCH(char, site);
    QFETCH(int, bit);
    QFETCH(int, step);
    QFETCH(int, pass);
    const bool library = site >= 'a' && site != 'w';
    if (library && !Libm().Present()) QSKIP("run with libm_fault loaded (ctest)");
    const int W = 7, H = 5, points = (W + 1) * (H + 1);  // every point calls the function
    std::mt19937 random(static_cast<unsigned>(site * 4099 + bit * 67 + step * 7 + pass));
    const int order = 2 + static_cast<int>(random() % 79);
    // The image of that order whose function is the fault's (any, for w).
    const int kind = site == 'w' ? static_cast<int>(random() % 3)
                                 : static_cast<int>(std::string("asl").find(std::tolower(site)));
    const long image = (pass - 1) * 237L + 3 * (order - 2) + kind + 1;
    const int call = 1 + static_cast<int>(random() % points);
    const KnownAnswers table = PassTable(W, H);
    ResetFake({3, 6});
    TestWindow w(W, H, 3);
    w.checking = CheckSetup{&kFake, 0};
    w.checking.known = &table;
    w.checking.knownCount = 1;
    auto arm = [&] {
      if (library)
        Libm().arm(site, call, bit);
      else
        faults.Arm(site == 'w' ? 'w' : char(std::tolower(site)), step, call - 1, bit);
    };
    if (image == 1) arm();
    w.onImage = [&](long n) {
      if (n == image - 1) arm();
      if (n == image && library) Libm().arm(site, 0, 0);
    };
    GenerationCycle(w);
    double a = 0, right = 0, wrong = 0;
    int cpu;
    bool withinReach = false;
    if (library) {
      QVERIFY(Libm().made(&a, &right, &wrong, &cpu));
      const double c = Correct(site, a);
      withinReach = maths::Honest(site, wrong, c);
    } else {
      QCOMPARE(faults.made, 1);
    }
    QVERIFY2(!w.reports.empty(), "not reported");
    const ErrorReport& r = w.reports.front();
    const int processor = pass % 2 ? 3 : 6;  // a new processor every pass
    if (library && withinReach && pass == 1) {
      // Seen as the second drawing differing from the first, the third settles it.
      QCOMPARE(r.finding, ErrorReport::Finding::FirstDrawing);
      QCOMPARE(r.image, image + 237);
      QCOMPARE(w.reports.back().verdict, ErrorReport::Verdict::FirstWrong);
      QCOMPARE(r.firstPass, 1L);
      QCOMPARE(r.firstProcessor, processor);
    } else {
      QCOMPARE(r.image, image);
      QCOMPARE(r.pass, long(pass));
      QCOMPARE(r.processor, processor);
      if (library && !withinReach) QCOMPARE(r.finding, ErrorReport::Finding::Disagreement);
    }
    QCOMPARE(w.reports.back().errors, 1L);
  }

  // A fault that repeats at the same point in every pass, from the first on, on a canvas with
  // known answers: seen in the first pass, by whichever check sees it first, and counted in
  // every pass.
  void repeatedFaultSeenInTheFirstPass_data() {
    QTest::addColumn<char>("site");
    QTest::addColumn<int>("bit");
    QTest::addColumn<ErrorReport::Finding>("finding");
    QTest::newRow("library arctangent, far off") << 'a' << 60 << ErrorReport::Finding::Disagreement;
    QTest::newRow("own sine, within reach") << 'S' << 0 << ErrorReport::Finding::KnownAnswer;
    QTest::newRow("own logarithm, far off") << 'L' << 59 << ErrorReport::Finding::Disagreement;
    QTest::newRow("w, lowest bit") << 'w' << 0 << ErrorReport::Finding::KnownAnswer;
  }
  void repeatedFaultSeenInTheFirstPass() {
    QFETCH(char, site);
    QFETCH(int, bit);
    QFETCH(ErrorReport::Finding, finding);
    if (site == 'a' && !Libm().Present()) QSKIP("run with libm_fault loaded (ctest)");
    const long image = site == 'S' ? 35 : site == 'L' ? 36 : 34;  // order 13
    const KnownAnswers table = PassTable(7, 5);
    TestWindow w(7, 5, 3);
    w.checking.known = &table;
    w.checking.knownCount = 1;
    w.onImage = [&](long n) {
      if ((n + 1) % 237 != image % 237) return;
      if (site == 'a')
        Libm().arm('a', 20, bit);
      else
        faults.Arm(site == 'w' ? 'w' : char(std::tolower(site)), 3, 19, bit);
    };
    GenerationCycle(w);
    if (site == 'a') Libm().arm('a', 0, 0);
    QVERIFY(!w.reports.empty());
    QCOMPARE(w.reports.front().pass, 1L);
    QCOMPARE(w.reports.front().image, image);
    QCOMPARE(w.reports.front().finding, finding);
    QCOMPARE(w.reports.back().errors, 3L);  // once in each pass
  }

  // Where the two computations disagree, the report tells the function, its argument, both
  // values and which was wrong, and the image is drawn as a correct processor draws it.
  void disagreementTellsWhichWasWrong_data() {
    QTest::addColumn<char>("site");
    QTest::addColumn<int>("bit");
    QTest::newRow("the program's own sine") << 'S' << 55;
    QTest::newRow("the library's logarithm") << 'l' << 54;
  }
  void disagreementTellsWhichWasWrong() {
    QFETCH(char, site);
    QFETCH(int, bit);
    const bool library = site == 'l';
    if (library && !Libm().Present()) QSKIP("run with libm_fault loaded (ctest)");
    const char f = char(std::tolower(site));
    const Kind kind = f == 's' ? Kind::Sine : Kind::Logarithmic;
    const int W = 7, H = 5, call = 17;  // X = 2, Y = 4 (drawing order: X outer, Y inner)
    const double a = std::fabs((2 - W / 2.0) * (4 - H / 2.0));
    const ValueSums healthy = SumsOf(OneImage(kind, 9, W, H));
    if (library)
      Libm().arm(f, call, bit);
    else
      faults.Arm(f, 0, call - 1, bit);
    const ImageValues<> values = OneImage(kind, 9, W, H);
    if (library) Libm().arm(f, 0, 0);
    QCOMPARE(values.findings.count, 1L);
    const maths::Disagreement& d = values.findings.first;
    const double right = f == 's' ? std::sin(a) : std::log(a);  // this machine's libm is honest
    QCOMPARE(d.function, f);
    QCOMPARE(d.argument, a);
    QCOMPARE(d.library, library ? Flip(right, bit) : right);
    QCOMPARE(d.own, library ? Correct(f, a) : Flip(Correct(f, a), bit));
    QCOMPARE(d.further, Correct(f, a));
    QCOMPARE(d.libraryWrong, library);
    QCOMPARE(d.ownWrong, !library);
    // The drawing goes on with the right value: only the lane of the wrong value differs.
    const ValueSums spoiled = SumsOf(values);
    QCOMPARE(spoiled.colours, healthy.colours);
    QCOMPARE(spoiled.common == healthy.common, library);
    QVERIFY(spoiled.library != healthy.library || !library);
  }

  // A core that gets certain operands wrong every time it meets them, put on each processor in
  // turn, on machines of every shape (a processor a line: core, die, package): always blamed on
  // that core and no other. Through the hook (w after a product, or the program's own
  // arctangent) and through the library (a low bit of the logarithm, within an honest library's
  // reach: only a drawing on a third core can tell which of two cores gave it; with two cores,
  // the window says it cannot tell). With one processor the known answers tell; where the thread
  // cannot be moved to draw again, nothing does.
  void alwaysWrongCoreIsBlamed_data() {
    QTest::addColumn<QList<QList<int>>>("cores");
    QTest::addColumn<char>("site");  // w, a (own arctangent), l (library logarithm)
    QTest::addColumn<bool>("refuseMove");
    auto smt = [](int cpus, int cores) {  // threads numbered core by core, as Windows does
      QList<QList<int>> l;
      for (int i = 0; i < cpus; ++i) l.append({i / (cpus / cores), 0, 0});
      return l;
    };
    const QList<QList<int>> one{{0, 0, 0}}, two{{0, 0, 0}, {1, 0, 0}};
    const QList<QList<int>> four{{0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {1, 0, 0}};  // Linux numbering
    const QList<QList<int>> hybrid{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 0, 0},
                                   {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}};
    QList<QList<int>> dies, sockets{{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {1, 0, 1}};
    for (int c : {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13}) dies.append({c, c < 8 ? 0 : 1, 0});
    for (const char site : {'w', 'a', 'l'}) {
      QTest::addRow("1 processor, %c", site) << one << site << false;
      QTest::addRow("2 processors, %c", site) << two << site << false;
      QTest::addRow("4, two threads a core, %c", site) << four << site << false;
      QTest::addRow("8, two threads a core, %c", site) << smt(8, 4) << site << false;
      QTest::addRow("hybrid, threads on performance cores only, %c", site)
          << hybrid << site << false;
      QTest::addRow("two dies, core ids with gaps, %c", site) << dies << site << false;
      QTest::addRow("two sockets, %c", site) << sockets << site << false;
    }
    QTest::newRow("two groups of 64, w") << smt(128, 64) << 'w' << false;
    QTest::newRow("2 processors, the move refused") << two << 'w' << true;
  }
  void alwaysWrongCoreIsBlamed() {
    QFETCH(QList<QList<int>>, cores);
    QFETCH(char, site);
    QFETCH(bool, refuseMove);
    const bool library = site == 'l';
    if (library && !Libm().Present()) QSKIP("run with libm_fault loaded (ctest)");
    // The machine as the system lists it: cores by (package, die, core id).
    std::vector<int> allowed;
    std::map<std::vector<int>, std::vector<int>> byCore;
    for (const QList<int>& c : cores) {
      byCore[{c[2], c[1], c[0]}].push_back(int(allowed.size()));
      allowed.push_back(int(allowed.size()));
    }
    std::vector<topology::CoreRecord> records;
    for (const auto& [id, processors] : byCore) records.push_back({id[0], id[1], -1, processors});
    static topology::Description places;
    places = topology::FromCores(records, topology::Words::Linux);
    const std::set<std::vector<int>> distinct = [&] {
      std::set<std::vector<int>> d;
      for (const auto& core : byCore) d.insert(core.first);
      return d;
    }();
    const int W = 7, H = 5;
    const KnownAnswers table = PassTable(W, H);
    for (const int p : allowed) {
      ResetFake(allowed);
      // Each pass on the next processor: p's, and two more to settle it.
      TestWindow w(W, H, p + 3);
      w.checking = CheckSetup{&kFake, 0};
      w.checking.topology = []() -> const topology::Description& { return places; };
      if (allowed.size() == 1) w.checking.known = &table, w.checking.knownCount = 1;
      if (refuseMove) fake.failSet = 2;  // pins for passes 1 and 2; then drawing it again
      faults = Faults{};
      if (library) {
        Libm().pattern('l', 2, 0, p, &FakeCurrent);
      } else {
        faults.site = site;
        faults.step = 5;
        faults.bit = 0;
        faults.period = 2;
        faults.processor = p;
      }
      GenerationCycle(w);
      if (library) Libm().pattern('l', 0, 0, -1, nullptr);
      // A library value within an honest library's reach, the same every time on the only
      // processor, is unseen: it looks exactly like the library's own rounding.
      if (library && allowed.size() == 1) {
        QVERIFY(w.reports.empty());
        continue;
      }
      QVERIFY2(!w.reports.empty(), qPrintable(QStringLiteral("nothing seen on %1").arg(p)));
      // Only a third core tells two cores' equally honest library values apart (where the
      // fault is on one thread of a core, its other thread may tell).
      const bool mayNotTell = library && distinct.size() < 3;
      const bool cannotTell = refuseMove || (mayNotTell && allowed.size() == 2);
      for (const ErrorReport& r : w.reports) {
        const std::vector<int> blamed = Blamed(r);
        for (const int b : blamed)
          QVERIFY2(topology::SameCore(places, b, p),
                   qPrintable(QStringLiteral("%1 blamed for %2").arg(b).arg(p)));
        if (cannotTell) QVERIFY(blamed.empty());
      }
      const ErrorReport& last = w.reports.back();
      if (cannotTell)
        QCOMPARE(last.verdict, ErrorReport::Verdict::CannotTell);
      else if (!mayNotTell || last.verdict != ErrorReport::Verdict::CannotTell)
        QVERIFY2(!Blamed(last).empty(), qPrintable(QStringLiteral("undecided for %1").arg(p)));
      QCOMPARE(fake.thread, allowed);
    }
  }

  // Processors named as the system's tools name them, with their physical core, from a stand-in
  // sysfs: cores, dies and sockets by their place in order, never by sysfs's identifiers; the
  // die and the socket where the machine has more than one; the kind of core on hybrid parts;
  // the core's CPUs; the number alone where the topology is missing.
  void topologyFromSysfs_data() {
    QTest::addColumn<QString>("possible");
    QTest::addColumn<QList<QList<int>>>("cpus");  // cpu, core, die, package (-1: no file)
    QTest::addColumn<QStringList>("kinds");       // cpu_core/cpus and cpu_atom/cpus, if any
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("core");
    QTest::addColumn<int>("other");  // SameCore(asked, other) is `same`
    QTest::addColumn<bool>("same");
    using Cpus = QList<QList<int>>;
    const Cpus smt{{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 0, 0, 0}, {3, 1, 0, 0}};
    QTest::newRow("two threads a core") << "0-3" << smt << QStringList{} << 2 << "CPU 2 (core 0)"
                                        << "core 0, with CPUs 0 and 2" << 0 << true;
    QTest::newRow("cores not counted from 0")
        << "0-1" << Cpus{{0, 4, 0, 0}, {1, 9, 0, 0}} << QStringList{} << 1 << "CPU 1 (core 1)"
        << "core 1, with CPU 1" << 0 << false;
    QTest::newRow("two sockets") << "0-3"
                                 << Cpus{{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 0, 0, 1}, {3, 1, 0, 1}}
                                 << QStringList{} << 3 << "CPU 3 (core 3, socket 1)"
                                 << "core 3 (socket 1), with CPU 3" << 1 << false;
    QTest::newRow("two dies") << "0-1" << Cpus{{0, 0, 0, 0}, {1, 0, 1, 0}} << QStringList{} << 1
                              << "CPU 1 (core 1, die 1)"
                              << "core 1 (die 1), with CPU 1" << 0 << false;
    QTest::newRow("dies and sockets") << "0,2,5" << Cpus{{0, 3, 0, 0}, {2, 3, 1, 0}, {5, 7, 1, 1}}
                                      << QStringList{} << 5 << "CPU 5 (core 2, die 2, socket 1)"
                                      << "core 2 (die 2, socket 1), with CPU 5" << 2 << false;
    QTest::newRow("one die a socket, no die file")
        << "0-1" << Cpus{{0, 0, -1, 0}, {1, 0, -1, 1}} << QStringList{} << 1
        << "CPU 1 (core 1, socket 1)"
        << "core 1 (socket 1), with CPU 1" << 0 << false;
    // Two dies of six cores numbered 0-5 and 8-13, two threads a core, CPU n beside n + 12.
    Cpus gaps;
    for (int cpu = 0; cpu < 24; ++cpu)
      gaps.append({cpu, cpu % 12 % 6 + cpu % 12 / 6 * 8, cpu % 12 / 6, 0});
    QTest::newRow("two dies, core ids with a gap")
        << "0-23" << gaps << QStringList{} << 21 << "CPU 21 (core 9, die 1)"
        << "core 9 (die 1), with CPUs 9 and 21" << 9 << true;
    // Two performance cores of two threads (core ids 0 and 4), four efficiency cores of one.
    const Cpus hybrid{{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 4, 0, 0},  {3, 4, 0, 0},
                      {4, 8, 0, 0}, {5, 9, 0, 0}, {6, 10, 0, 0}, {7, 11, 0, 0}};
    QTest::newRow("hybrid: an efficiency core")
        << "0-7" << hybrid << QStringList{"0-3", "4-7"} << 5 << "CPU 5 (core 3)"
        << "core 3, efficiency core 1, with CPU 5" << 4 << false;
    QTest::newRow("hybrid: a performance core")
        << "0-7" << hybrid << QStringList{"0-3", "4-7"} << 3 << "CPU 3 (core 1)"
        << "core 1, performance core 1, with CPUs 2 and 3" << 2 << true;
    QTest::newRow("only one kind listed")
        << "0-7" << hybrid << QStringList{"0-7", ""} << 5 << "CPU 5 (core 3)"
        << "core 3, with CPU 5" << 5 << true;
    QTest::newRow("offline: no topology")
        << "0-2" << Cpus{{0, 0, 0, 0}, {1, 1, 0, 0}} << QStringList{} << 2 << "CPU 2"
        << "the core of CPU 2" << 0 << false;
    QTest::newRow("a sibling offline") << "0-3" << Cpus{{0, 0, 0, 0}, {1, 1, 0, 0}, {3, 1, 0, 0}}
                                       << QStringList{} << 0 << "CPU 0 (core 0)"
                                       << "core 0, with CPU 0" << 2 << false;
    QTest::newRow("beyond what the system lists") << "0-1" << smt << QStringList{} << 9 << "CPU 9"
                                                  << "the core of CPU 9" << 9 << true;
    QTest::newRow("no sysfs at all") << "" << Cpus{} << QStringList{} << 0 << "CPU 0"
                                     << "the core of CPU 0" << 1 << false;
    QTest::newRow("the system did not say")
        << "0-3" << smt << QStringList{} << -1 << "a CPU the system did not name"
        << "the core of a CPU the system did not name" << 0 << false;
  }
  void topologyFromSysfs() {
    QFETCH(QString, possible);
    QFETCH(QList<QList<int>>, cpus);
    QFETCH(QStringList, kinds);
    QFETCH(int, asked);
    QFETCH(QString, name);
    QFETCH(QString, core);
    QFETCH(int, other);
    QFETCH(bool, same);
    QTemporaryDir dir;
    const QString root = dir.path() + "/devices/system/cpu";
    if (!possible.isEmpty()) WriteSysfs(root, possible, cpus);
    for (int k = 0; k < kinds.size(); ++k) {
      const QString kind = dir.path() + (k == 0 ? "/devices/cpu_core" : "/devices/cpu_atom");
      QDir().mkpath(kind);
      std::ofstream(QString(kind + "/cpus").toStdString()) << kinds[k].toStdString() << '\n';
    }
    const topology::Description d = topology::FromSysfs(root.toStdString());
    QCOMPARE(QString::fromStdString(topology::Name(d, asked)), name);
    QCOMPARE(QString::fromStdString(topology::CoreName(d, asked)), core);
    QCOMPARE(topology::SameCore(d, asked, other), same);
  }

  // The cores as Windows lists them (package, die, efficiency class, logical processors in the
  // program's numbers), named in the order listed, with the processor groups of a machine of
  // more than 64 logical processors.
  void topologyFromCores_data() {
    QTest::addColumn<QList<QList<int>>>("records");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("core");
    QTest::addColumn<int>("other");
    QTest::addColumn<bool>("same");
    // `count` cores of `threads` each from processor `first`, in one package and die.
    const auto cores = [](QList<QList<int>>& out, int package, int die, int efficiency, int first,
                          int count, int threads) {
      for (int c = 0; c < count; ++c) {
        QList<int> r{package, die, efficiency};
        for (int t = 0; t < threads; ++t) r.append(first + c * threads + t);
        out.append(r);
      }
    };
    QList<QList<int>> groups;  // a socket a group: 32 cores of two threads in each
    cores(groups, 0, 0, 0, 0, 32, 2);
    cores(groups, 1, 0, 0, 64, 32, 2);
    QTest::newRow("two groups of 64")
        << groups << 69 << "logical processor 5 of group 1 (core 34, socket 1)"
        << "core 34 (socket 1), with logical processors 4 and 5 of group 1" << 5 << false;
    QTest::newRow("two groups: the first")
        << groups << 63 << "logical processor 63 of group 0 (core 31, socket 0)"
        << "core 31 (socket 0), with logical processors 62 and 63 of group 0" << 62 << true;
    QList<QList<int>> hybrid;  // eight performance cores of two threads, eight efficiency of one
    cores(hybrid, 0, 0, 1, 0, 8, 2);
    cores(hybrid, 0, 0, 0, 16, 8, 1);
    QTest::newRow("hybrid: an efficiency core")
        << hybrid << 17 << "logical processor 17 (core 9)"
        << "core 9, efficiency core 1, with logical processor 17" << 16 << false;
    QTest::newRow("hybrid: a performance core")
        << hybrid << 11 << "logical processor 11 (core 5)"
        << "core 5, performance core 5, with logical processors 10 and 11" << 10 << true;
    QList<QList<int>> dies;  // two dies of six cores of two threads
    cores(dies, 0, 0, 0, 0, 6, 2);
    cores(dies, 0, 1, 0, 12, 6, 2);
    QTest::newRow("two dies") << dies << 14 << "logical processor 14 (core 7, die 1)"
                              << "core 7 (die 1), with logical processors 14 and 15" << 11 << false;
    QList<QList<int>> sockets;  // two sockets of four cores
    cores(sockets, 0, 0, 0, 0, 4, 1);
    cores(sockets, 1, 1, 0, 4, 4, 1);
    QTest::newRow("two sockets") << sockets << 6 << "logical processor 6 (core 6, socket 1)"
                                 << "core 6 (socket 1), with logical processor 6" << 2 << false;
    QList<QList<int>> four;  // four threads a core, all of one efficiency class
    cores(four, 0, 0, 0, 0, 2, 4);
    QTest::newRow("four threads a core")
        << four << 2 << "logical processor 2 (core 0)"
        << "core 0, with logical processors 0, 1, 2 and 3" << 3 << true;
    QTest::newRow("in no record") << four << 40 << "logical processor 40"
                                  << "the core of logical processor 40" << 0 << false;
  }
  void topologyFromCores() {
    QFETCH(QList<QList<int>>, records);
    QFETCH(int, asked);
    QFETCH(QString, name);
    QFETCH(QString, core);
    QFETCH(int, other);
    QFETCH(bool, same);
    std::vector<topology::CoreRecord> cores;
    for (const QList<int>& r : records)
      cores.push_back({r[0], r[1], r[2], std::vector<int>(r.begin() + 3, r.end())});
    const topology::Description d = topology::FromCores(cores, topology::Words::Windows);
    QCOMPARE(QString::fromStdString(topology::Name(d, asked)), name);
    QCOMPARE(QString::fromStdString(topology::CoreName(d, asked)), core);
    QCOMPARE(topology::SameCore(d, asked, other), same);
  }

  // Windows' processor groups in the program's numbers: group * 64 + the number in the group.
  void processorNumbersAcrossGroups() {
    using affinity::GroupMask;
    QCOMPARE(affinity::Processors({GroupMask{0, 0b1011}}), (std::vector<int>{0, 1, 3}));
    QCOMPARE(affinity::Processors({GroupMask{1, 0b11}, GroupMask{0, 1ull << 63}}),
             (std::vector<int>{63, 64, 65}));
    QCOMPARE(affinity::Processors({GroupMask{0, ~0ull}, GroupMask{1, ~0ull}}).size(), 128u);
    GroupMask one;
    QVERIFY(affinity::InOneGroup({64, 65, 127}, one));
    QCOMPARE(one.group, 1);
    QCOMPARE(one.mask, 0b11ull | 1ull << 63);
    QVERIFY(!affinity::InOneGroup({63, 64}, one));  // a thread is held within one group
    QVERIFY(!affinity::InOneGroup({}, one));
  }

  // This machine's sysfs agrees with what /proc/cpuinfo says of each processor's core and
  // package, where it says so (x86): the cores and packages in order of its identifiers.
  void systemTopologyAgreesWithCpuinfo() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::map<int, std::pair<int, int>> ids;  // processor -> (physical id, core id)
    int processor = -1;
    while (std::getline(cpuinfo, line)) {
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
      const int value = std::atoi(line.c_str() + colon + 1);
      if (key == "processor") processor = value;
      if (key == "physical id") ids[processor].first = value;
      if (key == "core id") ids[processor].second = value;
    }
    const topology::Description d = topology::FromSysfs("/sys/devices/system/cpu");
    if (ids.empty() || ids.begin()->first < 0) QSKIP("/proc/cpuinfo names no cores here");
    if (d.severalDies) QSKIP("cpuinfo does not name dies");
    std::set<int> packages;
    std::set<std::pair<int, int>> cores;
    for (const auto& [cpu, id] : ids) {
      packages.insert(id.first);
      cores.insert(id);
    }
    for (const auto& [cpu, id] : ids) {
      QVERIFY(cpu < int(d.processors.size()));
      const topology::Place& p = d.processors[std::size_t(cpu)];
      QCOMPARE(p.package, int(std::distance(packages.begin(), packages.find(id.first))));
      QCOMPARE(p.core, int(std::distance(cores.begin(), cores.find(id))));
    }
    QCOMPARE(d.hybrid, QFile::exists("/sys/devices/cpu_core/cpus") &&
                           QFile::exists("/sys/devices/cpu_atom/cpus"));
  }

  // The report carries the description the window names processors with.
  void reportCarriesTheTopology() {
    static topology::Description fakeTopology;
    fakeTopology.logical = "CPU";
    fakeTopology.processors = {{0, -1, 0}, {0, -1, 0}, {1, -1, 0}, {1, -1, 0}};
    faults.planned[240] = 1;
    TestWindow w(5, 4, 2);
    w.checking.topology = []() -> const topology::Description& { return fakeTopology; };
    GenerationCycle(w);
    QCOMPARE(w.reports.size(), std::size_t(1));
    QCOMPARE(w.reports.front().topology, &fakeTopology);
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
