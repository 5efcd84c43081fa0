#pragma once
// The seam between the windows' shared model (form.h) and a platform's toolkit. Each backend
// (services/qt for Linux, services/win32 for Windows) implements these for its own windows and
// controls; nothing above this line knows which toolkit draws.

#include <functional>
#include <string>
#include <string_view>

#include "services/canvas_surface.h"
#include "services/layout.h"

namespace kelvarion {

class Form;

// A live control of a loaded window. Each kind answers what it has; the rest does nothing.
class ControlPeer {
 public:
  // A label's caption: current at once, shown at the next repaint frame.
  virtual void SetText(std::string_view text) { (void)text; }
  virtual std::string Text() const { return {}; }
  // A button's handler, run when it is pressed (mouse, Space or Enter).
  virtual void SetClick(std::function<void()> click) { (void)click; }
  // A canvas's persistent image.
  virtual CanvasSurface* Surface() { return nullptr; }

 protected:
  ~ControlPeer() = default;
};

// A loaded window, built afresh from its layout by CreateWindowPeer.
class WindowPeer {
 public:
  // The control the layout names so, or nullptr.
  virtual ControlPeer* Control(const char* name) = 0;
  // Makes the window visible if it is not (off the taskbar, centred on its screen, the focus
  // on the first control in tab order that takes it) and brings it to the front.
  virtual void ShowAndRaise() = 0;
  // Makes the window visible if it is not (off the taskbar, the focus on its first control
  // that takes it) without making it the active window, placed beside `anchor`'s window on
  // the anchor's screen: wholly on the screen and clear of the anchor where the screen has
  // room, else on the screen covering as little of the anchor as it can; centred on the
  // screen if `anchor` is nullptr. Then brings it to the front. A window that is visible
  // already is only brought to the front.
  virtual void ShowBeside(const WindowPeer* anchor) = 0;
  // Hides the window at once and frees it and its controls as soon as none of its own event
  // handlers is on the stack. The form has let go of it already.
  virtual void Release() = 0;

 protected:
  ~WindowPeer() = default;
};

// Builds `form`'s window and controls from its layout, not yet visible. Closing it from the
// window system (its close box) calls form.Unload().
WindowPeer* CreateWindowPeer(Form& form, const FormLayout& layout);

// Windows and controls alive, loaded or waiting to be freed: for leak checks.
int LiveWidgetCount();
// Frees released windows none of whose handlers is on the stack (normally done at the next pump
// or turn of the event loop).
void FreeUnloadedWindows();

}  // namespace kelvarion
