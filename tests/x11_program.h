#pragma once
// The real program as a child process under X11, driven with xdotool as a user would drive it.
// KELVARION_EXE names the Linux program; KELVARION_COMMAND, when set, is the command line that
// starts the program instead (the Windows build under Wine).
#include <xcb/xcb.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <cstring>

// Runs xdotool; true if it succeeded. `out` receives what it printed.
inline bool Xdotool(const QStringList& args, QString* out = nullptr) {
  QProcess p;
  p.start(QStringLiteral("xdotool"), args);
  if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return false;
  if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
  return true;
}

inline QStringList ProgramCommand() {
  const QString command = qEnvironmentVariable("KELVARION_COMMAND");
  return command.isEmpty() ? QStringList{QStringLiteral(KELVARION_EXE)}
                           : QProcess::splitCommand(command);
}
inline bool LinuxProgram() {
  return qEnvironmentVariableIsEmpty("KELVARION_COMMAND");
}

// What stands in the program's temporary folders: on Linux its own TMPDIR; under Wine the
// Windows users' temporary folders in the test's own prefix (the program sees Windows' TEMP,
// never the Unix TMPDIR).
inline QStringList TempContents(const QString& unixTemp) {
  QStringList folders{unixTemp}, entries;
  if (!LinuxProgram()) {
    const QDir users(qEnvironmentVariable("WINEPREFIX") + QStringLiteral("/drive_c/users"));
    folders.clear();
    for (const QString& user : users.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      folders << users.filePath(user + QStringLiteral("/Temp"));
  }
  for (const QString& folder : folders)
    for (const QString& entry :
         QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
      entries << folder + QLatin1Char('/') + entry;
  return entries;
}

// The program as a child process, killed if a check fails before it ends: started with `args`,
// with a runtime folder of its own or none, and a temporary folder of its own, empty, so that
// what it makes there can be seen. `extra` adds to or overrides its environment.
struct Program : QProcess {
  QTemporaryDir runtime, temp;
  QStringList tempBefore;
  explicit Program(const QStringList& args = {}, bool runtimeFolder = true,
                   const QProcessEnvironment& extra = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (runtimeFolder)
      env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    else
      env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const QString& key : extra.keys()) env.insert(key, extra.value(key));
    setProcessEnvironment(env);
    tempBefore = TempContents(temp.path());
    start(ProgramCommand().first(), ProgramCommand().mid(1) + args);
  }
  explicit Program(const QProcessEnvironment& extra) : Program({}, true, extra) {}
  QStringList MadeInTemp() const {
    QStringList made = TempContents(temp.path());
    for (const QString& entry : tempBefore) made.removeAll(entry);
    return made;
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
inline QString FindWindow(qint64 pid, const QString& title, int timeoutMs = 30000) {
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

inline bool WindowManagerRuns() {
  QProcess p;
  p.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
  p.waitForFinished(5000);
  return p.readAllStandardOutput().contains("window id");
}

// Clicks at a point given in twips from the top-left corner of a window's inner area, on a
// screen of `ratio` device pixels to the layout's pixel. With a window manager the window is
// activated first, as a user's click on it would: openbox takes the press that focuses a window
// for itself now and then.
inline QStringList ClickArgs(const QString& window, int leftTwips, int topTwips, int ratio = 1) {
  const bool wm = WindowManagerRuns();  // asked each time: one test brings its own display
  QStringList activate;
  if (wm) activate = QStringList{"windowactivate", "--sync", window};
  return activate + QStringList{"mousemove",
                                "--window",
                                window,
                                QString::number(leftTwips * ratio / 15),
                                QString::number(topTwips * ratio / 15),
                                "click",
                                "1"};
}
// Centres of the buttons, from the layouts.
inline QStringList Begin(const QString& w, int ratio = 1) {
  return ClickArgs(w, 1560 + 2295 / 2, 1320 + 375 / 2, ratio);
}
inline QStringList About(const QString& w, int ratio = 1) {
  return ClickArgs(w, 1560 + 2295 / 2, 1800 + 375 / 2, ratio);
}
inline QStringList Exit(const QString& w, int ratio = 1) {
  return ClickArgs(w, 1560 + 2295 / 2, 2280 + 375 / 2, ratio);
}
// The test window's inner area (6270 x 6810 twips) within its X window: the whole X window
// when a window manager draws the frame, inside the frame when the program draws it itself
// (Wine's tool windows), with equal borders left, right and below and the title bar above.
inline QPoint TestInnerOffset(const QString& w, int ratio) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w.toUInt()), nullptr);
  QPoint offset;
  if (g && g->width > 6270 * ratio / 15) {
    const int border = (g->width - 6270 * ratio / 15) / 2;
    offset = QPoint(border, g->height - 6810 * ratio / 15 - border);
  }
  std::free(g);
  xcb_disconnect(c);
  return offset;
}
inline QStringList Stop(const QString& w, int ratio = 1) {
  const QPoint inner = TestInnerOffset(w, ratio) * 15 / ratio;
  return ClickArgs(w, 2280 + 1695 / 2 + inner.x(), 6360 + 375 / 2 + inner.y(), ratio);
}

// What a window manager sends when the close box is pressed.
inline bool SendClose(const QString& window) {
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
