// The frames a window manager puts around the windows, as it announces them (X11).
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QWidget>
#include <cmath>
#include <vector>

#include "services/qt/platform.h"

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>

#include "services/qt/x11.h"

namespace kelvarion::platform {

namespace {

// The 32-bit values of a property, or none.
std::vector<std::uint32_t> Property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                    xcb_atom_t type, std::uint32_t count) {
  std::vector<std::uint32_t> values;
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, count), nullptr);
  if (reply && reply->format == 32 && reply->type == type) {
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    values.assign(v, v + xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  return values;
}

struct FrameAtoms {
  xcb_atom_t check, supported, extents, request;
};

const FrameAtoms& Atoms(xcb_connection_t* c) {
  static const FrameAtoms atoms{Atom(c, "_NET_SUPPORTING_WM_CHECK"), Atom(c, "_NET_SUPPORTED"),
                                Atom(c, "_NET_FRAME_EXTENTS"),
                                Atom(c, "_NET_REQUEST_FRAME_EXTENTS")};
  return atoms;
}

// Posts FrameEvent() to a top-level window when the window manager writes its frame extents,
// and when it maps the window. The extents are the frame's final size: the frame window itself
// goes through intermediate sizes while the window manager takes the window.
class FrameWatch : public QObject, public QAbstractNativeEventFilter {
 public:
  FrameWatch(xcb_atom_t extents, QObject* application) : QObject(application), extents_(extents) {}
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* e = static_cast<const xcb_generic_event_t*>(message);
    xcb_window_t window = XCB_WINDOW_NONE;
    if ((e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
      const auto* p = static_cast<const xcb_property_notify_event_t*>(message);
      if (p->atom == extents_ && p->state == XCB_PROPERTY_NEW_VALUE) window = p->window;
    } else if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
      window = static_cast<const xcb_map_notify_event_t*>(message)->window;
    }
    if (window == XCB_WINDOW_NONE) return false;
    // Posted, so that they reach the window in the order the server sent them.
    QWidget* w = QWidget::find(window);
    if (w && w->isWindow()) QCoreApplication::postEvent(w, new QEvent(FrameEvent()));
    return false;
  }

 private:
  xcb_atom_t extents_;
};

// What the running window manager does about frames.
struct FrameSupport {
  bool announces = false;  // writes _NET_FRAME_EXTENTS on the windows it frames
  bool onRequest = false;  // also on an unmapped window, when asked
};

FrameSupport WindowManagerFrames(xcb_connection_t* c, xcb_window_t root) {
  const FrameAtoms& a = Atoms(c);
  FrameSupport support;
  // A window manager names a window of its own on the root, which names itself back; a stale
  // name left by one that has gone does not.
  const auto check = Property(c, root, a.check, XCB_ATOM_WINDOW, 1);
  if (check.empty() || Property(c, check[0], a.check, XCB_ATOM_WINDOW, 1) != check) return support;
  for (std::uint32_t atom : Property(c, root, a.supported, XCB_ATOM_ATOM, 4096)) {
    support.announces = support.announces || atom == a.extents;
    support.onRequest = support.onRequest || atom == a.request;
  }
  support.onRequest = support.onRequest && support.announces;
  return support;
}

}  // namespace

QEvent::Type FrameEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

FrameNews ReadFrame(QWidget* window, QMargins& frame) {
  frame = QMargins();
  xcb_connection_t* c = X11Connection();
  if (!c) return FrameNews::kNever;
  const FrameAtoms& a = Atoms(c);
  if (a.check == XCB_ATOM_NONE || a.extents == XCB_ATOM_NONE) return FrameNews::kNever;
  // One watch for the application's life, freed with it.
  static QPointer<FrameWatch> watch;
  if (!watch) {
    watch = new FrameWatch(a.extents, QCoreApplication::instance());
    QCoreApplication::instance()->installNativeEventFilter(watch);
  }
  const auto id = static_cast<xcb_window_t>(window->winId());
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
  if (!geometry) return FrameNews::kNever;
  const xcb_window_t root = geometry->root;
  std::free(geometry);
  const FrameSupport support = WindowManagerFrames(c, root);
  // Without one that announces frames (or without any), the toolkit's guess is all there is.
  if (!support.announces) return FrameNews::kNever;
  const auto extents = Property(c, id, a.extents, XCB_ATOM_CARDINAL, 4);
  if (extents.size() != 4) {
    if (support.onRequest) {
      xcb_client_message_event_t e{};
      e.response_type = XCB_CLIENT_MESSAGE;
      e.format = 32;
      e.window = id;
      e.type = a.request;
      xcb_send_event(c, 0, root,
                     XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                     reinterpret_cast<const char*>(&e));
      xcb_flush(c);
    }
    return FrameNews::kPending;
  }
  // Device pixels to the toolkit's; _NET_FRAME_EXTENTS is left, right, top, bottom.
  const qreal ratio = window->devicePixelRatioF();
  auto logical = [ratio](std::uint32_t v) { return static_cast<int>(std::lround(v / ratio)); };
  frame =
      QMargins(logical(extents[0]), logical(extents[2]), logical(extents[1]), logical(extents[3]));
  // A window manager maps a window once it has framed it: the extents then are final (it
  // changes them later only at the user's bidding).
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
  const bool mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  std::free(attributes);
  return mapped ? FrameNews::kSettled : FrameNews::kAnnounced;
}

}  // namespace kelvarion::platform
#else
namespace kelvarion::platform {
FrameNews ReadFrame(QWidget*, QMargins& frame) {
  frame = QMargins();
  return FrameNews::kNever;
}
QEvent::Type FrameEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}
}  // namespace kelvarion::platform
#endif
