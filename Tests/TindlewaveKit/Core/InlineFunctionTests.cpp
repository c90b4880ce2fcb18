#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <utility>

#include "Core/InlineFunction.h"

using namespace tindlewave;

namespace {

// Counts the live copies of what a callable captured, and its calls.
struct CaptureTally {
    int calls = 0;
};

struct CountedCallable {
    std::shared_ptr<CaptureTally> tally;
    void operator()() const { ++tally->calls; }
};

// Too large to be kept inline.
struct LargeCallable {
    std::shared_ptr<CaptureTally> tally;
    std::array<char, 64> padding{};
    void operator()() const { ++tally->calls; }
};

// Moves may throw, so it is kept on the heap although it is small.
struct ThrowingMoveCallable {
    std::shared_ptr<CaptureTally> tally;
    ThrowingMoveCallable(std::shared_ptr<CaptureTally> t) : tally(std::move(t)) {}
    ThrowingMoveCallable(const ThrowingMoveCallable&) = default;
    ThrowingMoveCallable(ThrowingMoveCallable&& other) noexcept(false) : tally(std::move(other.tally)) {}
    void operator()() const { ++tally->calls; }
};

TEST(InlineFunction, WhatJobsCaptureIsKeptInline) {
    int* self = nullptr;
    std::shared_ptr<int> shared;
    std::weak_ptr<int> weak;
    auto job = [shared, self] { (void)shared, (void)self; };
    auto handle = [weak, id = 1ull] { (void)weak, (void)id; };
    static_assert(InlineFunction::isInline<decltype(job)>);
    static_assert(InlineFunction::isInline<decltype(handle)>);
    static_assert(InlineFunction::isInline<std::function<void()>>);
    static_assert(!InlineFunction::isInline<LargeCallable>);
    static_assert(!InlineFunction::isInline<ThrowingMoveCallable>);
}

// Copies, moves, assignment and swaps keep each callable's captures alive exactly as long as some
// function holds them, inline or on the heap.
template <class Callable>
void holdsAndReleases() {
    auto tally = std::make_shared<CaptureTally>();
    {
        InlineFunction f = Callable{tally};
        EXPECT_EQ(tally.use_count(), 2);
        InlineFunction copy = f;
        EXPECT_EQ(tally.use_count(), 3);
        f();
        copy();
        EXPECT_EQ(tally->calls, 2);

        InlineFunction moved = std::move(f);
        EXPECT_FALSE(f);  // NOLINT(bugprone-use-after-move): a moved-from function is empty
        EXPECT_EQ(tally.use_count(), 3);
        moved();
        EXPECT_EQ(tally->calls, 3);

        InlineFunction other = [] {};
        other.swap(moved);
        EXPECT_TRUE(moved);
        other();
        EXPECT_EQ(tally->calls, 4);

        copy = other;  // assigning over a holder releases what it held
        EXPECT_EQ(tally.use_count(), 3);
        copy = nullptr;
        EXPECT_EQ(tally.use_count(), 2);
        copy = std::move(other);
        EXPECT_EQ(tally.use_count(), 2);
        InlineFunction& same = copy;  // assigning a function to itself keeps it
        copy = same;
        copy = std::move(same);
        EXPECT_EQ(tally.use_count(), 2);
        copy();
        EXPECT_EQ(tally->calls, 5);
    }
    EXPECT_EQ(tally.use_count(), 1);
}

}  // namespace

TEST(InlineFunction, CopiesMovesAndAssignmentsReleaseTheirCapturesOnceInlineOrOnTheHeap) {
    holdsAndReleases<CountedCallable>();
    holdsAndReleases<LargeCallable>();
    holdsAndReleases<ThrowingMoveCallable>();
}

TEST(InlineFunction, EmptyAsStdFunctionIs) {
    InlineFunction none;
    EXPECT_FALSE(none);
    EXPECT_TRUE(none == nullptr);
    EXPECT_THROW(none(), std::bad_function_call);

    void (*null)() = nullptr;
    EXPECT_FALSE(InlineFunction(null));
    EXPECT_FALSE(InlineFunction(std::function<void()>()));

    // A mutable callable keeps its state between calls, and a function converts back.
    int seen = 0;
    InlineFunction counter = [n = 0, &seen]() mutable { seen = ++n; };
    counter();
    counter();
    EXPECT_EQ(seen, 2);
    std::function<void()> back = counter;
    back();
    EXPECT_EQ(seen, 3);
}
