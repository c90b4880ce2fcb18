#include <gtest/gtest.h>

#include "Core/Keys/HeldKeys.h"
#include "Model/Rule.h"

namespace tindlewave {
namespace {

constexpr std::uint64_t cmd = 0x100000 | 0x8;   // left Command
constexpr std::uint64_t shift = 0x20000 | 0x2;  // left Shift
constexpr std::uint64_t nc = 0x100;
const KeyCode keyC{0x08};
const KeyCode keyV{0x09};
const KeyCode cmdKey{0x37};
const KeyCode shiftKey{0x38};
constexpr SenderID mouse{0x1000};
constexpr SenderID otherMouse{0x2000};

KeyEvent flagsChanged(KeyCode code, std::uint64_t flags) {
    return {EventType::flagsChanged, code, flags | nc};
}
KeyEvent down(KeyCode code, std::uint64_t flags) {
    return {EventType::keyDown, code, flags | nc};
}
KeyEvent up(KeyCode code, std::uint64_t flags) {
    return {EventType::keyUp, code, flags | nc};
}

KeyHoldEvent press(KeyHolder holder, HeldModifierList modifiers, std::optional<KeyCode> key) {
    return KeyHoldEvent::press(std::move(holder), KeyHold{modifiers, key});
}

using Events = HeldKeys::Events;
using AllEvents = std::vector<KeyEvent>;

TEST(HeldKeys, OneHolderPressesModifierThenKeyAndReleasesInReverse) {
    HeldKeys keys;
    EXPECT_EQ(
        keys.receive(press(KeyHolder::button(mouse, 3), {HeldModifier::leftCommand}, keyC), 0),
        (Events{flagsChanged(cmdKey, cmd), down(keyC, cmd)}));
    EXPECT_EQ(keys.heldFlags(), cmd);
    // The system's flags now show our Command; the base must not count it as the user's.
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(KeyHolder::button(mouse, 3)), cmd | nc),
              (Events{up(keyC, cmd), flagsChanged(cmdKey, 0)}));
    EXPECT_TRUE(keys.holds().empty());
    EXPECT_EQ(keys.heldFlags(), 0u);
}

TEST(HeldKeys, SharedModifierStaysDownUntilTheLastHolderLetsGo) {
    HeldKeys keys;
    const auto a = KeyHolder::button(mouse, 3);
    const auto b = KeyHolder::control(DeviceInstanceID{1}, CID{0xC3});
    keys.receive(press(a, {HeldModifier::leftCommand}, std::nullopt), 0);
    EXPECT_EQ(keys.receive(press(b, {HeldModifier::leftCommand}, std::nullopt), cmd), Events{});
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(a), cmd), Events{});
    EXPECT_EQ(keys.heldFlags(), cmd);
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(b), cmd), (Events{flagsChanged(cmdKey, 0)}));
}

TEST(HeldKeys, SharedKeyGoesDownOnceAndUpWithTheLastHolder) {
    HeldKeys keys;
    const auto a = KeyHolder::button(mouse, 3);
    const auto b = KeyHolder::button(mouse, 4);
    EXPECT_EQ(keys.receive(press(a, {}, keyV), 0), (Events{down(keyV, 0)}));
    EXPECT_EQ(keys.receive(press(b, {}, keyV), 0), Events{});
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(a), 0), Events{});
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(b), 0), (Events{up(keyV, 0)}));
}

TEST(HeldKeys, PhysicallyHeldShiftStaysInEveryEvent) {
    HeldKeys keys;
    // Caps-lock-free user flags with Shift held, plus bits outside the modifier mask.
    const std::uint64_t userFlags = shift | 0x800000 | nc;
    EXPECT_EQ(keys.receive(press(KeyHolder::button(mouse, 2), {HeldModifier::leftCommand}, keyC),
                           userFlags),
              (Events{flagsChanged(cmdKey, cmd | shift), down(keyC, cmd | shift)}));
    EXPECT_EQ(keys.releaseAll(userFlags | cmd),
              (AllEvents{up(keyC, cmd | shift), flagsChanged(cmdKey, shift)}));
}

TEST(HeldKeys, TheUsersOwnModifierKeysStayDownThroughAHold) {
    const std::uint64_t rightShift = 0x20000 | 0x4;
    const std::uint64_t rightCmd = 0x100000 | 0x10;
    const KeyCode rightShiftKey{0x3C};
    const auto holder = KeyHolder::button(mouse, 4);
    {
        // The user holds left Shift, a rule holds right Shift: Shift stays in the release.
        HeldKeys keys;
        EXPECT_EQ(keys.receive(press(holder, {HeldModifier::rightShift}, std::nullopt), shift),
                  (Events{flagsChanged(rightShiftKey, rightShift | shift)}));
        EXPECT_EQ(keys.receive(KeyHoldEvent::release(holder), rightShift | shift),
                  (Events{flagsChanged(rightShiftKey, shift)}));
    }
    {
        // The user holds left Command when a Command+C hold begins: the hold neither presses
        // nor releases it, and the system is never told it is up.
        HeldKeys keys;
        EXPECT_EQ(keys.receive(press(holder, {HeldModifier::leftCommand}, keyC), cmd | nc),
                  (Events{down(keyC, cmd)}));
        EXPECT_EQ(keys.heldFlags(), cmd);
        EXPECT_EQ(keys.receive(KeyHoldEvent::release(holder), cmd | nc), (Events{up(keyC, cmd)}));
        // Afterwards the user's Command is theirs again, in the next hold's events too.
        EXPECT_EQ(keys.receive(press(holder, {}, keyV), cmd), (Events{down(keyV, cmd)}));
    }
    {
        // The user holds right Command, the hold left Command: Command stays when it lets go.
        HeldKeys keys;
        EXPECT_EQ(keys.receive(press(holder, {HeldModifier::leftCommand}, keyC), rightCmd),
                  (Events{flagsChanged(cmdKey, cmd | rightCmd), down(keyC, cmd | rightCmd)}));
        EXPECT_EQ(keys.receive(KeyHoldEvent::release(holder), cmd | rightCmd),
                  (Events{up(keyC, cmd | rightCmd), flagsChanged(cmdKey, rightCmd)}));
    }
}

TEST(HeldKeys, APressPastTheCapacityHoldsNothing) {
    HeldKeys keys;
    for (std::int64_t n = 0; n < static_cast<std::int64_t>(HeldKeys::capacity); ++n) {
        keys.receive(press(KeyHolder::button(mouse, n), {}, keyC), 0);
    }
    const auto late = KeyHolder::button(otherMouse, 1);
    EXPECT_EQ(keys.receive(press(late, {HeldModifier::leftShift}, keyV), 0), Events{});
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(late), 0), Events{});
    EXPECT_EQ(keys.heldFlags(), 0u);
    // A holder that holds already may press again, and a release makes room.
    EXPECT_EQ(keys.receive(press(KeyHolder::button(mouse, 0), {}, keyC), 0), Events{});
    keys.receive(KeyHoldEvent::release(KeyHolder::button(mouse, 0)), 0);
    EXPECT_EQ(keys.receive(press(late, {HeldModifier::leftShift}, keyV), 0),
              (Events{flagsChanged(shiftKey, shift), down(keyV, shift)}));
}

TEST(HeldKeys, SecondPressOfTheSameHolderEndsTheFirstHoldFirst) {
    HeldKeys keys;
    const auto holder = KeyHolder::button(mouse, 5);
    keys.receive(press(holder, {HeldModifier::leftShift}, keyC), 0);
    EXPECT_EQ(keys.receive(press(holder, {HeldModifier::leftCommand}, keyV), shift),
              (Events{up(keyC, shift), flagsChanged(shiftKey, 0), flagsChanged(cmdKey, cmd),
                      down(keyV, cmd)}));
    EXPECT_EQ(keys.holds().size(), 1u);
    EXPECT_EQ(keys.held(), HeldModifierSet{HeldModifier::leftCommand});
}

TEST(HeldKeys, RepeatedModifierInOneHoldIsPostedOnceEachWay) {
    HeldKeys keys;
    const auto holder = KeyHolder::button(mouse, 3);
    EXPECT_EQ(
        keys.receive(
            press(holder, {HeldModifier::leftShift, HeldModifier::leftShift}, std::nullopt), 0),
        (Events{flagsChanged(shiftKey, shift)}));
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(holder), shift),
              (Events{flagsChanged(shiftKey, 0)}));
}

TEST(HeldKeys, ReleaseOfAHolderWithoutHoldDoesNothing) {
    HeldKeys keys;
    keys.receive(press(KeyHolder::button(mouse, 3), {HeldModifier::rightOption}, std::nullopt), 0);
    EXPECT_EQ(keys.receive(KeyHoldEvent::release(KeyHolder::button(mouse, 4)), 0), Events{});
    EXPECT_EQ(keys.holds().size(), 1u);
    EXPECT_EQ(keys.heldFlags(), 0x80000u | 0x40u);
}

TEST(HeldKeys, ReleaseAllGoesButtonsByNumberThenControls) {
    HeldKeys keys;
    const std::vector<std::pair<KeyHolder, std::uint16_t>> holders = {
        {KeyHolder::control(DeviceInstanceID{2}, CID{0x50}), 1},
        {KeyHolder::button(mouse, 10), 2},
        {KeyHolder::control(DeviceInstanceID{1}, CID{0xC3}), 3},
        {KeyHolder::button(mouse, 3), 4},
        {KeyHolder::button(otherMouse, 3), 6},
        {KeyHolder::control(DeviceInstanceID{1}, CID{0x52}), 5},
    };
    for (const auto& [holder, code] : holders) keys.receive(press(holder, {}, KeyCode{code}), 0);
    EXPECT_EQ(keys.releaseAll(0),
              (AllEvents{up(KeyCode{4}, 0), up(KeyCode{6}, 0), up(KeyCode{2}, 0), up(KeyCode{5}, 0),
                         up(KeyCode{3}, 0), up(KeyCode{1}, 0)}));
    EXPECT_TRUE(keys.holds().empty());
    EXPECT_EQ(toText(KeyHolder::button(mouse, 10)), "button(0x1000,10)");
    EXPECT_EQ(toText(KeyHolder::control(DeviceInstanceID{1}, CID{0xC3})), "control(#1,0xC3)");
    // Device ids compare as numbers too: #2 before #10, whatever their texts say.
    EXPECT_TRUE(releaseOrderBefore(KeyHolder::control(DeviceInstanceID{2}, CID{0xC3}),
                                   KeyHolder::control(DeviceInstanceID{10}, CID{0x50})));
    EXPECT_FALSE(releaseOrderBefore(KeyHolder::control(DeviceInstanceID{10}, CID{0x50}),
                                    KeyHolder::control(DeviceInstanceID{2}, CID{0xC3})));
}

TEST(KeyHold, MadeFromHoldableActionsOnly) {
    const auto shortcut = KeyHold::fromAction(
        Action::shortcut(Chord{KeyCode{0x15}, Modifiers::shift | Modifiers::command}));
    ASSERT_TRUE(shortcut);
    EXPECT_EQ(*shortcut,
              (KeyHold{{HeldModifier::leftShift, HeldModifier::leftCommand}, KeyCode{0x15}}));

    const auto hyper =
        KeyHold::fromAction(Action::shortcut(Chord{KeyCode{0x00}, Modifiers::hyper}));
    ASSERT_TRUE(hyper);
    EXPECT_EQ(hyper->modifiers,
              (HeldModifierList{HeldModifier::leftControl, HeldModifier::leftOption,
                                HeldModifier::leftShift, HeldModifier::leftCommand}));

    EXPECT_EQ(KeyHold::fromAction(Action::modifier(HeldModifier::rightOption)),
              (KeyHold{{HeldModifier::rightOption}, std::nullopt}));
    EXPECT_FALSE(KeyHold::fromAction(Action::system(SystemAction::missionControl)));
    EXPECT_FALSE(KeyHold::fromAction(Action::scroll()));
}

}  // namespace
}  // namespace tindlewave
