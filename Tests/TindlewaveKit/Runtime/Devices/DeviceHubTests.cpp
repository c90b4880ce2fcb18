// The device hub against the simulated HID world.

#include <gtest/gtest.h>

#include "Runtime/Devices/DeviceHub.h"
#include "TindlewaveKit/Runtime/Devices/DeviceWorld.h"

namespace tindlewave {
namespace {

using Change = DeviceRoster::Change;
using Publication = SimulatedHIDWorld::Publication;

struct HubTest : testing::DeviceWorld {
    std::vector<Change> changes;
    std::unique_ptr<DeviceHub> hub = std::make_unique<DeviceHub>(
        world, hid, [this](const Change& change) { changes.push_back(change); });

    std::vector<PresentDevice> start() {
        auto devices = hub->start();
        scheduler.runReady();
        return devices;
    }
    void run() { scheduler.runReady(); }

    template <class C>
    std::size_t count() const {
        return static_cast<std::size_t>(std::count_if(
            changes.begin(), changes.end(), [](const Change& c) { return is<C>(c); }));
    }

    static SimulatedInterface interface(std::int64_t page, std::int64_t usage, int services) {
        SimulatedInterface made;
        made.primaryUsagePage = page;
        made.primaryUsage = usage;
        made.usagePairs = {{page, usage}};
        made.eventServices = services;
        return made;
    }
};

TEST_F(HubTest, DevicesPresentAtStartAreReturnedAndNeverAppear) {
    const auto mouse = world.attach(SimulatedDevice::hidppMouse(recordedMouse(), 1));
    world.attach(SimulatedDevice::builtInKeyboard());
    run();
    const auto devices = start();  // scheduling reports both interfaces again
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, DeviceInstanceID{1});
    EXPECT_EQ(devices[1].id, DeviceInstanceID{2});
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(hub->start(), devices);

    const auto& found = devices[0].properties.vendor == VendorID{0x046D} ? devices[0] : devices[1];
    EXPECT_EQ(found.eventServices, std::vector<SenderID>{SenderID{mouse.services[0][0]}});
    EXPECT_EQ(found.properties.name, recordedMouse().name);
    ASSERT_NE(hub->hidppInterface(found.id), nullptr);
    EXPECT_EQ(hub->hidppInterface(found.id)->registryID(), mouse.interfaces[0]);

    world.faults.reportTwice = true;
    world.attach(SimulatedDevice::plainMouse(0x1234, 1, {}, 7));
    run();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(is<Change::Appeared>(changes[0]));
    EXPECT_EQ(changes[0].device().id, DeviceInstanceID{3});
    EXPECT_EQ(hub->hidppInterface(DeviceInstanceID{3}), nullptr);
}

TEST_F(HubTest, InterfacesOfOneDeviceChangeItOnlyWithServicesOrItsFirstKeyboard) {
    start();
    SimulatedDevice receiver = SimulatedDevice::plainMouse(0x046D, 0xC52B, "Receiver", 4);
    receiver.interfaces = {interface(1, 2, 1), interface(0x0C, 1, 0), interface(1, 6, 0),
                           interface(1, 6, 0), interface(1, 2, 1)};
    auto touchPad = SimulatedDevice::plainMouse(0x05AC, 0x0300, "Trackpad", 8);
    touchPad.interfaces = {interface(0x0D, 0x05, 1)};
    world.attach(receiver);
    world.attach(touchPad);
    run();
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_TRUE(is<Change::Appeared>(changes[0]));
    EXPECT_TRUE(is<Change::Changed>(changes[1]));  // the first primary keyboard interface
    EXPECT_EQ(changes[1].device().properties.primaryPair(), usages::keyboard);
    EXPECT_TRUE(is<Change::Changed>(changes[2]));  // a new service
    EXPECT_EQ(changes[2].device().eventServices.size(), 2u);
    EXPECT_EQ(hub->roster().devices().size(), 1u);

    // A receiver: its keyboard interface comes with a service and the first keyboard collection,
    // its consumer-control interface matches nothing the hub asks for.
    changes.clear();
    world.attach(SimulatedDevice::receiver(0x046D, 0xC548, "Receiver", 5));
    run();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(is<Change::Appeared>(changes[0]));
    EXPECT_TRUE(is<Change::Changed>(changes[1]));
    EXPECT_EQ(changes[1].device().eventServices.size(), 2u);
    EXPECT_EQ(changes[1].device().properties.primaryPair(), usages::keyboard);
}

TEST_F(HubTest, TheFirstHIDPPInterfaceOfADeviceIsKept) {
    start();
    auto mouse = SimulatedDevice::hidppMouse(recordedMouse(), 1);
    mouse.interfaces.push_back(mouse.interfaces[0]);
    const auto attached = world.attach(mouse);
    run();
    ASSERT_EQ(count<Change::Appeared>(), 1u);
    const auto id = changes[0].device().id;
    ASSERT_NE(hub->hidppInterface(id), nullptr);
    EXPECT_EQ(hub->hidppInterface(id)->registryID(), attached.interfaces[0]);
}

TEST_F(HubTest, ServicesPublishedLaterJoinTheirDeviceOnce) {
    start();
    const auto attached =
        world.attach(SimulatedDevice::plainMouse(0x1234, 1, {}, 1), Publication::later);
    run();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].device().eventServices.empty());
    world.publishServices(attached.interfaces[0]);
    run();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(is<Change::Changed>(changes[1]));
    EXPECT_EQ(changes[1].device().eventServices,
              std::vector<SenderID>{SenderID{attached.services[0][0]}});
    // Services published with their interface are found by the walk; the notice adds nothing.
    world.attach(SimulatedDevice::plainMouse(0x1234, 2, {}, 2));
    run();
    EXPECT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[2].device().eventServices.size(), 1u);
}

TEST_F(HubTest, ALeavingDeviceForgetsItsHIDPPInterfaceAndComesBackWithANewID) {
    start();
    const auto description = recordedMouse();
    const auto first = world.attach(SimulatedDevice::hidppMouse(description, 1));
    run();
    const auto id = changes.back().device().id;
    ASSERT_NE(hub->hidppInterface(id), nullptr);
    world.detach(first);
    run();
    ASSERT_TRUE(is<Change::Disappeared>(changes.back()));
    EXPECT_EQ(hub->hidppInterface(id), nullptr);
    EXPECT_TRUE(hub->roster().devices().empty());

    world.attach(SimulatedDevice::hidppMouse(description, 1));
    run();
    ASSERT_TRUE(is<Change::Appeared>(changes.back()));
    EXPECT_NE(changes.back().device().id, id);
    EXPECT_NE(hub->hidppInterface(changes.back().device().id), nullptr);
}

TEST_F(HubTest, ALateHIDPPInterfaceChangesItsDeviceAndIsFound) {
    start();
    auto mouse = SimulatedDevice::hidppMouse(recordedMouse(), 1);
    auto hidppOnly = mouse;
    mouse.interfaces[0] = interface(1, 2, 1);
    hidppOnly.interfaces[0].usagePairs = {{0xFF43, 0x0202}};
    hidppOnly.interfaces[0].primaryUsagePage = 0xFF43;
    hidppOnly.interfaces[0].primaryUsage = 0x0202;
    hidppOnly.interfaces[0].eventServices = 0;
    world.attach(mouse);
    run();
    const auto id = changes.back().device().id;
    EXPECT_EQ(hub->hidppInterface(id), nullptr);
    const auto late = world.attach(hidppOnly);
    run();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(is<Change::Changed>(changes[1]));
    EXPECT_EQ(changes[1].device().id, id);
    ASSERT_NE(hub->hidppInterface(id), nullptr);
    EXPECT_EQ(hub->hidppInterface(id)->registryID(), late.interfaces[0]);
}

TEST_F(HubTest, FailuresOfTheHIDSystemLoseOnlyWhatTheyMust) {
    world.faults.notificationFails = true;
    world.faults.copyFails = true;
    world.attach(SimulatedDevice::builtInKeyboard());
    run();
    // The copy failed, so the device is not returned, but the manager's report still brings it.
    EXPECT_TRUE(hub->start().empty());
    run();
    ASSERT_EQ(count<Change::Appeared>(), 1u);

    // Without the notification, later-published services are never adopted; a failed walk
    // finds none.
    const auto late =
        world.attach(SimulatedDevice::plainMouse(0x1234, 1, {}, 1), Publication::later);
    run();
    world.publishServices(late.interfaces[0]);
    run();
    EXPECT_EQ(changes.size(), 2u);
    world.faults.descendantsFail = true;
    world.attach(SimulatedDevice::plainMouse(0x1234, 2, {}, 2));
    run();
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_TRUE(changes[2].device().eventServices.empty());
}

TEST_F(HubTest, ADestroyedHubHearsNothingMore) {
    start();
    EXPECT_EQ(world.managerCount(), 1u);
    EXPECT_EQ(world.watchCount(), 1u);
    const auto attached = world.attach(SimulatedDevice::plainMouse(0x1234, 1, {}, 1));
    hub.reset();  // the arrival is already on its way
    EXPECT_EQ(world.managerCount(), 0u);
    EXPECT_EQ(world.watchCount(), 0u);
    run();
    world.detach(attached);
    run();
    EXPECT_TRUE(changes.empty());
}

}  // namespace
}  // namespace tindlewave
