#pragma once

#include <mutex>

#include "Platform/Executor.h"

namespace tindlewave {

// Posts to one executor and may outlive it. The executor closes it as the first step of going
// away: from then on posts are dropped, and a post under way when it closes finishes first.
// Work on another thread that reports back later (a pool's job) holds this, never the executor.
class Mailbox {
  public:
    explicit Mailbox(Executor& target) : target_(&target) {}
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Callable from any thread; never blocks for longer than the executor's own post.
    void post(Executor::Job job);
    void close();

  private:
    std::mutex mutex_;
    Executor* target_;
};

}  // namespace tindlewave
