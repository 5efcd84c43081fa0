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

#include "services/qt/application.h"
#include "services/qt/qt.h"
#include "services/qt/widgets.h"
#include "stress/frm_fractal.h"
#include "tests/layouts.h"
#include "tests/window_driver.h"

using namespace kelvarion;

namespace {
frmFractal& F() {
  return frmFractal::Instance();
}
// The canvas interior in device pixels at ratio r: the outer size less 2 on each side.
QSize Interior(qreal r) {
  return QSize(int(std::lround(expected::kCanvasOuterWidth * r)) - 4,
               int(std::lround(expected::kCanvasOuterHeight * r)) - 4);
}
QWidget* Child(const char* name) {
  return qt::Child(F(), name);
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
    const QDateTime started = QDateTime::currentDateTime();
    driver.Soon([&] {
      QWidget* w = qt::Widget(F());
      QVERIFY(w);
      QCOMPARE(w->windowTitle(), QString::fromUtf8(expected::kTest.caption));
      QCOMPARE(w->size(), QSize(expected::kTestWidth, expected::kTestHeight));
      QCOMPARE(w->minimumSize(), w->maximumSize());
      QVERIFY(w->windowFlags() & Qt::Tool);
      QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
      QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
      for (const expected::Control& c : expected::kTest.controls) {
        QWidget* child = Child(c.name);
        QVERIFY2(child, c.name);
        QCOMPARE(child->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      }
      float W = 0, H = 0;
      QVERIFY(F().pctGen.InnerWidth(W).ok() && F().pctGen.InnerHeight(H).ok());
      QCOMPARE(QSizeF(W, H), QSizeF(Interior(r)));
      if (r == 1) QCOMPARE(QSizeF(W, H), QSizeF(expected::kCanvasWidth, expected::kCanvasHeight));
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
      QVERIFY2(ShowsTimeBetween(CaptionOf(F().lblWhen), started, QDateTime::currentDateTime()),
               CaptionOf(F().lblWhen).c_str());
    });
    driver.Soon([] { F().Unload(); });
    QVERIFY(!StartTest().ok());  // the load fails: the window was unloaded under it
  }

  // Its frame centred, or at the top-left corner of a screen too small for it, so that the
  // title bar is always on the screen.
  void placement() {
    QElapsedTimer waited;
    waited.start();
    driver.When([&] { return Placed(qt::Widget(F())) || waited.elapsed() > 5000; },
                [] {
                  QWidget* w = qt::Widget(F());
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
                  QCOMPARE(shown.size(), Interior(r) + QSize(4, 4));
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
                  window = qt::Widget(F());
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
    // Shown without clearing the flag, the cycle draws the first column and ends, with no pump
    // in which a user could act beyond the three before that column. The canvas is caught when
    // the cycle sets the start time; the unloaded window is freed only at the next pump.
    static QPointer<PictureBoxWidget> canvas;
    SetCaptionObserver([](const Label& label, std::string_view) {
      if (&label == &F().lblWhen) canvas = static_cast<PictureBoxWidget*>(Child("pctGen"));
    });
    auto observer = qScopeGuard([] { SetCaptionObserver(nullptr); });
    driver.Watchdog(F(), 5000);  // a cycle that does not stop is unloaded, and fails below
    const std::uint64_t pumpsBefore = Stats().pumps;
    F().StopFlag = -1;
    QVERIFY(!F().Show().ok());
    QVERIFY(!F().IsLoaded());
    QCOMPARE(Stats().pumps - pumpsBefore, std::uint64_t(3));  // after the show, order, kind
    QVERIFY(canvas);
    const QImage& image = canvas->image();
    const QRgb empty = canvas->palette().color(QPalette::Window).rgb();
    QCOMPARE(image.size(), Interior(canvas->devicePixelRatioF()));
    for (int y = 0; y < image.height(); ++y) {
      QVERIFY(image.pixel(0, y) != empty);  // Arctangent of order 2 draws every point
      QCOMPARE(image.pixel(1, y), empty);
    }
  }

  // Enter (either key) or Space on Stop ends the test as a click does; Esc, on the canvas or
  // on Stop, is bound to nothing and the test goes on.
  void keyboard_data() { KeyRows("stops"); }
  void keyboard() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, stops);
    long atKey = -1;
    bool stoppedAtOnce = false, wentOn = false;
    driver.When([] { return CountOf(F().lblNum) >= 1; },
                [&] {
                  atKey = CountOf(F().lblNum);
                  QTest::keyClick(Child("pctGen"), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
                  QVERIFY(F().IsLoaded());  // nothing on the canvas to press
                  QWidget* stop = Child("cmdStop");
                  stop->setFocus();
                  QTest::keyClick(stop, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
                  stoppedAtOnce = !F().IsLoaded();
                });
    driver.When([&] { return atKey >= 0 && CountOf(F().lblNum) >= atKey + 2; },
                [&] {
                  wentOn = true;
                  F().Unload();
                });
    QVERIFY(!StartTest().ok());
    QCOMPARE(stoppedAtOnce, stops);
    QCOMPARE(wentOn, !stops);
  }

  // The canvas, which holds the focus when the window opens, shows it with a dotted frame just
  // inside its border, on the screen only: the image and the interior's size stay as they are.
  void canvasShowsItsFocus() {
    bool checked = false;
    driver.Soon([&] {
      auto unload = qScopeGuard([] { F().Unload(); });
      auto* canvas = static_cast<PictureBoxWidget*>(Child("pctGen"));
      QTRY_VERIFY_WITH_TIMEOUT(canvas->window()->isActiveWindow(), 5000);
      QVERIFY(canvas->hasFocus());
      float W = 0, H = 0;
      QVERIFY(F().pctGen.InnerWidth(W).ok() && F().pctGen.InnerHeight(H).ok());
      const QImage image = canvas->image().copy();
      const QImage focused = canvas->grab().toImage();
      Child("cmdStop")->setFocus(Qt::OtherFocusReason);
      const QImage unfocused = canvas->grab().toImage();
      QCOMPARE(canvas->image(), image);
      float W2 = 0, H2 = 0;
      QVERIFY(F().pctGen.InnerWidth(W2).ok() && F().pctGen.InnerHeight(H2).ok());
      QCOMPARE(QSizeF(W2, H2), QSizeF(W, H));
      // Unfocused, the interior is the image one for one; focused, its outermost ring is
      // dotted in two tones, and nothing else changes.
      const QPoint origin(2, 2);
      const int w = image.width(), h = image.height();
      for (const QPoint p : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1),
                             QPoint(w / 2, h / 2)})
        QCOMPARE(unfocused.pixel(origin + p), image.pixel(p));
      const QRgb dot = canvas->palette().color(QPalette::WindowText).rgb();
      const QRgb gap = canvas->palette().color(QPalette::Base).rgb();
      QList<QPoint> wrong;  // ring pixels that are not the frame's
      auto ring = [&](int x, int y) {
        if (focused.pixel(origin + QPoint(x, y)) != ((x + y) % 2 == 0 ? dot : gap))
          wrong.append(QPoint(x, y));
      };
      for (int x = 0; x < w; ++x) {
        ring(x, 0);
        ring(x, h - 1);
      }
      for (int y = 0; y < h; ++y) {
        ring(0, y);
        ring(w - 1, y);
      }
      QCOMPARE(wrong, QList<QPoint>());
      for (const QPoint p : {QPoint(1, 1), QPoint(w - 2, h - 2), QPoint(w / 2, h / 2)})
        QCOMPARE(focused.pixel(origin + p), unfocused.pixel(origin + p));
      QCOMPARE(focused.pixel(0, 0), unfocused.pixel(0, 0));  // the border
      checked = true;
    });
    QVERIFY(!StartTest().ok());
    QVERIFY(checked);
  }

  // Under X11 the test window has no icon of its own.
  void noIconOnX11() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs X11");
    const std::vector<quint32> none = IconOfAWindowWithNone();
    bool same = false;
    driver.Soon([&] {
      QWidget* w = qt::Widget(F());
      // Polled: a window manager puts its default on when it takes the window in.
      QElapsedTimer waited;
      waited.start();
      while (!(same = NetWmIcon(w->winId()) == none) && waited.elapsed() < 5000) QTest::qWait(50);
      F().Unload();
    });
    (void)StartTest();
    QVERIFY(same);
  }

  void skipsTheTaskbarOnX11() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs X11");
    QString state;
    driver.Soon([&] {
      QProcess xprop;
      xprop.start(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), QString::number(qt::Widget(F())->winId()),
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
