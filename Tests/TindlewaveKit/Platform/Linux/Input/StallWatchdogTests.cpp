// The stall watchdog on its own thread, with a clock the test moves and ungrabs it records.

#include "Platform/Linux/Input/StallWatchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::Waiter;

constexpr std::int64_t second = 1'000'000'000;

struct Watched {
    std::atomic<std::int64_t> now{0};
    std::atomic<int> looks{0};  // the watchdog reads the clock once per look
    Waiter waiter;
    std::vector<int> ungrabbed;
    int stalls = 0;
    StallWatchdog watchdog{1.0, [this] { waiter.update([&] { ++stalls; }); },
                           {[this] {
                                waiter.update([&] { ++looks; });
                                return now.load();
                            },
                            [this](int fd) { waiter.update([&] { ungrabbed.push_back(fd); }); }}};

    // Waits until the watchdog has looked `more` times again.
    bool lookedAgain(int more) {
        const int from = looks.load();
        return waiter.waitFor([&] { return looks.load() >= from + more; });
    }
};

TEST(StallWatchdog, ABeatingThreadKeepsItsGrabsAndOneThatStopsLosesThemAllOnce) {
    Watched w;
    w.watchdog.watch(5);
    w.watchdog.watch(6);
    w.watchdog.watch(7);
    w.watchdog.unwatch(6);
    // Within the second, and beaten on past it: nothing happens.
    w.now = second / 2;
    ASSERT_TRUE(w.lookedAgain(3));
    w.watchdog.beat();
    w.now = second + second / 2;
    ASSERT_TRUE(w.lookedAgain(3));
    EXPECT_EQ(w.waiter.read([&] { return w.stalls; }), 0);
    EXPECT_FALSE(w.watchdog.released());

    // No beat for over a second: every grab still held goes, once.
    w.now = 3 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    EXPECT_EQ(w.waiter.read([&] { return w.ungrabbed; }), (std::vector<int>{5, 7}));
    EXPECT_TRUE(w.watchdog.released());
    EXPECT_TRUE(w.watchdog.takeRelease());
    EXPECT_FALSE(w.watchdog.takeRelease());
    // Nothing is left to let go of: it sleeps until the next grab, which counts as a beat.
    w.now = 10 * second;
    w.watchdog.watch(8);
    ASSERT_TRUE(w.lookedAgain(3));
    EXPECT_EQ(w.waiter.read([&] { return w.stalls; }), 1);
    w.now = 12 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.waiter.read([&] { return w.ungrabbed; }), (std::vector<int>{5, 7, 8}));
}

}  // namespace
}  // namespace tindlewave
