#include <gtest/gtest.h>

#include "Settings/Model/Scrolling/ScrollingRules.h"

namespace tindlewave {
namespace {

const DeviceMatch mouse = DeviceMatch::device(VendorID{0x1234}, ProductID{0x0001});

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i ? (i + 1 == names.size() ? " and " : ", ") : "") + names[i];
    return text;
}

SettingsDevice configured(std::vector<Rule> rules) {
    DeviceProfile profile{.match = mouse, .name = "Mouse"};
    profile.rules = std::move(rules);
    return SettingsDevice{.match = mouse, .name = "Mouse", .profile = profile};
}

TEST(ScrollingRules, ButtonsThatScrollInRuleOrder) {
    const auto device = configured(
        {Rule{Control::button(2), Trigger::holdMove(), Action::scroll()},
         Rule{Control::button(4), Trigger::click(), Action::system(SystemAction::spaceLeft)},
         Rule{Control::button(3), Trigger::hold(), Action::scroll()}});
    const auto names = ScrollingRules::scrollButtons(device);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(
        ScrollingRules::holdExplanation(names, joined),
        "Buttons that scroll: Middle button and Back button. Change them on the Buttons tab.");
    const auto none = configured(
        {Rule{Control::button(4), Trigger::holdMove(), Action::system(SystemAction::spaceLeft)}});
    EXPECT_EQ(ScrollingRules::holdExplanation(ScrollingRules::scrollButtons(none), joined),
              "No button scrolls yet. On the Buttons tab, pick Hold and move, then Scroll, for any "
              "button.");
    EXPECT_TRUE(
        ScrollingRules::scrollButtons(SettingsDevice{.match = mouse, .name = "Mouse"}).empty());
}

TEST(ScrollingRules, ResetIsOfferedExactlyAwayFromTheDefaults) {
    EXPECT_FALSE(ScrollingRules::canReset(SmoothScroll::defaults()));
    EXPECT_TRUE(ScrollingRules::canReset(std::nullopt));
    SmoothScroll other = SmoothScroll::defaults();
    other.brake = 2.1;
    EXPECT_TRUE(ScrollingRules::canReset(other));
    other = SmoothScroll::defaults();
    auto points = other.curve.points();
    points.back().pointsPerSecond += 1;
    other.curve = SpeedCurve::make(points).value();
    EXPECT_TRUE(ScrollingRules::canReset(other));
}

TEST(ScrollingRules, HoldEditsCarryAllThreeFields) {
    const SettingsDevice device = configured({});
    const HoldToScroll hold = ScrollingRules::hold(device);
    EXPECT_EQ(hold, HoldToScroll::defaults());
    EXPECT_EQ(
        ScrollingRules::holdDirection(mouse, hold, HoldScrollDirection::wheel),
        SettingsEdit::holdToScroll(mouse, HoldToScroll{1.0, HoldScrollDirection::wheel, true}));
    EXPECT_EQ(
        ScrollingRules::holdMomentum(mouse, {2, HoldScrollDirection::wheel, true}, false),
        SettingsEdit::holdToScroll(mouse, HoldToScroll{2, HoldScrollDirection::wheel, false}));
    EXPECT_EQ(
        ScrollingRules::holdSpeed(mouse, hold, 1.5),
        SettingsEdit::holdToScroll(mouse, HoldToScroll{1.5, HoldScrollDirection::grab, true}));
    EXPECT_EQ(ScrollingRules::smooth(device), std::nullopt);
}

}  // namespace
}  // namespace tindlewave
