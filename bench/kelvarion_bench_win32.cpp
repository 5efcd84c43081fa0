// kelvarion-bench (Windows): what the stress test costs, measured in one run so that the
// figures can be compared as ratios on a noisy machine. Run it on the desktop at 96 dpi (under
// Wine: on Xvfb with no window manager), from the build folder, next to Kelvarion1.exe's.
//
//   kernel_ns       the kernel and its loops alone, on a memory canvas, ns a point
//   value_sums_ns   what the kernel's sums of its values cost a point (as on Linux)
//   plain_loop_ns   the same prescribed operations written as one plain loop, ns a point
//   library_loop_ns that plain loop with the C library's functions alone, ns a point
//   cycle_ns        the whole cycle in the real Win32 test window, ns a point
//   kernel_share    kernel_ns / cycle_ns
//   pumps_per_s, repaints_per_s, max_poll_gap_ms, peak_rss_mib  (during the cycle)
//   startup_ms      median of whole-process starts of Kelvarion1.exe: from just before it is
//                   started to its main window being visible
// The last line printed is one JSON object with those keys.
//
// The memory loops are the Linux benchmark's own (memory_loops.h). Every image of a pass is
// timed on its own, five times, and each image's fastest time counts. Windows' thread CPU
// times tick in steps of 15.6 ms (under Wine, 10 ms), far coarser than an image, so the clock
// here is the performance counter; interruptions only ever add time, so the minimum of short
// runs is still the stable figure.

#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32, no psapi.dll
#endif
#include "services/win32/win32.h"
// After <windows.h>:
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/memory_loops.h"
#include "services/application.h"
#include "services/clock.h"
#include "services/program.h"
#include "services/pump.h"
#include "stress/frm_fractal.h"

using namespace kelvarion;

namespace {

using bench::kImages;

double WallNs() {
  static const double nsPerTick = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1e9 / static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * nsPerTick;
}

struct Run {
  std::unique_ptr<bench::MemoryLoops> memory;  // sized from the window's canvas
  bench::PassTimes cycle = bench::Unmeasured();
  double last = 0;
  long statsUntil = 1 + kImages;       // first an undisturbed pass for pumps, repaints, gaps
  long timedUntil = 1 + 6L * kImages;  // then five passes with every image timed
  std::int64_t t0 = 0;
  double seconds = 0;
  PumpStats stats;
};
Run* run = nullptr;

// Follows the real cycle in the real window by its count, as the Linux benchmark does: each
// image runs from one count to the next with all its pumps, repaints and caption changes; in
// the timed passes the same image also runs on memory between two real ones.
void OnCaption(const Label& label, std::string_view text) {
  frmFractal& f = frmFractal::Instance();
  if (&label != &f.lblNum) return;
  Run& r = *run;
  const double now = WallNs();
  const long n = std::stol(std::string(text));
  if (n == 1) {
    // The memory loops draw as many points as the window does: its canvas, at its pixel ratio.
    float W = 0, H = 0;
    (void)f.pctGen.InnerWidth(W);
    (void)f.pctGen.InnerHeight(H);
    r.memory = std::make_unique<bench::MemoryLoops>(int(W), int(H));
    r.t0 = clock::Ticks();
    ResetStats();
  } else if (n == r.statsUntil) {
    r.seconds = static_cast<double>(clock::Ticks() - r.t0) / 1e9;
    r.stats = Stats();
  } else if (n > r.statsUntil) {
    bench::KeepFastest(r.cycle, static_cast<int>((n - 1) % kImages), now - r.last);
  }
  if (n >= r.timedUntil) {
    f.Unload();
    return;
  }
  if (n >= r.statsUntil) r.memory->Image(static_cast<int>(n % kImages), WallNs);
  r.last = WallNs();
}

// Kelvarion1.exe in the folder above this program's (the build folder), or "".
std::wstring ProgramPath() {
  wchar_t self[MAX_PATH] = L"";
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring path(self, n);
  for (int up = 0; up < 2; ++up) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    path.resize(slash);
  }
  path += L"\\Kelvarion1.exe";
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

// The main window of process `pid`, once it is visible.
HWND VisibleMainWindow(DWORD pid) {
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, win32::FormClass(), L"Kelvarion 1.0")) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// Starts the program `runs` times, each time timing from just before the start to its main
// window being visible, and ends it again. Returns the times in ms.
std::vector<double> StartupTimes(int runs) {
  std::vector<double> times;
  std::wstring path = ProgramPath();
  if (path.empty()) return times;
  for (int i = 0; i < runs; ++i) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + path + L"\"";
    const double t0 = WallNs();
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
      break;
    double shown = -1;
    while (shown < 0 && WallNs() - t0 < 20e9) {
      if (VisibleMainWindow(process.dwProcessId))
        shown = (WallNs() - t0) / 1e6;
      else
        Sleep(1);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (shown < 0) break;
    times.push_back(shown);
  }
  return times;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double PeakRssMiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

void Benchmark() {
  // Start-ups first, while nothing else of the benchmark runs; the first warms the caches.
  std::vector<double> startups = StartupTimes(11);
  if (!startups.empty()) startups.erase(startups.begin());
  const double startupMs = Median(startups);
  auto* r = new Run;
  run = r;
  SetCaptionObserver(&OnCaption);
  frmFractal& f = frmFractal::Instance();
  f.StopFlag = 0;
  (void)f.Show();
  SetCaptionObserver(nullptr);
  const double points = r->memory->PointsPerImage();
  const double kernelNs = bench::NsPerPoint(r->memory->kernel, points);
  const double plainNs = bench::NsPerPoint(r->memory->plain, points);
  // Then, the window closed, three passes of all four memory loops, interleaved: what the sums
  // cost, and the plain loop over the C library alone beside the kernel.
  bench::MemoryLoops extra(r->memory->Width(), r->memory->Height());
  for (int i = 0; i < 3 * kImages; ++i) extra.Image(i % kImages, WallNs, true);
  const double sumsNs =
      bench::NsPerPoint(extra.kernel, points) - bench::NsPerPoint(extra.unsummed, points);
  const double libraryNs = bench::NsPerPoint(extra.library, points);
  const double cycleNs = bench::NsPerPoint(r->cycle, points);
  const double s = r->seconds;
  const double pumps = static_cast<double>(r->stats.pumps) / s;
  const double repaints = static_cast<double>(r->stats.repaints) / s;
  const double gap = static_cast<double>(r->stats.maxPollGapNs) / 1e6, rss = PeakRssMiB();
  if (r->memory->Used() || extra.Used()) std::puts("");
  std::printf("kernel on a memory canvas   %7.2f ns a point\n", kernelNs);
  std::printf("value sums in the kernel     %7.2f ns a point\n", sumsNs);
  std::printf("plain loop                  %7.2f ns a point (kernel / plain %.3f)\n", plainNs,
              kernelNs / plainNs);
  std::printf("plain loop, C library alone %7.2f ns a point\n", libraryNs);
  std::printf("cycle in the test window    %7.2f ns a point (kernel share %.3f)\n", cycleNs,
              kernelNs / cycleNs);
  std::printf(
      "pumps %.0f/s, repaints %.1f/s, longest gap between queue reads %.3f ms, peak RSS %.1f MiB\n",
      pumps, repaints, gap, rss);
  if (!startups.empty())
    std::printf("start-up to the main window %7.1f ms (median of %zu; %.1f to %.1f)\n", startupMs,
                startups.size(), *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()));
  std::printf(
      "{\"kernel_ns\": %.3f, \"value_sums_ns\": %.3f, \"plain_loop_ns\": %.3f, "
      "\"library_loop_ns\": %.3f, \"cycle_ns\": %.3f, \"kernel_share\": %.4f, "
      "\"pumps_per_s\": %.0f, \"repaints_per_s\": %.1f, \"max_poll_gap_ms\": %.3f, "
      "\"peak_rss_mib\": %.1f, \"startup_ms\": %.1f}\n",
      kernelNs, sumsNs, plainNs, libraryNs, cycleNs, kernelNs / cycleNs, pumps, repaints, gap, rss,
      startupMs);
  delete r;
}

}  // namespace

int main(int argc, char** argv) {
  return RunApplication(argc, argv, [] {
    Benchmark();
    EndProgram();  // flushes the output and ends the process
  });
}
