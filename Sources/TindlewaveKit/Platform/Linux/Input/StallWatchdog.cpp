#include "Platform/Linux/Input/StallWatchdog.h"

#include <linux/uinput.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "Platform/Linux/Input/EvdevDevice.h"

namespace tindlewave {

namespace {

int grabByIoctl(int fd, bool grabbed) {
    const auto error = evdev::grab(fd, grabbed);
    return error ? error->code : 0;
}

void destroyByIoctl(int fd) { ::ioctl(fd, UI_DEV_DESTROY); }

}  // namespace

std::int64_t StallWatchdog::steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

StallWatchdog::StallWatchdog(double stallSeconds, std::function<void()> onStall, Hooks hooks)
    : stallNanoseconds_(static_cast<std::int64_t>(stallSeconds * 1e9)),
      onStall_(std::move(onStall)),
      hooks_{hooks.now ? std::move(hooks.now) : &steadyNanoseconds,
             hooks.grab ? std::move(hooks.grab) : &grabByIoctl,
             hooks.destroy ? std::move(hooks.destroy) : &destroyByIoctl},
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

std::optional<int> StallWatchdog::grab(int fd) {
    {
        std::lock_guard lock(mutex_);
        if (released_.load() || suspended_.load()) return std::nullopt;
        if (int error = hooks_.grab(fd, true)) return error;
        heartbeat_.store(hooks_.now(), std::memory_order_relaxed);
        grabbed_.push_back(fd);
    }
    wake_.notify_all();
    return 0;
}

void StallWatchdog::watch(int fd) {
    {
        std::lock_guard lock(mutex_);
        heartbeat_.store(hooks_.now(), std::memory_order_relaxed);
        grabbed_.push_back(fd);
    }
    wake_.notify_all();
}

void StallWatchdog::ungrab(int fd) {
    std::lock_guard lock(mutex_);
    auto held = std::find(grabbed_.begin(), grabbed_.end(), fd);
    if (held == grabbed_.end()) return;
    hooks_.grab(fd, false);
    grabbed_.erase(held);
}

void StallWatchdog::keep(int fd) {
    std::lock_guard lock(mutex_);
    if (suspended_) {
        hooks_.destroy(fd);  // made while the process is about to stop: it must hold nothing
        return;
    }
    devices_.push_back(fd);
}

void StallWatchdog::forget(int fd) {
    std::lock_guard lock(mutex_);
    std::erase(devices_, fd);
}

void StallWatchdog::suspend() {
    std::lock_guard lock(mutex_);
    suspended_ = true;
    releaseLocked();
}

void StallWatchdog::resume() {
    std::lock_guard lock(mutex_);
    suspended_ = false;
    heartbeat_.store(hooks_.now(), std::memory_order_relaxed);
}

void StallWatchdog::releaseLocked() {
    // The devices first: the kernel lets go of every key and button a destroyed device holds, so
    // by the time the real devices reach the desktop again nothing of the program's is down.
    for (int fd : devices_) hooks_.destroy(fd);
    devices_.clear();
    for (int fd : grabbed_) hooks_.grab(fd, false);
    grabbed_.clear();
    released_ = true;
    if (onStall_) onStall_();
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
        releaseLocked();
    }
}

}  // namespace tindlewave
