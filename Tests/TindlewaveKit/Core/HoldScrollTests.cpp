#include "Core/Scrolling/HoldScroll.h"

#include <gtest/gtest.h>

#include <vector>

#include "Model/Config.h"

namespace tindlewave {
namespace {

using Phase = HoldScrollFrame::Phase;
using Event = HoldScrollEvent;
constexpr double frameTime = 1.0 / 120;

HoldScrollPlan plan(bool momentum = true) {
    HoldToScroll settings = HoldToScroll::defaults();
    settings.momentum = momentum;
    return HoldScrollPlan(settings, SmoothScroll::defaults(), 1.0);
}

// Moves (0, 10) every 8 ms, `count` times from `start`: 1250 points per second.
double flick(HoldScrollAnimator& animator, double start, int count = 10) {
    double t = start;
    for (int i = 0; i < count; ++i) animator.receive(Event::moved(0, 10), t += 0.008);
    return t;
}

std::vector<HoldScrollFrame> runOut(HoldScrollAnimator& animator, double from) {
    std::vector<HoldScrollFrame> frames;
    for (double t = from; animator.needsFrames() && frames.size() < 10000; t += frameTime) {
        if (auto frame = animator.frame(t)) frames.push_back(*frame);
    }
    return frames;
}

TEST(HoldScrollPlan, GainAndCoastFromTheSettings) {
    SmoothScroll glide = SmoothScroll::defaults();
    glide.duration = 8;
    glide.brake = 3;
    const HoldScrollPlan grab({2, HoldScrollDirection::grab, true}, glide, 0.4);
    EXPECT_EQ(grab, HoldScrollPlan(0.8, Glide{0.8, 3}));
    // The wheel direction moves the page against the mouse.
    const HoldScrollPlan wheel({2, HoldScrollDirection::wheel, false}, glide, 1.0);
    EXPECT_EQ(wheel, HoldScrollPlan(-2.0, std::nullopt));
}

TEST(HoldScrollAnimator, MovementIsGatheredIntoOneFramePerDisplayFrame) {
    HoldScrollAnimator animator;
    animator.receive(Event::began(plan()), 0.0);
    EXPECT_FALSE(animator.needsFrames());
    EXPECT_FALSE(animator.frame(0.01));

    animator.receive(Event::moved(0, 10), 0.012);
    animator.receive(Event::moved(0, 5), 0.014);
    EXPECT_TRUE(animator.needsFrames());
    EXPECT_EQ(animator.frame(0.016), (HoldScrollFrame{0, 15, Phase::began}));
    EXPECT_FALSE(animator.frame(0.02));
    animator.receive(Event::moved(3, 0), 0.5);
    EXPECT_EQ(animator.frame(0.51), (HoldScrollFrame{3, 0, Phase::changed}));

    // Press and release without movement: nothing at all.
    HoldScrollAnimator still;
    still.receive(Event::began(plan()), 0.0);
    still.receive(Event::ended(), 0.3);
    EXPECT_FALSE(still.needsFrames());
    EXPECT_FALSE(still.frame(0.31));
}

TEST(HoldScrollAnimator, SlowReleaseOrNoMomentumPostsOnlyTheEnd) {
    for (const bool momentum : {true, false}) {
        HoldScrollAnimator animator;
        animator.receive(Event::began(plan(momentum)), 0.0);
        // Slow (100 points per second) with momentum; fast without.
        const double step = momentum ? 1.0 : 10.0;
        double t = 0;
        for (int i = 0; i < 10; ++i) animator.receive(Event::moved(0, step), t += 0.01);
        animator.receive(Event::ended(), t);
        // Still owed: the ended frame, after the pending movement.
        EXPECT_TRUE(animator.needsFrames());
        const auto frames = runOut(animator, t + frameTime);
        ASSERT_EQ(frames.size(), 2u) << momentum;
        EXPECT_EQ(frames[0], (HoldScrollFrame{0, 10 * step, Phase::began}));
        EXPECT_EQ(frames[1], (HoldScrollFrame{0, 0, Phase::ended}));
        EXPECT_FALSE(animator.frame(t + 1));
    }
}

TEST(HoldScrollAnimator, FastReleaseCoastsTheFlingDistance) {
    HoldScrollAnimator animator;
    animator.receive(Event::began(plan()), 0.0);
    const double t = flick(animator, 0.0);
    ASSERT_TRUE(animator.frame(t));
    animator.receive(Event::ended(), t);

    const auto frames = runOut(animator, t + frameTime);
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames.front(), (HoldScrollFrame{0, 0, Phase::ended}));
    EXPECT_EQ(frames[1].phase, Phase::momentumBegan);
    double coast = 0;
    for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
        if (i > 1) {
            EXPECT_EQ(frames[i].phase, Phase::momentumChanged);
        }
        EXPECT_EQ(frames[i].dx, 0);
        EXPECT_GE(frames[i].dy, 0);
        coast += frames[i].dy;
    }
    // 1250 points per second for 0.4 s braking at 2: 1250 × 0.4 / 3.
    EXPECT_NEAR(coast, 1250 * 0.4 / 3, 1e-6);
    EXPECT_EQ(frames.back(), (HoldScrollFrame{0, 0, Phase::momentumEnded}));
    EXPECT_FALSE(animator.frame(10));
}

TEST(HoldScrollAnimator, ANewGesturePostsTheOwedEndFirst) {
    // During a coast.
    HoldScrollAnimator animator;
    animator.receive(Event::began(plan()), 0.0);
    double t = flick(animator, 0.0);
    animator.receive(Event::ended(), t);
    for (int i = 0; i < 4; ++i) animator.frame(t += frameTime);  // began, ended, two coasting
    ASSERT_TRUE(std::holds_alternative<HoldScrollAnimator::Gliding>(animator.hold));
    animator.receive(Event::began(plan()), t);
    animator.receive(Event::moved(0, 4), t + 0.001);
    EXPECT_EQ(animator.frame(t += frameTime), (HoldScrollFrame{0, 0, Phase::momentumEnded}));
    EXPECT_EQ(animator.frame(t += frameTime), (HoldScrollFrame{0, 4, Phase::began}));

    // Released, but its ended frame not yet posted.
    HoldScrollAnimator released;
    released.receive(Event::began(plan(false)), 0.0);
    released.receive(Event::moved(0, 1), 0.01);
    released.frame(0.02);
    released.receive(Event::ended(), 0.03);
    released.receive(Event::began(plan(false)), 0.04);
    EXPECT_TRUE(released.needsFrames());
    EXPECT_EQ(released.frame(0.05), (HoldScrollFrame{0, 0, Phase::ended}));
    EXPECT_FALSE(released.needsFrames());
}

TEST(HoldScrollAnimator, StopEndsAtOnce) {
    HoldScrollAnimator following;
    following.receive(Event::began(plan()), 0.0);
    following.receive(Event::moved(0, 5), 0.01);
    following.frame(0.02);
    following.receive(Event::moved(0, 5), 0.03);
    EXPECT_EQ(following.stop(), (HoldScrollFrame{0, 0, Phase::ended}));
    EXPECT_FALSE(following.frame(0.04));  // the pending movement is dropped

    HoldScrollAnimator gliding;
    gliding.receive(Event::began(plan()), 0.0);
    double t = flick(gliding, 0.0);
    gliding.receive(Event::ended(), t);
    for (int i = 0; i < 3; ++i) gliding.frame(t += frameTime);
    EXPECT_EQ(gliding.stop(), (HoldScrollFrame{0, 0, Phase::momentumEnded}));
    EXPECT_FALSE(gliding.needsFrames());

    HoldScrollAnimator unposted;
    unposted.receive(Event::began(plan()), 0.0);
    unposted.receive(Event::moved(0, 5), 0.01);
    EXPECT_FALSE(unposted.stop());
}

}  // namespace
}  // namespace tindlewave
