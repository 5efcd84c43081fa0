// The controls of the program's windows: push buttons, labels, the icon and picture boxes.
#include <algorithm>
#include <cstring>

#include "services/pump.h"
#include "services/win32/win32.h"

namespace kelvarion {
namespace win32 {

namespace {

// A system colour (0x00BBGGRR) as a pixel of a 32-bit DIB (0x00RRGGBB).
std::uint32_t DibPixel(COLORREF c) {
  return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

}  // namespace

// The layouts name their pictures as files; the resource script gives them these names.
HICON LoadIconResource(const char* name, int size) {
  if (!name || std::strcmp(name, "kelvarion.ico") != 0) return nullptr;
  return static_cast<HICON>(LoadImageW(Module(), L"IDI_ICON1", IMAGE_ICON, size, size, 0));
}

HBITMAP LoadBitmapResource(const char* name) {
  if (!name || std::strcmp(name, "about.bmp") != 0) return nullptr;
  return static_cast<HBITMAP>(
      LoadImageW(Module(), L"ABOUT", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

// Controls --------------------------------------------------------------------------------------

void ControlBase::Create(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id,
                         bool subclass) {
  hwnd_ = CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0,
                          0, 0, 0, top_.hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          Module(), nullptr);
  if (!hwnd_) return;
  ++LiveWindows();
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (subclass)
    original_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlBase::SubclassProc)));
}

LRESULT CALLBACK ControlBase::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ControlBase*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  const WNDPROC original = self->original_;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    --LiveWindows();
    self->hwnd_ = nullptr;
    return CallWindowProcW(original, hwnd, message, wParam, lParam);
  }
  BusyScope busy(self->top_);
  if (message == WM_SETFOCUS) self->top_.FocusMoved(hwnd);
  if (message == WM_QUERYUISTATE) return self->top_.UiState();
  return CallWindowProcW(original, hwnd, message, wParam, lParam);
}

void ControlBase::Arrange(UINT dpi) {
  if (!hwnd_) return;
  const ControlLayout& c = layout_;
  MoveWindow(hwnd_, TwipsToDevice(c.left, dpi), TwipsToDevice(c.top, dpi),
             TwipsToDevice(c.width, dpi), TwipsToDevice(c.height, dpi), TRUE);
  SendMessageW(hwnd_, WM_SETFONT,
               reinterpret_cast<WPARAM>(top_.Font((c.style & kStyleBoldFont) != 0)), TRUE);
}

ButtonControl::ButtonControl(FormWindow& top, const ControlLayout& layout, int id)
    : ControlBase(top, layout) {
  Create(L"BUTTON", Wide(layout.content ? layout.content : "").c_str(), WS_TABSTOP | BS_PUSHBUTTON,
         id, true);
}

void ButtonControl::Command(WORD code) {
  if (code != BN_CLICKED || !click_) return;
  const std::function<void()> click = click_;  // the handler may unload this very window
  click();
}

// Labels wrap at word boundaries (SS_LEFT, SS_RIGHT); a value label is right-aligned; "&" is
// plain text, not an access key.
LabelControl::LabelControl(FormWindow& top, const ControlLayout& layout, int id)
    : ControlBase(top, layout), LabelBase(layout.content ? layout.content : "") {
  const DWORD align = (layout.style & kStyleValue) ? SS_RIGHT : SS_LEFT;
  Create(L"STATIC", Wide(layout.content ? layout.content : "").c_str(), align | SS_NOPREFIX, id,
         true);
}

void LabelControl::Display(const std::string& text) {
  if (hwnd_) SetWindowTextW(hwnd_, Wide(text).c_str());
}

ImageControl::ImageControl(FormWindow& top, const ControlLayout& layout, int id)
    : ControlBase(top, layout) {
  // The control keeps the layout's size (SS_REALSIZECONTROL); the icon is loaded at that size.
  Create(L"STATIC", nullptr, SS_ICON | SS_REALSIZECONTROL, id, true);
}

ImageControl::~ImageControl() {
  if (icon_) DestroyIcon(icon_);
}

void ImageControl::Arrange(UINT dpi) {
  ControlBase::Arrange(dpi);
  if (!hwnd_) return;
  HICON icon = LoadIconResource(layout_.content, TwipsToDevice(layout_.width, dpi));
  SendMessageW(hwnd_, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  if (icon_) DestroyIcon(icon_);
  icon_ = icon;
}

// Picture boxes --------------------------------------------------------------------------------

PictureControl::PictureControl(FormWindow& top, const ControlLayout& layout, int id)
    : ControlBase(top, layout), PictureBase((layout.style & kStyleCanvas) != 0) {
  if (!IsCanvas()) picture_ = LoadBitmapResource(layout.content);
  // Its name for screen readers is its window text, which nothing draws: the system's default
  // accessible object (MSAA, and UI Automation through it) names a window by its text.
  Create(PictureClass(), layout.accessibleName ? Wide(layout.accessibleName).c_str() : nullptr,
         WS_TABSTOP, id, false);
}

PictureControl::~PictureControl() {
  if (imageDc_) {
    SelectObject(imageDc_, imageDcOld_);
    DeleteDC(imageDc_);
  }
  if (image_) DeleteObject(image_);
  if (picture_) DeleteObject(picture_);
}

void PictureControl::Arrange(UINT dpi) {
  ControlBase::Arrange(dpi);
  Rebuild();
}

void PictureControl::Rebuild() {
  if (!IsCanvas() || !hwnd_) return;
  RECT client;
  GetClientRect(hwnd_, &client);
  const int w = Interior(client.right), h = Interior(client.bottom);
  if (Sized(w, h)) return;
  // A top-down 32-bit DIB: the kernel's colours go in as they are (0x00RRGGBB, blue first in
  // memory), and a row is `w` pixels with no padding.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP fresh = (w > 0 && h > 0)
                      ? CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)
                      : nullptr;
  if (!fresh || !bits) {
    if (fresh) DeleteObject(fresh);
    fresh = nullptr;
    bits = nullptr;
  }
  // The old image is still selected and alive while what was drawn on it is copied over.
  Adopt(static_cast<std::uint32_t*>(bits), w, h, w, DibPixel(GetSysColor(COLOR_BTNFACE)));
  if (!imageDc_) imageDc_ = CreateCompatibleDC(nullptr);
  if (fresh) {
    HGDIOBJ old = SelectObject(imageDc_, fresh);
    if (!imageDcOld_) imageDcOld_ = old;
  } else if (imageDcOld_) {
    SelectObject(imageDc_, imageDcOld_);
  }
  if (image_) DeleteObject(image_);
  image_ = fresh;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

bool PictureControl::Shown() const {
  return hwnd_ && IsWindowVisible(hwnd_);
}

void PictureControl::Invalidate(int x, int y, int width, int height) {
  const RECT r{x, y, x + width, y + height};
  InvalidateRect(hwnd_, &r, FALSE);
}

// Only the focus rectangle's own pixels, so that a canvas is not repainted whole.
void PictureControl::InvalidateFocusFrame() {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int l = kBorder, t = kBorder, r = client.right - kBorder, b = client.bottom - kBorder;
  if (r - l < 2 || b - t < 2) return;
  Invalidate(l, t, r - l, 1);
  Invalidate(l, b - 1, r - l, 1);
  Invalidate(l, t, 1, b - t);
  Invalidate(r - 1, t, 1, b - t);
}

void PictureControl::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  ++Stats().repaints;
  RECT client;
  GetClientRect(hwnd_, &client);
  RECT inner{kBorder, kBorder, client.right - kBorder, client.bottom - kBorder};
  if (IsCanvas() && image_) {
    RECT r;
    if (IntersectRect(&r, &ps.rcPaint, &inner))
      BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, imageDc_, r.left - kBorder,
             r.top - kBorder, SRCCOPY);
  } else if (picture_) {
    // The picture fills the box inside its edge: one for one at 96 dots per inch, scaled
    // smoothly at any other.
    BITMAP bm{};
    GetObjectW(picture_, sizeof bm, &bm);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, picture_);
    const int iw = inner.right - inner.left, ih = inner.bottom - inner.top;
    if (iw == bm.bmWidth && ih == bm.bmHeight) {
      BitBlt(dc, inner.left, inner.top, iw, ih, source, 0, 0, SRCCOPY);
    } else {
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, inner.left, inner.top, iw, ih, source, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    }
    SelectObject(source, old);
    DeleteDC(source);
  } else {
    FillRect(dc, &inner, GetSysColorBrush(COLOR_BTNFACE));
  }
  DrawEdge(dc, &client, EDGE_SUNKEN, BF_RECT);
  // The system's focus rectangle (drawn by inverting, over pixels painted afresh just now),
  // while the window's keyboard cues show.
  if (GetFocus() == hwnd_ && !(top_.UiState() & UISF_HIDEFOCUS)) DrawFocusRect(dc, &inner);
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK PictureControl::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<PictureControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    --LiveWindows();
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  BusyScope busy(self->top());
  switch (message) {
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);  // a picture box takes the focus when clicked, as it does with Tab
      return 0;
    case WM_SETFOCUS:
      self->top().FocusMoved(hwnd);
      self->InvalidateFocusFrame();
      return 0;
    case WM_KILLFOCUS:
      self->InvalidateFocusFrame();
      return 0;
    case WM_QUERYUISTATE:
      return self->top().UiState();
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace win32
}  // namespace kelvarion
