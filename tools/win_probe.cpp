// win-probe IMAGE: what Windows itself says about the top-level windows of the running
// processes whose executable is named IMAGE (for example Kelvarion1.exe), for tests that drive
// the program from outside. One line a window, top of the stacking order first, then one line
// for each of its controls, in their stacking order (the dialog manager's tab order):
//
//   window caption=TEXT visible=0|1 active=0|1 zorder=N client=WxH clientAt=X,Y
//          rect=L,T,R,B work=L,T,R,B style=0xHEX exStyle=0xHEX owner=0|1 ownerVisible=0|1
//          dpi=N focus=TEXT focusName=TEXT
//   control class=NAME text=TEXT name=TEXT rect=L,T,R,B style=0xHEX
//
// Fields are separated by tabs; texts never contain one. `focus` is the text (or class) of
// the control with the keyboard focus in that window's thread, or empty. `name` and
// `focusName` are what a screen reader calls a control: the name of its accessible object
// (Active Accessibility, which UI Automation passes on for such controls), or empty. Exits with
// status 0 when it found at least one window, 1 when none. (Window icons are not asked for: Wine
// does not answer WM_GETICON from another process; the X property shows them.)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h:
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return out;
}

std::wstring TextOf(HWND w) {
  // WM_GETTEXT reaches controls of other processes too (GetWindowText does not).
  wchar_t buffer[512] = L"";
  SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                      nullptr);
  return buffer;
}

std::wstring ClassOf(HWND w) {
  wchar_t buffer[128] = L"";
  GetClassNameW(w, buffer, 128);
  return buffer;
}

std::wstring AccessibleName(HWND w) {
  IAccessible* object = nullptr;
  // The interface's id from the header: the import library's IID_IAccessible links to a thunk.
  if (FAILED(AccessibleObjectFromWindow(w, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object))) ||
      !object)
    return {};
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring out;
  if (object->get_accName(self, &name) == S_OK && name) out.assign(name, SysStringLen(name));
  SysFreeString(name);
  object->Release();
  return out;
}

bool IsImage(DWORD pid, const wchar_t* image) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return false;
  wchar_t path[MAX_PATH] = L"";
  DWORD size = MAX_PATH;
  const bool ok = QueryFullProcessImageNameW(process, 0, path, &size) != 0;
  CloseHandle(process);
  if (!ok) return false;
  const wchar_t* name = std::wcsrchr(path, L'\\');
  name = name ? name + 1 : path;
  return lstrcmpiW(name, image) == 0;
}

UINT DpiOf(HWND w) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto fn = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return fn ? fn(w) : 0;
}

struct Probe {
  const wchar_t* image;
  std::vector<HWND> windows;  // in stacking order, top first
};

BOOL CALLBACK CollectWindow(HWND w, LPARAM data) {
  auto* probe = reinterpret_cast<Probe*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (IsImage(pid, probe->image)) probe->windows.push_back(w);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND w, LPARAM data) {
  auto* children = reinterpret_cast<std::vector<HWND>*>(data);
  children->push_back(w);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: win-probe IMAGE (for example Kelvarion1.exe)\n");
    return 2;
  }
  wchar_t image[MAX_PATH] = L"";
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, image, MAX_PATH);
  CoInitialize(nullptr);
  Probe probe{image, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&probe));
  int z = 0;
  for (HWND w : probe.windows) {
    wchar_t caption[256] = L"";
    GetWindowTextW(w, caption, 256);
    const std::wstring windowClass = ClassOf(w);
    // The program's own windows; not the IME or other helper windows the system adds.
    if (caption[0] == L'\0' || windowClass.rfind(L"IME", 0) == 0) continue;
    RECT client{}, rect{};
    GetClientRect(w, &client);
    GetWindowRect(w, &rect);
    POINT at{0, 0};
    ClientToScreen(w, &at);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    HWND owner = GetWindow(w, GW_OWNER);
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &thread);
    std::wstring focus, focusName;
    if (thread.hwndFocus && (thread.hwndFocus == w || IsChild(w, thread.hwndFocus))) {
      focus = TextOf(thread.hwndFocus);
      if (focus.empty() || thread.hwndFocus == w) focus = ClassOf(thread.hwndFocus);
      focusName = AccessibleName(thread.hwndFocus);
    }
    std::printf(
        "window\tcaption=%s\tvisible=%d\tactive=%d\tzorder=%d\tclient=%ldx%ld\tclientAt=%ld,%ld"
        "\trect=%ld,%ld,%ld,%ld\twork=%ld,%ld,%ld,%ld\tstyle=0x%08lX\texStyle=0x%08lX"
        "\towner=%d\townerVisible=%d\tdpi=%u\tfocus=%s\tfocusName=%s\n",
        Utf8(caption).c_str(), IsWindowVisible(w) ? 1 : 0, thread.hwndActive == w ? 1 : 0, z++,
        client.right, client.bottom, at.x, at.y, rect.left, rect.top, rect.right, rect.bottom,
        work.left, work.top, work.right, work.bottom,
        static_cast<unsigned long>(GetWindowLongW(w, GWL_STYLE)),
        static_cast<unsigned long>(GetWindowLongW(w, GWL_EXSTYLE)), owner ? 1 : 0,
        owner && IsWindowVisible(owner) ? 1 : 0, DpiOf(w), Utf8(focus).c_str(),
        Utf8(focusName).c_str());
    std::vector<HWND> children;
    EnumChildWindows(w, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND c : children) {
      if (GetParent(c) != w) continue;
      RECT r{};
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
      std::printf("control\tclass=%s\ttext=%s\tname=%s\trect=%ld,%ld,%ld,%ld\tstyle=0x%08lX\n",
                  Utf8(ClassOf(c)).c_str(), Utf8(TextOf(c)).c_str(),
                  Utf8(AccessibleName(c)).c_str(), r.left, r.top, r.right, r.bottom,
                  static_cast<unsigned long>(GetWindowLongW(c, GWL_STYLE)));
    }
  }
  std::fflush(stdout);
  CoUninitialize();
  return z > 0 ? 0 : 1;
}
