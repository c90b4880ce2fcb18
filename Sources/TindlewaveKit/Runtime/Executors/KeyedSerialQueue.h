#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "Runtime/Executors/WorkPool.h"

namespace tindlewave {

// Runs blocking work on a pool one at a time per key, in the order submitted; work of different
// keys runs side by side. Work waiting for its turn holds no pool thread: it is handed to the pool
// only once the work before it with the same key has finished, so a key whose work hangs never
// occupies more than one thread. When a stopping pool drops work unrun, the work waiting behind it
// under its key is dropped as well. Thread-safe; it must outlive the work submitted to it.
class KeyedSerialQueue {
  public:
    KeyedSerialQueue() = default;
    KeyedSerialQueue(const KeyedSerialQueue&) = delete;
    KeyedSerialQueue& operator=(const KeyedSerialQueue&) = delete;

    void submit(WorkPool& pool, const std::string& key, WorkPool::Work work);

    // Work submitted under `key` that has not finished yet (running or waiting).
    std::size_t pending(const std::string& key) const;

  private:
    struct Waiting {
        WorkPool* pool;
        WorkPool::Work work;
    };
    struct Turn;

    void start(WorkPool& pool, const std::string& key, WorkPool::Work work);
    void finished(const std::string& key, bool ran);

    mutable std::mutex mutex_;
    // A key is present while its work runs, with the work waiting behind it.
    std::map<std::string, std::deque<Waiting>> busy_;
};

// A WorkPool that runs everything submitted to it through `queue` under one key, on `pool`.
class KeyedLane final : public WorkPool {
  public:
    KeyedLane(KeyedSerialQueue& queue, WorkPool& pool, std::string key)
        : queue_(queue), pool_(pool), key_(std::move(key)) {}
    void submit(Work work) override { queue_.submit(pool_, key_, std::move(work)); }

  private:
    KeyedSerialQueue& queue_;
    WorkPool& pool_;
    const std::string key_;
};

}  // namespace tindlewave
