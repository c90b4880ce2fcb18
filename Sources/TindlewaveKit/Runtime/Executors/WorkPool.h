#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "Platform/Executor.h"
#include "Platform/Mailbox.h"

namespace tindlewave {

// Where blocking work (child processes and their pipes) runs, away from the serial executors.
class WorkPool {
  public:
    using Work = std::function<void()>;
    virtual ~WorkPool() = default;
    // Queues blocking work; callable from any thread, never blocks.
    virtual void submit(Work work) = 0;
};

// Runs `work` on the pool and hands its result to `done` as a job of `back` (normally the
// caller's executor). Nothing runs when the pool or `back` has stopped, or `back` is gone: the
// work holds `back`'s mailbox, not `back`, so `back` may be destroyed while the work still runs.
template <class T>
void runBlocking(WorkPool& pool, Executor& back, std::function<T()> work,
                 std::function<void(T)> done) {
    pool.submit([mailbox = back.mailbox(), work = std::move(work),
                 done = std::move(done)]() mutable {
        auto result = std::make_shared<T>(work());
        mailbox->post([done = std::move(done), result] { done(std::move(*result)); });
    });
}

}  // namespace tindlewave
