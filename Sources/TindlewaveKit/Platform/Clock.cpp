#include "Platform/Clock.h"

#include <time.h>

namespace tindlewave {

namespace {

std::int64_t nanoseconds(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

const SystemClock& SystemClock::shared() {
    // Never destroyed: the threads of the executors and the work pool, statics themselves, may
    // read it until the program's statics are torn down, whichever of them was made first.
    static const SystemClock* const clock = new SystemClock;
    return *clock;
}

Instant SystemClock::now() const {
    return Instant{Duration{nanoseconds(CLOCK_BOOTTIME)}};
}

std::chrono::system_clock::time_point SystemClock::date() const {
    return std::chrono::system_clock::now();
}

double SystemClock::uptime() const {
    return double(nanoseconds(CLOCK_MONOTONIC_RAW)) / 1e9;
}

}  // namespace tindlewave
