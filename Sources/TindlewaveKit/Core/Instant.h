#pragma once

#include <chrono>
#include <cstdint>

namespace tindlewave {

// The continuous monotonic clock that the HID++ side runs on (it keeps counting through sleep).
// Only its shape lives here: the core never reads a clock, it is handed instants. The runtime
// reads the real clock and produces these values.
struct ContinuousClock {
    using rep = std::int64_t;
    using period = std::nano;
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<ContinuousClock>;
    static constexpr bool is_steady = true;
};

// An instant of the continuous clock, in integer nanoseconds: 0.3 s and 2 s stay exact.
using Instant = ContinuousClock::time_point;
using Duration = ContinuousClock::duration;

}  // namespace tindlewave
