#include <gtest/gtest.h>

#include "Core/Devices/ConfigMatching.h"
#include "Core/Devices/DeviceRoster.h"
#include "Model/Config.h"

namespace tindlewave {
namespace {

PropertyBag pairsBag(std::vector<std::pair<std::int64_t, std::int64_t>> pairs) {
    std::vector<PropertyBag> list;
    for (auto [page, usage] : pairs)
        list.push_back({{"DeviceUsagePage", page}, {"DeviceUsage", usage}});
    return {{"DeviceUsagePairs", list}};
}

HIDProperties interface(std::uint16_t vendor, std::uint16_t product, UsagePair primary,
                        std::vector<UsagePair> pairs = {}, std::uint32_t location = 0x1000) {
    HIDProperties p;
    p.vendor = VendorID{vendor};
    p.product = ProductID{product};
    p.transport = "USB";
    p.locationID = location;
    p.primaryUsagePage = primary.page;
    p.primaryUsage = primary.usage;
    p.usagePairs = pairs.empty() ? std::vector<UsagePair>{primary} : pairs;
    return p;
}

const UsagePair vendorSpecific{0xFF00, 1};

TEST(HIDProperties, ReadsTheBagWithFallbacks) {
    PropertyBag bag = {{"VendorID", 0x1046D},       {"ProductID", "0xB023"},
                       {"Built-In", true},          {"Transport", "Bluetooth"},
                       {"LocationID", 0x123456789}, {"Product", "Receiver"},
                       {"PrimaryUsagePage", 1},     {"PrimaryUsage", 2}};
    auto p = HIDProperties::fromBag(bag);
    EXPECT_EQ(p.vendor, VendorID{0x046D});
    EXPECT_EQ(p.product, ProductID{0});  // a text where a number is read
    EXPECT_TRUE(p.builtIn);
    EXPECT_EQ(p.transport, "Bluetooth");
    EXPECT_EQ(p.locationID, 0x23456789u);
    EXPECT_EQ(p.name, "Receiver");
    EXPECT_EQ(p.usagePairs, (std::vector<UsagePair>{{1, 2}}));

    bag.erase("LocationID");
    bag["Built-In"] = 2;
    bag["Transport"] = 5;
    p = HIDProperties::fromBag(bag);
    EXPECT_EQ(p.locationID, std::nullopt);
    EXPECT_FALSE(p.builtIn);
    EXPECT_EQ(p.transport, std::nullopt);
    bag["LocationID"] = "here";
    EXPECT_EQ(HIDProperties::fromBag(bag).locationID, std::nullopt);
}

TEST(HIDProperties, UsablePairsOrThePrimaryPair) {
    PropertyBag bag = pairsBag({{1, 6}, {1, 2}});
    bag["PrimaryUsagePage"] = 0xFF43;
    bag["PrimaryUsage"] = 0x202;
    // A map lacking a usage is skipped; the rest keep their order.
    std::get<std::vector<PropertyBag>>(bag["DeviceUsagePairs"].value)
        .insert(std::get<std::vector<PropertyBag>>(bag["DeviceUsagePairs"].value).begin() + 1,
                PropertyBag{{"DeviceUsagePage", 1}});
    EXPECT_EQ(HIDProperties::fromBag(bag).usagePairs, (std::vector<UsagePair>{{1, 6}, {1, 2}}));

    const std::vector<UsagePair> primary{{0xFF43, 0x202}};
    bag["DeviceUsagePairs"] =
        std::vector<PropertyBag>{{{"DeviceUsagePage", 1}}, {{"DeviceUsage", 6}}};
    EXPECT_EQ(HIDProperties::fromBag(bag).usagePairs, primary);
    bag["DeviceUsagePairs"] = "not a list";
    EXPECT_EQ(HIDProperties::fromBag(bag).usagePairs, primary);
    bag.erase("DeviceUsagePairs");
    EXPECT_EQ(HIDProperties::fromBag(bag).usagePairs, primary);
    EXPECT_EQ(HIDProperties::fromBag({}).usagePairs, (std::vector<UsagePair>{{0, 0}}));
}

TEST(HIDProperties, KindFollowsTheCollections) {
    auto combo = interface(0x46D, 0xC52B, {1, 6}, {{1, 6}, {1, 2}});
    EXPECT_EQ(combo.kind(), DeviceKind::mouse);
    combo.builtIn = true;
    EXPECT_EQ(combo.kind(), DeviceKind::keyboard);
    EXPECT_EQ(interface(1, 2, {1, 6}).kind(), DeviceKind::keyboard);
    EXPECT_EQ(interface(1, 2, {1, 2}).kind(), DeviceKind::mouse);
    auto none = interface(1, 2, {1, 6});
    none.usagePairs.clear();
    EXPECT_EQ(none.kind(), DeviceKind::mouse);
}

TEST(DeviceRoster, ReceiverInterfacesJoinOneDevice) {
    DeviceRoster roster;
    const auto first = interface(0x46D, 0xC52B, vendorSpecific);
    const auto keyboard = interface(0x46D, 0xC52B, {1, 6}, {{1, 6}, {1, 2}});

    auto change = roster.interfaceAppeared(10, first, {SenderID{100}});
    ASSERT_TRUE(change && is<DeviceRoster::Change::Appeared>(*change));
    EXPECT_EQ(
        change->device(),
        (PresentDevice{DeviceInstanceID{1}, first.key(), first, {SenderID{100}}, std::nullopt}));
    EXPECT_EQ(toText(change->device().id), "#1");

    // A primary keyboard interface takes over as the device's properties.
    change = roster.interfaceAppeared(11, keyboard, {});
    ASSERT_TRUE(change && is<DeviceRoster::Change::Changed>(*change));
    EXPECT_EQ(change->device().properties, keyboard);

    // A second keyboard interface replaces nothing; new services still change the device,
    // once each even when named twice.
    auto another = keyboard;
    another.name = "other";
    EXPECT_EQ(roster.interfaceAppeared(12, another, {}), std::nullopt);
    change = roster.interfaceAppeared(13, another, {SenderID{100}, SenderID{101}, SenderID{101}});
    ASSERT_TRUE(change && is<DeviceRoster::Change::Changed>(*change));
    EXPECT_EQ(change->device().properties, keyboard);
    EXPECT_EQ(change->device().eventServices,
              (std::vector<SenderID>{SenderID{100}, SenderID{101}}));

    EXPECT_EQ(roster.interfaceAppeared(13, another, {SenderID{102}}), std::nullopt);  // known id
    EXPECT_EQ(roster.adopt({SenderID{101}}, keyboard.key()), std::nullopt);
    EXPECT_EQ(roster.adopt({SenderID{1}}, interface(1, 1, {1, 6}).key()), std::nullopt);
    EXPECT_EQ(roster.devices().size(), 1u);
}

TEST(DeviceRoster, KeyboardInterfaceWithNewServicesGivesOneChangeCarryingBoth) {
    DeviceRoster roster;
    roster.interfaceAppeared(10, interface(0x46D, 0xC52B, vendorSpecific), {SenderID{100}});
    const auto keyboard = interface(0x46D, 0xC52B, {1, 6});

    const auto change = roster.interfaceAppeared(11, keyboard, {SenderID{101}});
    ASSERT_TRUE(change && is<DeviceRoster::Change::Changed>(*change));
    EXPECT_EQ(change->device().properties, keyboard);
    EXPECT_EQ(change->device().eventServices,
              (std::vector<SenderID>{SenderID{100}, SenderID{101}}));
    EXPECT_EQ(roster.devices().front(), change->device());
}

TEST(DeviceRoster, RemovalAndReturn) {
    DeviceRoster roster;
    const auto mouse = interface(0x46D, 0xB023, {1, 2});
    roster.interfaceAppeared(1, mouse, {SenderID{7}});
    roster.interfaceAppeared(2, interface(0x46D, 0xB023, vendorSpecific), {});
    const PresentDevice last = roster.devices().front();

    EXPECT_EQ(roster.interfaceRemoved(1), std::nullopt);
    EXPECT_TRUE(roster.tracks(2));
    EXPECT_FALSE(roster.tracks(1));
    EXPECT_EQ(roster.interfaceRemoved(1), std::nullopt);
    EXPECT_EQ(roster.interfaceRemoved(2), DeviceRoster::Change::disappeared(last));
    EXPECT_TRUE(roster.devices().empty());

    auto back = roster.interfaceAppeared(1, mouse, {});
    ASSERT_TRUE(back && is<DeviceRoster::Change::Appeared>(*back));
    EXPECT_EQ(back->device().id, DeviceInstanceID{2});
}

TEST(DeviceRoster, TouchPadsNeverJoin) {
    DeviceRoster roster;
    EXPECT_EQ(roster.interfaceAppeared(5, interface(0x5AC, 0x265, {1, 2}, {{1, 2}, {0x0D, 0x05}}),
                                       {SenderID{9}}),
              std::nullopt);
    EXPECT_FALSE(roster.tracks(5));
    EXPECT_EQ(roster.interfaceRemoved(5), std::nullopt);
    EXPECT_EQ(roster.nextID(), 1u);
}

TEST(DeviceRoster, DevicesAreSortedById) {
    DeviceRoster roster;
    for (std::uint16_t product = 1; product <= 12; ++product) {
        roster.interfaceAppeared(product, interface(0x100, product, {1, 2}, {}, product), {});
    }
    roster.interfaceRemoved(4);
    const auto devices = roster.devices();
    ASSERT_EQ(devices.size(), 11u);
    for (std::size_t i = 1; i < devices.size(); ++i) EXPECT_LT(devices[i - 1].id, devices[i].id);
}

TEST(ConfigMatching, IgnoredFirstProfileAndBuiltIn) {
    const auto device = DeviceMatch::device(VendorID{0x46D}, ProductID{0xB023});
    Config config;
    config.devices = {DeviceProfile{device, "first"}, DeviceProfile{device, "second"},
                      DeviceProfile{DeviceMatch::builtIn(), "built-in"}};
    auto mouse = interface(0x46D, 0xB023, {1, 2});

    ASSERT_NE(profileFor(config, mouse), nullptr);
    EXPECT_EQ(profileFor(config, mouse)->name, "first");

    auto internal = mouse;
    internal.builtIn = true;  // same ids, but built in: only the built-in match fits
    ASSERT_NE(profileFor(config, internal), nullptr);
    EXPECT_EQ(profileFor(config, internal)->name, "built-in");

    EXPECT_EQ(profileFor(config, interface(0x46D, 0xB024, {1, 2})), nullptr);
    config.ignored = {device};
    EXPECT_EQ(profileFor(config, mouse), nullptr);
}

TEST(ConfigMatching, HidutilMatchingText) {
    EXPECT_EQ(hidutilKeyboardMatching(DeviceMatch::device(VendorID{0x1234}, ProductID{0x00AB})),
              R"({"VendorID":0x1234,"ProductID":0xAB,"PrimaryUsagePage":1,"PrimaryUsage":6})");
    EXPECT_EQ(hidutilKeyboardMatching(DeviceMatch::device(VendorID{0x046D}, ProductID{0})),
              R"({"VendorID":0x46D,"ProductID":0x0,"PrimaryUsagePage":1,"PrimaryUsage":6})");
    EXPECT_EQ(hidutilKeyboardMatching(DeviceMatch::builtIn()),
              R"({"Built-In":1,"PrimaryUsagePage":1,"PrimaryUsage":6})");
}

TEST(ConfigMatching, TheMatchAndHIDPPTestOfADevice) {
    HIDProperties properties;
    properties.vendor = VendorID{0x046D};
    properties.product = ProductID{0xB023};
    properties.usagePairs = {{1, 2}, {0xFF43, 0x0202}};
    EXPECT_EQ(deviceMatch(properties), DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}));
    EXPECT_TRUE(isHIDPPDevice(properties));
    properties.builtIn = true;
    EXPECT_EQ(deviceMatch(properties), DeviceMatch::builtIn());

    properties.vendor = VendorID{0x1234};  // the page alone is not enough
    EXPECT_FALSE(isHIDPPDevice(properties));
    properties.vendor = VendorID{0x046D};
    properties.usagePairs = {{1, 2}};
    EXPECT_FALSE(isHIDPPDevice(properties));
}

}  // namespace
}  // namespace tindlewave
