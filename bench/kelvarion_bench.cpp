// kelvarion-bench: what the stress test costs, measured in one run so that the figures can be
// compared as ratios on a noisy machine. Needs a display (run it under xvfb-run at 96 dpi).
//
//   kernel_ns       the kernel and its loops alone, on a memory canvas, ns a point
//   plain_loop_ns   the same prescribed operations written as one plain loop, ns a point
//   cycle_ns        the whole cycle in the real test window, ns a point
//   kernel_share    kernel_ns / cycle_ns
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

#include "services/qt/application.h"
#include "services/clock.h"
#include "services/pump.h"
#include "stress/frm_fractal.h"
#include "stress/kernel.h"

using namespace kelvarion;

namespace {

double CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

constexpr int kWidth = 413, kHeight = 333;
constexpr int kImages = 237;
constexpr double kPointsPerImage = double(kWidth + 1) * (kHeight + 1);

using PassTimes = std::array<double, kImages>;  // fastest time of each image of a pass, ns

void KeepFastest(PassTimes& best, int image, double ns) {
  best[image] = std::min(best[image], ns);
}
PassTimes Unmeasured() {
  PassTimes t;
  t.fill(1e18);
  return t;
}
double NsPerPoint(const PassTimes& t) {
  double sum = 0;
  for (double ns : t) sum += ns;
  return sum / (kImages * kPointsPerImage);
}

// One image through the kernel's own code on a canvas in memory; v carries as in the cycle.
// Both memory loops are functions of their own, so that neither is compiled into the code
// around it differently from the other.
[[gnu::noinline]] void KernelImage(MemoryCanvas& canvas, double K, Kind kind, double& v) {
  const SkipRule skip;
  double w = 0, step = 0;
  float endX = 0;
  skip(canvas.InnerWidth(endX));
  double Y = 0;
  for (double X = 0; X <= endX; X += 1) KernelColumn(skip, canvas, X, K, kind, Y, v, w, step);
}

// The same operations with no abstraction at all: the floor the kernel is measured against.
struct Plain {
  std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(std::size_t(kWidth) * kHeight);
  std::vector<unsigned char> drawn = std::vector<unsigned char>(kWidth + 1);
  volatile float innerW = kWidth, innerH = kHeight;
  // The image's size, as any canvas that can change size keeps it: read at every point.
  float limitX = kWidth, limitY = kHeight;
  std::size_t stride = kWidth;
};
[[gnu::noinline]] void PlainImage(Plain& p, double K, int kind, double& v) {
  const float endX = p.innerW;
  for (double X = 0; X <= endX; X += 1) {
    const float endY = p.innerH;
    for (double Y = 0; Y <= endY; Y += 1) {
      do {
        float hw = p.innerW / 2;
        fp::Settle(hw);
        if (!std::isfinite(hw) && fp::Raised()) {
          fp::Clear();
          break;
        }
        float hh = p.innerH / 2;
        fp::Settle(hh);
        if (!std::isfinite(hh) && fp::Raised()) {
          fp::Clear();
          break;
        }
        double a = std::fabs((X - hw) * (Y - hh));
        fp::Settle(a);
        if (!std::isfinite(a) && fp::Raised()) {
          fp::Clear();
          break;
        }
        if (kind == 0) {
          v = std::atan(a);
        } else if (kind == 1) {
          v = std::sin(a);
        } else {
          double r = std::log(a);
          fp::Settle(r);
          if (!std::isfinite(r) && fp::Raised()) {
            fp::Clear();
            break;
          }
          v = r;
        }
      } while (false);
      double w = v;
      for (double step = 1; step <= 5; step += 1) {  // the step counter is a double too
        double r = -(w * K);
        fp::Settle(r);
        if (!std::isfinite(r) && fp::Raised()) {
          fp::Clear();
          continue;
        }
        w = r;
      }
      if (!(__builtin_isgreaterequal(w, -2147483648.5) && __builtin_isless(w, 2147483647.5)))
        continue;
      const int c = _mm_cvtsd_si32(_mm_set_sd(w));
      const float fx = static_cast<float>(X), fy = static_cast<float>(Y);
      if (fx >= 0 && fy >= 0 && fx < p.limitX && fy < p.limitY) {
        const int x = static_cast<int>(fx), y = static_cast<int>(fy);
        p.pixels[static_cast<std::size_t>(y) * p.stride + x] = ToRgb32(c);
        p.drawn[x] = 1;
      }
    }
  }
}

struct Run {
  PassTimes kernel = Unmeasured(), plain = Unmeasured(), cycle = Unmeasured();
  MemoryCanvas canvas{kWidth, kHeight, kWidth, kHeight};
  Plain plainCanvas;
  double vKernel = 2, vPlain = 2;
  double lastCpu = 0;
  long memoryImages = 0;
  long statsUntil = 1 + kImages;       // first an undisturbed pass for pumps, repaints, gaps
  long timedUntil = 1 + 6L * kImages;  // then five passes with every image timed
  std::int64_t t0 = 0;
  double seconds = 0;
  PumpStats stats;
};
Run* run = nullptr;

// Runs image `index` of a pass through the kernel and through the plain loop, on memory.
void MemoryImage(Run& r, int index) {
  const double K = 2 + index / 3;
  const int kind = index % 3;
  if (kind == 0) r.vKernel = r.vPlain = 2;
  // Whichever runs first finds the caches as the window left them: take turns.
  const bool kernelFirst = (r.memoryImages++ / kImages) % 2 == 0;
  for (int turn = 0; turn < 2; ++turn) {
    fp::ClearUpperVectors();
    const double t0 = CpuNs();
    if ((turn == 0) == kernelFirst) {
      KernelImage(r.canvas, K, kKinds[kind], r.vKernel);
      KeepFastest(r.kernel, index, CpuNs() - t0);
    } else {
      PlainImage(r.plainCanvas, K, kind, r.vPlain);
      KeepFastest(r.plain, index, CpuNs() - t0);
    }
  }
}

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
    KeepFastest(r.cycle, static_cast<int>((n - 1) % kImages), now - r.lastCpu);
  }
  if (n >= r.timedUntil) {
    f.Unload();
    return;
  }
  if (n >= r.statsUntil) MemoryImage(r, static_cast<int>(n % kImages));
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
  const double kernelNs = NsPerPoint(r->kernel), plainNs = NsPerPoint(r->plain);
  const double cycleNs = NsPerPoint(r->cycle);
  const double s = r->seconds;
  const double pumps = r->stats.pumps / s, repaints = r->stats.repaints / s;
  const double gap = r->stats.maxPollGapNs / 1e6, rss = PeakRssMiB();
  if (r->plainCanvas.pixels[1] == 0x12345678u) std::puts("");  // keep the plain loop's work
  std::printf("kernel on a memory canvas   %7.2f ns a point\n", kernelNs);
  std::printf("plain loop                  %7.2f ns a point (kernel / plain %.3f)\n", plainNs,
              kernelNs / plainNs);
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
      "{\"kernel_ns\": %.3f, \"plain_loop_ns\": %.3f, \"cycle_ns\": %.3f, \"kernel_share\": %.4f, "
      "\"pumps_per_s\": %.0f, \"repaints_per_s\": %.1f, \"max_poll_gap_ms\": %.3f, "
      "\"peak_rss_mib\": %.1f, \"startup_ms\": %.1f}\n",
      kernelNs, plainNs, cycleNs, kernelNs / cycleNs, pumps, repaints, gap, rss, startupMs);
  delete r;
  return 0;
}
