#pragma once

#include <functional>
#include <mutex>

#include "Platform/Cancellable.h"

namespace tindlewave {

// The system waking from sleep, on request: wake() from any thread tells the subscriber at once,
// on the calling thread. Tests and the headless program's "wake" command use it.
class SimulatedWakeSource {
  public:
    SimulatedWakeSource() = default;
    SimulatedWakeSource(const SimulatedWakeSource&) = delete;
    SimulatedWakeSource& operator=(const SimulatedWakeSource&) = delete;

    // One subscriber at a time; a new one replaces the old. After the handle is cancelled
    // (and any wake() in progress has returned) the handler is not called again.
    Subscription subscribe(std::function<void()> onWake) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(onWake);
        std::size_t generation = ++generation_;
        return Subscription([this, generation] {
            std::lock_guard held(mutex_);
            if (generation_ == generation) handler_ = nullptr;
        });
    }

    void wake() {
        std::lock_guard lock(mutex_);
        ++wakes_;
        if (handler_) handler_();
    }

    int wakes() const {
        std::lock_guard lock(mutex_);
        return wakes_;
    }

  private:
    mutable std::mutex mutex_;
    std::function<void()> handler_;
    std::size_t generation_ = 0;
    int wakes_ = 0;
};

}  // namespace tindlewave
