#pragma once
// The Windows backend's windows and controls, over user32 and gdi32 alone.
//
// Every window procedure of a window (its own and its controls') counts the messages being
// handled on its top-level window (`busy`). Unload hides a window at once but only marks it
// dead; the window and its controls are destroyed when no message of theirs is being handled,
// so a handler that unloads its own window (Stop, OK, the close box) never returns into a
// destroyed window.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/canvas_surface.h"
#include "services/form.h"
#include "services/layout.h"
#include "services/peer.h"

namespace kelvarion {

class Form;

namespace win32 {

// Set up once, before the first window: window classes and the hidden owner window.
void Initialise();
HINSTANCE Module();
// The hidden window that owns every window of the program: owned windows get no taskbar entry.
HWND Owner();

// The window classes of the program's windows and picture boxes.
const wchar_t* FormClass();
const wchar_t* PictureClass();
bool IsFormWindow(HWND window);
// Asks the message loop to free released windows at its next turn.
void PostFreeReleased();

// Runs a retrieved message through the dialog manager of the program's window it belongs to
// (Tab, Shift+Tab, arrows, Enter and Space on buttons), or dispatches it.
void Dispatch(MSG& msg);

// Windows and controls alive (created and not yet destroyed).
int& LiveWindows();

// Pixels per inch and the metrics that go with them. Windows 10 gives each window the pixels
// per inch of its monitor; older systems have one value for all, and these fall back to it.
UINT DpiOf(HWND window);
int MetricForDpi(int index, UINT dpi);
void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);

// The program's pictures, named as the layouts name them ("kelvarion.ico", "about.bmp"): the
// icon at `size` x `size` pixels, the bitmap as a DIB section; nullptr if there is none.
HICON LoadIconResource(const char* name, int size);
HBITMAP LoadBitmapResource(const char* name);

// UTF-8 and the system's UTF-16.
std::wstring Wide(std::string_view text);
std::string Narrow(const wchar_t* text, int length);

// Twips at `dpi` dots per inch, rounded to the nearest device pixel.
inline int TwipsToDevice(int twips, UINT dpi) {
  return MulDiv(twips, static_cast<int>(dpi), 1440);
}

class FormWindow;

// What every control of a window shares: its window, its layout and its top-level window.
class ControlBase : public ControlPeer {
 public:
  ControlBase(FormWindow& top, const ControlLayout& layout) : top_(top), layout_(layout) {}
  virtual ~ControlBase() = default;
  HWND hwnd() const { return hwnd_; }
  const ControlLayout& layout() const { return layout_; }
  FormWindow& top() const { return top_; }
  // Places the control at its layout's twips at `dpi`, with the window's fonts.
  virtual void Arrange(UINT dpi);
  // A BN_CLICKED or similar notification from the control.
  virtual void Command(WORD code) { (void)code; }

 protected:
  // Creates the control's window as a child of `top`. A control of a system class is
  // subclassed so that its messages count as the window's; the program's own class counts them
  // in its own procedure.
  void Create(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, bool subclass);
  FormWindow& top_;
  const ControlLayout& layout_;
  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  WNDPROC original_ = nullptr;
};

class ButtonControl : public ControlBase {
 public:
  ButtonControl(FormWindow& top, const ControlLayout& layout, int id);
  void SetClick(std::function<void()> click) override { click_ = std::move(click); }
  void Command(WORD code) override;

 private:
  std::function<void()> click_;
};

// A label whose caption, set at run time, is shown at the next repaint frame: a caption that
// changes hundreds of times a second (the image count) would otherwise repaint as often. The
// caption itself is current at once.
class LabelControl : public ControlBase {
 public:
  LabelControl(FormWindow& top, const ControlLayout& layout, int id);
  ~LabelControl() override;
  void SetText(std::string_view text) override;
  std::string Text() const override;
  void ShowCaption();  // applies a caption set since the last frame

 private:
  std::wstring next_;
  std::wstring shown_;
  bool pending_ = false;
};

// The program icon at natural size (scaled to the window's pixels per inch).
class ImageControl : public ControlBase {
 public:
  ImageControl(FormWindow& top, const ControlLayout& layout, int id);
  ~ImageControl() override;
  void Arrange(UINT dpi) override;

 private:
  HICON icon_ = nullptr;
};

// A picture box: a 2-pixel sunken edge around an interior that shows a picture, filling it, or,
// as a canvas, a persistent image in device pixels (a DIB section) that the kernel draws into.
class PictureControl : public ControlBase {
 public:
  PictureControl(FormWindow& top, const ControlLayout& layout, int id);
  ~PictureControl() override;
  CanvasSurface* Surface() override { return canvas_ ? &surface_ : nullptr; }
  void Arrange(UINT dpi) override;
  // Asks for a repaint of the columns drawn since the last one.
  void Flush();
  bool IsCanvas() const { return canvas_; }

  static constexpr int kBorder = 2;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Rebuild();  // sizes the image to the interior, keeping what was drawn
  void Paint();
  bool canvas_;
  HBITMAP picture_ = nullptr;  // the picture shown, or nullptr
  HBITMAP image_ = nullptr;    // the canvas's persistent image
  HDC imageDc_ = nullptr;
  HGDIOBJ imageDcOld_ = nullptr;
  std::vector<unsigned char> drawn_;
  CanvasSurface surface_;
};

class FormWindow final : public WindowPeer {
 public:
  FormWindow(Form& form, const FormLayout& layout);
  ~FormWindow();

  ControlPeer* Control(const char* name) override;
  void ShowAndRaise() override;
  void ShowBeside(const WindowPeer* anchor) override;
  void Release() override;

  HWND hwnd() const { return hwnd_; }
  UINT dpi() const { return dpi_; }
  HFONT Font(bool bold) const { return bold ? boldFont_ : font_; }
  void Enter() { ++busy_; }
  void Leave() { --busy_; }
  bool Busy() const { return busy_ > 0; }
  bool Dead() const { return dead_; }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Arrange(UINT dpi);          // fonts, icons and controls at `dpi`
  SIZE OuterSize(UINT dpi) const;  // the window's size for the layout's inner size
  void Place();                    // centred on its monitor's work area
  void PlaceBeside(HWND anchor);   // beside `anchor` on its monitor's work area
  HWND FirstInTabOrder() const;
  void RestoreFocus();

  Form* form_;
  const FormLayout& layout_;
  HWND hwnd_ = nullptr;
  DWORD style_ = 0, exStyle_ = 0;
  UINT dpi_ = 96;
  HFONT font_ = nullptr, boldFont_ = nullptr;
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
  HWND focus_ = nullptr;  // the control that had the focus when the window was last active
  std::vector<std::unique_ptr<ControlBase>> controls_;
  int busy_ = 0;
  bool dead_ = false;
};

// Applies pending captions and asks for repaints of what changed on every canvas, at most 40
// times a second; true if a frame was due.
bool FlushRepaints(std::int64_t nowNs);
// Frees the released windows that no message is being handled for.
void FreeIdleWindows();
bool AnyReleasedWindows();

// The live top-level window of `form`, or nullptr once it is unloaded: for tools and the
// benchmark.
inline HWND WindowOf(const Form& form) {
  const auto* w = static_cast<const FormWindow*>(form.peer());
  return w ? w->hwnd() : nullptr;
}

}  // namespace win32
}  // namespace kelvarion
