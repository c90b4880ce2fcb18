#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Runtime/Executors/WorkPool.h"

namespace tindlewave {

// A fixed set of threads running blocking work in submission order, several at once. The
// destructor stops taking work, lets the running work finish, drops what is still queued and joins.
class ThreadPool final : public WorkPool {
  public:
    explicit ThreadPool(std::size_t threads = 4);
    ~ThreadPool() override;
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    void submit(Work work) override;

    // The program's pool for child processes, made on first use.
    static ThreadPool& shared();

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Work> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tindlewave
