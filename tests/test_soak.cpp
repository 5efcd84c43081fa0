// Many passes of the real test window without growth: resident memory stays within 1 MiB of
// its level after warm-up, and the count is exact from pass to pass.
#include <QtTest>
#include <fstream>

#include "services/qt/application.h"
#include "services/qt/qt.h"
#include "stress/frm_fractal.h"
#include "tests/window_driver.h"

using namespace kelvarion;

namespace {

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = -1;
  while (status >> key) {
    if (key == "VmRSS:") return (status >> value, value);
    status.ignore(1 << 10, '\n');
  }
  return value;
}

struct Counting {
  long last = 0, passes = 0, stopAfter = 0;
  bool exact = true;
  long rssAfterWarmUp = 0, maxGrowthKiB = 0;
  int warmUpPasses = 0;
} counting;

// Every count is one more than the one before; at each pass's end the memory is sampled.
void OnCaption(const Label& label, std::string_view text) {
  frmFractal& f = frmFractal::Instance();
  if (&label != &f.lblNum) return;
  const long n = std::stol(std::string(text));
  counting.exact = counting.exact && n == counting.last + 1;
  counting.last = n;
  if (n % 237 != 0) return;
  ++counting.passes;
  if (counting.passes == counting.warmUpPasses) counting.rssAfterWarmUp = RssKiB();
  if (counting.passes > counting.warmUpPasses)
    counting.maxGrowthKiB = std::max(counting.maxGrowthKiB, RssKiB() - counting.rssAfterWarmUp);
  if (counting.passes == counting.stopAfter) f.Unload();
}

}  // namespace

class SoakTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    SetUpApplication();
    SetCaptionObserver(&OnCaption);
  }

  void passesDoNotGrow_data() {
    QTest::addColumn<int>("canvas");  // outer size in pixels, 0 for the layout's
    QTest::addColumn<int>("warmUp");
    QTest::addColumn<int>("passes");
    QTest::newRow("small canvas") << 12 << 20 << 400;
    QTest::newRow("full size") << 0 << 1 << 4;
  }
  void passesDoNotGrow() {
    QFETCH(int, canvas);
    QFETCH(int, warmUp);
    QFETCH(int, passes);
    counting = Counting{};
    counting.warmUpPasses = warmUp;
    counting.stopAfter = passes;
    WindowDriver driver;
    if (canvas > 0)  // the canvas reads its size from the live control, image by image
      driver.Soon(
          [canvas] { qt::Child(frmFractal::Instance(), "pctGen")->resize(canvas, canvas); });
    frmFractal::Instance().StopFlag = 0;
    (void)frmFractal::Instance().Show();
    QCOMPARE(counting.passes, long(passes));
    QVERIFY(counting.exact);
    QCOMPARE(counting.last, 237L * passes);
#ifdef __SANITIZE_ADDRESS__
    QSKIP("AddressSanitizer's quarantine holds freed memory: resident size says nothing here");
#endif
    QVERIFY2(
        counting.maxGrowthKiB <= 1024,
        qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(counting.maxGrowthKiB)));
  }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
