// What the engine does beyond a plain reconcile: the set-up handed again after discovery, a HID++
// interface that arrives after the device's first one, and the status of a failed listen.

#include <gtest/gtest.h>

#include "TestKit/EngineHarness.h"
#include "TindlewaveKit/Runtime/Engine/EngineConfigs.h"

namespace tindlewave {
namespace {

using namespace testkit;
using std::chrono::seconds;

constexpr std::uint16_t gestureCid = 0xC3;
const DeviceMatch madeUpMatch = DeviceMatch::device(VendorID{0x046D}, ProductID{0x4001});

// A mouse whose one divertable control reports no raw movement.
VirtualMouseDescription madeUpMouse() {
    VirtualMouseDescription::Control gesture{gestureCid, 0xA9, 0x31, 0x00, 0, 3, 0x07};
    auto mouse = VirtualMouseDescription::basic({gesture}, false);
    mouse.name = "Made-up Mouse";
    mouse.productID = 0x4001;
    return mouse;
}

Rule swipe() { return Rule{Control::hidpp(CID{gestureCid}), Trigger::holdMove(), shortcut(0x7E)}; }
Rule press() { return Rule{Control::hidpp(CID{gestureCid}), Trigger::click(), shortcut(0x7D)}; }

using EngineMendsTest = EngineHarness;

TEST_F(EngineMendsTest, AControlWhoseOnlyRuleCannotBeServedIsUndivertedAfterDiscovery) {
    const auto mouse = attach(SimulatedDevice::hidppMouse(madeUpMouse(), 0x30));
    start();
    send(configWith({profile(madeUpMatch, "Made-up", {swipe()})}));
    settle(seconds(2));
    EXPECT_EQ(countLines("discovered #1"), 1u);
    EXPECT_FALSE(diverted(mouse, gestureCid));
    ASSERT_EQ(latest().devices[0].hidpp->skippedRules, std::vector<Rule>{swipe()});
    EXPECT_TRUE(latest().devices[0].hidpp->progress.is<HIDPPStatus::Progress::SetUp>());
}

TEST_F(EngineMendsTest, AClickBesideAnUnservableSwipeFiresOnPressAfterDiscovery) {
    const auto mouse = attach(SimulatedDevice::hidppMouse(madeUpMouse(), 0x30));
    start();
    send(configWith({profile(madeUpMatch, "Made-up", {press(), swipe()})}));
    settle(seconds(2));
    ASSERT_TRUE(diverted(mouse, gestureCid));

    world.act(mouse.interfaces[0], [](VirtualHidppMouse& m, Instant now) { m.press(gestureCid, now); });
    settle();
    ASSERT_EQ(actions.size(), 1u);  // on press, not waiting for the release
    EXPECT_EQ(actions[0], shortcut(0x7D));
    world.act(mouse.interfaces[0], [](VirtualHidppMouse& m, Instant now) { m.release(gestureCid, now); });
    settle();
    EXPECT_EQ(actions.size(), 1u);
}

TEST_F(EngineMendsTest, AHIDPPInterfaceThatComesSecondIsDiscoveredAndSetUp) {
    start();
    send(configWith({profile(madeUpMatch, "Made-up", {press()})}));

    SimulatedInterface pointer;
    pointer.usagePairs = {{1, 2}};
    SimulatedInterface vendor;
    vendor.primaryUsagePage = simulatedHIDPPUsagePage;
    vendor.primaryUsage = simulatedHIDPPUsage;
    vendor.usagePairs = {{simulatedHIDPPUsagePage, simulatedHIDPPUsage}};
    vendor.eventServices = 0;
    vendor.hidpp = madeUpMouse();
    SimulatedDevice device;
    device.vendor = 0x046D;
    device.product = 0x4001;
    device.name = "Two-Interface Mouse";
    device.locationID = 0x40;
    device.interfaces = {pointer, vendor};
    const auto attached = attach(device);
    settle(seconds(2));

    EXPECT_EQ(countLines("discovered #1"), 1u);
    EXPECT_TRUE(diverted(attached, gestureCid, 1));
    EXPECT_TRUE(latest().devices[0].hidpp->progress.is<HIDPPStatus::Progress::SetUp>());
    world.act(attached.interfaces[1], [](VirtualHidppMouse& m, Instant now) { m.press(gestureCid, now); });
    settle();
    EXPECT_EQ(actions.size(), 1u);
}

}  // namespace
}  // namespace tindlewave
