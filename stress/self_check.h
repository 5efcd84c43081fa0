#pragma once
// The stress test checks its own work, three ways. At every point the C library's value of the
// function and the program's own correctly rounded one check each other (maths.h): a gap beyond
// any library's rounding is an error at once. Every value every point produces goes into the
// image's sums (kernel.h); every pass draws the same 237 images, so the first pass of a test
// keeps each image's sums and every later pass compares. And every build computes the same
// values, so for the canvas sizes the test window has at the common pixel densities the program
// carries the right sums (known_answers.h): there even the first pass is checked. Meanwhile the
// test's thread is held to one logical processor at a time and moved on to the next from time to
// time, so that each core is driven at its highest boost clock in turn and an error can be laid
// at one core's door.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "services/affinity.h"
#include "services/canvas_surface.h"
#include "services/clock.h"
#include "services/topology.h"
#include "stress/kernel.h"
#include "stress/known_answers.h"
#include "stress/verdict.h"

namespace kelvarion {

inline constexpr int kImagesPerPass = 237;

// How long the thread stays on one processor before it moves on at the next pass boundary:
// long enough for the core to reach the temperature and clock a steady load gives it and to
// draw every image some 60 times there, short enough that a 12-hour test visits each of 256
// logical processors more than five times.
inline constexpr std::int64_t kProcessorDwellNs = 30'000'000'000;

// An image's checksums, from its value lanes (kernel.h): `common` of the values every correct
// processor computes alike on every build (the correctly rounded results and all that follows
// from them, the colours among them), which the known answers give; `library` of the C library's
// results, which are the platform's own; `colours` of the colour lane alone, to tell whether what
// the screen shows changed. Each lane is mixed in with a step that is a bijection for the others
// fixed, so a change in any one lane always changes the checksum.
struct ValueSums {
  std::uint64_t common = 0, library = 0, colours = 0;
  bool operator==(const ValueSums& o) const {
    return common == o.common && library == o.library && colours == o.colours;
  }
  bool operator!=(const ValueSums& o) const { return !(*this == o); }
};

inline std::uint64_t MixIn(std::uint64_t h, std::uint64_t x) {
  h = (h ^ x) * 0x9E3779B97F4A7C15u;
  return h ^ (h >> 29);
}

inline ValueSums SumsOf(const ImageValues<ValueLanes>& v) {
  const ValueLanes* both[] = {&v.first, &v.second};
  ValueSums s;
  for (const ValueLanes* l : both) {
    for (std::uint64_t x : {l->own, l->seed, l->v, l->w, l->colour}) s.common = MixIn(s.common, x);
    s.library = MixIn(s.library, l->library);
    s.colours = MixIn(s.colours, l->colour);
  }
  return s;
}

// What the check needs from the test window beyond the canvas.
struct CheckSetup {
  const affinity::Calls* processors = nullptr;  // nullptr: the thread is left where it is
  std::int64_t dwellNs = kProcessorDwellNs;
  // Where each processor sits, read when an error is first told; nullptr: numbers alone.
  const topology::Description& (*topology)() = nullptr;
  // The right sums by canvas size (tests give their own).
  const KnownAnswers* known = kKnownAnswers;
  std::size_t knownCount = sizeof kKnownAnswers / sizeof kKnownAnswers[0];
};

// A test's first error, as the error window tells it, and the test's count of errors.
struct ErrorReport {
  // What showed it: the two computations of a function disagreeing at a point, the image's sums
  // differing from the known answer, or from the image's first drawing in this test.
  enum class Finding { Disagreement, KnownAnswer, FirstDrawing };
  Finding finding = Finding::FirstDrawing;
  long image = 0;  // counted from the test's start, as its window counts
  int order = 0;
  Kind kind = Kind::Arctangent;
  long pass = 0;       // the pass whose drawing was wrong, or differed
  int processor = -1;  // where that drawing was made; -1 if the system did not say
  long firstPass = 0;  // FirstDrawing: the drawing it was compared with
  int firstProcessor = -1;
  bool held = true;                  // the drawings were made with the thread held to one processor
  maths::Disagreement disagreement;  // Disagreement: the point
  std::uint64_t sum = 0, known = 0;  // KnownAnswer: the image's sum and the right one
  bool libraryOnly = false;          // FirstDrawing: only the C library's results differed
  bool coloursDiffer = false;        // FirstDrawing: and the colours with them
  std::string time;                  // the local time it was found
  std::int64_t afterNs = 0;          // how long after the test began
  // FirstDrawing: which of the two was wrong. Drawn on one core, the next drawing of the image
  // decides (either way that core erred); drawn on two, the image is drawn again at once: on a
  // third core, or on both and its differing values held against their exact values (verdict.h).
  // Both may be wrong, or nothing may tell.
  enum class Verdict { Open, LaterWrong, FirstWrong, BothWrong, CannotTell };
  Verdict verdict = Verdict::Open;
  enum class Decided { NextDrawing, OtherCore, BothAgain, Exactly };
  Decided decided = Decided::NextDrawing;
  long decidingPass = 0;
  int decidingProcessor = -1;     // NextDrawing, OtherCore: where the deciding drawing was made
  long pointX = -1, pointY = -1;  // Exactly: the first point found wrong
  bool unmoved = false;           // CannotTell: the thread could not be moved to draw it again
  std::string testStart;          // when the test began, as its window shows it
  long errors = 0;                // all this test has found so far
  const topology::Description* topology = nullptr;  // names the processors, if known
};

// The processors whose work was wrong, as far as the report can tell: none where it cannot (the
// thread not held, a comparison undecided or undecidable), two where both were wrong.
inline std::vector<int> Blamed(const ErrorReport& r) {
  using V = ErrorReport::Verdict;
  if (!r.held || r.processor < 0) return {};
  if (r.finding != ErrorReport::Finding::FirstDrawing) return {r.processor};
  switch (r.verdict) {
    case V::Open:
      return r.processor == r.firstProcessor ? std::vector<int>{r.processor} : std::vector<int>{};
    case V::LaterWrong:
      return {r.processor};
    case V::FirstWrong:
      return r.firstProcessor >= 0 ? std::vector<int>{r.firstProcessor} : std::vector<int>{};
    case V::BothWrong:
      return {r.firstProcessor, r.processor};
    case V::CannotTell:
      break;
  }
  return {};
}

// Holds the thread to one processor at a time, moving on to the next the process may use at the
// first pass boundary after the dwell, round and round; gives the thread back the affinity it
// had when the tour ends. With one processor, or when a call fails, the thread runs unpinned.
// A nested test (Stop and Begin at once) tours the processors the outermost test found.
class ProcessorTour {
 public:
  ProcessorTour(const affinity::Calls* calls, std::int64_t dwellNs, std::int64_t nowNs)
      : calls_(calls), dwellNs_(dwellNs), sinceNs_(nowNs), enclosing_(innermost_) {
    innermost_ = this;
    if (!calls_) return;
    if (enclosing_) {
      allowed_ = enclosing_->allowed_;
    } else if (!calls_->get(allowed_)) {
      allowed_.clear();
    }
    if (allowed_.size() < 2 || !calls_->get(saved_)) return;
    Pin(0);
  }
  ~ProcessorTour() {
    if (changed_) (void)calls_->set(saved_);
    innermost_ = enclosing_;
  }
  ProcessorTour(const ProcessorTour&) = delete;
  ProcessorTour& operator=(const ProcessorTour&) = delete;

  void PassBoundary(std::int64_t nowNs) {
    if (!pinned_ || nowNs - sinceNs_ < dwellNs_) return;
    Pin((at_ + 1) % allowed_.size());
    sinceNs_ = nowNs;
  }
  // The processor the thread runs on now, or -1.
  int Processor() const { return calls_ ? calls_->current() : -1; }
  // The processors of the tour.
  const std::vector<int>& Allowed() const { return allowed_; }
  // Runs `work` with the thread held to `processor`, then goes back to where the tour is; false
  // (and nothing run) where the thread is not held or the system refuses the move.
  template <class Work>
  bool RunOn(int processor, Work&& work) {
    if (!pinned_) return false;
    const bool moved = calls_->set({processor});
    if (moved) work();
    Pin(at_);
    return moved;
  }
  // Whether the thread stays on the processor it runs on.
  bool Held() const { return pinned_ || allowed_.size() == 1; }

 private:
  void Pin(std::size_t at) {
    changed_ = true;
    if (calls_->set({allowed_[at]})) {
      at_ = at;
      pinned_ = true;
      return;
    }
    pinned_ = false;  // unpinned from here on
    (void)calls_->set(saved_);
  }

  const affinity::Calls* calls_;
  std::int64_t dwellNs_, sinceNs_;
  std::vector<int> allowed_, saved_;
  std::size_t at_ = 0;
  bool pinned_ = false, changed_ = false;
  ProcessorTour* enclosing_;
  static inline thread_local ProcessorTour* innermost_ = nullptr;  // nesting is per thread
};

// The check of each finished image, for one run of the cycle: its disagreements, its sums
// against the known answer where the canvas size has one, and against its first drawing.
class ImageCheck {
 public:
  enum class Change { None, FirstError, Count, Verdict };

  explicit ImageCheck(const CheckSetup& setup) : setup_(setup) {}

  // A pass begins. The first, and the first after the canvas changed size, keeps the sums the
  // later ones are compared with.
  void PassBegins(const CanvasSurface* canvas) {
    ++pass_;
    index_ = 0;
    const Shape now = ShapeOf(canvas);
    recording_ = !reference_ || now != referenceShape_;
    if (recording_) {
      reference_ = true;
      referenceShape_ = now;
      slots_.fill(Slot{});
      firstOpen_ = false;  // what was in dispute can no longer be decided
    }
    passShape_ = now;
    usable_ = canvas != nullptr;
    known_ = canvas ? Known(canvas->innerWidth, canvas->innerHeight) : nullptr;
  }

  // How a dispute between two drawings of an image made on different cores was settled.
  struct Decision {
    ErrorReport::Verdict verdict = ErrorReport::Verdict::Open;  // Open: left to the next drawing
    ErrorReport::Decided decided = ErrorReport::Decided::NextDrawing;
    int processor = -1;
    long pointX = -1, pointY = -1;
    bool unmoved = false;
  };

  // Image N (order K, `kind`) is finished on `canvas`, its points having produced `values`,
  // drawn on `processor`. Where it differs from its first drawing and the two were made on
  // different cores, decide(recipe, first sums, first processor, its sums) says which was wrong.
  // Says what changed in the report.
  template <class Decide>
  Change ImageDone(const CanvasSurface* canvas, const ImageValues<>& values, int processor,
                   bool held, double N, double K, Kind kind, Decide&& decide) {
    const int i = index_++;
    if (!usable_ || i >= kImagesPerPass) return Change::None;
    if (ShapeOf(canvas) != passShape_) {
      usable_ = reference_ = false;  // a fresh first pass at the next boundary
      return Change::None;
    }
    const Drawing drawing{true, SumsOf(values), pass_, processor, held};
    Slot& slot = slots_[static_cast<std::size_t>(i)];
    ErrorReport found;
    bool error = true;
    if (values.findings.count > 0) {
      found.finding = ErrorReport::Finding::Disagreement;
      found.disagreement = values.findings.first;
    } else if (known_ && drawing.sums.common != known_[i]) {
      found.finding = ErrorReport::Finding::KnownAnswer;
      found.sum = drawing.sums.common;
      found.known = known_[i];
    } else if (!slot.first.valid) {
      slot = Slot::Of(drawing);  // a right drawing: the later ones must match it
      error = false;
    } else if (drawing.sums == slot.first.sums) {
      error = false;
      if (slot.disputed && !slot.contested) {
        slot.disputed = false;
        return Settle(i, ErrorReport::Verdict::LaterWrong, processor);
      }
    } else if (slot.disputed && drawing.sums == slot.other.sums) {
      if (slot.contested) return Change::None;  // one of the two that nothing could decide
      slot = Slot::Of(Drawing(slot.other));     // the one that was right is the reference now
      return Settle(i, ErrorReport::Verdict::FirstWrong, processor);
    } else if (slot.wrong && drawing.sums == slot.wrongSums) {
      found.finding = ErrorReport::Finding::FirstDrawing;  // the same wrong drawing again
    } else {
      const Drawing first = slot.first;
      found.finding = ErrorReport::Finding::FirstDrawing;
      found.firstPass = first.pass;
      found.firstProcessor = first.processor;
      found.libraryOnly = drawing.sums.common == first.sums.common;
      found.coloursDiffer = drawing.sums.colours != first.sums.colours;
      held = held && first.held;
      if (!slot.disputed) {
        const ImageRecipe recipe{canvas->innerWidth, canvas->innerHeight, K, kind, values.vStart};
        const Decision d =
            held ? decide(recipe, first.sums, first.processor, drawing.sums) : Decision{};
        found.verdict = d.verdict;
        found.decided = d.decided;
        found.decidingPass = pass_;
        found.decidingProcessor = d.processor;
        found.pointX = d.pointX;
        found.pointY = d.pointY;
        found.unmoved = d.unmoved;
        switch (d.verdict) {
          case ErrorReport::Verdict::Open:  // left to the next drawing
          case ErrorReport::Verdict::BothWrong:
          case ErrorReport::Verdict::CannotTell:
            slot.disputed = true;
            slot.contested = d.verdict != ErrorReport::Verdict::Open;
            slot.other = drawing;
            break;
          case ErrorReport::Verdict::LaterWrong:
            slot.wrong = true;
            slot.wrongSums = drawing.sums;
            break;
          case ErrorReport::Verdict::FirstWrong:
            slot = Slot::Of(drawing);
            slot.wrong = true;
            slot.wrongSums = first.sums;
            break;
        }
      }
    }
    if (!error) return Change::None;
    // Every error counts, each image once a pass; the window tells the first.
    ++report_.errors;
    if (report_.errors > 1) return Change::Count;
    found.image = static_cast<long>(N);
    found.order = static_cast<int>(K);
    found.kind = kind;
    found.pass = pass_;
    found.processor = processor;
    found.held = held;
    found.errors = report_.errors;
    report_ = found;
    firstSlot_ = i;
    firstOpen_ = found.finding == ErrorReport::Finding::FirstDrawing &&
                 found.verdict == ErrorReport::Verdict::Open;
    return Change::FirstError;
  }

  ErrorReport& report() { return report_; }
  long pass() const { return pass_; }

 private:
  struct Shape {
    const CanvasSurface* canvas;
    unsigned shape;
    bool operator!=(const Shape& o) const { return canvas != o.canvas || shape != o.shape; }
  };
  static Shape ShapeOf(const CanvasSurface* c) { return {c, c ? c->shape : 0u}; }

  const std::uint64_t* Known(float width, float height) const {
    for (std::size_t k = 0; k < setup_.knownCount; ++k)
      if (static_cast<float>(setup_.known[k].width) == width &&
          static_cast<float>(setup_.known[k].height) == height)
        return setup_.known[k].sums;
    return nullptr;
  }

  struct Drawing {
    bool valid = false;
    ValueSums sums;
    long pass = 0;
    int processor = -1;
    bool held = true;
  };
  struct Slot {
    Drawing first;  // the drawing later ones must match
    bool disputed = false;
    Drawing other;           // a later drawing that differed from it, until a further one decides
    bool contested = false;  // for good: both wrong, or nothing could tell
    bool wrong = false;      // a drawing found wrong, whose sums are
    ValueSums wrongSums;
    static Slot Of(const Drawing& first) {
      Slot s;
      s.first = first;
      return s;
    }
  };

  Change Settle(int i, ErrorReport::Verdict verdict, int processor) {
    if (!firstOpen_ || i != firstSlot_) return Change::None;
    firstOpen_ = false;
    report_.verdict = verdict;
    report_.decidingPass = pass_;
    report_.decidingProcessor = processor;
    return Change::Verdict;
  }

  const CheckSetup& setup_;
  std::array<Slot, kImagesPerPass> slots_{};
  Shape referenceShape_{nullptr, 0}, passShape_{nullptr, 0};
  const std::uint64_t* known_ = nullptr;
  long pass_ = 0;
  int index_ = 0;
  int firstSlot_ = -1;
  bool reference_ = false, recording_ = false, usable_ = false;
  bool firstOpen_ = false;
  ErrorReport report_;
};

// The check as one run of the cycle drives it. `Window` provides, besides what the cycle uses:
//   pctGen.Surface()                   the canvas's image, nullptr once it is gone
//   lblWhen.Caption(std::string&)      the start time as shown
//   CheckSetup checking                the processors' calls, the dwell, topology, known answers
//   void ReportError(const ErrorReport&)  called when the report changes
template <class Window>
class SelfCheck {
 public:
  explicit SelfCheck(Window& me)
      : me_(me),
        setup_(me.checking),
        startNs_(clock::Ticks()),
        tour_(setup_.processors, setup_.dwellNs, startNs_),
        images_(setup_) {
    (void)me_.lblWhen.Caption(startText_);
  }

  void PassBegins() {
    if (images_.pass() > 0) tour_.PassBoundary(clock::Ticks());
    images_.PassBegins(me_.pctGen.Surface());
  }

  void ImageFinished(double N, double K, Kind kind, const ImageValues<>& values) {
    const auto decide = [this](const ImageRecipe& recipe, const ValueSums& first,
                               int firstProcessor, const ValueSums& later) {
      return Decide(recipe, first, firstProcessor, later, tour_.Processor());
    };
    const ImageCheck::Change change = images_.ImageDone(
        me_.pctGen.Surface(), values, tour_.Processor(), tour_.Held(), N, K, kind, decide);
    if (change == ImageCheck::Change::None) return;
    ErrorReport& report = images_.report();
    if (change == ImageCheck::Change::FirstError) {
      report.time = me_.Now();
      report.afterNs = clock::Ticks() - startNs_;
      report.testStart = startText_;
      report.topology = Topology();
    }
    me_.ReportError(report);
  }

 private:
  using Decision = ImageCheck::Decision;
  using Verdict = ErrorReport::Verdict;
  using Decided = ErrorReport::Decided;

  const topology::Description* Topology() const {
    return setup_.topology ? &setup_.topology() : nullptr;
  }
  bool SameCore(int a, int b) const {
    const topology::Description* d = Topology();
    return a == b || (d && topology::SameCore(*d, a, b));
  }
  static ValueSums SumsOfAgain(const ImageValues<PointLog>& v) {
    return SumsOf(ImageValues<>{v.first.sums(), v.second.sums(), {}, 0});
  }

  // Which of two differing drawings, made on `a` and on `b`, was wrong (verdict.h).
  Decision Decide(const ImageRecipe& recipe, const ValueSums& first, int a, const ValueSums& later,
                  int b) {
    Decision d;
    if (a < 0 || b < 0 || SameCore(a, b)) return d;  // the next drawing will do: one core erred
    d.verdict = Verdict::CannotTell;
    // A third core's drawing: the one it agrees with was right.
    int tries = 0;
    for (const int p : tour_.Allowed()) {
      if (SameCore(p, a) || SameCore(p, b)) continue;
      ValueSums again;
      if (!tour_.RunOn(p, [&] { again = SumsOfAgain(DrawAgain(recipe, nullptr)); })) break;
      d.decided = Decided::OtherCore;
      d.processor = p;
      if (again == first || again == later) {
        d.verdict = again == first ? Verdict::LaterWrong : Verdict::FirstWrong;
        return d;
      }
      if (++tries == 2) break;  // two cores that agree with neither: leave it to the two
    }
    // Both cores again, point by point.
    PointLog::Record onA, onB;
    ValueSums sumsA, sumsB;
    if (!tour_.RunOn(a, [&] { sumsA = SumsOfAgain(DrawAgain(recipe, &onA)); })) {
      d.unmoved = true;
      return d;
    }
    onB.compare = &onA.digests;
    if (!tour_.RunOn(b, [&] { sumsB = SumsOfAgain(DrawAgain(recipe, &onB)); })) {
      d.unmoved = true;
      return d;
    }
    d.decided = Decided::BothAgain;
    if (sumsA == sumsB) {  // a one-off: both now draw what one of the two drew
      if (sumsA == first) d.verdict = Verdict::LaterWrong;
      if (sumsA == later) d.verdict = Verdict::FirstWrong;
      return d;
    }
    // Still different: the values at the points where they differ, held against exact ones.
    onA.points = onB.points;
    onA.kept.assign(onB.points.size(), PointValues{});
    onA.keep = true;
    onA.at = 0;
    if (!tour_.RunOn(a, [&] { (void)DrawAgain(recipe, &onA); })) {
      d.unmoved = true;
      return d;
    }
    d.decided = Decided::Exactly;
    bool wrongA = false, wrongB = false;
    for (std::size_t k = 0; k < onB.points.size(); ++k) {
      const bool badA = exact::Point(recipe, onB.points[k], onA.kept[k]) == exact::Result::Wrong;
      const bool badB = exact::Point(recipe, onB.points[k], onB.kept[k]) == exact::Result::Wrong;
      if ((badA || badB) && d.pointX < 0) {
        const auto rows = static_cast<std::size_t>(std::floor(recipe.height)) + 1;
        d.pointX = static_cast<long>(onB.points[k] / rows);
        d.pointY = static_cast<long>(onB.points[k] % rows);
      }
      wrongA = wrongA || badA;
      wrongB = wrongB || badB;
    }
    if (wrongA || wrongB)
      d.verdict = wrongA && wrongB ? Verdict::BothWrong
                  : wrongA         ? Verdict::FirstWrong
                                   : Verdict::LaterWrong;
    return d;
  }

  Window& me_;
  const CheckSetup setup_;  // as the test began
  std::int64_t startNs_;
  ProcessorTour tour_;
  ImageCheck images_;
  std::string startText_;
};

}  // namespace kelvarion
