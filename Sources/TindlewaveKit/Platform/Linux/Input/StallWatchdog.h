#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tindlewave {

// Lets go of every grab when the thread that reads the grabbed nodes stops coming round, so a
// stuck program never keeps the user's mouse and keyboard.
//
// The reading thread beats while it holds grabs and tells the watchdog of each grab it takes and
// ends. The watchdog's own thread sleeps while nothing is grabbed and looks every 50 ms
// otherwise: once no beat has come for `stallSeconds`, it ungrabs every descriptor it was told
// of, forgets them, marks itself released and calls `onStall` on its thread. The reading thread
// takes the release in (takeRelease) before it trusts its grabs again.
class StallWatchdog {
  public:
    // What it reads the time with (from both threads) and how it ungrabs (on its thread); by
    // default the steady clock in nanoseconds and EVIOCGRAB.
    struct Hooks {
        std::function<std::int64_t()> now;
        std::function<void(int fd)> ungrab;
    };

    StallWatchdog(double stallSeconds, std::function<void()> onStall, Hooks hooks = {});
    // Stops and joins its thread (once); ungrabs nothing.
    ~StallWatchdog() { stop(); }
    void stop();
    StallWatchdog(const StallWatchdog&) = delete;
    StallWatchdog& operator=(const StallWatchdog&) = delete;

    // The reading thread came round.
    void beat();
    // A grab taken (counts as a beat) or ended.
    void watch(int fd);
    void unwatch(int fd);
    // The watchdog let go of every grab and the reading thread has not taken that in yet.
    bool released() const { return released_.load(); }
    // True once per release.
    bool takeRelease() { return released_.exchange(false); }

    static std::int64_t steadyNanoseconds();

  private:
    void loop();

    const std::int64_t stallNanoseconds_;
    const std::function<void()> onStall_;
    const Hooks hooks_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<int> grabbed_;  // under mutex_
    bool stopping_ = false;     // under mutex_
    std::atomic<std::int64_t> heartbeat_{0};
    std::atomic<bool> released_{false};
    std::thread thread_;  // last: started once everything it reads is made
};

}  // namespace tindlewave
