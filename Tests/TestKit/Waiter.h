#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tindlewave::testkit {

// Waits on real threads for a condition instead of sleeping a guessed time. The time limit only
// keeps a broken test from hanging; a passing test never reaches it.
class Waiter {
  public:
    // Runs `change` under the lock and wakes every waiter (still under the lock, so a waiter
    // that returns and destroys the Waiter cannot race the notification).
    void update(const std::function<void()>& change) {
        std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }
    // True once `condition` (evaluated under the lock) holds; false after the safety limit.
    bool waitFor(const std::function<bool()>& condition,
                 std::chrono::nanoseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, condition);
    }
    // Evaluates `read` under the lock.
    template <class F>
    auto read(F&& read) {
        std::lock_guard lock(mutex_);
        return read();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Looks at `condition` every `interval` until it holds (true) or `limit` passes (false): for
// conditions no thread signals. The limit is generous (time, never a number of looks: a loaded
// machine gives a test fewer of them).
inline bool pollUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(20),
                      std::chrono::milliseconds interval = std::chrono::milliseconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace tindlewave::testkit
