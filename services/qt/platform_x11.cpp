// Platform file: Linux and other X11 desktops.
#include <QGuiApplication>
#include <QWidget>

#include "services/qt/platform.h"

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvarion::platform {

namespace {
xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}
}  // namespace

// Qt has no call for this on X11: it is the EWMH state _NET_WM_STATE_SKIP_TASKBAR. Written on
// the unmapped window, Qt merges it with its own states when it maps the window.
void SkipTaskbar(QWidget* window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
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
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const bool ok = xcb_connection_has_error(c) == 0;
  xcb_disconnect(c);
  if (ok) return;
  const QByteArray display = qgetenv("DISPLAY");
  if (display.isEmpty())
    std::fprintf(stderr, "Kelvarion1: no display to open windows on (DISPLAY is not set)\n");
  else
    std::fprintf(stderr, "Kelvarion1: cannot open display %s\n", display.constData());
  std::exit(1);
}

}  // namespace kelvarion::platform
#else
namespace kelvarion::platform {
void SkipTaskbar(QWidget*) {}
void RequireDisplay() {}
}  // namespace kelvarion::platform
#endif
