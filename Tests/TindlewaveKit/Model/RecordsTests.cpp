#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "Model/Capabilities.h"
#include "Model/Config.h"
#include "Model/ConfigError.h"
#include "Model/Rule.h"

namespace tindlewave {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

template <class T>
void expectHashesEqualWhenEqual(const T& a, const T& b) {
    ASSERT_EQ(a, b);
    EXPECT_EQ(std::hash<T>{}(a), std::hash<T>{}(b));
}

TEST(ConfigStatics, EmptyConfigAndDefaults) {
    const Config& empty = Config::empty();
    EXPECT_EQ(empty.version, 1);
    EXPECT_EQ(Config::currentVersion, 1);
    EXPECT_EQ(empty.hyper, (HyperSettings{true, HIDUsage{0x39}, HyperTap::nothing}));
    EXPECT_TRUE(empty.devices.empty());
    EXPECT_TRUE(empty.ignored.empty());
    EXPECT_EQ(&empty, &Config::empty());
    EXPECT_EQ(Config(empty), Config::empty());

    EXPECT_EQ(SmoothScroll::defaults(), (SmoothScroll{4, 2, 60, SpeedCurve::defaults()}));
    EXPECT_EQ(SmoothScroll::defaultEaseIn, 60);
    EXPECT_EQ(SmoothScroll::defaults().durationSeconds(), 0.4);
    EXPECT_EQ(HoldToScroll::defaults(), (HoldToScroll{1, HoldScrollDirection::grab, true}));
    EXPECT_EQ(GestureSettings::defaults(), (GestureSettings{GestureFire::pastDistance, 120}));
    EXPECT_EQ(VendorID::logitech, VendorID{0x046D});
    EXPECT_EQ(VendorID::digits, 4);
    EXPECT_EQ(ProductID::digits, 4);
    EXPECT_EQ(CID::digits, 2);
}

TEST(ConfigRanges, EndsAreInsideAndNaNIsOutside) {
    EXPECT_TRUE(GestureSettings::distanceRange.contains(20));
    EXPECT_TRUE(GestureSettings::distanceRange.contains(2000));
    EXPECT_FALSE(GestureSettings::distanceRange.contains(19));
    EXPECT_FALSE(GestureSettings::distanceRange.contains(2001));
    for (const auto& [range, lo, hi] : {std::tuple{SmoothScroll::durationRange, 1.0, 20.0},
                                        std::tuple{SmoothScroll::brakeRange, 0.5, 10.0},
                                        std::tuple{SmoothScroll::easeInRange, 0.0, 300.0},
                                        std::tuple{HoldToScroll::speedRange, 0.25, 4.0}}) {
        EXPECT_TRUE(range.contains(lo));
        EXPECT_TRUE(range.contains(hi));
        EXPECT_FALSE(range.contains(std::nextafter(lo, -1e9)));
        EXPECT_FALSE(range.contains(std::nextafter(hi, 1e9)));
        EXPECT_FALSE(range.contains(nan));
    }
    EXPECT_TRUE(Control::buttonRange.contains(1));
    EXPECT_TRUE(Control::buttonRange.contains(31));
    EXPECT_FALSE(Control::buttonRange.contains(0));
    EXPECT_FALSE(Control::buttonRange.contains(32));
}

TEST(ConfigRecords, AbsentOptionalsDifferFromEmptyOnes) {
    const DeviceMatch match = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
    const DeviceProfile plain{match, "Mouse"};
    EXPECT_EQ(plain.kind, std::nullopt);
    EXPECT_EQ(plain.rules, std::nullopt);
    EXPECT_EQ(plain.gestures, std::nullopt);
    EXPECT_EQ(plain.scrolling, std::nullopt);
    EXPECT_EQ(plain.hyper, std::nullopt);

    DeviceProfile withEmptyRules = plain;
    withEmptyRules.rules = std::vector<Rule>{};
    EXPECT_NE(plain, withEmptyRules);

    DeviceProfile withEmptyScrolling = plain;
    withEmptyScrolling.scrolling = ScrollSettings{};
    EXPECT_NE(plain, withEmptyScrolling);
}

TEST(ConfigRecords, DeviceMatchComparesCaseThenPayload) {
    const DeviceMatch mouse = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
    expectHashesEqualWhenEqual(mouse, DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}));
    EXPECT_NE(mouse, DeviceMatch::builtIn());
    EXPECT_NE(mouse, DeviceMatch::device(VendorID{0x046D}, ProductID{0xB024}));
    EXPECT_NE(DeviceMatch::device(VendorID{0}, ProductID{0}), DeviceMatch::builtIn());
    expectHashesEqualWhenEqual(DeviceMatch::builtIn(), DeviceMatch::builtIn());
    const std::unordered_set<DeviceMatch> set{mouse, DeviceMatch::builtIn(), mouse};
    EXPECT_EQ(set.size(), 2u);
    ASSERT_NE(as<DeviceMatch::Device>(mouse), nullptr);
    EXPECT_EQ(as<DeviceMatch::Device>(mouse)->product, ProductID{0xB023});
    EXPECT_TRUE(is<DeviceMatch::BuiltIn>(DeviceMatch::builtIn()));
}

TEST(ConfigRecords, EnumerationTextsAreExactAndCaseSensitive) {
    EXPECT_EQ(fromText<GestureFire>("pastDistance"), GestureFire::pastDistance);
    EXPECT_EQ(fromText<GestureFire>("onRelease"), GestureFire::onRelease);
    EXPECT_EQ(fromText<HoldScrollDirection>("grab"), HoldScrollDirection::grab);
    EXPECT_EQ(fromText<HoldScrollDirection>("wheel"), HoldScrollDirection::wheel);
    EXPECT_EQ(fromText<HyperTap>("nothing"), HyperTap::nothing);
    EXPECT_EQ(fromText<DeviceKind>("keyboard"), DeviceKind::keyboard);
    EXPECT_EQ(fromText<DeviceKind>("mouse"), DeviceKind::mouse);
    EXPECT_EQ(fromText<GestureFire>("PastDistance"), std::nullopt);
    EXPECT_EQ(fromText<HoldScrollDirection>("Grab"), std::nullopt);
    EXPECT_EQ(fromText<HyperTap>("none"), std::nullopt);
    EXPECT_EQ(fromText<DeviceKind>(""), std::nullopt);
    EXPECT_EQ(fromText<Direction>("up"), std::nullopt);
    EXPECT_EQ(fromText<Direction>("Up"), Direction::up);

    for (auto value : allCases<GestureFire>())
        EXPECT_EQ(fromText<GestureFire>(toText(value)), value);
    for (auto value : allCases<DeviceKind>()) EXPECT_EQ(fromText<DeviceKind>(toText(value)), value);
    for (auto value : allCases<Direction>()) EXPECT_EQ(fromText<Direction>(toText(value)), value);
    EXPECT_EQ(allCases<HoldScrollDirection>().front(), HoldScrollDirection::grab);
    EXPECT_EQ(allCases<HoldScrollDirection>().size(), 2u);
}

TEST(Rules, HoldMoveTriggersCompareByDirection) {
    const Trigger any = Trigger::holdMove();
    EXPECT_NE(any, Trigger::holdMove(Direction::up));
    EXPECT_NE(Trigger::holdMove(Direction::up), Trigger::holdMove(Direction::down));
    expectHashesEqualWhenEqual(Trigger::holdMove(Direction::left),
                               Trigger::holdMove(Direction::left));
    expectHashesEqualWhenEqual(any, Trigger::holdMove());
    EXPECT_NE(Trigger::click(), Trigger::hold());
    const std::unordered_set<Trigger> set{any, Trigger::holdMove(Direction::up),
                                          Trigger::holdMove(Direction::down), Trigger::click()};
    EXPECT_EQ(set.size(), 4u);
}

TEST(Rules, ActionsCompareCaseThenPayload) {
    const Chord copy{KeyCode{0x08}, Modifiers::command};
    expectHashesEqualWhenEqual(Action::shortcut(copy),
                               Action::shortcut(Chord{KeyCode{0x08}, Modifiers::command}));
    EXPECT_NE(Action::shortcut(copy), Action::shortcut(Chord{KeyCode{0x09}, Modifiers::command}));
    EXPECT_NE(Action::shortcut(copy),
              Action::shortcut(Chord{KeyCode{0x08}, Modifiers::command | Modifiers::shift}));
    EXPECT_NE(Action::system(SystemAction::appExpose), Action::system(SystemAction::spaceLeft));
    EXPECT_NE(Action::reverse(), Action::scroll());
    expectHashesEqualWhenEqual(Action::modifier(HeldModifier::leftShift),
                               Action::modifier(HeldModifier::leftShift));
    const std::unordered_set<Action> set{Action::reverse(), Action::scroll(),
                                         Action::shortcut(copy), Action::shortcut(copy)};
    EXPECT_EQ(set.size(), 3u);
}

TEST(Rules, ControlsKeepOutOfRangeButtonsAsValues) {
    EXPECT_EQ(as<Control::Button>(Control::button(0))->number, 0);
    EXPECT_EQ(as<Control::Button>(Control::button(32))->number, 32);
    EXPECT_NE(Control::button(1), Control::button(2));
    EXPECT_NE(Control::hidpp(CID{0xC3}), Control::hidpp(CID{0xC4}));
    expectHashesEqualWhenEqual(Control::key(HIDUsage{0x39}), Control::key(HIDUsage{0x39}));
    expectHashesEqualWhenEqual(Control::thumbWheel(), Control::thumbWheel());
    const Rule rule{Control::hidpp(CID{0xC3}), Trigger::click(),
                    Action::system(SystemAction::missionControl)};
    Rule other = rule;
    EXPECT_EQ(rule, other);
    other.action = Action::system(SystemAction::appExpose);
    EXPECT_NE(rule, other);
}

TEST(Rules, SystemActionRawValuesAndNames) {
    EXPECT_EQ(systemActionFromRawValue(32), SystemAction::missionControl);
    EXPECT_EQ(systemActionFromRawValue(33), SystemAction::appExpose);
    EXPECT_EQ(systemActionFromRawValue(79), SystemAction::spaceLeft);
    EXPECT_EQ(systemActionFromRawValue(81), SystemAction::spaceRight);
    EXPECT_EQ(systemActionFromRawValue(34), std::nullopt);
    EXPECT_EQ(systemActionFromRawValue(32 + 65536), std::nullopt);
    EXPECT_EQ(rawValue(SystemAction::spaceRight), 81);
    const auto cases = allCases<SystemAction>();
    ASSERT_EQ(cases.size(), 4u);
    EXPECT_EQ(cases[0], SystemAction::missionControl);
    EXPECT_EQ(cases[3], SystemAction::spaceRight);
    EXPECT_EQ(toText(SystemAction::appExpose), "appExpose");
    EXPECT_EQ(fromText<SystemAction>("spaceLeft"), SystemAction::spaceLeft);
    EXPECT_EQ(fromText<SystemAction>("SpaceLeft"), std::nullopt);
}

TEST(Capabilities, ControlLookUpAndEquality) {
    EXPECT_EQ(HIDPPCapabilities{}.control(CID{0xC3}), std::nullopt);
    const HIDPPCapabilities caps{
        {{CID{0xC3}, true, true}, {CID{0xC4}, true, false}, {CID{0xC3}, false, false}}, true};
    EXPECT_EQ(caps.control(CID{0xC3}), (HIDPPCapabilities::Control{CID{0xC3}, true, true}));
    EXPECT_EQ(caps.control(CID{0xC4}), (HIDPPCapabilities::Control{CID{0xC4}, true, false}));
    EXPECT_EQ(caps.control(CID{0x52}), std::nullopt);

    HIDPPCapabilities reordered = caps;
    std::swap(reordered.controls[0], reordered.controls[1]);
    EXPECT_NE(caps, reordered);
    HIDPPCapabilities noWheel = caps;
    noWheel.thumbWheel = false;
    EXPECT_NE(caps, noWheel);
}

TEST(ConfigErrors, PathAndDescription) {
    EXPECT_EQ(ConfigError::renderPath({"devices", 0, "rules", 2, "when"}),
              "devices[0].rules[2].when");
    EXPECT_EQ(ConfigError::renderPath({}), "");
    EXPECT_EQ(ConfigError::renderPath({std::size_t{3}}), "[3]");
    EXPECT_EQ(ConfigError::renderPath({"devices", std::size_t{12}, "scrolling", "smooth", "curve",
                                       2, "stepsPerSecond"}),
              "devices[12].scrolling.smooth.curve[2].stepsPerSecond");
    EXPECT_EQ((ConfigError{"version", "version 2 is not supported"}).description(),
              "version: version 2 is not supported");
    EXPECT_EQ((ConfigError{"", "not valid JSON. oops"}).description(), "not valid JSON. oops");
    EXPECT_NE((ConfigError{"a", "m"}), (ConfigError{"b", "m"}));
    EXPECT_EQ(PathKey(2).intValue, 2);
    EXPECT_EQ(PathKey("2").intValue, std::nullopt);
}

}  // namespace
}  // namespace tindlewave
