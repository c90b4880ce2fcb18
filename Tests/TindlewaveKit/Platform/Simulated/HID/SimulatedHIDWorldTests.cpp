// The simulated HID world: managers, registry, publication, and HID++ mice behind interfaces.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "Platform/Simulated/HID/SimulatedHIDWorld.h"
#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "TestKit/HIDPPBytes.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using testkit::ManualExecutor;
using testkit::ManualScheduler;
using Publication = SimulatedHIDWorld::Publication;

const std::vector<PropertyBag> keyboardsAndMice = {
    {{"PrimaryUsagePage", 1}, {"PrimaryUsage", 6}},
    {{"DeviceUsagePage", 1}, {"DeviceUsage", 2}},
    {{"VendorID", 0x046D}, {"DeviceUsagePage", 0xFF43}},
};

struct WorldTest : ::testing::Test {
    ManualScheduler scheduler;
    ManualExecutor hid{scheduler, "hid"};
    SimulatedPermissionGrants grants;
    testkit::TempFolder folder;
    SimulatedHidutilState hidutil{folder / "hidutil.json"};
    SimulatedHIDWorld world{hid, grants, &hidutil};
    std::vector<RegistryID> matched;
    std::vector<RegistryID> removed;

    WorldTest() { hidutil.reset(); }

    std::unique_ptr<HIDManager> manager() {
        auto made = world.makeManager();
        made->setDeviceMatching(keyboardsAndMice);
        made->registerDeviceMatchingCallback(
            [this](const HIDDeviceRef& device) { matched.push_back(device->registryID()); });
        made->registerDeviceRemovalCallback(
            [this](const HIDDeviceRef& device) { removed.push_back(device->registryID()); });
        return made;
    }
};

TEST_F(WorldTest, ManagersFindFollowAndForgetInterfaces) {
    const auto keyboard = world.attach(SimulatedDevice::builtInKeyboard());
    auto touchPad = SimulatedDevice::plainMouse(0x05AC, 0x0300, "Trackpad", 7);
    touchPad.interfaces[0].primaryUsagePage = 0x0D;
    touchPad.interfaces[0].primaryUsage = 0x05;
    touchPad.interfaces[0].usagePairs = {{0x0D, 0x05}};
    world.attach(touchPad);
    scheduler.runReady();

    auto made = manager();
    const auto present = made->copyDevices();
    ASSERT_TRUE(present);
    ASSERT_EQ(present->size(), 1u);
    EXPECT_EQ((*present)[0]->property("Built-In"), PropertyValue(1));
    EXPECT_EQ((*present)[0]->property("MaxInputReportSize"), PropertyValue(20));
    EXPECT_FALSE((*present)[0]->property("Nothing"));

    // Scheduling reports what matches already, as the system does; then arrivals and removals.
    made->schedule(hid);
    scheduler.runReady();
    EXPECT_EQ(matched, keyboard.interfaces);
    const auto mouse = world.attach(SimulatedDevice::plainMouse(0x1234, 0x0001, "Mouse", 9));
    scheduler.runReady();
    world.faults.reportTwice = true;
    const auto second = world.attach(SimulatedDevice::plainMouse(0x1234, 0x0002, "Mouse", 10));
    scheduler.runReady();
    EXPECT_EQ(matched, (std::vector{keyboard.interfaces[0], mouse.interfaces[0],
                                    second.interfaces[0], second.interfaces[0]}));
    world.detach(mouse);
    scheduler.runReady();
    EXPECT_EQ(removed, mouse.interfaces);

    // Nothing after unscheduling, even what was already on its way.
    world.detach(keyboard);
    hid.post([&] { made->unschedule(); });
    scheduler.runReady();
    EXPECT_EQ(removed, mouse.interfaces);

    world.faults.copyFails = true;
    EXPECT_FALSE(made->copyDevices());
}

TEST_F(WorldTest, KeyboardsAreHidutilServicesWhileAttached) {
    const auto builtIn = world.attach(SimulatedDevice::builtInKeyboard());
    const auto external = world.attach(SimulatedDevice::externalKeyboard(0x046D, 0xB023, {}, 3));
    world.attach(SimulatedDevice::plainMouse(0x1234, 0x0001, "Mouse", 9));
    scheduler.runReady();
    auto services = hidutil.load()["services"];
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0]["id"], builtIn.interfaces[0]);
    EXPECT_EQ(services[0]["properties"]["Built-In"], 1);
    EXPECT_EQ(services[1]["properties"]["ProductID"], 0xB023);
    EXPECT_FALSE(services[1]["properties"].contains("Built-In"));

    world.detach(builtIn);
    scheduler.runReady();
    services = hidutil.load()["services"];
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0]["id"], external.interfaces[0]);
}

TEST_F(WorldTest, RegistryHoldsServicesBelowInterfacesAndPublishesThem) {
    const auto early = world.attach(SimulatedDevice::plainMouse(0x1234, 1, "A", 1));
    std::vector<RegistryID> published;
    auto watch = world.watchPublished(eventServiceClass, hid, [&](const auto& ids) {
        published.insert(published.end(), ids.begin(), ids.end());
    });
    ASSERT_TRUE(watch);
    EXPECT_TRUE(watch->present.empty());  // the attach has not reached the executor yet
    scheduler.runReady();
    EXPECT_EQ(published, early.services[0]);

    const auto late = world.attach(SimulatedDevice::plainMouse(0x1234, 2, "B", 2), Publication::later);
    scheduler.runReady();
    EXPECT_EQ(published, early.services[0]);
    const RegistryID service = late.services[0][0];
    EXPECT_FALSE(world.parent(service));
    world.publishServices(late.interfaces[0]);
    scheduler.runReady();
    EXPECT_EQ(published.back(), service);

    // The service sits below the interface, not directly under it.
    const auto parent = world.parent(service);
    ASSERT_TRUE(parent);
    EXPECT_NE(*parent, late.interfaces[0]);
    EXPECT_EQ(world.parent(*parent), late.interfaces[0]);
    EXPECT_TRUE(world.conformsTo(service, eventServiceClass));
    EXPECT_FALSE(world.conformsTo(*parent, eventServiceClass));
    EXPECT_EQ(world.descendants(late.interfaces[0]), (std::vector{*parent, service}));

    world.faults.descendantsFail = true;
    EXPECT_FALSE(world.descendants(late.interfaces[0]));
    world.faults.notificationFails = true;
    EXPECT_FALSE(world.watchPublished(eventServiceClass, hid, [](const auto&) {}));

    watch->handle.cancel();
    EXPECT_EQ(world.watchCount(), 0u);
    world.detach(late);
    scheduler.runReady();
    EXPECT_FALSE(world.parent(service));
}

TEST_F(WorldTest, HIDPPInterfaceWrapsTheVirtualMouse) {
    auto description = VirtualMouseDescription::basic({}, false);
    description.productID = 0xB023;
    const auto attached = world.attach(SimulatedDevice::hidppMouse(description, 5));
    scheduler.runReady();
    auto* interface = world.interface(attached.interfaces[0]);
    ASSERT_NE(interface, nullptr);
    EXPECT_EQ(interface->property("ProductID"), PropertyValue(0xB023));

    grants.setInputMonitoring(PermissionState::Grant::denied);
    EXPECT_EQ(interface->open(), hidNotPermitted);
    grants.setInputMonitoring(PermissionState::Grant::granted);
    interface->openResult = static_cast<HIDResult>(0xE00002C5u);
    EXPECT_EQ(interface->open(), static_cast<HIDResult>(0xE00002C5u));
    interface->openResult.reset();
    ASSERT_EQ(interface->open(), hidSuccess);

    std::vector<std::pair<std::uint8_t, std::size_t>> received;
    interface->registerInputReportCallback(
        16, [&](std::uint8_t id, std::span<const std::uint8_t> report) {
            received.emplace_back(id, report.size());
        });
    const auto ping = testkit::bytes({0x11, 0xFF, 0x00, 0x1B, 0x00, 0x00, 0x5A});
    ASSERT_EQ(interface->setReport(HIDReportType::output, 0x11, ping), hidSuccess);
    scheduler.runReady();
    EXPECT_TRUE(received.empty());  // the reply leaves after the mouse's latency
    scheduler.advance(std::chrono::milliseconds(1));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], (std::pair<std::uint8_t, std::size_t>{0x11, 16}));

    // Failing writes, then a reply that leaves after the callback is gone is not delivered.
    interface->failingReports = 2;
    interface->failingReportCode = static_cast<HIDResult>(0xE000404Fu);
    EXPECT_EQ(interface->setReport(HIDReportType::output, 0x11, ping),
              static_cast<HIDResult>(0xE000404Fu));
    EXPECT_NE(interface->setReport(HIDReportType::output, 0x11, ping), hidSuccess);
    ASSERT_EQ(interface->setReport(HIDReportType::output, 0x11, ping), hidSuccess);
    interface->unregisterInputReportCallback();
    scheduler.advance(std::chrono::milliseconds(5));
    EXPECT_EQ(received.size(), 1u);

    // Detached: calls fail, nothing is delivered.
    const auto kept = world.makeManager();  // keeps nothing alive by itself
    HIDDeviceRef held = interface->shared_from_this();
    world.detach(attached);
    scheduler.runReady();
    EXPECT_EQ(held->open(), SimulatedHIDInterface::gone);
    EXPECT_EQ(held->setReport(HIDReportType::output, 0x11, ping), SimulatedHIDInterface::gone);
}

}  // namespace
}  // namespace tindlewave
