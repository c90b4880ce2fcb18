#include <cmath>

#include "TapHostHarness.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

const Screen left{1, {0, 0, 1000, 1000}, 60};
const Screen right{2, {1000, 0, 1000, 1000}, 144};

struct TapHostScrollTest : TapHostHarness {
    void SetUp() override {
        events.setScreens({left, right});
        TapRules rules;
        rules.smoothScroll.emplace(tapMouse, SmoothScroll::defaults());
        GesturePlan scroll{5, std::nullopt,
                           GestureMoves::scroll(HoldScrollPlan(1.0, Glide{0.5, 0.5}))};
        rules.buttons.emplace(ButtonKey{tapMouse, 3}, ControlBehavior::gesture(scroll));
        follow(rules);
    }

    std::vector<Event> scrollFrames() const {
        std::vector<Event> frames;
        for (const auto& posted : postedOf(EventType::scrollWheel)) {
            EXPECT_EQ(posted.level, EventLevel::session);
            EXPECT_TRUE(posted.event.carriesMarker());
            frames.push_back(posted.event);
        }
        return frames;
    }
};

TEST_F(TapHostScrollTest, AWheelTickGlidesOnTheDisplayUnderThePointerAndPausesWhenDone) {
    inject(wheel({500, 500}));
    EXPECT_TRUE(events.delivered().empty());
    ASSERT_NE(host->frames(), nullptr);
    EXPECT_EQ(host->frames()->display(), 1u);
    EXPECT_EQ(host->frames()->framesPerSecond(), 60);
    advance(3);
    EXPECT_TRUE(host->frames()->isPaused());
    EXPECT_EQ(scheduler.timerCount(), 1u);  // only the watchdog

    auto frames = scrollFrames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames.front().integer(IntegerField::scrollPhase), 1);
    EXPECT_EQ(frames.back().integer(IntegerField::scrollPhase), 4);
    double exact = 0;
    std::int64_t whole = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i > 0 && i + 1 < frames.size()) {
            EXPECT_EQ(frames[i].integer(IntegerField::scrollPhase), 2);
        }
        exact += frames[i].fixedPoint(FixedPointField::scrollFixedDelta1) * 10;
        whole += frames[i].integer(IntegerField::scrollDelta1);
    }
    EXPECT_GT(exact, 1);
    EXPECT_EQ(whole, std::llround(exact));

    // A tick while paused on the same display resumes the same clock.
    const FrameClock* clock = host->frames();
    inject(wheel({600, 600}));
    EXPECT_EQ(host->frames(), clock);
    EXPECT_FALSE(host->frames()->isPaused());
    EXPECT_EQ(host->framesMade(), 1);
}

TEST_F(TapHostScrollTest, AnotherDisplayOrAStallGetsANewClock) {
    inject(wheel({500, 500}));
    advance(3);
    inject(wheel({1500, 500}));
    EXPECT_EQ(host->framesMade(), 2);
    EXPECT_EQ(host->frames()->display(), 2u);
    EXPECT_EQ(host->frames()->framesPerSecond(), 120);  // 144 Hz held to 120

    // A tick within 0.1 s of the last frame only feeds the animator.
    advance(0.05);
    inject(wheel({1500, 500}));
    EXPECT_EQ(host->framesMade(), 2);

    events.setRefreshing(2, false);
    advance(0.2);
    inject(wheel({1500, 500}));
    EXPECT_EQ(host->framesMade(), 3);
    EXPECT_EQ(host->frames()->display(), 2u);
}

TEST_F(TapHostScrollTest, WithoutScreensTheWheelEventPassesAndNothingGlides) {
    events.setScreens({});
    inject(wheel({500, 500}));
    ASSERT_EQ(events.delivered().size(), 1u);
    EXPECT_EQ(events.delivered()[0].type, EventType::scrollWheel);
    EXPECT_FALSE(events.delivered()[0].carriesMarker());
    EXPECT_EQ(host->frames(), nullptr);
    advance(1);
    EXPECT_TRUE(scrollFrames().empty());
}

TEST_F(TapHostScrollTest, HoldScrollFromAControlStartsAtTheCursorAndCarriesBothWheelsAndPhases) {
    events.moveCursor({1500, 500});
    onTap([&] {
        host->holdScrolled(HoldScrollEvent::began(HoldScrollPlan(1.0, Glide{0.5, 0.5})),
                           std::nullopt);
        host->holdScrolled(HoldScrollEvent::moved(3, 40), std::nullopt);
    });
    ASSERT_NE(host->frames(), nullptr);
    EXPECT_EQ(host->frames()->display(), 2u);
    EXPECT_TRUE(host->isCursorFrozen());
    EXPECT_EQ(events.associationCalls(), (std::vector<bool>{false}));
    advance(0.02);
    onTap([&] { host->holdScrolled(HoldScrollEvent::moved(3, 40), std::nullopt); });
    advance(0.01);
    onTap([&] { host->holdScrolled(HoldScrollEvent::ended(), std::nullopt); });
    EXPECT_FALSE(host->isCursorFrozen());
    advance(3);

    auto frames = scrollFrames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[0].integer(IntegerField::scrollDelta1), 40);
    EXPECT_EQ(frames[0].integer(IntegerField::scrollDelta2), 3);
    EXPECT_DOUBLE_EQ(frames[0].fixedPoint(FixedPointField::scrollFixedDelta1), 4.0);
    EXPECT_DOUBLE_EQ(frames[0].fixedPoint(FixedPointField::scrollFixedDelta2), 0.3);
    std::vector<std::pair<std::int64_t, std::int64_t>> phases;
    for (const Event& frame : frames) {
        std::pair phase{frame.integer(IntegerField::scrollPhase),
                        frame.integer(IntegerField::momentumPhase)};
        if (phases.empty() || phases.back() != phase) phases.push_back(phase);
    }
    using P = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(phases, (std::vector<P>{{1, 0}, {2, 0}, {4, 0}, {0, 1}, {0, 2}, {0, 3}}));
    EXPECT_TRUE(host->frames()->isPaused());
}

TEST_F(TapHostScrollTest, TheCursorIsFrozenWhileAHoldToScrollButtonIsHeld) {
    inject(button(EventType::otherMouseDown, 3));
    EXPECT_TRUE(host->isCursorFrozen());
    inject(button(EventType::otherMouseUp, 3));
    EXPECT_FALSE(host->isCursorFrozen());
    EXPECT_EQ(events.associationCalls(), (std::vector<bool>{false, true}));
    // Held again, then everything released by a new order: the cursor is given back.
    inject(button(EventType::otherMouseDown, 3));
    follow(TapRules::empty(), false);
    EXPECT_TRUE(events.isCursorAssociated());
    EXPECT_FALSE(host->isCursorFrozen());
}

TEST_F(TapHostScrollTest, AnOrderWithoutInstallEndsAHoldScrollAndGivesTheCursorBack) {
    onTap([&] {
        host->holdScrolled(HoldScrollEvent::began(HoldScrollPlan(1.0, std::nullopt)), std::nullopt);
        host->holdScrolled(HoldScrollEvent::moved(0, 10), std::nullopt);
    });
    advance(0.1);
    ASSERT_FALSE(scrollFrames().empty());
    onTap([&] { host->follow(TapOrder{false, TapRules::empty()}); });
    EXPECT_EQ(scrollFrames().back().integer(IntegerField::scrollPhase), 4);
    EXPECT_TRUE(events.isCursorAssociated());
    EXPECT_EQ(host->frames(), nullptr);
    const std::size_t posted = events.posted().size();
    advance(1);
    EXPECT_EQ(events.posted().size(), posted);
}

TEST(FrameClockRate, TheDisplaysRateHeldWithin60And120) {
    EXPECT_EQ(FrameClock::rateFor(30), 60);
    EXPECT_EQ(FrameClock::rateFor(75), 75);
    EXPECT_EQ(FrameClock::rateFor(144), 120);
    EXPECT_EQ(FrameClock::rateFor(0), 120);
    EXPECT_EQ(FrameClock::rateFor(std::nan("")), 120);
}

}  // namespace
