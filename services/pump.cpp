#include "services/pump.h"

#include <algorithm>

#include "services/clock.h"
#include "services/fpstatus.h"
#include "services/peer_base.h"

namespace kelvarion {

namespace {
PumpStats stats;
std::int64_t lastPoll = 0;
// Reading the window system's queue costs a call into it even when the queue is empty (about a
// microsecond, several under Wine), a fair part of a column of the kernel, so it is read at most
// once a millisecond. What the program posts to itself and freeing unloaded windows still run
// at every pump, for a few tens of nanoseconds when there is nothing to do.
constexpr std::int64_t kPollIntervalNs = 1'000'000;
}  // namespace

PumpStats& Stats() {
  return stats;
}

void ResetStats() {
  stats = PumpStats{};
  lastPoll = clock::Ticks();
}

void PumpEvents() {
  ++stats.pumps;
  const std::int64_t now = clock::Ticks();
  // A frame's repaint runs inside a full pump, so that painting never stands between two
  // reads of the queue.
  const bool frame = FlushRepaints(now);
  if (frame || now - lastPoll >= kPollIntervalNs) {
    if (lastPoll != 0) stats.maxPollGapNs = std::max(stats.maxPollGapNs, now - lastPoll);
    lastPoll = now;
    ++stats.polls;
    backend::ReadEventQueue();
  } else {
    backend::RunPostedEvents();
  }
  if (AnyReleasedWindows()) FreeUnloadedWindows();
  // What the handlers computed, and any mode they (or a hook inside them) set, is no business
  // of the kernel's.
  fp::AfterToolkit();
}

}  // namespace kelvarion
