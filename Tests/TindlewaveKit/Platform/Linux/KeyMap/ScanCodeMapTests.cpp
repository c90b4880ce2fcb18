#include "Platform/Linux/KeyMap/ScanCodeMap.h"

#include <gtest/gtest.h>

#include <set>

#include "Core/Devices/ConfigMatching.h"
#include "Model/Config.h"
#include "Model/Keys.h"
#include "Core/Evdev/EvdevKeys.h"

namespace tindlewave {
namespace {

constexpr std::uint16_t keyCapsLock = 58, keyF13 = 183, keyF18 = 188, keyRightAlt = 100,
                        keyA = 30, keyF1 = 59;

// A HID keyboard's table: scan code 0x70000 + usage for every usage from a to F12, plus F13.
ScanCodeMap usbKeyboard() {
    ScanCodeMap table;
    for (const auto& key : KeyTable::keys())
        table[0x70000 + key.usage.rawValue] = *evdevkeys::evdevCode(key.usage);
    table[0x70068] = keyF13;
    return table;
}

// A laptop keyboard: scan codes of its own scheme, Caps Lock at 0x3A and A at 0x1E.
ScanCodeMap laptopKeyboard() { return {{0x1E, keyA}, {0x3A, keyCapsLock}, {0x3B, keyF1}}; }

KeyMapSetup hyperOnCapsLock() {
    return {{{HIDUsage{0x39},
              KeyTarget::carrier(Carrier::hyperKey(), CarrierMeaning::holdModifiers({}))}}};
}

ScanCodeMap applied(ScanCodeMap table, const ScanCodeMaps::Writes& writes) {
    for (const auto& [scanCode, keyCode] : writes) table[scanCode] = keyCode;
    return table;
}

ScanCodeBaseline fresh(const ScanCodeMap& table) { return {table, {}}; }

TEST(ScanCodeMaps, CapsLockToF18IsOneWriteAndReadsBackAsItsPair) {
    auto baseline = fresh(usbKeyboard());
    auto plan = ScanCodeMaps::writes(baseline, baseline.table, hyperOnCapsLock());
    ASSERT_TRUE(plan.ok());
    EXPECT_EQ(plan->writes, (ScanCodeMaps::Writes{{0x70039, keyF18}}));
    EXPECT_EQ(plan->routed, (std::set<std::uint32_t>{0x70039}));
    baseline.routed = plan->routed;
    const auto current = applied(baseline.table, plan->writes);
    EXPECT_EQ(ScanCodeMaps::pairs(baseline, current), (KeyMapBackend::Pairs{{0x700000039, 0x70000006D}}));
    // Already in place: nothing more to write.
    auto again = ScanCodeMaps::writes(baseline, current, hyperOnCapsLock());
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again->writes.empty());
}

TEST(ScanCodeMaps, AnEmptySetUpPutsBackWhatWasRoutedAndNothingElse) {
    ScanCodeBaseline baseline{usbKeyboard(), {0x70039}};
    ScanCodeMap current = baseline.table;
    current[0x70039] = keyF18;       // a route of ours
    current[0x7003A] = keyRightAlt;  // and a change made by someone else since (hwdb, setkeycodes)
    // The other change is neither held nor undone.
    EXPECT_EQ(ScanCodeMaps::pairs(baseline, current), (KeyMapBackend::Pairs{{0x700000039, 0x70000006D}}));
    auto plan = ScanCodeMaps::writes(baseline, current, KeyMapSetup{});
    ASSERT_TRUE(plan.ok());
    EXPECT_EQ(plan->writes, (ScanCodeMaps::Writes{{0x70039, keyCapsLock}}));
    EXPECT_TRUE(plan->routed.empty());
    // A new route replaces the old one: the old scan code goes back, the new one is routed (F1
    // already gives Right Option here, so it needs no write).
    KeyMapSetup f1 = {{{HIDUsage{0x3A}, KeyTarget::native(HIDUsage{0xE6})}}};
    auto replaced = ScanCodeMaps::writes(baseline, current, f1);
    ASSERT_TRUE(replaced.ok());
    EXPECT_EQ(replaced->writes, (ScanCodeMaps::Writes{{0x70039, keyCapsLock}}));
    EXPECT_EQ(replaced->routed, (std::set<std::uint32_t>{0x7003A}));
    baseline.routed.insert(replaced->routed.begin(), replaced->routed.end());
    EXPECT_EQ(ScanCodeMaps::pairs(baseline, applied(current, replaced->writes)),
              (KeyMapBackend::Pairs{{0x70000003A, 0x7000000E6}}));
}

TEST(ScanCodeMaps, ACarrierLeftOnAHIDKeyFromAnEarlierRunShowsWithoutItsBaseline) {
    ScanCodeMap current = usbKeyboard();
    current[0x70039] = keyF18;
    const auto baseline = ScanCodeMaps::baselineOf(current);
    EXPECT_EQ(baseline.table.at(0x70039), keyCapsLock);
    EXPECT_EQ(baseline.table.at(0x70068), keyF13);  // a real F13 key stays F13
    EXPECT_EQ(baseline.routed, (std::set<std::uint32_t>{0x70039}));
    const auto pairs = ScanCodeMaps::pairs(baseline, current);
    EXPECT_EQ(pairs, (KeyMapBackend::Pairs{{0x700000039, 0x70000006D}}));
    EXPECT_TRUE(KeyMapSetup::tindlewaveLeftover(pairs).has_value());
    auto undo = ScanCodeMaps::writes(baseline, current, KeyMapSetup{});
    ASSERT_TRUE(undo.ok());
    EXPECT_EQ(undo->writes, (ScanCodeMaps::Writes{{0x70039, keyCapsLock}}));
}

TEST(ScanCodeMaps, ALaptopKeyboardIsRemappedByWhatItsTableSays) {
    const auto baseline = fresh(laptopKeyboard());
    auto plan = ScanCodeMaps::writes(baseline, baseline.table, hyperOnCapsLock());
    ASSERT_TRUE(plan.ok());
    EXPECT_EQ(plan->writes, (ScanCodeMaps::Writes{{0x3A, keyF18}}));
    // Its scan codes are no usages: nothing counts from a default there.
    ScanCodeMap leftover = laptopKeyboard();
    leftover[0x3A] = keyF18;
    EXPECT_EQ(ScanCodeMaps::baselineOf(leftover), fresh(leftover));
}

TEST(ScanCodeMaps, ARouteThatCannotBeWrittenIsRefusedByName) {
    KeyMapSetup missingKey = {{{HIDUsage{0x39}, KeyTarget::native(HIDUsage{0xE6})}}};
    auto plan = ScanCodeMaps::writes(fresh({{0x1E, keyA}}), {{0x1E, keyA}}, missingKey);
    ASSERT_FALSE(plan.ok());
    EXPECT_EQ(plan.error(), "has no key for usage 0x39");
    KeyMapSetup noTarget = {{{HIDUsage{0x04}, KeyTarget::native(HIDUsage{0x01})}}};
    auto target = ScanCodeMaps::writes(fresh(usbKeyboard()), usbKeyboard(), noTarget);
    ASSERT_FALSE(target.ok());
    EXPECT_EQ(target.error(), "has no key code for usage 0x1");
}

TEST(ScanCodeMaps, AStoredBaselineFitsOnlyTheNodesOwnScanCodes) {
    const ScanCodeMap table = usbKeyboard();
    EXPECT_TRUE(ScanCodeMaps::fits({table, {0x70039}}, table));
    EXPECT_TRUE(ScanCodeMaps::fits({table, {}}, applied(table, {{0x70039, keyF18}})));  // keys may differ
    EXPECT_FALSE(ScanCodeMaps::fits({}, table));  // empty
    ScanCodeMap shorter = table;
    shorter.erase(0x70039);
    EXPECT_FALSE(ScanCodeMaps::fits({shorter, {}}, table));  // short
    ScanCodeMap longer = table;
    longer[0x70100] = keyA;
    EXPECT_FALSE(ScanCodeMaps::fits({longer, {}}, table));
    EXPECT_FALSE(ScanCodeMaps::fits(fresh(laptopKeyboard()), table));  // another keyboard's
    EXPECT_FALSE(ScanCodeMaps::fits({table, {0x3A}}, table));  // routes a scan code it lacks
}

TEST(ScanCodeMaps, StoredBaselineBelongsToItsBoot) {
    const ScanCodeBaseline baseline{laptopKeyboard(), {0x3A}};
    const auto text = ScanCodeMaps::encode(baseline, "8c3f-01ab");
    EXPECT_EQ(ScanCodeMaps::decode(text, "8c3f-01ab"), baseline);
    EXPECT_EQ(ScanCodeMaps::decode(text, "ffff-0000"), std::nullopt);
    EXPECT_EQ(ScanCodeMaps::decode(ScanCodeMaps::encode(baseline, ""), ""), std::nullopt);
    EXPECT_EQ(ScanCodeMaps::decode("{\"boot\":\"8c3f-01ab\",\"table\":[[1]],\"routed\":[]}", "8c3f-01ab"),
              std::nullopt);
    EXPECT_EQ(ScanCodeMaps::decode("{\"boot\":\"8c3f-01ab\",\"table\":[[1,70000]],\"routed\":[]}", "8c3f-01ab"),
              std::nullopt);
    EXPECT_EQ(ScanCodeMaps::decode("{\"boot\":\"8c3f-01ab\",\"table\":[[1,2]],\"routed\":[-1]}", "8c3f-01ab"),
              std::nullopt);
    // Without what it routed a stored table cannot say what to put back.
    EXPECT_EQ(ScanCodeMaps::decode("{\"boot\":\"8c3f-01ab\",\"table\":[[1,2]]}", "8c3f-01ab"), std::nullopt);
    EXPECT_EQ(ScanCodeMaps::decode("not json", "8c3f-01ab"), std::nullopt);
    // A boot id with anything but hex digits and dashes never matches what is stored.
    EXPECT_EQ(ScanCodeMaps::decode(ScanCodeMaps::encode(baseline, "a\"b"), "a\"b"), std::nullopt);
}

TEST(ScanCodeMaps, MatchingTextsNameTheKeyboards) {
    EXPECT_EQ(KeyboardMatching::parse(hidutilKeyboardMatching(DeviceMatch::builtIn())),
              (KeyboardMatching{.builtIn = true}));
    EXPECT_EQ(KeyboardMatching::parse(hidutilKeyboardMatching(
                  DeviceMatch::device(VendorID{0x46D}, ProductID{0xC52B}))),
              (KeyboardMatching{.vendor = 0x46D, .product = 0xC52B}));
    EXPECT_EQ(KeyboardMatching::parse(R"({"VendorID":0x46D})"), std::nullopt);
    EXPECT_EQ(KeyboardMatching::parse(R"({"VendorID":0x10000,"ProductID":1})"), std::nullopt);
}

TEST(EvdevKeyCodes, ByUsageEveryNamedKeyModifierAndCarrierLeadsBack) {
    std::vector<HIDUsage> usages;
    for (const auto& key : KeyTable::keys()) usages.push_back(key.usage);
    for (std::uint16_t usage = 0xE0; usage <= 0xE7; ++usage) usages.push_back(HIDUsage{usage});
    for (const auto& carrier : Carrier::all()) usages.push_back(carrier.usage);
    for (HIDUsage usage : usages) {
        auto code = evdevkeys::evdevCode(usage);
        ASSERT_TRUE(code) << usage.rawValue;
        EXPECT_EQ(evdevkeys::usage(*code), usage);
    }
    EXPECT_EQ(evdevkeys::evdevCode(HIDUsage{0x6D}), keyF18);
    EXPECT_EQ(evdevkeys::evdevCode(HIDUsage{0x39}), keyCapsLock);
    EXPECT_EQ(evdevkeys::evdevCode(HIDUsage{0x01}), std::nullopt);
    EXPECT_EQ(evdevkeys::usage(0x110), std::nullopt);  // a mouse button
}

}  // namespace
}  // namespace tindlewave
