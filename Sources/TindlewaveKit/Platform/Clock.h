#pragma once

#include <chrono>

#include "Core/Instant.h"

namespace tindlewave {

// The three clocks the runtime reads. Everything that asks for the time goes through a Clock, so
// tests can hand in a manual one.
class Clock {
  public:
    virtual ~Clock() = default;

    // The continuous clock: monotonic and counting through sleep. Deadlines and HID++ instants.
    virtual Instant now() const = 0;
    // The wall clock, for dates shown to the user and written to the log.
    virtual std::chrono::system_clock::time_point date() const = 0;
    // The raw uptime clock in seconds (stops during sleep), for the event tap's animators.
    virtual double uptime() const = 0;
};

// The real clocks: CLOCK_BOOTTIME, the system clock and CLOCK_MONOTONIC_RAW.
class SystemClock final : public Clock {
  public:
    static const SystemClock& shared();

    Instant now() const override;
    std::chrono::system_clock::time_point date() const override;
    double uptime() const override;
};

}  // namespace tindlewave
