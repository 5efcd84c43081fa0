#pragma once
// The real program as a child process under X11, driven with xdotool as a user would drive it.
// KELVARION_EXE names the Linux program; KELVARION_COMMAND, when set, is the command line that
// starts the program instead (the Windows build under Wine).
#include <xcb/xcb.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <cstring>

#include "tests/wait_for.h"
#include "tests/x11_geometry.h"

// Runs xdotool; true if it succeeded. `out` receives what it printed.
inline bool Xdotool(const QStringList& args, QString* out = nullptr) {
  QProcess p;
  p.start(QStringLiteral("xdotool"), args);
  if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return false;
  if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
  return true;
}

// KELVARION_TEST_EXE: another build of the Linux program (one with a fault hook, say).
inline QStringList ProgramCommand() {
  const QString command = qEnvironmentVariable("KELVARION_COMMAND");
  const QString exe = qEnvironmentVariable("KELVARION_TEST_EXE");
  if (!command.isEmpty()) return QProcess::splitCommand(command);
  return {exe.isEmpty() ? QStringLiteral(KELVARION_EXE) : exe};
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

// The windows xdotool finds with these search arguments. It gives up with an X error when a
// window vanishes while it looks (a program's windows going, Wine's hidden ones), with the
// status of no match: it is asked again then.
inline QStringList SearchWindows(const QStringList& args) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), QStringList{"search"} + args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit) return {};
    if (p.exitCode() == 0)
      return QString::fromLocal8Bit(p.readAllStandardOutput())
          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!p.readAllStandardError().contains("X Error")) return {};
  }
  return {};
}

// The visible windows of process `pid` with exactly this title, oldest first.
// (Wine starts a Windows program as a process of its own, not as the one it was given: there
// the program is the only one on the display, and its windows are found by title alone.)
inline QStringList VisibleWindows(qint64 pid, const QString& title) {
  QStringList pidArgs;
  if (LinuxProgram()) pidArgs = QStringList{"--pid", QString::number(pid)};
  return SearchWindows(QStringList{"--all", "--onlyvisible"} + pidArgs +
                       QStringList{"--name", "^" + QRegularExpression::escape(title) + "$"});
}

// Where a window opens: the program's windows open centred (or at the corner of a screen too
// small for them), except those it places beside another.
enum class Opens { kCentred, kAnywhere };

// Waits until a window that has just been mapped has settled (x11::Settled): framed, and
// standing where it opens. The Windows program's windows are placed by Windows, where X cannot
// see their frames (without a window manager the X window of a dialog frame is its inner area,
// off centre by the frame), so under Wine only the framing is waited for. A window that never
// frames is an answer of false, with where it stands; one that frames but never stands centred
// is left to the tests that check placement, with a warning.
inline bool WaitSettled(const QString& window, Opens opens = Opens::kCentred) {
  x11::Display display;
  const bool wm = display.WindowManager();
  std::optional<x11::Placement> seen;
  auto settled = [&](bool centred) {
    seen = display.Read(window.toUInt());
    return seen && x11::Settled(*seen, wm, centred);
  };
  const QString where = QStringLiteral("window %1: ").arg(window);
  if (!WaitFor([&] { return settled(false); })) {
    qWarning("%s never settled: %s", qPrintable(where),
             seen ? qPrintable(seen->Describe()) : "gone");
    return false;
  }
  if (opens == Opens::kCentred && LinuxProgram() && !WaitFor([&] { return settled(true); }, 10000))
    qWarning("%s does not stand centred: %s", qPrintable(where), qPrintable(seen->Describe()));
  return true;
}

// The newest visible window of process `pid` with exactly this title, once it has settled; empty
// if none appears within `timeoutMs`.
inline QString FindWindow(qint64 pid, const QString& title, int timeoutMs = kPatienceMs,
                          Opens opens = Opens::kCentred) {
  QString found;
  auto visible = [&] {
    const QStringList windows = VisibleWindows(pid, title);
    if (!windows.isEmpty()) found = windows.last();
    return !found.isEmpty();
  };
  if (!WaitFor(visible, timeoutMs)) return QString();
  return WaitSettled(found, opens) ? found : QString();
}

// True once no visible window of `pid` has this title (or, given `window`, once that one is no
// longer visible); false if one still is after `timeoutMs`.
inline bool Gone(qint64 pid, const QString& title, const QString& window = QString(),
                 int timeoutMs = kPatienceMs) {
  return WaitFor(
      [&] {
        const QStringList visible = VisibleWindows(pid, title);
        return window.isEmpty() ? visible.isEmpty() : !visible.contains(window);
      },
      timeoutMs);
}

// Whether Windows' own view of the Windows program's window titled `title` (win-probe, the
// command KELVARION_PROBE names) has it at `at`: its whole window there (a tool window, whose
// frame Wine draws in the X window) or its inner area (a dialog frame's X window). True where
// there is no such view to ask.
inline bool WindowsSees(const QString& title, QPoint at) {
  const QStringList probe = QProcess::splitCommand(qEnvironmentVariable("KELVARION_PROBE"));
  if (LinuxProgram() || probe.isEmpty()) return true;
  QProcess p;
  p.start(probe.first(), probe.mid(1) << QFileInfo(ProgramCommand().last()).fileName());
  if (!p.waitForFinished(20000)) return false;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
    const QStringList fields = line.trimmed().split('\t');
    if (fields.value(0) != QLatin1String("window") ||
        !fields.contains(QStringLiteral("caption=") + title))
      continue;
    for (const QString& field : fields) {
      const QStringList xy = field.section('=', 1).split(',');
      if ((field.startsWith(QLatin1String("rect=")) ||
           field.startsWith(QLatin1String("clientAt="))) &&
          QPoint(xy.value(0).toInt(), xy.value(1).toInt()) == at)
        return true;
    }
  }
  return false;
}

// Moves a window with xdotool and waits until it stands there: its top-left corner at (x, y),
// or its frame's (the window manager may take the point for either), and under Wine in
// Windows' own view too. Wine may still put a window it is showing back where it opened, until
// it has taken in the move: then it is moved again, as a user would.
inline bool MoveWindow(const QString& window, int x, int y) {
  QString title;
  if (!LinuxProgram() && !Xdotool({"getwindowname", window}, &title)) return false;
  x11::Display display;
  auto there = [&] {
    const std::optional<x11::Placement> p = display.Read(window.toUInt());
    return p && (p->client.topLeft() == QPoint(x, y) || p->frame.topLeft() == QPoint(x, y)) &&
           WindowsSees(title, p->client.topLeft());
  };
  return WaitFor([&] {
    return Xdotool({"windowmove", "--sync", window, QString::number(x), QString::number(y)}) &&
           WaitFor(there, 2000);
  });
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
// Whether the test window's canvas shows a drawing, waited for: many colours in its interior (2
// pixels in from its outer edge, 6255 x 5055 twips less 2 pixels a side), where an empty canvas
// has one.
inline bool CanvasDraws(const QString& w, int ratio = 1) {
  const QPoint at = TestInnerOffset(w, ratio) + QPoint(2, 2);
  const int width = 6255 * ratio / 15 - 4, height = 5055 * ratio / 15 - 4;
  auto colours = [&] {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_get_image_reply_t* image =
        xcb_get_image_reply(c,
                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w.toUInt(), int16_t(at.x()),
                                          int16_t(at.y()), uint16_t(width), uint16_t(height), ~0u),
                            nullptr);
    QSet<quint32> seen;
    if (image && xcb_get_image_data_length(image) == width * height * 4) {
      const auto* pixels = reinterpret_cast<const quint32*>(xcb_get_image_data(image));
      for (int y = 0; y < height; y += 3)
        for (int x = 0; x < width; x += 3) seen.insert(pixels[y * width + x] & 0xFFFFFF);
    }
    std::free(image);
    xcb_disconnect(c);
    return seen.size();
  };
  return WaitFor([&] { return colours() >= 50; });
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
