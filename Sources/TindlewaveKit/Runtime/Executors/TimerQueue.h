#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "Platform/Executor.h"

namespace tindlewave {

// The pending timers of one executor, earliest deadline first (equal deadlines in the order
// scheduled). Thread-safe; jobs are never run or destroyed under its lock. Executors hold it by
// shared pointer so that a timer handle outliving its executor cancels nothing.
class TimerQueue : public std::enable_shared_from_this<TimerQueue> {
  public:
    static std::shared_ptr<TimerQueue> make() {
        return std::shared_ptr<TimerQueue>(new TimerQueue);
    }

    // Adds a timer; `isEarliest` tells whether it now has the earliest deadline of all.
    TimerHandle add(Instant deadline, Executor::Job job, bool* isEarliest = nullptr);
    // Timers added from now on are not `before` the value returned.
    std::uint64_t mark() const;
    // Removes and returns the earliest job whose deadline is at or before `now`, among the timers
    // added before `mark` (a pass that takes only those ends even when its timers keep adding
    // timers that are already due).
    std::optional<Executor::Job> popDue(Instant now, std::uint64_t mark = UINT64_MAX);
    std::optional<Instant> nextDeadline() const;
    // Drops every timer (their jobs are destroyed on the calling thread, outside the lock).
    void clear();

  private:
    TimerQueue() = default;
    void cancel(std::uint64_t id);

    using Key = std::pair<Instant, std::uint64_t>;
    mutable std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::map<Key, Executor::Job> byDeadline_;
    std::unordered_map<std::uint64_t, Instant> deadlines_;
};

}  // namespace tindlewave
