// What the engine does beyond a plain reconcile: the set-up handed again after discovery, a HID++
// interface that arrives after the device's first one, and the status of a failed listen.

#include <gtest/gtest.h>

#include "Platform/Simulated/Desktop/SimulatedSymbolicHotKeys.h"
#include "Runtime/ActionPerformer.h"
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

// Diverted with raw movement before discovery, which finds that the control has none.
Rule swipe() {
    return Rule{Control::hidpp(CID{gestureCid}), Trigger::holdMove(Direction::up), shortcut(0x7E)};
}
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
    EXPECT_TRUE(is<HIDPPStatus::Progress::SetUp>(latest().devices[0].hidpp->progress));
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
    EXPECT_TRUE(is<HIDPPStatus::Progress::SetUp>(latest().devices[0].hidpp->progress));
    world.act(attached.interfaces[1], [](VirtualHidppMouse& m, Instant now) { m.press(gestureCid, now); });
    settle();
    EXPECT_EQ(actions.size(), 1u);
}

TEST_F(EngineMendsTest, AShortcutFromOneMouseLeavesNoModifierToAHoldOnAnother) {
    // The MX Master's back button holds Command; the plain mouse's button 4 posts Control-Option
    // with a key.
    constexpr std::uint64_t controlOption = 0xC0000;
    const DeviceProfile master = profile(masterMatch, "MX Master 3",
                                         {Rule{Control::hidpp(CID{0x53}), Trigger::hold(),
                                               Action::modifier(HeldModifier::leftCommand)}});
    const DeviceProfile plain =
        profile(plainMouseMatch, "Plain Mouse",
                {Rule{Control::button(4), Trigger::click(),
                      shortcut(0x7C, Modifiers::control | Modifiers::option)}});
    const auto mx = attach(SimulatedDevice::hidppMouse(masterThree(), 0x10));
    const auto other = attach(plainMouse());
    start();
    send(configWith({master, plain}));
    settle(seconds(2));
    SimulatedSymbolicHotKeys hotKeys;
    ActionPerformer performer{events, hotKeys, main};
    const auto shortcutFromOther = [&] {
        Event button;
        button.type = EventType::otherMouseDown;
        button.location = {500, 500};
        button.setInteger(IntegerField::buttonNumber, 4);
        inject(button, sender(other));
        button.type = EventType::otherMouseUp;
        inject(button, sender(other));
        ASSERT_EQ(actions.size(), 1u);
        main.post([&] { performer.perform(actions[0]); });
        actions.clear();
        settle();
    };
    const auto backButton = [&](bool down) {
        world.act(mx.interfaces[0], [down](VirtualHidppMouse& m, Instant now) {
            down ? m.press(0x53, now) : m.release(0x53, now);
        });
        settle();
    };
    const auto modifierChanges = [&] {
        std::vector<std::uint64_t> flags;
        for (const auto& posted : events.posted())
            if (posted.event.type == EventType::flagsChanged) flags.push_back(posted.event.flags);
        return flags;
    };

    // A shortcut, then a hold: the hold adds Command to nothing.
    shortcutFromOther();
    EXPECT_EQ(events.flagsState(), 0u);
    backButton(true);
    ASSERT_EQ(modifierChanges().size(), 1u);
    EXPECT_EQ(modifierChanges()[0] & controlOption, 0u);
    // A shortcut during the hold: its release leaves nothing down.
    shortcutFromOther();
    backButton(false);
    ASSERT_EQ(modifierChanges().size(), 2u);
    EXPECT_EQ(modifierChanges()[1] & ~std::uint64_t{0x100}, 0u);
    EXPECT_EQ(events.flagsState() & ~std::uint64_t{0x100}, 0u);
}

}  // namespace
}  // namespace tindlewave
