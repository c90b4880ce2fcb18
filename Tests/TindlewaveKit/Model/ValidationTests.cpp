#include <gtest/gtest.h>

#include "Model/ConfigCodec.h"
#include "TindlewaveKit/Model/ConfigTestSupport.h"

namespace tindlewave {
namespace {

using testing::fileWith;
using testing::fileWithDevice;
using testing::fileWithRules;
using testing::outcome;

std::string deviceAt(const std::string& match, const std::string& members = "") {
    return R"({"match": )" + match + R"(, "name": "d")" + (members.empty() ? "" : ", " + members) +
           "}";
}

const std::string mouse = R"({"vendor": "0x046D", "product": "0xB023"})";
const std::string other = R"({"vendor": "0x046D", "product": "0x4082"})";
const std::string builtIn = R"({"builtIn": true})";

std::string rule(const std::string& control, const std::string& when, const std::string& action) {
    return R"({"control": )" + control + R"(, "when": ")" + when + R"(", "do": )" + action + "}";
}

TEST(ConfigValidation, VersionAndDevices) {
    EXPECT_EQ(outcome(R"({"version": 2, "hyper": {"key": "a", "onTap": "nothing"},
                          "devices": [], "ignored": []})"),
              "version: version 2 is not supported");
    EXPECT_EQ(outcome(fileWith("[" + deviceAt(builtIn) + "," + deviceAt(mouse) + "," +
                               deviceAt(other) + "," + deviceAt(builtIn) + "]")),
              "devices[3].match: the same device as devices[0]");
    EXPECT_EQ(outcome(fileWith("[" + deviceAt(mouse) + "," + deviceAt(mouse) + "," +
                               deviceAt(mouse) + "]")),
              "devices[1].match: the same device as devices[0]");
    EXPECT_EQ(
        outcome(fileWith("[" + deviceAt(other) + "," + deviceAt(mouse) + "]", "[" + mouse + "]")),
        "devices[1].match: this device is also in ignored");
    EXPECT_EQ(outcome(fileWith("[]", "[" + mouse + "," + mouse + "]")), "ok");
}

TEST(ConfigValidation, RangesIncludeTheirEnds) {
    const auto distance = [](const std::string& value) {
        return outcome(
            fileWithDevice(R"("gestures": {"fire": "pastDistance", "distance": )" + value + "}"));
    };
    EXPECT_EQ(distance("20"), "ok");
    EXPECT_EQ(distance("2000"), "ok");
    EXPECT_EQ(distance("19"), "devices[0].gestures.distance: must be between 20 and 2000");
    EXPECT_EQ(distance("2001"), "devices[0].gestures.distance: must be between 20 and 2000");

    const auto speed = [](const std::string& value) {
        return outcome(fileWithDevice(R"("scrolling": {"holdToScroll": {"speed": )" + value +
                                      R"(, "direction": "wheel", "momentum": false}})"));
    };
    EXPECT_EQ(speed("0.25"), "ok");
    EXPECT_EQ(speed("4"), "ok");
    EXPECT_EQ(speed("0.2"), "devices[0].scrolling.holdToScroll.speed: must be between 0.25 and 4");
    EXPECT_EQ(speed("4.5"), "devices[0].scrolling.holdToScroll.speed: must be between 0.25 and 4");

    const auto smooth = [](const std::string& duration, const std::string& brake,
                           const std::string& easeIn) {
        return outcome(fileWithDevice(R"("scrolling": {"smooth": {"duration": )" + duration +
                                      R"(, "brake": )" + brake + R"(, "easeIn": )" + easeIn +
                                      "}}"));
    };
    const std::string at = "devices[0].scrolling.smooth.";
    EXPECT_EQ(smooth("1", "0.5", "0"), "ok");
    EXPECT_EQ(smooth("20", "10", "300"), "ok");
    EXPECT_EQ(smooth("0.99", "0.4", "-1"), at + "duration: must be between 1 and 20");
    EXPECT_EQ(smooth("4", "0.49", "-1"), at + "brake: must be between 0.5 and 10");
    EXPECT_EQ(smooth("4", "2", "300.5"), at + "easeIn: must be between 0 and 300");

    // The hold-to-scroll speed is checked before the smooth settings.
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"holdToScroll": {"speed": 9,
        "direction": "grab", "momentum": true}, "smooth": {"duration": 0, "brake": 2}})")),
              "devices[0].scrolling.holdToScroll.speed: must be between 0.25 and 4");
}

TEST(ConfigValidation, RuleShapes) {
    const std::string at = "devices[0].rules[0]";
    EXPECT_EQ(
        outcome(fileWithRules("[" + rule(R"({"button": 0})", "click", R"("appExpose")") + "]")),
        at + ".control.button: must be between 1 and 31. 1 is the right button, and the "
             "left button, 0, cannot have rules");
    EXPECT_EQ(
        outcome(fileWithRules("[" + rule(R"({"button": 32})", "click", R"("appExpose")") + "]")),
        at + ".control.button: must be between 1 and 31. 1 is the right button, and the "
             "left button, 0, cannot have rules");
    EXPECT_EQ(
        outcome(fileWithRules("[" + rule(R"({"button": 1})", "click", R"("appExpose")") + "," +
                              rule(R"({"button": 31})", "click", R"("appExpose")") + "]")),
        "ok");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(R"("thumbWheel")", "click", R"("reverse")") + "]")),
              at + ".when: \"click\" does not work with this control");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(R"("thumbWheel")", "scroll", R"("scroll")") + "]")),
              at + ".do: this action does not work with \"scroll\" on this control");
    EXPECT_EQ(outcome(fileWithRules(
                  "[" + rule(R"({"key": "a"})", "hold", R"({"shortcut": "cmd+c"})") + "]")),
              at + ".do: this action does not work with \"hold\" on this control");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(R"({"button": 3})", "holdMoveUp", R"("appExpose")") +
                                    "]")),
              at + ".when: \"holdMoveUp\" does not work with this control");
}

TEST(ConfigValidation, DuplicatesAndConflicts) {
    const std::string c3 = R"({"hidpp": "0xC3"})";
    const std::string c4 = R"({"hidpp": "0xC4"})";
    const std::string b1 = R"({"button": 1})";
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "click", R"("missionControl")") + "," +
                                    rule(c3, "click", R"("appExpose")") + "]")),
              "devices[0].rules[1]: the same control and trigger as rules[0]");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "click", R"("missionControl")") + "," +
                                    rule(c4, "click", R"("appExpose")") + "]")),
              "ok");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "click", R"("missionControl")") + "," +
                                    rule(c3, "hold", R"({"modifier": "leftShift"})") + "]")),
              "devices[0].rules[1].when: \"hold\" cannot share a control with rules[0], because a "
              "control that holds keys holds them from its press, so it has no click of its own");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(b1, "holdMove", R"("scroll")") + "," +
                                    rule(b1, "hold", R"({"modifier": "leftShift"})") + "]")),
              "devices[0].rules[1].when: \"hold\" cannot share a control with rules[0], because a "
              "control that holds keys holds them from its press, so its movement only moves the "
              "pointer");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "holdMoveLeft", R"("spaceLeft")") + "," +
                                    rule(c3, "holdMove", R"("scroll")") + "]")),
              "devices[0].rules[1].when: \"holdMove\" cannot share a control with rules[0], "
              "because scrolling and swipes both use the movement");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "holdMoveLeft", R"("spaceLeft")") + "," +
                                    rule(c3, "holdMoveRight", R"("spaceRight")") + "]")),
              "ok");
    // Of several earlier rules, the one with the lowest index is named.
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "hold", R"({"modifier": "leftShift"})") + "," +
                                    rule(c3, "click", R"("appExpose")") + "," +
                                    rule(c3, "click", R"("spaceLeft")") + "]")),
              "devices[0].rules[1].when: \"click\" cannot share a control with rules[0], because a "
              "control that holds keys holds them from its press, so it has no click of its own");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c3, "click", R"("appExpose")") + "," +
                                    rule(c3, "hold", R"({"modifier": "leftShift"})") + "," +
                                    rule(c3, "click", R"("spaceLeft")") + "]")),
              "devices[0].rules[1].when: \"hold\" cannot share a control with rules[0], because a "
              "control that holds keys holds them from its press, so it has no click of its own");
    EXPECT_EQ(outcome(fileWithRules("[" + rule(c4, "click", R"("appExpose")") + "," +
                                    rule(c3, "click", R"("appExpose")") + "," +
                                    rule(c3, "hold", R"({"modifier": "leftShift"})") + "," +
                                    rule(c3, "click", R"("spaceLeft")") + "]")),
              "devices[0].rules[2].when: \"hold\" cannot share a control with rules[1], because a "
              "control that holds keys holds them from its press, so it has no click of its own");
}

TEST(ConfigWalk, NullsAndUnknownKeys) {
    EXPECT_EQ(outcome(fileWithDevice(R"("kind": null)")),
              "devices[0].kind: null is not allowed. Leave the key out instead");
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": null)")),
              "devices[0].scrolling: null is not allowed. Leave the key out instead");
    EXPECT_EQ(outcome(R"({"version": 1, "hyper": {"key": "a", "onTap": "nothing"}, "devices": [],
                          "ignored": [], "zeta": 1, "alpha": 2})"),
              "alpha: unknown key");
    EXPECT_EQ(outcome(R"({"version": 1, "hyper": {"key": "a", "onTap": "nothing", "Zed": 1,
                          "enabled": null}, "devices": [], "ignored": []})"),
              "hyper.Zed: unknown key");
    // Null before unknown: the null under an unknown key is still reported as a null.
    EXPECT_EQ(outcome(R"({"version": 1, "hyper": {"key": "a", "onTap": "nothing"}, "devices": [],
                          "ignored": [], "extra": null})"),
              "extra: null is not allowed. Leave the key out instead");
    // Deeper keys are visited depth first in sorted order.
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2,
        "curve": [{"stepsPerSecond": 1, "pointsPerSecond": 40, "x": 0},
                  {"stepsPerSecond": 2, "pointsPerSecond": 40}]}}, "zz": 1)")),
              "devices[0].scrolling.smooth.curve[0].x: unknown key");
    // A curve read from the file is checked as it is read.
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2,
        "curve": [{"stepsPerSecond": 1, "pointsPerSecond": 40},
                  {"stepsPerSecond": 5, "pointsPerSecond": 50},
                  {"stepsPerSecond": 5, "pointsPerSecond": 60}]}})")),
              "devices[0].scrolling.smooth.curve[2].stepsPerSecond: must be more than the point "
              "before");
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2,
        "curve": [{"stepsPerSecond": 1, "pointsPerSecond": 40}]}})")),
              "devices[0].scrolling.smooth.curve: needs at least 2 points");
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2,
        "curve": [{"stepsPerSecond": 1}, {"stepsPerSecond": 0, "pointsPerSecond": 40}]}})")),
              "devices[0].scrolling.smooth.curve[0].pointsPerSecond: missing key");
    // Reading faults come before the walk, and the walk before validation.
    EXPECT_EQ(outcome(R"({"version": 2, "hyper": {"key": "a", "onTap": "nothing"}, "devices": [],
                          "ignored": [], "alpha": 2})"),
              "alpha: unknown key");
}

}  // namespace
}  // namespace tindlewave
