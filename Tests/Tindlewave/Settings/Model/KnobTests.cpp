#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Settings/Model/Buttons/GestureKnob.h"
#include "Settings/Model/Scrolling/KnobDraft.h"
#include "Settings/Model/Texts/KnobUnit.h"
#include "Settings/Model/Scrolling/SliderScale.h"
#include "Settings/Model/Scrolling/SlowRollStutter.h"

namespace tindlewave {
namespace {

using Curve = SliderScale::Curve;

const SliderScale duration{{1, 20}, 1, Curve::logarithmic};
const SliderScale brake{{0.5, 10}, 0.1, Curve::logarithmic};
const SliderScale easeIn{{0, 300}, 10, Curve::linear};
const SliderScale speed{{0.25, 4}, 0.05, Curve::logarithmic};
const SliderScale distance{{20, 2000}, 10, Curve::logarithmic};

const NumberFormat german{",", "."};

TEST(SliderScale, ValuesAtTheQuartersOfEveryScale) {
    struct Row {
        SliderScale scale;
        double values[5];
    };
    const Row rows[] = {{duration, {1, 2, 4, 9, 20}},
                        {brake, {0.5, 1.1, 2.2, 4.7, 10}},
                        {easeIn, {0, 80, 150, 230, 300}},
                        {speed, {0.25, 0.5, 1, 2, 4}},
                        {distance, {20, 60, 200, 630, 2000}}};
    for (const Row& row : rows)
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(row.scale.value(i / 4.0), row.values[i])
                << row.scale.bounds.lo << " at " << i;
}

TEST(SliderScale, EveryValueItMakesSurvivesTheSlider) {
    for (const SliderScale& scale : {duration, brake, easeIn, speed, distance})
        for (int i = 0; i <= 1000; ++i) {
            const double v = scale.value(i / 1000.0);
            EXPECT_EQ(scale.value(scale.position(v)), v) << scale.bounds.lo << " " << v;
        }
}

TEST(GestureKnob, CommitsTheCountsShownAndNeverLeavesTheRange) {
    EXPECT_EQ(GestureKnob::scale(), distance);
    const DeviceMatch mouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
    const auto counts = [&](double value) {
        return as<SettingsEdit::GestureDistance>(GestureKnob::distance(mouse, value))->distance;
    };
    for (int i = 0; i <= 1000; ++i) {
        const double shown = distance.value(i / 1000.0);
        EXPECT_EQ(double(counts(shown)), shown);
    }
    EXPECT_EQ(counts(129.9), 129);  // toward zero
    EXPECT_EQ(counts(1e300), 2000);
    EXPECT_EQ(counts(-5), 20);
    EXPECT_EQ(counts(std::numeric_limits<double>::quiet_NaN()), 20);
    EXPECT_EQ(GestureKnob::distance(mouse, 200), SettingsEdit::gestureDistance(mouse, 200));
}

TEST(SliderScale, PositionsOutsideTheRangeAndNaNGiveTheEnds) {
    EXPECT_EQ(duration.value(-0.5), 1);
    EXPECT_EQ(duration.value(1.5), 20);
    EXPECT_EQ(duration.value(std::numeric_limits<double>::quiet_NaN()), 1);
    EXPECT_EQ(duration.position(0), 0);
    EXPECT_EQ(duration.position(50), 1);
    EXPECT_EQ(duration.position(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_NEAR(duration.position(4), std::log(4) / std::log(20), 1e-12);
    EXPECT_EQ(speed.position(1), 0.5);
    const SliderScale empty{{5, 5}, 1, Curve::linear};
    const SliderScale reversed{{5, 1}, 1, Curve::logarithmic};
    EXPECT_EQ(empty.position(5), 0);
    EXPECT_EQ(reversed.position(3), 0);
}

TEST(SliderScale, ALogarithmicScaleFromZeroIsShiftedByOne) {
    const SliderScale shifted{{0, 300}, 10, Curve::logarithmic};
    EXPECT_EQ(shifted.value(0.5), 20);  // sqrt(301) - 1 is about 16.35
    EXPECT_EQ(shifted.value(0), 0);
    EXPECT_EQ(shifted.value(1), 300);
    EXPECT_NEAR(shifted.position(std::sqrt(301) - 1), 0.5, 1e-12);
}

TEST(KnobUnit, WritesEachUnitInUSEnglishAndWithADecimalComma) {
    const auto us = NumberFormat::enUS();
    EXPECT_EQ(format(KnobUnit::tenthsOfASecond, 4, us), "0.4 s");
    EXPECT_EQ(format(KnobUnit::tenthsOfASecond, 20, us), "2.0 s");
    EXPECT_EQ(format(KnobUnit::milliseconds, 60, us), "60 ms");
    EXPECT_EQ(format(KnobUnit::times, 1, us), "1.0\u00D7");
    EXPECT_EQ(format(KnobUnit::times, 1.25, us), "1.25\u00D7");
    EXPECT_EQ(format(KnobUnit::none, 2, us), "2");
    EXPECT_EQ(format(KnobUnit::none, 2.5, us), "2.5");
    EXPECT_EQ(format(KnobUnit::counts, 120, us), "120 counts");
    EXPECT_EQ(format(KnobUnit::counts, 2000, us), "2,000 counts");

    EXPECT_EQ(format(KnobUnit::tenthsOfASecond, 4, german), "0,4 s");
    EXPECT_EQ(format(KnobUnit::times, 1.25, german), "1,25\u00D7");
    EXPECT_EQ(format(KnobUnit::counts, 2000, german), "2.000 counts");
}

TEST(NumberFormat, GroupsRoundsAndDropsTheSignOfZero) {
    const auto us = NumberFormat::enUS();
    EXPECT_EQ(us.fixed(1234567.891, 0, 2), "1,234,567.89");
    EXPECT_EQ(us.fixed(999.96, 0, 1), "1,000");
    EXPECT_EQ(us.fixed(-0.001, 0, 1), "0");
    EXPECT_EQ(us.fixed(-12.5, 1, 1), "-12.5");
    EXPECT_EQ((NumberFormat{".", ""}).fixed(12345, 0, 0), "12345");
}

TEST(SlowRollStutter, TheWorkedValuesAndTheCap) {
    auto stutter = [](double durationTenths, double easeInMs) {
        SmoothScroll smooth;
        smooth.duration = durationTenths;
        smooth.easeIn = easeInMs;
        return SlowRollStutter::of(smooth);
    };
    EXPECT_EQ(SlowRollStutter::slowRoll(), 4);
    EXPECT_EQ(stutter(4, 60), std::nullopt);
    ASSERT_TRUE(stutter(1, 0));
    EXPECT_NEAR(stutter(1, 0)->glide, 0.1, 1e-12);
    EXPECT_EQ(stutter(1, 0)->smoothDuration, 3);
    EXPECT_EQ(stutter(1, 100)->smoothDuration, 2);
    EXPECT_EQ(stutter(2, 40)->smoothDuration, 3);
    EXPECT_EQ(stutter(1, 150), std::nullopt);
    EXPECT_EQ(stutter(2, 50), std::nullopt);
    EXPECT_EQ(SlowRollStutter::of(std::nullopt), std::nullopt);
    // A negative ease-in (no valid file has one) would ask for more than the knob offers.
    EXPECT_EQ(stutter(1, -2000)->smoothDuration, 20);
}

TEST(SlowRollStutter, TheDetailNamesGlideRateAndFix) {
    const SlowRollStutter stutter{0.1, 3};
    EXPECT_EQ(stutter.detail(NumberFormat::enUS()),
              "Each wheel step glides for 0.1 s, so when you roll slower than about 10 steps a "
              "second the page "
              "lurches on each step and stops before the next. Set Glide after you stop to 0.3 s "
              "or more. A "
              "longer ease into each step does not help.");
    EXPECT_NE(stutter.detail(german).find("0,1 s"), std::string::npos);
}

TEST(KnobDraft, ADragCommitsOnceAtItsEndAndAClickAtOnce) {
    KnobDraft knob;
    EXPECT_EQ(knob.position(duration, 4), duration.position(4));
    EXPECT_EQ(knob.editing(true, duration, 4), std::nullopt);
    EXPECT_EQ(knob.moved(0.9, duration, 4), std::nullopt);
    EXPECT_EQ(knob.moved(1.0, duration, 4), std::nullopt);
    EXPECT_EQ(knob.shown(duration, 4), 20);
    EXPECT_EQ(knob.editing(false, duration, 4), 20);
    EXPECT_EQ(knob.position(duration, 4), 1.0);  // stays until the stored value comes back
    knob.stored(20, true);
    EXPECT_EQ(knob.position(duration, 20), 1.0);
    EXPECT_EQ(knob.draft(), std::nullopt);

    EXPECT_EQ(knob.moved(0, duration, 20), 1);  // a click or key step
}

TEST(KnobDraft, AGestureEndingOnTheStoredValueCommitsNothingAndSnapsBack) {
    KnobDraft knob;
    knob.editing(true, duration, 4);
    knob.moved(0.9, duration, 4);
    knob.moved(duration.position(4) + 0.001, duration, 4);
    EXPECT_EQ(knob.editing(false, duration, 4), std::nullopt);
    EXPECT_EQ(knob.draft(), std::nullopt);
    EXPECT_EQ(knob.position(duration, 4), duration.position(4));
    EXPECT_EQ(knob.moved(duration.position(4), duration, 4), std::nullopt);
}

// Key steps faster than a save: the values stored meanwhile are older than the draft and leave it
// where it is; the last one committed ends it. Every step is written, each past the one before.
TEST(KnobDraft, StepsFasterThanASaveKeepTheirPlaceAndLoseNothing) {
    KnobDraft knob;
    double stored = 400;
    const double start = distance.position(stored);
    std::vector<double> commits;
    auto step = [&](double position) {
        if (auto v = knob.moved(position, distance, stored)) commits.push_back(*v);
    };
    step(start - 0.05);
    step(start - 0.10);
    knob.stored(stored = commits[0], true);  // the first step's value comes back
    EXPECT_EQ(knob.position(distance, stored), start - 0.10);
    step(start - 0.15);
    knob.stored(stored = commits[1], true);
    ASSERT_EQ(commits.size(), 3u);
    EXPECT_GT(commits[0], commits[1]);
    EXPECT_GT(commits[1], commits[2]);
    EXPECT_EQ(knob.position(distance, stored), start - 0.15);
    EXPECT_EQ(knob.shown(distance, stored), commits[2]);

    // Back onto the value stored meanwhile: it is committed all the same, or the last step would
    // stay in force.
    step(distance.position(stored));
    ASSERT_EQ(commits.size(), 4u);
    EXPECT_EQ(commits[3], stored);
    knob.stored(commits[2], true);
    EXPECT_TRUE(knob.draft());
    knob.stored(commits[3], true);
    EXPECT_EQ(knob.draft(), std::nullopt);
    EXPECT_EQ(knob.pending(), std::nullopt);

    // Three steps of which only the last comes back (the page saw the store's snapshots of the
    // first two in the same turn as the third's): the two before it are done too, so a step
    // back onto one of them is committed, not taken for a commit still on its way.
    for (double position : {0.50, 0.45, 0.40}) step(position);
    ASSERT_EQ(commits.size(), 7u);
    knob.stored(stored = commits[6], true);
    EXPECT_EQ(knob.pending(), std::nullopt);
    step(0.45);
    ASSERT_EQ(commits.size(), 8u);
    EXPECT_EQ(commits[7], commits[5]);
    knob.stored(stored = commits[7], true);
    EXPECT_EQ(knob.draft(), std::nullopt);

    // With nothing on its way, a value stored elsewhere moves the slider, except under a drag,
    // whose end then commits its place.
    knob.editing(true, distance, stored);
    step(0.9);
    knob.stored(stored = 50, true);
    EXPECT_EQ(knob.position(distance, stored), 0.9);
    EXPECT_EQ(knob.editing(false, distance, stored), distance.value(0.9));
}

// A commit that is never stored (the file had an error when it was written) does not hold the
// slider: the next value stored that is not on its way, the file mended or a reset, is shown.
TEST(KnobDraft, ARefusedCommitGivesWayToTheNextStoredValue) {
    KnobDraft knob;
    EXPECT_EQ(knob.moved(duration.position(9), duration, 4), 9);
    knob.stored(4, false);  // a refresh meanwhile: the commit may still be on its way
    EXPECT_EQ(knob.shown(duration, 4), 9);
    knob.stored(5, true);  // the mended file
    EXPECT_EQ(knob.draft(), std::nullopt);
    EXPECT_EQ(knob.pending(), std::nullopt);
    EXPECT_EQ(knob.shown(duration, 5), 5);
    knob.stored(2, true);  // a reset
    EXPECT_EQ(knob.position(duration, 2), duration.position(2));

    // Steps whose first was refused: the later ones still come back in order, the last ends it.
    EXPECT_EQ(knob.moved(duration.position(9), duration, 2), 9);
    EXPECT_EQ(knob.moved(duration.position(12), duration, 2), 12);
    knob.stored(9, true);
    EXPECT_EQ(knob.shown(duration, 9), 12);
    knob.stored(12, true);
    EXPECT_EQ(knob.draft(), std::nullopt);
    // A step back onto a value refused before is committed again.
    EXPECT_EQ(knob.moved(duration.position(9), duration, 12), 9);
    knob.stored(9, true);

    // A refusal the store reports gives the commit up at once, the oldest of its value first:
    // the slider stays while a later commit is on its way, and goes back once none is.
    EXPECT_EQ(knob.moved(duration.position(14), duration, 9), 14);
    EXPECT_EQ(knob.moved(duration.position(11), duration, 9), 11);
    EXPECT_EQ(knob.moved(duration.position(14), duration, 9), 14);
    knob.refused(14);
    EXPECT_EQ(knob.shown(duration, 9), 14);
    EXPECT_EQ(knob.pending(), 14);
    knob.refused(11);
    EXPECT_EQ(knob.shown(duration, 9), 14);
    knob.refused(3);  // never committed
    EXPECT_EQ(knob.pending(), 14);
    knob.refused(14);
    EXPECT_EQ(knob.draft(), std::nullopt);
    EXPECT_EQ(knob.pending(), std::nullopt);
    EXPECT_EQ(knob.shown(duration, 9), 9);
    // Under a drag the slider stays where the hand is, and the drag's end commits it again.
    knob.editing(true, duration, 9);
    knob.moved(duration.position(14), duration, 9);
    knob.editing(false, duration, 9);
    knob.editing(true, duration, 9);
    knob.refused(14);
    EXPECT_EQ(knob.shown(duration, 9), 14);
    EXPECT_EQ(knob.editing(false, duration, 9), 14);
}

}  // namespace
}  // namespace tindlewave
