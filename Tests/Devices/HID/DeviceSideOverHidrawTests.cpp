// The device side end to end over hidraw: the real device hub, slots and HID++ sessions on a
// HID executor, the Linux HID system over an emulated udev, and recorded mice answering behind
// emulated hidraw nodes.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <map>
#include <memory>

#include "Platform/Clock.h"
#include "Platform/Linux/HID/LinuxHIDSystem.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Umockdev/EmulatedNode.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/HidppDeviceSide.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"

using namespace tindlewave;
using namespace tindlewave::testkit::umockdev;
using namespace std::chrono_literals;

namespace {

const Action pressAction = Action::system(SystemAction::appExpose);

VirtualMouseDescription recordedMouse() {
    auto mouse = loadVirtualMouse(TW_DATA_ROOT "/devices/MX-Master-3-Wireless-Mouse-B023.json");
    EXPECT_TRUE(mouse) << mouse.error();
    return mouse ? *mouse : VirtualMouseDescription::basic({}, false);
}

// The set-up the engine would hand a slot for a rule on button 0x56.
DeviceSetup divertingSetup() {
    HIDPPSetup plan;
    plan.controls = {{CID{0x56}, ControlBehavior::press(pressAction)}};
    return {KeyMapSetup::neutral(), plan, true};
}

// One mouse plugged into the emulated tree: its fixture, node and device side.
struct Plugged {
    FixtureDevice fixture;
    std::unique_ptr<EmulatedNode> node;
    std::unique_ptr<HidppDeviceSide> side;
};

// The device side as the engine runs it, over the Linux HID system.
struct HidrawDeviceSide {
    Testbed testbed;  // first: outlives everything that opened its nodes
    std::map<int, Plugged> plugged;
    testkit::TempFolder folder;
    LogStore store{folder.path(), false, SystemClock::shared()};
    Journal journal{Logger("app.tindlewave", "devices", store)};
    testkit::Waiter waiter;
    std::unique_ptr<RunLoopExecutor> hid = std::make_unique<RunLoopExecutor>("test.hid");
    std::unique_ptr<LinuxDeviceRegistry> registry = std::make_unique<LinuxDeviceRegistry>(*hid);
    std::unique_ptr<LinuxHIDSystem> system = std::make_unique<LinuxHIDSystem>(*registry);

    // On the HID executor.
    std::unique_ptr<DeviceHub> hub;
    std::map<DeviceInstanceID, std::unique_ptr<Slot>> slots;
    DeviceSetup desired = divertingSetup();
    // Read under the waiter.
    int discovered = 0, appeared = 0, disappeared = 0;
    std::vector<Action> performed;

    HidrawDeviceSide() {
        onExecutor([&] {
            hub = std::make_unique<DeviceHub>(*system, *hid, [this](const DeviceRoster::Change& change) {
                if (is<DeviceRoster::Change::Appeared>(change)) addSlot(change.device());
                if (is<DeviceRoster::Change::Disappeared>(change)) {
                    slots.at(change.device().id)->close();
                    slots.erase(change.device().id);
                    waiter.update([&] { ++disappeared; });
                }
            });
            hub->start();
        });
    }

    ~HidrawDeviceSide() {
        onExecutor([&] {
            for (auto& [id, slot] : slots) slot->close();
            slots.clear();
            hub.reset();
        });
        hid->stop();
        hid->join();
        system.reset();
        registry.reset();
        plugged.clear();
    }

    void onExecutor(const std::function<void()>& job) {
        bool done = false;
        hid->post([&] {
            job();
            waiter.update([&] { done = true; });
        });
        ASSERT_TRUE(waiter.waitFor([&] { return done; }));
    }

    void addSlot(const PresentDevice& device) {
        Slot::Callbacks callbacks{
            [this] { return desired; },
            [] {},
            [this](const HIDPPCapabilities&) { waiter.update([&] { ++discovered; }); },
            [this](const Action& action) { waiter.update([&] { performed.push_back(action); }); },
            [](const HoldScrollEvent&) {},
            [](const KeyHoldEvent&) {},
            [](const ListenPress&) {}};
        auto slot = std::make_unique<Slot>(device, hid->clock().date(), hub->hidppInterface(device.id),
                                           false, callbacks, Slot::Context{*hid, KeyMapHost{}, journal});
        slot->invalidate(ApplyReason::connected);
        slots[device.id] = std::move(slot);
        waiter.update([&] { ++appeared; });
    }

    // Plugs a mouse in on nodes numbered `n` (after `before`, such as a receiver above it). The
    // HID executor is held meanwhile, so the node answers before the program can open it.
    HidppDeviceSide& plug(int n, const FixtureDevice& fixture, VirtualMouseDescription mouse,
                          const std::function<void()>& before = {}) {
        // The flags outlive this call: the job may still be leaving when it returns.
        auto held = std::make_shared<std::atomic<bool>>(false);
        auto release = std::make_shared<std::atomic<bool>>(false);
        hid->post([held, release] {
            held->store(true);
            while (!release->load()) std::this_thread::sleep_for(1ms);
        });
        while (!held->load()) std::this_thread::sleep_for(1ms);
        if (before) before();
        Plugged& entry = plugged[n];
        entry.fixture = fixture;
        EXPECT_TRUE(testbed.add(fixture.text()));
        entry.node = std::make_unique<EmulatedNode>(testbed, fixture.hidraw);
        entry.side = std::make_unique<HidppDeviceSide>(*entry.node, std::move(mouse));
        release->store(true);
        return *entry.side;
    }

    // The last HID++ apply of the one slot, once it has one at or after `since`.
    bool waitForApply(Date since, std::optional<Slot::HIDPPApply>& outcome) {
        return testkit::pollUntil([&] {
            onExecutor([&] {
                outcome.reset();
                if (slots.size() != 1) return;
                const auto& last = slots.begin()->second->hidppLast();
                if (last && last->at >= since && !slots.begin()->second->busy()) outcome = last->outcome;
            });
            return outcome.has_value();
        });
    }
};

std::optional<VirtualHidppMouse::ControlReporting> reportingOf(HidppDeviceSide& side, std::uint16_t cid) {
    return side.read([cid](const VirtualHidppMouse& mouse) { return mouse.reporting(cid); });
}

}  // namespace

TEST(DeviceSideOverHidraw, ARecordedMouseIsDiscoveredDivertedRepluggedAndLeftNativeAtQuit) {
    HidrawDeviceSide world;
    const Date start = SystemClock::shared().date();
    auto& side = world.plug(0, bluetoothHidppMouse(0), recordedMouse());

    std::optional<Slot::HIDPPApply> outcome;
    ASSERT_TRUE(world.waitForApply(start, outcome));
    EXPECT_EQ(*outcome, Slot::HIDPPApply::applied());
    EXPECT_EQ(world.waiter.read([&] { return world.discovered; }), 1);
    EXPECT_EQ(reportingOf(side, 0x56), (VirtualHidppMouse::ControlReporting{true, false}));
    EXPECT_EQ(reportingOf(side, 0x53), (VirtualHidppMouse::ControlReporting{false, false}));
    // Every setting was read back after it was written (function 2 of the controls' feature).
    const auto reprog = recordedMouse().indexOf(0x1B04);
    auto requests = side.read([](const VirtualHidppMouse& mouse) { return mouse.requestsReceived(); });
    int readBacks = 0;
    for (const auto& request : requests) {
        EXPECT_EQ(request[1], 0xFF);
        if (request[2] == reprog && (request[3] >> 4) == 2) ++readBacks;
    }
    EXPECT_GT(readBacks, 0);

    // The diverted button acts through the slot.
    side.act([](VirtualHidppMouse& mouse, Instant now) {
        mouse.press(0x56, now);
        mouse.release(0x56, now);
    });
    ASSERT_TRUE(world.waiter.waitFor([&] { return !world.performed.empty(); }, 5s));
    EXPECT_EQ(world.waiter.read([&] { return world.performed; }), std::vector<Action>{pressAction});

    // Unplugged and plugged in again on new nodes: a new device, discovered and diverted anew.
    for (const auto& path : world.plugged[0].fixture.removalOrder()) world.testbed.unplug(path);
    ASSERT_TRUE(world.waiter.waitFor([&] { return world.disappeared == 1; }, 5s));
    const Date replugged = SystemClock::shared().date();
    auto& again = world.plug(1, bluetoothHidppMouse(1), recordedMouse());
    ASSERT_TRUE(world.waitForApply(replugged, outcome));
    EXPECT_EQ(*outcome, Slot::HIDPPApply::applied());
    EXPECT_EQ(world.waiter.read([&] { return world.discovered; }), 2);
    EXPECT_EQ(reportingOf(again, 0x56), (VirtualHidppMouse::ControlReporting{true, false}));

    // The quit: the neutral set-up is applied and read back, and the mouse is left native.
    const Date quit = SystemClock::shared().date();
    world.onExecutor([&] {
        world.desired = DeviceSetup{KeyMapSetup::neutral(), HIDPPSetup::native(), true};
        world.slots.begin()->second->applyHIDPP(ApplyReason::quit);
    });
    ASSERT_TRUE(world.waitForApply(quit, outcome));
    EXPECT_EQ(*outcome, Slot::HIDPPApply::applied());
    EXPECT_EQ(reportingOf(again, 0x56), (VirtualHidppMouse::ControlReporting{false, false}));
}

TEST(DeviceSideOverHidraw, APairedMouseIsSpokenToAtItsSlotAndTheReceiverGetsNoSession) {
    HidrawDeviceSide world;
    const Date start = SystemClock::shared().date();
    auto receiver = receiverWithPairedMouse(1, 3, 0xB023, "MX Master 3 Wireless Mouse");
    // The receiver's own node counts writes: the program must never write to it.
    std::unique_ptr<EmulatedNode> receiverNode;
    std::mutex mutex;
    int receiverWrites = 0;
    auto mouse = recordedMouse();
    mouse.deviceIndex = 3;
    world.plug(2, receiver.paired, mouse, [&] {
        ASSERT_TRUE(world.testbed.add(receiver.receiver.text()));
        receiverNode = std::make_unique<EmulatedNode>(world.testbed, receiver.receiver.hidraw);
        receiverNode->onWrite([&](std::span<const std::uint8_t>) {
            std::lock_guard lock(mutex);
            ++receiverWrites;
            return 0;
        });
    });
    auto& side = *world.plugged[2].side;

    std::optional<Slot::HIDPPApply> outcome;
    ASSERT_TRUE(world.waitForApply(start, outcome));
    EXPECT_EQ(*outcome, Slot::HIDPPApply::applied());
    EXPECT_EQ(reportingOf(side, 0x56), (VirtualHidppMouse::ControlReporting{true, false}));
    // Written at its slot: every report the program wrote names index 3 itself (the receiver's
    // driver would set it anyway; the replies carry it).
    auto requests = side.read([](const VirtualHidppMouse& m) { return m.requestsReceived(); });
    ASSERT_FALSE(requests.empty());
    const auto indexes = side.writtenIndexes();
    ASSERT_GE(indexes.size(), requests.size());
    EXPECT_EQ(std::count(indexes.begin(), indexes.end(), 3), std::ptrdiff_t(indexes.size()));
    world.onExecutor([&] {
        EXPECT_EQ(world.slots.size(), 1u);
        EXPECT_EQ(world.slots.begin()->second->session()->link().deviceIndex, 3);
    });
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(receiverWrites, 0);
    }
    // The receiver's node is let go before it: the world closes everything it opened.
    world.onExecutor([&] {
        for (auto& [id, slot] : world.slots) slot->close();
        world.slots.clear();
        world.hub.reset();
    });
    receiverNode.reset();
}
