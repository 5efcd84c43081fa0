// The real program as a user runs it, under X11: started as its own process, driven with
// xdotool, and ended with Exit or the main window's close box from every state it can be in.
// Each end must be prompt (within 100 ms), silent, and with exit status 0.
// KELVARION_COMMAND, when set, is the command line that starts the program instead of the Linux
// build (the Windows build under Wine: "wine build-windows/Kelvarion1.exe").
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <cstring>

namespace {

// Runs xdotool; true if it succeeded. `out` receives what it printed.
bool Xdotool(const QStringList& args, QString* out = nullptr) {
  QProcess p;
  p.start(QStringLiteral("xdotool"), args);
  if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return false;
  if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
  return true;
}

QStringList ProgramCommand() {
  const QString command = qEnvironmentVariable("KELVARION_COMMAND");
  return command.isEmpty() ? QStringList{QStringLiteral(KELVARION_EXE)}
                           : QProcess::splitCommand(command);
}
bool LinuxProgram() {
  return qEnvironmentVariableIsEmpty("KELVARION_COMMAND");
}

// The program as a child process, killed if a check fails before it ends.
struct Program : QProcess {
  QTemporaryDir runtime;
  Program() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    setProcessEnvironment(env);
    start(ProgramCommand().first(), ProgramCommand().mid(1));
  }
  ~Program() override {
    if (state() != NotRunning) {
      kill();
      waitForFinished(2000);
    }
  }
};

// A visible window of process `pid` with exactly this title.
// (Wine starts a Windows program as a process of its own, not as the one it was given: there
// the program is the only one on the display, and its windows are found by title alone.)
QString FindWindow(qint64 pid, const QString& title, int timeoutMs = 30000) {
  QElapsedTimer t;
  t.start();
  QStringList pidArgs;
  if (LinuxProgram()) pidArgs = QStringList{"--pid", QString::number(pid)};
  while (t.elapsed() < timeoutMs) {
    QString ids;
    if (Xdotool(QStringList{"search", "--all", "--onlyvisible"} + pidArgs +
                    QStringList{"--name", "^" + QRegularExpression::escape(title) + "$"},
                &ids) &&
        !ids.isEmpty()) {
      QTest::qWait(100);  // mapped is not yet settled: no user is faster than this
      return ids.split(QLatin1Char('\n')).last();
    }
    QTest::qWait(20);
  }
  return QString();
}

bool WindowManagerRuns() {
  QProcess p;
  p.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
  p.waitForFinished(5000);
  return p.readAllStandardOutput().contains("window id");
}

// Clicks at a point given in twips from the top-left corner of a window's inner area. With a
// window manager the window is activated first, as a user's click on it would: openbox takes
// the press that focuses a window for itself now and then.
QStringList ClickArgs(const QString& window, int leftTwips, int topTwips) {
  const bool wm = WindowManagerRuns();  // asked each time: one test brings its own display
  QStringList activate;
  if (wm) activate = QStringList{"windowactivate", "--sync", window};
  return activate + QStringList{"mousemove",
                                "--window",
                                window,
                                QString::number(leftTwips / 15),
                                QString::number(topTwips / 15),
                                "click",
                                "1"};
}
// Centres of the buttons, from the layouts.
QStringList Begin(const QString& w) {
  return ClickArgs(w, 1560 + 2295 / 2, 1320 + 375 / 2);
}
QStringList About(const QString& w) {
  return ClickArgs(w, 1560 + 2295 / 2, 1800 + 375 / 2);
}
QStringList Exit(const QString& w) {
  return ClickArgs(w, 1560 + 2295 / 2, 2280 + 375 / 2);
}
// The test window's inner area (6270 x 6810 twips) within its X window: the whole X window
// when a window manager draws the frame, inside the frame when the program draws it itself
// (Wine's tool windows), with equal borders left, right and below and the title bar above.
QPoint TestInnerOffset(const QString& w) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w.toUInt()), nullptr);
  QPoint offset;
  if (g && g->width > 6270 / 15) {
    const int border = (g->width - 6270 / 15) / 2;
    offset = QPoint(border, g->height - 6810 / 15 - border);
  }
  std::free(g);
  xcb_disconnect(c);
  return offset;
}
QStringList Stop(const QString& w) {
  const QPoint inner = TestInnerOffset(w);
  return ClickArgs(w, 2280 + 1695 / 2 + inner.x() * 15, 6360 + 375 / 2 + inner.y() * 15);
}

// What a window manager sends when the close box is pressed.
bool SendClose(const QString& window) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return false;
  auto atom = [c](const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
  };
  xcb_client_message_event_t e{};
  e.response_type = XCB_CLIENT_MESSAGE;
  e.format = 32;
  e.window = window.toUInt();
  e.type = atom("WM_PROTOCOLS");
  e.data.data32[0] = atom("WM_DELETE_WINDOW");
  e.data.data32[1] = XCB_CURRENT_TIME;
  // Checked, so that the server has delivered it before this connection closes.
  xcb_generic_error_t* error =
      xcb_request_check(c, xcb_send_event_checked(c, 0, e.window, XCB_EVENT_MASK_NO_EVENT,
                                                  reinterpret_cast<const char*>(&e)));
  std::free(error);
  xcb_disconnect(c);
  return error == nullptr;
}

}  // namespace

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
    if (!LinuxProgram()) QSKIP("the Linux program's own check (Windows always has a desktop)");
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
        // (Wine without a window manager keeps a window on the screen for 2 s after it is
        // hidden, waiting for a window manager to answer.)
        QString second;
        QElapsedTimer hidden;
        hidden.start();
        do {
          second = FindWindow(program.processId(), QStringLiteral("Generating Fractals..."));
        } while (second == test && hidden.elapsed() < 5000);
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
    if (!LinuxProgram()) QSKIP("the Linux program's own check (Windows always has a desktop)");
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
    QElapsedTimer hidden;  // (up to 2 s under Wine without a window manager, as above)
    hidden.start();
    while (
        !FindWindow(program.processId(), QStringLiteral("Generating Fractals..."), 100).isEmpty() &&
        hidden.elapsed() < 5000) {
    }
    QVERIFY(Xdotool(About(main)));
    const QString about = FindWindow(program.processId(), QStringLiteral("About Kelvarion"));
    QVERIFY(!about.isEmpty());
    QVERIFY(SendClose(about));
    QTest::qWait(300);
    hidden.restart();
    while (!FindWindow(program.processId(), QStringLiteral("About Kelvarion"), 100).isEmpty() &&
           hidden.elapsed() < 5000) {
    }
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
