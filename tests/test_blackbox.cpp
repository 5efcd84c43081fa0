// The real program's windows as a user meets them, driven from outside through X: started as
// its own process, clicked and typed at with xdotool, and read back from the X server (window
// properties, stacking, pixels). The same checks run against the Linux program and, under Wine,
// against the Windows one: KELVARION_COMMAND gives the command line that starts the program
// (for example "wine build-windows/Kelvarion1.exe", quoted as a shell would; the Linux program
// when unset). Where Wine's X view is not Windows' own (Wine draws the tool-window frame
// itself, and its X windows do not show Win32 styles), the Windows facts come from inside
// Windows: KELVARION_PROBE is the command of win-probe.exe, run in the same Wine prefix.
//
// Expected sizes come from the layouts' twips: 15 to a pixel at 96 dpi, or at the pixels per
// inch KELVARION_DPI gives (the Windows program under Wine at another density).
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "tests/wait_for.h"
#include "tests/x11_geometry.h"

namespace {

// The program ------------------------------------------------------------------------------------

int Dpi() {
  bool ok = false;
  const int dpi = qEnvironmentVariableIntValue("KELVARION_DPI", &ok);
  return ok && dpi > 0 ? dpi : 96;
}

// Twips in device pixels at the display's pixels per inch, rounded to the nearest.
int Px(int twips) {
  return qRound(twips * Dpi() / 1440.0);
}

QStringList Split(const QString& command) {
  return QProcess::splitCommand(command);
}

QStringList ProgramCommand() {
  const QString command = qEnvironmentVariable("KELVARION_COMMAND");
  return command.isEmpty() ? QStringList{QStringLiteral(KELVARION_EXE)} : Split(command);
}

// The Windows build: its facts are also read from inside Windows.
bool WindowsProgram() {
  return ProgramCommand().last().endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
}

// The test-only build with a fault in one image (tests/fault_program.cpp), as the program is.
QStringList FaultCommand() {
  const QString command = qEnvironmentVariable("KELVARION_FAULT_COMMAND");
  return command.isEmpty() ? QStringList{QStringLiteral(KELVARION_FAULT_EXE)} : Split(command);
}

// The program started with `extra` in its environment.
struct Program : QProcess {
  QTemporaryDir runtime;
  explicit Program(const QProcessEnvironment& extra = {},
                   const QStringList& command = ProgramCommand()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(extra);
    setProcessEnvironment(env);
    start(command.first(), command.mid(1));
  }
  ~Program() override {
    if (state() != NotRunning) {
      kill();
      waitForFinished(5000);
    }
  }
};

// CPU time process `pid` has used so far, in clock ticks (from /proc), or -1.
long CpuTicks(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QByteArray text = stat.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 13 ? fields[11].toLong() + fields[12].toLong() : -1;  // utime, stime
}

bool Run(const QString& program, const QStringList& args, QString* out = nullptr,
         int timeoutMs = 20000) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return false;
  if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
  return true;
}

bool Xdotool(const QStringList& args, QString* out = nullptr) {
  if (!Run(QStringLiteral("xdotool"), args, out)) return false;
  if (out) *out = out->trimmed();
  return true;
}

// X ------------------------------------------------------------------------------------------

class X {
 public:
  X() : c_(xcb_connect(nullptr, nullptr)) {
    if (!xcb_connection_has_error(c_))
      root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  }
  ~X() { xcb_disconnect(c_); }
  bool ok() const { return root_ != 0; }
  xcb_window_t root() const { return root_; }

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
  }

  std::vector<uint32_t> Property32(xcb_window_t w, const char* name) {
    std::vector<uint32_t> out;
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20), nullptr);
    if (r && r->format == 32) {
      const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
      out.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return out;
  }

  bool HasState(xcb_window_t w, const char* state) {
    const xcb_atom_t a = Atom(state);
    for (uint32_t s : Property32(w, "_NET_WM_STATE"))
      if (s == a) return true;
    return false;
  }

  // The window's place and size on the root window, without its border.
  QRect Geometry(xcb_window_t w) {
    QRect out;
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
    xcb_translate_coordinates_reply_t* t =
        xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr);
    if (g && t) out = QRect(t->dst_x, t->dst_y, g->width, g->height);
    std::free(g);
    std::free(t);
    return out;
  }

  // The child of the root that holds `w`: a window manager's frame, or `w` itself.
  xcb_window_t TopLevel(xcb_window_t w) {
    for (int depth = 0; depth < 16; ++depth) {
      xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
      if (!t) return w;
      const xcb_window_t parent = t->parent;
      std::free(t);
      if (parent == root_ || parent == 0) return w;
      w = parent;
    }
    return w;
  }

  // The screen's work area: the window manager's, or the whole screen without one.
  QRect WorkArea() {
    const std::vector<uint32_t> area = Property32(root_, "_NET_WORKAREA");
    if (area.size() >= 4) return QRect(int(area[0]), int(area[1]), int(area[2]), int(area[3]));
    return Geometry(root_);
  }

  // Top-level windows from bottom to top: the window manager's list of the windows it manages,
  // or without one the root's children (the windows themselves).
  std::vector<xcb_window_t> Stacking() {
    std::vector<uint32_t> list = Property32(root_, "_NET_CLIENT_LIST_STACKING");
    if (!list.empty()) return {list.begin(), list.end()};
    std::vector<xcb_window_t> out;
    xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
    if (t) {
      const xcb_window_t* children = xcb_query_tree_children(t);
      out.assign(children, children + xcb_query_tree_children_length(t));
    }
    std::free(t);
    return out;
  }

  // What the screen shows in `r` (Xvfb keeps every window's pixels on the root window).
  QImage Grab(const QRect& r) {
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        c_,
        xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, int16_t(r.x()), int16_t(r.y()),
                      uint16_t(r.width()), uint16_t(r.height()), ~0u),
        nullptr);
    QImage out;
    if (image && xcb_get_image_data_length(image) == r.width() * r.height() * 4)
      out = QImage(xcb_get_image_data(image), r.width(), r.height(), r.width() * 4,
                   QImage::Format_RGB32)
                .copy();
    std::free(image);
    return out;
  }

  // The window's icons as _NET_WM_ICON carries them, by size.
  QList<QImage> Icons(xcb_window_t w) {
    QList<QImage> out;
    const std::vector<uint32_t> data = Property32(w, "_NET_WM_ICON");
    for (std::size_t i = 0; i + 2 <= data.size();) {
      const int width = int(data[i]), height = int(data[i + 1]);
      i += 2;
      if (width <= 0 || height <= 0 || i + std::size_t(width) * height > data.size()) break;
      QImage icon(width, height, QImage::Format_ARGB32);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) icon.setPixel(x, y, data[i + std::size_t(y) * width + x]);
      i += std::size_t(width) * height;
      out.append(icon);
    }
    return out;
  }

  // What a window manager sends when the close box is pressed.
  bool SendClose(xcb_window_t w) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = w;
    e.type = Atom("WM_PROTOCOLS");
    e.data.data32[0] = Atom("WM_DELETE_WINDOW");
    e.data.data32[1] = XCB_CURRENT_TIME;
    xcb_generic_error_t* error =
        xcb_request_check(c_, xcb_send_event_checked(c_, 0, w, XCB_EVENT_MASK_NO_EVENT,
                                                     reinterpret_cast<const char*>(&e)));
    std::free(error);
    return error == nullptr;
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_ = 0;
};

bool WindowManagerRuns() {
  X x;
  return !x.Property32(x.root(), "_NET_SUPPORTING_WM_CHECK").empty();
}

// Visible windows of process `pid` titled exactly `title`; of any process when `pid` is 0.
// xdotool gives up with an X error when a window vanishes while it looks (a program's windows
// going, Wine's hidden ones), with the status of no match: it is asked again then.
QList<xcb_window_t> Windows(qint64 pid, const QString& title) {
  QList<xcb_window_t> out;
  QStringList args{"search", "--all", "--onlyvisible"};
  if (pid) args << "--pid" << QString::number(pid);
  args << "--name"
       << "^" + QRegularExpression::escape(title) + "$";
  for (int attempt = 0; attempt < 100; ++attempt) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit) break;
    if (p.exitCode() == 0) {
      for (const QByteArray& id : p.readAllStandardOutput().split('\n'))
        if (!id.trimmed().isEmpty()) out.append(id.trimmed().toUInt());
      break;
    }
    if (!p.readAllStandardError().contains("X Error")) break;
  }
  return out;
}

// The window once it is visible and has settled (x11::Settled): framed where a window manager
// runs, and standing where it opens, centred, which the Linux program's windows reach a moment
// after they are mapped (it places them again once the window manager announces the frame). The
// Windows program's windows are placed by Windows, whose frames X does not show (without a
// window manager a dialog frame's X window is its inner area, off centre by the frame): for
// them only the framing is waited for. 0 if none appears within `timeoutMs` or it never frames;
// one that frames but never stands centred is left to the checks of its placement.
xcb_window_t FindWindow(qint64 pid, const QString& title, int timeoutMs = kPatienceMs) {
  xcb_window_t found = 0;
  if (!WaitFor(
          [&] {
            const QList<xcb_window_t> windows = Windows(pid, title);
            found = windows.isEmpty() ? 0 : windows.last();
            return found != 0;
          },
          timeoutMs))
    return 0;
  x11::Display display;
  const bool wm = display.WindowManager();
  std::optional<x11::Placement> seen;
  auto settled = [&](bool centred) {
    seen = display.Read(found);
    return seen && x11::Settled(*seen, wm, centred);
  };
  if (!WaitFor([&] { return settled(false); })) {
    qWarning("%s never settled: %s", qPrintable(title),
             seen ? qPrintable(seen->Describe()) : "gone");
    return 0;
  }
  if (!WindowsProgram() && !WaitFor([&] { return settled(true); }, 10000))
    qWarning("%s does not stand centred: %s", qPrintable(title), qPrintable(seen->Describe()));
  return found;
}

// True once no visible window of `pid` has this title (within `timeoutMs`).
bool Gone(qint64 pid, const QString& title, int timeoutMs = kPatienceMs) {
  return WaitFor([&] { return Windows(pid, title).isEmpty(); }, timeoutMs);
}

// Windows' own view --------------------------------------------------------------------------

struct WinWindow {
  QString caption, focus, focusName;
  bool visible = false, active = false, owned = false, ownerVisible = false;
  int zorder = -1, dpi = 0;
  QSize client;
  QPoint clientAt;
  QRect rect, work;
  quint32 style = 0, exStyle = 0;
};

constexpr quint32 WS_THICKFRAME = 0x00040000, WS_MINIMIZEBOX = 0x00020000,
                  WS_MAXIMIZEBOX = 0x00010000, WS_SYSMENU = 0x00080000, WS_CAPTION = 0x00C00000;
constexpr quint32 WS_EX_DLGMODALFRAME = 0x1, WS_EX_TOOLWINDOW = 0x80, WS_EX_APPWINDOW = 0x40000;

QRect Ltrb(const QString& text) {
  const QStringList v = text.split(QLatin1Char(','));
  if (v.size() != 4) return {};
  return QRect(QPoint(v[0].toInt(), v[1].toInt()), QPoint(v[2].toInt() - 1, v[3].toInt() - 1));
}

// The visible top-level windows of the Windows program, as win-probe lists them.
QList<WinWindow> Probe() {
  QList<WinWindow> out;
  const QStringList command = Split(qEnvironmentVariable("KELVARION_PROBE"));
  if (command.isEmpty()) return out;
  QString text;
  if (!Run(command.first(), command.mid(1) << QFileInfo(ProgramCommand().last()).fileName(), &text))
    return out;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList fields = line.trimmed().split(QLatin1Char('\t'));
    if (fields.value(0) != QLatin1String("window")) continue;
    QHash<QString, QString> f;
    for (const QString& field : fields) {
      const int eq = field.indexOf(QLatin1Char('='));
      if (eq > 0) f.insert(field.left(eq), field.mid(eq + 1));
    }
    WinWindow w;
    w.caption = f.value("caption");
    w.visible = f.value("visible") == QLatin1String("1");
    w.active = f.value("active") == QLatin1String("1");
    w.zorder = f.value("zorder").toInt();
    const QStringList client = f.value("client").split(QLatin1Char('x'));
    w.client = QSize(client.value(0).toInt(), client.value(1).toInt());
    const QStringList at = f.value("clientAt").split(QLatin1Char(','));
    w.clientAt = QPoint(at.value(0).toInt(), at.value(1).toInt());
    w.rect = Ltrb(f.value("rect"));
    w.work = Ltrb(f.value("work"));
    w.style = f.value("style").toUInt(nullptr, 16);
    w.exStyle = f.value("exStyle").toUInt(nullptr, 16);
    w.owned = f.value("owner") == QLatin1String("1");
    w.ownerVisible = f.value("ownerVisible") == QLatin1String("1");
    w.dpi = f.value("dpi").toInt();
    w.focus = f.value("focus");
    w.focusName = f.value("focusName");
    if (w.visible) out.append(w);
  }
  return out;
}

std::optional<WinWindow> ProbeWindow(const QString& caption) {
  for (const WinWindow& w : Probe())
    if (w.caption == caption) return w;
  return std::nullopt;
}

// The texts of the controls of the Windows program's window `caption`, as Windows gives them.
QStringList ControlTexts(const QString& caption) {
  QString text;
  const QStringList command = Split(qEnvironmentVariable("KELVARION_PROBE"));
  if (command.isEmpty() ||
      !Run(command.first(), command.mid(1) << QFileInfo(ProgramCommand().last()).fileName(), &text))
    return {};
  QStringList out;
  bool in = false;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList fields = line.trimmed().split(QLatin1Char('\t'));
    if (fields.value(0) == QLatin1String("window"))
      in = fields.contains(QStringLiteral("caption=") + caption);
    else if (in)
      for (const QString& f : fields)
        if (f.startsWith(QLatin1String("text="))) out << f.mid(5);
  }
  return out;
}

// A window's inner area on the screen: the X window itself for the Linux program (and for
// Wine's dialog frames); from inside Windows for the Windows program.
QRect ClientArea(xcb_window_t w, const QString& title) {
  if (WindowsProgram()) {
    const std::optional<WinWindow> win = ProbeWindow(title);
    return win ? QRect(win->clientAt, win->client) : QRect();
  }
  return X().Geometry(w);
}

// Input ----------------------------------------------------------------------------------------

// Clicks at a point given in twips from the top-left corner of an inner area on the screen.
// With a window manager the window is activated first, as a user's click on it would. The
// caller waits for what the click causes.
bool Click(xcb_window_t w, const QRect& client, int leftTwips, int topTwips) {
  QStringList args;
  if (WindowManagerRuns())
    args << "windowactivate"
         << "--sync" << QString::number(w);
  args << "mousemove" << QString::number(client.x() + Px(leftTwips))
       << QString::number(client.y() + Px(topTwips)) << "click"
       << "1";
  return Xdotool(args);
}

// Centres of the buttons, from the layouts.
constexpr QPoint kBegin{1560 + 2295 / 2, 1320 + 375 / 2}, kAbout{1560 + 2295 / 2, 1800 + 375 / 2},
    kExit{1560 + 2295 / 2, 2280 + 375 / 2}, kStop{2280 + 1695 / 2, 6360 + 375 / 2},
    kOK{2640 + 1815 / 2, 960 + 375 / 2};

const QString kMainTitle = QStringLiteral("Kelvarion 1.0");
const QString kTestTitle = QStringLiteral("Generating Fractals...");
const QString kAboutTitle = QStringLiteral("About Kelvarion");
const QString kErrorTitle = QStringLiteral("Computation Error");

// What the tests that drive the Linux program over a bus of their own need: dbus and python3-gi.
bool BusTools() {
  return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() &&
         QFile::exists(QStringLiteral("/usr/lib/python3/dist-packages/gi"));
}

// A session bus of the test's own (for the Linux program), and what the test runs on it: a
// stand-in for a desktop service, the accessibility bus, an AT-SPI client. All ended with it.
struct Bus {
  QProcess daemon;
  std::vector<std::unique_ptr<QProcess>> services;
  QString address;
  bool Start() {
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (!daemon.waitForReadyRead(10000)) return false;
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    return !address.isEmpty();
  }
  QProcess* Run(const QString& program, const QStringList& args) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    p->setProcessEnvironment(env);
    p->start(program, args);
    services.push_back(std::move(p));
    return services.back().get();
  }
  // What a screen reader reads in the window `title` of process `pid`, a line an element.
  QStringList Texts(qint64 pid, const QString& title) {
    QProcess* p = Run(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(ATSPI_SCRIPT), QString::number(pid), title});
    p->waitForFinished(20000);
    return QString::fromUtf8(p->readAllStandardOutput()).split(QLatin1Char('\n'));
  }
  // Asked to end (the accessibility bus's launcher takes its bus down with it), then made to.
  ~Bus() {
    for (auto& p : services) p->terminate();
    for (auto& p : services)
      if (!p->waitForFinished(5000)) p->kill(), p->waitForFinished(5000);
    daemon.kill();
    daemon.waitForFinished(5000);
  }
};

// The program with its main window found: a session with the program's windows at hand.
// `pid` is the program's own process, the one that owns its windows: for the Linux program the
// one started, under Wine another that Wine starts (each test has a display of its own, so the
// main window is the only one of its title).
struct Session {
  explicit Session(const QProcessEnvironment& extra = {},
                   const QStringList& command = ProgramCommand())
      : program(extra, command) {}
  Program program;
  qint64 pid = 0;
  xcb_window_t main = 0;
  QRect mainClient;
  bool Start() {
    if (!program.waitForStarted(20000)) return false;
    main = FindWindow(WindowsProgram() ? 0 : program.processId(), kMainTitle);
    if (!main) return false;
    const std::vector<uint32_t> owner = X().Property32(main, "_NET_WM_PID");
    pid = owner.empty() ? 0 : owner.front();
    mainClient = ClientArea(main, kMainTitle);
    return pid != 0 && mainClient.isValid();
  }
  bool Running() const {
    return program.state() == QProcess::Running &&
           QFile::exists(QStringLiteral("/proc/%1").arg(pid));
  }
  bool Press(QPoint button) { return Click(main, mainClient, button.x(), button.y()); }
  // Moves a window aside so that the main window's buttons stay in reach, keeping it on the
  // screen, and waits until it stands there (its corner or its frame's at the point), in the
  // Windows program's own view too. Wine may still put a window it has just shown back where it
  // opened: then it is moved again, as a user would.
  bool MoveAside(xcb_window_t w, int x, int y) {
    X display;
    x = qMin(x, display.Geometry(display.root()).width() - display.Geometry(w).width());
    QString title;
    if (WindowsProgram() && !Xdotool({"getwindowname", QString::number(w)}, &title)) return false;
    x11::Display placement;
    auto there = [&] {
      const std::optional<x11::Placement> p = placement.Read(w);
      if (!p || (p->client.topLeft() != QPoint(x, y) && p->frame.topLeft() != QPoint(x, y)))
        return false;
      if (!WindowsProgram()) return true;
      // Its inner area (a dialog frame's X window) or its whole window (a tool window, whose
      // frame Wine draws) where X shows it.
      const std::optional<WinWindow> win = ProbeWindow(title);
      return win &&
             (win->clientAt == p->client.topLeft() || win->rect.topLeft() == p->client.topLeft());
    };
    return WaitFor([&] {
      return Xdotool({"windowmove", "--sync", QString::number(w), QString::number(x),
                      QString::number(y)}) &&
             WaitFor(there, 2000);
    });
  }
  // Stop in the test window `test` then Begin, in one go, as quick as a user's two clicks.
  bool StopThenBegin(xcb_window_t test) {
    const QRect client = ClientArea(test, kTestTitle);
    QStringList both;
    if (WindowManagerRuns())
      both << "windowactivate"
           << "--sync" << QString::number(test);
    both << "mousemove" << QString::number(client.x() + Px(kStop.x()))
         << QString::number(client.y() + Px(kStop.y())) << "click"
         << "1";
    both << "mousemove" << QString::number(mainClient.x() + Px(kBegin.x()))
         << QString::number(mainClient.y() + Px(kBegin.y())) << "click"
         << "1";
    return Xdotool(both);
  }
  // Ends the program as a user does, and checks that it went.
  bool Exit() {
    if (program.state() != QProcess::Running) return false;
    if (!WindowManagerRuns()) Xdotool({"windowraise", QString::number(main)});
    Press(kExit);
    // It may have ended already, while the click's wait ran.
    if (program.state() != QProcess::NotRunning && !program.waitForFinished(10000)) return false;
    return program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
  }
  // CPU time the program uses over `ms`, in seconds: a fixed time on purpose, watching that it
  // stays idle.
  double CpuSeconds(int ms) {
    const long before = CpuTicks(pid);
    QTest::qWait(ms);
    const long after = CpuTicks(pid);
    return (before < 0 || after < 0) ? -1 : (after - before) / 100.0;
  }
};

// Distinct colours in the test window's canvas interior: 2 pixels in from its outer edge,
// 413 x 333 at 96 dpi (6255 x 5055 twips less the 2-pixel border each side).
QSize CanvasInterior() {
  return QSize(Px(6255) - 4, Px(5055) - 4);
}
int CanvasColours(const QRect& testClient) {
  const QImage image = X().Grab(QRect(testClient.topLeft() + QPoint(2, 2), CanvasInterior()));
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  return int(colours.size());
}

// Waits until the canvas shows a drawing (many colours; an empty canvas has one).
bool CanvasDraws(const QRect& testClient) {
  return WaitFor([&] { return CanvasColours(testClient) >= 50; });
}

}  // namespace

class BlackBoxTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
      QSKIP("needs an X display (run under tests/run-x11.sh)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) QSKIP("needs xdotool");
    if (WindowsProgram())
      QVERIFY2(!qEnvironmentVariableIsEmpty("KELVARION_PROBE"),
               "the Windows program's facts need KELVARION_PROBE (win-probe.exe)");
    qInfo("program: %s%s", qPrintable(ProgramCommand().join(QLatin1Char(' '))),
          WindowManagerRuns() ? " (with a window manager)" : "");
  }

  // Each window as it opens: caption, inner size, frame, placement, taskbar, icon.
  void windowOpens_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QPoint>("opener");  // the main window's button that opens it, or none
    QTest::addColumn<QSize>("twips");
    QTest::addColumn<bool>("toolFrame");
    QTest::addColumn<bool>("icon");
    QTest::addColumn<QString>("firstInTabOrder");  // Windows: the control with the focus
    // Windows: what a screen reader calls that control (on Linux, check-accessibility.sh).
    QTest::addColumn<QString>("focusName");
    QTest::newRow("main") << kMainTitle << QPoint() << QSize(5595, 2730) << false << true
                          << QStringLiteral("Begin Fractal Testing!")
                          << QStringLiteral("Begin Fractal Testing!");
    QTest::newRow("test") << kTestTitle << kBegin << QSize(6270, 6810) << true << false
                          << QString()  // the canvas
                          << QStringLiteral("Fractal image being drawn");
    QTest::newRow("about") << kAboutTitle << kAbout << QSize(5715, 1395) << false << false
                           << QString()  // the picture
                           << QStringLiteral("Kelvarion picture");
  }
  void windowOpens() {
    QFETCH(QString, title);
    QFETCH(QPoint, opener);
    QFETCH(QSize, twips);
    QFETCH(bool, toolFrame);
    QFETCH(bool, icon);
    QFETCH(QString, firstInTabOrder);
    QFETCH(QString, focusName);
    Session s;
    QVERIFY2(s.Start(), "the main window did not appear");
    xcb_window_t w = s.main;
    if (!opener.isNull()) {
      QVERIFY(s.Press(opener));
      w = FindWindow(s.pid, title);
      QVERIFY2(w, qPrintable(title + " did not open"));
    }
    QCOMPARE(Windows(s.pid, title).size(), 1);
    X x;
    const QSize inner(Px(twips.width()), Px(twips.height()));
    const QRect xWindow = x.Geometry(w);

    // Inner size, centring and frame, as the platform sees them.
    if (WindowsProgram()) {
      const std::optional<WinWindow> win = ProbeWindow(title);
      QVERIFY2(win, "win-probe does not list the window");
      QCOMPARE(win->dpi, Dpi());
      QCOMPARE(win->client, inner);
      const QRect r = win->rect, work = win->work;
      QVERIFY2(qAbs(r.x() - (work.x() + (work.width() - r.width()) / 2)) <= 1 &&
                   qAbs(r.y() - (work.y() + (work.height() - r.height()) / 2)) <= 1,
               qPrintable(QStringLiteral("window at %1,%2 %3x%4 in a work area of %5x%6")
                              .arg(r.x())
                              .arg(r.y())
                              .arg(r.width())
                              .arg(r.height())
                              .arg(work.width())
                              .arg(work.height())));
      QCOMPARE(win->style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
      QCOMPARE(win->style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
      QCOMPARE(win->exStyle & (WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW),
               toolFrame ? WS_EX_TOOLWINDOW : WS_EX_DLGMODALFRAME);
      // No taskbar button: owned by a window that is never shown, and not forced onto it.
      QVERIFY(win->owned && !win->ownerVisible);
      QCOMPARE(win->exStyle & WS_EX_APPWINDOW, 0u);
      QVERIFY(win->active);
      if (!firstInTabOrder.isEmpty()) QCOMPARE(win->focus, firstInTabOrder);
      QCOMPARE(win->focusName, focusName);
    } else {
      QCOMPARE(xWindow.size(), inner);
      // The frame, title bar included, centred: the window manager's frame window once it
      // has settled, or the window itself where there is none.
      const QRect frame = x.Geometry(x.TopLevel(w)), work = x.WorkArea();
      QVERIFY2(qAbs(frame.x() - (work.x() + (work.width() - frame.width()) / 2)) <= 1 &&
                   qAbs(frame.y() - (work.y() + (work.height() - frame.height()) / 2)) <= 1,
               qPrintable(QStringLiteral("frame at %1,%2 %3x%4 in a work area of %5x%6")
                              .arg(frame.x())
                              .arg(frame.y())
                              .arg(frame.width())
                              .arg(frame.height())
                              .arg(work.width())
                              .arg(work.height())));
      const std::vector<uint32_t> type = x.Property32(w, "_NET_WM_WINDOW_TYPE");
      QVERIFY(!type.empty());
      QCOMPARE(type.front(),
               x.Atom(toolFrame ? "_NET_WM_WINDOW_TYPE_UTILITY" : "_NET_WM_WINDOW_TYPE_DIALOG"));
    }

    // Fixed size: the size hints' minimum and maximum are the window's own size.
    const std::vector<uint32_t> hints = x.Property32(w, "WM_NORMAL_HINTS");
    QVERIFY(hints.size() >= 9);
    QVERIFY((hints[0] & 16) && (hints[0] & 32));  // PMinSize, PMaxSize
    QCOMPARE(QSize(int(hints[5]), int(hints[6])), xWindow.size());
    QCOMPARE(QSize(int(hints[7]), int(hints[8])), xWindow.size());
    // The close box only: the window manager may offer close, never minimise or maximise.
    const std::vector<uint32_t> motif = x.Property32(w, "_MOTIF_WM_HINTS");
    QVERIFY(motif.size() >= 2 && (motif[0] & 1));
    QVERIFY(motif[1] & 0x20);
    QCOMPARE(motif[1] & (0x08 | 0x10), 0u);
    // No taskbar entry.
    QVERIFY(x.HasState(w, "_NET_WM_STATE_SKIP_TASKBAR"));

    // The program icon, both sizes (32 and 16 pixels at 96 dpi, in proportion at another
    // density), on the main window; none of its own on the others.
    const QList<QImage> mainIcons = x.Icons(s.main);
    const int big = Px(480), small = qRound(16 * Dpi() / 96.0);
    QSet<int> sizes;
    for (const QImage& i : mainIcons) sizes.insert(i.width() * 1000 + i.height());
    QVERIFY2(sizes.contains(big * 1001) && sizes.contains(small * 1001), "the main window's icons");
    if (icon) {
      // Image1 shows the large image at natural size, 120 twips from the corner.
      QImage image;
      for (const QImage& i : mainIcons)
        if (i.width() == big) image = i;
      const QImage shown =
          x.Grab(QRect(xWindow.topLeft() + QPoint(Px(120), Px(120)), QSize(big, big)));
      int opaque = 0, same = 0;
      for (int y = 0; y < big; ++y)
        for (int xx = 0; xx < big; ++xx)
          if (qAlpha(image.pixel(xx, y)) == 255) {
            ++opaque;
            same += (image.pixel(xx, y) & 0xFFFFFF) == (shown.pixel(xx, y) & 0xFFFFFF);
          }
      QVERIFY(opaque > big * big / 10);
      QCOMPARE(same, opaque);
    } else {
      // Wine gives an icon-less window a generic icon of its own; it must not be the program's.
      for (const QImage& i : x.Icons(w))
        for (const QImage& m : mainIcons) QVERIFY(i.size() != m.size() || i != m);
    }
    QVERIFY(s.Exit());
  }

  // Begin opens the test window and the canvas draws; Stop or the close box end the test,
  // the test window goes, the main window stays and the program falls idle.
  void testEnds_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Stop") << false;
    QTest::newRow("close box") << true;
  }
  void testEnds() {
    QFETCH(bool, closeBox);
    Session s;
    QVERIFY(s.Start());
    QVERIFY(s.Press(kBegin));
    const xcb_window_t test = FindWindow(s.pid, kTestTitle);
    QVERIFY(test);
    const QRect client = ClientArea(test, kTestTitle);
    QCOMPARE(client.size(), QSize(Px(6270), Px(6810)));
    QVERIFY2(CanvasDraws(client), "the canvas shows no drawing");
    if (closeBox)
      QVERIFY(X().SendClose(test));
    else
      QVERIFY(Click(test, client, kStop.x(), kStop.y()));
    QVERIFY2(Gone(s.pid, kTestTitle), "the test window stayed");
    QVERIFY(s.Running());
    QCOMPARE(Windows(s.pid, kMainTitle).size(), 1);
    const double cpu = s.CpuSeconds(1500);
    QVERIFY2(cpu >= 0 && cpu < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 1.5 s").arg(cpu)));
    // A fresh test starts again.
    QVERIFY(s.Press(kBegin));
    const xcb_window_t again = FindWindow(s.pid, kTestTitle);
    QVERIFY(again);
    QVERIFY(CanvasDraws(ClientArea(again, kTestTitle)));
    QVERIFY(s.Exit());
  }

  // Begin while a test runs only brings the test window to the front.
  void beginWhileRunningRaises() {
    Session s;
    QVERIFY(s.Start());
    QVERIFY(s.Press(kBegin));
    const xcb_window_t test = FindWindow(s.pid, kTestTitle);
    QVERIFY(test);
    // The main window comes to the front, over the test window, as a user's click brings it.
    X x;
    if (WindowManagerRuns())
      QVERIFY(Xdotool({"windowactivate", "--sync", QString::number(s.main)}));
    else
      QVERIFY(Xdotool({"windowraise", QString::number(s.main)}));
    auto above = [&x, &s](xcb_window_t w) {
      const std::vector<xcb_window_t> order = x.Stacking();
      const auto a = std::find(order.begin(), order.end(), w);
      const auto b = std::find(order.begin(), order.end(), s.main);
      return a != order.end() && b != order.end() && a > b;
    };
    WaitFor([&] { return !above(test); });
    QVERIFY(!above(test));
    QVERIFY(s.Press(kBegin));
    WaitFor([&] { return above(test); });
    QVERIFY2(above(test), "the test window is not in front of the main window");
    const QList<xcb_window_t> tests = Windows(s.pid, kTestTitle);
    QCOMPARE(tests.size(), 1);
    QCOMPARE(tests.first(), test);
    if (WindowsProgram()) {
      const std::optional<WinWindow> win = ProbeWindow(kTestTitle);
      const std::optional<WinWindow> main = ProbeWindow(kMainTitle);
      QVERIFY(win && main);
      QVERIFY(win->active);
      QVERIFY(win->zorder < main->zorder);
    }
    QVERIFY(s.Exit());
  }

  // Stop then Begin in one go: a second test runs nested inside the first one's pump, and
  // both end cleanly when it is stopped.
  void stopThenBeginNests() {
    Session s;
    QVERIFY(s.Start());
    QVERIFY(s.Press(kBegin));
    xcb_window_t first = FindWindow(s.pid, kTestTitle);
    QVERIFY(first);
    QVERIFY(s.MoveAside(first, 700, 0));
    QRect client = ClientArea(first, kTestTitle);
    QVERIFY(CanvasDraws(client));
    QVERIFY(s.StopThenBegin(first));
    // The first window goes (Wine without a window manager keeps a window on the screen for
    // 2 s after it is hidden, waiting for a window manager to answer), and a second comes.
    QVERIFY2(WaitFor([&] { return !Windows(s.pid, kTestTitle).contains(first); }),
             "the first test window stayed");
    const xcb_window_t second = FindWindow(s.pid, kTestTitle);
    QVERIFY2(second && second != first, "no second test window");
    QCOMPARE(Windows(s.pid, kTestTitle).size(), 1);
    QVERIFY(s.MoveAside(second, 700, 0));
    client = ClientArea(second, kTestTitle);
    QVERIFY(CanvasDraws(client));
    QVERIFY(Click(second, client, kStop.x(), kStop.y()));
    QVERIFY(Gone(s.pid, kTestTitle));
    // Both cycles have ended: the program is idle.
    const double cpu = s.CpuSeconds(1500);
    QVERIFY2(cpu >= 0 && cpu < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 1.5 s").arg(cpu)));
    QCOMPARE(Windows(s.pid, kMainTitle).size(), 1);
    QVERIFY(s.Exit());
  }

  // The computer is kept awake while a test runs, and only then: asked when a test starts and
  // let go when the last one ends, by Stop (also after Stop then Begin at once), the close box
  // or Exit (nested tests are the random walk's: held exactly while any runs). The Linux program
  // asks stand-ins for the desktop portal or (no portal answering) the screen saver on a bus of the
  // test's own, and with no bus says and waits for nothing; Wine traces the Windows program's
  // execution state.
  void keptAwake_data() {
    QTest::addColumn<QString>("desktop");  // the stand-in's service, or none and no bus
    QTest::newRow("portal") << "portal";
    QTest::newRow("screen saver") << "screensaver";
    QTest::newRow("no bus") << QString();
  }
  void keptAwake() {
    QFETCH(QString, desktop);
    const bool windows = WindowsProgram();
    if (windows && desktop != QLatin1String("portal")) QSKIP("the Windows program asks Windows");
    if (!windows && !BusTools()) QSKIP("needs dbus and python3-gi");
    Bus bus;
    QProcess* standin = nullptr;
    QProcessEnvironment env;
    if (windows) {
      env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all,warn+ntdll"));
    } else if (!desktop.isEmpty()) {
      QVERIFY(bus.Start());
      standin =
          bus.Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(DESKTOP_STANDIN), desktop});
      QVERIFY(standin->waitForReadyRead(20000));  // it owns its name
      env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
    }
    const int during = desktop.isEmpty() ? 0 : 1;
    Session s(env);
    QString log;
    int asked = 0, released = 0;
    auto held = [&] {
      log += QString::fromUtf8(windows   ? s.program.readAllStandardError()
                               : standin ? standin->readAllStandardOutput()
                                         : QByteArray());
      const QString on = windows ? "(0x80000001," : "inhibit ",
                    off = windows ? "(0x80000000," : "release ";
      asked = int(log.count(on));
      released = int(log.count(off));
      return asked - released;
    };
    QVERIFY(s.Start());
    QCOMPARE(held(), 0);
    QCOMPARE(asked, 0);
    QVERIFY(s.Press(kBegin));
    const xcb_window_t first = FindWindow(s.pid, kTestTitle);
    QVERIFY(first);
    QVERIFY(WaitFor([&] { return held() == during; }));
    if (desktop == QLatin1String("portal") && !windows)
      QVERIFY2(log.contains(QRegularExpression(" 4 \\S")), qPrintable(log));  // suspend, a reason
    QVERIFY(s.MoveAside(first, 700, 0));
    QVERIFY(s.StopThenBegin(first));
    QVERIFY(WaitFor([&] { return !Windows(s.pid, kTestTitle).contains(first); }));
    const xcb_window_t second = FindWindow(s.pid, kTestTitle);
    QVERIFY(second && second != first);
    QVERIFY(s.MoveAside(second, 700, 0));
    QVERIFY(CanvasDraws(ClientArea(second, kTestTitle)));
    QVERIFY(WaitFor([&] { return held() == during; }));
    QVERIFY(Click(second, ClientArea(second, kTestTitle), kStop.x(), kStop.y()));
    QVERIFY(WaitFor([&] { return held() == 0; }));
    // Begin again only once the window is gone: pressed while the test still runs, it would only
    // bring that window to the front (without a bus, nothing else tells that the test ended).
    QVERIFY(WaitFor([&] { return !Windows(s.pid, kTestTitle).contains(second); }));
    // The close box, then Exit during a test.
    QVERIFY(s.Press(kBegin));
    const xcb_window_t third = FindWindow(s.pid, kTestTitle);
    QVERIFY(third);
    QVERIFY(WaitFor([&] { return held() == during; }));
    QVERIFY(X().SendClose(third));
    QVERIFY(WaitFor([&] { return held() == 0; }));
    QVERIFY(WaitFor([&] { return !Windows(s.pid, kTestTitle).contains(third); }));
    QVERIFY(s.Press(kBegin));
    QVERIFY(FindWindow(s.pid, kTestTitle));
    QVERIFY(WaitFor([&] { return held() == during; }));
    QVERIFY(s.Exit());
    QVERIFY(WaitFor([&] { return held() == 0; }));
    QVERIFY2(asked >= 3 * during && released == asked, qPrintable(log));
    if (!windows) QCOMPARE(s.program.readAllStandardError(), QByteArray());
  }

  // An error found at the last image before Stop (the second: the window, open already, tells
  // the first and counts both, and nothing slows the test between the check and Stop): once
  // the test has ended, the error window says so, read from the screen (the labels as a screen
  // reader reads them, the Windows program's controls as Windows gives their texts), not only at
  // the next test.
  void errorShownAfterTheTest() {
    const bool windows = WindowsProgram();
    Bus bus;
    QProcessEnvironment env;
    env.insert(QStringLiteral("KELVARION_FAULT"), QStringLiteral("3 6"));
    if (!windows) {
      if (!BusTools() || !QFile::exists(QStringLiteral("/usr/libexec/at-spi-bus-launcher")))
        QSKIP("needs dbus, python3-gi and at-spi2-core");
      QVERIFY(bus.Start());
      bus.Run(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), {"--launch-immediately"});
      env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
      env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    }
    Session s(env, FaultCommand());
    QVERIFY(s.Start());
    QVERIFY(s.Press(kBegin));
    QVERIFY2(WaitFor([&] { return !Windows(s.pid, kErrorTitle).isEmpty(); }), "no error window");
    QVERIFY2(Gone(s.pid, kTestTitle), "the test did not stop");
    const QString image = QStringLiteral(
        "Image 3 (Logarithmic, order 2) came out different in pass 1 from its known answer.");
    const QRegularExpression count("^The test started on .+ has found 2 errors so far\\.$");
    QStringList texts;
    WaitFor([&] {
      texts = windows ? ControlTexts(kErrorTitle) : bus.Texts(s.pid, kErrorTitle);
      return texts.contains(image) && !texts.filter(count).isEmpty();
    });
    QVERIFY2(texts.contains(image), qPrintable(texts.join('\n')));
    QVERIFY2(!texts.filter(count).isEmpty(), qPrintable(texts.join('\n')));
    QVERIFY(s.Exit());
  }

  // About twice gives one window; OK and its close box close it, and nothing else.
  void aboutOnce_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("OK") << false;
    QTest::newRow("close box") << true;
  }
  void aboutOnce() {
    QFETCH(bool, closeBox);
    Session s;
    QVERIFY(s.Start());
    QVERIFY(s.Press(kAbout));
    const xcb_window_t about = FindWindow(s.pid, kAboutTitle);
    QVERIFY(about);
    QVERIFY(s.MoveAside(about, 0, 0));  // centred, it lies over the main window's buttons
    QVERIFY(s.Press(kAbout));
    QTest::qWait(500);  // on purpose: watches that no second About window comes
    const QList<xcb_window_t> abouts = Windows(s.pid, kAboutTitle);
    QCOMPARE(abouts.size(), 1);
    QCOMPARE(abouts.first(), about);
    if (closeBox)
      QVERIFY(X().SendClose(about));
    else
      QVERIFY(Click(about, ClientArea(about, kAboutTitle), kOK.x(), kOK.y()));
    QVERIFY2(Gone(s.pid, kAboutTitle), "the About window stayed");
    QVERIFY(s.Running());
    QCOMPARE(Windows(s.pid, kMainTitle).size(), 1);
    QVERIFY(s.Exit());
  }

  // The keyboard: the focus starts on the first control in tab order, Tab follows the
  // layouts' order, Space and Enter press the focused button from the first moment, Enter on
  // the canvas and Esc press nothing.
  void keyboard() {
    if (WindowsProgram() && !WindowManagerRuns())
      QSKIP("Wine takes keys from X only with a window manager");
    Session s;
    QVERIFY(s.Start());
    const qint64 pid = s.pid;
    // The pause after the keys is on purpose: some checks watch that a key does nothing.
    auto keys = [](const QStringList& k) {
      const bool ok = Xdotool(QStringList{"key", "--delay", "100"} + k);
      QTest::qWait(400);
      return ok;
    };
    // At a fresh start Enter presses Begin, which has the focus; in the test window the canvas
    // has it, and Enter there does nothing; Tab reaches Stop.
    QVERIFY(keys({"Return"}));
    QVERIFY2(FindWindow(pid, kTestTitle, 5000), "Enter at a fresh start did not press Begin");
    QVERIFY(keys({"Return"}));
    QCOMPARE(Windows(pid, kTestTitle).size(), 1);
    QVERIFY(keys({"Tab", "Return"}));
    QVERIFY2(Gone(pid, kTestTitle), "Tab, Enter in the test window did not stop the test");
    // Main: Begin has the focus; Tab reaches About.
    QVERIFY(keys({"Tab", "space"}));
    const xcb_window_t about = FindWindow(pid, kAboutTitle);
    QVERIFY2(about, "Tab, Space on the main window did not open About");
    // About: the picture has the focus; Esc does nothing; Tab reaches OK.
    QVERIFY(keys({"Escape"}));
    QCOMPARE(Windows(pid, kAboutTitle).size(), 1);
    QVERIFY(keys({"space"}));
    QCOMPARE(Windows(pid, kAboutTitle).size(), 1);
    QVERIFY(keys({"Tab", "space"}));
    QVERIFY2(Gone(pid, kAboutTitle), "Tab, Space in the About window did not close it");
    // Back in the main window with the focus where it was: Shift+Tab reaches Begin.
    QVERIFY(keys({"shift+Tab", "space"}));
    const xcb_window_t test = FindWindow(pid, kTestTitle);
    QVERIFY2(test, "Shift+Tab, Space did not start a test");
    // The test window: the canvas has the focus; Tab reaches Stop.
    QVERIFY(keys({"Tab", "space"}));
    QVERIFY2(Gone(pid, kTestTitle), "Tab, Space in the test window did not stop the test");
    if (WindowsProgram()) {
      // Enter presses the focused button, as on every Windows dialog.
      QVERIFY(keys({"Return"}));
      QVERIFY2(FindWindow(pid, kTestTitle), "Enter on Begin did not start a test");
      QVERIFY(keys({"Tab", "Return"}));
      QVERIFY(Gone(pid, kTestTitle));
    }
    QVERIFY(s.Exit());
  }
};

QTEST_GUILESS_MAIN(BlackBoxTest)
#include "test_blackbox.moc"
