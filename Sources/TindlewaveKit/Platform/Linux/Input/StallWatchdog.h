#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <thread>
#include <vector>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// Lets go of every grab, and of everything the program holds down, when the thread that reads the
// grabbed nodes stops taking what they hold, so a stuck program never keeps the user's mouse and
// keyboard nor leaves a key or modifier held on them.
//
// The reading thread takes and ends each grab through the watchdog, and beats each time it has
// read what a grabbed node held (the thread that writes the program's devices likewise, while it
// has something to write: watchWrites); it tells it of each device of the program's that may hold keys
// or buttons down (the mirrors, its own keyboard and pointer) before it closes it. The watchdog's
// own thread sleeps while nothing is grabbed, and while nothing waits on the grabbed descriptors
// (it polls them itself, so an idle program is never woken). Once one holds input (or an error),
// the reading thread has `stallSeconds` to beat; while input keeps coming the watchdog looks
// every `stallSeconds`/10 (not at each input), and input found waiting after a beat counts from
// the look before it, so a thread that stops right after a read is let go of about
// `stallSeconds` later. If it does not beat, the watchdog destroys every
// device it was told of (the kernel lets go of all each holds: a release the user makes later
// reaches the desktop from the real device, which never saw that key go down there, and would be
// dropped), then ungrabs every descriptor it holds, forgets them, marks itself released and calls
// `onStall` on its thread. `suspend` does the same at once from any thread (the whole process is
// about to stop), and until `resume` takes no grab and destroys at once any device it is told of.
// Grabs are taken and ended under its lock, so it never ungrabs a descriptor that is no longer
// grabbed (closed, and perhaps another one by now), and no grab is taken between its release and
// the reading thread taking that release in (takeRelease): that grab would be one the watchdog
// knows nothing of.
class StallWatchdog {
  public:
    // What it reads the time with, how it grabs and ungrabs (errno, 0 when done) and destroys a
    // device; by default the steady clock in nanoseconds, EVIOCGRAB and UI_DEV_DESTROY. Called
    // from both threads (and suspend's).
    struct Hooks {
        std::function<std::int64_t()> now;
        std::function<int(int fd, bool grabbed)> grab;
        std::function<void(int fd)> destroy;
    };

    StallWatchdog(double stallSeconds, std::function<void()> onStall, Hooks hooks = {});
    // Stops and joins its thread (once); ungrabs nothing.
    ~StallWatchdog();
    void stop();
    StallWatchdog(const StallWatchdog&) = delete;
    StallWatchdog& operator=(const StallWatchdog&) = delete;

    // The reading thread has read what a grabbed node held (called after the read).
    void beat() { beats_.fetch_add(1, std::memory_order_release); }
    // Grabs `fd` and holds it: the grab's errno, 0 when taken; none while a release has not been
    // taken in or while suspended (nothing is grabbed then).
    std::optional<int> grab(int fd);
    // Holds `fd` as grabbed already.
    void watch(int fd);
    // The thread that writes the program's devices (DeviceWriter): `lateFd` is readable once it
    // has been at codes for `lateSeconds` without writing all, and `writes` counts what it wrote.
    // It must go on writing within `stallSeconds` of taking them, as input must be read, or
    // everything is let go of (a key down written and its up not yet would stay down).
    void watchWrites(int lateFd, double lateSeconds, std::function<std::uint64_t()> writes);
    // Ungrabs `fd` unless the watchdog let go of it already, and forgets it. Call before the
    // descriptor closes: the watchdog polls what it holds.
    void ungrab(int fd);
    // A device of the program's made, or about to be closed (told before its descriptor is, so
    // the number is never another file's when it is used). While suspended, one made is
    // destroyed at once.
    void keep(int fd);
    void forget(int fd);
    // Any thread: lets go of everything now, as at a stall (onStall called on the caller's
    // thread), and takes or keeps nothing until resume().
    void suspend();
    void resume();
    bool isSuspended() const { return suspended_.load(); }
    // The watchdog let go of every grab and the reading thread has not taken that in yet.
    bool released() const { return released_.load(); }
    // True once per release.
    bool takeRelease() { return released_.exchange(false); }

    static std::int64_t steadyNanoseconds();

  private:
    void loop();
    // Input or the writer's codes wait (the poll found them): looked at until nothing does, or
    // until what waits has waited past the limit.
    void watchWhileWaiting(std::uint64_t held, std::unique_lock<std::mutex>& lock);
    void releaseLocked();  // under mutex_
    void heldChangedLocked();  // under mutex_

    const std::int64_t stallNanoseconds_;
    const std::function<void()> onStall_;
    const Hooks hooks_;
    const std::int64_t lookNanoseconds_;  // between looks while anything waits
    const UniqueFd wakeFd_;  // an eventfd: ends the thread's poll when what it holds changes

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<int> grabbed_;  // under mutex_
    std::uint64_t heldVersion_ = 0;  // under mutex_: counts changes of grabbed_
    std::vector<int> devices_;  // under mutex_
    int writesFd_ = -1;         // under mutex_
    std::int64_t lateNanoseconds_ = 0;  // under mutex_
    std::function<std::uint64_t()> writes_;  // under mutex_
    bool stopping_ = false;     // under mutex_
    std::atomic<bool> suspended_{false};  // written under mutex_
    std::vector<pollfd> polled_;  // the thread's
    std::atomic<std::uint64_t> beats_{0};
    std::atomic<bool> released_{false};
    std::thread thread_;  // last: started once everything it reads is made
};

}  // namespace tindlewave
