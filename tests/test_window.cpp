// The test window in a real Qt application: its layout, how it starts and stops, and the
// lifetime of its widgets. Runs offscreen at ratio 1 and 2, and under Xvfb.
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>
#include <cmath>

#include "services/application.h"
#include "services/widgets.h"
#include "stress/frm_fractal.h"
#include "tests/window_driver.h"

using namespace kelvarion;

namespace {
frmFractal& F() {
  return frmFractal::Instance();
}
QWidget* Child(const char* name) {
  return F().window() ? F().window()->findChild<QWidget*>(QString::fromUtf8(name)) : nullptr;
}
}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
  WindowDriver driver;
  int baseWidgets = 0;

  Status StartTest() {
    driver.Watchdog(F(), 20000);
    F().StopFlag = 0;
    return F().Show();
  }

 private slots:
  void initTestCase() {
    SetUpApplication();
    baseWidgets = LiveWidgetCount();
  }
  void cleanup() {
    driver.Reset();
    F().Unload();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(LiveWidgetCount(), baseWidgets);  // every unload freed its window
  }

  void layout() {
    const qreal r = QGuiApplication::primaryScreen()->devicePixelRatio();
    driver.Soon([&] {
      QWidget* w = F().window();
      QVERIFY(w);
      QCOMPARE(w->windowTitle(), QStringLiteral("Generating Fractals..."));
      QCOMPARE(w->size(), QSize(418, 454));
      QCOMPARE(w->minimumSize(), w->maximumSize());
      QVERIFY(w->windowFlags() & Qt::Tool);
      QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
      QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
      for (const ControlLayout& c : frmFractal::Layout().controls) {
        QWidget* child = Child(c.name);
        QVERIFY2(child, c.name);
        QCOMPARE(child->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      }
      // The canvas interior in device pixels: outer 417 x 337 less 2 on each side.
      float W = 0, H = 0;
      QVERIFY(F().pctGen.InnerWidth(W).ok() && F().pctGen.InnerHeight(H).ok());
      QCOMPARE(W, float(std::lround(417 * r) - 4));
      QCOMPARE(H, float(std::lround(337 * r) - 4));
      if (r == 1) QCOMPARE(QSizeF(W, H), QSizeF(413, 333));
      // The canvas has the focus, Tab goes to Stop and back, Stop is no default button.
      QCOMPARE(QApplication::focusWidget() ? QApplication::focusWidget() : w->focusWidget(),
               Child("pctGen"));
      QWidget* next = Child("pctGen")->nextInFocusChain();
      while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
      QCOMPARE(next, Child("cmdStop"));
      auto* stop = qobject_cast<QPushButton*>(Child("cmdStop"));
      QVERIFY(!stop->isDefault() && !stop->autoDefault());
      QCOMPARE(stop->text(), QStringLiteral("Stop!!"));
      auto* value = qobject_cast<QLabel*>(Child("lblNum"));
      QVERIFY(value->alignment() & Qt::AlignRight);
      QVERIFY(qobject_cast<QLabel*>(Child("Label2"))->alignment() & Qt::AlignLeft);
      // What the cycle has done by its first pump: start time set, nothing counted yet.
      QCOMPARE(CaptionOf(F().lblNum), std::string("0"));
      QCOMPARE(CaptionOf(F().lblType), std::string("Arctangent"));
      QVERIFY(CaptionOf(F().lblWhen) != "$$$");
      QVERIFY(std::isdigit(static_cast<unsigned char>(CaptionOf(F().lblWhen).back())));
    });
    driver.Soon([] { F().Unload(); });
    QVERIFY(!StartTest().ok());  // the load fails: the window was unloaded under it
  }

  // Its frame centred, or at the top-left corner of a screen too small for it, so that the
  // title bar is always on the screen.
  void placement() {
    QElapsedTimer waited;
    waited.start();
    driver.When([&] { return Placed(F().window()) || waited.elapsed() > 5000; },
                [] {
                  QWidget* w = F().window();
                  auto unload = qScopeGuard([] { F().Unload(); });
                  QVERIFY(Placed(w));
                });
    QVERIFY(!StartTest().ok());  // unloaded during its load
  }

  void drawsAndCounts() {
    QImage shown;
    driver.When([] { return CountOf(F().lblNum) >= 4; },
                [&] {
                  auto* canvas = static_cast<PictureBoxWidget*>(Child("pctGen"));
                  // A repaint shows the persistent image one for one (as after being covered).
                  shown = canvas->grab().toImage();
                  const QImage& image = canvas->image();
                  const qreal r = canvas->devicePixelRatioF();
                  const QPoint probe(image.width() / 3, image.height() / 4);
                  QCOMPARE(shown.pixel(probe.x() + 2, probe.y() + 2), image.pixel(probe));
                  QVERIFY(image.pixel(probe) != canvas->palette().color(QPalette::Window).rgb());
                  QCOMPARE(shown.size(), QSize(std::lround(417 * r), std::lround(337 * r)));
                  QTest::mouseClick(Child("cmdStop"), Qt::LeftButton);
                });
    QVERIFY(!StartTest().ok());
    QVERIFY(!shown.isNull());
  }

  void stopAndCloseBoxAgree_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Stop") << false;
    QTest::newRow("close box") << true;
  }
  void stopAndCloseBoxAgree() {
    QFETCH(bool, closeBox);
    QPointer<QWidget> window;
    bool checked = false;
    driver.When([] { return CountOf(F().lblNum) >= 1; },
                [&] {
                  window = F().window();
                  if (closeBox)
                    window->windowHandle()->close();
                  else
                    QTest::mouseClick(Child("cmdStop"), Qt::LeftButton);
                  // Gone at once, while the cycle still runs; the widgets wait for the next pump.
                  QCOMPARE(F().StopFlag, std::int16_t(-1));
                  QVERIFY(!F().IsLoaded());
                  QVERIFY(window && !window->isVisible());
                  float W = 0;
                  QVERIFY(!F().pctGen.InnerWidth(W).ok());
                  QVERIFY(!F().lblNum.SetCaption("9").ok());
                  checked = true;
                });
    QVERIFY(!StartTest().ok());
    QVERIFY(checked);
    QCoreApplication::sendPostedEvents();
    QVERIFY(!window);
    QCOMPARE(F().StopFlag, std::int16_t(-1));  // kept after the unload
  }

  void freshTestAfterStop() {
    long before = -1;
    driver.When([] { return CountOf(F().lblNum) >= 2; },
                [&] {
                  before = CountOf(F().lblNum);
                  F().Unload();
                });
    QVERIFY(!StartTest().ok());
    driver.Reset();
    QCOMPARE(F().StopFlag, std::int16_t(-1));
    bool fresh = false;
    driver.Soon([&] {
      const QImage& image = static_cast<PictureBoxWidget*>(Child("pctGen"))->image();
      // Only the first column can have been drawn: the rest of the canvas is empty again.
      const QRgb empty = Child("pctGen")->palette().color(QPalette::Window).rgb();
      fresh = CaptionOf(F().lblNum) == "0" && image.pixel(image.width() - 1, 0) == empty;
      F().Unload();
    });
    QVERIFY(!StartTest().ok());
    QVERIFY(before >= 2);
    QVERIFY(fresh);
  }

  void showWhileRunningOnlyRaises() {
    long atShow = -1, after = -1;
    driver.When([] { return CountOf(F().lblNum) >= 1; },
                [&] {
                  atShow = CountOf(F().lblNum);
                  QVERIFY(F().Show().ok());  // returns at once: no second cycle
                });
    driver.When([&] { return atShow >= 0 && CountOf(F().lblNum) >= atShow + 2; },
                [&] {
                  after = CountOf(F().lblNum);
                  F().Unload();
                });
    QVERIFY(!StartTest().ok());
    QVERIFY(after >= atShow + 2);
  }

  void secondCycleNestsInsideFirst() {
    std::vector<std::string> events;
    driver.When([] { return CountOf(F().lblNum) >= 1; },
                [&] {
                  QTest::mouseClick(Child("cmdStop"), Qt::LeftButton);
                  // Begin in the same pump: clear the flag and show again; a second cycle runs in
                  // here.
                  driver.When([] { return CountOf(F().lblNum) >= 2; },
                              [&] {
                                events.push_back("inner stop");
                                QTest::mouseClick(Child("cmdStop"), Qt::LeftButton);
                              });
                  F().StopFlag = 0;
                  const Status inner = F().Show();
                  events.push_back(inner.ok() ? "inner ok" : "inner ended");
                });
    const Status outer = StartTest();
    events.push_back(outer.ok() ? "outer ok" : "outer ended");
    QCOMPARE(events, (std::vector<std::string>{"inner stop", "inner ended", "outer ended"}));
    QVERIFY(!F().IsLoaded());
  }

  void stopFlagLeftSetDrawsOneColumn() {
    // Shown without clearing the flag, the cycle draws the first column and ends, with no
    // pump in which a user could act.
    F().StopFlag = -1;
    QVERIFY(!F().Show().ok());
    QVERIFY(!F().IsLoaded());
  }

  void skipsTheTaskbarOnX11() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs X11");
    QString state;
    driver.Soon([&] {
      QProcess xprop;
      xprop.start(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), QString::number(F().window()->winId()),
                   QStringLiteral("_NET_WM_STATE")});
      xprop.waitForFinished(5000);
      state = QString::fromLocal8Bit(xprop.readAllStandardOutput());
      F().Unload();
    });
    (void)StartTest();
    QVERIFY2(state.contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")), qPrintable(state));
  }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
