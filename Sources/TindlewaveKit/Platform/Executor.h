#pragma once

#include <memory>

#include "Core/InlineFunction.h"
#include "Core/Instant.h"
#include "Platform/Cancellable.h"

namespace tindlewave {

class Clock;
class Mailbox;

// A serial executor: jobs run one at a time, in the order posted, on the executor's own thread
// (or, for the test kit's manual executors, when the test lets them run). State bound to an
// executor is touched only from its jobs, timers and callbacks, which need no locks.
class Executor {
  public:
    // Holds what a job usually captures (a shared pointer and a `this`) without allocating.
    using Job = InlineFunction;

    Executor();
    virtual ~Executor();

    // What work on other threads posts through when it may outlive this executor (see Mailbox).
    const std::shared_ptr<Mailbox>& mailbox() const { return mailbox_; }

    // Queues a job; callable from any thread, never blocks, never runs the job inline.
    virtual void post(Job job) = 0;
    // Runs `job` on this executor once `clock().now()` has reached `deadline` (never earlier).
    // The returned handle cancels the timer; cancelling after it fired or from inside its own job
    // is harmless, and dropping the handle cancels too.
    virtual TimerHandle schedule(Instant deadline, Job job) = 0;
    // The clock against which deadlines are measured.
    virtual const Clock& clock() const = 0;

    // True while the calling code runs a job, timer or callback of this executor.
    bool isCurrent() const { return current() == this; }
    // The executor whose job the calling thread is running, or null.
    static const Executor* current();

  protected:
    // Every executor calls this first in its destructor, before anything a post touches goes.
    void closeMailbox();

    // Marks the calling thread as running this executor's work for the scope's lifetime.
    class CurrentScope {
      public:
        explicit CurrentScope(const Executor* executor);
        ~CurrentScope();
        CurrentScope(const CurrentScope&) = delete;
        CurrentScope& operator=(const CurrentScope&) = delete;

      private:
        const Executor* previous_;
    };

  private:
    std::shared_ptr<Mailbox> mailbox_;
};

}  // namespace tindlewave
