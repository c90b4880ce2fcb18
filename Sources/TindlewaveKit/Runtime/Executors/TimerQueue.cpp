#include "Runtime/Executors/TimerQueue.h"

namespace tindlewave {

TimerQueue::TimerQueue() {
    spareEntries_.reserve(keptNodes);
    spareDeadlines_.reserve(keptNodes);
}

TimerHandle TimerQueue::add(Instant deadline, Executor::Job job, bool* isEarliest) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        ByDeadline::iterator it;
        if (!spareEntries_.empty()) {
            auto node = std::move(spareEntries_.back());
            spareEntries_.pop_back();
            node.key() = Key{deadline, id};
            node.mapped() = std::move(job);
            it = byDeadline_.insert(std::move(node)).position;
        } else {
            it = byDeadline_.emplace(Key{deadline, id}, std::move(job)).first;
        }
        if (!spareDeadlines_.empty()) {
            auto node = std::move(spareDeadlines_.back());
            spareDeadlines_.pop_back();
            node.key() = id;
            node.mapped() = deadline;
            deadlines_.insert(std::move(node));
        } else {
            deadlines_.emplace(id, deadline);
        }
        if (isEarliest) *isEarliest = it == byDeadline_.begin();
    }
    std::weak_ptr<TimerQueue> weak = weak_from_this();
    return TimerHandle([weak, id] {
        if (auto queue = weak.lock()) queue->cancel(id);
    });
}

void TimerQueue::removeLocked(ByDeadline::iterator entry, Executor::Job& job) {
    auto node = byDeadline_.extract(entry);
    auto deadline = deadlines_.extract(node.key().second);
    job = std::move(node.mapped());
    node.mapped() = nullptr;
    if (spareEntries_.size() < keptNodes) spareEntries_.push_back(std::move(node));
    if (!deadline.empty() && spareDeadlines_.size() < keptNodes)
        spareDeadlines_.push_back(std::move(deadline));
}

void TimerQueue::cancel(std::uint64_t id) {
    Executor::Job dropped;  // destroyed after the lock is released
    std::lock_guard lock(mutex_);
    auto found = deadlines_.find(id);
    if (found == deadlines_.end()) return;
    removeLocked(byDeadline_.find(Key{found->second, id}), dropped);
}

std::uint64_t TimerQueue::mark() const {
    std::lock_guard lock(mutex_);
    return nextId_;
}

std::optional<Executor::Job> TimerQueue::popDue(Instant now, std::uint64_t mark) {
    std::lock_guard lock(mutex_);
    for (auto it = byDeadline_.begin(); it != byDeadline_.end() && it->first.first <= now; ++it) {
        if (it->first.second >= mark) continue;  // added after the mark: a later pass's
        Executor::Job job;
        removeLocked(it, job);
        return job;
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
