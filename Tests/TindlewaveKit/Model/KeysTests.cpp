#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Model/Keys.h"

namespace tindlewave {
namespace {

TEST(KeyTable, HoldsSeventyFourDistinctRowsInTableOrder) {
    const auto& keys = KeyTable::keys();
    ASSERT_EQ(keys.size(), 74u);
    EXPECT_EQ(keys.front(), (KeyTable::Key{"a", HIDUsage{0x04}, KeyCode{0x00}}));
    EXPECT_EQ(keys[26].name, "1");
    EXPECT_EQ(keys[35].name, "0");
    EXPECT_EQ(keys[52], (KeyTable::Key{"capsLock", HIDUsage{0x39}, KeyCode{0x39}}));
    EXPECT_EQ(keys.back(), (KeyTable::Key{"up", HIDUsage{0x52}, KeyCode{0x7E}}));

    std::set<std::string> names;
    std::set<std::uint16_t> usages;
    std::set<std::uint16_t> codes;
    for (const auto& key : keys) {
        names.insert(key.name);
        usages.insert(key.usage.rawValue);
        codes.insert(key.keyCode.rawValue);
    }
    EXPECT_EQ(names.size(), 74u);
    EXPECT_EQ(usages.size(), 74u);
    EXPECT_EQ(codes.size(), 74u);
    EXPECT_EQ(KeyTable::byName().size(), 74u);
    EXPECT_EQ(KeyTable::byUsage().size(), 74u);
    EXPECT_EQ(KeyTable::byKeyCode().size(), 74u);

    const auto& named = HIDUsage::allNamed();
    ASSERT_EQ(named.size(), 74u);
    for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(named[i], keys[i].usage);
}

TEST(KeyTable, NamesMatchWithoutRegardToCaseAndAnswerInTableSpelling) {
    EXPECT_EQ(HIDUsage::named("ESCAPE"), HIDUsage{0x29});
    EXPECT_EQ(KeyCode::named("ESCAPE"), KeyCode{0x35});
    EXPECT_EQ(HIDUsage{0x29}.name(), "escape");
    EXPECT_EQ(HIDUsage::named("CapsLock"), HIDUsage::named("capslock"));
    EXPECT_EQ(HIDUsage::named("Space"), HIDUsage{0x2C});
    EXPECT_EQ(HIDUsage{0x4B}.name(), "pageUp");
    EXPECT_EQ(KeyCode{0x75}.name(), "forwardDelete");
}

TEST(KeyTable, KeysOutsideTheTableHaveNoName) {
    EXPECT_EQ(HIDUsage::named("f18"), std::nullopt);
    EXPECT_EQ(KeyCode::named("f18"), std::nullopt);
    EXPECT_EQ(KeyCode{79}.name(), std::nullopt);     // F18
    EXPECT_EQ(HIDUsage{0x32}.name(), std::nullopt);  // the non-US hash key
    EXPECT_EQ(HIDUsage::named(""), std::nullopt);
    EXPECT_EQ(KeyCode::fromVirtualKeyCode(79), std::nullopt);
    EXPECT_EQ(KeyCode::fromVirtualKeyCode(0x35), KeyCode{0x35});
}

TEST(Modifiers, FlagSet) {
    EXPECT_EQ(Modifiers::hyper,
              Modifiers::control | Modifiers::option | Modifiers::shift | Modifiers::command);
    EXPECT_EQ(Modifiers::hyper.rawValue, 15);
    EXPECT_TRUE(Modifiers::hyper.contains(Modifiers::shift));
    EXPECT_FALSE((Modifiers::control | Modifiers::option).contains(Modifiers::shift));
    EXPECT_TRUE(Modifiers{}.isEmpty());
    EXPECT_EQ(quartzFlags(Modifiers::hyper), 0x40000u | 0x20000u | 0x80000u | 0x100000u);
    EXPECT_EQ(quartzFlags(Modifiers::option), 0x80000u);
}

TEST(HeldModifier, PropertiesByCase) {
    const auto cases = allCases<HeldModifier>();
    ASSERT_EQ(cases.size(), 8u);
    EXPECT_EQ(cases.front(), HeldModifier::leftControl);
    EXPECT_EQ(cases.back(), HeldModifier::rightCommand);
    for (HeldModifier modifier : cases) {
        EXPECT_EQ(fromText<HeldModifier>(toText(modifier)), modifier);
        EXPECT_EQ(heldModifierFromVirtualKeyCode(virtualKeyCode(modifier)), modifier);
    }
    EXPECT_EQ(virtualKeyCode(HeldModifier::leftOption), 0x3A);
    EXPECT_EQ(generic(HeldModifier::rightShift), Modifiers::shift);
    EXPECT_EQ(deviceFlag(HeldModifier::rightControl), 0x2000u);
    EXPECT_EQ(deviceFlag(HeldModifier::leftOption), 0x20u);
}

TEST(HeldModifier, FromKeyCodeAndText) {
    EXPECT_EQ(heldModifierFromVirtualKeyCode(0x39), std::nullopt);  // Caps Lock
    EXPECT_EQ(heldModifierFromVirtualKeyCode(0x36), HeldModifier::rightCommand);
    EXPECT_EQ(heldModifierFromVirtualKeyCode(0x00), std::nullopt);
    EXPECT_EQ(fromText<HeldModifier>("leftControl"), HeldModifier::leftControl);
    EXPECT_EQ(fromText<HeldModifier>("LeftControl"), std::nullopt);
    EXPECT_EQ(toText(HeldModifier::rightOption), "rightOption");
}

}  // namespace
}  // namespace tindlewave
