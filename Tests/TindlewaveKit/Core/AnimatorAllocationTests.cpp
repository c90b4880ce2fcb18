// Counts heap allocations made while the animators run. The global operator new is replaced for
// the whole test executable, but it only counts between start and stop of a Counting scope, so
// the other tests are not affected.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "Core/Scrolling/HoldScroll.h"
#include "Core/Scrolling/ScrollAnimator.h"
#include "Core/Scrolling/WholePoints.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

struct Counting {
    Counting() {
        allocations = 0;
        counting = true;
    }
    ~Counting() { counting = false; }
};

}  // namespace

// The replacements below pair malloc with free by design; with inlining GCC pairs the outer new
// with the inner free and warns about a mismatch that is not there.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace tindlewave {
namespace {

TEST(AnimatorAllocation, TicksFramesAndEventsNeverAllocate) {
    const ScrollTick up{ScrollTick::Sign::positive, 1, SmoothScroll::defaults()};
    const ScrollTick down{ScrollTick::Sign::negative, 2, SmoothScroll::defaults()};
    const HoldScrollEvent began = HoldScrollEvent::began(
        HoldScrollPlan(HoldToScroll::defaults(), SmoothScroll::defaults(), 1.0));
    auto scroll = std::make_unique<ScrollAnimator>();
    HoldScrollAnimator hold;
    WholePoints whole;

    long made = 0;
    {
        Counting scope;
        double t = 0;
        for (int i = 0; i < 700; ++i) {
            scroll->tick(i % 300 == 299 ? down : up, t += 0.001);
            if (i % 8 == 0) {
                if (auto frame = scroll->frame(t)) whole.take(frame->points, false);
            }
        }
        while (scroll->needsFrames()) scroll->frame(t += 0.008);
        scroll->tick(up, t);
        scroll->stop();

        hold.receive(began, t);
        for (int i = 0; i < 100; ++i) {
            hold.receive(HoldScrollEvent::moved(0, 12), t += 0.001);
            if (i % 8 == 0) hold.frame(t);
        }
        hold.receive(HoldScrollEvent::ended(), t);
        while (hold.needsFrames()) hold.frame(t += 0.008);
        hold.receive(began, t);
        hold.stop();
        made = allocations.load();
    }
    EXPECT_EQ(made, 0);

    // The counter works: an allocation in a scope is seen.
    {
        Counting scope;
        auto probe = std::make_unique<int>(1);
        made = allocations.load();
    }
    EXPECT_EQ(made, 1);
}

}  // namespace
}  // namespace tindlewave
