#include "Runtime/Tap/FrameClock.h"

#include <chrono>

#include "Platform/Clock.h"
#include "Platform/Executor.h"

namespace tindlewave {

double FrameClock::rateFor(double refreshRate) {
    if (!(refreshRate > 0)) return preferredRate;  // unknown (0 or NaN)
    if (refreshRate < minimumRate) return minimumRate;
    if (refreshRate > maximumRate) return maximumRate;
    return refreshRate;
}

FrameClock::FrameClock(Executor& executor, const EventSystem& events, const Screen& screen,
                       OnFrame onFrame)
    : executor_(executor),
      events_(events),
      display_(screen.id),
      rate_(rateFor(screen.refreshRate)),
      period_(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(1.0 / rate_))),
      onFrame_(std::move(onFrame)) {}

void FrameClock::setPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (paused)
        timer_.cancel();
    else
        arm(executor_.clock().now() + period_);
}

void FrameClock::arm(Instant at) {
    timer_ = executor_.schedule(at, [this, at] { fire(at); });
}

void FrameClock::fire(Instant due) {
    // The timer that fired is the one held: any other was cancelled when it was replaced.
    timer_.dismiss();
    const Instant now = executor_.clock().now();
    // Frames follow a steady beat; one that came late (a busy thread) starts the beat afresh.
    Instant next = due + period_;
    if (next <= now) next = now + period_;
    if (events_.isRefreshing(display_)) {
        const double target =
            executor_.clock().uptime() + std::chrono::duration<double>(period_).count();
        onFrame_(target);
    }
    if (!paused_) arm(next);
}

}  // namespace tindlewave
