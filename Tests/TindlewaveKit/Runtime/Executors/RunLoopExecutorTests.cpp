#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/Clock.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/Executors/ThreadPool.h"
#include "TestKit/ThreadRunTime.h"
#include "TestKit/Waiter.h"

using namespace tindlewave;
using namespace std::chrono_literals;
using testkit::Waiter;

TEST(RunLoopExecutor, JobsFromTwoThreadsRunInPostOrderOnItsThread) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.order");
    std::mutex postLock;
    int nextSequence = 0;
    std::vector<int> ran;
    std::vector<std::thread::id> threads;
    constexpr int kPerProducer = 500;

    auto produce = [&] {
        for (int i = 0; i < kPerProducer; ++i) {
            std::lock_guard lock(postLock);  // makes the post order observable
            executor.post([&, sequence = nextSequence++] {
                waiter.update([&] {
                    ran.push_back(sequence);
                    threads.push_back(std::this_thread::get_id());
                });
            });
        }
    };
    std::thread a(produce), b(produce);
    a.join();
    b.join();
    ASSERT_TRUE(waiter.waitFor([&] { return ran.size() == 2 * kPerProducer; }));

    waiter.read([&] {
        for (int i = 0; i < 2 * kPerProducer; ++i) EXPECT_EQ(ran[i], i);
        for (auto id : threads) {
            EXPECT_EQ(id, threads.front());
            EXPECT_NE(id, std::this_thread::get_id());
        }
        return 0;
    });
}

TEST(RunLoopExecutor, IsCurrentOnlyInItsJobsTimersAndFdCallbacks) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.current");
    RunLoopExecutor other("test.other");
    std::vector<bool> seen;
    auto note = [&](bool value) { waiter.update([&] { seen.push_back(value); }); };

    EXPECT_FALSE(executor.isCurrent());
    executor.post([&] { note(executor.isCurrent() && !other.isCurrent()); });
    other.post([&] { note(executor.isCurrent()); });
    auto timer = executor.schedule(executor.clock().now(), [&] { note(executor.isCurrent()); });

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FdWatch watch;
    watch = executor.addFd(fds[0], EPOLLIN, [&](std::uint32_t) {
        char byte;
        [[maybe_unused]] auto n = read(fds[0], &byte, 1);
        note(executor.isCurrent());
    });
    ASSERT_TRUE(watch.isArmed());
    ASSERT_EQ(write(fds[1], "x", 1), 1);

    ASSERT_TRUE(waiter.waitFor([&] { return seen.size() == 4; }));
    waiter.read([&] {
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 3);  // `other` saw false
        return 0;
    });

    // A cancelled watch gets no more callbacks, even with data waiting.
    watch.cancel();
    ASSERT_EQ(write(fds[1], "y", 1), 1);
    executor.post([&] { note(true); });
    ASSERT_TRUE(waiter.waitFor([&] { return seen.size() == 5; }));
    executor.stop();
    executor.join();
    EXPECT_EQ(waiter.read([&] { return seen.size(); }), 5u);
    close(fds[0]);
    close(fds[1]);
}

TEST(RunLoopExecutor, TimersFireInDeadlineOrderAndNeverEarly) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.timers");
    std::vector<std::pair<int, bool>> fired;  // id, on time
    const Instant start = executor.clock().now();
    std::vector<TimerHandle> timers;
    for (int id : {3, 1, 2}) {
        Instant deadline = start + id * 15ms;
        timers.push_back(executor.schedule(deadline, [&, id, deadline] {
            bool onTime = executor.clock().now() >= deadline;
            waiter.update([&] { fired.emplace_back(id, onTime); });
        }));
    }
    ASSERT_TRUE(waiter.waitFor([&] { return fired.size() == 3; }));
    waiter.read([&] {
        EXPECT_EQ(fired, (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {3, true}}));
        return 0;
    });
}

TEST(RunLoopExecutor, CancellingTimersInsideCallbacksAfterFiringAndByDropping) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.cancel");
    std::vector<std::string> fired;
    auto note = [&](std::string what) { waiter.update([&] { fired.push_back(what); }); };

    const Instant deadline = executor.clock().now() + 5ms;
    TimerHandle self, later, dropped;
    // Posted as one job so that `first` and `second` are both due in the same pass.
    executor.post([&] {
        self = executor.schedule(deadline, [&] {
            self.cancel();   // its own handle, from inside: harmless
            later.cancel();  // due at the same instant, still not run
            note("first");
        });
        later = executor.schedule(deadline, [&] { note("second"); });
        dropped = executor.schedule(deadline, [&] { note("dropped"); });
        dropped = TimerHandle();  // replacing the handle cancels the timer
    });
    auto marker = executor.schedule(deadline + 10ms, [&] { note("marker"); });

    ASSERT_TRUE(waiter.waitFor([&] { return fired.size() == 2; }));
    marker.cancel();  // after it fired: harmless
    waiter.read([&] {
        EXPECT_EQ(fired, (std::vector<std::string>{"first", "marker"}));
        return 0;
    });
}

// A timer that re-arms itself at or before now runs once a pass: posted jobs and ready
// descriptors still get their turn.
TEST(RunLoopExecutor, ATimerReArmedInThePastStarvesNeitherJobsNorDescriptors) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    int timerRuns = 0;
    bool jobRan = false, fdSeen = false;
    TimerHandle timer;
    std::function<void()> rearm;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    RunLoopExecutor executor("test.rearm");  // stopped before what its timer uses goes
    rearm = [&] {
        waiter.update([&] { ++timerRuns; });
        timer = executor.schedule(executor.clock().now() - 1ms, rearm);
    };
    executor.post([&] { timer = executor.schedule(executor.clock().now(), rearm); });
    ASSERT_TRUE(waiter.waitFor([&] { return timerRuns >= 3; }));

    FdWatch watch = executor.addFd(fds[0], EPOLLIN,
                                   [&](std::uint32_t) { waiter.update([&] { fdSeen = true; }); });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    executor.post([&] { waiter.update([&] { jobRan = true; }); });
    EXPECT_TRUE(waiter.waitFor([&] { return jobRan && fdSeen; }, 5s));
    executor.stop();
    executor.join();
    watch.cancel();
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(RunLoopExecutor, StopDropsQueuedJobsAndJoins) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    auto executor = std::make_unique<RunLoopExecutor>("test.stop");
    bool started = false, open = false;
    int ran = 0;
    auto token = std::make_shared<int>(0);

    executor->post([&] {
        waiter.update([&] { started = true; });
        waiter.waitFor([&] { return open; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return started; }));
    for (int i = 0; i < 50; ++i) executor->post([&ran, token] { ++ran; });
    auto timer = executor->schedule(executor->clock().now(), [&ran, token] { ++ran; });

    executor->stop();
    waiter.update([&] { open = true; });
    executor->join();
    executor->post([&ran, token] { ++ran; });  // after stop: dropped
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(token.use_count(), 1);  // nothing holds the queued jobs any more
    executor.reset();
    timer.cancel();  // outliving the executor is harmless
}

// Asleep: over a fifth of a second with nothing to do, the thread `tid` takes next to no
// processor time (a loop that spins takes about all of it, a good share even on a busy machine).
bool sleepsWhileIdle(pid_t tid) {
    const auto taken = testkit::threadRunTimeOver(tid, 200ms);
    EXPECT_GE(taken.count(), 0) << "the thread's processor time cannot be read";
    EXPECT_LT(taken, 40ms) << "the idle thread kept running";
    return taken.count() >= 0 && taken < 40ms;
}

TEST(RunLoopExecutor, AnIdleLoopStaysAliveAndSleeps) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.idle");
    int step = 0;
    pid_t loopThread = 0;
    // Nothing but a far timer for a while; the loop must still be there afterwards.
    auto timer = executor.schedule(executor.clock().now() + 30ms, [&] {
        waiter.update([&] {
            step = 1;
            loopThread = testkit::currentThreadId();
        });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return step == 1; }));
    EXPECT_TRUE(sleepsWhileIdle(loopThread));
    // Woken by a post while it sleeps (the wake signal is never read), it sleeps again.
    executor.post([&] { waiter.update([&] { step = 2; }); });
    ASSERT_TRUE(waiter.waitFor([&] { return step == 2; }));
    EXPECT_TRUE(sleepsWhileIdle(loopThread));
    // And so after a timer another thread added while it slept.
    timer = executor.schedule(executor.clock().now(), [&] { waiter.update([&] { step = 3; }); });
    ASSERT_TRUE(waiter.waitFor([&] { return step == 3; }));
    EXPECT_TRUE(sleepsWhileIdle(loopThread));
}

// Another thread's earliest timer or post wakes the loop only while it sleeps, once. Added after
// any step of a pass (the loop's look at its earliest deadline, a far one here, among them), each
// is run by that pass, the next one or the wake it sends, never left for an unrelated wake. The
// hook adds it from a thread of its own while the loop waits right after the step.
TEST(RunLoopExecutor, AJobOrTimerAddedAfterAnyStepOfAPassIsNeverMissed) {
    using Step = RunLoopExecutor::PassStep;
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.wakes");
    TimerHandle far, kick, added;
    executor.post([&] { far = executor.schedule(executor.clock().now() + 1h, [] {}); });
    for (const auto& [step, named] : {std::pair{Step::begun, "the pass begun"}, {Step::jobsRun, "its jobs run"},
                                      {Step::timersRun, "its timers run"}, {Step::countedAsleep, "counted asleep"},
                                      {Step::deadlineRead, "its earliest deadline read"},
                                      {Step::timerArmed, "its timer armed"}}) {
        for (const bool timer : {true, false}) {
            bool ran = false, cleared = false;
            const auto run = [&] { waiter.update([&] { ran = true; }); };
            executor.post([&, step = step, timer] {
                // Once, in a pass after this one (the kick's): nothing else wakes the loop then.
                executor.setAfterEachStep([&, step, timer, begun = false, done = false](Step at) mutable {
                    if (at == Step::begun) begun = true;
                    if (!begun || done || at != step) return;
                    done = true;
                    kick.cancel();  // should another pass come first
                    std::thread([&, timer] {
                        if (timer)
                            added = executor.schedule(executor.clock().now(), run);
                        else
                            executor.post(run);
                    }).join();
                });
                kick = executor.schedule(executor.clock().now() + 10ms, [] {});
            });
            ASSERT_TRUE(waiter.waitFor([&] { return ran; }, 10s))
                << (timer ? "a timer" : "a job") << " added after " << named << " waits for an unrelated wake";
            executor.post([&] {
                executor.setAfterEachStep(nullptr);
                waiter.update([&] { cleared = true; });
            });
            ASSERT_TRUE(waiter.waitFor([&] { return cleared; }));
        }
    }
    bool cancelled = false;
    executor.post([&] {
        far.cancel();
        waiter.update([&] { cancelled = true; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return cancelled; }));
}

TEST(RunLoopExecutor, KeepsItsFullNameAndGivesTheOsAShortOne) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    EXPECT_EQ(RunLoopExecutor::threadName("app.tindlewave.hid"), "tindlewave.hid");
    EXPECT_EQ(RunLoopExecutor::threadName("short"), "short");
    EXPECT_EQ(RunLoopExecutor::threadName("averyveryverylongname"), "eryverylongname");

    RunLoopExecutor hid("app.tindlewave.hid");
    EXPECT_EQ(hid.name(), "app.tindlewave.hid");
    std::string osName;
    hid.post([&] {
        char buffer[16] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        waiter.update([&] { osName = buffer; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return !osName.empty(); }));
    EXPECT_EQ(waiter.read([&] { return osName; }), "tindlewave.hid");
}

// The program's executors and work pool are statics whose threads run until the statics are torn
// down at exit, and the clock is made on first use, often by one of those threads: it must still
// be readable after every other static is gone.
TEST(SystemClock, StaysReadableWhileTheProgramsStaticsAreTornDown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no clock made yet
    EXPECT_EXIT(
        {
            std::atexit([] {
                const Clock& clock = SystemClock::shared();
                std::_Exit(clock.now() > Instant{} ? 0 : 1);
            });
            (void)SystemClock::shared();  // made after the handler, as by an executor's thread
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ThreadPool, RunsBlockingWorkOffTheExecutorAndCompletesOnIt) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.pool");
    ThreadPool pool(2);
    std::vector<std::pair<int, bool>> done;
    for (int i = 0; i < 4; ++i) {
        runBlocking<int>(
            pool, executor, [&executor, i] { return executor.isCurrent() ? -1 : i * 10; },
            [&](int value) {
                waiter.update([&] { done.emplace_back(value, executor.isCurrent()); });
            });
    }
    ASSERT_TRUE(waiter.waitFor([&] { return done.size() == 4; }));
    waiter.read([&] {
        std::sort(done.begin(), done.end());
        EXPECT_EQ(done, (std::vector<std::pair<int, bool>>{
                            {0, true}, {10, true}, {20, true}, {30, true}}));
        return 0;
    });
}

// Device readers reach the loop through FdRegistrar::of(executor); a watch one callback cancels is
// not called again, even when its descriptor was ready in the same pass.
TEST(RunLoopExecutor, FdWatchCancelledByAnotherCallbackIsNotCalled) {
    Waiter waiter;
    int first[2], second[2];
    ASSERT_EQ(::pipe(first), 0);
    ASSERT_EQ(::pipe(second), 0);
    RunLoopExecutor executor("test.fds");
    FdRegistrar* registrar = FdRegistrar::of(executor);
    ASSERT_NE(registrar, nullptr);
    FdWatch a, b;
    int calls = 0;
    bool done = false;
    executor.post([&] {
        a = registrar->addFd(first[0], EPOLLIN, [&](std::uint32_t) {
            ++calls;
            a.cancel();
            b.cancel();
        });
        b = registrar->addFd(second[0], EPOLLIN, [&](std::uint32_t) {
            ++calls;
            a.cancel();
            b.cancel();
        });
        ASSERT_EQ(::write(first[1], "x", 1), 1);
        ASSERT_EQ(::write(second[1], "x", 1), 1);
    });
    executor.post([&] {});
    // Two more passes of the loop: both descriptors stay readable (nobody reads them).
    executor.post([&] { executor.post([&] { waiter.update([&] { done = true; }); }); });
    ASSERT_TRUE(waiter.waitFor([&] { return done; }, 5s));
    executor.stop();
    executor.join();
    EXPECT_EQ(calls, 1);
    for (int fd : {first[0], first[1], second[0], second[1]}) ::close(fd);
}

// Blocking work (a hidutil run) may still be under way when the executor it reports to is
// destroyed: its report is dropped, and nothing touches the gone executor.
TEST(ThreadPool, WorkStillRunningWhenItsExecutorIsDestroyedReportsNowhere) {
    ThreadPool pool(1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> reported{false};
    auto executor = std::make_unique<RunLoopExecutor>("test.gone");
    runBlocking<int>(
        pool, *executor,
        [released] {
            released.wait();
            return 1;
        },
        [&](int) { reported = true; });
    executor.reset();
    release.set_value();
    // The pool has one thread: once this runs, the work before it has posted its result.
    std::promise<void> drained;
    pool.submit([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_FALSE(reported);
}
