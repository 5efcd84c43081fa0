#pragma once
// Drives the real program from outside, as a user would: started as a child process, its
// windows found by title and clicked with xdotool, closed as a window manager closes them.
#include <xcb/xcb.h>

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

// The program as a child process, killed if a check fails before it ends.
struct Program : QProcess {
  QTemporaryDir runtime;
  Program() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    setProcessEnvironment(env);
    start(QStringLiteral(KELVARION_EXE), {});
  }
  ~Program() override {
    if (state() != NotRunning) {
      kill();
      waitForFinished(2000);
    }
  }
};

// A visible window of process `pid` with exactly this title.
inline QString FindWindow(qint64 pid, const QString& title, int timeoutMs = 30000) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    QString ids;
    if (Xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name",
                 "^" + QRegularExpression::escape(title) + "$"},
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

// Clicks at a point given in twips from the top-left corner of a window's inner area. With a
// window manager the window is activated first, as a user's click on it would: openbox takes
// the press that focuses a window for itself now and then.
inline QStringList ClickArgs(const QString& window, int leftTwips, int topTwips) {
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
inline QStringList Begin(const QString& w) {
  return ClickArgs(w, 1560 + 2295 / 2, 1320 + 375 / 2);
}
inline QStringList About(const QString& w) {
  return ClickArgs(w, 1560 + 2295 / 2, 1800 + 375 / 2);
}
inline QStringList Exit(const QString& w) {
  return ClickArgs(w, 1560 + 2295 / 2, 2280 + 375 / 2);
}
inline QStringList Stop(const QString& w) {
  return ClickArgs(w, 2280 + 1695 / 2, 6360 + 375 / 2);
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
