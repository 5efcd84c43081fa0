#pragma once
// Event pumping for handlers that run for a long time on the user-interface thread.

#include <cstdint>

namespace kelvarion {

// Runs every pending user-interface event to completion, handlers nested inside the call.
void PumpEvents();

struct PumpStats {
  std::uint64_t pumps = 0;
  std::uint64_t polls = 0;  // pumps that read the window system's queue
  std::int64_t maxPollGapNs = 0;
  std::uint64_t repaints = 0;  // canvas paints
};
PumpStats& Stats();
void ResetStats();

}  // namespace kelvarion
