#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "Platform/Clock.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/TerminationSignal.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;

TEST(QtMainExecutor, RunsPostsInOrderOnTheGuiThreadAsCurrent) {
    QtMainExecutor main(SystemClock::shared());
    std::vector<int> ran;
    bool allCurrent = true;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            main.post([&, i] {
                allCurrent = allCurrent && main.isCurrent() &&
                             QThread::currentThread() == qApp->thread();
                ran.push_back(i);
            });
    });
    poster.join();
    EXPECT_TRUE(ran.empty());  // never inline
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran.size() == 3; }, 5000));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(allCurrent);
    EXPECT_FALSE(main.isCurrent());
}

// The log sheet reads the log on the shared pool: a read that ends after the main executor went
// must not post into it.
TEST(QtMainExecutor, PoolWorkEndingAfterItIsGoneReportsNowhere) {
    ThreadPool pool(1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool reported = false;
    auto main = std::make_unique<QtMainExecutor>(SystemClock::shared());
    runBlocking<int>(
        pool, *main,
        [released] {
            released.wait();
            return 1;
        },
        [&](int) { reported = true; });
    main.reset();
    release.set_value();
    std::promise<void> drained;
    pool.submit([&] { drained.set_value(); });
    drained.get_future().wait();
    QCoreApplication::processEvents();
    EXPECT_FALSE(reported);
}

TEST(QtMainExecutor, TimersFireInDeadlineOrderNeverEarlyAndCancel) {
    QtMainExecutor main(SystemClock::shared());
    const auto start = main.clock().now();
    std::vector<std::pair<int, Instant>> fired;
    auto record = [&](int id) { return [&, id] { fired.emplace_back(id, main.clock().now()); }; };
    auto late = main.schedule(start + 40ms, record(2));
    auto early = main.schedule(start + 15ms, record(1));
    auto cancelled = main.schedule(start + 5ms, record(9));
    cancelled.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired.size() == 2; }, 5000));
    EXPECT_EQ(fired[0].first, 1);
    EXPECT_EQ(fired[1].first, 2);
    EXPECT_GE(fired[0].second, start + 15ms);
    EXPECT_GE(fired[1].second, start + 40ms);
}

TEST(QtMainExecutor, MakesEveryEventLoopSlotCurrentInsideExec) {
    QtMainExecutor main(SystemClock::shared());
    bool currentInSlot = false;
    QTimer::singleShot(0, [&] {
        currentInSlot = main.isCurrent();
        QCoreApplication::exit(7);
    });
    EXPECT_EQ(main.exec(), 7);
    EXPECT_TRUE(currentInSlot);
}

TEST(QtMainExecutor, DropsWhatIsPendingWhenDestroyed) {
    bool ran = false;
    {
        QtMainExecutor main(SystemClock::shared());
        main.post([&] { ran = true; });
        auto timer = main.schedule(main.clock().now(), [&] { ran = true; });
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

// Ctrl-C (SIGINT) and a closed terminal (SIGHUP) take the same quit as SIGTERM.
TEST(TerminationSignal, DeliversEachQuittingSignalToTheEventLoopInsteadOfEndingTheProcess) {
    std::vector<int> received;
    {
        TerminationSignal signal([&](int number) { received.push_back(number); });
        ASSERT_TRUE(signal.isInstalled());
        for (int number : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) {
            const auto before = received.size();
            ::raise(number);
            ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == before + 1; }, 5000))
                << TerminationSignal::name(number);
        }
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP, SIGTERM}));
    EXPECT_EQ(TerminationSignal::name(SIGHUP), "SIGHUP");
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction restored {};
        ::sigaction(number, nullptr, &restored);
        EXPECT_EQ(restored.sa_handler, SIG_DFL) << TerminationSignal::name(number);
    }
}

}  // namespace
}  // namespace tindlewave
