#include "Runtime/Executors/KeyedSerialQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestKit/ManualExecutor.h"

namespace tindlewave {
namespace {

using testkit::ManualWorkPool;

// Work of one key reaches the pool only when the work before it has run; other keys go at once.
TEST(KeyedSerialQueue, WaitingWorkHoldsNoPoolPlaceAndRunsInOrder) {
    KeyedSerialQueue queue;
    ManualWorkPool pool;
    std::vector<std::string> ran;
    auto note = [&](std::string what) { return [&ran, what] { ran.push_back(what); }; };
    queue.submit(pool, "a", note("a1"));
    queue.submit(pool, "a", note("a2"));
    queue.submit(pool, "a", note("a3"));
    queue.submit(pool, "b", note("b1"));
    EXPECT_EQ(pool.pending(), 2u);  // a1 and b1; a2 and a3 wait outside the pool
    EXPECT_EQ(queue.pending("a"), 3u);

    ASSERT_TRUE(pool.runNext());  // a1: hands a2 to the pool, behind b1
    EXPECT_EQ(pool.pending(), 2u);
    while (pool.runNext()) {
    }
    EXPECT_EQ(ran, (std::vector<std::string>{"a1", "b1", "a2", "a3"}));
    EXPECT_EQ(queue.pending("a"), 0u);

    queue.submit(pool, "a", note("a4"));  // the key is free again: straight to the pool
    EXPECT_EQ(pool.pending(), 1u);
    pool.runNext();
    EXPECT_EQ(ran.back(), "a4");
}

// A pool that goes away with work unrun frees the key and drops what waited behind that work,
// without handing anything to the pool being destroyed.
TEST(KeyedSerialQueue, WorkDroppedByItsPoolFreesTheKey) {
    KeyedSerialQueue queue;
    auto waitingWork = std::make_shared<int>(0);
    {
        ManualWorkPool pool;
        queue.submit(pool, "a", [] {});
        queue.submit(pool, "a", [waitingWork] {});
        EXPECT_EQ(waitingWork.use_count(), 2);
    }
    EXPECT_EQ(queue.pending("a"), 0u);
    EXPECT_EQ(waitingWork.use_count(), 1);

    ManualWorkPool next;
    bool ran = false;
    queue.submit(next, "a", [&] { ran = true; });
    EXPECT_TRUE(next.runNext());
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tindlewave
