#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

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
    TimerQueue();
    void cancel(std::uint64_t id);

    using Key = std::pair<Instant, std::uint64_t>;
    using ByDeadline = std::map<Key, Executor::Job>;
    using Deadlines = std::unordered_map<std::uint64_t, Instant>;
    static constexpr std::size_t keptNodes = 16;

    // Takes a fired or cancelled timer's nodes out, its job moved to `job`; keeps the nodes for
    // the next add (up to keptNodes), so a timer re-armed every frame allocates nothing.
    void removeLocked(ByDeadline::iterator entry, Executor::Job& job);

    mutable std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    ByDeadline byDeadline_;
    Deadlines deadlines_;
    std::vector<ByDeadline::node_type> spareEntries_;
    std::vector<Deadlines::node_type> spareDeadlines_;
};

}  // namespace tindlewave
