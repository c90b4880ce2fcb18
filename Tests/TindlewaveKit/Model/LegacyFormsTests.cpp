#include <gtest/gtest.h>

#include <cmath>

#include "Model/ConfigCodec.h"
#include "TindlewaveKit/Model/ConfigTestSupport.h"

namespace tindlewave {
namespace {

using testing::fileWithDevice;
using testing::outcome;

using Points = std::vector<std::pair<double, double>>;

Points curveOf(const std::string& smoothMembers) {
    auto config = ConfigCodec::decode(
        fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2)" +
                       (smoothMembers.empty() ? "" : ", " + smoothMembers) + "}}"));
    EXPECT_TRUE(config.ok()) << config.error().description();
    Points points;
    if (!config.ok()) return points;
    for (const auto& point : config->devices[0].scrolling->smooth->curve.points()) {
        points.emplace_back(point.stepsPerSecond, point.pointsPerSecond);
    }
    return points;
}

void expectCurve(const Points& actual, const Points& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(actual[i].first, expected[i].first) << i;
        EXPECT_NEAR(actual[i].second, expected[i].second, 0.01) << i;
    }
}

TEST(LegacyForms, OldSmoothKeysBecomeACurve) {
    expectCurve(curveOf(R"("speed": 40)"),
                {{1, 80}, {2.5, 200}, {5, 300}, {15, 700}, {40, 1700}, {150, 6100}});
    expectCurve(
        curveOf(R"("speed": 40, "acceleration": true)"),
        {{1, 80}, {2.5, 200}, {4, 260}, {5, 316.67}, {15, 1127.78}, {40, 5100}, {150, 18300}});
    expectCurve(curveOf(R"("startBoost": 1)"),
                {{1, 40}, {5, 200}, {15, 600}, {40, 1600}, {150, 6000}});
    expectCurve(curveOf(R"("startBoost": 1, "acceleration": {"from": 10, "to": 10, "max": 2})"),
                {{1, 40}, {5, 200}, {10, 800}, {15, 1200}, {40, 3200}, {150, 12000}});
    expectCurve(curveOf(R"("startBoost": 1, "acceleration": false)"),
                {{1, 40}, {5, 200}, {15, 600}, {40, 1600}, {150, 6000}});
    EXPECT_EQ(curveOf(""), curveOf(R"("curve": [{"stepsPerSecond": 1, "pointsPerSecond": 40},
        {"stepsPerSecond": 5, "pointsPerSecond": 250}, {"stepsPerSecond": 15, "pointsPerSecond": 900},
        {"stepsPerSecond": 40, "pointsPerSecond": 2800}, {"stepsPerSecond": 120, "pointsPerSecond": 9000}])"));
}

TEST(LegacyForms, ExtremeOldValuesStillGiveAValidCurve) {
    // The speed times the acceleration overflows, and no start boost leaves a zero factor.
    const Points points = curveOf(
        R"("speed": 1e308, "startBoost": 0, "acceleration": {"from": 1, "to": 2, "max": 1e308})");
    ASSERT_FALSE(points.empty());
    for (const auto& [rate, speed] : points) {
        EXPECT_TRUE(std::isfinite(speed)) << rate;
        EXPECT_TRUE(speed >= 10 && speed <= 30000) << rate << " " << speed;
    }
}

TEST(LegacyForms, BadOldValuesAndTheWalk) {
    const auto smooth = [](const std::string& members) {
        return outcome(fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2, )" +
                                      members + "}}"));
    };
    const std::string at = "devices[0].scrolling.smooth.";
    EXPECT_EQ(smooth(R"("speed": "fast")"), at + "speed: expected a number");
    EXPECT_EQ(smooth(R"("acceleration": 3)"), at + "acceleration: expected an object");
    EXPECT_EQ(smooth(R"("acceleration": {"from": 4, "to": 40})"),
              at + "acceleration.max: missing key");
    EXPECT_EQ(smooth(R"("acceleration": {"from": 4, "to": 40, "max": 3, "curve": 1})"),
              at + "acceleration.curve: unknown key");
    EXPECT_EQ(smooth(R"("startBoost": null, "speed": 30)"),
              at + "startBoost: null is not allowed. Leave the key out instead");
    EXPECT_EQ(smooth(R"("speed": 40, "curve": [{"stepsPerSecond": 1, "pointsPerSecond": 40},
                        {"stepsPerSecond": 5, "pointsPerSecond": 250}])"),
              at + "speed: unknown key");
    // Old keys are known only where they used to be.
    EXPECT_EQ(outcome(fileWithDevice(R"("speed": 40)")), "devices[0].speed: unknown key");
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"rightButtonPan": {}})")),
              "devices[0].scrolling.rightButtonPan.momentum: missing key");
    EXPECT_EQ(
        outcome(fileWithDevice(R"("scrolling": {"rightButtonPan": {"momentum": true, "x": 1}})")),
        "devices[0].scrolling.rightButtonPan.x: unknown key");
}

TEST(LegacyForms, RightButtonPanBecomesARule) {
    const Rule pan{Control::button(1), Trigger::holdMove(), Action::scroll()};
    auto config = ConfigCodec::decode(
        fileWithDevice(R"("scrolling": {"rightButtonPan": {"momentum": false}})"));
    ASSERT_TRUE(config.ok()) << config.error().description();
    const DeviceProfile& device = config->devices[0];
    EXPECT_EQ(device.rules, std::vector{pan});
    EXPECT_EQ(device.scrolling->holdToScroll,
              (HoldToScroll{1.0, HoldScrollDirection::grab, false}));
    const std::string bytes = *ConfigCodec::encode(*config);
    EXPECT_EQ(bytes.find("rightButtonPan"), std::string::npos);
    EXPECT_NE(bytes.find(R"("do" : "scroll",)"), std::string::npos);
    EXPECT_EQ(ConfigCodec::decode(bytes)->devices[0], device);

    // An existing pan rule and hold-to-scroll setting stay as they are.
    config = ConfigCodec::decode(fileWithDevice(
        R"("rules": [{"control": {"button": 1}, "when": "holdMove", "do": "scroll"}],
           "scrolling": {"rightButtonPan": {"momentum": true},
                         "holdToScroll": {"speed": 2, "direction": "wheel", "momentum": false}})"));
    ASSERT_TRUE(config.ok()) << config.error().description();
    EXPECT_EQ(config->devices[0].rules, std::vector{pan});
    EXPECT_EQ(config->devices[0].scrolling->holdToScroll,
              (HoldToScroll{2, HoldScrollDirection::wheel, false}));

    // A hold rule on the right button conflicts with the pan rule that is added after it.
    EXPECT_EQ(outcome(fileWithDevice(
                  R"("rules": [{"control": {"button": 1}, "when": "hold",
                                "do": {"modifier": "rightOption"}}],
                     "scrolling": {"rightButtonPan": {"momentum": true}})")),
              "devices[0].rules[1].when: \"holdMove\" cannot share a control with rules[0], "
              "because a control that holds keys holds them from its press, so its movement only "
              "moves the pointer");
}

}  // namespace
}  // namespace tindlewave
