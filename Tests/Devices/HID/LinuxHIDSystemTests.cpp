// The HID system over udev and hidraw, against emulated devices: properties, matching, hot-plug,
// opening, reading and writing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Platform/Linux/HID/HidrawDevice.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Platform/Linux/HID/LinuxHIDSystem.h"
#include "Runtime/Devices/DeviceHub.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/ReportDescriptorBuilder.h"
#include "TestKit/Umockdev/EmulatedNode.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/Preload.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"

using namespace tindlewave;
using namespace tindlewave::testkit::umockdev;
using namespace std::chrono_literals;
using testkit::Waiter;

namespace {

using Pairs = std::vector<UsagePair>;

Pairs pairsOf(const HIDDevice& device, const char* name = "DeviceUsagePairs") {
    Pairs pairs;
    auto value = device.property(name);
    if (!value || !as<std::vector<PropertyBag>>(*value)) return pairs;
    for (const auto& bag : *as<std::vector<PropertyBag>>(*value))
        pairs.push_back({*as<std::int64_t>(bag.at("DeviceUsagePage")),
                         *as<std::int64_t>(bag.at("DeviceUsage"))});
    return pairs;
}

std::optional<std::int64_t> number(const HIDDevice& device, const char* name) {
    auto value = device.property(name);
    if (!value || !as<std::int64_t>(*value)) return std::nullopt;
    return *as<std::int64_t>(*value);
}

std::string text(const HIDDevice& device, const char* name) {
    auto value = device.property(name);
    return value && as<std::string>(*value) ? *as<std::string>(*value) : "";
}

HIDDeviceRef byProduct(const std::vector<HIDDeviceRef>& devices, std::int64_t product) {
    for (const auto& device : devices)
        if (number(*device, "ProductID") == product) return device;
    return nullptr;
}

std::uint32_t fnv1a(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

// Runs `job` on the executor and waits for it.
void onExecutor(Executor& executor, const std::function<void()>& job) {
    Waiter waiter;
    bool done = false;
    executor.post([&] {
        job();
        waiter.update([&] { done = true; });
    });
    ASSERT_TRUE(waiter.waitFor([&] { return done; }));
}

// What a manager reported, on its executor.
struct Reported {
    Waiter waiter;
    std::vector<HIDDeviceRef> matched, removed;

    void follow(HIDManager& manager) {
        manager.registerDeviceMatchingCallback(
            [this](const HIDDeviceRef& device) { waiter.update([&] { matched.push_back(device); }); });
        manager.registerDeviceRemovalCallback(
            [this](const HIDDeviceRef& device) { waiter.update([&] { removed.push_back(device); }); });
    }
    bool waitFor(std::size_t matches, std::size_t removals) {
        return waiter.waitFor([&] { return matched.size() >= matches && removed.size() >= removals; }, 5s);
    }
    std::pair<std::size_t, std::size_t> counts() {
        return waiter.read([&] { return std::pair{matched.size(), removed.size()}; });
    }
};

}  // namespace

TEST(LinuxHIDSystem, PropertiesFromUdevSysfsAndTheDescriptor) {
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0);
    auto receiver = receiverWithPairedMouse(1, 2);
    auto keyboard = usbKeyboard(3);
    auto ps2 = ps2Keyboard(4);
    auto touchpad = ps2Touchpad(5);
    auto unrelated = unrelatedDevice(6);
    for (const auto* device : {&mouse, &keyboard, &ps2, &touchpad, &unrelated})
        ASSERT_TRUE(testbed.add(device->text()));
    ASSERT_TRUE(testbed.add(receiver.text()));
    // The HID++ driver renames paired mice after udev saw them; the node's own name wins.
    EmulatedNode paired(testbed, receiver.paired.hidraw);
    paired.onIoctl(HIDIOCGRAWNAME(255), [](const std::shared_ptr<IoctlCall>& call) {
        const std::string name = "Renamed Paired Mouse";
        call->write({reinterpret_cast<const std::uint8_t*>(name.c_str()), name.size() + 1});
        call->complete(long(name.size() + 1));
        return true;
    });

    LinuxDeviceRegistry registry;
    LinuxHIDSystem system(registry);
    auto hubManager = system.makeManager();
    hubManager->setDeviceMatching(DeviceHub::matching());
    auto found = hubManager->copyDevices();
    ASSERT_TRUE(found);
    // The two mice and two keyboards; not the receiver, the touch pad or the power device.
    EXPECT_EQ(found->size(), 4u);
    auto everything = system.makeManager();
    everything->setDeviceMatching({PropertyBag{}});
    auto all = *everything->copyDevices();
    EXPECT_EQ(all.size(), 7u);

    auto ble = byProduct(*found, 0xB023);
    ASSERT_TRUE(ble);
    EXPECT_EQ(number(*ble, "VendorID"), 0x046D);
    EXPECT_EQ(text(*ble, "Transport"), "Bluetooth Low Energy");
    EXPECT_EQ(number(*ble, "Built-In"), 0);
    EXPECT_EQ(number(*ble, "LocationID"), fnv1a("d1:8a:3c:40:52:19"));
    EXPECT_EQ(text(*ble, "Product"), "MX Master 3 Wireless Mouse");
    EXPECT_EQ(pairsOf(*ble), (Pairs{{1, 2}, {0xFF43, 0x0202}}));
    EXPECT_EQ(number(*ble, "PrimaryUsagePage"), 1);
    EXPECT_EQ(number(*ble, "PrimaryUsage"), 2);
    EXPECT_EQ(number(*ble, "MaxInputReportSize"), 20);
    EXPECT_FALSE(ble->property("HIDPPDeviceIndex"));

    // The paired mouse: HID++ on the vendor page, given the HID++ pair and its slot.
    auto child = byProduct(*found, 0x4082);
    ASSERT_TRUE(child);
    EXPECT_EQ(text(*child, "Transport"), "USB");
    EXPECT_EQ(number(*child, "LocationID"), 0x01200000 + 2);
    EXPECT_EQ(text(*child, "Product"), "Renamed Paired Mouse");
    EXPECT_EQ(pairsOf(*child), (Pairs{{1, 2}, {0xFF00, 1}, {0xFF00, 2}, {0xFF43, 0x0202}}));
    EXPECT_EQ(pairsOf(*child, "DescriptorUsagePairs"), (Pairs{{1, 2}, {0xFF00, 1}, {0xFF00, 2}}));
    EXPECT_EQ(number(*child, "HIDPPDeviceIndex"), 2);
    EXPECT_EQ(number(*child, "MaxInputReportSize"), 20);
    EXPECT_TRUE(isHIDPPDevice(HIDProperties::fromBag(std::dynamic_pointer_cast<HidrawDevice>(child)->properties())));

    // The receiver keeps its own pairs and is no HID++ device to the hub.
    auto receiverDevice = byProduct(all, 0xC52B);
    ASSERT_TRUE(receiverDevice);
    EXPECT_EQ(pairsOf(*receiverDevice), (Pairs{{0xFF00, 1}, {0xFF00, 2}, {0xFF00, 4}}));
    EXPECT_FALSE(receiverDevice->property("HIDPPDeviceIndex"));
    EXPECT_EQ(number(*receiverDevice, "LocationID"), 0x01200000);

    auto usb = byProduct(*found, 0x7801);
    ASSERT_TRUE(usb);
    EXPECT_EQ(text(*usb, "Transport"), "USB");
    EXPECT_EQ(number(*usb, "Built-In"), 0);
    EXPECT_EQ(number(*usb, "LocationID"), 0x01300000);
    EXPECT_EQ(pairsOf(*usb), (Pairs{{1, 6}}));
    EXPECT_EQ(number(*usb, "MaxInputReportSize"), 8);

    // Without HID: the input device's ids, the i8042 port, built in, usages from udev.
    auto atkbd = byProduct(*found, 0x0001);
    ASSERT_TRUE(atkbd);
    EXPECT_EQ(number(*atkbd, "VendorID"), 0x0001);
    EXPECT_EQ(text(*atkbd, "Transport"), "i8042");
    EXPECT_EQ(number(*atkbd, "Built-In"), 1);
    EXPECT_EQ(text(*atkbd, "Product"), "AT Translated Set 2 keyboard");
    EXPECT_EQ(pairsOf(*atkbd), (Pairs{{1, 6}}));
    EXPECT_EQ(atkbd->open(), hidNoDevice);  // nothing to open
    auto pad = byProduct(all, 0x0007);
    ASSERT_TRUE(pad);
    EXPECT_EQ(pairsOf(*pad), (Pairs{{0x0D, 5}}));
}

TEST(LinuxHIDSystem, VendorPageNormalisedForPairedMiceNotForReceivers) {
    LinuxDeviceRegistry::Entry entry;
    entry.hid = true;
    entry.properties = {{"HID_ID", "0003:0000046D:0000C548"}, {"HID_PHYS", "usb-0000:00:14.0-1/input2"}};
    entry.driver = "hid-generic";
    entry.reportDescriptor = receiverDescriptor();
    // A receiver left to the generic driver: its receiver reports show what it is.
    auto bag = linuxHIDProperties(entry);
    EXPECT_FALSE(isHIDPPDevice(HIDProperties::fromBag(bag)));
    EXPECT_FALSE(bag.contains("HIDPPDeviceIndex"));

    // The paired mouse's descriptor from another maker gets nothing.
    entry.properties["HID_ID"] = "0003:00003412:00004082";
    entry.reportDescriptor = pairedMouseDescriptor();
    entry.parentHidDriver = receiverDriver;
    entry.properties["HID_PHYS"] = "usb-0000:00:14.0-1/input2:3";
    bag = linuxHIDProperties(entry);
    EXPECT_FALSE(isHIDPPDevice(HIDProperties::fromBag(bag)));
    EXPECT_EQ(*as<std::int64_t>(bag.at("HIDPPDeviceIndex")), 3);

    // A HID++ report of the wrong size is no HID++ collection; a descriptor that cannot be read
    // leaves the interface without pairs and says why.
    entry.properties["HID_ID"] = "0003:0000046D:00004082";
    testkit::ReportDescriptorBuilder odd;
    odd.usagePage(0xFF00).usage(2).application().reportID(0x11).bytesIn(18).end();
    entry.reportDescriptor = odd.bytes();
    EXPECT_FALSE(isHIDPPDevice(HIDProperties::fromBag(linuxHIDProperties(entry))));
    entry.reportDescriptor = {0x05, 0x01, 0x09};
    bag = linuxHIDProperties(entry);
    EXPECT_FALSE(bag.contains("DeviceUsagePairs"));
    EXPECT_EQ(*as<std::string>(bag.at("DescriptorError")), "at byte 2: item runs past the end");
}

TEST(LinuxHIDSystem, HotplugAddChangeRemoveAndReplugWithANewId) {
    Testbed testbed;
    auto executor = std::make_unique<RunLoopExecutor>("test.hid");
    auto registry = std::make_unique<LinuxDeviceRegistry>(*executor);
    LinuxHIDSystem system(*registry);
    Reported reported;
    std::unique_ptr<HIDManager> manager;
    onExecutor(*executor, [&] {
        manager = system.makeManager();
        manager->setDeviceMatching(DeviceHub::matching());
        reported.follow(*manager);
        manager->schedule(*executor);
    });

    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    ASSERT_TRUE(reported.waitFor(1, 0));
    const RegistryID first = reported.matched[0]->registryID();

    // A change is read again without a report.
    testbed.setProperty(mouse.interface, "HID_NAME", "Renamed Mouse");
    testbed.uevent(mouse.interface, "change");
    std::string product;
    testkit::pollUntil([&] {
        onExecutor(*executor, [&] { product = text(*reported.matched[0], "Product"); });
        return product == "Renamed Mouse";
    });
    EXPECT_EQ(product, "Renamed Mouse");
    EXPECT_EQ(reported.counts(), (std::pair<std::size_t, std::size_t>{1, 0}));

    for (const auto& path : mouse.removalOrder()) testbed.unplug(path);
    ASSERT_TRUE(reported.waitFor(1, 1));
    EXPECT_EQ(reported.removed[0], reported.matched[0]);

    auto again = bluetoothHidppMouse(1);
    ASSERT_TRUE(testbed.add(again.text()));
    ASSERT_TRUE(reported.waitFor(2, 1));
    EXPECT_GT(reported.matched[1]->registryID(), first);
    EXPECT_EQ(reported.counts(), (std::pair<std::size_t, std::size_t>{2, 1}));

    onExecutor(*executor, [&] { manager.reset(); });
    executor->stop();
    executor->join();
    reported.matched.clear();
    reported.removed.clear();
    registry.reset();
}

TEST(LinuxHIDSystem, NoCallbackAfterUnschedule) {
    Testbed testbed;
    auto executor = std::make_unique<RunLoopExecutor>("test.hid");
    // udev is read on an executor of its own here, so that the registry learns of the mouse
    // while the manager's executor is held.
    auto monitor = std::make_unique<RunLoopExecutor>("test.udev");
    auto registry = std::make_unique<LinuxDeviceRegistry>(*monitor);
    LinuxHIDSystem system(*registry);
    Reported reported;
    Waiter waiter;
    bool blocked = false, release = false;
    std::unique_ptr<HIDManager> manager;
    onExecutor(*executor, [&] {
        manager = system.makeManager();
        manager->setDeviceMatching(DeviceHub::matching());
        reported.follow(*manager);
        manager->schedule(*executor);
    });
    // The executor is held while the mouse arrives; the manager is unscheduled before the
    // registry's news can run.
    executor->post([&] {
        waiter.update([&] { blocked = true; });
        waiter.waitFor([&] { return release; });
        manager->unschedule();
    });
    ASSERT_TRUE(waiter.waitFor([&] { return blocked; }));
    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    testkit::pollUntil([&] { return registry->entries().size() >= 2; });
    ASSERT_EQ(registry->entries().size(), 2u);
    waiter.update([&] { release = true; });
    onExecutor(*executor, [] {});
    EXPECT_EQ(reported.counts(), (std::pair<std::size_t, std::size_t>{0, 0}));

    onExecutor(*executor, [&] { manager.reset(); });
    executor->stop();
    executor->join();
    monitor->stop();
    monitor->join();
    registry.reset();
}

namespace {

// One emulated HID++ mouse's node opened through the system on a run-loop executor.
struct OpenMouse {
    Testbed testbed;
    FixtureDevice fixture = bluetoothHidppMouse(0);
    std::unique_ptr<EmulatedNode> node;
    std::unique_ptr<RunLoopExecutor> executor = std::make_unique<RunLoopExecutor>("test.hid");
    std::unique_ptr<LinuxDeviceRegistry> registry;
    std::unique_ptr<LinuxHIDSystem> system;
    std::unique_ptr<HIDManager> manager;
    HIDDeviceRef device;
    Waiter waiter;
    std::vector<std::vector<std::uint8_t>> reports;
    Reported reported;

    OpenMouse() {
        EXPECT_TRUE(testbed.add(fixture.text()));
        node = std::make_unique<EmulatedNode>(testbed, fixture.hidraw);
        registry = std::make_unique<LinuxDeviceRegistry>(*executor);
        system = std::make_unique<LinuxHIDSystem>(*registry);
        onExecutor(*executor, [&] {
            manager = system->makeManager();
            manager->setDeviceMatching(DeviceHub::matching());
            reported.follow(*manager);
            device = manager->copyDevices()->at(0);
            manager->schedule(*executor);
        });
    }
    void listen(std::size_t bufferSize) {
        onExecutor(*executor, [&] {
            device->registerInputReportCallback(
                bufferSize, [this](std::uint8_t, std::span<const std::uint8_t> report) {
                    waiter.update([&] { reports.emplace_back(report.begin(), report.end()); });
                });
        });
    }
    bool waitForReports(std::size_t count) {
        return waiter.waitFor([&] { return reports.size() >= count; }, 5s);
    }
    ~OpenMouse() {
        onExecutor(*executor, [&] {
            device->close();
            device.reset();
            manager.reset();
        });
        executor->stop();
        executor->join();
        reported.matched.clear();
        reported.removed.clear();
        system.reset();
        registry.reset();
        node.reset();
    }
};

std::vector<std::uint8_t> longReport(std::uint8_t marker) {
    std::vector<std::uint8_t> report(20, 0);
    report[0] = 0x11, report[1] = 0xFF, report[2] = marker;
    return report;
}

}  // namespace

TEST(LinuxHIDSystem, MergedReadsAreSplitCutAndNotDeliveredAfterUnregistering) {
    OpenMouse mouse;
    HIDResult opened = hidFailure;
    onExecutor(*mouse.executor, [&] { opened = mouse.device->open(); });
    ASSERT_EQ(opened, hidSuccess);
    mouse.listen(20);
    // A long report, a short one, a mouse report and another long one, all in one read.
    std::vector<std::uint8_t> merged = longReport(1);
    for (auto byte : {0x10, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x00}) merged.push_back(std::uint8_t(byte));
    auto last = longReport(2);
    merged.insert(merged.end(), last.begin(), last.end());
    ASSERT_TRUE(mouse.node->send(merged));
    ASSERT_TRUE(mouse.waitForReports(3));
    auto reports = mouse.waiter.read([&] { return mouse.reports; });
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], longReport(1));
    EXPECT_EQ(reports[1].size(), 7u);
    EXPECT_EQ(reports[2], longReport(2));

    // Cut to the registered size; an unknown id takes the rest of the read.
    mouse.listen(5);
    std::vector<std::uint8_t> other = {0x02, 1, 2, 3, 4, 5, 6, 7, 8};
    auto cut = longReport(3);
    cut.insert(cut.end(), other.begin(), other.end());
    ASSERT_TRUE(mouse.node->send(cut));
    ASSERT_TRUE(mouse.waitForReports(5));
    reports = mouse.waiter.read([&] { return mouse.reports; });
    EXPECT_EQ(reports[3], (std::vector<std::uint8_t>{0x11, 0xFF, 3, 0, 0}));
    EXPECT_EQ(reports[4], (std::vector<std::uint8_t>{0x02, 1, 2, 3, 4}));

    // A callback that unregisters gets nothing more of the same read.
    onExecutor(*mouse.executor, [&] {
        mouse.device->registerInputReportCallback(20, [&](std::uint8_t, std::span<const std::uint8_t> report) {
            mouse.waiter.update([&] { mouse.reports.emplace_back(report.begin(), report.end()); });
            mouse.device->unregisterInputReportCallback();
        });
    });
    auto twice = longReport(4);
    auto second = longReport(5);
    twice.insert(twice.end(), second.begin(), second.end());
    ASSERT_TRUE(mouse.node->send(twice));
    ASSERT_TRUE(mouse.waitForReports(6));
    onExecutor(*mouse.executor, [] {});
    std::this_thread::sleep_for(50ms);
    reports = mouse.waiter.read([&] { return mouse.reports; });
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[5], longReport(4));
}

// hidraw gives one report a read, as a pair of packet sockets in place of the node does here.
// Reports that arrive while the HID loop runs another job are each delivered, the last one too,
// though nothing comes after it (a diverted button's release would otherwise wait for the next
// report, and the button stay held).
TEST(LinuxHIDSystem, ReportsArrivingWhileTheLoopIsBusyAreEachDelivered) {
    OpenMouse mouse;
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    const int deviceSide = ends[0];
    onExecutor(*mouse.executor, [&] {
        std::dynamic_pointer_cast<HidrawDevice>(mouse.device)->adoptOpenDescriptor(UniqueFd(ends[1]));
    });
    mouse.listen(20);

    Waiter gate;
    bool busy = false, release = false;
    mouse.executor->post([&] {
        gate.update([&] { busy = true; });
        gate.waitFor([&] { return release; });
    });
    ASSERT_TRUE(gate.waitFor([&] { return busy; }));
    for (std::uint8_t marker : {1, 2}) {
        const auto report = longReport(marker);
        ASSERT_EQ(::send(deviceSide, report.data(), report.size(), 0), ssize_t(report.size()));
    }
    gate.update([&] { release = true; });
    EXPECT_TRUE(mouse.waitForReports(2)) << "a report waits for the next one to be read";
    EXPECT_EQ(mouse.waiter.read([&] { return mouse.reports; }),
              (std::vector<std::vector<std::uint8_t>>{longReport(1), longReport(2)}));
    ::close(deviceSide);
}

TEST(LinuxHIDSystem, SetReportIsOneWriteWithItsErrorMapped) {
    OpenMouse mouse;
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> written;
    int failWith = 0;
    mouse.node->onWrite([&](std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(mutex);
        written.emplace_back(bytes.begin(), bytes.end());
        return std::exchange(failWith, 0);
    });
    std::vector<HIDResult> results;
    onExecutor(*mouse.executor, [&] {
        auto report = longReport(7);
        results.push_back(mouse.device->setReport(HIDReportType::output, 0x11, report));  // not open
        results.push_back(mouse.device->open());
        results.push_back(mouse.device->setReport(HIDReportType::output, 0x11, report));
        for (int error : {EIO, ENODEV, EACCES}) {
            {
                std::lock_guard lock(mutex);
                failWith = error;
            }
            results.push_back(mouse.device->setReport(HIDReportType::output, 0x11, report));
        }
    });
    EXPECT_EQ(results, (std::vector<HIDResult>{hidFailure, hidSuccess, hidSuccess, hidFailure,
                                               hidNoDevice, hidNotPermitted}));
    std::lock_guard lock(mutex);
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written[0], longReport(7));
}

TEST(LinuxHIDSystem, ANodeThatFailsIsDroppedAndItsRemovalArrivesOnce) {
    OpenMouse mouse;
    ASSERT_TRUE(mouse.reported.waitFor(1, 0));
    HIDResult opened = hidFailure;
    onExecutor(*mouse.executor, [&] { opened = mouse.device->open(); });
    ASSERT_EQ(opened, hidSuccess);
    mouse.listen(20);
    ASSERT_TRUE(mouse.node->send(longReport(1)));
    ASSERT_TRUE(mouse.waitForReports(1));

    mouse.testbed.hangUp(mouse.fixture.hidraw);
    ASSERT_TRUE(mouse.reported.waitFor(1, 1));
    bool open = true;
    onExecutor(*mouse.executor, [&] { open = std::dynamic_pointer_cast<HidrawDevice>(mouse.device)->isOpen(); });
    EXPECT_FALSE(open);
    // udev's own removal comes afterwards and is not reported again.
    for (const auto& path : mouse.fixture.removalOrder()) mouse.testbed.unplug(path);
    testkit::pollUntil([&] { return mouse.registry->entries().empty(); });
    onExecutor(*mouse.executor, [] {});
    EXPECT_EQ(mouse.reported.counts(), (std::pair<std::size_t, std::size_t>{1, 1}));
}

TEST(LinuxHIDSystem, AReadGivingNoDeviceDropsTheNodeAndDeliversNothingMore) {
    OpenMouse mouse;
    ASSERT_TRUE(mouse.reported.waitFor(1, 0));
    HIDResult opened = hidFailure;
    onExecutor(*mouse.executor, [&] { opened = mouse.device->open(); });
    ASSERT_EQ(opened, hidSuccess);
    mouse.listen(20);
    ASSERT_TRUE(mouse.node->send(longReport(1)));
    ASSERT_TRUE(mouse.waitForReports(1));

    // The device goes as the kernel tells a reader: the node stays, its reads fail with ENODEV.
    // (A read the emulation had already let through may still take report 2; the one after it
    // fails.)
    mouse.node->failReads(ENODEV);
    ASSERT_TRUE(mouse.node->send(longReport(2)));
    ASSERT_TRUE(mouse.reported.waitFor(1, 1));
    bool open = true;
    onExecutor(*mouse.executor, [&] { open = std::dynamic_pointer_cast<HidrawDevice>(mouse.device)->isOpen(); });
    EXPECT_FALSE(open);
    const auto delivered = mouse.waiter.read([&] { return mouse.reports.size(); });
    EXPECT_LE(delivered, 2u);
    mouse.node->failReads(0);
    ASSERT_TRUE(mouse.node->send(longReport(3)));
    onExecutor(*mouse.executor, [] {});
    EXPECT_EQ(mouse.waiter.read([&] { return mouse.reports.size(); }), delivered);
    // Nor is the removal reported again by a later open.
    onExecutor(*mouse.executor, [&] { opened = mouse.device->open(); });
    EXPECT_EQ(opened, hidNoDevice);
    EXPECT_EQ(mouse.reported.counts(), (std::pair<std::size_t, std::size_t>{1, 1}));
}

// The kernel tells a hidraw reader that its device went by a hang-up alone, with nothing to read,
// as a pipe whose writer closed does here: the node is read all the same, found failed, dropped,
// and the removal reported (rather than the HID loop waking for ever on the hang-up).
TEST(LinuxHIDSystem, AHangUpWithNothingToReadDropsTheNode) {
    OpenMouse mouse;
    ASSERT_TRUE(mouse.reported.waitFor(1, 0));
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
    onExecutor(*mouse.executor, [&] {
        std::dynamic_pointer_cast<HidrawDevice>(mouse.device)->adoptOpenDescriptor(UniqueFd(ends[0]));
    });
    mouse.listen(20);
    ::close(ends[1]);
    EXPECT_TRUE(mouse.reported.waitFor(1, 1)) << "the hang-up was never read";
    bool open = true;
    onExecutor(*mouse.executor, [&] { open = std::dynamic_pointer_cast<HidrawDevice>(mouse.device)->isOpen(); });
    EXPECT_FALSE(open);
}

TEST(LinuxHIDSystem, OpenRefusedAsNotPermittedWhenTheNodeIsUnreadable) {
    if (rerunUnprivileged()) return;
    Testbed testbed;
    auto fixture = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(fixture.text()));
    // The node is a pseudo-terminal of this process: take every right on it away.
    auto target = std::filesystem::read_symlink(testbed.rootDir() + "/dev/hidraw0");
    ASSERT_EQ(::chmod(target.c_str(), 0), 0) << target;
    {
        LinuxDeviceRegistry registry;
        LinuxHIDSystem system(registry);
        auto manager = system.makeManager();
        manager->setDeviceMatching(DeviceHub::matching());
        auto devices = manager->copyDevices();
        ASSERT_TRUE(devices && devices->size() == 1);
        EXPECT_EQ(devices->at(0)->open(), hidNotPermitted);
        // A node that is gone is no device.
        HidrawDevice missing(1, "/dev/hidraw9", {}, nullptr);
        EXPECT_EQ(missing.open(), hidNoDevice);
    }
}

// The event services published: those present when the watch starts, then each event node that
// comes later, adopted through its parent, the interface.
TEST(LinuxHIDSystem, PublishedEventServicesPresentThenLate) {
    Testbed testbed;
    auto executor = std::make_unique<RunLoopExecutor>("test.hid");
    auto registry = std::make_unique<LinuxDeviceRegistry>(*executor);
    LinuxHIDSystem system(*registry);
    auto keyboard = ps2Keyboard(4);
    ASSERT_TRUE(testbed.add(keyboard.text()));
    auto mouse = bluetoothHidppMouse(0);
    // The hid device and its hidraw node first; its input device and event node afterwards.
    ASSERT_TRUE(testbed.add(fixtureText({mouse.devices[0], mouse.devices[1]})));
    testkit::pollUntil([&] { return registry->entries().size() >= 3; });

    Waiter waiter;
    std::vector<RegistryID> late;
    std::optional<HIDSystem::PublishedWatch> watch;
    onExecutor(*executor, [&] {
        watch = system.watchPublished(eventServiceClass, *executor, [&](const std::vector<RegistryID>& ids) {
            waiter.update([&] { late.insert(late.end(), ids.begin(), ids.end()); });
        });
    });
    ASSERT_TRUE(watch);
    ASSERT_EQ(watch->present.size(), 1u);  // the keyboard's event node
    EXPECT_TRUE(system.conformsTo(watch->present[0], eventServiceClass));
    EXPECT_FALSE(system.watchPublished("IOHIDInterface", *executor, [](const std::vector<RegistryID>&) {}));

    ASSERT_TRUE(testbed.add(fixtureText({mouse.devices[2], mouse.devices[3]})));
    ASSERT_TRUE(waiter.waitFor([&] { return !late.empty(); }, 5s));
    const RegistryID service = waiter.read([&] { return late[0]; });
    auto interface = system.parent(service);
    ASSERT_TRUE(interface);
    EXPECT_EQ(registry->entry(*interface)->syspath, "/sys" + mouse.interface);
    EXPECT_EQ(system.descendants(*interface), std::vector<RegistryID>{service});

    onExecutor(*executor, [&] { watch.reset(); });
    executor->stop();
    executor->join();
    registry.reset();
}
