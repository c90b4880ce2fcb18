#include "Runtime/Executors/ThreadPool.h"

namespace tindlewave {

ThreadPool::ThreadPool(std::size_t threads) {
    threads_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
}

ThreadPool::~ThreadPool() {
    std::deque<Work> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(queue_);
    }
    ready_.notify_all();
    for (auto& thread : threads_) thread.join();
}

ThreadPool& ThreadPool::shared() {
    static ThreadPool pool;
    return pool;
}

void ThreadPool::submit(Work work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(work));
    }
    ready_.notify_one();
}

void ThreadPool::run() {
    while (true) {
        Work work;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
    }
}

}  // namespace tindlewave
