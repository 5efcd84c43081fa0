// The program on Windows: window classes, the hidden owner window, the message loop, and the
// end of the process.
#include "services/application.h"

#include "services/program.h"
#include "services/win32/win32.h"

namespace kelvarion {

namespace win32 {

namespace {

constexpr wchar_t kFormClass[] = L"KelvarionForm";
constexpr wchar_t kPictureClass[] = L"KelvarionPicture";
constexpr wchar_t kOwnerClass[] = L"KelvarionOwner";
ATOM formAtom = 0;
HWND owner = nullptr;

// A function of user32 that older systems lack, or nullptr there.
template <class Function>
Function User32(const char* name) {
  static const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  FARPROC p = user32 ? GetProcAddress(user32, name) : nullptr;
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(p));
}

struct DpiFunctions {
  UINT(WINAPI* forWindow)(HWND) = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  int(WINAPI* metrics)(int, UINT) = User32<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
  BOOL(WINAPI* adjust)
  (LPRECT, DWORD, BOOL, DWORD,
   UINT) = User32<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
};
const DpiFunctions& Dpi() {
  static const DpiFunctions functions;
  return functions;
}

UINT SystemDpi() {
  static const UINT dpi = [] {
    HDC dc = GetDC(nullptr);
    const int value = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return static_cast<UINT>(value > 0 ? value : 96);
  }();
  return dpi;
}

// Released windows are freed from a message posted to the owner, so that an unload at idle
// frees its window at the next turn of the loop, at whatever depth of nested pumps.
constexpr UINT kFreeReleased = WM_APP + 1;
bool freePosted = false;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kFreeReleased) {
    freePosted = false;
    FreeUnloadedWindows();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool lastInputKeyboard = false;

}  // namespace

HINSTANCE Module() {
  static const HINSTANCE module = GetModuleHandleW(nullptr);
  return module;
}

HWND Owner() {
  return owner;
}

int& LiveWindows() {
  static int count = 0;
  return count;
}

UINT DpiOf(HWND window) {
  if (Dpi().forWindow && window) {
    const UINT dpi = Dpi().forWindow(window);
    if (dpi != 0) return dpi;
  }
  return SystemDpi();
}

int MetricForDpi(int index, UINT dpi) {
  if (Dpi().metrics) return Dpi().metrics(index, dpi);
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
  if (Dpi().adjust && Dpi().adjust(&rect, style, FALSE, exStyle, dpi)) return;
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

const wchar_t* FormClass() {
  return kFormClass;
}
const wchar_t* PictureClass() {
  return kPictureClass;
}

void Initialise() {
  if (owner) return;
  WNDCLASSEXW form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = FormWindow::Proc;
  form.hInstance = Module();
  form.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  form.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  form.lpszClassName = kFormClass;  // no class icon: only the main window sets one
  formAtom = RegisterClassExW(&form);

  WNDCLASSEXW picture{};
  picture.cbSize = sizeof picture;
  picture.lpfnWndProc = PictureControl::Proc;
  picture.hInstance = Module();
  picture.hCursor = form.hCursor;
  picture.lpszClassName = kPictureClass;  // no background: the control paints all of itself
  RegisterClassExW(&picture);

  WNDCLASSEXW ownerClass{};
  ownerClass.cbSize = sizeof ownerClass;
  ownerClass.lpfnWndProc = OwnerProc;
  ownerClass.hInstance = Module();
  ownerClass.lpszClassName = kOwnerClass;
  RegisterClassExW(&ownerClass);
  owner = CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerClass, L"Kelvarion1", WS_POPUP, 0, 0, 0, 0,
                          nullptr, nullptr, Module(), nullptr);
}

bool IsFormWindow(HWND window) {
  return window && formAtom != 0 &&
         static_cast<ATOM>(GetClassLongPtrW(window, GCW_ATOM)) == formAtom;
}

bool LastInputWasKeyboard() {
  return lastInputKeyboard;
}

void Dispatch(MSG& msg) {
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (!IsFormWindow(root)) root = nullptr;
  switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      // The keyboard shows the focus from now on, in this window and in those it opens.
      lastInputKeyboard = true;
      if (root) SendMessageW(root, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
      lastInputKeyboard = false;
      break;
    default:
      break;
  }
  // The dialog manager moves the focus with Tab and the arrows and presses the focused button
  // with Enter, in any window of the program (each is a control parent).
  if (root && IsDialogMessageW(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

}  // namespace win32

namespace backend {

void ReadEventQueue() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {  // for the outermost loop, which ends on it
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    win32::Dispatch(msg);
  }
}

// Everything the program posts to itself is in the message queue, read above.
void RunPostedEvents() {}

void PostFreeUnloaded() {
  if (!win32::owner || win32::freePosted) return;
  win32::freePosted = PostMessageW(win32::owner, win32::kFreeReleased, 0, 0) != 0;
}

}  // namespace backend

int RunApplication(int argc, char** argv, void (*start)()) {
  (void)argc;
  (void)argv;
  win32::Initialise();
  start();
  MSG msg;
  for (;;) {
    // Whatever a test that has just ended said is shown before the loop waits.
    ShowPending();
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    win32::Dispatch(msg);
  }
  return 0;
}

void EndProcess() {
  ExitProcess(0);
}

}  // namespace kelvarion
