#include "Core/Scrolling/ScrollAnimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Core/Scrolling/WholePoints.h"

namespace tindlewave {
namespace {

using Phase = ScrollFrame::Phase;
constexpr double frameTime = 1.0 / 120;

ScrollTick notch(ScrollTick::Sign sign = ScrollTick::Sign::positive, int steps = 1) {
    return ScrollTick{sign, steps, SmoothScroll::defaults()};
}

// A smooth-scroll setting whose curve gives 10 points per notch at every rate.
SmoothScroll evenTenPerNotch() {
    SmoothScroll settings = SmoothScroll::defaults();
    settings.curve = SpeedCurve::make({{1, 10}, {150, 1500}}).value();
    return settings;
}

// Asks for frames every 1/120 s from `from` until the animator is idle.
std::vector<ScrollFrame> runOut(ScrollAnimator& animator, double from) {
    std::vector<ScrollFrame> frames;
    for (double t = from; animator.needsFrames(); t += frameTime) {
        if (auto frame = animator.frame(t)) frames.push_back(*frame);
        if (frames.size() > 100000) break;
    }
    return frames;
}

double sum(const std::vector<ScrollFrame>& frames) {
    double total = 0;
    for (const auto& frame : frames) total += frame.points;
    return total;
}

TEST(ScrollAnimator, OneNotchFromRestGlidesFortyPointsAndEnds) {
    ScrollAnimator animator;
    animator.tick(notch(), 10.0);
    const auto frames = runOut(animator, 10.0 + frameTime);

    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames.front().phase, Phase::began);
    for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
        EXPECT_EQ(frames[i].phase, Phase::changed) << i;
        EXPECT_GE(frames[i].points, 0) << i;
    }
    EXPECT_EQ(frames.back(), (ScrollFrame{0, Phase::ended}));
    EXPECT_NEAR(sum(frames), 40.0, 1e-9);
    EXPECT_FALSE(animator.frame(20.0));
}

TEST(ScrollAnimator, DistancePerNotchFollowsTheSpinRate) {
    ScrollAnimator animator;
    animator.tick(notch(), 1.0);
    animator.tick(notch(), 1.05);  // 20 notches per second
    animator.tick(notch(), 3.05);  // slower than the curve's slowest rate: measured afresh
    ASSERT_EQ(animator.pulses.size(), 3u);
    EXPECT_DOUBLE_EQ(animator.pulses[0].distance, 40.0);
    EXPECT_NEAR(animator.pulses[1].distance, 62.775, 1e-3);
    EXPECT_DOUBLE_EQ(animator.pulses[2].distance, 40.0);

    // Several notches in one event are measured per notch and move that many times as far.
    ScrollAnimator many;
    many.tick(notch(), 1.0);
    many.tick(notch(ScrollTick::Sign::positive, 2), 1.1);  // 0.05 s per notch
    EXPECT_NEAR(many.pulses[1].distance, 2 * 62.775, 2e-3);

    // A tick without notches counts as one: never an empty or backwards pulse.
    ScrollAnimator none;
    none.tick(notch(ScrollTick::Sign::positive, 0), 1.0);
    none.tick(notch(ScrollTick::Sign::positive, -3), 1.05);
    EXPECT_DOUBLE_EQ(none.pulses[0].distance, 40.0);
    EXPECT_NEAR(none.pulses[1].distance, 62.775, 1e-3);
}

TEST(ScrollAnimator, ReversalEndsABegunGlideFirst) {
    ScrollAnimator animator;
    animator.tick(notch(), 0.0);
    ASSERT_EQ(animator.frame(0.05)->phase, Phase::began);
    animator.tick(notch(ScrollTick::Sign::negative), 0.06);
    EXPECT_EQ(animator.frame(0.07), (ScrollFrame{0, Phase::ended}));
    const auto frames = runOut(animator, 0.08);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().phase, Phase::began);
    EXPECT_LT(frames.front().points, 0);
    EXPECT_NEAR(sum(frames), -40.0, 1e-9);  // a new direction measures its spin afresh

    // Reversed before any frame: nothing was posted, so there is no end to post.
    ScrollAnimator early;
    early.tick(notch(), 0.0);
    early.tick(notch(ScrollTick::Sign::negative), 0.01);
    const auto earlyFrames = runOut(early, 0.02);
    EXPECT_EQ(earlyFrames.front().phase, Phase::began);
    EXPECT_NEAR(sum(earlyFrames), -40.0, 1e-9);
    for (std::size_t i = 0; i + 1 < earlyFrames.size(); ++i)
        EXPECT_NE(earlyFrames[i].phase, Phase::ended);

    // A notch after the glide is spent but before its end is posted: the end comes first.
    ScrollAnimator late;
    late.tick(notch(), 0.0);
    double t = frameTime;
    while (!std::holds_alternative<ScrollAnimator::Ending>(late.gesture))
        late.frame(t += frameTime);
    late.tick(notch(), t);
    EXPECT_EQ(late.frame(t + frameTime), (ScrollFrame{0, Phase::ended}));
    EXPECT_EQ(late.frame(t + 2 * frameTime)->phase, Phase::began);
}

TEST(ScrollAnimator, ManyNotchesKeepAtMost512PulsesAndLoseNoDistance) {
    const SmoothScroll settings = evenTenPerNotch();
    const ScrollTick tick{ScrollTick::Sign::positive, 1, settings};
    ScrollAnimator animator;
    for (int i = 0; i < 600; ++i) animator.tick(tick, i * 0.01);  // 100 notches per second
    EXPECT_EQ(animator.pulses.size(), ScrollAnimator::maxPulses);

    WholePoints whole;
    double exact = 0;
    long long wholeSum = 0;
    for (double t = 6.0; animator.needsFrames(); t += frameTime) {
        if (auto frame = animator.frame(t)) {
            exact += frame->points;
            wholeSum += whole.take(frame->points, frame->phase == Phase::began);
        }
    }
    EXPECT_NEAR(exact, 6000.0, 1e-6);
    EXPECT_EQ(wholeSum, std::llround(exact));
}

TEST(ScrollAnimator, FramesAtOneInstantOrBeforeTheLastFrame) {
    // During the ease-in a second frame at the same instant has nothing to post.
    ScrollAnimator animator;
    animator.tick(notch(), 0.0);
    ASSERT_TRUE(animator.frame(0.01));
    EXPECT_FALSE(animator.frame(0.01));
    EXPECT_TRUE(animator.needsFrames());

    // Ticks timed before the last frame (frames are timed by the next display refresh): the
    // glide never goes backwards, never yields NaN, and posts exactly its pulses.
    ScrollAnimator late;
    late.tick(notch(), 0.0);
    double total = late.frame(0.10)->points + late.frame(0.12)->points;
    late.tick(notch(), 0.11);
    late.tick(notch(), 0.105);  // even before the notch before it
    for (const auto& frame : runOut(late, 0.125)) {
        EXPECT_FALSE(std::isnan(frame.points));
        EXPECT_GE(frame.points, 0);
        total += frame.points;
    }
    const SpeedCurve& curve = SpeedCurve::defaults();
    // 0.11 s per notch, then a notch "earlier" counted as the fastest measurable spin.
    const double second = curve.distancePerStep(1 / 0.11);
    const double third = curve.distancePerStep(1 / ((0.11 + 0.001) / 2));
    EXPECT_NEAR(total, 40 + second + third, 1e-9);

    // A reversal timed before the last frame starts its glide cleanly too.
    ScrollAnimator reversed;
    reversed.tick(notch(), 0.0);
    reversed.frame(0.2);
    reversed.tick(notch(ScrollTick::Sign::negative), 0.15);
    const auto frames = runOut(reversed, 0.2);
    EXPECT_EQ(frames.front(), (ScrollFrame{0, Phase::ended}));
    for (const auto& frame : frames) EXPECT_LE(frame.points, 0);
}

TEST(ScrollAnimator, StopEndsOnlyWhatWasBegun) {
    ScrollAnimator idle;
    EXPECT_FALSE(idle.stop());

    ScrollAnimator unposted;
    unposted.tick(notch(), 0.0);
    EXPECT_FALSE(unposted.stop());
    EXPECT_FALSE(unposted.needsFrames());

    ScrollAnimator begun;
    begun.tick(notch(), 0.0);
    begun.frame(0.05);
    EXPECT_EQ(begun.stop(), (ScrollFrame{0, Phase::ended}));
    EXPECT_FALSE(begun.frame(0.06));  // the rest of the glide is dropped
    EXPECT_TRUE(begun.pulses.empty());

    ScrollAnimator ending;
    ending.tick(notch(), 0.0);
    ending.frame(0.05);
    ending.tick(notch(ScrollTick::Sign::negative), 0.06);
    EXPECT_EQ(ending.stop(), (ScrollFrame{0, Phase::ended}));
    EXPECT_FALSE(ending.needsFrames());
    EXPECT_FALSE(ending.frame(0.07));
}

TEST(PulseShape, RisesSteadilyToExactlyOne) {
    const PulseShape shape = PulseShape::of(SmoothScroll::defaults());
    EXPECT_DOUBLE_EQ(shape.easeIn, 0.06);
    EXPECT_DOUBLE_EQ(shape.decay, 0.4);
    EXPECT_EQ(shape.share(-1), 0);
    EXPECT_EQ(shape.share(0), 0);
    EXPECT_EQ(shape.share(0.46), 1);
    EXPECT_EQ(shape.share(5), 1);
    double before = 0;
    for (double t = 0.001; t < 0.46; t += 0.001) {
        const double now = shape.share(t);
        EXPECT_GE(now, before) << t;
        before = now;
    }
    // The two pieces meet at the end of the ease-in.
    EXPECT_NEAR(shape.share(0.06 - 1e-12), shape.share(0.06), 1e-9);

    // No ease-in and no decay: the whole pulse at once, never NaN.
    const PulseShape instant = PulseShape::make(0, 0, 2);
    EXPECT_EQ(instant.share(0.001), 1);
}

// Whole brakes are raised by multiplying rather than by pow: the shape must come out as pow's to
// within rounding, for every whole brake of the settings, with and without ease-in, over the whole
// pulse (and the brakes in between keep pow itself).
TEST(PulseShape, WholeBrakesMatchPow) {
    std::vector<double> brakes;
    for (int b = 1; b <= 10; ++b) brakes.push_back(b);
    brakes.push_back(SmoothScroll::brakeRange.lo);
    brakes.push_back(2.5);
    int checked = 0;
    for (const double brake : brakes) {
        for (const double easeIn : {0.0, 0.001, 0.06, 0.3}) {
            for (const double decay : {0.1, 0.4, 2.0}) {
                const PulseShape shape = PulseShape::make(easeIn, decay, brake);
                const double length = easeIn + decay;
                for (int i = 0; i <= 1000; ++i) {
                    const double after = length * i / 1000.0 + (i == 1000 ? 1e-9 : 0.0);
                    double general = 1.0;
                    if (!(after > 0)) {
                        general = 0;
                    } else if (after < easeIn) {
                        general = shape.easeInShare(after);
                    } else if (const double rest = shape.decayRest(after); rest > 0) {
                        general = shape.decayShare(std::pow(rest, brake + 1.0));
                    }
                    ASSERT_NEAR(shape.share(after), general, 1e-14)
                        << "brake " << brake << " ease-in " << easeIn << " decay " << decay << " at " << after;
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 12 * 4 * 3 * 1001);
    for (int n = 1; n <= PulseShape::maxWholeExponent; ++n) {
        for (const double x : {1e-9, 0.001, 0.123456789, 0.5, 0.999999, 1.0}) {
            const double exact = std::pow(x, n);
            EXPECT_NEAR(PulseShape::wholePower(x, n), exact, exact * 1e-15 * n) << x << "^" << n;
        }
    }
}

// A frame samples every live pulse through the shape's sampler, worked out once per frame: it must
// give share's value exactly (not merely within rounding), or glides would scroll differently.
TEST(PulseShape, SamplerGivesShareExactly) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int checked = 0;
    for (const double brake : {0.0, 1.0, 2.0, 2.5, 7.0, 15.0, 16.0, 0.3, nan}) {
        for (const double easeIn : {0.0, 0.06, 0.3}) {
            for (const double decay : {0.0, 0.4, 2.0}) {
                const PulseShape shape = PulseShape::make(easeIn, decay, brake);
                const PulseShape::Sampler sampler = shape.sampler();
                const double length = easeIn + decay;
                for (int i = -1; i <= 1001; ++i) {
                    const double after = (length > 0 ? length : 0.01) * i / 1000.0;
                    const double expected = shape.share(after);
                    const double sampled = sampler.share(after);
                    if (std::isnan(expected)) {
                        ASSERT_TRUE(std::isnan(sampled)) << brake << " " << easeIn << " " << decay << " " << after;
                    } else {
                        ASSERT_EQ(sampled, expected)
                            << "brake " << brake << " ease-in " << easeIn << " decay " << decay << " at " << after;
                    }
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 9 * 3 * 3 * 1003);
}

TEST(WholePoints, KeepsRemaindersAndSaturates) {
    WholePoints whole;
    EXPECT_EQ(whole.take(0.4, true), 0);
    EXPECT_EQ(whole.take(0.4, false), 1);
    EXPECT_EQ(whole.take(0.4, false), 0);
    EXPECT_EQ(whole.take(-0.5, true), -1);  // halves away from zero

    constexpr auto most = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(whole.take(1e12, true), most);
    EXPECT_EQ(whole.take(0, false), most);  // the rest stays due
    EXPECT_EQ(whole.take(-1e12, true), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(whole.take(std::nan(""), true), 0);
    EXPECT_EQ(whole.take(3.0, true), 3);

    // A share that is no number is dropped; the gesture's remainders go on adding up.
    constexpr double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(whole.take(0.4, true), 0);
    EXPECT_EQ(whole.take(std::nan(""), false), 0);
    EXPECT_EQ(whole.take(0.4, false), 1);
    EXPECT_EQ(whole.take(infinity, false), 0);
    EXPECT_EQ(whole.take(-infinity, false), 0);
    EXPECT_EQ(whole.take(0.4, false), 0);
    EXPECT_EQ(whole.take(0.4, false), 1);
}

}  // namespace
}  // namespace tindlewave
