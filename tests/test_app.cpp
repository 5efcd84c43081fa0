// The main and About windows driven as a user would, with tests running underneath.
#include <QFile>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QWindow>
#include <QtTest>
#include <algorithm>
#include <cmath>
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
QWidget* Child(Form& form, const char* name) {
  return qt::Child(form, name);
}
void Click(Form& form, const char* name) {
  QTest::mouseClick(Child(form, name), Qt::LeftButton);
}
int VisibleWindowsTitled(const QString& title) {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    n += w->isVisible() && w->windowTitle() == title;
  return n;
}

// Little-endian fields of a file, read byte by byte.
quint32 U16(const QByteArray& b, quint32 at) {
  return quint8(b.at(int(at))) | quint32(quint8(b.at(int(at) + 1))) << 8;
}
quint32 U32(const QByteArray& b, quint32 at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}

}  // namespace

class AppTest : public QObject {
  Q_OBJECT
  WindowDriver driver;

 private slots:
  void initTestCase() {
    SetUpApplication();
    ForbidEndingTheProgram();
    QVERIFY(frmMain::Instance().Show().ok());
  }
  void cleanup() {
    driver.Reset();
    Test().Unload();
    frmAbout::Instance().Unload();
    QCoreApplication::sendPostedEvents();
    QVERIFY(frmMain::Instance().IsLoaded());  // the main window stays up throughout
  }

  // The control that holds the focus when a window opens shows it: the style's focus mark on
  // the main window's Begin, a dotted frame inside the About picture's border. Seen by
  // comparing each with its own look once the focus has moved on. First of all, while the
  // main window is as it opened.
  void focusShowsAtOpen_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("next");
    QTest::newRow("main") << 0 << "cmdBegin"
                          << "cmdAbout";
    QTest::newRow("about") << 1 << "Picture1"
                           << "cmdOK";
  }
  void focusShowsAtOpen() {
    QFETCH(int, which);
    QFETCH(QString, first);
    QFETCH(QString, next);
    Form& form = which == 0 ? static_cast<Form&>(frmMain::Instance()) : frmAbout::Instance();
    QVERIFY(form.Show().ok());  // the main window is open since the start
    QWidget* w = qt::Widget(form);
    QTRY_VERIFY_WITH_TIMEOUT(w->isActiveWindow(), 5000);
    QWidget* control = Child(form, first.toUtf8().constData());
    QVERIFY(control->hasFocus());
    const QImage focused = control->grab().toImage();
    auto restore = qScopeGuard([&] {  // the main window as it opened, for what follows
      if (which == 0) control->setFocus(Qt::OtherFocusReason);
    });
    Child(form, next.toUtf8().constData())->setFocus(Qt::OtherFocusReason);
    QVERIFY(!control->hasFocus());
    const QImage unfocused = control->grab().toImage();
    QVERIFY2(focused != unfocused, "the focus does not show");
    if (which == 1) {
      // The interior's outermost ring dotted in two tones; the border as it was.
      const QRect interior = QRect(QPoint(0, 0), focused.size()).adjusted(2, 2, -2, -2);
      const QRgb dot = control->palette().color(QPalette::WindowText).rgb();
      const QRgb gap = control->palette().color(QPalette::Base).rgb();
      auto frame = [&](QPoint p) {
        const QPoint d = p - interior.topLeft();
        return (d.x() + d.y()) % 2 == 0 ? dot : gap;
      };
      for (int i = 0; i < 10; ++i) {
        const QPoint top = interior.topLeft() + QPoint(i, 0);
        const QPoint right = interior.bottomRight() - QPoint(0, i);
        QCOMPARE(focused.pixel(top), frame(top));
        QCOMPARE(focused.pixel(right), frame(right));
        QCOMPARE(focused.pixel(interior.left() + i, 1), unfocused.pixel(interior.left() + i, 1));
      }
      QCOMPARE(focused.pixel(interior.center()), unfocused.pixel(interior.center()));
      // A click brings the focus, and its frame, back.
      QTest::mouseClick(control, Qt::LeftButton);
      QVERIFY(control->hasFocus());
      QCOMPARE(control->grab().toImage(), focused);
    }
  }

  void layouts_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QSize>("inner");
    QTest::newRow("main") << 0 << QSize(expected::kMainWidth, expected::kMainHeight);
    QTest::newRow("about") << 1 << QSize(expected::kAboutWidth, expected::kAboutHeight);
  }
  void layouts() {
    QFETCH(int, which);
    QFETCH(QSize, inner);
    if (which == 1) QVERIFY(frmAbout::Instance().Show().ok());
    Form& form = which == 0 ? static_cast<Form&>(frmMain::Instance()) : frmAbout::Instance();
    const expected::Window& layout = which == 0 ? expected::kMain : expected::kAbout;
    QWidget* w = qt::Widget(form);
    QCOMPARE(w->windowTitle(), QString::fromUtf8(layout.caption));
    QCOMPARE(inner, QSize(layout.innerWidth / 15, layout.innerHeight / 15));
    QCOMPARE(w->size(), inner);
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(w->windowFlags() & Qt::Dialog);
    QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(w->testAttribute(Qt::WA_SetWindowIcon), which == 0);  // About has none of its own
    QTRY_VERIFY_WITH_TIMEOUT(Placed(w), 5000);
    for (const expected::Control& c : layout.controls) {
      QWidget* child = Child(form, c.name);
      QVERIFY2(child, c.name);
      QCOMPARE(child->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      if (auto* b = qobject_cast<QPushButton*>(child)) {
        QVERIFY(!b->isDefault() && !b->autoDefault());
        QVERIFY(!b->text().contains(QLatin1Char('&')));
      }
    }
    const QStringList tabOrder = [&] {
      QStringList names;
      for (const char* n : layout.tabOrder) names << QString::fromUtf8(n);
      return names;
    }();
    const QString focus = tabOrder.front();
    QCOMPARE(w->focusWidget(), Child(form, focus.toUtf8().constData()));
    // Tab visits the controls that take the focus in their layout order, then wraps.
    QWidget* at = Child(form, tabOrder.front().toUtf8().constData());
    for (int i = 1; i <= tabOrder.size(); ++i) {
      do at = at->nextInFocusChain();
      while (at->focusPolicy() == Qt::NoFocus);
      QCOMPARE(at->objectName(), tabOrder[i % tabOrder.size()]);
    }
  }

  // The captions are drawn in the face the layouts were fitted for, the one the program
  // carries, whatever the system has: its tables are those of the files in the resources.
  void programFont_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("file");
    QTest::newRow("label") << "lblDescription"
                           << "KelvarionSans-Regular.ttf";
    QTest::newRow("plain button") << "cmdExit"
                                  << "KelvarionSans-Regular.ttf";
    QTest::newRow("bold button") << "cmdBegin"
                                 << "KelvarionSans-Bold.ttf";
  }
  void programFont() {
    QFETCH(QString, control);
    QFETCH(QString, file);
    QFile f(QStringLiteral(":/kelvarion/fonts/") + file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QFont font = Child(frmMain::Instance(), control.toUtf8().constData())->font();
    const QRawFont shown = QRawFont::fromFont(font);
    const QRawFont carried(f.readAll(), shown.pixelSize());
    QVERIFY(shown.isValid() && carried.isValid());
    QCOMPARE(shown.familyName().toLower(), QStringLiteral("kelvarion sans"));
    // "head" holds the file's own checksum and dates; "hmtx" every glyph's advance.
    for (const char* table : {"head", "hmtx", "kern", "glyf"})
      QVERIFY2(shown.fontTable(table) == carried.fontTable(table), table);
    QCOMPARE(shown.pixelSize(), file.contains(QLatin1String("Bold")) ? 11.0 : 10.0);
  }

  void mainContent() {
    auto* description = qobject_cast<QLabel*>(Child(frmMain::Instance(), "lblDescription"));
    QCOMPARE(description->text(),
             QStringLiteral(
                 "Kelvarion is a program that stresses your overclocked CPU by generating fractal "
                 "images.  Unlike other stressing programs, this one just doesn't crunch numbers, "
                 "it actually shows you the generated fractals!  If your computer can survive 12 "
                 "hours of fractal generating, then you can assume that your CPU is stable."));
    QVERIFY(description->wordWrap());
    auto* image = qobject_cast<QLabel*>(Child(frmMain::Instance(), "Image1"));
    QCOMPARE(image->pixmap().deviceIndependentSize(), QSizeF(32, 32));
    QVERIFY(!qt::Widget(frmMain::Instance())->windowIcon().isNull());
    const QFont begin = Child(frmMain::Instance(), "cmdBegin")->font();
    QCOMPARE(begin.family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(begin.pointSizeF(), 8.25);
    QVERIFY(begin.bold() && !begin.italic() && !begin.underline() && !begin.strikeOut());
    QCOMPARE(Child(frmMain::Instance(), "cmdExit")->font(), QApplication::font());
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Kelvarion1"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.00"));
  }

  void aboutContent() {
    Click(frmMain::Instance(), "cmdAbout");
    QCOMPARE(qobject_cast<QLabel*>(Child(frmAbout::Instance(), "Label1"))->text(),
             QStringLiteral("Kelvarion 1.0 by the Kelvarion team"));
    QCOMPARE(qobject_cast<QLabel*>(Child(frmAbout::Instance(), "Label2"))->text(),
             QStringLiteral("kelvarion@example.org"));
    // The picture box is its picture plus the 2-pixel border on every side.
    const QImage picture(QStringLiteral(":/kelvarion/about.bmp"));
    QWidget* box = Child(frmAbout::Instance(), "Picture1");
    QCOMPARE(picture.size() + QSize(4, 4), box->size());
    // Looked at without the focus, whose frame lies over the picture's edge.
    Child(frmAbout::Instance(), "cmdOK")->setFocus();
    const QImage shown = box->grab().toImage();
    // The picture fills the interior inside the 2-device-pixel border at every ratio: one for
    // one at ratio 1, scaled (and so smoothed) at others.
    const qreal r = shown.devicePixelRatio();
    QCOMPARE(shown.size(), QSize(std::lround(108 * r), std::lround(79 * r)));
    const QRect interior = QRect(QPoint(0, 0), shown.size()).adjusted(2, 2, -2, -2);
    const int tolerance = r == 1 ? 0 : 24;
    auto near = [tolerance](QRgb a, QRgb b) {
      return std::abs(qRed(a) - qRed(b)) <= tolerance &&
             std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
             std::abs(qBlue(a) - qBlue(b)) <= tolerance;
    };
    const QRgb background = box->palette().color(QPalette::Window).rgb();
    const QPoint corners[][2] = {
        {interior.topLeft(), {0, 0}},
        {interior.topRight(), {103, 0}},
        {interior.bottomLeft(), {0, 74}},
        {interior.bottomRight(), {103, 74}},
    };
    for (const auto& [at, in] : corners) {
      const QRgb got = shown.pixel(at), want = picture.pixel(in);
      QVERIFY2(near(got, want) && !near(got, background),
               qPrintable(QStringLiteral("interior corner (%1, %2) shows %3, not the picture's %4")
                              .arg(at.x())
                              .arg(at.y())
                              .arg(got, 8, 16)
                              .arg(want, 8, 16)));
    }
    // A point inside, where the picture scaled to the interior puts it.
    const qreal sx = interior.width() / 104.0, sy = interior.height() / 75.0;
    const QRgb got = shown.pixel(int(2 + 12.5 * sx), int(2 + 10.5 * sy));
    QVERIFY(near(got, picture.pixel(12, 10)));
  }

  // Every caption fits its box in the font actually resolved here, wrapped where labels wrap.
  void captionsFit_data() {
    QTest::addColumn<int>("which");
    QTest::newRow("main") << 0;
    QTest::newRow("about") << 1;
    QTest::newRow("test") << 2;
  }
  void captionsFit() {
    QFETCH(int, which);
    Form* form = which == 0   ? static_cast<Form*>(&frmMain::Instance())
                 : which == 1 ? static_cast<Form*>(&frmAbout::Instance())
                              : &Test();
    const expected::Window& layout = which == 0   ? expected::kMain
                                     : which == 1 ? expected::kAbout
                                                  : expected::kTest;
    auto check = [&] {
      for (const expected::Control& c : layout.controls) {
        QWidget* w = Child(*form, c.name);
        const QFontMetrics m(w->font());
        QString text;
        QRect room = w->contentsRect();
        if (auto* l = qobject_cast<QLabel*>(w)) {
          if (!l->pixmap().isNull()) continue;
          text = l->text();
          const QRect need = m.boundingRect(room, Qt::TextWordWrap | l->alignment(), text);
          QVERIFY2(room.contains(need), qPrintable(QStringLiteral("%1 needs %2x%3")
                                                       .arg(c.name)
                                                       .arg(need.width())
                                                       .arg(need.height())));
          // A one-line label must not wrap.
          if (c.height <= 255) QVERIFY2(m.horizontalAdvance(text) <= room.width(), c.name);
        } else if (auto* b = qobject_cast<QPushButton*>(w)) {
          text = b->text();
          QVERIFY2(m.horizontalAdvance(text) + 8 <= room.width() && m.height() + 4 <= room.height(),
                   c.name);
        }
      }
    };
    if (which == 1) QVERIFY(frmAbout::Instance().Show().ok());
    if (which != 2) return check();
    // The test window's captions at their longest: the start time and a long count.
    driver.Soon([&] {
      QVERIFY(Test().lblNum.SetCaption("123456789").ok());
      QVERIFY(Test().lblType.SetCaption("Logarithmic").ok());
      Test().PumpEvents();
      QTest::qWait(30);  // a frame later the captions show
      check();
      Test().Unload();
    });
    Test().StopFlag = 0;
    (void)Test().Show();
  }

  void beginWhileRunningOnlyRaises() {
    std::string when;
    long countAtBegin = -1;
    bool checked = false;
    driver.When([] { return CountOf(Test().lblNum) >= 1; },
                [&] {
                  when = CaptionOf(Test().lblWhen);
                  countAtBegin = CountOf(Test().lblNum);
                  QWidget* window = qt::Widget(Test());
                  Click(frmMain::Instance(), "cmdBegin");  // returns at once
                  QCOMPARE(qt::Widget(Test()), window);
                  QCOMPARE(Test().StopFlag, std::int16_t(0));
                  QCOMPARE(VisibleWindowsTitled(QStringLiteral("Generating Fractals...")), 1);
                  driver.When([&] { return CountOf(Test().lblNum) >= countAtBegin + 2; },
                              [&] {
                                QCOMPARE(CaptionOf(Test().lblWhen),
                                         when);  // same test, same start time
                                checked = true;
                                Click(Test(), "cmdStop");
                              });
                });
    driver.Watchdog(Test(), 20000);
    Click(frmMain::Instance(), "cmdBegin");
    QVERIFY(checked);
    QCOMPARE(Test().StopFlag, std::int16_t(-1));
  }

  void beginAfterTestStartsFresh() {
    driver.When([] { return CountOf(Test().lblNum) >= 2; }, [] { Click(Test(), "cmdStop"); });
    driver.Watchdog(Test(), 20000);
    Click(frmMain::Instance(), "cmdBegin");
    driver.Reset();
    QCOMPARE(Test().StopFlag, std::int16_t(-1));
    std::string count, when;
    driver.Soon([&] {
      count = CaptionOf(Test().lblNum);
      when = CaptionOf(Test().lblWhen);
      Click(Test(), "cmdStop");
    });
    driver.Watchdog(Test(), 20000);
    const QDateTime before = QDateTime::currentDateTime();
    Click(frmMain::Instance(), "cmdBegin");
    QCOMPARE(count, std::string("0"));
    QVERIFY2(ShowsTimeBetween(when, before, QDateTime::currentDateTime()), when.c_str());
  }

  void stopThenBeginInOnePumpNests() {
    std::vector<std::string> log;
    driver.When([] { return CountOf(Test().lblNum) >= 1; },
                [&] {
                  Click(Test(), "cmdStop");
                  driver.When([] { return CountOf(Test().lblNum) >= 1; },
                              [&] {
                                log.push_back("second running");
                                Click(Test(), "cmdStop");
                              });
                  Click(frmMain::Instance(), "cmdBegin");  // the second test runs inside this click
                  log.push_back("second ended");
                });
    driver.Watchdog(Test(), 20000);
    Click(frmMain::Instance(), "cmdBegin");
    log.push_back("first ended");
    QCOMPARE(log, (std::vector<std::string>{"second running", "second ended", "first ended"}));
    QVERIFY(!Test().IsLoaded());
  }

  void aboutDuringTestKeepsDrawing() {
    long atAbout = -1;
    bool done = false;
    driver.When([] { return CountOf(Test().lblNum) >= 1; },
                [&] {
                  Click(frmMain::Instance(), "cmdAbout");
                  Click(frmMain::Instance(), "cmdAbout");  // one About window, brought to the front
                  QCOMPARE(VisibleWindowsTitled(QStringLiteral("About Kelvarion")), 1);
                  atAbout = CountOf(Test().lblNum);
                  driver.When([&] { return CountOf(Test().lblNum) >= atAbout + 2; },
                              [&] {
                                Click(frmAbout::Instance(), "cmdOK");
                                QVERIFY(!frmAbout::Instance().IsLoaded());
                                QVERIFY(Test().IsLoaded());
                                done = true;
                                Click(Test(), "cmdStop");
                              });
                });
    driver.Watchdog(Test(), 20000);
    Click(frmMain::Instance(), "cmdAbout");
    frmAbout::Instance().Unload();
    Click(frmMain::Instance(), "cmdBegin");
    QVERIFY(done);
  }

  void closeBoxesKeepTheProgram_data() {
    QTest::addColumn<bool>("test");
    QTest::newRow("about") << false;
    QTest::newRow("test window") << true;
  }
  void closeBoxesKeepTheProgram() {
    QFETCH(bool, test);
    if (!test) {
      Click(frmMain::Instance(), "cmdAbout");
      QWidget* about = qt::Widget(frmAbout::Instance());
      about->windowHandle()->close();
      QVERIFY(!frmAbout::Instance().IsLoaded());
      QVERIFY(!about->isVisible());
      return;
    }
    // Read at the close itself: the watchdog would unload the window later anyway.
    bool closed = false;
    driver.When([] { return CountOf(Test().lblNum) >= 1; },
                [&closed] {
                  QWidget* window = qt::Widget(Test());
                  window->windowHandle()->close();
                  closed = !Test().IsLoaded() && !window->isVisible() && Test().StopFlag == -1;
                });
    driver.Watchdog(Test(), 20000);
    Click(frmMain::Instance(), "cmdBegin");
    QVERIFY2(closed, "the test window's close box did not unload it");
    QCOMPARE(Test().StopFlag, std::int16_t(-1));
  }

  // Enter (either key) and Space press the focused button and no other; Esc is bound to
  // nothing. Each window's buttons in turn: About... opens About, OK closes it, Begin runs a
  // test that Stop!! ends.
  void keyboard_data() { KeyRows("presses"); }
  void keyboard() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, presses);
    auto type = [&](Form& form, const char* name) {
      QWidget* w = Child(form, name);
      w->setFocus();
      QTest::keyClick(w, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    };
    type(frmMain::Instance(), "cmdAbout");
    QCOMPARE(frmAbout::Instance().IsLoaded(), presses);
    QVERIFY(!Test().IsLoaded());  // and not Begin
    if (!presses) QVERIFY(frmAbout::Instance().Show().ok());
    type(frmAbout::Instance(), "Picture1");
    QVERIFY(frmAbout::Instance().IsLoaded());  // a picture has nothing to press
    type(frmAbout::Instance(), "cmdOK");
    QCOMPARE(!frmAbout::Instance().IsLoaded(), presses);

    bool ran = false, stopped = false;
    driver.Soon([&] {
      ran = Test().IsLoaded();
      type(Test(), "cmdStop");
      stopped = !Test().IsLoaded();
      Test().Unload();
    });
    driver.Watchdog(Test(), 20000);
    type(frmMain::Instance(), "cmdBegin");  // runs the whole test when it presses
    QCOMPARE(ran, presses);
    QCOMPARE(stopped, presses);
  }

  // Under X11 only the main window carries the program's icon; About has none of its own,
  // whatever icon theme the desktop has (KELVARION_ICON_THEME: the one the run must have).
  void iconsOnX11() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs X11");
    if (qEnvironmentVariableIsSet("KELVARION_ICON_THEME"))
      QCOMPARE(QIcon::themeName(), qEnvironmentVariable("KELVARION_ICON_THEME"));
    const std::vector<quint32> none = IconOfAWindowWithNone();
    QVERIFY(frmAbout::Instance().Show().ok());
    QWidget* about = qt::Widget(frmAbout::Instance());
    // Polled: a window manager puts its default on when it takes the window in.
    QTRY_VERIFY_WITH_TIMEOUT(NetWmIcon(about->winId()) == none, 5000);
    // The main window's: the program icon's 32 x 32 and 16 x 16 images.
    const std::vector<quint32> icon = NetWmIcon(qt::Widget(frmMain::Instance())->winId());
    QVERIFY(icon != none);
    const QImage want = QIcon(QStringLiteral(":/kelvarion/kelvarion.ico"))
                            .pixmap(QSize(32, 32))
                            .toImage()
                            .convertToFormat(QImage::Format_ARGB32);
    QList<int> sizes;
    for (std::size_t i = 0; i + 2 <= icon.size();) {
      const quint32 width = icon[i], height = icon[i + 1];
      QCOMPARE(width, height);
      QVERIFY(i + 2 + width * height <= icon.size());
      sizes.append(int(width));
      if (width == 32) {
        for (int y = 0; y < 32; ++y)
          for (int x = 0; x < 32; ++x) {
            const QRgb got = icon[i + 2 + std::size_t(y) * 32 + x], w = want.pixel(x, y);
            QCOMPARE(qAlpha(got), qAlpha(w));
            if (qAlpha(w) == 255) QCOMPARE(got, w);
          }
      }
      i += 2 + std::size_t(width) * height;
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, (QList<int>{16, 32}));
  }

  void iconFile() {
    QFile f(QStringLiteral(":/kelvarion/kelvarion.ico"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray ico = f.readAll();
    QCOMPARE(U16(ico, 0), quint32(0));
    QCOMPARE(U16(ico, 2), quint32(1));  // an icon
    QCOMPARE(U16(ico, 4), quint32(2));  // two images
    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
      const int entry = 6 + 16 * i, n = sizes[i];
      QCOMPARE(int(quint8(ico[entry])), n);
      QCOMPARE(int(quint8(ico[entry + 1])), n);
      QCOMPARE(int(quint8(ico[entry + 2])), 16);  // colours
      QCOMPARE(U16(ico, entry + 6), quint32(4));  // bits a pixel
      const quint32 bytes = U32(ico, entry + 8), at = U32(ico, entry + 12);
      QCOMPARE(U32(ico, at), quint32(40));  // BITMAPINFOHEADER
      QCOMPARE(U32(ico, at + 4), quint32(n));
      QCOMPARE(U32(ico, at + 8), quint32(2 * n));  // image and mask
      QCOMPARE(U16(ico, at + 14), quint32(4));
      QCOMPARE(U32(ico, at + 16), quint32(0));  // uncompressed
      const quint32 xorBytes = ((n * 4 + 31) / 32) * 4 * n, andBytes = ((n + 31) / 32) * 4 * n;
      QCOMPARE(bytes, 40 + 16 * 4 + xorBytes + andBytes);
      // The mask makes the corners transparent and the centre opaque.
      const QByteArray mask = ico.mid(int(at + 40 + 64 + xorBytes), int(andBytes));
      QVERIFY(quint8(mask[0]) & 0x80);
      QVERIFY(!(quint8(mask[(n / 2) * ((n + 31) / 32) * 4 + n / 16]) & (0x80 >> ((n / 2) % 8))));
    }
  }

  void aboutPictureFile() {
    QFile f(QStringLiteral(":/kelvarion/about.bmp"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bmp = f.readAll();
    QCOMPARE(bmp.left(2), QByteArray("BM"));
    QCOMPARE(U32(bmp, 2), quint32(bmp.size()));
    QCOMPARE(U32(bmp, 14), quint32(40));
    QCOMPARE(U32(bmp, 18), quint32(104));
    QCOMPARE(U32(bmp, 22), quint32(75));
    QCOMPARE(U16(bmp, 28), quint32(24));
    QCOMPARE(U32(bmp, 30), quint32(0));     // BI_RGB: uncompressed
    QCOMPARE(U32(bmp, 38), quint32(3780));  // 96 dots an inch, in dots a metre
    QCOMPARE(U32(bmp, 42), quint32(3780));
    QCOMPARE(bmp.size(), 54 + 104 * 3 * 75);
  }
};

QTEST_MAIN(AppTest)
#include "test_app.moc"
