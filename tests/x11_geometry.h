#pragma once
// Where a top-level window stands on an X display, read from the X server over a connection of
// the test's own, as any other client would see it: not from the toolkit's bookkeeping, which
// can lag behind the server or guess the frame.
#include <xcb/xcb.h>

#include <QMargins>
#include <QRect>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "tests/centred.h"

namespace x11 {

struct Placement {
  QRect client;                     // the window's inner area, in screen coordinates
  QRect frame;                      // the outermost window under the root that holds it
  bool reparented = false;          // a window manager took it into a frame window
  bool viewable = false;            // mapped, and so are all its ancestors
  std::optional<QMargins> extents;  // the frame the window manager announces on it
  QRect available;                  // the screen's work area (the whole screen without one)

  QString Describe() const {
    auto rect = [](const QRect& r) {
      return QStringLiteral("%1 x %2 at (%3, %4)")
          .arg(r.width())
          .arg(r.height())
          .arg(r.x())
          .arg(r.y());
    };
    QString text = QStringLiteral("inner %1, frame %2").arg(rect(client), rect(frame));
    if (!reparented) text += QStringLiteral(" (not framed)");
    if (!viewable) text += QStringLiteral(" (not viewable)");
    if (extents)
      text += QStringLiteral(", extents %1 %2 %3 %4")
                  .arg(extents->left())
                  .arg(extents->top())
                  .arg(extents->right())
                  .arg(extents->bottom());
    return text + QStringLiteral(", work area ") + rect(available);
  }
};

class Display {
 public:
  Display() : c_(xcb_connect(nullptr, nullptr)) {}
  ~Display() { xcb_disconnect(c_); }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;
  bool ok() const { return xcb_connection_has_error(c_) == 0; }

  // Whether a window manager runs on the display (one names a window of its own on the root).
  bool WindowManager() {
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c_,
        xcb_get_property(c_, 0, xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root,
                         Atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    const bool named = r && xcb_get_property_value_length(r) == 4;
    std::free(r);
    return named;
  }

  std::optional<Placement> Read(xcb_window_t window) {
    Placement p;
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
    if (!g) return std::nullopt;
    const xcb_window_t root = g->root;
    p.client.setSize(QSize(g->width, g->height));
    std::free(g);
    xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
        c_, xcb_translate_coordinates(c_, window, root, 0, 0), nullptr);
    if (!t) return std::nullopt;
    p.client.moveTopLeft(QPoint(t->dst_x, t->dst_y));
    std::free(t);
    xcb_get_window_attributes_reply_t* a =
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr);
    p.viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    // Up the tree to the root's child: the window manager's frame, or the window itself.
    xcb_window_t top = window;
    for (;;) {
      xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, top), nullptr);
      if (!tree) return std::nullopt;
      const xcb_window_t parent = tree->parent;
      std::free(tree);
      if (parent == root || parent == XCB_WINDOW_NONE) break;
      top = parent;
    }
    p.reparented = top != window;
    g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, top), nullptr);
    if (!g) return std::nullopt;
    p.frame = QRect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    std::free(g);
    const auto extents = Cardinals(window, "_NET_FRAME_EXTENTS");  // left, right, top, bottom
    if (extents.size() == 4)
      p.extents = QMargins(int(extents[0]), int(extents[2]), int(extents[1]), int(extents[3]));
    p.available = WorkArea(root);
    return p;
  }

 private:
  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return atom;
  }
  std::vector<std::uint32_t> Cardinals(xcb_window_t window, const char* name) {
    std::vector<std::uint32_t> values;
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, Atom(name), XCB_ATOM_CARDINAL, 0, 1024), nullptr);
    if (r && r->format == 32 && r->type == XCB_ATOM_CARDINAL) {
      const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r));
      values.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return values;
  }
  // The work area a window manager announces for the current desktop, else the whole screen.
  QRect WorkArea(xcb_window_t root) {
    const auto areas = Cardinals(root, "_NET_WORKAREA");
    const auto current = Cardinals(root, "_NET_CURRENT_DESKTOP");
    const std::size_t at = 4 * (current.empty() ? 0 : current[0]);
    if (areas.size() >= at + 4)
      return QRect(int(areas[at]), int(areas[at + 1]), int(areas[at + 2]), int(areas[at + 3]));
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, root), nullptr);
    const QRect screen = g ? QRect(0, 0, g->width, g->height) : QRect();
    std::free(g);
    return screen;
  }

  xcb_connection_t* c_;
};

// Whether a window that has just been mapped has settled: it is on the screen and, with a window
// manager, framed, with the frame the manager announced built (not one it is still building);
// where `centred`, it also stands centred (the frame with a window manager, without one the
// window itself), as the program's windows open.
inline bool Settled(const Placement& p, bool windowManager, bool centred) {
  if (!p.viewable) return false;
  if (windowManager && !(p.reparented && p.extents && p.frame == p.client.marginsAdded(*p.extents)))
    return false;
  return !centred || Centred(windowManager ? p.frame : p.client, p.available);
}

// Whether a window of inner size `inner` stands where it belongs, once it is on the screen. With
// a window manager, only once it is framed and the frame is the one announced (not one the
// manager is still building), and the frame is what is centred; without, the inner area is.
inline bool Placed(const Placement& p, QSize inner, bool windowManager) {
  if (p.client.size() != inner) return false;
  if (!windowManager && (p.reparented || p.frame != p.client)) return false;
  return Settled(p, windowManager, true);
}

}  // namespace x11
