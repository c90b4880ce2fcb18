#include <gtest/gtest.h>

#include "Core/Keys/KeyRoutes.h"

namespace tindlewave {
namespace {

const HIDUsage capsLock{0x39};
const HIDUsage f1{0x3A};

KeyRoute hyperOn(HIDUsage source) {
    return {source, KeyTarget::carrier(Carrier::hyperKey(),
                                       CarrierMeaning::holdModifiers(Modifiers::hyper))};
}

TEST(KeyMapSetup, UserKeyMappingTextIsByteExact) {
    EXPECT_EQ(KeyMapSetup::neutral().userKeyMappingJSON(), R"({"UserKeyMapping":[]})");
    EXPECT_EQ(KeyMapSetup{{hyperOn(capsLock)}}.userKeyMappingJSON(),
              R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x700000039,)"
              R"("HIDKeyboardModifierMappingDst":0x70000006D}]})");
    const KeyMapSetup two{{hyperOn(f1), {HIDUsage{0x04}, KeyTarget::native(HIDUsage{0xE7})}}};
    EXPECT_EQ(two.userKeyMappingJSON(),
              R"({"UserKeyMapping":[{"HIDKeyboardModifierMappingSrc":0x70000003A,)"
              R"("HIDKeyboardModifierMappingDst":0x70000006D},)"
              R"({"HIDKeyboardModifierMappingSrc":0x700000004,)"
              R"("HIDKeyboardModifierMappingDst":0x7000000E7}]})");
}

TEST(KeyMapSetup, LeftoversAreTheCarrierPairsOnly) {
    using Pair = KeyMapSetup::Pair;
    EXPECT_EQ(KeyMapSetup::tindlewaveLeftover({}), std::nullopt);
    EXPECT_EQ(KeyMapSetup::tindlewaveLeftover({Pair{0x700000039, 0x700000045}}), std::nullopt);
    // Just outside F13...F20 on either side, and F20 itself.
    EXPECT_EQ(KeyMapSetup::tindlewaveLeftover({Pair{0x700000039, 0x700000067}}), std::nullopt);
    EXPECT_EQ(KeyMapSetup::tindlewaveLeftover({Pair{0x700000039, 0x70000006F}})->routes,
              (std::vector<KeyRoute>{
                  {capsLock, KeyTarget::carrier({HIDUsage{0x6F}, KeyCode{90}},
                                                CarrierMeaning::holdModifiers(Modifiers{}))}}));

    const auto leftover = KeyMapSetup::tindlewaveLeftover(
        {Pair{0x700000039, 0x70000006D}, Pair{0x70000003A, 0x700000068},
         Pair{0x700000004, 0x700000045}, Pair{0x700000005, 0x700000070}});
    ASSERT_TRUE(leftover);
    const auto empty = CarrierMeaning::holdModifiers(Modifiers{});
    std::vector<KeyRoute> routes = leftover->routes;
    std::sort(routes.begin(), routes.end(),
              [](const KeyRoute& a, const KeyRoute& b) { return a.source < b.source; });
    EXPECT_EQ(routes, (std::vector<KeyRoute>{
                          {capsLock, KeyTarget::carrier({HIDUsage{0x6D}, KeyCode{79}}, empty)},
                          {f1, KeyTarget::carrier({HIDUsage{0x68}, KeyCode{105}}, empty)}}));
}

TEST(Carrier, KeyRulePoolLeavesOutTheHyperCarrier) {
    const auto& pool = Carrier::forKeyRules();
    ASSERT_EQ(pool.size(), 7u);
    EXPECT_EQ(std::find(pool.begin(), pool.end(), Carrier::hyperKey()), pool.end());
    EXPECT_EQ(pool.front(), (Carrier{HIDUsage{0x68}, KeyCode{105}}));
    EXPECT_EQ(pool[5], (Carrier{HIDUsage{0x6E}, KeyCode{80}}));
    EXPECT_EQ(&pool, &Carrier::forKeyRules());
}

}  // namespace
}  // namespace tindlewave
