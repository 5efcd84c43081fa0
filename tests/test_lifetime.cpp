// The real program as a user runs it, under X11: started as its own process, driven with
// xdotool, and ended with Exit or the main window's close box from every state it can be in.
// Each end must be prompt (within 100 ms), silent, and with exit status 0.
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include "tests/program_driver.h"

class LifetimeTest : public QObject {
  Q_OBJECT
 private slots:
  void noDisplayGetsAClearAnswer_data() {
    QTest::addColumn<QString>("display");
    QTest::newRow("no DISPLAY") << QString();
    QTest::newRow("a display that is not there") << QStringLiteral(":987");
  }
  void noDisplayGetsAClearAnswer() {
    QFETCH(QString, display);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (display.isEmpty())
      env.remove(QStringLiteral("DISPLAY"));
    else
      env.insert(QStringLiteral("DISPLAY"), display);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KELVARION_EXE), {});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QByteArray message = program.readAllStandardError();
    QCOMPARE(message.count('\n'), 1);
    QVERIFY2(
        message.contains("display") && (display.isEmpty() || message.contains(display.toUtf8())),
        message.constData());
  }

  void init() {
    if (QByteArray(QTest::currentTestFunction()).startsWith("noDisplay")) return;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
      QSKIP("needs an X display (run under tests/run-x11.sh)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) QSKIP("needs xdotool");
  }

  void endsAtOnce_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("closeBox");
    for (const char* state : {"idle", "test", "nested", "about", "about and test"}) {
      QTest::newRow(qPrintable(QStringLiteral("%1, Exit").arg(state)))
          << QString::fromUtf8(state) << false;
      QTest::newRow(qPrintable(QStringLiteral("%1, close box").arg(state)))
          << QString::fromUtf8(state) << true;
    }
  }
  void endsAtOnce() {
    QFETCH(QString, state);
    QFETCH(bool, closeBox);
    Program program;
    QVERIFY(program.waitForStarted());
    const QString main = FindWindow(program.processId(), QStringLiteral("Kelvarion 1.0"));
    QVERIFY2(
        !main.isEmpty(),
        qPrintable(QStringLiteral("the main window did not appear (state %1, exit %2, stderr: %3)")
                       .arg(program.state())
                       .arg(program.exitCode())
                       .arg(QString::fromLocal8Bit(program.readAllStandardError()))));

    if (state.contains(QLatin1String("about"))) {
      QVERIFY(Xdotool(About(main)));
      const QString about = FindWindow(program.processId(), QStringLiteral("About Kelvarion"));
      QVERIFY(!about.isEmpty());
      // Centred, it lies over the main window's buttons: move it aside, as a user would.
      QVERIFY(Xdotool({"windowmove", "--sync", about, "0", "0"}));
      QTest::qWait(200);
    }
    if (state.contains(QLatin1String("test")) || state == QLatin1String("nested")) {
      QVERIFY(Xdotool(Begin(main)));
      const QString test =
          FindWindow(program.processId(), QStringLiteral("Generating Fractals..."));
      QVERIFY(!test.isEmpty());
      QVERIFY(Xdotool({"windowmove", "--sync", test, "800", "0"}));
      QTest::qWait(200);
      if (state == QLatin1String("nested")) {
        // Stop and Begin in one go: the second test runs inside the first one's pump.
        QVERIFY(Xdotool(Stop(test) + Begin(main)));
        QTest::qWait(200);
        const QString second =
            FindWindow(program.processId(), QStringLiteral("Generating Fractals..."));
        QVERIFY(!second.isEmpty() && second != test);
        QVERIFY(Xdotool({"windowmove", "--sync", second, "800", "0"}));
        QTest::qWait(200);
      }
      QTest::qWait(300);  // let it draw
    }
    QVERIFY(program.state() == QProcess::Running);

    QElapsedTimer sinceAction;
    if (closeBox) {
      QVERIFY(SendClose(main));
    } else {
      QVERIFY(Xdotool(Exit(main)));
    }
    sinceAction.start();
    QVERIFY(program.waitForFinished(5000));
    const qint64 ms = sinceAction.elapsed();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(ms <= 100, qPrintable(QStringLiteral("ended %1 ms after the action").arg(ms)));
    QCOMPARE(program.readAllStandardError(), QByteArray());
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
  }

  // The display the program runs on goes away: it must end at once, not hang or spin.
  void displayLostEndsIt_data() {
    QTest::addColumn<bool>("testing");
    QTest::newRow("idle") << false;
    QTest::newRow("during a test") << true;
  }
  void displayLostEndsIt() {
    QFETCH(bool, testing);
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) QSKIP("needs Xvfb");
    QProcess server;  // a display of its own, to be taken away
    server.start(QStringLiteral("Xvfb"),
                 {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QVERIFY(server.waitForReadyRead(10000));
    const QByteArray display = ":" + server.readAllStandardOutput().trimmed();
    const QByteArray ours = qgetenv("DISPLAY");
    qputenv("DISPLAY", display);  // for the program and for xdotool
    auto restore = qScopeGuard([&] { qputenv("DISPLAY", ours); });
    Program program;
    const QString main = FindWindow(program.processId(), QStringLiteral("Kelvarion 1.0"));
    QVERIFY(!main.isEmpty());
    if (testing) {
      QVERIFY(Xdotool(Begin(main)));
      QVERIFY(!FindWindow(program.processId(), QStringLiteral("Generating Fractals...")).isEmpty());
      QTest::qWait(300);
    }
    QElapsedTimer sinceLost;
    server.kill();
    sinceLost.start();
    QVERIFY(server.waitForFinished(5000));
    QVERIFY(program.waitForFinished(5000));
    const qint64 ms = sinceLost.elapsed();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY2(ms <= 500, qPrintable(QStringLiteral("ended %1 ms after the display").arg(ms)));
    const QByteArray message = program.readAllStandardError();
    QVERIFY2(message.contains("X11 connection broke"), message.constData());
  }

  void otherWindowsNeverEndIt() {
    Program program;
    const QString main = FindWindow(program.processId(), QStringLiteral("Kelvarion 1.0"));
    QVERIFY(!main.isEmpty());
    QVERIFY(Xdotool(Begin(main)));
    const QString test = FindWindow(program.processId(), QStringLiteral("Generating Fractals..."));
    QVERIFY(!test.isEmpty());
    QVERIFY(SendClose(test));
    QTest::qWait(100);
    QVERIFY(Xdotool(About(main)));
    const QString about = FindWindow(program.processId(), QStringLiteral("About Kelvarion"));
    QVERIFY(!about.isEmpty());
    QVERIFY(SendClose(about));
    QTest::qWait(300);
    QVERIFY(program.state() == QProcess::Running);
    QVERIFY(
        FindWindow(program.processId(), QStringLiteral("Generating Fractals..."), 200).isEmpty());
    QVERIFY(FindWindow(program.processId(), QStringLiteral("About Kelvarion"), 200).isEmpty());
    QVERIFY(Xdotool(Exit(main)));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
  }
};

QTEST_GUILESS_MAIN(LifetimeTest)
#include "test_lifetime.moc"
