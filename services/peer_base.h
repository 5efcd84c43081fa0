#pragma once
// What every backend's windows and controls share, written once: when a released window is
// freed, which captions wait for the next frame, how a canvas keeps its image and the columns
// drawn on it, and when a frame is due. A backend derives its windows and controls from these
// and adds only its toolkit's calls (the `backend` functions below and the virtual ones).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/canvas_surface.h"
#include "services/peer.h"

namespace kelvarion {

// A loaded window. Every handler of the window and of its controls runs between Enter and
// Leave, counted on the window (`busy`). Release hides the window at once but frees it only when
// none of them is on the stack, so a handler that unloads its own window (Stop, OK, the close
// box) never returns into freed memory.
class WindowBase : public WindowPeer {
 public:
  virtual ~WindowBase() = default;
  ControlPeer* Control(const char* name) final;
  // Makes `peer` the control the layout names `name` (a name that lives as long as the layout).
  void AddControl(const char* name, ControlPeer* peer) { controls_.emplace_back(name, peer); }
  void Enter() { ++busy_; }
  void Leave();
  bool Busy() const { return busy_ > 0; }
  bool Dead() const { return dead_; }
  void Release() final;

 protected:
  // Takes the window off the screen at once (the toolkit's part of Release).
  virtual void HideNow() = 0;

 private:
  std::vector<std::pair<const char*, ControlPeer*>> controls_;
  int busy_ = 0;
  bool dead_ = false;
};

// Counts a handler on its window for as long as it runs.
class BusyScope {
 public:
  explicit BusyScope(WindowBase& window) : window_(window) { window_.Enter(); }
  ~BusyScope() { window_.Leave(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  WindowBase& window_;
};

// A label whose caption, set at run time, is shown at the next repaint frame: a caption that
// changes hundreds of times a second (the image count) would otherwise repaint the window as
// often. The caption itself is current at once.
class LabelBase : public virtual ControlPeer {
 public:
  void SetText(std::string_view text) final;
  std::string Text() const final;
  void ShowCaption();  // puts a caption set since the last frame on the screen

 protected:
  explicit LabelBase(std::string shown) : shown_(std::move(shown)) {}
  ~LabelBase();
  // Puts `text` (UTF-8) on the screen: the toolkit's part of ShowCaption.
  virtual void Display(const std::string& text) = 0;

 private:
  std::string next_;
  std::string shown_;
  bool pending_ = false;
};

// A picture box: a 2-pixel sunken edge around an interior that shows a picture or, as a canvas,
// a persistent image in device pixels that the kernel draws into. The toolkit owns the image's
// memory; this keeps the surface the kernel sees and the columns drawn since the last frame.
class PictureBase : public virtual ControlPeer {
 public:
  static constexpr int kBorder = 2;  // device pixels, at every density

  CanvasSurface* Surface() final { return canvas_ ? &surface_ : nullptr; }
  bool IsCanvas() const { return canvas_; }
  // Asks for a repaint of the columns drawn since the last frame, if the box is on the screen.
  void Flush();
  // The interior's size in device pixels for a box of `outerWidth` x `outerHeight`.
  static int Interior(int outer) { return outer > 2 * kBorder ? outer - 2 * kBorder : 0; }

 protected:
  explicit PictureBase(bool canvas);
  ~PictureBase();
  // Whether the interior is `width` x `height` already.
  bool Sized(int width, int height) const {
    return surface_.bits && surface_.width == width && surface_.height == height;
  }
  // Makes a freshly made image of `width` x `height` pixels (`stride` a row; nullptr if none
  // could be made) the canvas's: filled with `background` where what was drawn on the old one,
  // still alive, does not reach.
  void Adopt(std::uint32_t* bits, int width, int height, int stride, std::uint32_t background);
  // Whether the box is on the screen, and a repaint of device pixels of the box (edge
  // included): the toolkit's parts of Flush.
  virtual bool Shown() const = 0;
  virtual void Invalidate(int x, int y, int width, int height) = 0;

 private:
  bool canvas_;
  std::vector<unsigned char> drawn_;
  CanvasSurface surface_;
};

// Puts pending captions on the screen and asks for repaints of what changed on every shown
// canvas, at most 40 times a second; true if a frame was due.
bool FlushRepaints(std::int64_t nowNs);
// The same at once, whether a frame is due or not: for the event loop when it is about to wait.
// What a test said last (an error found at its last image, just before Stop) would otherwise
// wait for the next frame, which only a running test's pumps bring.
void ShowPending();

// Whether released windows wait to be freed.
bool AnyReleasedWindows();

// What the shared code asks of the backend's toolkit.
namespace backend {
// Runs every pending event of the window system and everything the program posted to itself.
void ReadEventQueue();
// Runs what the program posted to itself, without reading the window system's queue.
void RunPostedEvents();
// Has the event loop call FreeUnloadedWindows at its next turn, at whatever depth of nested
// pumps the program is.
void PostFreeUnloaded();
}  // namespace backend

}  // namespace kelvarion
