#include "Runtime/KeyMap/HidutilReadback.h"

#include <gtest/gtest.h>

namespace tindlewave {
namespace {

using Pair = KeyMapSetup::Pair;
using HidutilReadback::parse;
using HidutilReadback::Services;

TEST(HidutilReadback, ReadsThePublishedTableOfTwoServicesAndNullRows) {
    const char* output = R"(RegistryID  Key                   Value
1000004be   UserKeyMapping   (
        {
        HIDKeyboardModifierMappingDst = 30064771129;
        HIDKeyboardModifierMappingSrc = 30064771113;
    },
        {
        HIDKeyboardModifierMappingDst = 30064771113;
        HIDKeyboardModifierMappingSrc = 30064771129;
    }
)
1000004c0   UserKeyMapping   (null)
)";
    Services expected{
        {0x1000004be, {{0x700000029, 0x700000039}, {0x700000039, 0x700000029}}},
        {0x1000004c0, {}},
    };
    EXPECT_EQ(parse(output), expected);
}

TEST(HidutilReadback, EntriesInEitherOrderHexOrDecimalAndIncompleteOnesSkipped) {
    const char* output =
        "4d2 UserKeyMapping (\n"
        "{\n"
        "HIDKeyboardModifierMappingSrc = 0x700000039;\n"
        "HIDKeyboardModifierMappingDst = 30064771181;\n"
        "},\n"
        "{\n"
        "HIDKeyboardModifierMappingSrc = 0x70000003A;\n"
        "},\n"  // half an entry: nothing
        "{\n"
        "HIDKeyboardModifierMappingDst = 30064771176;\n"  // and its half does not carry over
        "HIDKeyboardModifierMappingSrc = 30064771130\n"   // no ";": every digit counts
        "}\n"
        ")\n";
    Services expected{{0x4d2, {{0x700000039, 0x70000006D}, {0x70000003A, 0x700000068}}}};
    EXPECT_EQ(parse(output), expected);
}

TEST(HidutilReadback, OutputWithoutServiceRowsGivesNoServices) {
    EXPECT_TRUE(parse("(null)\n").empty());
    EXPECT_TRUE(parse("").empty());
    EXPECT_TRUE(parse("\x01\xff garbage { = ; }} 0xZZ\n(\n").empty());
    // Without --matching there is no service row, so the list belongs to nobody.
    EXPECT_TRUE(parse("(\n{\nHIDKeyboardModifierMappingDst = 1;\n"
                      "HIDKeyboardModifierMappingSrc = 2;\n}\n)\n")
                    .empty());
    // A registry id too long for 64 bits is no service row.
    EXPECT_TRUE(parse("123456789abcdef01 UserKeyMapping (null)\n").empty());
}

}  // namespace
}  // namespace tindlewave
