// Any sequence of user actions: a seeded random walk through the three real windows, with
// tests starting, nesting and stopping under it. KELVARION_SEED replays a walk; a failure
// prints the seed and the actions that led to it.
#include <QPushButton>
#include <QRandomGenerator>
#include <QWindow>
#include <QtTest>
#include <cstdio>
#include <cstdlib>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "services/program.h"
#include "services/qt/application.h"
#include "services/qt/qt.h"
#include "stress/frm_fractal.h"
#include "tests/layouts.h"
#include "tests/window_driver.h"

using namespace kelvarion;

namespace {

frmFractal& Test() {
  return frmFractal::Instance();
}
void Click(Form& form, const char* name) {
  QTest::mouseClick(qt::Child(form, name), Qt::LeftButton);
}
int VisibleTitled(const char* title) {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    n += w->isVisible() && w->windowTitle() == QLatin1String(title);
  return n;
}
int WidgetsOf(const expected::Window& layout) {
  return 1 + static_cast<int>(layout.controls.size());
}

class Walk {
 public:
  Walk(quint32 seed, int steps) : rng_(seed), seed_(seed), left_(steps) {}

  void Run() {
    base_ = LiveWidgetCount();
    Next(0);
    loop_.exec();
  }
  const QString& failure() const { return failure_; }
  QString Report() const {
    return QStringLiteral("seed %1 (replay with KELVARION_SEED=%1); actions: %2")
        .arg(seed_)
        .arg(log_.join(' '));
  }

 private:
  void Next(int ms) {
    QTimer::singleShot(ms, [this] { Step(); });
  }

  void Check(bool ok, const char* what) {
    if (!ok && failure_.isEmpty()) failure_ = QString::fromUtf8(what);
  }

  void CheckState() {
    QCoreApplication::sendPostedEvents();  // frees what was unloaded, as the next pump would
    Check(VisibleTitled("Generating Fractals...") <= 1, "more than one test window");
    Check(VisibleTitled("About Kelvarion") <= 1, "more than one About window");
    Check(Test().IsLoaded() == (running_ > 0 && !stopped_),
          "test window loaded while no test runs, or gone while one does");
    Check(Test().StopFlag == flag_, "StopFlag disagrees with what was done");
    const int expected = base_ + (Test().IsLoaded() ? WidgetsOf(expected::kTest) : 0) +
                         (frmAbout::Instance().IsLoaded() ? WidgetsOf(expected::kAbout) : 0);
    Check(LiveWidgetCount() == expected,
          "live widgets did not return to their base after an unload");
    if (Test().IsLoaded()) {
      const long count = CountOf(Test().lblNum);
      if (sinceBegin_.elapsed() > 400 && count <= countAt400_)
        Check(false, "a running test stopped counting");
      if (sinceBegin_.elapsed() > 400 && countAt400_ < 0) countAt400_ = count;
    }
  }

  // Presses Begin when no test window is loaded: the click runs a whole test, and the walk
  // goes on from timers inside its pumps until it ends.
  void BeginTest() {
    const int mine = ++running_;
    stopped_ = false;
    flag_ = 0;
    sinceBegin_.start();
    countAt400_ = -1;
    Next(0);
    Click(frmMain::Instance(), "cmdBegin");
    Check(running_ == mine, "nested tests did not unwind in order");
    --running_;
    flag_ = -1;
    stopped_ = true;  // an outer test's window is gone too
    log_ << QStringLiteral("(test %1 ended)").arg(mine);
    Check(Test().StopFlag == -1, "StopFlag not set after a test ended");
  }

  void Step() {
    if (!failure_.isEmpty() || left_ <= 0) {
      // Wind down: stop whatever runs; the walk ends when every Begin has returned.
      if (Test().IsLoaded()) Test().Unload();
      frmAbout::Instance().Unload();
      if (running_ == 0)
        loop_.quit();
      else
        Next(1);
      return;
    }
    --left_;
    CheckState();
    const int pick = static_cast<int>(rng_.bounded(100));
    if (pick < 15) {
      log_ << "Begin";
      const bool starts = !Test().IsLoaded();
      if (!starts) {
        Click(frmMain::Instance(), "cmdBegin");
        Check(Test().StopFlag == 0 && Test().IsLoaded(),
              "Begin during a test did not leave it running");
        return Next(0);
      }
      BeginTest();
      return;
    }
    if (pick < 27 && Test().IsLoaded()) {
      log_ << "Stop";
      Click(Test(), "cmdStop");
      stopped_ = true;
      flag_ = -1;
    } else if (pick < 35 && Test().IsLoaded()) {
      log_ << "TestClose";
      qt::Widget(Test())->windowHandle()->close();
      stopped_ = true;
      flag_ = -1;
    } else if (pick < 42 && Test().IsLoaded()) {
      log_ << "Stop+Begin";  // in one pump: a second test nests inside the first
      Click(Test(), "cmdStop");
      BeginTest();
      return;
    } else if (pick < 55) {
      log_ << "About";
      Click(frmMain::Instance(), "cmdAbout");
      Check(frmAbout::Instance().IsLoaded(), "About did not open");
    } else if (pick < 63 && frmAbout::Instance().IsLoaded()) {
      log_ << "OK";
      Click(frmAbout::Instance(), "cmdOK");
      Check(!frmAbout::Instance().IsLoaded(), "OK did not close About");
    } else if (pick < 70 && frmAbout::Instance().IsLoaded()) {
      log_ << "AboutClose";
      qt::Widget(frmAbout::Instance())->windowHandle()->close();
      Check(!frmAbout::Instance().IsLoaded(), "the close box did not close About");
    } else {
      const int ms = static_cast<int>(rng_.bounded(30));
      log_ << QStringLiteral("wait%1").arg(ms);
      return Next(ms);
    }
    Next(0);
  }

  QRandomGenerator rng_;
  quint32 seed_;
  int left_;
  int base_ = 0;
  int running_ = 0;        // Begin clicks on the stack
  bool stopped_ = true;    // the innermost test's window has been closed
  std::int16_t flag_ = 0;  // what StopFlag must read
  QElapsedTimer sinceBegin_;
  long countAt400_ = -1;
  QStringList log_;
  QString failure_;
  QEventLoop loop_;
};

}  // namespace

class RandomTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    SetUpApplication();
    ForbidEndingTheProgram();
    QVERIFY(frmMain::Instance().Show().ok());
  }

  void anySequenceOfActions() {
    const QByteArray given = qgetenv("KELVARION_SEED");
    const quint32 seed = given.isEmpty() ? QRandomGenerator::global()->generate() : given.toUInt();
    std::printf("seed %u\n", seed);
    Walk walk(seed, 3000);
    walk.Run();
    QVERIFY2(walk.failure().isEmpty(),
             qPrintable(walk.failure() + QStringLiteral("; ") + walk.Report()));
    QVERIFY(!Test().IsLoaded() && !frmAbout::Instance().IsLoaded());
  }
};

QTEST_MAIN(RandomTest)
#include "test_random.moc"
