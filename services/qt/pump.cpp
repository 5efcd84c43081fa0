#include "services/pump.h"

#include <QCoreApplication>
#include <algorithm>

#include "services/clock.h"
#include "services/fpstatus.h"
#include "services/qt/widgets.h"

namespace kelvarion {

namespace {
PumpStats stats;
std::int64_t lastPoll = 0;
// Reading the window system's queue costs about a microsecond even when it is empty, as much
// as a tenth of a column of the kernel, so it is read at most once a millisecond. Everything
// the program posts to itself (repaints, freeing unloaded windows, timers' effects) still runs
// at every pump through sendPostedEvents, which costs a few tens of nanoseconds when idle.
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
    QCoreApplication::processEvents();
  } else {
    QCoreApplication::sendPostedEvents();
  }
  // What the handlers computed is no business of the kernel's (reading the status is cheaper
  // than writing it, so it is cleared only when need be).
  if (fp::Raised()) fp::Clear();
  fp::ClearUpperVectors();
}

}  // namespace kelvarion
