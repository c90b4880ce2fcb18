#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Executor.h"
#include "Platform/FdRegistrar.h"

namespace tindlewave {

// A serial executor with a thread of its own running a loop over epoll: an eventfd wakes it for
// posted jobs, a timerfd on the continuous clock for the earliest timer, and file descriptors added
// with addFd() deliver their readiness there too. Jobs, timers and fd callbacks run one at a time
// on that thread, never under the executor's lock. Each pass of the loop runs the jobs posted
// before it, then the timers due when their turn begins, then the ready descriptors: what those
// add (a timer re-armed in the past included) waits for the next pass, so none of them can starve
// the others. stop() ends the loop (queued jobs and timers are
// dropped unrun); the destructor stops and joins.
class RunLoopExecutor final : public Executor, public FdRegistrar {
  public:
    // Starts the thread. `name` is kept whole; the OS thread gets a shortened form (Linux allows
    // 15 characters).
    explicit RunLoopExecutor(std::string name);
    ~RunLoopExecutor() override;
    RunLoopExecutor(const RunLoopExecutor&) = delete;
    RunLoopExecutor& operator=(const RunLoopExecutor&) = delete;

    void post(Job job) override;
    TimerHandle schedule(Instant deadline, Job job) override;
    const Clock& clock() const override;

    // FdRegistrar: the descriptor's readiness is delivered by this loop (epoll); fails when epoll
    // refuses the descriptor.
    FdWatch addFd(int fd, std::uint32_t events, FdCallback callback) override;

    // Asks the loop to end after the job in progress; callable from any thread, the loop's own
    // included. Work posted afterwards is dropped.
    void stop();
    // Waits for the thread to end; must not be called from the executor's own thread.
    void join();

    // The steps of a pass, in their order: after each of them a job or timer another thread adds
    // must still be run, by this pass, the next one or the wake it sends.
    enum class PassStep { begun, jobsRun, timersRun, countedAsleep, deadlineRead, timerArmed };
    // For tests: `hook` runs on the loop's thread right after each step of every pass (bound to
    // the step's own statement: where the step goes, its hook goes). Set it from the loop's own
    // thread (a job of it).
    void setAfterEachStep(std::function<void(PassStep)> hook);

    const std::string& name() const { return name_; }
    // The form of `name` given to the OS: leading dotted parts are dropped until it fits.
    static std::string threadName(const std::string& name);

  private:
    struct State;

    void loop();

    const std::string name_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace tindlewave
