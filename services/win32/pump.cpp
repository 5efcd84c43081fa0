#include "services/pump.h"

#include <algorithm>

#include "services/clock.h"
#include "services/fpstatus.h"
#include "services/win32/win32.h"

namespace kelvarion {

namespace {
PumpStats stats;
std::int64_t lastPoll = 0;
// Reading the message queue costs a call into the window system even when it is empty (a
// microsecond or more, several under Wine), a fair part of a column of the kernel, so it is
// read at most once a millisecond. Freeing unloaded windows, the program's only work of its
// own, still runs at every pump.
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
  // A frame's repaint runs inside a full pump: the paints are among the messages read.
  const bool frame = win32::FlushRepaints(now);
  if (frame || now - lastPoll >= kPollIntervalNs) {
    if (lastPoll != 0) stats.maxPollGapNs = std::max(stats.maxPollGapNs, now - lastPoll);
    lastPoll = now;
    ++stats.polls;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {  // for the outermost loop, which ends on it
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      win32::Dispatch(msg);
    }
  }
  if (win32::AnyReleasedWindows()) win32::FreeIdleWindows();
  // What the handlers computed is no business of the kernel's (reading the status is cheaper
  // than writing it, so it is cleared only when need be).
  if (fp::Raised()) fp::Clear();
  fp::ClearUpperVectors();
}

}  // namespace kelvarion
