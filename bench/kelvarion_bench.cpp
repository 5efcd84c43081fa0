// kelvarion-bench: what the stress test costs, measured in one run so that the figures can be
// compared as ratios on a noisy machine. Needs a display (run it under xvfb-run at 96 dpi).
//
//   kernel_ns       the kernel and its loops alone, on a memory canvas, ns a point
//   plain_loop_ns   the same prescribed operations written as one plain loop, ns a point
//   cycle_ns        the whole cycle in the real test window, ns a point
//   kernel_share    kernel_ns / cycle_ns (the cycle checks every image it draws, the kernel alone
//                   does not: this is what the check costs too)
//   verify_us_per_image  the check of one finished image in the test window: the checksum of
//                   its canvas and the question which processor the thread runs on, us
//   pumps_per_s, repaints_per_s, max_poll_gap_ms, peak_rss_mib  (during the cycle)
//   startup_ms      median of whole-process starts of the program: from just before it is
//                   started to its main window being mapped on the display
// The last line printed is one JSON object with those keys.
//
// Every image of a pass (kind and order) is timed on its own, in CPU time of this thread,
// five times; each image's fastest time counts and a pass is their sum. Interruptions only
// ever add time, so the minimum of short runs is the stable figure on a shared machine.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/memory_loops.h"
#include "services/affinity.h"
#include "services/clock.h"
#include "services/pump.h"
#include "services/qt/application.h"
#include "stress/frm_fractal.h"
#include "stress/kernel.h"

using namespace kelvarion;

namespace {

using bench::kImages;

double CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

struct Run {
  bench::MemoryLoops memory;
  bench::PassTimes cycle = bench::Unmeasured();
  bench::PassTimes verify = bench::Unmeasured();
  std::uint64_t sums = 0;
  double lastCpu = 0;
  long statsUntil = 1 + kImages;       // first an undisturbed pass for pumps, repaints, gaps
  long timedUntil = 1 + 6L * kImages;  // then five passes with every image timed
  std::int64_t t0 = 0;
  double seconds = 0;
  PumpStats stats;
};
Run* run = nullptr;

// Follows the real cycle in the real window by its count: each image runs from one count to
// the next, with all the pumps, repaints and caption changes that belong to it. In the timed
// passes the same image is also run on memory between two real ones (outside their timing),
// so that all three figures for an image are taken within milliseconds of each other.
void OnCaption(const Label& label, std::string_view text) {
  frmFractal& f = frmFractal::Instance();
  if (&label != &f.lblNum) return;
  Run& r = *run;
  const double now = CpuNs();
  const long n = std::stol(std::string(text));
  if (n == 1) {
    r.t0 = clock::Ticks();
    ResetStats();
  } else if (n == r.statsUntil) {
    r.seconds = (clock::Ticks() - r.t0) / 1e9;
    r.stats = Stats();
  } else if (n > r.statsUntil) {
    bench::KeepFastest(r.cycle, static_cast<int>((n - 1) % kImages), now - r.lastCpu);
  }
  if (n >= r.timedUntil) {
    f.Unload();
    return;
  }
  if (n >= r.statsUntil) {
    // The check the cycle has just made of this image, again, on the same canvas, before the
    // memory loops take the caches.
    if (const CanvasSurface* canvas = f.pctGen.Surface()) {
      const double t0 = CpuNs();
      r.sums += ImageChecksum(*canvas) + static_cast<unsigned>(affinity::System().current());
      bench::KeepFastest(r.verify, static_cast<int>((n - 1) % kImages), CpuNs() - t0);
    }
    r.memory.Image(static_cast<int>(n % kImages), CpuNs);
  }
  r.lastCpu = CpuNs();
}

double WallMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

bool IsMainWindow(xcb_connection_t* c, xcb_window_t window) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
      nullptr);
  if (!reply) return false;
  const std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  std::free(reply);
  return name == "Kelvarion 1.0";
}

// Starts the program `runs` times, each time timing from just before the start to the map of
// its main window, seen as a MapNotify on the root window (no window manager must run), and
// ends it again. Returns the times in ms, or nothing if the display or the program fails.
std::vector<double> StartupTimes(int runs) {
  std::vector<double> times;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return times;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  char exe[] = KELVARION_EXE;
  char* args[] = {exe, nullptr};
  for (int i = 0; i < runs; ++i) {
    const double t0 = WallMs();
    pid_t pid = 0;
    if (posix_spawn(&pid, exe, &quiet, nullptr, args, environ) != 0) break;
    double shown = -1;
    while (shown < 0 && WallMs() - t0 < 10000) {
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      xcb_generic_event_t* e = xcb_poll_for_event(c);
      if (!e) {
        poll(&fd, 1, 100);
        continue;
      }
      if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e);
        if (IsMainWindow(c, map->window)) shown = WallMs() - t0;
      }
      std::free(e);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (shown < 0) break;
    times.push_back(shown);
  }
  posix_spawn_file_actions_destroy(&quiet);
  xcb_disconnect(c);
  return times;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double PeakRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

}  // namespace

int main() {
  Application app;
  // Start-ups first, while nothing else of the benchmark runs; the first warms the caches.
  std::vector<double> startups = StartupTimes(16);
  if (!startups.empty()) startups.erase(startups.begin());
  const double startupMs = Median(startups);
  auto* r = new Run;
  run = r;
  SetCaptionObserver(&OnCaption);
  frmFractal& f = frmFractal::Instance();
  f.StopFlag = 0;
  (void)f.Show();
  SetCaptionObserver(nullptr);
  const double kernelNs = bench::NsPerPoint(r->memory.kernel);
  const double plainNs = bench::NsPerPoint(r->memory.plain);
  const double cycleNs = bench::NsPerPoint(r->cycle);
  const double verifyUs = bench::NsPerPoint(r->verify) * bench::kPointsPerImage / 1e3;
  const double s = r->seconds;
  const double pumps = r->stats.pumps / s, repaints = r->stats.repaints / s;
  const double gap = r->stats.maxPollGapNs / 1e6, rss = PeakRssMiB();
  if (r->memory.Used() || r->sums == 1) std::puts("");  // keep the work
  std::printf("kernel on a memory canvas   %7.2f ns a point\n", kernelNs);
  std::printf("plain loop                  %7.2f ns a point (kernel / plain %.3f)\n", plainNs,
              kernelNs / plainNs);
  std::printf("cycle in the test window    %7.2f ns a point (kernel share %.3f)\n", cycleNs,
              kernelNs / cycleNs);
  std::printf("check of a finished image      %7.2f us (%.2f %% of drawing it)\n", verifyUs,
              100 * verifyUs * 1e3 / (cycleNs * bench::kPointsPerImage));
  std::printf(
      "pumps %.0f/s, repaints %.1f/s, longest gap between queue reads %.3f ms, peak RSS %.1f MiB\n",
      pumps, repaints, gap, rss);
  if (!startups.empty())
    std::printf("start-up to the main window %7.1f ms (median of %zu; %.1f to %.1f)\n", startupMs,
                startups.size(), *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()));
  std::printf(
      "{\"kernel_ns\": %.3f, \"plain_loop_ns\": %.3f, \"cycle_ns\": %.3f, \"kernel_share\": %.4f, "
      "\"pumps_per_s\": %.0f, \"repaints_per_s\": %.1f, \"max_poll_gap_ms\": %.3f, "
      "\"peak_rss_mib\": %.1f, \"startup_ms\": %.1f, \"verify_us_per_image\": %.2f}\n",
      kernelNs, plainNs, cycleNs, kernelNs / cycleNs, pumps, repaints, gap, rss, startupMs,
      verifyUs);
  delete r;
  return 0;
}
