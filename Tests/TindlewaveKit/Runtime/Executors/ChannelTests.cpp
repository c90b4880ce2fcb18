#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Runtime/Executors/Channel.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/Waiter.h"

using namespace tindlewave;
using namespace tindlewave::testkit;
using namespace std::chrono_literals;

TEST(Channel, NewestOnlyReplacesAnUntakenElementAndDeliversOnePerJob) {
    ManualScheduler scheduler;
    ManualExecutor executor(scheduler, "consumer");
    Channel<int> newest(Buffering::newest);
    Channel<int> all(Buffering::unbounded);
    std::vector<std::string> got;
    auto a = newest.subscribe(executor, [&](int v) {
        EXPECT_TRUE(executor.isCurrent());
        got.push_back("newest " + std::to_string(v));
    });
    auto b = all.subscribe(executor, [&](int v) { got.push_back("all " + std::to_string(v)); });

    for (int v : {1, 2, 3}) {
        EXPECT_TRUE(newest.send(v));
        EXPECT_TRUE(all.send(v));
    }
    EXPECT_TRUE(scheduler.runOne());  // one element per job
    EXPECT_EQ(got, (std::vector<std::string>{"newest 3"}));
    scheduler.runReady();
    EXPECT_EQ(got, (std::vector<std::string>{"newest 3", "all 1", "all 2", "all 3"}));

    newest.send(4);
    scheduler.runReady();
    EXPECT_EQ(got.back(), "newest 4");  // taken elements are not replayed
    EXPECT_EQ(got.size(), 5u);
}

TEST(Channel, UnboundedKeepsEveryElementInOrderFromTwoProducers) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.channel");
    Channel<std::pair<int, int>> channel(Buffering::unbounded);
    std::vector<std::pair<int, int>> got;
    bool ended = false;
    auto subscription = channel.subscribe(
        executor, [&](std::pair<int, int> v) { waiter.update([&] { got.push_back(v); }); },
        [&] { waiter.update([&] { ended = true; }); });

    constexpr int kEach = 2000;
    auto produce = [&](int producer) {
        for (int i = 0; i < kEach; ++i) ASSERT_TRUE(channel.send({producer, i}));
    };
    std::thread one(produce, 1), two(produce, 2);
    one.join();
    two.join();
    channel.finish();
    ASSERT_TRUE(waiter.waitFor([&] { return ended; }));

    waiter.read([&] {
        EXPECT_EQ(got.size(), 2u * kEach);
        int next[3] = {0, 0, 0};
        for (auto [producer, i] : got) EXPECT_EQ(i, next[producer]++);
        return 0;
    });
}

TEST(Channel, FinishingDeliversWhatIsBufferedThenEndsAndTerminatesOnce) {
    ManualScheduler scheduler;
    ManualExecutor executor(scheduler, "consumer");
    Channel<int> channel(Buffering::unbounded);
    int terminations = 0, ends = 0;
    std::vector<int> got;
    channel.onTermination([&] { ++terminations; });
    channel.send(1);
    channel.send(2);
    channel.finish();
    channel.finish();
    EXPECT_FALSE(channel.send(3));
    EXPECT_EQ(terminations, 1);

    // Subscribing late still receives what was sent before the end.
    auto subscription = channel.subscribe(
        executor, [&](int v) { got.push_back(v); }, [&] { ++ends; });
    scheduler.runReady();
    EXPECT_EQ(got, (std::vector<int>{1, 2}));
    EXPECT_EQ(ends, 1);
    subscription.cancel();
    EXPECT_EQ(terminations, 1);
    EXPECT_THROW((void)channel.subscribe(executor, [](int) {}), std::logic_error);
}

TEST(Channel, CancellingTheSubscriptionTerminatesOnceAndStopsDelivery) {
    ManualScheduler scheduler;
    ManualExecutor executor(scheduler, "consumer");
    Channel<int> channel(Buffering::unbounded);
    int terminations = 0, ends = 0;
    std::vector<int> got;
    channel.onTermination([&] { ++terminations; });
    {
        Subscription subscription = channel.subscribe(
            executor,
            [&](int v) {
                got.push_back(v);
                if (v == 2) subscription.cancel();  // from inside its own delivery
            },
            [&] { ++ends; });
        for (int v : {1, 2, 3}) channel.send(v);
        scheduler.runReady();
        EXPECT_EQ(got, (std::vector<int>{1, 2}));
        EXPECT_EQ(terminations, 1);
        subscription.cancel();
    }  // and destroyed: still once
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(ends, 0);
    EXPECT_FALSE(channel.send(4));
    EXPECT_TRUE(channel.isTerminated());

    // Dropping the subscription before its queued delivery runs delivers nothing.
    Channel<int> other(Buffering::newest);
    int late = 0;
    auto dropped = other.subscribe(executor, [&](int) { ++late; });
    other.send(1);
    dropped = Subscription();
    scheduler.runReady();
    EXPECT_EQ(late, 0);
}

TEST(Channel, NothingIsDeliveredAfterTheConsumerCancelsWhileProducersKeepSending) {
    Waiter waiter;  // declared first: outlives the threads that notify it
    RunLoopExecutor executor("test.channel");
    Channel<std::pair<int, int>> channel(Buffering::unbounded);
    constexpr int kBeforeCancel = 500;
    std::vector<std::pair<int, int>> got;
    bool ended = false;
    Subscription subscription;
    bool subscribed = false;
    executor.post([&] {
        subscription = channel.subscribe(
            executor,
            [&](std::pair<int, int> v) {
                waiter.update([&] { got.push_back(v); });
                if (got.size() == kBeforeCancel) subscription.cancel();
            },
            [&] { ended = true; });
        waiter.update([&] { subscribed = true; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return subscribed; }));

    // Each producer sends until the channel refuses (the cancel ended it for them too), giving
    // the consumer its turn once there is enough for the cancel.
    std::atomic<int> refused{0};
    auto produce = [&](int producer) {
        for (int i = 0;; ++i) {
            if (!channel.send({producer, i})) break;
            if (i >= kBeforeCancel) std::this_thread::yield();
        }
        refused.fetch_add(1);
    };
    std::thread one(produce, 1), two(produce, 2);
    one.join();
    two.join();
    EXPECT_EQ(refused.load(), 2);
    // A job posted now runs after any delivery that could still have been queued.
    bool drained = false;
    executor.post([&] { waiter.update([&] { drained = true; }); });
    ASSERT_TRUE(waiter.waitFor([&] { return drained; }));
    waiter.read([&] {
        EXPECT_EQ(got.size(), std::size_t(kBeforeCancel));
        int next[3] = {0, 0, 0};
        for (auto [producer, i] : got) EXPECT_EQ(i, next[producer]++);  // each in its order
        EXPECT_FALSE(ended);
        return 0;
    });
}

TEST(Channel, ADeliveryAnExecutorDropsUnrunFreesTheChannelAndWhatItHeld) {
    auto token = std::make_shared<int>(0);
    RunLoopExecutor executor("test.channel");
    int delivered = 0;
    auto channel = std::make_unique<Channel<std::shared_ptr<int>>>(Buffering::unbounded);
    Subscription subscription = channel->subscribe(executor, [&](std::shared_ptr<int>) { ++delivered; });
    executor.stop();
    executor.join();
    EXPECT_TRUE(channel->send(token));  // its delivery job is dropped: the executor has stopped
    EXPECT_EQ(token.use_count(), 2);
    channel.reset();
    // The subscription outlives the channel, but nothing holds its state any more.
    EXPECT_EQ(token.use_count(), 1);
    subscription.cancel();
    EXPECT_EQ(delivered, 0);

    // Likewise a manual executor that goes away with the delivery still queued.
    auto scheduler = std::make_unique<ManualScheduler>();
    auto manual = std::make_unique<ManualExecutor>(*scheduler, "consumer");
    channel = std::make_unique<Channel<std::shared_ptr<int>>>(Buffering::newest);
    Subscription kept = channel->subscribe(*manual, [&](std::shared_ptr<int>) { ++delivered; });
    channel->send(token);
    EXPECT_EQ(token.use_count(), 2);
    manual.reset();
    scheduler.reset();
    channel.reset();
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(delivered, 0);
}

TEST(ManualScheduler, RunsJobsInPostOrderAndTimersInDeadlineOrder) {
    ManualScheduler scheduler;
    ManualExecutor a(scheduler, "a"), b(scheduler, "b");
    std::vector<std::string> log;
    const Instant start = scheduler.now();
    b.post([&] { log.push_back("b1"); });
    a.post([&] {
        log.push_back("a1");
        b.post([&] { log.push_back("b3"); });
    });
    b.post([&] { log.push_back("b2"); });
    scheduler.runReady();
    EXPECT_EQ(log, (std::vector<std::string>{"b1", "a1", "b2", "b3"}));

    log.clear();
    auto late = a.schedule(start + 2s, [&] {
        EXPECT_EQ(scheduler.now(), start + 2s);  // fired at its own instant
        log.push_back("a@2");
    });
    auto early = b.schedule(start + 1s, [&] {
        EXPECT_TRUE(b.isCurrent());
        log.push_back("b@1");
        a.post([&] { log.push_back("a after b@1"); });
    });
    auto cancelled = a.schedule(start + 1500ms, [&] { log.push_back("never"); });
    cancelled.cancel();
    scheduler.advance(999ms);
    EXPECT_TRUE(log.empty());
    scheduler.advance(2s);
    EXPECT_EQ(log, (std::vector<std::string>{"b@1", "a after b@1", "a@2"}));
    EXPECT_EQ(scheduler.now(), start + 2999ms);
    EXPECT_EQ(scheduler.timerCount(), 0u);
}

TEST(ManualScheduler, ASeedChoosesTheOrderRepeatably) {
    auto orderFor = [](std::optional<std::uint64_t> seed) {
        ManualScheduler scheduler(seed);
        ManualExecutor a(scheduler, "a"), b(scheduler, "b"), c(scheduler, "c");
        std::string order;
        for (int i = 0; i < 6; ++i)
            for (auto* e : {&a, &b, &c}) e->post([&order, e] { order += e->name(); });
        scheduler.runReady();
        return order;
    };
    EXPECT_EQ(orderFor(std::nullopt), "abcabcabcabcabcabc");
    EXPECT_EQ(orderFor(7), orderFor(7));
    std::set<std::string> orders;
    for (std::uint64_t seed = 0; seed < 8; ++seed) {
        auto order = orderFor(seed);
        // Each executor still runs its own jobs in order; only the interleaving changes.
        EXPECT_EQ(std::count(order.begin(), order.end(), 'a'), 6);
        orders.insert(order);
    }
    EXPECT_GT(orders.size(), 1u);
}
