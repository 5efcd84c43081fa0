// kelvarion-bench: what the stress test costs, measured in one run so that the figures can be
// compared as ratios on a noisy machine. Needs a display (run it under xvfb-run at 96 dpi).
//
//   kernel_ns       the kernel and its loops alone, on a memory canvas, ns a point (with the sums
//                   of every value it produces, as the cycle runs it)
//   plain_loop_ns   the same prescribed operations written as one plain loop, ns a point
//   value_sums_ns   what those sums cost: the kernel less the same kernel summing nothing
//   library_loop_ns that plain loop with the C library's functions alone, without the program's
//                   own correctly rounded values beside them, ns a point
//                   (these two from three passes of all the memory loops after the window's)
//   cycle_ns        the whole cycle in the real test window, ns a point
//   kernel_share    kernel_ns / cycle_ns (the cycle checks every image it draws, the kernel alone
//                   does not: this is what the check of finished images costs too)
//   verify_us_per_image  the check of one finished image in the test window: its checksums from
//                   the value sums and the question which processor the thread runs on, us
//   decide_ms       what deciding one disputed image costs, only ever after an error, the
//                   longest way (two cores, no third: three drawings of it off screen, each point
//                   digested), at the window's canvas size: median of 5, ms
//   pumps_per_s, repaints_per_s, max_poll_gap_ms, peak_rss_mib  (during the cycle)
//   click_ms        from a click on the main window's About button, sent to the X server during
//                   a running test, to the button's receiving it: median of 20 (and max_click_ms)
//   startup_ms      median of whole-process starts of the program: from just before it is
//                   started to its main window being mapped on the display (with a window
//                   manager, to the frame holding it being mapped: run it under run-x11.sh --wm
//                   for that figure)
//   exit_ms, close_ms  median of 15 ends of the idle program: from Exit's click (its release
//                   sent to the X server) or from the main window's close box (the window
//                   manager's WM_DELETE_WINDOW sent) to the end of the process (and
//                   max_exit_ms, max_close_ms); with KELVARION_COMMAND set (the command line
//                   that starts the program instead, as the tests take it: the Windows program
//                   under Wine) also command_exit_ms, command_close_ms and their maxima
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
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "bench/memory_loops.h"
#include "services/affinity.h"
#include "services/clock.h"
#include "services/pump.h"
#include "services/qt/application.h"
#include "services/qt/qt.h"
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
  std::unique_ptr<bench::MemoryLoops> memory;  // sized from the window's canvas
  bench::PassTimes cycle = bench::Unmeasured();
  bench::PassTimes verify = bench::Unmeasured();
  std::uint64_t sums = 0;
  double lastCpu = 0;
  long statsUntil = 1 + kImages;       // first an undisturbed pass for pumps, repaints, gaps
  long timedUntil = 1 + 6L * kImages;  // then five passes with every image timed
  std::vector<double> clicks;          // then clicks, one an image, answered in ms
  double clickSent = -1;
  std::int64_t t0 = 0;
  double seconds = 0;
  PumpStats stats;
};
Run* run = nullptr;
constexpr std::size_t kClicks = 20;

double WallMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A left click in the middle of the main window's About button, made as a user's is: the
// pointer moved there and the button pressed and released through the XTEST extension, on a
// connection of the benchmark's own, so that the program reads it from its queue like any other
// input, at whichever pump of the running test comes next.
void ClickAbout(Run& r) {
  QWidget* main = qt::Widget(frmMain::Instance());
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (!main || xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    r.clicks.assign(kClicks, -1);  // nothing to click: the figure is left out
    return;
  }
  const qreal ratio = main->devicePixelRatioF();
  const auto x = static_cast<std::int16_t>((1560 + 2295 / 2) / 15 * ratio);
  const auto y = static_cast<std::int16_t>((1800 + 375 / 2) / 15 * ratio);
  const auto window = static_cast<xcb_window_t>(main->winId());
  // On top, so that the click lands on it and not on the test window, and the pointer there.
  const std::uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  xcb_warp_pointer(c, XCB_NONE, window, 0, 0, 0, 0, x, y);
  // The press, and a round trip so that the server has made it before the release. The handler runs
  // at the release, so the time runs from sending it.
  xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  r.clickSent = WallMs();
  xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  // And one after it: a connection that closes at once can take its release with it.
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  xcb_disconnect(c);
}

// Takes the time at which the About button receives a click's release, and closes the About
// window again.
class ClickTimer : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonRelease && run && run->clickSent >= 0) {
      run->clicks.push_back(WallMs() - run->clickSent);
      run->clickSent = -1;
      QTimer::singleShot(0, [] { frmAbout::Instance().Unload(); });
    }
    return QObject::eventFilter(watched, e);
  }
};

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
    // The memory loops draw as many points as the window does: its canvas, at its pixel ratio.
    float W = 0, H = 0;
    (void)f.pctGen.InnerWidth(W);
    (void)f.pctGen.InnerHeight(H);
    r.memory = std::make_unique<bench::MemoryLoops>(int(W), int(H));
    r.t0 = clock::Ticks();
    ResetStats();
  } else if (n == r.statsUntil) {
    r.seconds = (clock::Ticks() - r.t0) / 1e9;
    r.stats = Stats();
  } else if (n > r.statsUntil && n <= r.timedUntil) {
    bench::KeepFastest(r.cycle, static_cast<int>((n - 1) % kImages), now - r.lastCpu);
  }
  if (n >= r.timedUntil) {
    // Clicks that are never answered end the run too, after a pass's worth of images.
    if (r.clicks.size() >= kClicks || n >= r.timedUntil + kImages) {
      f.Unload();
      return;
    }
    // Nothing else runs here meanwhile, so the click waits only for the cycle's next pumps.
    if (r.clickSent < 0) ClickAbout(r);
    return;
  }
  if (n >= r.statsUntil) {
    // The check the cycle has just made of an image, again, before the memory loops take the
    // caches.
    {
      const double t0 = CpuNs();
      r.sums +=
          SumsOf(r.memory->values).common + static_cast<unsigned>(affinity::System().current());
      bench::KeepFastest(r.verify, static_cast<int>((n - 1) % kImages), CpuNs() - t0);
    }
    r.memory->Image(static_cast<int>(n % kImages), CpuNs);
  }
  r.lastCpu = CpuNs();
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
// its main window, seen on the root window: the window's own MapNotify, or with a window
// manager the MapNotify of the frame it took the window into; and ends it again. Returns the
// times in ms, or nothing if the display or the program fails.
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
    xcb_window_t frame = XCB_WINDOW_NONE;
    while (shown < 0 && WallMs() - t0 < 10000) {
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      xcb_generic_event_t* e = xcb_poll_for_event(c);
      if (!e) {
        poll(&fd, 1, 100);
        continue;
      }
      if ((e->response_type & 0x7f) == XCB_REPARENT_NOTIFY) {
        const auto* reparent = reinterpret_cast<xcb_reparent_notify_event_t*>(e);
        if (IsMainWindow(c, reparent->window)) frame = reparent->parent;
      } else if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e);
        if (map->window == frame || IsMainWindow(c, map->window)) shown = WallMs() - t0;
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

// CPU time process `pid` has used so far, in clock ticks, or -1.
long CpuTicks(long pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  std::FILE* f = std::fopen(path, "r");
  if (!f) return -1;
  char text[1024] = {};
  const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = 0;
  const char* at = std::strrchr(text, ')');
  unsigned long user = 0, system = 0;
  // After the name: state, then 10 fields before utime and stime.
  if (!at || std::sscanf(at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                         &system) != 2)
    return -1;
  return long(user + system);
}

// Ends of the idle program, `runs` each way (Exit's click, the close box), timed from the action
// to the end of the process started, as the lifetime tests see it: for each, the program is
// started (`command` through the shell, else the Linux program), its main window waited for
// (mapped: no window manager must run) and its process for standing idle, then ended. Returns
// the keys of the figures for the JSON line, named with `prefix`, and prints them.
std::string EndTimes(int runs, const char* command, const std::string& prefix) {
  std::vector<double> times[2];  // Exit, close box
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return std::string();
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
  auto atom = [c](const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
  };
  const xcb_atom_t protocols = atom("WM_PROTOCOLS"), deleteWindow = atom("WM_DELETE_WINDOW"),
                   wmPid = atom("_NET_WM_PID");
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const std::string shellLine = std::string("exec ") + (command ? command : "");
  char exe[] = KELVARION_EXE, sh[] = "/bin/sh", dashC[] = "-c";
  char* plain[] = {exe, nullptr};
  char* shell[] = {sh, dashC, const_cast<char*>(shellLine.c_str()), nullptr};
  // One more start than timed: the first warms the caches.
  for (int i = 0; i <= 2 * runs; ++i) {
    const bool closeBox = i % 2 == 1;
    pid_t pid = 0;
    if (posix_spawn(&pid, command ? sh : exe, &quiet, nullptr, command ? shell : plain, environ) !=
        0)
      break;
    const int ended = int(syscall(SYS_pidfd_open, pid, 0));
    xcb_window_t main = XCB_WINDOW_NONE;
    for (const double t0 = WallMs(); main == XCB_WINDOW_NONE && WallMs() - t0 < 30000;) {
      xcb_generic_event_t* e = xcb_poll_for_event(c);
      if (!e) {
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        poll(&fd, 1, 100);
        continue;
      }
      if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e);
        if (IsMainWindow(c, map->window)) main = map->window;
      }
      std::free(e);
    }
    // Idle: the process that owns the window (under Wine not the one started) has used no CPU
    // for 100 ms.
    long owner = pid;
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, main, wmPid, XCB_ATOM_CARDINAL, 0, 1), nullptr)) {
      if (xcb_get_property_value_length(r) == 4)
        owner = long(*static_cast<const std::uint32_t*>(xcb_get_property_value(r)));
      std::free(r);
    }
    const double shown = WallMs();
    for (long before = -2, now = CpuTicks(owner);
         main != XCB_WINDOW_NONE && now != before && WallMs() - shown < 30000;) {
      usleep(100000);
      before = now;
      now = CpuTicks(owner);
    }
    double t0 = -1;
    if (main != XCB_WINDOW_NONE && ended >= 0) {
      if (closeBox) {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = main;
        e.type = protocols;
        e.data.data32[0] = deleteWindow;
        e.data.data32[1] = XCB_CURRENT_TIME;
        t0 = WallMs();
        xcb_send_event(c, 0, main, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
      } else {
        // Exit's centre, from the main window's layout (twips, 15 to a pixel at 96 dpi, times
        // the window's own ratio to its 373 pixels' width); the press, a round trip, and the
        // time runs from sending the release.
        double scale = 1;
        if (xcb_get_geometry_reply_t* g =
                xcb_get_geometry_reply(c, xcb_get_geometry(c, main), nullptr)) {
          scale = g->width / (5595.0 / 15);
          std::free(g);
        }
        xcb_warp_pointer(c, XCB_NONE, main, 0, 0, 0, 0,
                         static_cast<std::int16_t>((1560 + 2295 / 2) / 15 * scale),
                         static_cast<std::int16_t>((2280 + 375 / 2) / 15 * scale));
        xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        t0 = WallMs();
        xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
      }
      xcb_flush(c);
    }
    pollfd fd{ended, POLLIN, 0};
    const bool gone = t0 >= 0 && poll(&fd, 1, 10000) == 1;
    const double ms = WallMs() - t0;
    if (ended >= 0) close(ended);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (!gone) break;
    if (i > 0) times[closeBox].push_back(ms);
    // Its windows' unmaps and destruction, before the next start's map is looked for.
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) std::free(e);
  }
  posix_spawn_file_actions_destroy(&quiet);
  xcb_disconnect(c);
  std::string keys;
  const char* what[2] = {"exit", "close"};
  for (int k = 0; k < 2; ++k) {
    const std::vector<double>& v = times[k];
    const bool all = int(v.size()) == runs;  // a run that failed leaves the figure out (-1)
    const double median = all ? Median(v) : -1;
    const double most = all ? *std::max_element(v.begin(), v.end()) : -1;
    std::printf("%-28s%7.1f ms (median of %zu; at most %.1f)\n",
                (prefix + (k ? "close box to end" : "Exit to end")).c_str(), median, v.size(),
                most);
    char key[160];
    std::snprintf(key, sizeof key, ", \"%s%s_ms\": %.1f, \"max_%s%s_ms\": %.1f",
                  prefix.empty() ? "" : "command_", what[k], median,
                  prefix.empty() ? "" : "command_", what[k], most);
    keys += key;
  }
  return keys;
}

double DecideMs(int width, int height) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const ImageRecipe recipe{float(width), float(height), 40, Kind::Sine, 2};
    const double t0 = clock::Ticks();
    PointLog::Record onA, onB;
    (void)DrawAgain(recipe, &onA);
    onB.compare = &onA.digests;
    (void)DrawAgain(recipe, &onB);
    onA.points = {0};
    onA.kept.assign(1, PointValues{});
    onA.keep = true;
    onA.at = 0;
    (void)DrawAgain(recipe, &onA);
    times.push_back((clock::Ticks() - t0) / 1e6);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
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
  std::string endKeys = EndTimes(15, nullptr, "");
  if (const char* command = std::getenv("KELVARION_COMMAND"))
    endKeys += EndTimes(15, command, "(command) ");
  auto* r = new Run;
  run = r;
  // The main window, under the test window, for the clicks at the end.
  (void)frmMain::Instance().Show();
  ClickTimer clickTimer;
  qt::Child(frmMain::Instance(), "cmdAbout")->installEventFilter(&clickTimer);
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
  for (int i = 0; i < 3 * kImages; ++i) extra.Image(i % kImages, CpuNs, true);
  const double sumsNs =
      bench::NsPerPoint(extra.kernel, points) - bench::NsPerPoint(extra.unsummed, points);
  const double libraryNs = bench::NsPerPoint(extra.library, points);
  const double kernelAgainNs = bench::NsPerPoint(extra.kernel, points);
  const double cycleNs = bench::NsPerPoint(r->cycle, points);
  const double verifyUs = bench::NsPerPoint(r->verify, points) * points / 1e3;
  const double s = r->seconds;
  const double pumps = r->stats.pumps / s, repaints = r->stats.repaints / s;
  const double gap = r->stats.maxPollGapNs / 1e6, rss = PeakRssMiB();
  const double decideMs = DecideMs(r->memory->Width(), r->memory->Height());
  if (r->memory->Used() || extra.Used() || r->sums == 1) std::puts("");  // keep the work
  std::printf("kernel on a memory canvas   %7.2f ns a point\n", kernelNs);
  std::printf("value sums in the kernel     %7.2f ns a point\n", sumsNs);
  std::printf("plain loop                  %7.2f ns a point (kernel / plain %.3f)\n", plainNs,
              kernelNs / plainNs);
  std::printf("plain loop, C library alone %7.2f ns a point (the kernel in the same run %.2f)\n",
              libraryNs, kernelAgainNs);
  std::printf("cycle in the test window    %7.2f ns a point (kernel share %.3f)\n", cycleNs,
              kernelNs / cycleNs);
  std::printf("check of a finished image      %7.2f us (%.2f %% of drawing it)\n", verifyUs,
              100 * verifyUs * 1e3 / (cycleNs * points));
  std::printf("deciding a disputed image    %7.2f ms (three drawings off screen)\n", decideMs);
  std::printf(
      "pumps %.0f/s, repaints %.1f/s, longest gap between queue reads %.3f ms, peak RSS %.1f MiB\n",
      pumps, repaints, gap, rss);
  // A click never answered leaves the figure out (-1).
  const bool answered = r->clicks.size() == kClicks;
  const double clickMs = answered ? Median(r->clicks) : -1;
  const double maxClickMs = answered ? *std::max_element(r->clicks.begin(), r->clicks.end()) : -1;
  std::printf("a click to its button       %7.2f ms (median of %zu during a test; at most %.2f)\n",
              clickMs, r->clicks.size(), maxClickMs);
  if (!startups.empty())
    std::printf("start-up to the main window %7.1f ms (median of %zu; %.1f to %.1f)\n", startupMs,
                startups.size(), *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()));
  std::printf(
      "{\"kernel_ns\": %.3f, \"value_sums_ns\": %.3f, \"plain_loop_ns\": %.3f, "
      "\"library_loop_ns\": %.3f, \"cycle_ns\": %.3f, \"kernel_share\": %.4f, "
      "\"pumps_per_s\": %.0f, \"repaints_per_s\": %.1f, \"max_poll_gap_ms\": %.3f, "
      "\"peak_rss_mib\": %.1f, \"startup_ms\": %.1f, \"verify_us_per_image\": %.2f, "
      "\"click_ms\": %.3f, \"max_click_ms\": %.3f, \"decide_ms\": %.2f%s}\n",
      kernelNs, sumsNs, plainNs, libraryNs, cycleNs, kernelNs / cycleNs, pumps, repaints, gap, rss,
      startupMs, verifyUs, clickMs, maxClickMs, decideMs, endKeys.c_str());
  delete r;
  return 0;
}
