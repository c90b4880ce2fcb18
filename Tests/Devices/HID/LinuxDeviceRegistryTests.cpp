// The shared device registry over an emulated udev: entries, parents and services, hot-plug.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"

using namespace tindlewave;
using namespace tindlewave::testkit::umockdev;
using namespace std::chrono_literals;
using Registry = LinuxDeviceRegistry;
using testkit::Waiter;

namespace {

const Registry::Entry* find(const std::vector<Registry::Entry>& entries, const std::string& path) {
    for (const auto& entry : entries)
        if (entry.syspath == "/sys" + path) return &entry;
    return nullptr;
}

// Changes seen by a watcher, as (action, syspath) lines.
struct Seen {
    Waiter waiter;
    std::vector<std::pair<Registry::Action, Registry::Entry>> changes;

    Registry::ChangeCallback callback() {
        return [this](const Registry::Change& change) {
            waiter.update([&] { changes.emplace_back(change.action, change.entry); });
        };
    }
    bool waitForCount(std::size_t count) {
        return waiter.waitFor([&] { return changes.size() >= count; }, std::chrono::seconds(5));
    }
};

}  // namespace

TEST(LinuxDeviceRegistry, InterfacesServicesAndTheirParents) {
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0);
    auto receiver = receiverWithPairedMouse(1, 2);
    auto keyboard = ps2Keyboard(4);
    auto touchpad = ps2Touchpad(5);
    auto own = ownVirtualDevice(6);
    auto unrelated = unrelatedDevice(7);
    for (const auto* device : {&mouse, &keyboard, &touchpad, &own, &unrelated})
        ASSERT_TRUE(testbed.add(device->text()));
    ASSERT_TRUE(testbed.add(receiver.text()));

    Registry registry;
    EXPECT_FALSE(registry.followsHotplug());
    auto entries = registry.entries();

    const auto* mouseEntry = find(entries, mouse.interface);
    ASSERT_NE(mouseEntry, nullptr);
    EXPECT_EQ(mouseEntry->kind, Registry::Kind::interface);
    EXPECT_TRUE(mouseEntry->hid && mouseEntry->present);
    EXPECT_EQ(mouseEntry->devnode, "/dev/hidraw0");
    EXPECT_EQ(mouseEntry->property("HID_ID"), "0005:0000046D:0000B023");
    EXPECT_FALSE(mouseEntry->reportDescriptor.empty());
    EXPECT_EQ(mouseEntry->reportDescriptor, bluetoothHidppMouseDescriptor());
    EXPECT_FALSE(mouseEntry->parent);
    EXPECT_TRUE(registry.conformsTo(mouseEntry->id, interfaceClass));
    EXPECT_FALSE(registry.conformsTo(mouseEntry->id, eventServiceClass));

    // The event node sits directly below its hid device, the input level skipped.
    const auto* mouseEvent = find(entries, mouse.eventPath);
    ASSERT_NE(mouseEvent, nullptr);
    EXPECT_EQ(mouseEvent->kind, Registry::Kind::eventService);
    EXPECT_EQ(mouseEvent->parent, mouseEntry->id);
    EXPECT_EQ(mouseEvent->devnode, "/dev/input/event0");
    EXPECT_EQ(mouseEvent->property("ID_INPUT_MOUSE"), "1");
    ASSERT_TRUE(mouseEvent->input);
    EXPECT_EQ(mouseEvent->input->vendor, 0x046D);
    EXPECT_EQ(mouseEvent->input->name, "MX Master 3 Wireless Mouse");
    EXPECT_TRUE(registry.conformsTo(mouseEvent->id, eventServiceClass));
    EXPECT_EQ(registry.parent(mouseEvent->id), mouseEntry->id);
    EXPECT_EQ(registry.descendants(mouseEntry->id), std::vector<RegistryID>{mouseEvent->id});
    EXPECT_EQ(registry.descendants(mouseEvent->id), std::vector<RegistryID>{});
    EXPECT_FALSE(registry.descendants(1));

    // The paired mouse below the receiver, with what tells them apart.
    const auto* receiverEntry = find(entries, receiver.receiver.interface);
    const auto* paired = find(entries, receiver.paired.interface);
    ASSERT_TRUE(receiverEntry && paired);
    EXPECT_EQ(receiverEntry->driver, "logitech-djreceiver");
    EXPECT_EQ(paired->driver, "logitech-hidpp-device");
    EXPECT_EQ(paired->parentHidDriver, "logitech-djreceiver");
    EXPECT_FALSE(paired->parent);
    ASSERT_TRUE(paired->usb);
    EXPECT_EQ(paired->usb->busnum, 1u);
    EXPECT_EQ(paired->usb->devpath, "2");
    EXPECT_EQ(paired->usb->removable, "removable");
    EXPECT_EQ(registry.descendants(receiverEntry->id), std::vector<RegistryID>{});

    // Input devices without HID are interfaces of their own; the program's own never enter.
    const auto* keyboardEntry = find(entries, keyboard.input);
    ASSERT_NE(keyboardEntry, nullptr);
    EXPECT_FALSE(keyboardEntry->hid);
    EXPECT_TRUE(keyboardEntry->present);
    EXPECT_EQ(keyboardEntry->driver, "atkbd");
    const auto* keyboardEvent = find(entries, keyboard.eventPath);
    ASSERT_NE(keyboardEvent, nullptr);
    EXPECT_EQ(keyboardEvent->parent, keyboardEntry->id);
    ASSERT_NE(find(entries, touchpad.input), nullptr);
    EXPECT_EQ(find(entries, own.input), nullptr);
    EXPECT_EQ(find(entries, own.eventPath), nullptr);
    ASSERT_NE(find(entries, unrelated.interface), nullptr);

    // Ids are distinct.
    std::vector<RegistryID> ids;
    for (const auto& entry : entries) ids.push_back(entry.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

TEST(LinuxDeviceRegistry, HotplugAddChangeRemoveAndReplugWithNewIds) {
    Testbed testbed;
    Seen seen;
    auto executor = std::make_unique<RunLoopExecutor>("test.registry");
    auto registry = std::make_unique<Registry>(*executor);
    EXPECT_TRUE(registry->followsHotplug());
    Subscription watch = registry->watch(*executor, seen.callback());

    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    ASSERT_TRUE(seen.waitForCount(2));
    auto changes = seen.waiter.read([&] { return seen.changes; });
    // The interface is announced once present (its hidraw node), its event node as it comes.
    RegistryID interface = 0, service = 0;
    for (const auto& [action, entry] : changes) {
        EXPECT_EQ(action, Registry::Action::added);
        if (entry.kind == Registry::Kind::interface) interface = entry.id;
        if (entry.kind == Registry::Kind::eventService) service = entry.id;
    }
    ASSERT_NE(interface, 0u);
    ASSERT_NE(service, 0u);
    EXPECT_EQ(registry->parent(service), interface);

    testbed.setProperty(mouse.interface, "HID_NAME", "Renamed Mouse");
    testbed.uevent(mouse.interface, "change");
    ASSERT_TRUE(seen.waitForCount(3));
    auto changed = seen.waiter.read([&] { return seen.changes[2]; });
    EXPECT_EQ(changed.first, Registry::Action::changed);
    EXPECT_EQ(changed.second.id, interface);
    EXPECT_EQ(changed.second.property("HID_NAME"), "Renamed Mouse");

    for (const auto& path : mouse.removalOrder()) testbed.unplug(path);
    ASSERT_TRUE(seen.waitForCount(5));
    changes = seen.waiter.read([&] { return seen.changes; });
    EXPECT_EQ(changes[3].first, Registry::Action::removed);
    EXPECT_EQ(changes[3].second.id, service);
    EXPECT_EQ(changes[4].first, Registry::Action::removed);
    EXPECT_EQ(changes[4].second.id, interface);
    EXPECT_FALSE(registry->entry(interface));
    EXPECT_FALSE(registry->entry(service));

    // The same mouse again, on new nodes: new entries with new ids.
    auto again = bluetoothHidppMouse(1);
    ASSERT_TRUE(testbed.add(again.text()));
    ASSERT_TRUE(seen.waitForCount(7));
    changes = seen.waiter.read([&] { return seen.changes; });
    for (std::size_t i = 5; i < 7; ++i) {
        EXPECT_EQ(changes[i].first, Registry::Action::added);
        EXPECT_GT(changes[i].second.id, std::max(interface, service));
    }

    watch.cancel();
    executor->stop();
    executor->join();
    registry.reset();
}

TEST(LinuxDeviceRegistry, NoCallbackOnceTheWatchIsCancelledOnItsExecutor) {
    Testbed testbed;
    Seen seen;
    Waiter waiter;
    auto monitor = std::make_unique<RunLoopExecutor>("test.monitor");
    auto watcher = std::make_unique<RunLoopExecutor>("test.watcher");
    auto registry = std::make_unique<Registry>(*monitor);
    Subscription watch = registry->watch(*watcher, seen.callback());
    bool blocked = false, release = false;
    // Hold the watcher's executor while changes queue up, then cancel before they run.
    watcher->post([&] {
        waiter.update([&] { blocked = true; });
        waiter.waitFor([&] { return release; });
        watch.cancel();
    });
    ASSERT_TRUE(waiter.waitFor([&] { return blocked; }));
    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    // Until the registry itself has the device, which it learns before any watcher is told.
    testkit::pollUntil([&] { return registry->entries().size() >= 2; });
    ASSERT_EQ(registry->entries().size(), 2u);
    waiter.update([&] { release = true; });
    bool done = false;
    watcher->post([&] { waiter.update([&] { done = true; }); });
    ASSERT_TRUE(waiter.waitFor([&] { return done; }));
    EXPECT_TRUE(seen.changes.empty());
    monitor->stop();
    monitor->join();
    watcher->stop();
    watcher->join();
    registry.reset();
}
