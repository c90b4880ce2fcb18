#include <gtest/gtest.h>

#include "Core/HIDPP/Setup.h"
#include "Core/HIDPP/Writes.h"

namespace tindlewave {
namespace {

using Caps = HIDPPCapabilities;
using Compiled = CompiledHIDPPSetup;

const Action missionControl = Action::system(SystemAction::missionControl);
const Action spaceLeft = Action::system(SystemAction::spaceLeft);
const Action spaceRight = Action::system(SystemAction::spaceRight);
const Action holdCommand = Action::modifier(HeldModifier::leftCommand);

Rule rule(Control control, Trigger trigger, Action action) {
    return {std::move(control), std::move(trigger), std::move(action)};
}
Rule onCID(std::uint16_t cid, Trigger trigger, Action action) {
    return rule(Control::hidpp(CID{cid}), std::move(trigger), std::move(action));
}

DeviceProfile profile(std::vector<Rule> rules) {
    DeviceProfile p;
    p.match = DeviceMatch::device(VendorID::logitech, ProductID{0xB023});
    p.name = "Mouse";
    p.rules = std::move(rules);
    return p;
}

HIDPPSetup withControls(std::map<CID, ControlBehavior> controls) {
    HIDPPSetup setup;
    setup.controls = std::move(controls);
    return setup;
}

TEST(HIDPPSetup, ServesAndSkipsRulesAgainstTheCapabilities) {
    const Rule click = onCID(0xC3, Trigger::click(), missionControl);
    const Rule swipeUp = onCID(0xC3, Trigger::holdMove(Direction::up), spaceLeft);
    const auto both = profile({click, swipeUp});

    // No raw movement: the click is served, the swipe skipped.
    const Caps noRawXY{{{CID{0xC3}, true, false}}, false};
    EXPECT_EQ(
        HIDPPSetup::compile(both, noRawXY),
        (Compiled{withControls({{CID{0xC3}, ControlBehavior::press(missionControl)}}), {swipeUp}}));

    // Unknown capabilities: both served, with the default distance and fire.
    const GesturePlan plan{
        120, missionControl,
        GestureMoves::swipes({{Direction::up, spaceLeft}}, GestureFire::pastDistance)};
    EXPECT_EQ(HIDPPSetup::compile(both, std::nullopt),
              (Compiled{withControls({{CID{0xC3}, ControlBehavior::gesture(plan)}}), {}}));

    // A control that is not divertable, or missing: every rule on it skipped, yet a set-up that
    // undiverts everything.
    const Caps notDivertable{{{CID{0xC3}, false, true}}, true};
    EXPECT_EQ(HIDPPSetup::compile(both, notDivertable),
              (Compiled{HIDPPSetup::native(), {click, swipeUp}}));
    const Caps missing{{{CID{0xC4}, true, true}}, true};
    EXPECT_EQ(HIDPPSetup::compile(both, missing),
              (Compiled{HIDPPSetup::native(), {click, swipeUp}}));

    // The first control with the CID decides.
    const Caps twice{{{CID{0xC3}, true, true}, {CID{0xC3}, false, false}}, false};
    EXPECT_EQ(HIDPPSetup::compile(both, twice).skipped, std::vector<Rule>{});
}

// What the device sees of a set-up compiled before its controls were known: a rule on a control
// it lacks or cannot divert leaves it the same set-up as the one compiled after; a rule it cannot
// serve on a control it has does not.
TEST(HIDPPSetup, OnTheDeviceARuleOnAControlItLacksChangesNothing) {
    const Rule click = onCID(0xC4, Trigger::click(), missionControl);
    const Rule absent = onCID(0x99, Trigger::click(), spaceLeft);
    const Rule fixed = onCID(0x50, Trigger::click(), spaceRight);
    const Caps caps{{{CID{0x50}, false, false}, {CID{0xC4}, true, false}}, true};
    const auto before = *HIDPPSetup::compile(profile({click, absent, fixed}), std::nullopt).setup;
    const auto after = *HIDPPSetup::compile(profile({click, absent, fixed}), caps).setup;
    EXPECT_NE(before, after);
    EXPECT_EQ(before.onDevice(caps), after.onDevice(caps));
    EXPECT_EQ(after.onDevice(caps), after);

    const Rule swipe = onCID(0xC4, Trigger::holdMove(Direction::up), spaceLeft);
    const auto gestureBefore = *HIDPPSetup::compile(profile({click, swipe}), std::nullopt).setup;
    const auto gestureAfter = *HIDPPSetup::compile(profile({click, swipe}), caps).setup;
    EXPECT_NE(gestureBefore.onDevice(caps), gestureAfter.onDevice(caps));
}

TEST(HIDPPSetup, ThumbWheelAndIgnoredRules) {
    const Rule reverse = rule(Control::thumbWheel(), Trigger::scroll(), Action::reverse());
    const Caps noWheel{{}, false};
    EXPECT_EQ(HIDPPSetup::compile(profile({reverse}), noWheel),
              (Compiled{HIDPPSetup::native(), {reverse}}));

    HIDPPSetup inverted;
    inverted.thumbWheelInverted = true;
    EXPECT_EQ(HIDPPSetup::compile(profile({reverse}), Caps{{}, true}), (Compiled{inverted, {}}));
    EXPECT_EQ(HIDPPSetup::compile(profile({reverse}), std::nullopt), (Compiled{inverted, {}}));

    // Scroll rules on controls, keys, buttons and other thumb-wheel rules make no set-up.
    const auto ignored = profile({
        onCID(0xC4, Trigger::scroll(), Action::reverse()),
        rule(Control::button(3), Trigger::click(), missionControl),
        rule(Control::key(HIDUsage{4}), Trigger::click(), missionControl),
        rule(Control::thumbWheel(), Trigger::click(), missionControl),
    });
    EXPECT_EQ(HIDPPSetup::compile(ignored, std::nullopt), Compiled{});
    DeviceProfile noRules = profile({});
    noRules.rules.reset();
    EXPECT_EQ(HIDPPSetup::compile(noRules, Caps{}), Compiled{});
}

TEST(ControlBehavior, ChoosesOneBehaviourPerControl) {
    const auto p = profile({});
    const auto behavior = [&](std::vector<Rule> rules) {
        return ControlBehavior::fromRules(rules, p, MovementUnit::counts);
    };
    // A key hold wins over a click; the last hold rule decides.
    EXPECT_EQ(behavior({onCID(0xC3, Trigger::hold(), holdCommand),
                        onCID(0xC3, Trigger::click(), missionControl)}),
              ControlBehavior::hold(KeyHold{{HeldModifier::leftCommand}, std::nullopt}));
    EXPECT_EQ(behavior({onCID(0xC3, Trigger::hold(), holdCommand),
                        onCID(0xC3, Trigger::hold(), missionControl),
                        onCID(0xC3, Trigger::click(), missionControl)}),
              ControlBehavior::press(missionControl));

    // A hold-move without a direction scrolls only with the scroll action.
    EXPECT_EQ(behavior({onCID(0xC3, Trigger::holdMove(), missionControl)}),
              ControlBehavior::native());
    EXPECT_EQ(behavior({}), ControlBehavior::native());

    // Later swipes overwrite earlier ones; the last click wins.
    EXPECT_EQ(behavior({onCID(0xC3, Trigger::holdMove(Direction::left), spaceLeft),
                        onCID(0xC3, Trigger::click(), spaceLeft),
                        onCID(0xC3, Trigger::holdMove(Direction::left), spaceRight),
                        onCID(0xC3, Trigger::click(), missionControl)}),
              ControlBehavior::gesture({120, missionControl,
                                        GestureMoves::swipes({{Direction::left, spaceRight}},
                                                             GestureFire::pastDistance)}));
}

TEST(ControlBehavior, HoldToScrollUsesTheProfileSettings) {
    const std::vector<Rule> rules = {
        onCID(0xC3, Trigger::holdMove(Direction::up), spaceLeft),
        onCID(0xC3, Trigger::holdMove(), Action::scroll()),
    };
    DeviceProfile p = profile({});
    // Defaults: speed 1, grab, momentum on, the default glide.
    const HoldScrollPlan defaults(HoldToScroll::defaults(), SmoothScroll::defaults(), 0.4);
    EXPECT_DOUBLE_EQ(defaults.gain, 0.4);
    EXPECT_EQ(ControlBehavior::fromRules(rules, p, MovementUnit::counts),
              ControlBehavior::gesture({120, std::nullopt, GestureMoves::scroll(defaults)}));

    ScrollSettings scrolling;
    scrolling.holdToScroll = HoldToScroll{2, HoldScrollDirection::wheel, false};
    p.scrolling = scrolling;
    p.gestures = GestureSettings{GestureFire::onRelease, 50};
    const auto behavior = ControlBehavior::fromRules(rules, p, MovementUnit::points);
    ASSERT_TRUE(is<ControlBehavior::Gesture>(behavior));
    const GesturePlan& plan = *as<ControlBehavior::Gesture>(behavior)->plan;
    EXPECT_DOUBLE_EQ(plan.distance, 20);
    ASSERT_TRUE(is<GestureMoves::Scroll>(plan.moves));
    EXPECT_DOUBLE_EQ(as<GestureMoves::Scroll>(plan.moves)->plan.gain, -2);
    EXPECT_EQ(as<GestureMoves::Scroll>(plan.moves)->plan.momentum, std::nullopt);
}

TEST(ControlBehavior, DistanceInBothUnitsForEveryAllowedSetting) {
    const std::vector<Rule> rules = {onCID(0xC3, Trigger::holdMove(Direction::up), spaceLeft)};
    DeviceProfile p = profile({});
    const auto distance = [&](MovementUnit unit) {
        return as<ControlBehavior::Gesture>(ControlBehavior::fromRules(rules, p, unit))
            ->plan->distance;
    };
    for (std::int64_t d = GestureSettings::distanceRange.lo; d <= GestureSettings::distanceRange.hi;
         ++d) {
        p.gestures = GestureSettings{GestureFire::pastDistance, d};
        // Exactly the setting in counts, so a movement of exactly d counts reaches it.
        ASSERT_EQ(distance(MovementUnit::counts), static_cast<double>(d)) << d;
        ASSERT_EQ(distance(MovementUnit::points), static_cast<double>(d) * 0.4) << d;
    }
    p.gestures = GestureSettings{GestureFire::pastDistance, 200};
    EXPECT_EQ(distance(MovementUnit::points), 80.0);
}

TEST(HIDPPWrites, TouchesOnlyADeviceItSetUp) {
    HIDPPWrites writes;
    EXPECT_EQ(writes.send(std::nullopt), std::nullopt);
    EXPECT_EQ(writes.send(std::nullopt), std::nullopt);

    const HIDPPSetup setup = withControls({{CID{0xC3}, ControlBehavior::press(missionControl)}});
    EXPECT_EQ(writes.send(setup), setup);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(writes.send(std::nullopt), HIDPPSetup::native());

    HIDPPWrites latched{true};  // a device left diverted by an earlier run
    EXPECT_EQ(latched.send(std::nullopt), HIDPPSetup::native());
}

}  // namespace
}  // namespace tindlewave
