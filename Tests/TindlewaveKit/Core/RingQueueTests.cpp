#include "Core/RingQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tindlewave {
namespace {

TEST(RingQueue, KeepsOrderAcrossGrowthAndWrapAroundAndKeepsItsStorage) {
    RingQueue<std::unique_ptr<int>> queue;
    std::vector<int> out;
    int next = 0;
    // Pushes run ahead of pops, so the oldest value sits mid-buffer whenever it grows.
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 3; ++i) queue.push_back(std::make_unique<int>(next++));
        for (int i = 0; i < 2; ++i) out.push_back(*queue.take());
    }
    while (!queue.empty()) out.push_back(*queue.take());
    ASSERT_EQ(out.size(), 150u);
    for (int i = 0; i < 150; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], i);

    // Passing values through at a steady depth needs no more room.
    const std::size_t capacity = queue.capacity();
    for (int i = 0; i < 1000; ++i) {
        queue.push_back(std::make_unique<int>(i));
        EXPECT_EQ(*queue.take(), i);
    }
    EXPECT_EQ(queue.capacity(), capacity);

    queue.push_back(std::make_unique<int>(7));
    queue.clear();
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.capacity(), capacity);
    RingQueue<std::unique_ptr<int>> other;
    queue.push_back(std::make_unique<int>(8));
    other.swap(queue);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(*other.front(), 8);
}

}  // namespace
}  // namespace tindlewave
