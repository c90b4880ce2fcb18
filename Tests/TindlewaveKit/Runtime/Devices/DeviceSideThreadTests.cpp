// The device side on a real HID executor: devices plugged in and out from another thread.

#include <gtest/gtest.h>

#include <map>

#include "Platform/Clock.h"
#include "Platform/Simulated/HID/SimulatedHIDWorld.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Waiter.h"
#include "TindlewaveKit/Platform/Simulated/HID/RecordedMice.h"

namespace tindlewave {
namespace {

TEST(DeviceSideOnThreads, DevicesComeAndGoFromAnyThread) {
    auto files = recordedMouseFiles(testing::recordedMiceFolder());
    ASSERT_TRUE(files) << files.error();
    auto mouse = loadVirtualMouse(files->front());
    ASSERT_TRUE(mouse) << mouse.error();

    testkit::TempFolder folder;
    LogStore store{folder.path(), false, SystemClock::shared()};
    Journal journal{Logger("app.tindlewave", "devices", store)};
    SimulatedPermissionGrants grants;
    RunLoopExecutor hid("test.hid");
    SimulatedHIDWorld world{hid, grants};
    testkit::Waiter waiter;
    int discovered = 0;
    int disappeared = 0;

    // Everything below lives on the HID executor, as the engine keeps it.
    std::unique_ptr<DeviceHub> hub;
    std::map<DeviceInstanceID, std::unique_ptr<Slot>> slots;
    const auto addSlot = [&](const PresentDevice& device) {
        Slot::Callbacks callbacks{[] { return DeviceSetup{KeyMapSetup::neutral(), std::nullopt, true}; },
                                  [] {},
                                  [&](const HIDPPCapabilities&) { waiter.update([&] { ++discovered; }); },
                                  [](const Action&) {},
                                  [](const HoldScrollEvent&) {},
                                  [](const KeyHoldEvent&) {},
                                  [](const ListenPress&) {}};
        auto slot = std::make_unique<Slot>(device, hid.clock().date(), hub->hidppInterface(device.id),
                                           false, callbacks, Slot::Context{hid, KeyMapHost{}, journal});
        slot->invalidate(ApplyReason::connected);
        slots[device.id] = std::move(slot);
    };
    hid.post([&] {
        hub = std::make_unique<DeviceHub>(world, hid, [&](const DeviceRoster::Change& change) {
            if (is<DeviceRoster::Change::Appeared>(change)) addSlot(change.device());
            if (is<DeviceRoster::Change::Disappeared>(change)) {
                slots.at(change.device().id)->close();
                slots.erase(change.device().id);
                waiter.update([&] { ++disappeared; });
            }
        });
        hub->start();
    });

    for (std::uint32_t round = 1; round <= 3; ++round) {
        const auto attached = world.attach(SimulatedDevice::hidppMouse(*mouse, round));
        ASSERT_TRUE(waiter.waitFor([&] { return discovered == static_cast<int>(round); }));
        world.detach(attached);
        ASSERT_TRUE(waiter.waitFor([&] { return disappeared == static_cast<int>(round); }));
    }
    // A device that leaves during its discovery.
    const auto attached = world.attach(SimulatedDevice::hidppMouse(*mouse, 9));
    world.detach(attached);
    ASSERT_TRUE(waiter.waitFor([&] { return disappeared == 4; }));

    bool cleared = false;
    hid.post([&] {
        slots.clear();
        hub.reset();
        waiter.update([&] { cleared = true; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return cleared; }));
    hid.stop();
    hid.join();
}

}  // namespace
}  // namespace tindlewave
