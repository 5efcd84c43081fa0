// The Windows backend from inside: what the black-box tests cannot see. Window lifetimes (a
// window hidden at once by its own handler, destroyed only once the handler has returned, and
// nothing left behind), captions current at once and shown at the next frame, the canvas's
// size at the window's pixels per inch, a second test nested in the first one's pump, the
// focus rectangle and keyboard cues, and Enter on the focused button.
// With the argument `walk`, the random walk (random_walk.h) through the real Win32 windows
// instead; KELVARION_SEED replays one.
// A console program without a test framework (the Windows build has no Qt): it prints each
// failed check and exits with the number of failures. Run it on the desktop (under Wine: in
// run-x11.sh and run-wine.sh).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "services/affinity.h"
#include "services/application.h"
#include "services/clock.h"
#include "services/program.h"
#include "services/pump.h"
#include "services/topology.h"
#include "services/win32/win32.h"
#include "stress/frm_error.h"
#include "stress/frm_fractal.h"
#include "tests/check.h"
#include "tests/longest_report.h"
#include "tests/random_walk.h"

using namespace kelvarion;

namespace {

using test::failures;

// Presses a button as a click does: its window active, then the button's own click.
void Press(const Form& form, const char* name);

HWND ControlOf(const Form& form, const char* name) {
  return static_cast<const win32::FormWindow*>(form.peer())->ControlWindow(name);
}

void Press(const Form& form, const char* name) {
  SetActiveWindow(win32::WindowOf(form));
  SendMessageW(ControlOf(form, name), BM_CLICK, 0, 0);
}

std::string WindowText(HWND w) {
  wchar_t text[256] = L"";
  const int n = GetWindowTextW(w, text, 256);
  return win32::Narrow(text, n);
}

int Px(int twips, UINT dpi) {
  return MulDiv(twips, static_cast<int>(dpi), 1440);
}

// Pumps for `ms` milliseconds, as a running test would.
void PumpFor(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  while (static_cast<int>(end - GetTickCount()) > 0) {
    PumpEvents();
    Sleep(1);
  }
}

// What the keyboard does in a window, as the message loop delivers it.
void Key(HWND control, WPARAM key) {
  MSG msg{control, WM_KEYDOWN, key, 0, GetTickCount(), {}};
  win32::Dispatch(msg);
  msg.message = WM_KEYUP;
  win32::Dispatch(msg);
}

// A mouse button pressed on `control`, as far as the keyboard cues care.
void MouseDown(HWND control) {
  MSG msg{control, WM_LBUTTONDOWN, MK_LBUTTON, 0, GetTickCount(), {}};
  win32::Dispatch(msg);
  msg.message = WM_LBUTTONUP;
  msg.wParam = 0;
  win32::Dispatch(msg);
}

bool CuesHidden(HWND control) {
  return (SendMessageW(control, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
}

// The pixels of a control's interior ring (2 pixels in from its edge) and of the ring inside it,
// as the screen shows them.
struct Rings {
  std::vector<COLORREF> outer, inner;
};
Rings ReadRings(HWND control) {
  UpdateWindow(control);
  RECT r{};
  GetClientRect(control, &r);
  Rings rings;
  HDC dc = GetDC(control);
  auto ring = [&](int d, std::vector<COLORREF>& out) {
    for (int x = d; x < r.right - d; ++x) {
      out.push_back(GetPixel(dc, x, d));
      out.push_back(GetPixel(dc, x, r.bottom - 1 - d));
    }
    for (int y = d + 1; y < r.bottom - 1 - d; ++y) {
      out.push_back(GetPixel(dc, d, y));
      out.push_back(GetPixel(dc, r.right - 1 - d, y));
    }
  };
  ring(2, rings.outer);
  ring(3, rings.inner);
  ReleaseDC(control, dc);
  return rings;
}
// The share of pixels that differ.
double Changed(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  if (a.size() != b.size() || a.empty()) return -1;
  int n = 0;
  for (std::size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
  return static_cast<double>(n) / static_cast<double>(a.size());
}

// The user's setting that always shows keyboard cues, for this session (not saved).
bool KeyboardCues() {
  BOOL on = FALSE;
  SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &on, 0);
  return on != FALSE;
}
void SetKeyboardCues(bool on) {
  SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<PVOID>(static_cast<INT_PTR>(on)),
                        0);
}

bool IsDefault(HWND button) {
  return (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}
LRESULT DefaultId(const Form& form) {
  return SendMessageW(win32::WindowOf(form), DM_GETDEFID, 0, 0);
}

// The focus as Windows shows it: keyboard cues hidden in a window opened with the mouse until a
// key is pressed, shown at once in one opened from the keyboard or where the system's setting
// always shows them; the picture box's focus rectangle on the ring inside its edge while they
// show and it has the focus. Enter presses the focused push button, the window's default then
// and only then, and nothing with the focus elsewhere.
void FocusAndEnter() {
  // The user's setting is put back however the checks end.
  struct Restore {
    bool was = KeyboardCues();
    ~Restore() { SetKeyboardCues(was); }
  } restore;
  SetKeyboardCues(false);
  frmMain& main = frmMain::Instance();
  HWND begin = ControlOf(main, "cmdBegin");
  CHECK(GetFocus() == begin);
  CHECK(IsDefault(begin) && !IsDefault(ControlOf(main, "cmdAbout")));
  CHECK(DefaultId(main) == MAKELRESULT(GetDlgCtrlID(begin), DC_HASDEFID));

  MouseDown(win32::WindowOf(main));  // on the window, clear of its buttons
  frmAbout& about = frmAbout::Instance();
  CHECK(about.Show().ok());
  HWND picture = ControlOf(about, "Picture1"), ok = ControlOf(about, "cmdOK");
  CHECK(GetFocus() == picture);
  CHECK(CuesHidden(picture) && CuesHidden(ok));
  const Rings plain = ReadRings(picture);
  CHECK(DefaultId(about) == 0 && !IsDefault(ok));
  Key(picture, VK_RETURN);  // the picture has the focus: Enter does nothing
  CHECK(about.IsLoaded());
  Key(picture, VK_SHIFT);  // any key shows the cues
  CHECK(!CuesHidden(picture) && !CuesHidden(ok));
  const Rings focused = ReadRings(picture);
  // The system's focus rectangle inverts every other pixel of the ring, and only the ring.
  CHECK(Changed(plain.outer, focused.outer) > 0.3);
  CHECK(Changed(plain.inner, focused.inner) == 0);
  // The focus on OK makes it the default, however it got there, and Enter presses it.
  SetFocus(ok);
  CHECK(IsDefault(ok) && DefaultId(about) == MAKELRESULT(GetDlgCtrlID(ok), DC_HASDEFID));
  CHECK(Changed(plain.outer, ReadRings(picture).outer) == 0);
  Key(ok, VK_RETURN);
  CHECK(!about.IsLoaded());
  FreeUnloadedWindows();

  // Opened from the keyboard: the cues show at once.
  CHECK(about.Show().ok());
  CHECK(!CuesHidden(ControlOf(about, "Picture1")));
  about.Unload();
  // Opened with the mouse where the user has the cues always shown: likewise.
  MouseDown(win32::WindowOf(main));  // on the window, clear of its buttons
  SetKeyboardCues(true);
  CHECK(about.Show().ok());
  CHECK(!CuesHidden(ControlOf(about, "Picture1")));
  about.Unload();
  SetKeyboardCues(false);
  FreeUnloadedWindows();
}

// The About window: OK unloads it from inside its own click. The window goes from the screen
// at once, is destroyed after the click has returned, and leaves nothing behind.
void AboutLifetime() {
  const int base = LiveWidgetCount();
  frmAbout& about = frmAbout::Instance();
  CHECK(about.Show().ok());
  HWND window = win32::WindowOf(about);
  CHECK(window && IsWindowVisible(window));
  CHECK(LiveWidgetCount() == base + 5);  // the window and its four controls
  const UINT dpi = win32::DpiOf(window);
  RECT client{};
  GetClientRect(window, &client);
  CHECK(client.right == Px(5715, dpi) && client.bottom == Px(1395, dpi));
  RECT picture{};
  GetClientRect(ControlOf(about, "Picture1"), &picture);
  CHECK(picture.right == Px(1620, dpi) && picture.bottom == Px(1185, dpi));
  CHECK(GetFocus() == ControlOf(about, "Picture1"));

  Press(about, "cmdOK");
  CHECK(!about.IsLoaded());
  CHECK(IsWindow(window) && !IsWindowVisible(window));  // hidden, not yet destroyed
  PumpEvents();
  FreeUnloadedWindows();
  CHECK(!IsWindow(window));
  CHECK(LiveWidgetCount() == base);
  // Loaded again, it is built afresh.
  CHECK(about.Show().ok());
  CHECK(win32::WindowOf(about) && win32::WindowOf(about) != window);
  about.Unload();
  FreeUnloadedWindows();
  CHECK(LiveWidgetCount() == base);
}

// What one test run saw, from inside its own pumps.
struct Observed {
  int loads = 0;  // Form_Load runs begun (each sets lblWhen once)
  bool checked = false;
  std::string whenText;
};
Observed seen;
enum class Plan { Stop, StopThenBegin } plan = Plan::Stop;

void OnCaption(const Label& label, std::string_view text) {
  frmFractal& f = frmFractal::Instance();
  if (&label == &f.lblWhen) {
    ++seen.loads;
    seen.whenText = std::string(text);
    return;
  }
  if (&label != &f.lblNum || text != "2") return;
  // Two images finished: look at the window, then press Stop (and Begin).
  HWND window = win32::WindowOf(f);
  if (!seen.checked) {
    seen.checked = true;
    const UINT dpi = win32::DpiOf(window);
    float w = 0, h = 0;
    CHECK(f.pctGen.InnerWidth(w).ok() && f.pctGen.InnerHeight(h).ok());
    CHECK(w == static_cast<float>(Px(6255, dpi) - 4) && h == static_cast<float>(Px(5055, dpi) - 4));
    // A size the known answers cover at the common densities, so the first pass is checked.
    bool known = false;
    for (const KnownAnswers& k : kKnownAnswers) known = known || (k.width == w && k.height == h);
    CHECK(known);
    RECT client{};
    GetClientRect(window, &client);
    CHECK(client.right == Px(6270, dpi) && client.bottom == Px(6810, dpi));
    // A caption is current at once and on the screen from the next frame.
    std::string now;
    CHECK(f.lblNum.Caption(now) && now == "2");
    CHECK(WindowText(ControlOf(f, "lblNum")) != "2");
    Sleep(30);
    PumpEvents();
    CHECK(WindowText(ControlOf(f, "lblNum")) == "2");
    // lblWhen shows the start time, whose year is this year.
    char year[8];
    const std::time_t t = std::time(nullptr);
    std::strftime(year, sizeof year, "%Y", std::localtime(&t));
    CHECK(seen.whenText.find(year) != std::string::npos);
  }
  const int loadsBefore = seen.loads;
  Press(f, "cmdStop");
  CHECK(!f.IsLoaded() && f.StopFlag == -1);
  CHECK(IsWindow(window) && !IsWindowVisible(window));
  if (plan == Plan::StopThenBegin && loadsBefore == 1) {
    // Begin, pressed in the same pump: a second test runs in here, nested, to its own end.
    Press(frmMain::Instance(), "cmdBegin");
    CHECK(seen.loads == 2);
    CHECK(!f.IsLoaded() && f.StopFlag == -1);
  }
}

void TestLifetime(Plan which) {
  const int base = LiveWidgetCount();
  seen = Observed{};
  plan = which;
  SetCaptionObserver(&OnCaption);
  frmFractal& f = frmFractal::Instance();
  f.StopFlag = 0;
  // Begin's handler: the show runs the whole test and fails at its end, the window gone.
  Press(frmMain::Instance(), "cmdBegin");
  SetCaptionObserver(nullptr);
  CHECK(seen.checked);
  CHECK(seen.loads == (which == Plan::Stop ? 1 : 2));
  CHECK(!f.IsLoaded() && f.StopFlag == -1);
  PumpFor(50);
  CHECK(LiveWidgetCount() == base);
}

// The walk's hands: clicks as Press gives them, the close box as the system's command, and the
// walk's next step from a message or timer of a message-only window, which the running test's
// pumps dispatch.
class Win32Hands {
 public:
  Win32Hands() {
    WNDCLASSW c{};
    c.lpfnWndProc = &Win32Hands::Proc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"KelvarionWalk";
    RegisterClassW(&c);
    hwnd_ = CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            c.hInstance, nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  void After(int ms) {
    if (ms == 0)
      PostMessageW(hwnd_, WM_APP, 0, 0);
    else
      SetTimer(hwnd_, 1, static_cast<UINT>(ms), nullptr);
  }
  void Click(Form& form, const char* name) { Press(form, name); }
  void CloseBox(Form& form) { SendMessageW(win32::WindowOf(form), WM_SYSCOMMAND, SC_CLOSE, 0); }
  int VisibleTitled(const char* title) {
    std::pair<const char*, int> count{title, 0};
    EnumThreadWindows(GetCurrentThreadId(), &Win32Hands::CountTitled,
                      reinterpret_cast<LPARAM>(&count));
    return count.second;
  }
  void Done() { done = true; }

  walk::Walk<Win32Hands>* walk = nullptr;
  bool done = false;

 private:
  static BOOL CALLBACK CountTitled(HWND w, LPARAM p) {
    auto* count = reinterpret_cast<std::pair<const char*, int>*>(p);
    count->second += IsWindowVisible(w) && WindowText(w) == count->first;
    return TRUE;
  }
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Hands*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && (message == WM_APP || message == WM_TIMER)) {
      if (message == WM_TIMER) KillTimer(hwnd, 1);
      self->walk->Step();
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  HWND hwnd_ = nullptr;
};

void RandomWalk(int steps) {
  const char* given = std::getenv("KELVARION_SEED");
  const auto seed = given ? static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10))
                          : static_cast<std::uint32_t>(GetTickCount() ^ GetCurrentProcessId());
  std::printf("seed %u\n", seed);
  std::fflush(stdout);
  Win32Hands hands;
  walk::Walk<Win32Hands> walk(hands, seed, steps);
  hands.walk = &walk;
  walk.Start();
  MSG msg;
  while (!hands.done && GetMessageW(&msg, nullptr, 0, 0) > 0) win32::Dispatch(msg);
  if (!walk.failure().empty())
    std::printf("FAIL: %s; %s\n", walk.failure().c_str(), walk.Report().c_str());
  CHECK(walk.failure().empty());
  CHECK(walk.countChecks() > 0);  // the count was seen rising in the running tests
  CHECK(!frmFractal::Instance().IsLoaded() && !frmAbout::Instance().IsLoaded());
  std::printf("%d actions, %d tests seen counting\n", steps, walk.countChecks());
}

// The error window's longest sentences fit their labels in the window's font at its density
// (as the Linux suite checks for Qt's labels).
void ErrorSentencesFit() {
  frmError& e = frmError::Instance();
  CHECK(e.Load().ok());
  longest::EachSentence([&e](const char* name, const std::string& text) {
    HWND label = ControlOf(e, name);
    RECT box{}, need{};
    GetClientRect(label, &box);
    need.right = box.right;
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    const std::wstring wide = win32::Wide(text);
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &need,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    if (need.bottom > box.bottom || need.right > box.right) {
      std::printf("FAIL: %s needs %ld x %ld, has %ld x %ld: %s\n", name, need.right, need.bottom,
                  box.right, box.bottom, text.c_str());
      ++failures;
    }
  });
  e.Unload();
  FreeUnloadedWindows();
}

// The processors' cores as the error window names them agree with the older call that lists
// the cores (GetLogicalProcessorInformation): the cores numbered in the order it lists them,
// from 0, each core's logical processors named with it.
void TopologyNamesCores() {
  DWORD length = 0;
  GetLogicalProcessorInformation(nullptr, &length);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records(
      length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) + 1);
  CHECK(GetLogicalProcessorInformation(records.data(), &length));
  records.resize(length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  const topology::Description& d = topology::System();
  CHECK(!d.severalGroups);  // this machine: one group, numbered as Windows numbers it
  int core = 0;
  for (const SYSTEM_LOGICAL_PROCESSOR_INFORMATION& r : records) {
    if (r.Relationship != RelationProcessorCore) continue;
    std::vector<std::string> mine;
    for (int p = 0; p < static_cast<int>(8 * sizeof(ULONG_PTR)); ++p)
      if (r.ProcessorMask & (ULONG_PTR{1} << p)) mine.push_back(std::to_string(p));
    for (const std::string& p : mine) {
      const std::string c = std::to_string(core);
      CHECK(topology::Name(d, std::stoi(p)) == "logical processor " + p + " (core " + c + ")");
      CHECK(topology::CoreName(d, std::stoi(p)) ==
            "core " + c + ", with logical processor" +
                (mine.size() == 1 ? " " + p : "s " + mine[0] + " and " + mine[1]));
    }
    ++core;
  }
  CHECK(core > 0);
}

// The affinity calls on this machine's one group: every processor listed, each can be pinned,
// the thread then runs there, and the whole list puts the thread back.
void AffinityPinsEachProcessor() {
  const affinity::Calls& calls = affinity::System();
  std::vector<int> all;
  CHECK(calls.get(all));
  CHECK(static_cast<DWORD>(all.size()) == GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  for (const int p : all) {
    CHECK(calls.set({p}));
    CHECK(calls.current() == p);
    GROUP_AFFINITY held{};
    CHECK(GetThreadGroupAffinity(GetCurrentThread(), &held));
    CHECK(held.Group == 0 && held.Mask == KAFFINITY{1} << p);
  }
  CHECK(calls.set(all));
  std::vector<int> after;
  CHECK(calls.get(after) && after == all);
}

}  // namespace

int main(int argc, char** argv) {
  SetEndProgramHook([] {
    std::printf("FAIL: the program was ended inside the test\n");
    std::fflush(stdout);
    ExitProcess(100);
  });
  static const bool walkOnly = argc > 1 && std::strcmp(argv[1], "walk") == 0;
  static const int steps = argc > 2 ? std::atoi(argv[2]) : 3000;
  return RunApplication(argc, argv, [] {
    if (walkOnly) {
      CHECK(frmMain::Instance().Show().ok());
      RandomWalk(steps);
      std::printf("%s: %d failed\n", failures ? "FAIL" : "PASS", failures);
      std::fflush(stdout);
      ExitProcess(static_cast<UINT>(failures));
    }
    const int base = LiveWidgetCount();
    CHECK(frmMain::Instance().Show().ok());
    CHECK(LiveWidgetCount() == base + 6);  // the main window and its five controls
    AboutLifetime();
    const bool cues = KeyboardCues();
    FocusAndEnter();
    CHECK(KeyboardCues() == cues);  // the user's setting as it was
    TopologyNamesCores();
    AffinityPinsEachProcessor();
    ErrorSentencesFit();
    TestLifetime(Plan::Stop);
    TestLifetime(Plan::StopThenBegin);
    std::printf("%s: %d failed\n", failures ? "FAIL" : "PASS", failures);
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(failures));
  });
}
