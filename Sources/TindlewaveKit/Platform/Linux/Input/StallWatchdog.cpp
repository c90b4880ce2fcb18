#include "Platform/Linux/Input/StallWatchdog.h"

#include <linux/uinput.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "Platform/Linux/Input/EvdevDevice.h"

namespace tindlewave {

namespace {

int grabByIoctl(int fd, bool grabbed) {
    const auto error = evdev::grab(fd, grabbed);
    return error ? error->code : 0;
}

void destroyByIoctl(int fd) { ::ioctl(fd, UI_DEV_DESTROY); }

// What waits for a beat now: input or an error on a grabbed descriptor (all but the first two,
// the wake-up's and the writer's), codes for the writer.
struct Waiting {
    bool reads = false;
    bool writes = false;
};

Waiting lookWaiting(std::vector<pollfd>& fds) {
    for (pollfd& p : fds) p.revents = 0;
    if (::poll(fds.data() + 1, fds.size() - 1, 0) <= 0) return {};
    return {std::any_of(fds.begin() + 2, fds.end(), [](const pollfd& p) { return p.revents != 0; }),
            fds[1].revents != 0};
}

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
      lookNanoseconds_(stallNanoseconds_ / 10),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    polled_.reserve(16);  // the thread allocates only once more nodes are grabbed than that
    thread_ = std::thread([this] { loop(); });
}

StallWatchdog::~StallWatchdog() { stop(); }

void StallWatchdog::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        heldChangedLocked();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StallWatchdog::heldChangedLocked() {
    ++heldVersion_;
    const std::uint64_t one = 1;
    if (wakeFd_.isOpen() && ::write(wakeFd_.get(), &one, sizeof one) < 0) {
        // Full (it never is: the thread reads it at each wake) or gone at exit: nothing to do.
    }
}

std::optional<int> StallWatchdog::grab(int fd) {
    {
        std::lock_guard lock(mutex_);
        if (released_.load() || suspended_.load()) return std::nullopt;
        if (int error = hooks_.grab(fd, true)) return error;
        grabbed_.push_back(fd);
        heldChangedLocked();
    }
    wake_.notify_all();
    return 0;
}

void StallWatchdog::watch(int fd) {
    {
        std::lock_guard lock(mutex_);
        grabbed_.push_back(fd);
        heldChangedLocked();
    }
    wake_.notify_all();
}

void StallWatchdog::watchWrites(int lateFd, double lateSeconds, std::function<std::uint64_t()> writes) {
    {
        std::lock_guard lock(mutex_);
        writesFd_ = lateFd;
        lateNanoseconds_ = static_cast<std::int64_t>(lateSeconds * 1e9);
        writes_ = std::move(writes);
        heldChangedLocked();
    }
    wake_.notify_all();
}

void StallWatchdog::ungrab(int fd) {
    std::lock_guard lock(mutex_);
    auto held = std::find(grabbed_.begin(), grabbed_.end(), fd);
    if (held == grabbed_.end()) return;
    hooks_.grab(fd, false);
    grabbed_.erase(held);
    heldChangedLocked();
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
}

void StallWatchdog::releaseLocked() {
    // The devices first: the kernel lets go of every key and button a destroyed device holds, so
    // by the time the real devices reach the desktop again nothing of the program's is down.
    for (int fd : devices_) hooks_.destroy(fd);
    devices_.clear();
    for (int fd : grabbed_) hooks_.grab(fd, false);
    grabbed_.clear();
    heldChangedLocked();
    released_ = true;
    if (onStall_) onStall_();
}

void StallWatchdog::loop() {
    std::vector<pollfd>& fds = polled_;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (grabbed_.empty() && writesFd_ < 0) {
            wake_.wait(lock, [&] { return stopping_ || !grabbed_.empty() || writesFd_ >= 0; });
            continue;
        }
        // Asleep until a grabbed node holds input for the reading thread, the writer is late with
        // codes, or what is held changes.
        const std::uint64_t held = heldVersion_;
        fds.assign(1, pollfd{wakeFd_.get(), POLLIN, 0});
        fds.push_back(pollfd{writesFd_, POLLIN, 0});  // none: poll passes over it
        for (int fd : grabbed_) fds.push_back(pollfd{fd, POLLIN, 0});
        lock.unlock();
        const int ready = ::poll(fds.data(), fds.size(), -1);
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            if (::read(wakeFd_.get(), &count, sizeof count) < 0) {
                // Read by an earlier wake already.
            }
        }
        lock.lock();
        if (ready <= 0 || stopping_ || heldVersion_ != held) continue;
        watchWhileWaiting(held, lock);
    }
}

void StallWatchdog::watchWhileWaiting(std::uint64_t held, std::unique_lock<std::mutex>& lock) {
    std::vector<pollfd>& fds = polled_;
    // What the poll found: input came now (the poll was asleep until then), and the writer
    // has been at its codes since its timer was set.
    Waiting waiting{std::any_of(fds.begin() + 2, fds.end(), [](const pollfd& p) { return p.revents != 0; }),
                    fds[1].revents != 0};
    // The clock before the counts: a beat the counts miss comes after this look's time.
    std::int64_t now = hooks_.now();
    std::uint64_t beats = beats_.load(std::memory_order_acquire);
    std::uint64_t writes = writes_ ? writes_() : 0;
    // When what waits now began to wait, at the earliest it may have: input left after a read
    // came after the look before that read.
    std::optional<std::int64_t> readsFrom, writesFrom;
    if (waiting.reads) readsFrom = now;
    if (waiting.writes) writesFrom = now - lateNanoseconds_;
    // Looked at every lookNanoseconds_ while anything waits (not at every input: a user typing
    // wakes the watchdog a few times a second, not at each key), asleep again once nothing does.
    while (readsFrom || writesFrom) {
        std::int64_t deadline = std::numeric_limits<std::int64_t>::max();
        if (readsFrom) deadline = *readsFrom + stallNanoseconds_;
        if (writesFrom) deadline = std::min(deadline, *writesFrom + stallNanoseconds_);
        if (now >= deadline) return releaseLocked();
        const std::int64_t previous = now;
        wake_.wait_for(lock, std::chrono::nanoseconds(std::min(deadline - now, lookNanoseconds_) + 1));
        if (stopping_ || heldVersion_ != held) return;
        now = hooks_.now();
        const std::uint64_t beatsNow = beats_.load(std::memory_order_acquire);
        const std::uint64_t writesNow = writes_ ? writes_() : 0;
        waiting = lookWaiting(fds);
        if (!waiting.reads) readsFrom.reset();
        else if (!readsFrom || beatsNow != beats) readsFrom = previous;
        // The writer's timer, readable again or still after writes, was set when it took the
        // codes it is at now: a late timer's time ago, or since the last look.
        if (!waiting.writes) writesFrom.reset();
        else if (!writesFrom || writesNow != writes) writesFrom = std::min(previous, now - lateNanoseconds_);
        beats = beatsNow;
        writes = writesNow;
    }
}

}  // namespace tindlewave
