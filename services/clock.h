#pragma once

#include <cstdint>
#include <string>

namespace kelvarion::clock {

// The local date and time as text: the system locale's short date and long time, with seconds.
std::string NowText();
// A monotonic time in nanoseconds, for rates and intervals.
std::int64_t Ticks();

}  // namespace kelvarion::clock
