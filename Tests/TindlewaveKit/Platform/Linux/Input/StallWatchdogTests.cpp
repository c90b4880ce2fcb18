// The stall watchdog on its own thread, with pipes for grabbed nodes (a byte written is input
// waiting), a clock the test moves, and its grabs, ungrabs and destroys recorded in one list.

#include "Platform/Linux/Input/StallWatchdog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using testkit::Waiter;

constexpr std::int64_t second = 1'000'000'000;

// A grabbed node's stand-in: the watchdog polls the read end.
struct Node {
    std::array<int, 2> ends{-1, -1};
    Node() { EXPECT_EQ(::pipe(ends.data()), 0); }
    ~Node() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    int fd() const { return ends[0]; }
    void input() { EXPECT_EQ(::write(ends[1], "x", 1), 1); }
    void take() {
        char byte;
        EXPECT_EQ(::read(ends[0], &byte, 1), 1);
    }
};

struct Watched {
    std::atomic<std::int64_t> now{0};
    std::atomic<int> looks{0};  // the watchdog reads the clock at each look while input waits
    Waiter waiter;
    std::vector<std::string> calls;  // "grab 5", "ungrab 5", "destroy 20", in order
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
                                    else calls.push_back((grab ? "grab " : "ungrab ") + std::to_string(fd));
                                });
                                return error;
                            },
                            [this](int fd) { waiter.update([&] { calls.push_back("destroy " + std::to_string(fd)); }); }}};

    // Waits until the watchdog has looked `more` times again, or has let go meanwhile (what the
    // test checks next tells which: a release stops its looks).
    bool lookedAgain(int more) {
        const int from = looks.load();
        const int stalled = stallCount();
        return waiter.waitFor([&] { return looks.load() >= from + more || stalls != stalled; });
    }
    int stallCount() {
        return waiter.read([&] { return stalls; });
    }
    std::vector<std::string> made() {
        return waiter.read([&] { return calls; });
    }
};

std::string call(const char* what, int fd) { return std::string(what) + " " + std::to_string(fd); }

TEST(StallWatchdog, InputTakenInTimeKeepsTheGrabsAndInputLeftWaitingLosesThemAllOnce) {
    Node a, b, c, d;
    Watched w;
    EXPECT_EQ(w.watchdog.grab(a.fd()), 0);
    EXPECT_EQ(w.watchdog.grab(b.fd()), 0);
    w.watchdog.watch(c.fd());  // grabbed already
    w.waiter.update([&] { w.refusing = EBUSY; });
    EXPECT_EQ(w.watchdog.grab(d.fd()), EBUSY);  // refused: not held
    w.waiter.update([&] { w.refusing = 0; });
    w.watchdog.ungrab(b.fd());
    EXPECT_EQ(w.made(), (std::vector<std::string>{call("grab", a.fd()), call("grab", b.fd()), call("ungrab", b.fd())}));

    // Input waits: it is looked at until the reading thread takes it (no input waited before:
    // the time idle is no stall). A look still under way when it beats sees the clock unmoved.
    w.now = 10 * second;
    a.input();
    ASSERT_TRUE(w.lookedAgain(3));
    w.now = 10 * second + second / 2;
    ASSERT_TRUE(w.lookedAgain(2));
    a.take();
    w.watchdog.beat();
    c.input();
    ASSERT_TRUE(w.lookedAgain(3));  // c's wait began at 10.5 s
    w.now = 11 * second + second / 4;
    ASSERT_TRUE(w.lookedAgain(2));
    c.take();
    w.watchdog.beat();
    EXPECT_EQ(w.stallCount(), 0);
    EXPECT_FALSE(w.watchdog.released());

    // Input left waiting for over a second: every grab still held goes, once.
    c.input();
    ASSERT_TRUE(w.lookedAgain(3));
    w.now = 13 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    EXPECT_EQ(w.made(), (std::vector<std::string>{call("grab", a.fd()), call("grab", b.fd()), call("ungrab", b.fd()),
                                                  call("ungrab", a.fd()), call("ungrab", c.fd())}));
    EXPECT_TRUE(w.watchdog.released());
    // What the watchdog let go of is not ungrabbed again (its number may be another
    // descriptor's by then).
    w.watchdog.ungrab(a.fd());
    EXPECT_EQ(w.made().size(), 5u);
    // Until the release is taken in, no grab is taken: the watchdog would know nothing of it.
    EXPECT_EQ(w.watchdog.grab(d.fd()), std::nullopt);
    EXPECT_EQ(w.made().size(), 5u);
    EXPECT_TRUE(w.watchdog.takeRelease());
    EXPECT_FALSE(w.watchdog.takeRelease());

    // The next grab is watched as the first were.
    c.take();
    EXPECT_EQ(w.watchdog.grab(d.fd()), 0);
    d.input();
    ASSERT_TRUE(w.lookedAgain(2));
    EXPECT_EQ(w.stallCount(), 1);
    w.now = 20 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.made().back(), call("ungrab", d.fd()));
}

TEST(StallWatchdog, AStallThatBeginsWhileInputIsTakenIsLetGoOfOnceWhatCameAfterTheLastReadHasWaitedTheLimit) {
    Node a;
    Watched w;
    w.watchdog.watch(a.fd());
    // The user types on, the reading thread taking input as it comes (the watchdog sees some
    // waiting at 10 s)...
    w.now = 10 * second;
    a.input();
    ASSERT_TRUE(w.lookedAgain(2));
    // ...until it stops right after a read: what came since waits from then on.
    a.input();
    a.take();
    w.watchdog.beat();
    w.now = 10 * second + 8 * second / 10;
    ASSERT_TRUE(w.lookedAgain(2));
    EXPECT_EQ(w.stallCount(), 0);
    // Waited past the limit since the watchdog last saw the thread read: let go of now, not a
    // whole limit after the watchdog first finds it waiting again.
    w.now = 11 * second + second / 10;
    EXPECT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
}

TEST(StallWatchdog, ANodeLetGoOfWhileInputWaitsOnAnotherIsWatchedNoMore) {
    Node a, late;
    auto b = std::make_unique<Node>();
    const int bFd = b->fd();
    Watched w;
    std::atomic<std::uint64_t> writes{0};
    w.watchdog.watchWrites(late.fd(), 0.25, [&] { return writes.load(); });
    w.watchdog.watch(a.fd());
    w.watchdog.watch(bFd);
    // The mouse's input waits, and the writer is at codes, when the keyboard is let go of and
    // its node closed (unplugged).
    w.now = 10 * second;
    a.input();
    late.input();
    ASSERT_TRUE(w.lookedAgain(2));
    w.watchdog.ungrab(bFd);
    b.reset();
    ASSERT_TRUE(w.lookedAgain(2));
    // The reading thread takes what waited; the writer goes on writing for longer than the
    // limit (the watchdog keeps looking at it). Nothing waits for the reading thread meanwhile:
    // the closed node is none of the watchdog's any more.
    a.take();
    w.watchdog.beat();
    for (int step = 1; step <= 6; ++step) {
        ++writes;
        w.now = 10 * second + step * 3 * second / 10;
        ASSERT_TRUE(w.lookedAgain(2));
    }
    ASSERT_EQ(w.stallCount(), 0);
    // Still watched as before: the node it holds, and only that one, is let go of at a stall.
    late.take();
    a.input();
    ASSERT_TRUE(w.lookedAgain(2));
    w.now = 22 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    EXPECT_EQ(w.made(), (std::vector<std::string>{call("ungrab", bFd), call("ungrab", a.fd())}));
}

TEST(StallWatchdog, AStallDestroysEveryDeviceThatMayHoldKeysBeforeItUngrabsAnything) {
    Node a, b;
    Watched w;
    w.watchdog.keep(20);  // a mirror
    w.watchdog.keep(21);  // the program's keyboard
    w.watchdog.keep(22);
    w.watchdog.forget(22);  // closed by the program: never touched again
    w.watchdog.watch(a.fd());
    a.input();
    ASSERT_TRUE(w.lookedAgain(2));
    w.now = 3 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    // The devices first: a key they hold is let go of while the desktop does not yet read the
    // real device, whose later release of it would be dropped.
    EXPECT_EQ(w.made(), (std::vector<std::string>{"destroy 20", "destroy 21", call("ungrab", a.fd())}));
    ASSERT_TRUE(w.watchdog.takeRelease());
    // Forgotten once destroyed: the next stall destroys only what was made since.
    w.watchdog.keep(23);
    w.watchdog.watch(b.fd());
    b.input();
    ASSERT_TRUE(w.lookedAgain(2));
    w.now = 5 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.made(), (std::vector<std::string>{"destroy 20", "destroy 21", call("ungrab", a.fd()), "destroy 23",
                                                  call("ungrab", b.fd())}));
}

TEST(StallWatchdog, CodesLeftUnwrittenPastTheLimitLetGoOfEverythingWithNothingGrabbed) {
    Node late;  // the writer's timer: readable once it has been at codes a quarter second
    Watched w;
    std::atomic<std::uint64_t> writes{0};
    w.watchdog.watchWrites(late.fd(), 0.25, [&] { return writes.load(); });
    w.watchdog.keep(20);  // the program's keyboard, a key down written to it, its up not yet
    // Written within the limit: nothing goes.
    w.now = 10 * second;
    late.input();
    ASSERT_TRUE(w.lookedAgain(3));
    w.now = 10 * second + second / 2;
    ASSERT_TRUE(w.lookedAgain(2));
    ++writes;
    late.take();
    EXPECT_EQ(w.stallCount(), 0);
    // Left unwritten past it (counted from its taking them, a quarter second before the timer):
    // the devices go (the key with them), as at a stalled reader.
    late.input();
    ASSERT_TRUE(w.lookedAgain(3));
    w.now = 11 * second + second / 5;
    ASSERT_TRUE(w.lookedAgain(2));
    EXPECT_EQ(w.stallCount(), 0);
    w.now = 11 * second + second / 3;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 1; }));
    EXPECT_EQ(w.made(), std::vector<std::string>{"destroy 20"});
}

TEST(StallWatchdog, ASuspensionLetsGoAtOnceAndWhatComesMeanwhileHoldsNothingUntilTheResume) {
    Node a, b, c;
    Watched w;
    w.watchdog.keep(20);
    w.watchdog.watch(a.fd());
    // From any thread, with no stall: everything goes now, on the caller's thread.
    w.watchdog.suspend();
    EXPECT_TRUE(w.watchdog.isSuspended());
    EXPECT_EQ(w.made(), (std::vector<std::string>{"destroy 20", call("ungrab", a.fd())}));
    EXPECT_EQ(w.stallCount(), 1);
    EXPECT_TRUE(w.watchdog.takeRelease());
    // A grab under way as it came is refused, a device made meanwhile destroyed as it is told.
    EXPECT_EQ(w.watchdog.grab(b.fd()), std::nullopt);
    w.watchdog.keep(21);
    EXPECT_EQ(w.made(), (std::vector<std::string>{"destroy 20", call("ungrab", a.fd()), "destroy 21"}));
    // Resumed long after (the process was stopped): grabs are held and watched as before.
    w.now = 100 * second;
    w.watchdog.resume();
    EXPECT_FALSE(w.watchdog.isSuspended());
    EXPECT_EQ(w.watchdog.grab(c.fd()), 0);
    c.input();
    ASSERT_TRUE(w.lookedAgain(2));
    EXPECT_EQ(w.stallCount(), 1);
    w.now = 102 * second;
    ASSERT_TRUE(w.waiter.waitFor([&] { return w.stalls == 2; }));
    EXPECT_EQ(w.made().back(), call("ungrab", c.fd()));
}

}  // namespace
}  // namespace tindlewave
