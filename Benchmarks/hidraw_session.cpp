// One raw-movement report read from a hidraw descriptor through the Linux HID device, the session
// and the link into the hold-scroll channel, next to the same report through the simulated world
// (bench_hidpp_session). A pair of packet sockets stands in for the hidraw node (one report per
// write and per read, as hidraw gives them), so each report costs the device's write and our one
// read (the watch reads once each time the node is readable); `transport` times those two calls
// alone, so the difference is the program's own share. Allocations per report are counted on the whole
// path, up to the channel's delivery on the tap side.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "CountedAllocations.h"
#include "Platform/Linux/HID/HidrawDevice.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Stores/LogStore.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/ReportDescriptorBuilder.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::size_t drainEvery = 1024;

// A connected pair of packet sockets in place of the node: like hidraw, each write is one report
// and each read gives one. The program's device takes `program`, the device side holds `master`.
struct PacketNode {
    int master = -1;
    int program = -1;

    PacketNode() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return;
        master = fds[0];
        program = fds[1];
    }
    ~PacketNode() {
        if (master >= 0) ::close(master);
    }
    bool ok() const { return master >= 0 && program >= 0; }
};

VirtualMouseDescription gestureMouse() {
    VirtualMouseDescription::Control button{0xC3, 0xC4, 0x30, 0x01, 0, 0, 0};
    auto mouse = VirtualMouseDescription::basic({button}, false);
    mouse.productID = 0xB023;
    return mouse;
}

HIDPPSetup scrollPlan() {
    HIDPPSetup plan;
    plan.controls.insert({CID{0xC3}, ControlBehavior::gesture(GesturePlan{
                                         5.0, std::nullopt,
                                         GestureMoves::scroll(HoldScrollPlan{0.4, Glide{0.5, 2}})})});
    return plan;
}

// The properties the Linux system gives a Bluetooth HID++ mouse.
PropertyBag mouseProperties() {
    testkit::ReportDescriptorBuilder d;
    d.usagePage(0x01).usage(0x02).application().reportID(0x02).usage(0x01).physical()
        .usagePage(0x09).usageRange(1, 16).reportSize(1).reportCount(16).input()
        .usagePage(0x01).usage(0x30).usage(0x31).reportSize(12).reportCount(2).input(0x06)
        .end().end();
    d.usagePage(0xFF43).usage(0x0202).application().reportID(0x11).usage(0x0202).bytesIn(19)
        .usage(0x0202).bytesOut(19).end();
    LinuxDeviceRegistry::Entry entry;
    entry.hid = true;
    entry.syspath = "/sys/devices/virtual/misc/uhid/0005:046D:B023.0001";
    entry.properties = {{"HID_ID", "0005:0000046D:0000B023"}, {"HID_NAME", "Bench Mouse"},
                        {"HID_UNIQ", "d1:8a:3c:40:52:19"}};
    entry.reportDescriptor = d.bytes();
    return linuxHIDProperties(entry);
}

HIDPPReport movement(std::uint8_t reprogIndex, std::int16_t dx, std::int16_t dy) {
    const auto x = static_cast<std::uint16_t>(dx);
    const auto y = static_cast<std::uint16_t>(dy);
    return {0x11, 0xFF, reprogIndex, 0x10, static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(y >> 8),
            static_cast<std::uint8_t>(y & 0xFF)};
}

void writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        auto written = ::write(fd, bytes, size);
        if (written <= 0) {
            if (written < 0 && errno == EINTR) continue;
            return;
        }
        bytes += written;
        size -= std::size_t(written);
    }
}

// Answers what the program wrote to the node with the virtual mouse, until nothing moves.
void serve(PacketNode& node, VirtualHidppMouse& mouse, HidrawDevice& device,
           testkit::ManualScheduler& scheduler, testkit::ManualExecutor& hid) {
    Executor::Job read = [&] { device.readNow(); };
    for (int round = 0; round < 1000; ++round) {
        std::uint8_t buffer[4096];
        auto count = ::read(node.master, buffer, sizeof buffer);
        bool moved = false;
        for (ssize_t at = 0; count > 0 && at + 20 <= count; at += 20) {
            mouse.write(std::span<const std::uint8_t>(buffer + at, 20), scheduler.now());
            moved = true;
        }
        for (const auto& report : mouse.takeReports(scheduler.now())) {
            writeAll(node.master, report.data(), report.size());
            moved = true;
        }
        hid.run(read);
        scheduler.runReady();
        if (!moved) return;
    }
}

struct HidrawPath {
    testkit::ManualScheduler scheduler;
    testkit::ManualExecutor hid{scheduler, "hid"};
    testkit::ManualExecutor tap{scheduler, "tap"};
    testkit::TempFolder folder;
    LogStore store{folder.path(), false, scheduler.clock()};
    Journal journal{Logger("app.tindlewave", "devices", store)};
    PacketNode node;
    VirtualMouseDescription description = gestureMouse();
    VirtualHidppMouse mouse{description};
    std::shared_ptr<HidrawDevice> device;
    std::unique_ptr<Slot> slot;
    std::function<void(const HoldScrollEvent&)> onHoldScroll = [](const HoldScrollEvent&) {};

    bool start() {
        if (!node.ok()) return false;
        mouse.replyLatency = Duration::zero();
        device = std::make_shared<HidrawDevice>(1, "", mouseProperties(), nullptr);
        device->adoptOpenDescriptor(UniqueFd(node.program));
        PresentDevice present;
        present.id = DeviceInstanceID{1};
        present.properties = HIDProperties::fromBag(device->properties());
        present.key = present.properties.key();
        Slot::Callbacks callbacks{[] { return DeviceSetup{KeyMapSetup::neutral(), scrollPlan(), true}; },
                                  [] {},
                                  [](const HIDPPCapabilities&) {},
                                  [](const Action&) {},
                                  [this](const HoldScrollEvent& event) { onHoldScroll(event); },
                                  [](const KeyHoldEvent&) {},
                                  [](const ListenPress&) {}};
        slot = std::make_unique<Slot>(present, scheduler.clock().date(), device, false, callbacks,
                                      Slot::Context{hid, KeyMapHost{}, journal});
        slot->applyHIDPP(ApplyReason::launch);
        serve(node, mouse, *device, scheduler, hid);
        if (!slot->hidppLast() || !is<Slot::HIDPPApply::Applied>(slot->hidppLast()->outcome)) return false;
        mouse.press(0xC3, scheduler.now());
        mouse.move(0, 20, scheduler.now());
        serve(node, mouse, *device, scheduler, hid);
        return true;
    }
    ~HidrawPath() {
        if (slot) slot->close();
    }
};

void throughHidraw(benchmark::State& state) {
    HidrawPath path;
    Channel<HoldScrollEvent> holdScrolls{Buffering::unbounded};
    std::size_t received = 0;
    auto subscription = holdScrolls.subscribe(path.tap, [&](HoldScrollEvent) { ++received; });
    path.onHoldScroll = [&](const HoldScrollEvent& event) { holdScrolls.send(event); };
    if (!path.start()) {
        state.SkipWithError("the mouse was not set up over the socket pair");
        return;
    }
    path.scheduler.runReady();
    received = 0;
    const HIDPPReport report =
        movement(path.description.indexOf(VirtualMouseDescription::reprogControlsFeature), 3, -2);
    Executor::Job loop = [&] {
        std::size_t sent = 0;
        for (auto _ : state) {
            ::write(path.node.master, report.data(), report.size());
            path.device->readOnce();
            if (++sent % drainEvery == 0) {
                state.PauseTiming();
                path.scheduler.runReady();
                state.ResumeTiming();
            }
        }
    };
    path.hid.run(loop);
    path.scheduler.runReady();
    if (received != static_cast<std::size_t>(state.iterations()))
        state.SkipWithError("not every report became a hold-scroll send");

    // Allocations of the program's whole path, the channel's delivery on the tap side included,
    // once a first round has grown the channel's buffer to what a round leaves in it.
    constexpr int counted = 1000;
    long before = 0, after = 0;
    Executor::Job count = [&] {
        received = 0;
        before = bench::allocationCount();
        for (int i = 0; i < counted; ++i) {
            ::write(path.node.master, report.data(), report.size());
            path.device->readOnce();
        }
        path.scheduler.runReady();
        after = bench::allocationCount();
    };
    path.hid.run(count);
    path.hid.run(count);
    state.counters["allocs/report"] = double(after - before) / counted;
    if (after != before) state.SkipWithError("the path allocated");
    if (received != counted) state.SkipWithError("not every counted report was delivered");
}
BENCHMARK(throughHidraw);

// The transport alone: the device's write and the read of the report.
void transport(benchmark::State& state) {
    PacketNode node;
    if (!node.ok()) {
        state.SkipWithError("no socket pair");
        return;
    }
    const HIDPPReport report = movement(3, 3, -2);
    std::uint8_t buffer[4096];
    for (auto _ : state) {
        ::write(node.master, report.data(), report.size());
        benchmark::DoNotOptimize(::read(node.program, buffer, sizeof buffer));
    }
    ::close(node.program);
}
BENCHMARK(transport);

}  // namespace
}  // namespace tindlewave
