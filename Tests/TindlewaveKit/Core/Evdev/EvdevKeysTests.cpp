#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <set>

#include "Core/Evdev/EvdevKeys.h"
#include "Core/Evdev/ModifierKeys.h"
#include "Core/Keys/KeyRoutes.h"

namespace tindlewave {
namespace {

// Every key the program names has one evdev code, and the code leads back to the same key.
TEST(EvdevKeys, EveryNamedKeyModifierAndCarrierRoundTrips) {
    std::set<std::uint16_t> codes;
    auto roundTrip = [&](KeyCode key, const std::string& what) {
        const auto code = evdevkeys::evdevCode(key);
        ASSERT_TRUE(code) << what;
        EXPECT_EQ(evdevkeys::keyCode(*code), key) << what;
        EXPECT_TRUE(codes.insert(*code).second) << what << " shares its evdev code";
    };
    for (const KeyTable::Key& key : KeyTable::keys()) roundTrip(key.keyCode, key.name);
    for (const Carrier& carrier : Carrier::all())
        roundTrip(carrier.keyCode, "carrier 0x" + std::to_string(carrier.usage.rawValue));
    for (HeldModifier m : allCases<HeldModifier>()) {
        roundTrip(KeyCode{virtualKeyCode(m)}, std::string(toText(m)));
        EXPECT_EQ(evdevkeys::modifier(evdevkeys::evdevCode(m)), m);
    }
    EXPECT_EQ(codes.size(), 74u + 8u + 8u);
}

// Spot checks against the kernel's names, where a shifted row would go unnoticed above.
TEST(EvdevKeys, KnownKeysAndWhatHasNoKey) {
    EXPECT_EQ(evdevkeys::keyCode(KEY_A), KeyCode::named("a"));
    EXPECT_EQ(evdevkeys::keyCode(KEY_4), KeyCode{0x15});
    EXPECT_EQ(evdevkeys::keyCode(KEY_ENTER), KeyCode::named("return"));
    EXPECT_EQ(evdevkeys::keyCode(KEY_BACKSPACE), KeyCode::named("delete"));
    EXPECT_EQ(evdevkeys::keyCode(KEY_DELETE), KeyCode::named("forwardDelete"));
    EXPECT_EQ(evdevkeys::keyCode(KEY_CAPSLOCK), KeyCode::named("capsLock"));
    EXPECT_EQ(evdevkeys::keyCode(KEY_F11), KeyCode::named("f11"));
    EXPECT_EQ(evdevkeys::keyCode(KEY_F18), Carrier::hyperKey().keyCode);
    EXPECT_EQ(evdevkeys::keyCode(KEY_UP), KeyCode::named("up"));
    EXPECT_EQ(evdevkeys::modifier(KEY_RIGHTALT), HeldModifier::rightOption);
    EXPECT_EQ(evdevkeys::modifier(KEY_LEFTMETA), HeldModifier::leftCommand);
    EXPECT_EQ(evdevkeys::modifier(KEY_A), std::nullopt);

    EXPECT_EQ(evdevkeys::keyCode(BTN_LEFT), std::nullopt);
    EXPECT_EQ(evdevkeys::keyCode(KEY_KP1), std::nullopt);
    EXPECT_EQ(evdevkeys::keyCode(0xFFFF), std::nullopt);
    EXPECT_EQ(evdevkeys::evdevCode(KeyCode{0xFFFF}), std::nullopt);
    EXPECT_EQ(evdevkeys::evdevCode(KeyCode{0x7F}), std::nullopt);
}

TEST(ModifierKeys, FlagsBothWays) {
    const auto leftShift = ModifierKeys::of(HeldModifier::leftShift);
    const auto rightCommand = ModifierKeys::of(HeldModifier::rightCommand);
    EXPECT_EQ((leftShift | rightCommand).flags(), 0x2u | 0x20000u | 0x10u | 0x100000u);
    EXPECT_EQ(ModifierKeys{}.flags(true), ModifierKeys::capsLockFlag);
    EXPECT_EQ(ModifierKeys::forFlags((leftShift | rightCommand).flags(true)), leftShift | rightCommand);
    // Generic bits without a side bit are the left keys; a side bit keeps its own side.
    EXPECT_EQ(ModifierKeys::forFlags(quartzFlags(Modifiers::hyper)),
              ModifierKeys::of(HeldModifier::leftControl) | leftShift |
                  ModifierKeys::of(HeldModifier::leftOption) |
                  ModifierKeys::of(HeldModifier::leftCommand));
    EXPECT_EQ(ModifierKeys::forFlags(0x80040), ModifierKeys::of(HeldModifier::rightOption));

    // Every set of keys: its flags are those of its keys together (read from a table made once).
    for (unsigned raw = 0; raw < 256; ++raw) {
        const ModifierKeys keys{static_cast<std::uint8_t>(raw)};
        std::uint64_t expected = 0;
        for (HeldModifier m : allCases<HeldModifier>()) {
            if (keys.contains(m)) expected |= ModifierKeys::of(m).flags();
        }
        ASSERT_EQ(keys.flags(), expected) << raw;
        ASSERT_EQ(keys.flags(true), expected | ModifierKeys::capsLockFlag) << raw;
        ASSERT_EQ(ModifierKeys::forFlags(keys.flags()), keys) << raw;
    }
}

}  // namespace
}  // namespace tindlewave
