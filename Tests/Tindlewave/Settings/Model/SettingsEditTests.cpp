#include <gtest/gtest.h>

#include "Settings/Model/Edits/SettingsEdit.h"
#include "Settings/Model/Edits/Trimmed.h"

namespace tindlewave {
namespace {

const DeviceMatch master = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
const DeviceMatch otherLogitech = DeviceMatch::device(VendorID{0x046D}, ProductID{0x4082});
const DeviceMatch plainMouse = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});
const DeviceMatch keyboard = DeviceMatch::builtIn();

const Rule gestureClick{Control::hidpp(CID{0xC3}), Trigger::click(),
                        Action::system(SystemAction::missionControl)};
const Rule gestureHold{Control::hidpp(CID{0xC3}), Trigger::hold(),
                       Action::modifier(HeldModifier::leftCommand)};
const Rule backClick{Control::button(3), Trigger::click(), Action::system(SystemAction::spaceLeft)};

Config sample() {
    Config config = Config::empty();
    DeviceProfile mouse{plainMouse, "Desk mouse"};
    mouse.rules = std::vector<Rule>{backClick};
    mouse.scrolling = ScrollSettings{};
    config.devices.push_back(mouse);
    config.devices.push_back(DeviceProfile{keyboard, "Laptop"});
    config.ignored.push_back(otherLogitech);
    return config;
}

TEST(SettingsEdit, EveryRefusalLeavesTheConfigurationEqual) {
    Config config = sample();
    DeviceProfile bare{master, "Bare"};  // no rules, no scrolling
    config.devices.push_back(bare);
    const DeviceMatch unknown = DeviceMatch::device(VendorID{0x9999}, ProductID{0x9999});
    const RuleKey missingKey{Control::button(4), Trigger::click()};
    const std::vector<SettingsEdit> refused{
        SettingsEdit::addDevice(unknown, " \n\t\u00A0", ProfileSource::blank()),
        SettingsEdit::addDevice(otherLogitech, "Ignored", ProfileSource::blank()),
        SettingsEdit::addDevice(plainMouse, "Again", ProfileSource::blank()),
        SettingsEdit::addDevice(otherLogitech, "x", ProfileSource::preset(DevicePreset::mxMaster3)),
        SettingsEdit::addDevice(unknown, "Wrong model", ProfileSource::preset(DevicePreset::mxMaster3)),
        SettingsEdit::addDevice(keyboard, "Wrong model", ProfileSource::preset(DevicePreset::mouse24G)),
        SettingsEdit::addDevice(unknown, "Copy", ProfileSource::copy(otherLogitech)),
        SettingsEdit::rename(plainMouse, "  \r\n"),
        SettingsEdit::rename(unknown, "Name"),
        SettingsEdit::hyperOn(unknown, true),
        SettingsEdit::kind(unknown, DeviceKind::mouse),
        SettingsEdit::addRule(unknown, backClick),
        SettingsEdit::replaceRule(plainMouse, missingKey, gestureClick),
        SettingsEdit::replaceRule(master, RuleKey::of(backClick), gestureClick),  // rules absent
        SettingsEdit::replaceRule(unknown, RuleKey::of(backClick), gestureClick),
        SettingsEdit::removeRule(unknown, RuleKey::of(backClick)),
        SettingsEdit::removeRule(plainMouse, missingKey),
        SettingsEdit::removeRule(master, RuleKey::of(backClick)),
        SettingsEdit::gestureFire(unknown, GestureFire::onRelease),
        SettingsEdit::gestureDistance(unknown, 300),
        SettingsEdit::smooth(unknown, SmoothScroll::defaults()),
        SettingsEdit::smooth(master, std::nullopt),  // no scrolling stays no scrolling
        SettingsEdit::smoothKnob(plainMouse, SmoothKnob::brake, 3),  // scrolling without smooth
        SettingsEdit::smoothKnob(master, SmoothKnob::duration, 3),   // no scrolling
        SettingsEdit::curve(plainMouse, SpeedCurve::defaults()),
        SettingsEdit::curve(master, SpeedCurve::defaults()),
        SettingsEdit::holdToScroll(unknown, HoldToScroll::defaults()),
        SettingsEdit::forget(unknown),
        SettingsEdit::ignore(plainMouse, true),     // configured
        SettingsEdit::ignore(otherLogitech, true),  // already there
        SettingsEdit::ignore(unknown, false),
    };
    for (const SettingsEdit& edit : refused) {
        EXPECT_EQ(edit.applied(config), config) << edit.logDescription();
    }
    EXPECT_EQ(SettingsEdit::hyperOn(master, true).applied(Config::empty()), Config::empty());
}

TEST(SettingsEdit, HyperSettings) {
    const HIDUsage f5 = *HIDUsage::named("f5");
    Config config = SettingsEdit::hyperKey(f5).applied(sample());
    EXPECT_EQ(config.hyper.key, f5);
    config = SettingsEdit::hyperEnabled(false).applied(config);
    EXPECT_FALSE(config.hyper.enabled);
    config = SettingsEdit::hyperOn(keyboard, true).applied(config);
    EXPECT_EQ(config.devices[1].hyper, true);
    Config expected = sample();
    expected.hyper = {false, f5, HyperTap::nothing};
    expected.devices[1].hyper = true;
    EXPECT_EQ(config, expected);
}

TEST(SettingsEdit, AddDeviceFromEachSource) {
    const Config start = sample();
    Config config =
        SettingsEdit::addDevice(master, "  MX  \n", ProfileSource::preset(DevicePreset::mxMaster3))
            .applied(start);
    ASSERT_EQ(config.devices.size(), 3u);
    EXPECT_EQ(config.devices.back(), presetProfile(DevicePreset::mxMaster3, master, "MX"));

    const DeviceMatch second = DeviceMatch::device(VendorID{0x1111}, ProductID{0x2222});
    config = SettingsEdit::addDevice(second, "Twin", ProfileSource::copy(plainMouse)).applied(config);
    DeviceProfile twin = start.devices[0];
    twin.match = second;
    twin.name = "Twin";
    EXPECT_EQ(config.devices.back(), twin);

    const DeviceMatch third = DeviceMatch::device(VendorID{0x1111}, ProductID{0x3333});
    config = SettingsEdit::addDevice(third, "\u3000New\u2029", ProfileSource::blank()).applied(config);
    EXPECT_EQ(config.devices.back(), (DeviceProfile{third, "New"}));

    // The keyboard preset fits any device; the list keeps its order and grows at the end.
    const DeviceMatch board = DeviceMatch::device(VendorID{0x05AC}, ProductID{0x0250});
    config = SettingsEdit::addDevice(board, "Board", ProfileSource::preset(DevicePreset::keyboard))
                 .applied(config);
    ASSERT_EQ(config.devices.size(), 6u);
    EXPECT_EQ(config.devices[0], start.devices[0]);
    EXPECT_EQ(config.devices.back().hyper, true);
}

TEST(SettingsEdit, RenameKindAndTwinProfiles) {
    Config config = sample();
    config.devices.push_back(DeviceProfile{plainMouse, "Second twin"});
    config = SettingsEdit::rename(plainMouse, "  Work mouse ").applied(config);
    config = SettingsEdit::kind(plainMouse, DeviceKind::keyboard).applied(config);
    EXPECT_EQ(config.devices[0].name, "Work mouse");
    EXPECT_EQ(config.devices[0].kind, DeviceKind::keyboard);
    EXPECT_EQ(config.devices[2], (DeviceProfile{plainMouse, "Second twin"}));

    config = SettingsEdit::forget(plainMouse).applied(config);
    ASSERT_EQ(config.devices.size(), 1u);
    EXPECT_EQ(config.devices[0].match, keyboard);
    EXPECT_EQ(config.ignored, sample().ignored);
}

TEST(SettingsEdit, RulesAddReplaceRemove) {
    Config config = SettingsEdit::addRule(keyboard, gestureClick).applied(sample());
    EXPECT_EQ(config.devices[1].rules, std::vector<Rule>{gestureClick});

    // Twins: two rules with one control and trigger.
    const Rule twin{gestureClick.control, gestureClick.trigger, Action::reverse()};
    config = SettingsEdit::addRule(keyboard, gestureHold).applied(config);
    config = SettingsEdit::addRule(keyboard, twin).applied(config);
    const Rule replacement{gestureClick.control, gestureClick.trigger, Action::scroll()};
    Config replaced =
        SettingsEdit::replaceRule(keyboard, RuleKey::of(gestureClick), replacement).applied(config);
    EXPECT_EQ(replaced.devices[1].rules, (std::vector<Rule>{replacement, gestureHold, twin}));

    Config removed = SettingsEdit::removeRule(keyboard, RuleKey::of(twin)).applied(config);
    EXPECT_EQ(removed.devices[1].rules, std::vector<Rule>{gestureHold});
    removed = SettingsEdit::removeRule(keyboard, RuleKey::of(gestureHold)).applied(removed);
    ASSERT_TRUE(removed.devices[1].rules.has_value());
    EXPECT_TRUE(removed.devices[1].rules->empty());
}

TEST(SettingsEdit, GesturesStartFromTheDefaults) {
    Config config = SettingsEdit::gestureDistance(keyboard, 300).applied(sample());
    EXPECT_EQ(config.devices[1].gestures, (GestureSettings{GestureFire::pastDistance, 300}));
    config = SettingsEdit::gestureFire(plainMouse, GestureFire::onRelease).applied(config);
    EXPECT_EQ(config.devices[0].gestures, (GestureSettings{GestureFire::onRelease, 120}));
    config = SettingsEdit::gestureDistance(plainMouse, 40).applied(config);
    EXPECT_EQ(config.devices[0].gestures, (GestureSettings{GestureFire::onRelease, 40}));
}

TEST(SettingsEdit, SmoothScrollingAndItsKnobs) {
    Config config = SettingsEdit::smooth(keyboard, SmoothScroll::defaults()).applied(sample());
    ASSERT_TRUE(config.devices[1].scrolling);
    EXPECT_EQ(*config.devices[1].scrolling, ScrollSettings{SmoothScroll::defaults()});

    config = SettingsEdit::smoothKnob(keyboard, SmoothKnob::duration, 7).applied(config);
    config = SettingsEdit::smoothKnob(keyboard, SmoothKnob::brake, 0.5).applied(config);
    config = SettingsEdit::smoothKnob(keyboard, SmoothKnob::easeIn, 120).applied(config);
    const SpeedCurve curve = *SpeedCurve::make({{1, 20}, {100, 5000}});
    config = SettingsEdit::curve(keyboard, curve).applied(config);
    EXPECT_EQ(config.devices[1].scrolling->smooth, (SmoothScroll{7, 0.5, 120, curve}));

    config = SettingsEdit::smooth(keyboard, std::nullopt).applied(config);
    EXPECT_EQ(config.devices[1].scrolling, ScrollSettings{});

    config = SettingsEdit::holdToScroll(keyboard, {2, HoldScrollDirection::wheel, false}).applied(config);
    config = SettingsEdit::holdToScroll(master, HoldToScroll::defaults()).applied(config);
    EXPECT_EQ(config.devices[1].scrolling->holdToScroll,
              (HoldToScroll{2, HoldScrollDirection::wheel, false}));
    // From nothing, hold-to-scroll makes scrolling settings that hold only it.
    config = SettingsEdit::holdToScroll(keyboard, HoldToScroll::defaults())
                 .applied(SettingsEdit::forget(plainMouse).applied(sample()));
    EXPECT_EQ(config.devices[0].scrolling,
              (ScrollSettings{std::nullopt, std::nullopt, HoldToScroll::defaults()}));
}

TEST(SettingsEdit, IgnoreBothWays) {
    const DeviceMatch unknown = DeviceMatch::device(VendorID{0x9999}, ProductID{0x9999});
    Config config = SettingsEdit::ignore(unknown, true).applied(sample());
    EXPECT_EQ(config.ignored, (std::vector<DeviceMatch>{otherLogitech, unknown}));
    config.ignored.push_back(otherLogitech);
    config = SettingsEdit::ignore(otherLogitech, false).applied(config);
    EXPECT_EQ(config.ignored, std::vector<DeviceMatch>{unknown});
    EXPECT_EQ(config.devices, sample().devices);
}

TEST(SettingsEdit, SmoothKnobTexts) {
    EXPECT_EQ(fromText<SmoothKnob>("easeIn"), SmoothKnob::easeIn);
    EXPECT_EQ(fromText<SmoothKnob>("EaseIn"), std::nullopt);
    EXPECT_EQ(fromText<SmoothKnob>(""), std::nullopt);
    ASSERT_EQ(allCases<SmoothKnob>().size(), 3u);
    for (SmoothKnob knob : allCases<SmoothKnob>()) {
        EXPECT_EQ(fromText<SmoothKnob>(toText(knob)), knob);
    }
    const SmoothScroll smooth{5, 3, 90, SpeedCurve::defaults()};
    EXPECT_EQ(knobValue(smooth, SmoothKnob::duration), 5);
    EXPECT_EQ(knobValue(smooth, SmoothKnob::brake), 3);
    EXPECT_EQ(knobValue(smooth, SmoothKnob::easeIn), 90);
}

TEST(SettingsEdit, LogDescriptionOfEveryForm) {
    const std::string m = R"({"product":"0xB023","vendor":"0x046D"})";
    const std::string k = R"({"builtIn":true})";
    const SpeedCurve curve = *SpeedCurve::make({{1, 40}, {120, 9000}});
    const std::string curveText =
        R"([{"pointsPerSecond":40,"stepsPerSecond":1},{"pointsPerSecond":9000,"stepsPerSecond":120}])";
    const std::string control = R"({"hidpp":"0xC3"})";
    const std::string click = R"({"control":{"hidpp":"0xC3"},"do":"missionControl","when":"click"})";
    const std::pair<SettingsEdit, std::string> table[] = {
        {SettingsEdit::hyperKey(*HIDUsage::named("capsLock")), "hyper.key = capsLock"},
        {SettingsEdit::hyperKey(HIDUsage{0xFFFF}), "hyper.key = ?"},
        {SettingsEdit::hyperEnabled(true), "hyper.enabled = true"},
        {SettingsEdit::hyperEnabled(false), "hyper.enabled = false"},
        {SettingsEdit::addDevice(master, "MX", ProfileSource::preset(DevicePreset::mxMaster3)),
         "devices += " + m + " from preset mxMaster3"},
        {SettingsEdit::addDevice(master, "MX", ProfileSource::preset(DevicePreset::mouse24G)),
         "devices += " + m + " from preset mouse24G"},
        {SettingsEdit::addDevice(master, "MX", ProfileSource::copy(keyboard)),
         "devices += " + m + " from copy of " + k},
        {SettingsEdit::addDevice(keyboard, "Laptop", ProfileSource::blank()), "devices += " + k + " blank"},
        {SettingsEdit::hyperOn(keyboard, true), "devices[" + k + "].hyper = true"},
        {SettingsEdit::rename(master, " My \"MX\"/3 "),
         "devices[" + m + R"(].name = " My \"MX\"/3 ")"},
        {SettingsEdit::kind(master, DeviceKind::mouse), "devices[" + m + "].kind = mouse"},
        {SettingsEdit::kind(master, DeviceKind::keyboard), "devices[" + m + "].kind = keyboard"},
        {SettingsEdit::addRule(master, gestureClick), "devices[" + m + "].rules += " + click},
        {SettingsEdit::replaceRule(master, {Control::hidpp(CID{0xC3}), Trigger::holdMove(Direction::up)},
                                   gestureClick),
         "devices[" + m + "].rules[" + control + " holdMoveUp] = " + click},
        {SettingsEdit::removeRule(master, {Control::hidpp(CID{0xC3}), Trigger::holdMove()}),
         "devices[" + m + "].rules -= " + control + " holdMove"},
        {SettingsEdit::gestureFire(master, GestureFire::onRelease),
         "devices[" + m + "].gestures.fire = onRelease"},
        {SettingsEdit::gestureDistance(master, 120), "devices[" + m + "].gestures.distance = 120"},
        {SettingsEdit::smooth(master, std::nullopt), "devices[" + m + "].scrolling.smooth = none"},
        {SettingsEdit::smooth(master, SmoothScroll{4, 2, 60, curve}),
         "devices[" + m +
             R"(].scrolling.smooth = {"brake":2,"curve":)" + curveText + R"(,"duration":4,"easeIn":60})"},
        {SettingsEdit::smoothKnob(master, SmoothKnob::duration, 0.3),
         "devices[" + m + "].scrolling.smooth.duration = 0.3"},
        {SettingsEdit::smoothKnob(master, SmoothKnob::brake, 2), "devices[" + m + "].scrolling.smooth.brake = 2"},
        {SettingsEdit::smoothKnob(master, SmoothKnob::easeIn, 1234567.5),
         "devices[" + m + "].scrolling.smooth.easeIn = 1234567.5"},
        {SettingsEdit::curve(master, curve),
         "devices[" + m + "].scrolling.smooth.curve = " + curveText},
        {SettingsEdit::holdToScroll(master, HoldToScroll::defaults()),
         "devices[" + m +
             R"(].scrolling.holdToScroll = {"direction":"grab","momentum":true,"speed":1})"},
        {SettingsEdit::forget(master), "devices -= " + m},
        {SettingsEdit::ignore(master, true), "ignored += " + m},
        {SettingsEdit::ignore(master, false), "ignored -= " + m},
    };
    for (const auto& [edit, text] : table) EXPECT_EQ(edit.logDescription(), text);
}

TEST(SettingsEdit, LogDescriptionOfAnUnwritableValueIsAQuestionMark) {
    EXPECT_EQ(SettingsEdit::rename(keyboard, "bad \xFF name").logDescription(),
              R"(devices[{"builtIn":true}].name = ?)");
}

TEST(Trimmed, WhiteSpaceAndLineBreaksOfEveryKind) {
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed(" \t\r\n\v\f"), "");
    EXPECT_EQ(trimmed("\u00A0\u2003a b\u2028\u3000\u0085"), "a b");
    EXPECT_EQ(trimmed("  Überall  "), "Überall");
    // Bytes that are not UTF-8 are text, not space.
    EXPECT_EQ(trimmed(" \xFF "), "\xFF");
    EXPECT_EQ(trimmed("\xA0 x"), "\xA0 x");
    EXPECT_EQ(trimmed("x \xC2"), "x \xC2");
}

}  // namespace
}  // namespace tindlewave
