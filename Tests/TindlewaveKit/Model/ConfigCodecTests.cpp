#include <gtest/gtest.h>

#include <limits>
#include <stop_token>

#include "Model/ConfigCodec.h"
#include "Model/Json/JsonReader.h"
#include "Model/Json/JsonWriter.h"
#include "TindlewaveKit/Model/ConfigTestSupport.h"

namespace tindlewave {
namespace {

using testing::fileWith;
using testing::fileWithDevice;
using testing::fileWithRules;
using testing::fixture;
using testing::outcome;

std::string encoded(const Config& config) {
    auto bytes = ConfigCodec::encode(config);
    EXPECT_TRUE(bytes.ok()) << (bytes.ok() ? "" : bytes.error().message);
    return bytes.ok() ? *bytes : "";
}

Config decoded(const std::string& bytes) {
    auto config = ConfigCodec::decode(bytes);
    EXPECT_TRUE(config.ok()) << (config.ok() ? "" : config.error().description());
    return config.ok() ? *config : Config{};
}

TEST(ConfigFile, ExampleFileIsWrittenByteForByte) {
    const std::string example = fixture("example-config.json");
    ASSERT_FALSE(example.empty());
    const Config config = decoded(example);
    ASSERT_EQ(config.devices.size(), 2u);
    EXPECT_EQ(config.devices[0].rules->size(), 6u);
    EXPECT_EQ(config.devices[1].match, DeviceMatch::builtIn());
    EXPECT_EQ(config.ignored,
              (std::vector{DeviceMatch::device(VendorID{0x1EA7}, ProductID{0x0002})}));
    EXPECT_EQ(encoded(config), example);
}

TEST(ConfigFile, EmptyConfigIsWrittenExactly) {
    EXPECT_EQ(encoded(Config::empty()),
              "{\n"
              "  \"devices\" : [\n"
              "\n"
              "  ],\n"
              "  \"hyper\" : {\n"
              "    \"enabled\" : true,\n"
              "    \"key\" : \"capsLock\",\n"
              "    \"onTap\" : \"nothing\"\n"
              "  },\n"
              "  \"ignored\" : [\n"
              "\n"
              "  ],\n"
              "  \"version\" : 1\n"
              "}\n");
    EXPECT_EQ(decoded(encoded(Config::empty())), Config::empty());
}

TEST(ConfigFile, DecodeEncodeDecodeIsAFixedPoint) {
    // Older keys, defaults left out, odd spellings: the first encoding settles all of them.
    const std::string file = fileWithDevice(
        R"("kind": "mouse", "scrolling": {"smooth": {"duration": 4.5, "brake": 0.75, "speed": 33,
        "acceleration": true}, "rightButtonPan": {"momentum": false}, "clickThrough":
        {"left": false, "right": true}}, "rules": [{"control": {"key": "RETURN"}, "when": "click",
        "do": {"shortcut": "CMD+Shift+S"}}], "gestures": {"fire": "onRelease", "distance": 40.0})");
    const Config first = decoded(file);
    const std::string bytes = encoded(first);
    const Config second = decoded(bytes);
    EXPECT_EQ(second, first);
    EXPECT_EQ(encoded(second), bytes);
    EXPECT_EQ(bytes.find("rightButtonPan"), std::string::npos);
    EXPECT_EQ(bytes.find("acceleration"), std::string::npos);
    EXPECT_NE(bytes.find("\"shortcut\" : \"shift+cmd+s\""), std::string::npos);
    EXPECT_NE(bytes.find("\"key\" : \"return\""), std::string::npos);
    EXPECT_NE(bytes.find("\"distance\" : 40,"), std::string::npos);
}

TEST(ConfigFile, AbsentEnabledAndEaseInAreWrittenBack) {
    const Config config =
        decoded(fileWithDevice(R"("scrolling": {"smooth": {"duration": 4, "brake": 2}})"));
    EXPECT_TRUE(config.hyper.enabled);
    EXPECT_EQ(config.devices[0].scrolling->smooth->easeIn, 60);
    EXPECT_EQ(config.devices[0].scrolling->smooth->curve, SpeedCurve::defaults());
    const std::string bytes = encoded(config);
    EXPECT_NE(bytes.find("\"enabled\" : true"), std::string::npos);
    EXPECT_NE(bytes.find("\"easeIn\" : 60\n"), std::string::npos);
}

TEST(ConfigFile, SyntaxAndTopLevel) {
    EXPECT_EQ(outcome("[]"), "expected an object");
    EXPECT_EQ(outcome("[1, 2]"), "expected an object");
    for (const char* scalar : {"1", "\"text\"", "true", "null"}) {
        EXPECT_TRUE(outcome(scalar).starts_with("not valid JSON. ")) << scalar;
    }
    const std::string broken = outcome("{\"version\": ");
    EXPECT_TRUE(broken.starts_with("not valid JSON. ")) << broken;
    EXPECT_EQ(broken.find("[json.exception"), std::string::npos) << broken;
    EXPECT_TRUE(outcome("").starts_with("not valid JSON. "));
    EXPECT_TRUE(outcome("{\"version\": 1e400}").starts_with("not valid JSON. "));
    // A NUL byte does not end the document: what follows it is trailing garbage like any other.
    const std::string valid = R"({"version": 1, "hyper": {"key": "a", "onTap": "nothing"},
                                  "devices": [], "ignored": []})";
    EXPECT_EQ(outcome(valid + "\n"), "ok");
    for (const std::string& tail : {std::string(1, '\0'), std::string("\0garbage", 8),
                                    std::string("\n\0", 2)}) {
        const std::string trailing = outcome(valid + tail);
        EXPECT_TRUE(trailing.starts_with("not valid JSON. ")) << trailing;
    }
    // The parser quotes what it last read; malformed bytes must not reach the message.
    const std::string badBytes = outcome("{\"a\xff\": 1}");
    EXPECT_TRUE(badBytes.starts_with("not valid JSON. "));
    EXPECT_TRUE(isValidUtf8(badBytes)) << badBytes;
}

// A decoding told to stop ends without a configuration however good the file, and so does the
// parse itself (a file's parse is the longest step).
TEST(ConfigFile, AStoppedDecodingEndsWithoutAConfiguration) {
    const std::string example = fixture("example-config.json");
    std::stop_source ending;
    EXPECT_TRUE(ConfigCodec::decode(example, ending.get_token()).ok());
    ending.request_stop();
    const auto config = ConfigCodec::decode(example, ending.get_token());
    ASSERT_FALSE(config.ok());
    EXPECT_EQ(config.error(), (ConfigError{"", std::string(ConfigCodec::stopped)}));
    const auto document = json::parseDocument(example, ending.get_token());
    ASSERT_FALSE(document.ok());
    EXPECT_EQ(document.error(), json::parseStopped);
}

TEST(ConfigFile, MissingKeysAndWrongTypes) {
    EXPECT_EQ(outcome("{}"), "version: missing key");
    EXPECT_EQ(outcome(R"({"version": "1"})"), "version: expected a number");
    EXPECT_EQ(outcome(R"({"version": true})"), "version: expected a number");
    EXPECT_EQ(outcome(R"({"version": null})"), "version: expected a number");
    EXPECT_EQ(outcome(R"({"version": 1, "hyper": {"key": "capsLock", "onTap": "nothing"}})"),
              "devices: missing key");
    EXPECT_EQ(outcome(fileWith("{}")), "devices: expected a list");
    EXPECT_EQ(outcome(fileWith("[]", "[7]")), "ignored[0]: expected an object");
    EXPECT_EQ(outcome(fileWithDevice(R"("name": null)")), "devices[0].name: expected a string");
    EXPECT_EQ(outcome(fileWithDevice(R"("hyper": "yes")")),
              "devices[0].hyper: expected true or false");
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"smooth": {"brake": 2}})")),
              "devices[0].scrolling.smooth.duration: missing key");
    // The earlier key of one object is read first.
    EXPECT_EQ(outcome(R"({"version": "x", "hyper": 1, "devices": 2, "ignored": 3})"),
              "version: expected a number");
    EXPECT_EQ(outcome(fileWithRules(R"([{"do": 5, "when": "nope", "control": 1}])")),
              "devices[0].rules[0].control: expected an object");
}

TEST(ConfigFile, WholeNumbersInIntegerFields) {
    EXPECT_EQ(outcome(R"({"version": 1.0, "hyper": {"key": "a", "onTap": "nothing"},
                          "devices": [], "ignored": []})"),
              "ok");
    EXPECT_EQ(decoded(fileWithDevice(R"("gestures": {"fire": "pastDistance", "distance": 4.0e1})"))
                  .devices[0]
                  .gestures->distance,
              40);
    EXPECT_EQ(outcome(fileWithDevice(R"("gestures": {"fire": "pastDistance", "distance": 4.5})")),
              "devices[0].gestures.distance: 4.5 is not a whole number");
    EXPECT_EQ(outcome(fileWithRules(R"([{"control": {"button": 1e19}, "when": "click",
                                         "do": "appExpose"}])")),
              "devices[0].rules[0].control.button: 1e+19 is too large for this field");
    EXPECT_EQ(outcome(fileWithRules(R"([{"control": {"button": 18446744073709551615},
                                         "when": "click", "do": "appExpose"}])")),
              "devices[0].rules[0].control.button: 18446744073709551615 is too large for this "
              "field");
    // Below -2^63 a whole number read as a fraction rounds to -2^63 itself: still refused here.
    for (const char* low : {"-9223372036854775809", "-9223372036854775808.0", "-1e19"}) {
        const std::string text = outcome(fileWithRules(std::string(R"([{"control": {"button": )") +
                                                       low + R"(}, "when": "click",
                                                       "do": "appExpose"}])"));
        EXPECT_TRUE(text.starts_with("devices[0].rules[0].control.button: ") &&
                    text.ends_with(" is too large for this field"))
            << low << ": " << text;
    }
    // A double field takes any number, but never true.
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"holdToScroll": {"speed": true,
                                         "direction": "grab", "momentum": true}})")),
              "devices[0].scrolling.holdToScroll.speed: expected a number");
    EXPECT_EQ(outcome(fileWithDevice(R"("scrolling": {"holdToScroll": {"speed": 1,
                                         "direction": "grab", "momentum": 1}})")),
              "devices[0].scrolling.holdToScroll.momentum: expected true or false");
}

TEST(ConfigFile, HexIds) {
    for (const char* good : {"0x46d", "0X046D", "0x0046D", "0x000000046D"}) {
        const Config config = decoded(fileWith(std::string(R"([{"match": {"vendor": ")") + good +
                                               R"(", "product": "0x1"}, "name": "m"}])"));
        EXPECT_EQ(config.devices[0].match, DeviceMatch::device(VendorID{0x46D}, ProductID{1}))
            << good;
    }
    for (const char* bad : {"046D", "0x", "0xG1", "0x10000", "0x+46D", " 0x46D", "0x46D "}) {
        EXPECT_EQ(outcome(fileWith(std::string(R"([{"match": {"vendor": ")") + bad +
                                   R"(", "product": "0x1"}, "name": "m"}])")),
                  std::string("devices[0].match.vendor: \"") + bad +
                      "\" is not a hex id such as \"0x046D\"");
    }
    Config config = Config::empty();
    config.devices.push_back(DeviceProfile{
        DeviceMatch::device(VendorID{0x46D}, ProductID{0x1A0}), "m", std::nullopt,
        std::vector{Rule{Control::hidpp(CID{0x3}), Trigger::click(), Action::reverse()}}});
    const std::string bytes = encoded(config);
    EXPECT_NE(bytes.find("\"vendor\" : \"0x046D\""), std::string::npos);
    EXPECT_NE(bytes.find("\"product\" : \"0x01A0\""), std::string::npos);
    EXPECT_NE(bytes.find("\"hidpp\" : \"0x03\""), std::string::npos);
}

TEST(ConfigFile, Matches) {
    const auto match = [](const std::string& object) {
        return outcome(fileWith(R"([{"match": )" + object + R"(, "name": "m"}])"));
    };
    const std::string builtInMessage =
        "devices[0].match.builtIn: write {\"builtIn\": true} alone, or a vendor and product "
        "instead";
    EXPECT_EQ(match(R"({"builtIn": true})"), "ok");
    EXPECT_EQ(match(R"({"builtIn": false})"), builtInMessage);
    EXPECT_EQ(match(R"({"builtIn": true, "vendor": "0x046D"})"), builtInMessage);
    EXPECT_EQ(match(R"({"builtIn": "yes"})"), "devices[0].match.builtIn: expected true or false");
    EXPECT_EQ(match(R"({"vendor": "0x046D"})"), "devices[0].match.product: missing key");
    // A null "builtIn" counts as absent; the walk then reports it.
    EXPECT_EQ(match(R"({"builtIn": null, "vendor": "0x046D", "product": "0x1"})"),
              "devices[0].match.builtIn: null is not allowed. Leave the key out instead");
}

TEST(ConfigFile, ControlsTriggersAndActions) {
    const auto rule = [](const std::string& control, const std::string& when,
                         const std::string& action) {
        return outcome(fileWithRules(R"([{"control": )" + control + R"(, "when": )" + when +
                                     R"(, "do": )" + action + "}]"));
    };
    const std::string at = "devices[0].rules[0].";
    EXPECT_EQ(rule(R"("thumbWheel")", R"("scroll")", R"("reverse")"), "ok");
    EXPECT_EQ(rule(R"("wheel")", R"("click")", R"("reverse")"),
              at + "control: unknown control \"wheel\"");
    const std::string controlObject =
        at + "control: a control is \"thumbWheel\" or one of {\"hidpp\"}, {\"key\"}, {\"button\"}";
    EXPECT_EQ(rule(R"({"button": 3, "key": "a"})", R"("click")", R"("appExpose")"), controlObject);
    EXPECT_EQ(rule(R"({"label": "x"})", R"("click")", R"("appExpose")"), controlObject);
    EXPECT_EQ(rule(R"({"button": 3, "label": "x"})", R"("click")", R"("appExpose")"),
              at + "control.label: unknown key");
    EXPECT_EQ(rule(R"([3])", R"("click")", R"("appExpose")"), at + "control: expected an object");
    EXPECT_EQ(rule(R"({"key": "f18"})", R"("click")", R"({"modifier": "leftShift"})"),
              at + "control.key: unknown key \"f18\"");
    EXPECT_EQ(rule(R"({"button": 3})", R"("holdmove")", R"("scroll")"),
              at + "when: unknown trigger \"holdmove\"");
    EXPECT_EQ(rule(R"({"button": 3})", R"("HoldMove")", R"("scroll")"),
              at + "when: unknown trigger \"HoldMove\"");
    EXPECT_EQ(rule(R"({"hidpp": "0xC3"})", R"("holdMoveUp")", R"("spaceLeft")"), "ok");
    EXPECT_EQ(rule(R"({"button": 3})", R"("click")", R"("missioncontrol")"),
              at + "do: unknown action \"missioncontrol\"");
    const std::string actionObject =
        at +
        "do: an action is a name such as \"missionControl\", or {\"shortcut\"} or "
        "{\"modifier\"}";
    EXPECT_EQ(
        rule(R"({"button": 3})", R"("click")", R"({"shortcut": "cmd+s", "modifier": "leftShift"})"),
        actionObject);
    EXPECT_EQ(rule(R"({"button": 3})", R"("click")", R"({})"), actionObject);
    for (const char* notAnObject : {"3", "[]", "true"}) {
        EXPECT_EQ(rule(R"({"button": 3})", R"("click")", notAnObject),
                  at + "do: expected an object");
    }
    const std::string badModifier =
        rule(R"({"button": 3})", R"("hold")", R"({"modifier": "LeftShift"})");
    EXPECT_TRUE(badModifier.starts_with(at + "do.modifier: \"LeftShift\" is not one of"))
        << badModifier;
    const std::string badKind = outcome(fileWithDevice(R"("kind": "Mouse")"));
    EXPECT_EQ(badKind, "devices[0].kind: \"Mouse\" is not one of \"keyboard\", \"mouse\"");
}

TEST(ConfigFile, Chords) {
    const auto chordOf = [](const std::string& text) {
        return decoded(fileWithRules(R"([{"control": {"button": 3}, "when": "click",
                                          "do": {"shortcut": ")" +
                                     text + R"("}}])"))
            .devices[0]
            .rules->at(0)
            .action;
    };
    const Action expected =
        Action::shortcut(Chord{*KeyCode::named("s"), Modifiers::shift | Modifiers::command});
    EXPECT_EQ(chordOf("CMD+Shift+S"), expected);
    EXPECT_EQ(chordOf("command+shift+s"), expected);
    EXPECT_EQ(chordOf("shift+cmd+s"), expected);
    EXPECT_EQ(chordOf("cmd+cmd+shift+s"), expected);
    EXPECT_EQ(
        chordOf("ALT+control+space"),
        Action::shortcut(Chord{*KeyCode::named("space"), Modifiers::option | Modifiers::control}));
    EXPECT_EQ(*ConfigCodec::compact(chordOf("command+SHIFT+s")), R"({"shortcut":"shift+cmd+s"})");
    EXPECT_EQ(
        *ConfigCodec::compact(Action::shortcut(Chord{*KeyCode::named("4"), Modifiers::hyper})),
        R"({"shortcut":"ctrl+opt+shift+cmd+4"})");

    const auto chordError = [](const std::string& text) {
        return outcome(fileWithRules(R"([{"control": {"button": 3}, "when": "click",
                                           "do": {"shortcut": ")" +
                                     text + R"("}}])"));
    };
    const std::string at = "devices[0].rules[0].do.shortcut: ";
    EXPECT_EQ(chordError("cmd+shift"),
              at + "\"cmd+shift\" does not end in a key name such as \"s\" or \"4\"");
    EXPECT_EQ(chordError("cmd+"),
              at + "\"cmd+\" does not end in a key name such as \"s\" or \"4\"");
    EXPECT_EQ(chordError("hyper+s"), at + "unknown modifier \"hyper\" in \"hyper+s\"");
    EXPECT_EQ(chordError("cmd++s"), at + "unknown modifier \"\" in \"cmd++s\"");
    EXPECT_EQ(chordError("+s"), at + "unknown modifier \"\" in \"+s\"");
}

TEST(ConfigFile, DuplicateKeysKeepTheLast) {
    EXPECT_EQ(decoded(fileWithDevice(R"("name": "first", "name": "last")")).devices[0].name,
              "last");
}

TEST(ConfigFile, TextIsWrittenAsUtf8WithControlCharactersEscaped) {
    Config config = Config::empty();
    config.devices.push_back(DeviceProfile{DeviceMatch::builtIn(),
                                           "a/b \"q\" \\ caf\xC3\xA9 \xF0\x9F\x96\xB1 \t\n\x01"});
    const std::string bytes = encoded(config);
    EXPECT_NE(bytes.find(R"("name" : "a/b \"q\" \\ café 🖱 \t\n\u0001")"), std::string::npos)
        << bytes;
    EXPECT_EQ(decoded(bytes), config);
}

TEST(ConfigFile, NumbersAreWrittenInTheirShortestForm) {
    Config config = Config::empty();
    SmoothScroll smooth = SmoothScroll::defaults();
    smooth.duration = 4.0;
    smooth.brake = 0.7;
    smooth.easeIn = 1.0 / 3.0;
    config.devices.push_back(
        DeviceProfile{DeviceMatch::builtIn(), "m", std::nullopt, std::nullopt, std::nullopt,
                      ScrollSettings{smooth, std::nullopt, std::nullopt, std::nullopt}});
    const std::string bytes = encoded(config);
    EXPECT_NE(bytes.find("\"duration\" : 4,\n"), std::string::npos);
    EXPECT_NE(bytes.find("\"brake\" : 0.7,"), std::string::npos);
    EXPECT_NE(bytes.find("\"easeIn\" : 0.3333333333333333\n"), std::string::npos);
    EXPECT_EQ(ConfigCodec::decode(bytes)->devices[0].scrolling->smooth->easeIn, 1.0 / 3.0);
    // An empty object is written the way empty lists are.
    config.devices[0].scrolling = ScrollSettings{};
    EXPECT_NE(encoded(config).find("      \"scrolling\" : {\n\n      }\n"), std::string::npos);
}

TEST(ConfigEncode, FailsWithoutOutput) {
    Config unnamedHyper = Config::empty();
    unnamedHyper.hyper.key = HIDUsage{0x68};  // F13 has no name
    auto result = ConfigCodec::encode(unnamedHyper);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, "unnamed key");

    Config unnamedChord = Config::empty();
    unnamedChord.devices.push_back(DeviceProfile{
        DeviceMatch::builtIn(), "k", std::nullopt,
        std::vector{Rule{Control::button(3), Trigger::click(),
                         Action::shortcut(Chord{KeyCode{0x4F}, Modifiers::command})}}});
    EXPECT_EQ(ConfigCodec::encode(unnamedChord).error().message, "unnamed key");

    Config notFinite = Config::empty();
    notFinite.devices.push_back(DeviceProfile{
        DeviceMatch::builtIn(), "m", std::nullopt, std::nullopt, std::nullopt,
        ScrollSettings{
            std::nullopt, std::nullopt,
            HoldToScroll{std::numeric_limits<double>::quiet_NaN(), HoldScrollDirection::grab, true},
            std::nullopt}});
    EXPECT_EQ(ConfigCodec::encode(notFinite).error().message, "not a finite number");
    notFinite.devices[0].scrolling->holdToScroll->speed = std::numeric_limits<double>::infinity();
    EXPECT_EQ(ConfigCodec::encode(notFinite).error().message, "not a finite number");

    Config badText = Config::empty();
    badText.devices.push_back(DeviceProfile{DeviceMatch::builtIn(), "bad \xC0\xAF name"});
    EXPECT_EQ(ConfigCodec::encode(badText).error().message, "not valid UTF-8");
    badText.devices[0].name = "cut \xE2\x82";
    EXPECT_EQ(ConfigCodec::encode(badText).error().message, "not valid UTF-8");
    badText.devices[0].name = "surrogate \xED\xA0\x80";
    EXPECT_EQ(ConfigCodec::encode(badText).error().message, "not valid UTF-8");
}

TEST(ConfigCompact, SingleRecords) {
    EXPECT_EQ(*ConfigCodec::compact(DeviceMatch::device(VendorID::logitech, ProductID{0xB023})),
              R"({"product":"0xB023","vendor":"0x046D"})");
    EXPECT_EQ(*ConfigCodec::compact(DeviceMatch::builtIn()), R"({"builtIn":true})");
    EXPECT_EQ(
        *ConfigCodec::compact(Rule{Control::hidpp(CID{0xC3}), Trigger::holdMove(Direction::left),
                                   Action::system(SystemAction::spaceLeft)}),
        R"({"control":{"hidpp":"0xC3"},"do":"spaceLeft","when":"holdMoveLeft"})");
    EXPECT_EQ(*ConfigCodec::compact(Control::thumbWheel()), R"("thumbWheel")");
    EXPECT_EQ(*ConfigCodec::compact(Trigger::holdMove()), R"("holdMove")");
    EXPECT_EQ(*ConfigCodec::compact(Action::modifier(HeldModifier::rightOption)),
              R"({"modifier":"rightOption"})");
    EXPECT_EQ(*ConfigCodec::compact(HoldToScroll::defaults()),
              R"({"direction":"grab","momentum":true,"speed":1})");
    EXPECT_EQ(*ConfigCodec::compact(SmoothScroll::defaults()),
              R"({"brake":2,"curve":[{"pointsPerSecond":40,"stepsPerSecond":1},)"
              R"({"pointsPerSecond":250,"stepsPerSecond":5},)"
              R"({"pointsPerSecond":900,"stepsPerSecond":15},)"
              R"({"pointsPerSecond":2800,"stepsPerSecond":40},)"
              R"({"pointsPerSecond":9000,"stepsPerSecond":120}],"duration":4,"easeIn":60})");
    EXPECT_EQ(*ConfigCodec::compact(std::string_view("Desk/mouse \"2\"")), R"("Desk/mouse \"2\"")");
    EXPECT_EQ(ConfigCodec::compact(Control::key(HIDUsage{0x68})).error().message, "unnamed key");
    EXPECT_EQ(ConfigCodec::compact(std::string_view("\xFF")).error().message, "not valid UTF-8");
}

}  // namespace
}  // namespace tindlewave
