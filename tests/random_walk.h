#pragma once
// Any sequence of user actions: a seeded random walk through the three real windows, with tests
// starting, nesting and stopping under it, written once for every backend. A failure names the
// seed and the actions that led to it; the same seed replays the same actions on any backend.
//
// `Driver` is the backend's hands and eyes:
//   void After(int ms)                      runs Step() after `ms` from the event loop, which
//                                           a running test's pumps also turn
//   void Click(Form&, const char* button)   a click on the button, handled before it returns
//   void CloseBox(Form&)                    the window's close box
//   int VisibleTitled(const char* caption)  visible windows of the program with that caption
//   void Done()                             the walk has ended

#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "services/awake.h"
#include "services/peer.h"
#include "stress/frm_fractal.h"
#include "tests/layouts.h"

namespace kelvarion::walk {

// The sequence Qt's QRandomGenerator gives for a seed (a Mersenne twister seeded through
// std::seed_seq, bounded by the high half of a 64-bit product), so that every seed replays the
// walk it always did.
class Random {
 public:
  explicit Random(std::uint32_t seed) {
    std::seed_seq sequence{seed};
    engine_.seed(sequence);
  }
  int Below(int n) {
    return static_cast<int>((static_cast<std::uint64_t>(engine_()) * static_cast<unsigned>(n)) >>
                            32);
  }

 private:
  std::mt19937 engine_;
};

// A loaded window's widgets: the window and its controls.
inline int WidgetsOf(const expected::Window& layout) {
  return 1 + static_cast<int>(layout.controls.size());
}

inline long CountShown(const Label& label) {
  std::string text;
  return label.Caption(text) && !text.empty() ? std::stol(text) : -1;
}

template <class Driver>
class Walk {
 public:
  // A running test must show a higher count within this long: on a busy machine an image can
  // take many times its usual few milliseconds, never this long.
  static constexpr std::chrono::seconds kCountLimit{30};

  Walk(Driver& driver, std::uint32_t seed, int steps)
      : driver_(driver), random_(seed), seed_(seed), left_(steps) {}

  void Start() {
    base_ = LiveWidgetCount();
    driver_.After(0);
  }
  const std::string& failure() const { return failure_; }
  // How many times a running test was seen to count on.
  int countChecks() const { return countChecks_; }
  std::string Report() const {
    return "seed " + std::to_string(seed_) +
           " (replay with KELVARION_SEED=" + std::to_string(seed_) + "); actions: " + log_;
  }

  void Step() {
    if (watching_ && !CountRose()) return driver_.After(1);
    if (!failure_.empty() || left_ <= 0) {
      // Wind down: stop whatever runs; the walk ends when every Begin has returned.
      if (Test().IsLoaded()) Test().Unload();
      frmAbout::Instance().Unload();
      if (running_ == 0)
        driver_.Done();
      else
        driver_.After(1);
      return;
    }
    CheckState();
    if (watching_) return driver_.After(1);  // the action comes once the count has risen
    --left_;
    Act(random_.Below(100));
  }

 private:
  static frmFractal& Test() { return frmFractal::Instance(); }

  void Log(const std::string& action) { log_ += (log_.empty() ? "" : " ") + action; }

  void Check(bool ok, const char* what) {
    if (!ok && failure_.empty()) failure_ = what;
  }

  void CheckState() {
    FreeUnloadedWindows();  // as the next pump would
    frmAbout& about = frmAbout::Instance();
    Check(driver_.VisibleTitled("Generating Fractals...") <= 1, "more than one test window");
    Check(driver_.VisibleTitled("About Kelvarion") <= 1, "more than one About window");
    Check(Test().IsLoaded() == (running_ > 0 && !stopped_),
          "test window loaded while no test runs, or gone while one does");
    Check(Test().StopFlag == flag_, "StopFlag disagrees with what was done");
    Check(awake::Held() == (running_ > 0), "not kept awake exactly while a test runs");
    const int expected = base_ + (Test().IsLoaded() ? WidgetsOf(expected::kTest) : 0) +
                         (about.IsLoaded() ? WidgetsOf(expected::kAbout) : 0);
    Check(LiveWidgetCount() == expected,
          "live widgets did not return to their base after an unload");
    // Once in every test: before the next action, the count must rise.
    if (Test().IsLoaded() && !countWatched_) {
      countWatched_ = watching_ = true;
      watchFrom_ = CountShown(Test().lblNum);
      watchStart_ = std::chrono::steady_clock::now();
    }
  }

  // Whether the watched count has risen; a failure once the limit is past.
  bool CountRose() {
    if (!Test().IsLoaded()) {
      Check(false, "the test window went while its count was watched");
    } else if (CountShown(Test().lblNum) > watchFrom_) {
      ++countChecks_;
    } else if (std::chrono::steady_clock::now() - watchStart_ > kCountLimit) {
      Check(false, "a running test stopped counting");
    } else {
      return false;
    }
    watching_ = false;
    return true;
  }

  // Presses Begin when no test window is loaded: the click runs a whole test, and the walk goes
  // on from the event loop inside its pumps until it ends.
  void BeginTest() {
    const int mine = ++running_;
    stopped_ = false;
    flag_ = 0;
    countWatched_ = false;
    driver_.After(0);
    driver_.Click(frmMain::Instance(), "cmdBegin");
    Check(running_ == mine, "nested tests did not unwind in order");
    --running_;
    flag_ = -1;
    stopped_ = true;  // an outer test's window is gone too
    Log("(test " + std::to_string(mine) + " ended)");
    Check(Test().StopFlag == -1, "StopFlag not set after a test ended");
    Check(awake::Held() == (running_ > 0), "not kept awake exactly while a test runs");
  }

  void Act(int pick) {
    frmAbout& about = frmAbout::Instance();
    if (pick < 15) {
      Log("Begin");
      if (!Test().IsLoaded()) return BeginTest();
      driver_.Click(frmMain::Instance(), "cmdBegin");
      Check(Test().StopFlag == 0 && Test().IsLoaded(),
            "Begin during a test did not leave it running");
    } else if (pick < 27 && Test().IsLoaded()) {
      Log("Stop");
      driver_.Click(Test(), "cmdStop");
      stopped_ = true;
      flag_ = -1;
    } else if (pick < 35 && Test().IsLoaded()) {
      Log("TestClose");
      driver_.CloseBox(Test());
      stopped_ = true;
      flag_ = -1;
    } else if (pick < 42 && Test().IsLoaded()) {
      Log("Stop+Begin");  // in one pump: a second test nests inside the first
      driver_.Click(Test(), "cmdStop");
      return BeginTest();
    } else if (pick < 55) {
      Log("About");
      driver_.Click(frmMain::Instance(), "cmdAbout");
      Check(about.IsLoaded(), "About did not open");
    } else if (pick < 63 && about.IsLoaded()) {
      Log("OK");
      driver_.Click(about, "cmdOK");
      Check(!about.IsLoaded(), "OK did not close About");
    } else if (pick < 70 && about.IsLoaded()) {
      Log("AboutClose");
      driver_.CloseBox(about);
      Check(!about.IsLoaded(), "the close box did not close About");
    } else {
      const int ms = random_.Below(30);
      Log("wait" + std::to_string(ms));
      return driver_.After(ms);
    }
    driver_.After(0);
  }

  Driver& driver_;
  Random random_;
  std::uint32_t seed_;
  int left_;
  int base_ = 0;
  int running_ = 0;        // Begin clicks on the stack
  bool stopped_ = true;    // the innermost test's window has been closed
  std::int16_t flag_ = 0;  // what StopFlag must read
  bool countWatched_ = true, watching_ = false;
  long watchFrom_ = 0;
  std::chrono::steady_clock::time_point watchStart_;
  int countChecks_ = 0;
  std::string log_;
  std::string failure_;
};

}  // namespace kelvarion::walk
