#pragma once

#include <functional>

#include "Core/Instant.h"
#include "Platform/Cancellable.h"
#include "Platform/EventSystem.h"

namespace tindlewave {

class Executor;

// Frame timing for the scroll animators: a timer on the tap executor, tied to one display and
// ticking at the display's refresh rate held within 60 to 120 frames per second (120 when the
// rate is unknown). A display that has stopped refreshing delivers no frames: the timer keeps
// running and skips them, so the clock's owner sees the stall and may replace the clock. Made
// paused; pausing keeps it for reuse. Used on its executor only.
class FrameClock {
  public:
    // Seconds of the uptime clock at which the frame will be shown.
    using OnFrame = std::function<void(double targetTime)>;

    static constexpr double minimumRate = 60;
    static constexpr double maximumRate = 120;
    static constexpr double preferredRate = 120;

    FrameClock(Executor& executor, const EventSystem& events, const Screen& screen,
               OnFrame onFrame);
    FrameClock(const FrameClock&) = delete;
    FrameClock& operator=(const FrameClock&) = delete;

    DisplayID display() const { return display_; }
    double framesPerSecond() const { return rate_; }
    bool isPaused() const { return paused_; }
    // Pausing cancels the next frame; resuming schedules it one period from now. The frame
    // callback may pause the clock (but must not destroy it).
    void setPaused(bool paused);

    // The rate used for a display's refresh rate.
    static double rateFor(double refreshRate);

  private:
    void arm(Instant at);
    void fire(Instant due);

    Executor& executor_;
    const EventSystem& events_;
    const DisplayID display_;
    const double rate_;
    const Duration period_;
    OnFrame onFrame_;
    bool paused_ = true;
    TimerHandle timer_;
};

}  // namespace tindlewave
