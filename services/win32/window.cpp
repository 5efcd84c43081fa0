// Windows built from their layouts, their placement, focus and DPI, and their release.
#include <algorithm>
#include <climits>
#include <cstring>

#include "services/form.h"
#include "services/placement.h"
#include "services/win32/win32.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace kelvarion {

namespace win32 {

namespace {

// The font of every text but cmdBegin's: the face behind Windows' dialog font ("MS Shell Dlg"
// stands for Microsoft Sans Serif), at 8 points: the font the layouts were drawn for, scalable
// to any pixels per inch. A system without it (Wine) gets its original, the bitmap
// "MS Sans Serif", which has the same metrics; a wider face would not fit the description
// into its label.
HFONT DialogFont(UINT dpi) {
  auto create = [dpi](const wchar_t* face) {
    return CreateFontW(-MulDiv(8, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  };
  constexpr wchar_t kFace[] = L"Microsoft Sans Serif";
  HFONT font = create(kFace);
  wchar_t got[LF_FACESIZE] = L"";
  if (HDC dc = GetDC(nullptr)) {
    HGDIOBJ old = SelectObject(dc, font);
    GetTextFaceW(dc, LF_FACESIZE, got);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
  }
  if (lstrcmpiW(got, kFace) == 0) return font;
  DeleteObject(font);
  return create(L"MS Sans Serif");
}

// cmdBegin's own font: "MS Sans Serif", 8.25 points, weight 700, character set 0.
HFONT BoldFont(UINT dpi) {
  return CreateFontW(-MulDiv(825, static_cast<int>(dpi), 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE,
                     FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
}

bool TakesFocus(const ControlLayout& c) {
  return (c.kind == ControlKind::PushButton || c.kind == ControlKind::PictureBox) &&
         c.tabIndex != kNoTabStop;
}

// The visible window of the program nearest the top, other than `except`.
HWND TopmostOtherWindow(HWND except) {
  const DWORD thread = GetCurrentThreadId();
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT))
    if (w != except && IsWindowVisible(w) && IsFormWindow(w) &&
        GetWindowThreadProcessId(w, nullptr) == thread)
      return w;
  return nullptr;
}

}  // namespace

FormWindow::FormWindow(Form& form, const FormLayout& layout) : form_(&form), layout_(layout) {
  // A fixed frame with the close box only: no thick frame, no minimise or maximise box.
  style_ = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  exStyle_ = WS_EX_CONTROLPARENT |
             (layout.frame == Frame::ToolWindow ? WS_EX_TOOLWINDOW : WS_EX_DLGMODALFRAME);
  // Created on the monitor it will open on, so that it has that monitor's pixels per inch from
  // the start: the active window's, or where the system puts a new window of the program.
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
  if (HWND active = GetActiveWindow()) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(active, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      x = monitor.rcWork.left;
      y = monitor.rcWork.top;
    }
  }
  // Owned by the hidden owner: no taskbar entry.
  hwnd_ = CreateWindowExW(exStyle_, FormClass(), Wide(layout.caption).c_str(), style_, x, y, 100,
                          100, Owner(), nullptr, Module(), this);
  if (!hwnd_) return;
  ++LiveWindows();
  dpi_ = DpiOf(hwnd_);
  // Ids clear of IDOK and IDCANCEL: Enter and Esc that no button takes reach the window as
  // those, and nothing answers them.
  int id = 100;
  for (const ControlLayout& c : layout.controls) {
    std::unique_ptr<ControlBase> control;
    switch (c.kind) {
      case ControlKind::PushButton:
        control = std::make_unique<ButtonControl>(*this, c, id);
        break;
      case ControlKind::Label:
        control = std::make_unique<LabelControl>(*this, c, id);
        break;
      case ControlKind::Image:
        control = std::make_unique<ImageControl>(*this, c, id);
        break;
      case ControlKind::PictureBox:
        control = std::make_unique<PictureControl>(*this, c, id);
        break;
    }
    ++id;
    AddControl(c.name, control.get());
    controls_.push_back(std::move(control));
  }
  // The dialog manager tabs through the controls in their stacking order, top first, so the
  // controls are stacked in the layout's tab order (those with none last). Where controls
  // overlap (Label2 over lblNum) that also puts the later-created one on top, as the layout has it.
  std::vector<ControlBase*> order;
  for (auto& c : controls_) order.push_back(c.get());
  std::stable_sort(order.begin(), order.end(), [](const ControlBase* a, const ControlBase* b) {
    const int ta = a->layout().tabIndex == kNoTabStop ? INT_MAX : a->layout().tabIndex;
    const int tb = b->layout().tabIndex == kNoTabStop ? INT_MAX : b->layout().tabIndex;
    return ta < tb;
  });
  HWND after = HWND_TOP;
  for (ControlBase* c : order) {
    if (!c->hwnd()) continue;
    SetWindowPos(c->hwnd(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = c->hwnd();
  }
  Arrange(dpi_);
}

FormWindow::~FormWindow() {
  // Destroying the window destroys its controls; their objects go after, with what they drew.
  if (hwnd_) DestroyWindow(hwnd_);
  controls_.clear();
  if (font_) DeleteObject(font_);
  if (boldFont_) DeleteObject(boldFont_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

SIZE FormWindow::OuterSize(UINT dpi) const {
  RECT r{0, 0, TwipsToDevice(layout_.innerWidth, dpi), TwipsToDevice(layout_.innerHeight, dpi)};
  AdjustForDpi(r, style_, exStyle_, dpi);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void FormWindow::Arrange(UINT dpi) {
  HFONT oldFont = font_, oldBold = boldFont_;
  font_ = DialogFont(dpi);
  boldFont_ = BoldFont(dpi);
  for (auto& c : controls_) c->Arrange(dpi);
  if (oldFont) DeleteObject(oldFont);
  if (oldBold) DeleteObject(oldBold);
  if (layout_.icon) {
    // Both sizes: the small one for the caption, the large one for Alt+Tab.
    HICON bigIcon = LoadIconResource(layout_.icon, MetricForDpi(SM_CXICON, dpi));
    HICON smallIcon = LoadIconResource(layout_.icon, MetricForDpi(SM_CXSMICON, dpi));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    if (bigIcon_) DestroyIcon(bigIcon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
    bigIcon_ = bigIcon;
    smallIcon_ = smallIcon;
  }
}

namespace {
placement::Box WorkArea(HWND window) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  return {work.left, work.top, work.right - work.left, work.bottom - work.top};
}
}  // namespace

void FormWindow::Place() {
  const SIZE size = OuterSize(dpi_);
  const placement::Point p = placement::Centred(size.cx, size.cy, WorkArea(hwnd_));
  SetWindowPos(hwnd_, nullptr, p.x, p.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormWindow::PlaceBeside(HWND anchor) {
  RECT a{};
  GetWindowRect(anchor, &a);
  const SIZE size = OuterSize(dpi_);
  const placement::Point p = placement::Beside({a.left, a.top, a.right - a.left, a.bottom - a.top},
                                               size.cx, size.cy, WorkArea(anchor));
  SetWindowPos(hwnd_, nullptr, p.x, p.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND FormWindow::FirstInTabOrder() const {
  const ControlBase* first = nullptr;
  for (const auto& c : controls_)
    if (TakesFocus(c->layout()) && c->hwnd() && IsWindowEnabled(c->hwnd()) &&
        (!first || c->layout().tabIndex < first->layout().tabIndex))
      first = c.get();
  return first ? first->hwnd() : nullptr;
}

void FormWindow::RestoreFocus() {
  HWND target = (focus_ && IsChild(hwnd_, focus_)) ? focus_ : FirstInTabOrder();
  if (target) SetFocus(target);
}

HWND FormWindow::ControlWindow(const char* name) const {
  for (auto& c : controls_)
    if (std::strcmp(c->layout().name, name) == 0) return c->hwnd();
  return nullptr;
}

// As in every dialog of the system with no default button of its own: the focused push button
// is the default (drawn so, and pressed by Enter through the dialog manager), and with the focus
// on any other control there is none, so Enter does nothing there.
void FormWindow::FocusMoved(HWND control) {
  int id = 0;
  for (auto& c : controls_)
    if (c->hwnd() == control && c->layout().kind == ControlKind::PushButton)
      id = GetDlgCtrlID(control);
  if (id != defaultId_) SendMessageW(hwnd_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

void FormWindow::SetDefaultButton(int id) {
  defaultId_ = id;
  for (auto& c : controls_) {
    if (c->layout().kind != ControlKind::PushButton || !c->hwnd()) continue;
    const LONG want = GetDlgCtrlID(c->hwnd()) == id ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if ((GetWindowLongW(c->hwnd(), GWL_STYLE) & BS_TYPEMASK) != want)
      SendMessageW(c->hwnd(), BM_SETSTYLE, static_cast<WPARAM>(want), TRUE);
  }
}

// Keyboard cues (focus rectangles) are hidden in a window that opens, unless the user has the
// system show them always or opened it from the keyboard; the keyboard shows them (Dispatch).
void FormWindow::InitialiseCues() {
  BOOL always = FALSE;
  SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &always, 0);
  const WORD action = (always || LastInputWasKeyboard()) ? UIS_CLEAR : UIS_SET;
  SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(action, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
}

void FormWindow::ApplyCues(WORD action, WORD flags) {
  flags &= UISF_HIDEFOCUS | UISF_HIDEACCEL;
  const WORD before = uiState_;
  if (action == UIS_SET) uiState_ |= flags;
  if (action == UIS_CLEAR) uiState_ &= static_cast<WORD>(~flags);
  if (uiState_ == before) return;
  // The control with the focus shows it, or no longer does.
  HWND focus = GetFocus();
  if (focus && IsChild(hwnd_, focus)) InvalidateRect(focus, nullptr, FALSE);
}

void FormWindow::ShowAndRaise() {
  if (!hwnd_) return;
  if (!IsWindowVisible(hwnd_)) {
    Place();
    InitialiseCues();
    focus_ = nullptr;  // a window that opens has the focus on its first control
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    if (GetActiveWindow() == hwnd_) RestoreFocus();
  }
  SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(hwnd_);
}

void FormWindow::ShowBeside(const WindowPeer* anchor) {
  if (!hwnd_) return;
  const auto* other = static_cast<const FormWindow*>(anchor);
  const HWND beside =
      other && other->hwnd_ && IsWindowVisible(other->hwnd_) ? other->hwnd_ : nullptr;
  if (!IsWindowVisible(hwnd_)) {
    if (beside)
      PlaceBeside(beside);
    else
      Place();
    InitialiseCues();
    focus_ = nullptr;
    // Shown without taking the activation from the window the user is working in; the focus
    // waits on the first control until the user activates it.
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  }
  SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void FormWindow::HideNow() {
  if (!hwnd_) return;
  // The activation goes to the program's next window, not to the hidden owner or to some other
  // program's window, as it would if the active window simply vanished.
  if (GetActiveWindow() == hwnd_) {
    if (HWND next = TopmostOtherWindow(hwnd_)) SetActiveWindow(next);
  }
  ShowWindow(hwnd_, SW_HIDE);
}

LRESULT CALLBACK FormWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* self = static_cast<FormWindow*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    --LiveWindows();
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  BusyScope busy(*self);
  return self->Handle(message, wParam, lParam);
}

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The close box unloads; the unload hides the window itself unless Form_Unload cancels.
      if (!Dead()) form_->Unload();
      return 0;
    case WM_COMMAND:
      // Enter and Esc reach the window as IDOK and IDCANCEL when no button has the focus:
      // there is no default or cancel button, so they do nothing.
      if (lParam != 0) {
        for (auto& c : controls_)
          if (c->hwnd() == reinterpret_cast<HWND>(lParam)) {
            c->Command(HIWORD(wParam));
            break;
          }
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(hwnd_, f)) focus_ = f;
      } else if (!HIWORD(wParam)) {
        RestoreFocus();
      }
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case WM_CHANGEUISTATE:  // a top-level window: the change is its own
    case WM_UPDATEUISTATE:
      ApplyCues(LOWORD(wParam), HIWORD(wParam));
      return DefWindowProcW(hwnd_, message, wParam, lParam);
    case WM_QUERYUISTATE:
      return uiState_;
    case DM_GETDEFID:
      return defaultId_ ? MAKELRESULT(defaultId_, DC_HASDEFID) : 0;
    case DM_SETDEFID:
      SetDefaultButton(static_cast<int>(wParam));
      return TRUE;
    case WM_GETDPISCALEDSIZE: {
      // The size for the new pixels per inch is the layout's, not a scaled copy of this one.
      *reinterpret_cast<SIZE*>(lParam) = OuterSize(LOWORD(wParam));
      return TRUE;
    }
    case WM_DPICHANGED: {
      dpi_ = LOWORD(wParam);
      Arrange(dpi_);
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

}  // namespace win32

WindowPeer* CreateWindowPeer(Form& form, const FormLayout& layout) {
  win32::Initialise();
  return new win32::FormWindow(form, layout);
}

int LiveWidgetCount() {
  return win32::LiveWindows();
}

}  // namespace kelvarion
