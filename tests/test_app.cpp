// The main and About windows driven as a user would, with tests running underneath.
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>
#include <cstdio>
#include <cstdlib>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "services/application.h"
#include "services/program.h"
#include "stress/frm_fractal.h"
#include "tests/window_driver.h"

using namespace kelvarion;

namespace {

frmFractal& Test() {
  return frmFractal::Instance();
}
QWidget* Child(Form& form, const char* name) {
  return form.window() ? form.window()->findChild<QWidget*>(QString::fromUtf8(name)) : nullptr;
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

  void layouts_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("inner");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QStringList>("tabOrder");
    QTest::newRow("main") << 0 << "Kelvarion 1.0" << QSize(373, 182) << "cmdBegin"
                          << QStringList{"cmdBegin", "cmdAbout", "cmdExit"};
    QTest::newRow("about") << 1 << "About Kelvarion" << QSize(381, 93) << "Picture1"
                           << QStringList{"Picture1", "cmdOK"};
  }
  void layouts() {
    QFETCH(int, which);
    QFETCH(QString, caption);
    QFETCH(QSize, inner);
    QFETCH(QString, focus);
    QFETCH(QStringList, tabOrder);
    if (which == 1) QVERIFY(frmAbout::Instance().Show().ok());
    Form& form = which == 0 ? static_cast<Form&>(frmMain::Instance()) : frmAbout::Instance();
    const FormLayout& layout = which == 0 ? frmMain::Layout() : frmAbout::Layout();
    QWidget* w = form.window();
    QCOMPARE(w->windowTitle(), caption);
    QCOMPARE(w->size(), inner);
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(w->windowFlags() & Qt::Dialog);
    QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(w->testAttribute(Qt::WA_SetWindowIcon), which == 0);  // About has none of its own
    QTRY_VERIFY_WITH_TIMEOUT(Placed(w), 5000);
    for (const ControlLayout& c : layout.controls) {
      QWidget* child = Child(form, c.name);
      QVERIFY2(child, c.name);
      QCOMPARE(child->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      if (auto* b = qobject_cast<QPushButton*>(child)) {
        QVERIFY(!b->isDefault() && !b->autoDefault());
        QVERIFY(!b->text().contains(QLatin1Char('&')));
      }
    }
    QCOMPARE(w->focusWidget(), Child(form, focus.toUtf8().constData()));
    // Tab visits the controls that take the focus in their layout order, then wraps.
    QWidget* at = Child(form, tabOrder.front().toUtf8().constData());
    for (int i = 1; i <= tabOrder.size(); ++i) {
      do at = at->nextInFocusChain();
      while (at->focusPolicy() == Qt::NoFocus);
      QCOMPARE(at->objectName(), tabOrder[i % tabOrder.size()]);
    }
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
    QVERIFY(!frmMain::Instance().window()->windowIcon().isNull());
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
    QCOMPARE(picture.size() + QSize(4, 4), Child(frmAbout::Instance(), "Picture1")->size());
    const QImage shown = Child(frmAbout::Instance(), "Picture1")->grab().toImage();
    // Shown one for one inside the border (at ratio 1; scaled, it may be smoothed).
    const qreal r = shown.devicePixelRatio();
    const QRgb want = picture.pixel(12, 10);
    const QRgb got = shown.pixel(int((2 + 12.5) * r), int((2 + 10.5) * r));
    const int tolerance = r == 1 ? 0 : 24;
    QVERIFY(std::abs(qRed(got) - qRed(want)) <= tolerance &&
            std::abs(qGreen(got) - qGreen(want)) <= tolerance &&
            std::abs(qBlue(got) - qBlue(want)) <= tolerance);
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
    const FormLayout& layout = which == 0   ? frmMain::Layout()
                               : which == 1 ? frmAbout::Layout()
                                            : frmFractal::Layout();
    auto check = [&] {
      for (const ControlLayout& c : layout.controls) {
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
                  QWidget* window = Test().window();
                  Click(frmMain::Instance(), "cmdBegin");  // returns at once
                  QCOMPARE(Test().window(), window);
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
    const std::string before = clock::NowText();
    Click(frmMain::Instance(), "cmdBegin");
    QCOMPARE(count, std::string("0"));
    QVERIFY(when == before || when == clock::NowText());  // the new start time
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
      QWidget* about = frmAbout::Instance().window();
      about->windowHandle()->close();
      QVERIFY(!frmAbout::Instance().IsLoaded());
      QVERIFY(!about->isVisible());
      return;
    }
    driver.When([] { return CountOf(Test().lblNum) >= 1; },
                [] { Test().window()->windowHandle()->close(); });
    driver.Watchdog(Test(), 20000);
    Click(frmMain::Instance(), "cmdBegin");
    QCOMPARE(Test().StopFlag, std::int16_t(-1));
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
