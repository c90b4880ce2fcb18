#include <gtest/gtest.h>

#include <vector>

#include "Core/Tap/Intent.h"

namespace tindlewave {
namespace {

constexpr VendorID logitech{0x046D};
constexpr HIDUsage capsLock{0x39};
constexpr HIDUsage keyA{0x04};
constexpr HIDUsage keyB{0x05};

PresentDevice keyboardDevice(std::uint64_t id, std::uint16_t product,
                             std::vector<SenderID> services = {}) {
    PresentDevice d;
    d.id = DeviceInstanceID{id};
    d.properties.vendor = VendorID{0x1111};
    d.properties.product = ProductID{product};
    d.properties.primaryUsagePage = 1;
    d.properties.primaryUsage = 6;
    d.properties.usagePairs = {{1, 6}};
    d.key = d.properties.key();
    d.eventServices = std::move(services);
    return d;
}

PresentDevice hidppMouse(std::uint64_t id, std::vector<SenderID> services = {}) {
    PresentDevice d;
    d.id = DeviceInstanceID{id};
    d.properties.vendor = logitech;
    d.properties.product = ProductID{0xB023};
    d.properties.primaryUsagePage = 1;
    d.properties.primaryUsage = 2;
    d.properties.usagePairs = {{1, 2}, {0xFF43, 0x0202}};
    d.key = d.properties.key();
    d.eventServices = std::move(services);
    return d;
}

DeviceMatch matchOf(const PresentDevice& d) {
    return DeviceMatch::device(d.properties.vendor, d.properties.product);
}

Rule keyClick(HIDUsage key, Action action) {
    return Rule{Control::key(key), Trigger::click(), action};
}

Action shortcut(std::uint16_t key) {
    return Action::shortcut(Chord{KeyCode{key}, Modifiers::command});
}

Config configWith(std::vector<DeviceProfile> profiles) {
    Config config = Config::empty();
    config.devices = std::move(profiles);
    return config;
}

const Action mission = Action::system(SystemAction::missionControl);

TEST(Intent, PausedIsNeutralAndIgnoredOrUnconfiguredDevicesGetNothing) {
    auto board = keyboardDevice(1, 0x10, {SenderID{5}});
    auto other = keyboardDevice(2, 0x20);
    Config config = configWith(
        {{matchOf(board), "Board", std::nullopt, std::vector<Rule>{keyClick(keyA, mission)}}});
    std::optional<ListenTarget> listen = ListenTarget{ListenID{1}, board.id};

    EXPECT_EQ(Intent::compile(config, true, true, {board, other}, listen), Intent::neutral());
    EXPECT_EQ(Intent::neutral().tap, TapRules::empty());

    Intent plain = Intent::compile(config, false, true, {board, other}, std::nullopt);
    EXPECT_TRUE(plain.setups.contains(board.id));
    EXPECT_FALSE(plain.setups.contains(other.id));

    config.ignored.push_back(matchOf(board));
    Intent ignored = Intent::compile(config, false, true, {board, other}, listen);
    EXPECT_EQ(ignored, Intent::neutral());
}

TEST(Intent, FirstMatchingProfileWins) {
    auto board = keyboardDevice(1, 0x10);
    Config config = configWith({
        {matchOf(board), "First", std::nullopt,
         std::vector<Rule>{
             {Control::key(keyA), Trigger::hold(), Action::modifier(HeldModifier::rightCommand)}}},
        {matchOf(board), "Second", std::nullopt, std::vector<Rule>{keyClick(keyB, mission)}},
    });
    Intent intent = Intent::compile(config, false, true, {board}, std::nullopt);
    // A held modifier routes the key to its own modifier usage (right Command, 0xE7).
    EXPECT_EQ(intent.setups.at(board.id).keyMap.routes,
              (std::vector<KeyRoute>{{keyA, KeyTarget::native(HIDUsage{0xE7})}}));
    EXPECT_TRUE(intent.tap.carriers.empty());
}

TEST(Intent, ClickCarriersComeFromAPoolOfSevenSharedByEqualActions) {
    auto first = keyboardDevice(1, 0x10);
    auto second = keyboardDevice(2, 0x20);
    std::vector<Rule> rules;
    for (std::uint16_t i = 0; i < 8; ++i)
        rules.push_back(keyClick(HIDUsage{std::uint16_t(0x04 + i)}, shortcut(i)));
    Config config = configWith({
        {matchOf(first), "First", std::nullopt, rules},
        {matchOf(second), "Second", std::nullopt, std::vector<Rule>{keyClick(keyA, shortcut(0))}},
    });
    Intent intent = Intent::compile(config, false, true, {first, second}, std::nullopt);

    const std::uint16_t expected[] = {105, 107, 113, 106, 64, 80, 90};  // F13-F17, F19, F20
    const auto& routes = intent.setups.at(first.id).keyMap.routes;
    ASSERT_EQ(routes.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(as<KeyTarget::Carrier>(routes[i].target)->carrier.keyCode, KeyCode{expected[i]});
        EXPECT_EQ(intent.tap.carriers.at(KeyCode{expected[i]}),
                  CarrierMeaning::press(shortcut(std::uint16_t(i))));
    }
    EXPECT_EQ(intent.skipped.at(first.id), std::vector<Rule>{rules[7]});
    EXPECT_EQ(intent.tap.carriers.size(), 7u);
    EXPECT_EQ(intent.setups.at(second.id).keyMap.routes.front().target, routes.front().target);
    EXPECT_FALSE(intent.skipped.contains(second.id));
}

TEST(Intent, HyperRouteNeedsSwitchProfileKeyboardAndTap) {
    auto board = keyboardDevice(1, 0x10);
    DeviceProfile profile{
        matchOf(board), "Board",      std::nullopt, std::vector<Rule>{keyClick(capsLock, mission)},
        std::nullopt,   std::nullopt, true};
    Config config = configWith({profile});
    ASSERT_EQ(config.hyper.key, capsLock);

    Intent on = Intent::compile(config, false, true, {board}, std::nullopt);
    ASSERT_EQ(on.setups.at(board.id).keyMap.routes.size(), 1u);
    EXPECT_EQ(
        on.setups.at(board.id).keyMap.routes[0],
        (KeyRoute{capsLock, KeyTarget::carrier(Carrier::hyperKey(),
                                               CarrierMeaning::holdModifiers(Modifiers::hyper))}));
    // The rule on the hyper key itself cannot be served.
    EXPECT_EQ(on.skipped.at(board.id), profile.rules.value());

    config.hyper.enabled = false;
    Intent off = Intent::compile(config, false, true, {board}, std::nullopt);
    EXPECT_EQ(off.setups.at(board.id).keyMap.routes.size(), 1u);
    const auto* carrier = as<KeyTarget::Carrier>(off.setups.at(board.id).keyMap.routes[0].target);
    EXPECT_FALSE(is<CarrierMeaning::HoldModifiers>(carrier->meaning));
    EXPECT_TRUE(off.skipped.empty());

    config.hyper.enabled = true;
    config.devices[0].hyper = std::nullopt;  // absent counts as off
    EXPECT_FALSE(Intent::compile(config, false, true, {board}, std::nullopt)
                     .tap.carriers.contains(KeyCode{79}));
    config.devices[0].hyper = true;
    config.devices[0].kind = DeviceKind::mouse;  // the profile's kind overrides the device's
    EXPECT_FALSE(Intent::compile(config, false, true, {board}, std::nullopt)
                     .tap.carriers.contains(KeyCode{79}));
}

TEST(Intent, WithoutTheTapCarrierRulesVanishButUnservableOnesAreStillSkipped) {
    auto board = keyboardDevice(1, 0x10);
    auto mouse = hidppMouse(2);
    std::vector<Rule> boardRules;
    for (std::uint16_t i = 0; i < 8; ++i)
        boardRules.push_back(keyClick(HIDUsage{std::uint16_t(0x10 + i)}, shortcut(i)));
    Rule hold{Control::key(keyA), Trigger::hold(), Action::modifier(HeldModifier::leftShift)};
    Rule holdShortcut{Control::key(keyB), Trigger::hold(), shortcut(0)};
    boardRules.push_back(hold);
    boardRules.push_back(holdShortcut);
    Rule mouseKey = keyClick(keyA, shortcut(0));  // has a carrier, but no keyboard to send it
    DeviceProfile boardProfile{matchOf(board), "Board",      std::nullopt, boardRules,
                               std::nullopt,   std::nullopt, true};
    Config config = configWith(
        {boardProfile, {matchOf(mouse), "Mouse", std::nullopt, std::vector<Rule>{mouseKey}}});

    Intent intent = Intent::compile(config, false, false, {board, mouse}, std::nullopt);
    // The hold still routes; the seven served clicks and the hyper route are gone.
    EXPECT_EQ(intent.setups.at(board.id).keyMap.routes,
              (std::vector<KeyRoute>{{keyA, KeyTarget::native(HIDUsage{0xE1})}}));
    EXPECT_TRUE(intent.tap.carriers.empty());
    // Out of carriers and the hold of a shortcut: skipped, in rule order.
    EXPECT_EQ(intent.skipped.at(board.id), (std::vector<Rule>{boardRules[7], holdShortcut}));
    EXPECT_EQ(intent.skipped.at(mouse.id), std::vector<Rule>{mouseKey});
}

TEST(Intent, HIDPPDiscoveryIsWantedUntilCapabilitiesAreKnown) {
    auto mouse = hidppMouse(1, {SenderID{9}});
    Rule gesture{Control::hidpp(CID{0xC3}), Trigger::click(), mission};
    Config config =
        configWith({{matchOf(mouse), "Mouse", std::nullopt, std::vector<Rule>{gesture}}});

    Intent unknown = Intent::compile(config, false, true, {mouse}, std::nullopt);
    EXPECT_TRUE(unknown.setups.at(mouse.id).discoverHIDPP);
    ASSERT_TRUE(unknown.setups.at(mouse.id).hidpp.has_value());
    EXPECT_TRUE(unknown.setups.at(mouse.id).hidpp->controls.contains(CID{0xC3}));

    mouse.hidpp = HIDPPCapabilities{{}, false};
    Intent known = Intent::compile(config, false, true, {mouse}, std::nullopt);
    EXPECT_FALSE(known.setups.at(mouse.id).discoverHIDPP);
    EXPECT_EQ(known.skipped.at(mouse.id), std::vector<Rule>{gesture});

    // Another vendor's mouse neither discovers nor serves HID++ rules, nor skips them.
    mouse.properties.vendor = VendorID{0x1234};
    config.devices[0].match = matchOf(mouse);
    Intent foreign = Intent::compile(config, false, true, {mouse}, std::nullopt);
    EXPECT_EQ(foreign.setups.at(mouse.id), DeviceSetup::neutral());
    EXPECT_TRUE(foreign.skipped.empty());
}

TEST(Intent, SmoothScrollAndPlainButtonsGoToTheTapPerEventService) {
    auto mouse = hidppMouse(1, {SenderID{7}, SenderID{8}});
    ScrollSettings scrolling;
    scrolling.smooth = SmoothScroll::defaults();
    Rule button{Control::button(3), Trigger::click(), mission};
    Config config = configWith({{matchOf(mouse), "Mouse", std::nullopt, std::vector<Rule>{button},
                                 std::nullopt, scrolling}});
    Intent intent = Intent::compile(config, false, true, {mouse}, std::nullopt);
    EXPECT_EQ(intent.tap.smoothScroll.size(), 2u);
    EXPECT_EQ(intent.tap.smoothScroll.at(SenderID{8}), SmoothScroll::defaults());
    EXPECT_EQ(intent.tap.buttons.at((ButtonKey{SenderID{7}, 3})), ControlBehavior::press(mission));
    EXPECT_TRUE(intent.tap.buttons.contains(ButtonKey{SenderID{8}, 3}));
    EXPECT_EQ(intent.setups.at(mouse.id).keyMap, KeyMapSetup::neutral());
}

TEST(Intent, ListeningLiftsTheKeyMapAndDivertsForTheListen) {
    auto board = keyboardDevice(1, 0x10, {SenderID{5}});
    auto mouse = hidppMouse(2, {SenderID{6}});
    Config config = configWith({
        {matchOf(board), "Board", std::nullopt, std::vector<Rule>{keyClick(keyA, mission)}},
        {matchOf(mouse), "Mouse", std::nullopt, std::vector<Rule>{}},
    });

    Intent onBoard =
        Intent::compile(config, false, true, {board, mouse}, ListenTarget{ListenID{4}, board.id});
    EXPECT_EQ(onBoard.setups.at(board.id).keyMap, KeyMapSetup::neutral());
    // The tap keeps the carrier, and the plan names the key behind it.
    EXPECT_TRUE(onBoard.tap.carriers.contains(KeyCode{105}));
    EXPECT_EQ(onBoard.tap.listen, (TapListen{ListenID{4}, {SenderID{5}}}));
    ASSERT_TRUE(onBoard.listening.has_value());
    EXPECT_EQ(onBoard.listening->carrierSources,
              (std::unordered_map<KeyCode, HIDUsage>{{KeyCode{105}, keyA}}));

    Intent onMouse =
        Intent::compile(config, false, true, {board, mouse}, ListenTarget{ListenID{5}, mouse.id});
    HIDPPSetup expected = HIDPPSetup::native();
    expected.listening = true;
    expected.thumbWheelDiverted = true;  // capabilities unknown
    EXPECT_EQ(onMouse.setups.at(mouse.id).hidpp, expected);

    // No tap, or no event services: the device is still set up for listening, the tap is not.
    EXPECT_FALSE(
        Intent::compile(config, false, false, {board, mouse}, ListenTarget{ListenID{4}, board.id})
            .tap.listen.has_value());
    board.eventServices.clear();
    Intent noServices =
        Intent::compile(config, false, true, {board, mouse}, ListenTarget{ListenID{4}, board.id});
    EXPECT_FALSE(noServices.tap.listen.has_value());
    EXPECT_TRUE(noServices.listening.has_value());

    // A device without a profile, or one that is not connected: no listening at all.
    auto stranger = keyboardDevice(3, 0x30, {SenderID{9}});
    for (auto id : {stranger.id, DeviceInstanceID{42}}) {
        Intent none = Intent::compile(config, false, true, {board, mouse, stranger},
                                      ListenTarget{ListenID{6}, id});
        EXPECT_FALSE(none.listening.has_value());
        EXPECT_FALSE(none.tap.listen.has_value());
    }
}

}  // namespace
}  // namespace tindlewave
