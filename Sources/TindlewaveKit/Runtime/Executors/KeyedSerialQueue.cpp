#include "Runtime/Executors/KeyedSerialQueue.h"

#include <atomic>
#include <memory>
#include <optional>

namespace tindlewave {

// One piece of work's hold on its key. It ends when the work has run, or when the pool drops the
// work unrun (the pool then destroys it), so the key is never left busy for ever.
struct KeyedSerialQueue::Turn {
    Turn(KeyedSerialQueue& q, std::string k) : queue(q), key(std::move(k)) {}
    ~Turn() {
        if (!over.exchange(true)) queue.finished(key, /*ran=*/false);
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    void ran() {
        if (!over.exchange(true)) queue.finished(key, /*ran=*/true);
    }

    KeyedSerialQueue& queue;
    const std::string key;
    std::atomic<bool> over{false};
};

void KeyedSerialQueue::submit(WorkPool& pool, const std::string& key, WorkPool::Work work) {
    {
        std::lock_guard lock(mutex_);
        auto [entry, free] = busy_.try_emplace(key);
        if (!free) {
            entry->second.push_back({&pool, std::move(work)});
            return;
        }
    }
    start(pool, key, std::move(work));
}

std::size_t KeyedSerialQueue::pending(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto entry = busy_.find(key);
    return entry == busy_.end() ? 0 : entry->second.size() + 1;
}

void KeyedSerialQueue::start(WorkPool& pool, const std::string& key, WorkPool::Work work) {
    auto turn = std::make_shared<Turn>(*this, key);
    pool.submit([turn, work = std::move(work)] {
        work();
        turn->ran();
    });
}

void KeyedSerialQueue::finished(const std::string& key, bool ran) {
    std::optional<Waiting> next;
    std::deque<Waiting> dropped;  // destroyed outside the lock
    {
        std::lock_guard lock(mutex_);
        auto entry = busy_.find(key);
        if (entry == busy_.end()) return;
        if (!ran || entry->second.empty()) {
            // A pool drops work only while it stops (and may be half destroyed): what waits
            // behind dropped work is not handed to a pool but dropped too.
            dropped.swap(entry->second);
            busy_.erase(entry);
        } else {
            next = std::move(entry->second.front());
            entry->second.pop_front();
        }
    }
    if (next) start(*next->pool, key, std::move(next->work));
}

}  // namespace tindlewave
