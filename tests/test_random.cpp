// Any sequence of user actions through the Qt windows: the random walk (random_walk.h) with
// Qt's hands. KELVARION_SEED replays a walk.
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <cstdio>

#include "services/program.h"
#include "services/qt/application.h"
#include "services/qt/qt.h"
#include "tests/random_walk.h"
#include "tests/window_driver.h"

using namespace kelvarion;

namespace {

class QtHands {
 public:
  void After(int ms) {
    QTimer::singleShot(ms, [this] { walk->Step(); });
  }
  void Click(Form& form, const char* name) {
    QTest::mouseClick(qt::Child(form, name), Qt::LeftButton);
  }
  void CloseBox(Form& form) { qt::Widget(form)->windowHandle()->close(); }
  int VisibleTitled(const char* title) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      n += w->isVisible() && w->windowTitle() == QLatin1String(title);
    return n;
  }
  void Done() { loop.quit(); }

  walk::Walk<QtHands>* walk = nullptr;
  QEventLoop loop;
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
    QtHands hands;
    walk::Walk<QtHands> walk(hands, seed, 3000);
    hands.walk = &walk;
    walk.Start();
    hands.loop.exec();
    QVERIFY2(walk.failure().empty(), (walk.failure() + "; " + walk.Report()).c_str());
    // The count was seen rising in the running tests (about one action in seven begins one).
    QVERIFY2(walk.countChecks() > 0, walk.Report().c_str());
    QVERIFY(!frmFractal::Instance().IsLoaded() && !frmAbout::Instance().IsLoaded());
  }
};

QTEST_MAIN(RandomTest)
#include "test_random.moc"
