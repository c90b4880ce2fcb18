#include "Runtime/Executors/RunLoopExecutor.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include "Core/RingQueue.h"
#include "Platform/Clock.h"
#include "Platform/Linux/System/UniqueFd.h"
#include "Runtime/Executors/TimerQueue.h"

namespace tindlewave {

namespace {

// epoll data of the two internal descriptors; watches use their ids, which start above these.
constexpr std::uint64_t kWakeTag = 0;
constexpr std::uint64_t kTimerTag = 1;

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("run loop: ") + what + ": " + std::strerror(errno));
}

}  // namespace

// Everything the loop thread and other threads share. Handles (timers, fd watches) hold it weakly,
// so a handle that outlives its executor cancels nothing.
struct RunLoopExecutor::State {
    struct Watch {
        int fd;
        FdCallback callback;
    };

    UniqueFd epoll;
    UniqueFd eventFd;
    UniqueFd timerFd;
    std::shared_ptr<TimerQueue> timers = TimerQueue::make();

    std::mutex mutex;
    RingQueue<Job> jobs;  // keeps its storage: posting allocates nothing once it has grown
    bool stopping = false;
    // The loop is going to sleep, or sleeps, in epoll_wait with no job queued: the next post or
    // earliest timer must signal the eventfd, and only the first of them does. While the loop
    // runs it looks at the queue and the timers before it sleeps, so posts and timers added
    // meanwhile (its own jobs' among them) cost no signal and no extra pass.
    bool sleeping = false;
    std::uint64_t nextWatch = kTimerTag + 1;
    std::map<std::uint64_t, std::shared_ptr<Watch>> watches;
    std::function<void(PassStep)> afterEachStep;  // the loop thread's: setAfterEachStep()

    void wake() const {
        std::uint64_t one = 1;
        // A full counter already means "awake"; nothing else can fail here.
        [[maybe_unused]] auto written = ::write(eventFd.get(), &one, sizeof one);
    }

    // Wakes the loop if it sleeps (or is about to), once; the caller holds no lock.
    void wakeIfSleeping() {
        bool asleep = false;
        {
            std::lock_guard lock(mutex);
            asleep = std::exchange(sleeping, false);
        }
        if (asleep) wake();
    }

    void removeWatch(std::uint64_t id) {
        std::shared_ptr<Watch> dropped;
        std::lock_guard lock(mutex);
        auto found = watches.find(id);
        if (found == watches.end()) return;
        dropped = std::move(found->second);
        watches.erase(found);
        epoll_ctl(epoll.get(), EPOLL_CTL_DEL, dropped->fd, nullptr);
    }
};

std::string RunLoopExecutor::threadName(const std::string& name) {
    constexpr std::size_t kLimit = 15;
    std::string shortened = name;
    while (shortened.size() > kLimit) {
        auto dot = shortened.find('.');
        if (dot == std::string::npos || dot + 1 >= shortened.size()) break;
        shortened.erase(0, dot + 1);
    }
    if (shortened.size() > kLimit) shortened.erase(0, shortened.size() - kLimit);
    return shortened;
}

RunLoopExecutor::RunLoopExecutor(std::string name)
    : name_(std::move(name)), state_(std::make_shared<State>()) {
    state_->epoll.reset(epoll_create1(EPOLL_CLOEXEC));
    if (!state_->epoll.isOpen()) fail("epoll_create1");
    state_->eventFd.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!state_->eventFd.isOpen()) fail("eventfd");
    state_->timerFd.reset(timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!state_->timerFd.isOpen()) fail("timerfd_create");
    for (auto [fd, tag] : {std::pair{state_->eventFd.get(), kWakeTag}, {state_->timerFd.get(), kTimerTag}}) {
        epoll_event event{};
        // The eventfd is edge-triggered and never read: each write is an edge of its own, so a
        // wake costs the waker's write alone. (Its counter, one more a wake, cannot fill.)
        event.events = tag == kWakeTag ? EPOLLIN | EPOLLET : EPOLLIN;
        event.data.u64 = tag;
        if (epoll_ctl(state_->epoll.get(), EPOLL_CTL_ADD, fd, &event) != 0) fail("epoll_ctl");
    }
    thread_ = std::thread([this] { loop(); });
}

RunLoopExecutor::~RunLoopExecutor() {
    closeMailbox();
    stop();
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed by one of its own jobs: the loop holds the shared state and ends by itself.
        thread_.detach();
        return;
    }
    join();
}

const Clock& RunLoopExecutor::clock() const {
    return SystemClock::shared();
}

void RunLoopExecutor::post(Job job) {
    bool asleep = false;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;  // dropped; destroyed after the lock is released
        state_->jobs.push_back(std::move(job));
        asleep = std::exchange(state_->sleeping, false);
    }
    if (asleep) state_->wake();
}

TimerHandle RunLoopExecutor::schedule(Instant deadline, Job job) {
    bool earliest = false;
    auto handle = state_->timers->add(deadline, std::move(job), &earliest);
    // The loop re-arms its timerfd before it sleeps: a running loop sees the new deadline then.
    if (earliest) state_->wakeIfSleeping();
    return handle;
}

FdWatch RunLoopExecutor::addFd(int fd, std::uint32_t events, FdCallback callback) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(state_->mutex);
        id = state_->nextWatch++;
        epoll_event event{};
        event.events = events;
        event.data.u64 = id;
        if (epoll_ctl(state_->epoll.get(), EPOLL_CTL_ADD, fd, &event) != 0) return {};
        state_->watches.emplace(
            id, std::make_shared<State::Watch>(State::Watch{fd, std::move(callback)}));
    }
    std::weak_ptr<State> weak = state_;
    return FdWatch([weak, id] {
        if (auto state = weak.lock()) state->removeWatch(id);
    });
}

void RunLoopExecutor::setAfterEachStep(std::function<void(PassStep)> hook) {
    assert(isCurrent() && "the hook is the loop thread's");
    state_->afterEachStep = std::move(hook);
}

void RunLoopExecutor::stop() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake();
}

void RunLoopExecutor::join() {
    assert(!isCurrent() && "an executor cannot join its own thread");
    if (thread_.joinable()) thread_.join();
    // Whatever was still queued is dropped here, on the joining thread.
    RingQueue<Job> dropped;
    {
        std::lock_guard lock(state_->mutex);
        dropped.swap(state_->jobs);
    }
    state_->timers->clear();
}

void RunLoopExecutor::loop() {
    pthread_setname_np(pthread_self(), threadName(name_).c_str());
    CurrentScope scope(this);
    const std::shared_ptr<State> keep = state_;
    State& state = *keep;
    const Clock& clock = SystemClock::shared();
    // Nanoseconds of the deadline the timerfd is armed for; -1 when it is disarmed.
    std::int64_t armed = -1;
    // The tests' hook after each step. `made` runs it after the expression that makes the step and
    // gives that expression's value: the hook stays with the statement wherever it goes.
    const auto after = [&state](PassStep step) {
        if (state.afterEachStep) state.afterEachStep(step);
    };
    const auto made = [&after](PassStep step, auto result) {
        after(step);
        return result;
    };

    while (true) {
        // Jobs posted so far, one at a time; jobs they post wait for the next pass, after timers
        // and descriptors had their turn.
        std::size_t count = 0;
        {
            std::lock_guard lock(state.mutex);
            if (state.stopping) return;
            state.sleeping = false;
            count = state.jobs.size();
        }
        after(PassStep::begun);
        for (; count > 0; --count) {
            Job job;
            {
                std::lock_guard lock(state.mutex);
                if (state.stopping || state.jobs.empty()) break;
                job = state.jobs.take();
            }
            job();
        }
        after(PassStep::jobsRun);

        // The timers due when the pass begins, earliest first; a timer cancelled by an earlier
        // one does not run. Timers they add wait for the next pass, even when already due, so a
        // timer that keeps re-arming itself in the past cannot starve jobs and descriptors.
        const Instant passStart = clock.now();
        const std::uint64_t mark = state.timers->mark();
        while (auto job = state.timers->popDue(passStart, mark)) {
            {
                std::lock_guard lock(state.mutex);
                if (state.stopping) return;
            }
            (*job)();
        }
        after(PassStep::timersRun);

        // Sleep until a descriptor is ready, a job is posted or the earliest deadline arrives. The
        // loop counts as sleeping before it reads the earliest deadline: a timer added after
        // that read finds it sleeping and signals.
        const bool pending = made(PassStep::countedAsleep, [&state] {
            std::lock_guard lock(state.mutex);
            state.sleeping = state.jobs.empty() && !state.stopping;
            return !state.sleeping;
        }());
        const auto next = made(PassStep::deadlineRead, state.timers->nextDeadline());
        const std::int64_t wanted = next ? next->time_since_epoch().count() : -1;
        if (wanted != armed) {
            itimerspec spec{};
            if (next) {
                auto ns = std::max<std::int64_t>(next->time_since_epoch().count(), 1);
                spec.it_value.tv_sec = ns / 1'000'000'000;
                spec.it_value.tv_nsec = ns % 1'000'000'000;
            }
            timerfd_settime(state.timerFd.get(), TFD_TIMER_ABSTIME, &spec, nullptr);
            armed = wanted;
        }
        after(PassStep::timerArmed);
        epoll_event events[16];
        int ready = epoll_wait(state.epoll.get(), events, 16, pending ? 0 : -1);
        if (ready < 0) continue;  // EINTR
        for (int i = 0; i < ready; ++i) {
            std::uint64_t tag = events[i].data.u64;
            if (tag == kWakeTag) {
                // Woken for the jobs and timers the next pass finds.
            } else if (tag == kTimerTag) {
                std::uint64_t expirations = 0;
                [[maybe_unused]] auto read =
                    ::read(state.timerFd.get(), &expirations, sizeof expirations);
                armed = -1;  // a fired timerfd is disarmed
            } else {
                std::shared_ptr<State::Watch> watch;
                {
                    std::lock_guard lock(state.mutex);
                    if (state.stopping) return;
                    auto found = state.watches.find(tag);
                    if (found != state.watches.end()) watch = found->second;
                }
                if (watch) watch->callback(events[i].events);
            }
        }
    }
}

}  // namespace tindlewave
