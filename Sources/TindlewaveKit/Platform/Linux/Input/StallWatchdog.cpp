#include "Platform/Linux/Input/StallWatchdog.h"

#include <linux/input.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace tindlewave {

std::int64_t StallWatchdog::steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

StallWatchdog::StallWatchdog(double stallSeconds, std::function<void()> onStall, Hooks hooks)
    : stallNanoseconds_(static_cast<std::int64_t>(stallSeconds * 1e9)),
      onStall_(std::move(onStall)),
      hooks_{hooks.now ? std::move(hooks.now) : &steadyNanoseconds,
             hooks.ungrab ? std::move(hooks.ungrab) : [](int fd) { ::ioctl(fd, EVIOCGRAB, 0); }},
      thread_([this] { loop(); }) {}

void StallWatchdog::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StallWatchdog::beat() { heartbeat_.store(hooks_.now(), std::memory_order_relaxed); }

void StallWatchdog::watch(int fd) {
    {
        std::lock_guard lock(mutex_);
        heartbeat_.store(hooks_.now(), std::memory_order_relaxed);
        grabbed_.push_back(fd);
    }
    wake_.notify_all();
}

void StallWatchdog::unwatch(int fd) {
    std::lock_guard lock(mutex_);
    std::erase(grabbed_, fd);
}

void StallWatchdog::loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        // Asleep while nothing is grabbed; then a look every 50 ms.
        if (grabbed_.empty()) {
            wake_.wait(lock, [&] { return stopping_ || !grabbed_.empty(); });
            continue;
        }
        wake_.wait_for(lock, std::chrono::milliseconds(50));
        if (stopping_ || grabbed_.empty()) continue;
        if (hooks_.now() - heartbeat_.load(std::memory_order_relaxed) <= stallNanoseconds_) continue;
        for (int fd : grabbed_) hooks_.ungrab(fd);
        grabbed_.clear();
        released_ = true;
        if (onStall_) onStall_();
    }
}

}  // namespace tindlewave
