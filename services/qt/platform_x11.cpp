// Platform file: Linux and other X11 desktops.
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "services/qt/platform.h"

namespace kelvarion::platform {

namespace {

std::optional<QByteArray> Saved(const char* name) {
  if (!qEnvironmentVariableIsSet(name)) return std::nullopt;
  return qgetenv(name);
}
void Restore(const char* name, const std::optional<QByteArray>& value) {
  if (value)
    qputenv(name, *value);
  else
    qunsetenv(name);
}

std::optional<QByteArray> savedRuntime, savedTemp;
bool runtimeHidden = false;

// A folder the toolkit accepts as the runtime folder as it is: one of ours, closed to others.
bool RuntimeFolderUsable(const QByteArray& path) {
  struct stat st {};
  return !path.isEmpty() && stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == geteuid() && (st.st_mode & 0777) == 0700;
}

}  // namespace

// Closes the connection RequireDisplay opened, once the toolkit has its own.
void ReleaseDisplayProbe();

void BeginToolkitStart() {
  // The session bus is where libdbus would find it: the address in the environment, or the
  // user's bus socket in the runtime folder (the same checks libdbus makes). Without either it
  // would "autolaunch" one, starting dbus-launch and a dbus-daemon that outlive the program and
  // write under $HOME/.dbus. "disabled:" is an address of no transport: the connection fails
  // at once and quietly, and the toolkit goes on without accessibility.
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray bus = runtime + "/bus";
    struct stat st {};
    if (!runtime.isEmpty() && lstat(bus.constData(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_uid == getuid())
      qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus);
    else
      qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  }
  // At its start the toolkit looks into the runtime folder once (for a sandbox's marker file).
  // Where XDG_RUNTIME_DIR names no usable folder it makes one, $TMPDIR/runtime-<user>, and
  // says so on stderr. A temporary folder that cannot hold folders makes that fail instead.
  savedRuntime = Saved("XDG_RUNTIME_DIR");
  savedTemp = Saved("TMPDIR");
  runtimeHidden = !RuntimeFolderUsable(qgetenv("XDG_RUNTIME_DIR"));
  if (runtimeHidden) {
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", "/dev/null");
  }
}

void EndToolkitStart() {
  ReleaseDisplayProbe();
  if (!runtimeHidden) return;
  runtimeHidden = false;
  Restore("XDG_RUNTIME_DIR", savedRuntime);
  Restore("TMPDIR", savedTemp);
}

}  // namespace kelvarion::platform

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <cstdint>

#include "services/qt/x11.h"

namespace kelvarion::platform {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

xcb_connection_t* X11Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;  // nullptr on another platform plugin
}

namespace {

xcb_connection_t* probe = nullptr;
xcb_connection_t* watched = nullptr;
char watchedName[256];

void SayIfDisplayLost() {
  if (watched && xcb_connection_has_error(watched))
    std::fprintf(stderr, "Kelvarion1: lost the connection to display %s\n", watchedName);
}
}  // namespace

// Qt has no call for this on X11: it is the EWMH state _NET_WM_STATE_SKIP_TASKBAR. Written on
// the unmapped window, Qt merges it with its own states when it maps the window.
void SkipTaskbar(QWidget* window) {
  xcb_connection_t* c = X11Connection();
  if (!c) return;  // another platform plugin (offscreen, Wayland)
  static const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
  static const xcb_atom_t skip = Atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
  if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE) return;
  const auto id = static_cast<xcb_window_t>(window->winId());
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 64), nullptr);
  bool present = false;
  if (reply) {
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    const int n = xcb_get_property_value_length(reply) / 4;
    for (int i = 0; i < n; ++i) present = present || atoms[i] == skip;
    std::free(reply);
  }
  if (!present)
    xcb_change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &skip);
  xcb_flush(c);
}

void RequireDisplay() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty() && !platform.startsWith("xcb")) return;  // offscreen, Wayland, ...
  if (platform.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return;
  // Held open until the toolkit has connected: an X server that resets when its last client
  // leaves (one started for this program alone) would otherwise be resetting just then, and
  // refuse the toolkit.
  probe = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(probe) == 0) return;
  ReleaseDisplayProbe();
  const QByteArray display = qgetenv("DISPLAY");
  if (display.isEmpty())
    std::fprintf(stderr, "Kelvarion1: no display to open windows on (DISPLAY is not set)\n");
  else
    std::fprintf(stderr, "Kelvarion1: cannot open display %s\n", display.constData());
  std::exit(1);
}

void ReleaseDisplayProbe() {
  if (probe) xcb_disconnect(probe);
  probe = nullptr;
}

// When the X server goes away, Qt ends the process with exit(1) from inside its event
// handling; the exit handlers still run, and this one names what happened.
void ReportLostDisplay() {
  watched = X11Connection();
  if (!watched) return;
  std::snprintf(watchedName, sizeof watchedName, "%s", qgetenv("DISPLAY").constData());
  static const bool registered = std::atexit(SayIfDisplayLost) == 0;
  (void)registered;
}

void StopReportingLostDisplay() {
  watched = nullptr;  // the connection is closed with the application object
}

}  // namespace kelvarion::platform
#else
namespace kelvarion::platform {
void SkipTaskbar(QWidget*) {}
void RequireDisplay() {}
void ReleaseDisplayProbe() {}
void ReportLostDisplay() {}
void StopReportingLostDisplay() {}
}  // namespace kelvarion::platform
#endif
