// The stall watchdog on its own thread, with a clock the test moves and grabs it records.

#include "Platform/Linux/Input/StallWatchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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
    std::vector<int> grabbed;
    std::vector<int> ungrabbed;
    std::vector<int> destroyed;
    int refusing = 0;  // the errno of the next grabs
    int stalls = 0;
    StallWatchdog watchdog{1.0, [this] { waiter.update([&] { ++stalls; }); },
                           {[this] {
                                waiter.update([&] { ++looks; });
                                return now.load();
                            },
                            [this](int fd, bool grab) {
                                int error = 0;
                                waiter.update([&] {
                                    if (grab && refusing != 0) error = refusing;
                                    else (grab ? grabbed : ungrabbed).push_back(fd);
                                });
                                return error;
                            },
                            [this](int fd) { waiter.update([&] { destroyed.push_back(fd); }); }}};

    // Waits until the watchdog has looked `more` times again.
    bool lookedAgain(int more) {
        const int from = looks.load();
        return waiter.waitFor([&] { return looks.load() >= from + more; });
    }
    int stallCount() {
        return waiter.read([&] { return stalls; });
    }
    std::vector<int> ungrabs() {
        return waiter.read([&] { return ungrabbed; });
    }
};

TEST(StallWatchdog, ABeatingThreadKeepsItsGrabsAndOneThatStopsLosesThemAllOnce) {
    Watched w;
    EXPECT_EQ(w.watchdog.grab(5), 0);
    EXPECT_EQ(w.watchdog.grab(6), 0);
    w.watchdog.watch(7);  // grabbed already
    w.waiter.update([&] { w.refusing = EBUSY; });
    EXPECT_EQ(w.watchdog.grab(9), EBUSY);  // refused: not held
    w.waiter.update([&] { w.refusing = 0; });
    w.watchdog.ungrab(6);
    EXPECT_EQ(w.ungrabs(), (std::vector<int>{6}));
    // Within the second, and beaten on past it: nothing happens.
    w.now = second / 2;
    ASSERT_TRUE(w.lookedAgain(3));
    w.watchdog.beat();
    w.now = second + second / 2;
    ASSERT_TRUE(w.lookedAgain(3));
    EXPECT_EQ(w.stallCount(), 0);
    EXPECT_FALSE(w.watchdog.released());

    // No beat for over a second: every grab still held goes, once.
    w.now = 3 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    EXPECT_EQ(w.ungrabs(), (std::vector<int>{6, 5, 7}));
    EXPECT_TRUE(w.watchdog.released());
    // What the watchdog let go of is not ungrabbed again (its number may be another
    // descriptor's by then).
    w.watchdog.ungrab(5);
    EXPECT_EQ(w.ungrabs(), (std::vector<int>{6, 5, 7}));
    // Until the release is taken in, no grab is taken: the watchdog would know nothing of it.
    EXPECT_EQ(w.watchdog.grab(8), std::nullopt);
    EXPECT_EQ(w.waiter.read([&] { return w.grabbed; }), (std::vector<int>{5, 6}));
    EXPECT_TRUE(w.watchdog.takeRelease());
    EXPECT_FALSE(w.watchdog.takeRelease());

    // Nothing is left to let go of: it sleeps until the next grab, which counts as a beat.
    w.now = 10 * second;
    EXPECT_EQ(w.watchdog.grab(8), 0);
    ASSERT_TRUE(w.lookedAgain(3));
    EXPECT_EQ(w.stallCount(), 1);
    w.now = 12 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.ungrabs(), (std::vector<int>{6, 5, 7, 8}));
}

TEST(StallWatchdog, AStallDestroysEveryDeviceThatMayHoldKeysBeforeTheProgramComesRound) {
    Watched w;
    w.watchdog.keep(20);  // a mirror
    w.watchdog.keep(21);  // the program's keyboard
    w.watchdog.keep(22);
    w.watchdog.forget(22);  // closed by the program: never touched again
    w.watchdog.watch(5);
    w.now = 3 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    EXPECT_EQ(w.waiter.read([&] { return w.ungrabbed; }), (std::vector<int>{5}));
    EXPECT_EQ(w.waiter.read([&] { return w.destroyed; }), (std::vector<int>{20, 21}));
    ASSERT_TRUE(w.watchdog.takeRelease());
    // Forgotten once destroyed: the next stall destroys only what was made since.
    w.watchdog.keep(23);
    w.watchdog.watch(6);
    w.now = 5 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.waiter.read([&] { return w.destroyed; }), (std::vector<int>{20, 21, 23}));
}

TEST(StallWatchdog, ASuspensionLetsGoAtOnceAndWhatComesMeanwhileHoldsNothingUntilTheResume) {
    Watched w;
    w.watchdog.keep(20);
    w.watchdog.watch(5);
    // From any thread, with no stall: everything goes now, on the caller's thread.
    w.watchdog.suspend();
    EXPECT_TRUE(w.watchdog.isSuspended());
    EXPECT_EQ(w.waiter.read([&] { return w.ungrabbed; }), (std::vector<int>{5}));
    EXPECT_EQ(w.waiter.read([&] { return w.destroyed; }), (std::vector<int>{20}));
    EXPECT_EQ(w.waiter.read([&] { return w.stalls; }), 1);
    EXPECT_TRUE(w.watchdog.takeRelease());
    // A grab under way as it came is refused, a device made meanwhile destroyed as it is told.
    EXPECT_EQ(w.watchdog.grab(6), std::nullopt);
    w.watchdog.keep(21);
    EXPECT_EQ(w.waiter.read([&] { return w.grabbed; }), std::vector<int>{});
    EXPECT_EQ(w.waiter.read([&] { return w.destroyed; }), (std::vector<int>{20, 21}));
    // Resumed long after (the process was stopped): grabs are held and watched as before, with
    // no stall for the time it was away.
    w.now = 100 * second;
    w.watchdog.resume();
    EXPECT_FALSE(w.watchdog.isSuspended());
    EXPECT_EQ(w.watchdog.grab(7), 0);
    ASSERT_TRUE(w.lookedAgain(3));
    EXPECT_EQ(w.ungrabs(), (std::vector<int>{5}));
    EXPECT_EQ(w.stallCount(), 1);
    w.now = 102 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.ungrabs(), (std::vector<int>{5, 7}));
}

}  // namespace
}  // namespace tindlewave
