// kelvarion-soak.exe MINUTES CSV (Windows): runs the program's real Win32 windows for MINUTES,
// presses Begin as a user would, and every minute writes a line to CSV:
//   minute,working_set_kib,private_kib,gdi_objects,user_objects,cpu_s,images,images_per_min,answer_ms
// answer_ms is how long a click on About took to be answered (the About window open), from
// inside the running test's pumps. The counts are taken before that click, with nothing
// released waiting to be freed. Exits 0 if the run held: the working set and private bytes
// within 1 MiB of their level after the second minute, the GDI and USER object counts never
// above theirs, the count rising every minute, every click answered within 100 ms.
//
// Where the system does not answer (Wine: GetGuiResources gives 0 and PrivateUsage 0), the
// figures are counted another way, and the first line of the CSV says which:
//   private bytes: committed private memory, summed over the address space (VirtualQuery);
//   GDI objects:   the handles the process's GDI table knows (GetObjectType on every index);
//   USER objects:  this process's windows plus the icons and cursors of the session's USER
//                  table (IsWindow and GetIconInfo on every index).

#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32, no psapi.dll
#endif
#include "services/win32/win32.h"
// After <windows.h>:
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "services/application.h"
#include "stress/frm_fractal.h"

using namespace kelvarion;

namespace {

struct Sample {
  long workingKiB = 0, privateKiB = 0, gdi = 0, user = 0;
};

long PrivateKiBByQuery() {
  std::size_t sum = 0;
  MEMORY_BASIC_INFORMATION m{};
  const char* at = nullptr;
  while (VirtualQuery(at, &m, sizeof m) == sizeof m) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) sum += m.RegionSize;
    const char* next = static_cast<const char*>(m.BaseAddress) + m.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return static_cast<long>(sum / 1024);
}

// Handle values are a table index in their low 16 bits; the system takes one with its upper
// bits clear for whatever entry stands at that index.
long GdiObjectsByTable() {
  long n = 0;
  for (ULONG_PTR i = 1; i < 0x10000; ++i)
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(i))) ++n;
  return n;
}

long UserObjectsByTable() {
  long n = 0;
  const DWORD self = GetCurrentProcessId();
  for (ULONG_PTR i = 1; i < 0x10000; ++i) {
    const auto window = reinterpret_cast<HWND>(i);
    if (IsWindow(window)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      n += owner == self;
      continue;
    }
    ICONINFO info{};
    if (GetIconInfo(reinterpret_cast<HICON>(i), &info)) {
      ++n;
      if (info.hbmMask) DeleteObject(info.hbmMask);
      if (info.hbmColor) DeleteObject(info.hbmColor);
    }
  }
  return n;
}

bool byQuery = false, gdiByTable = false, userByTable = false;

Sample Take() {
  Sample s;
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m),
                       sizeof m);
  s.workingKiB = static_cast<long>(m.WorkingSetSize / 1024);
  s.privateKiB = static_cast<long>(m.PrivateUsage / 1024);
  if (s.privateKiB == 0) {
    byQuery = true;
    s.privateKiB = PrivateKiBByQuery();
  }
  s.gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
  if (s.gdi == 0) {
    gdiByTable = true;
    s.gdi = GdiObjectsByTable();
  }
  s.user = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
  if (s.user == 0) {
    userByTable = true;
    s.user = UserObjectsByTable();
  }
  return s;
}

double CpuSeconds() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto value = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
  };
  return value(kernel) + value(user);
}

double NowMs() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

void Press(const Form& form, const char* name) {
  const auto* w = static_cast<const win32::FormWindow*>(form.peer());
  HWND button = w ? w->ControlWindow(name) : nullptr;
  if (!button) return;
  SetActiveWindow(w->hwnd());  // as a click activates the window first
  SendMessageW(button, BM_CLICK, 0, 0);
}

int minutes = 0, minute = 0;
std::FILE* csv = nullptr;
long lastImages = 0;
Sample warm;
bool ok = true;

void CALLBACK EveryMinute(HWND, UINT, UINT_PTR, DWORD) {
  ++minute;
  FreeUnloadedWindows();
  const Sample s = Take();
  std::string text;
  const long images = frmFractal::Instance().lblNum.Caption(text) ? std::stol(text) : -1;
  const double t0 = NowMs();
  Press(frmMain::Instance(), "cmdAbout");
  const double answerMs = frmAbout::Instance().IsLoaded() ? NowMs() - t0 : -1;
  Press(frmAbout::Instance(), "cmdOK");
  if (minute == 1) {
    std::fprintf(csv, "# private bytes: %s; GDI objects: %s; USER objects: %s\n",
                 byQuery ? "committed private memory (VirtualQuery)" : "PrivateUsage",
                 gdiByTable ? "the GDI table (GetObjectType)" : "GetGuiResources",
                 userByTable ? "own windows and the session's icons (IsWindow, GetIconInfo)"
                             : "GetGuiResources");
    std::fprintf(csv,
                 "minute,working_set_kib,private_kib,gdi_objects,user_objects,cpu_s,images,"
                 "images_per_min,answer_ms\n");
  }
  if (minute == 2) warm = s;
  ok = ok && images > lastImages && answerMs >= 0 && answerMs <= 100 &&
       (minute <= 2 ||
        (s.workingKiB - warm.workingKiB <= 1024 && s.privateKiB - warm.privateKiB <= 1024 &&
         s.gdi <= warm.gdi && s.user <= warm.user));
  std::fprintf(csv, "%d,%ld,%ld,%ld,%ld,%.1f,%ld,%ld,%.2f\n", minute, s.workingKiB, s.privateKiB,
               s.gdi, s.user, CpuSeconds(), images, images - lastImages, answerMs);
  std::fflush(csv);
  lastImages = images;
  if (minute >= minutes) {
    std::fclose(csv);
    ExitProcess(ok ? 0 : 1);
  }
}

void CALLBACK PressBegin(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  Press(frmMain::Instance(), "cmdBegin");  // runs the test until the end of the soak
}

}  // namespace

int main(int argc, char** argv) {
  minutes = argc == 3 ? std::atoi(argv[1]) : 0;
  csv = minutes >= 1 ? std::fopen(argv[2], "w") : nullptr;
  if (!csv) {
    std::fprintf(stderr, "usage: kelvarion-soak MINUTES CSV\n");
    return 2;
  }
  return RunApplication(argc, argv, [] {
    (void)frmMain::Instance().Show();
    SetTimer(nullptr, 0, 60'000, &EveryMinute);
    SetTimer(nullptr, 0, 500, &PressBegin);
  });
}
