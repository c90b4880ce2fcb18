#include "Runtime/Executors/TimerQueue.h"

namespace tindlewave {

TimerHandle TimerQueue::add(Instant deadline, Executor::Job job, bool* isEarliest) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        auto it = byDeadline_.emplace(Key{deadline, id}, std::move(job)).first;
        deadlines_.emplace(id, deadline);
        if (isEarliest) *isEarliest = it == byDeadline_.begin();
    }
    std::weak_ptr<TimerQueue> weak = weak_from_this();
    return TimerHandle([weak, id] {
        if (auto queue = weak.lock()) queue->cancel(id);
    });
}

void TimerQueue::cancel(std::uint64_t id) {
    Executor::Job dropped;  // destroyed after the lock is released
    std::lock_guard lock(mutex_);
    auto found = deadlines_.find(id);
    if (found == deadlines_.end()) return;
    auto node = byDeadline_.extract(Key{found->second, id});
    deadlines_.erase(found);
    dropped = std::move(node.mapped());
}

std::uint64_t TimerQueue::mark() const {
    std::lock_guard lock(mutex_);
    return nextId_;
}

std::optional<Executor::Job> TimerQueue::popDue(Instant now, std::uint64_t mark) {
    std::lock_guard lock(mutex_);
    for (auto it = byDeadline_.begin(); it != byDeadline_.end() && it->first.first <= now; ++it) {
        if (it->first.second >= mark) continue;  // added after the mark: a later pass's
        auto node = byDeadline_.extract(it);
        deadlines_.erase(node.key().second);
        return std::move(node.mapped());
    }
    return std::nullopt;
}

std::optional<Instant> TimerQueue::nextDeadline() const {
    std::lock_guard lock(mutex_);
    if (byDeadline_.empty()) return std::nullopt;
    return byDeadline_.begin()->first.first;
}

void TimerQueue::clear() {
    std::map<Key, Executor::Job> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(byDeadline_);
    deadlines_.clear();
}

}  // namespace tindlewave
