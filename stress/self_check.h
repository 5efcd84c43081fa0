#pragma once
// The stress test checks its own work. Every pass draws the same 237 images, and the first of
// them (Arctangent, order 2) draws every point of the canvas, so the canvas after image n of a
// pass is the same in every pass. The first pass of a test keeps a checksum of the canvas after
// each image; every later pass compares. Meanwhile the test's thread is held to one logical
// processor at a time and moved on to the next from time to time, so that each core is driven
// at its highest boost clock in turn and an error can be laid at one core's door.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "services/affinity.h"
#include "services/canvas_surface.h"
#include "services/clock.h"
#include "stress/kernel.h"

namespace kelvarion {

inline constexpr int kImagesPerPass = 237;

// How long the thread stays on one processor before it moves on at the next pass boundary:
// long enough for the core to reach the temperature and clock a steady load gives it and to
// draw every image some 60 times there, short enough that a 12-hour test visits each of 256
// logical processors more than five times.
inline constexpr std::int64_t kProcessorDwellNs = 30'000'000'000;

// A 64-bit checksum of a canvas's image: Fletcher's two running sums (each word added to the
// first, the first to the second) over its pixels, in eight lanes of 64-bit words that the
// processor keeps side by side (about 12 us for a 413 x 333 image). The first sum changes with
// any single changed pixel; the second also with where a change lies.
class ImageSums {
 public:
  void Add(const std::uint32_t* p, std::size_t n) {
    std::size_t i = 0;
#if KELVARION_FP_SSE
    // In registers for the loop: kept in the object they would go through memory each time.
    __m128i a0 = a_[0], a1 = a_[1], a2 = a_[2], a3 = a_[3];
    __m128i b0 = b_[0], b1 = b_[1], b2 = b_[2], b3 = b_[3];
    const auto* q = reinterpret_cast<const __m128i*>(p);
    for (; i + 16 <= n; i += 16, q += 4) {
      a0 = _mm_add_epi64(a0, _mm_loadu_si128(q));
      b0 = _mm_add_epi64(b0, a0);
      a1 = _mm_add_epi64(a1, _mm_loadu_si128(q + 1));
      b1 = _mm_add_epi64(b1, a1);
      a2 = _mm_add_epi64(a2, _mm_loadu_si128(q + 2));
      b2 = _mm_add_epi64(b2, a2);
      a3 = _mm_add_epi64(a3, _mm_loadu_si128(q + 3));
      b3 = _mm_add_epi64(b3, a3);
    }
    a_[0] = a0, a_[1] = a1, a_[2] = a2, a_[3] = a3;
    b_[0] = b0, b_[1] = b1, b_[2] = b2, b_[3] = b3;
#else
    for (; i + 16 <= n; i += 16)
      for (int l = 0; l < 8; ++l) {
        std::uint64_t w;
        std::memcpy(&w, p + i + 2 * l, sizeof w);
        a_[l] += w;
        b_[l] += a_[l];
      }
#endif
    for (; i < n; ++i) {
      tailA_ += p[i];
      tailB_ += tailA_;
    }
  }
  std::uint64_t Finish(std::uint64_t seed) const {
    std::uint64_t words[18];
#if KELVARION_FP_SSE
    for (int l = 0; l < 4; ++l) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(words + 2 * l), a_[l]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(words + 8 + 2 * l), b_[l]);
    }
#else
    for (int l = 0; l < 8; ++l) {
      words[l] = a_[l];
      words[8 + l] = b_[l];
    }
#endif
    words[16] = tailA_;
    words[17] = tailB_;
    std::uint64_t h = seed;
    for (const std::uint64_t x : words) {
      h = (h ^ x) * 0x9E3779B97F4A7C15u;
      h ^= h >> 29;
    }
    return h;
  }

 private:
#if KELVARION_FP_SSE
  __m128i a_[4] = {}, b_[4] = {};
#else
  std::uint64_t a_[8] = {}, b_[8] = {};
#endif
  std::uint64_t tailA_ = 0, tailB_ = 0;
};

inline std::uint64_t ImageChecksum(const CanvasSurface& s) {
  ImageSums sums;
  if (s.width > 0 && s.height > 0 && s.bits) {
    const auto w = static_cast<std::size_t>(s.width);
    if (s.stride == s.width) {
      sums.Add(s.bits, w * static_cast<std::size_t>(s.height));
    } else {
      for (int y = 0; y < s.height; ++y)
        sums.Add(s.bits + static_cast<std::size_t>(y) * s.stride, w);
    }
  }
  return sums.Finish((static_cast<std::uint64_t>(s.width) << 32) ^ static_cast<unsigned>(s.height));
}

// What the check needs from the test window beyond the canvas.
struct CheckSetup {
  const affinity::Calls* processors = nullptr;  // nullptr: the thread is left where it is
  std::int64_t dwellNs = kProcessorDwellNs;
};

// A test's first error, as the error window tells it, and the test's count of errors.
struct ErrorReport {
  long image = 0;  // counted from the test's start, as its window counts
  int order = 0;
  Kind kind = Kind::Arctangent;
  long pass = 0;       // the pass whose drawing differed
  int processor = -1;  // where that drawing was made; -1 if the system did not say
  long firstPass = 0;  // the drawing it was compared with: the first at this canvas size
  int firstProcessor = -1;
  bool held = true;          // both drawings were made with the thread held to one processor
  std::string time;          // the local time it was found
  std::int64_t afterNs = 0;  // how long after the test began
  // A further drawing of the image decides which of the two was wrong.
  enum class Verdict { Open, LaterWrong, FirstWrong };
  Verdict verdict = Verdict::Open;
  long decidingPass = 0;
  int decidingProcessor = -1;
  std::string testStart;  // when the test began, as its window shows it
  long errors = 0;        // all this test has found so far
};

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
  static inline ProcessorTour* innermost_ = nullptr;
};

// The comparison of each finished image with its first drawing, for one run of the cycle.
class ImageCheck {
 public:
  enum class Change { None, FirstError, Count, Verdict };

  // A pass begins. The first, and the first after the canvas changed size, keeps the checksums
  // the later ones are compared with.
  void PassBegins(const CanvasSurface* canvas) {
    ++pass_;
    index_ = 0;
    inRun_ = false;
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
  }

  // Image N (order K, `kind`) is finished on `canvas`, drawn on `processor`. Says what changed
  // in the report.
  Change ImageDone(const CanvasSurface* canvas, int processor, bool held, double N, double K,
                   Kind kind) {
    const int i = index_++;
    if (!usable_ || i >= kImagesPerPass) return Change::None;
    if (ShapeOf(canvas) != passShape_) {
      usable_ = reference_ = false;  // a fresh first pass at the next boundary
      return Change::None;
    }
    const Drawing drawing{true, ImageChecksum(*canvas), pass_, processor, held};
    Slot& slot = slots_[static_cast<std::size_t>(i)];
    if (recording_) {
      slot = Slot{drawing, false, {}};
      return Change::None;
    }
    const Drawing& first = slot.first;
    if (!first.valid) return Change::None;
    if (drawing.sum == first.sum) {
      inRun_ = false;
      if (!slot.disputed) return Change::None;
      slot.disputed = false;
      return Settle(i, ErrorReport::Verdict::LaterWrong, processor);
    }
    if (slot.disputed && drawing.sum == slot.other.sum) {
      inRun_ = false;
      slot = Slot{slot.other, false, {}};  // the one that was right is the reference now
      return Settle(i, ErrorReport::Verdict::FirstWrong, processor);
    }
    if (!slot.disputed) {
      slot.disputed = true;
      slot.other = drawing;
    }
    // A wrong colour stays on the canvas until an image draws over it: the images after a wrong
    // one in the same pass differ too, and count with it as one error.
    if (inRun_) return Change::None;
    inRun_ = true;
    ++report_.errors;
    if (report_.errors > 1) return Change::Count;
    report_.image = static_cast<long>(N);
    report_.order = static_cast<int>(K);
    report_.kind = kind;
    report_.pass = pass_;
    report_.processor = processor;
    report_.firstPass = first.pass;
    report_.firstProcessor = first.processor;
    report_.held = held && first.held;
    firstSlot_ = i;
    firstOpen_ = true;
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

  struct Drawing {
    bool valid = false;
    std::uint64_t sum = 0;
    long pass = 0;
    int processor = -1;
    bool held = true;
  };
  struct Slot {
    Drawing first;  // the drawing later ones must match
    bool disputed = false;
    Drawing other;  // a later drawing that differed from it, until a further one decides
  };

  Change Settle(int i, ErrorReport::Verdict verdict, int processor) {
    if (!firstOpen_ || i != firstSlot_) return Change::None;
    firstOpen_ = false;
    report_.verdict = verdict;
    report_.decidingPass = pass_;
    report_.decidingProcessor = processor;
    return Change::Verdict;
  }

  std::array<Slot, kImagesPerPass> slots_{};
  Shape referenceShape_{nullptr, 0}, passShape_{nullptr, 0};
  long pass_ = 0;
  int index_ = 0;
  int firstSlot_ = -1;
  bool reference_ = false, recording_ = false, usable_ = false, inRun_ = false;
  bool firstOpen_ = false;
  ErrorReport report_;
};

// The check as one run of the cycle drives it. `Window` provides, besides what the cycle uses:
//   pctGen.Surface()                   the canvas's image, nullptr once it is gone
//   lblWhen.Caption(std::string&)      the start time as shown
//   CheckSetup checking                the processors' calls and the dwell
//   void ReportError(const ErrorReport&)  called when the report changes
template <class Window>
class SelfCheck {
 public:
  explicit SelfCheck(Window& me)
      : me_(me),
        startNs_(clock::Ticks()),
        tour_(me.checking.processors, me.checking.dwellNs, startNs_) {
    (void)me_.lblWhen.Caption(startText_);
  }

  void PassBegins() {
    if (images_.pass() > 0) tour_.PassBoundary(clock::Ticks());
    images_.PassBegins(me_.pctGen.Surface());
  }

  void ImageFinished(double N, double K, Kind kind) {
    const ImageCheck::Change change =
        images_.ImageDone(me_.pctGen.Surface(), tour_.Processor(), tour_.Held(), N, K, kind);
    if (change == ImageCheck::Change::None) return;
    ErrorReport& report = images_.report();
    if (change == ImageCheck::Change::FirstError) {
      report.time = me_.Now();
      report.afterNs = clock::Ticks() - startNs_;
      report.testStart = startText_;
    }
    me_.ReportError(report);
  }

 private:
  Window& me_;
  std::int64_t startNs_;
  ProcessorTour tour_;
  ImageCheck images_;
  std::string startText_;
};

}  // namespace kelvarion
