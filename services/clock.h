#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelvarion::clock {

// The local date and time as text: the system's short date and long time, with seconds.
std::string NowText();

// A monotonic time in nanoseconds, for rates and intervals.
inline std::int64_t Ticks() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace kelvarion::clock
