#include "Runtime/Worlds/WorldTexts.h"

#include <gtest/gtest.h>

namespace tindlewave {
namespace {

// Sets the world's texts for one test and puts the simulated ones back after it.
struct WorldTextsScope {
    explicit WorldTextsScope(WorldTexts texts) { setWorldTexts(texts); }
    ~WorldTextsScope() { setWorldTexts(WorldTexts::simulated); }
};

const Modifiers all = Modifiers::hyper;
const Modifiers shiftCommand = Modifiers::shift | Modifiers::command;

TEST(WorldTexts, ModifiersKeepTheQuotedSymbolsAndWordsInTheSimulatedWorld) {
    WorldTextsScope scope(WorldTexts::simulated);
    EXPECT_EQ(modifierSymbols(all), (std::vector<std::string>{"⌃", "⌥", "⇧", "⌘"}));
    EXPECT_EQ(modifierNames(all), "Control+Option+Shift+Command");
    EXPECT_EQ(modifierName(Modifiers::option), "Option");
    EXPECT_EQ(modifierKeyName(HeldModifier::rightCommand), "Right Command");
    EXPECT_EQ(shortcutText(shiftCommand, "4"), "⇧⌘4");
    EXPECT_EQ(shortcutText(Modifiers::option | Modifiers::shift, "S"), "⌥⇧S");
}

TEST(WorldTexts, ModifiersOverLinuxDevicesUseTheLinuxNamesJoinedByPlus) {
    WorldTextsScope scope(WorldTexts::linuxDevices);
    EXPECT_EQ(modifierSymbols(all), (std::vector<std::string>{"Ctrl", "Alt", "Shift", "Super"}));
    EXPECT_EQ(modifierNames(all), "Ctrl+Alt+Shift+Super");
    EXPECT_EQ(modifierNames(shiftCommand), "Shift+Super");
    EXPECT_EQ(modifierNames({}), "");
    EXPECT_EQ(modifierName(Modifiers::control), "Ctrl");
    EXPECT_EQ(modifierName(Modifiers::command), "Super");
    EXPECT_EQ(modifierName(shiftCommand), "") << "one modifier only";
    EXPECT_EQ(modifierKeyName(HeldModifier::leftOption), "Left Alt");
    EXPECT_EQ(modifierKeyName(HeldModifier::rightControl), "Right Ctrl");
    EXPECT_EQ(shortcutText(shiftCommand, "4"), "Shift+Super+4");
    EXPECT_EQ(shortcutText({}, "F5"), "F5");
    EXPECT_EQ(shortcutText(Modifiers::control, ""), "Ctrl");
}

TEST(WorldTexts, FlagsGiveTheirGenericModifiersOnly) {
    EXPECT_EQ(modifiersOfFlags(QuartzFlag::shift | QuartzFlag::command | 0x8 /* a side bit */), shiftCommand);
    EXPECT_EQ(modifiersOfFlags(quartzFlags(all)), all);
    EXPECT_TRUE(modifiersOfFlags(0x100).isEmpty());
}

}  // namespace
}  // namespace tindlewave
