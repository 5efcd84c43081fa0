#pragma once
// The Windows backend's windows and controls, over user32 and gdi32 alone. Every window
// procedure of a window (its own and its controls') counts the messages being handled on its
// top-level window (WindowBase).

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
#include "services/peer_base.h"

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
class ControlBase : public virtual ControlPeer {
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

// A label (LabelBase: a caption set at run time shows at the next frame).
class LabelControl : public ControlBase, public LabelBase {
 public:
  LabelControl(FormWindow& top, const ControlLayout& layout, int id);

 protected:
  void Display(const std::string& text) override;
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

// A picture box (PictureBase), its canvas image a DIB section. It takes the focus and shows it
// with the system's focus rectangle on the interior's outermost pixels while the window's
// keyboard cues show, on the screen only: a canvas's image stays as it is.
class PictureControl : public ControlBase, public PictureBase {
 public:
  PictureControl(FormWindow& top, const ControlLayout& layout, int id);
  ~PictureControl() override;
  void Arrange(UINT dpi) override;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  bool Shown() const override;
  void Invalidate(int x, int y, int width, int height) override;

 private:
  void Rebuild();  // sizes the image to the interior, keeping what was drawn
  void Paint();
  void InvalidateFocusFrame();
  HBITMAP picture_ = nullptr;  // the picture shown, or nullptr
  HBITMAP image_ = nullptr;    // the canvas's persistent image
  HDC imageDc_ = nullptr;
  HGDIOBJ imageDcOld_ = nullptr;
};

class FormWindow final : public WindowBase {
 public:
  FormWindow(Form& form, const FormLayout& layout);
  ~FormWindow() override;

  void ShowAndRaise() override;
  void ShowBeside(const WindowPeer* anchor) override;

  HWND hwnd() const { return hwnd_; }
  // The window of the control the layout names so, or nullptr: for tests and tools.
  HWND ControlWindow(const char* name) const;
  UINT dpi() const { return dpi_; }
  HFONT Font(bool bold) const { return bold ? boldFont_ : font_; }
  // The focus has moved to `control`, a control of this window: a push button with the focus
  // is the window's default button, so that Enter presses it, and there is none otherwise.
  void FocusMoved(HWND control);
  // The window's keyboard cues (UISF_HIDEFOCUS, UISF_HIDEACCEL), which it and its controls
  // answer WM_QUERYUISTATE with. The window keeps them itself, by the system's rules, as not
  // every system keeps them for windows that are not dialogs (Wine 8 answers 0 always).
  WORD UiState() const { return uiState_; }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  void HideNow() override;

 private:
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Arrange(UINT dpi);          // fonts, icons and controls at `dpi`
  SIZE OuterSize(UINT dpi) const;  // the window's size for the layout's inner size
  void Place();                    // centred on its monitor's work area
  void PlaceBeside(HWND anchor);   // beside `anchor` on its monitor's work area
  HWND FirstInTabOrder() const;
  void RestoreFocus();
  void InitialiseCues();  // keyboard cues as Windows shows them in a window that opens
  void ApplyCues(WORD action, WORD flags);  // a WM_CHANGEUISTATE or WM_UPDATEUISTATE
  void SetDefaultButton(int id);

  Form* form_;
  const FormLayout& layout_;
  HWND hwnd_ = nullptr;
  DWORD style_ = 0, exStyle_ = 0;
  UINT dpi_ = 96;
  HFONT font_ = nullptr, boldFont_ = nullptr;
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
  HWND focus_ = nullptr;  // the control that had the focus when the window was last active
  std::vector<std::unique_ptr<ControlBase>> controls_;
  int defaultId_ = 0;  // the default push button's id, 0 for none
  WORD uiState_ = 0;
};

// Whether the user last used the keyboard rather than the mouse (a window that opens then shows
// its keyboard cues at once).
bool LastInputWasKeyboard();

// The live top-level window of `form`, or nullptr once it is unloaded: for tools and the
// benchmark.
inline HWND WindowOf(const Form& form) {
  const auto* w = static_cast<const FormWindow*>(form.peer());
  return w ? w->hwnd() : nullptr;
}

}  // namespace win32
}  // namespace kelvarion
