// One raw-movement report through the whole device side: the simulated interface delivers it,
// the session hands it to the link, the slot turns the link's hold-scroll event into a send on the
// hold-scroll channel. Measured next to the floor of that path: the link's own `receive` of the
// same report plus one channel send to a manual executor. With a job in flight (argument 1) the
// link keeps a steady deadline, which must not re-arm the session's wake-up per report.

#include <benchmark/benchmark.h>

#include "Platform/Simulated/SimulatedHIDInterface.h"
#include "Platform/Simulated/SimulatedHIDWorld.h"
#include "Platform/Simulated/SimulatedPermissionGrants.h"
#include "Runtime/Channel.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/LogStore.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::size_t drainEvery = 1024;

// A mouse whose gesture button 0xC3 reports raw movement.
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

HIDPPReport movement(std::uint8_t reprogIndex, std::int16_t dx, std::int16_t dy) {
    const auto x = static_cast<std::uint16_t>(dx);
    const auto y = static_cast<std::uint16_t>(dy);
    return {0x11, 0xFF, reprogIndex, 0x10, static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(y >> 8),
            static_cast<std::uint8_t>(y & 0xFF)};
}

void throughTheSession(benchmark::State& state) {
    const bool jobInFlight = state.range(0) != 0;
    testkit::ManualScheduler scheduler;
    testkit::ManualExecutor hid{scheduler, "hid"};
    testkit::ManualExecutor tap{scheduler, "tap"};
    SimulatedPermissionGrants grants;
    testkit::TempFolder folder;
    LogStore store{folder.path(), false, scheduler.clock()};
    Journal journal{Logger("app.tindlewave", "devices", store)};
    SimulatedHIDWorld world{hid, grants};
    Channel<HoldScrollEvent> holdScrolls{Buffering::unbounded};
    std::size_t received = 0;
    auto subscription = holdScrolls.subscribe(tap, [&](HoldScrollEvent) { ++received; });

    const auto description = gestureMouse();
    const auto attached = world.attach(SimulatedDevice::hidppMouse(description, 1));
    scheduler.runReady();
    auto& interface = *world.interface(attached.interfaces[0]);
    PresentDevice device;
    device.id = DeviceInstanceID{1};
    device.properties = HIDProperties::fromBag(interface.properties());
    device.key = device.properties.key();
    DeviceSetup desired{KeyMapSetup::neutral(), scrollPlan(), true};
    Slot::Callbacks callbacks{[&] { return desired; },
                              [] {},
                              [](const HIDPPCapabilities&) {},
                              [](const Action&) {},
                              [&](const HoldScrollEvent& event) { holdScrolls.send(event); },
                              [](const KeyHoldEvent&) {},
                              [](const ListenPress&) {}};
    Slot slot(device, scheduler.clock().date(), interface.shared_from_this(), false, callbacks,
              Slot::Context{hid, KeyMapHost{}, journal});
    slot.applyHIDPP(ApplyReason::launch);
    scheduler.advance(seconds(30));
    if (jobInFlight) {
        // A job waits for a reply that does not come; starting it ends any gesture, so the
        // control is pressed afterwards.
        interface.mouse()->faults.dropReplies = 1'000'000;
        slot.applyHIDPP(ApplyReason::manual);
    }
    world.act(interface.registryID(), [](VirtualHidppMouse& mouse, Instant now) {
        mouse.press(0xC3, now);
        mouse.move(0, 20, now);
    });
    scheduler.advance(milliseconds(10));
    const auto wakeAt = slot.session()->wakeAt();
    const auto timers = scheduler.timerCount();
    received = 0;

    const HIDPPReport report =
        movement(description.indexOf(VirtualMouseDescription::reprogControlsFeature), 3, -2);
    Executor::Job loop = [&] {
        std::size_t sent = 0;
        for (auto _ : state) {
            interface.deliver(report);
            if (++sent % drainEvery == 0) {
                state.PauseTiming();
                scheduler.runReady();
                state.ResumeTiming();
            }
        }
    };
    hid.run(loop);
    scheduler.runReady();
    if (received != static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("not every report became a hold-scroll send");
    }
    if (slot.session()->wakeAt() != wakeAt || scheduler.timerCount() != timers) {
        state.SkipWithError("the wake-up was re-armed");
    }
    state.counters["timers"] = static_cast<double>(scheduler.timerCount());
}
BENCHMARK(throughTheSession)->ArgName("jobInFlight")->Arg(0)->Arg(1);

// The floor: the link's receive of the same report, and one send to a manual executor.
void linkAndChannel(benchmark::State& state) {
    testkit::ManualScheduler scheduler;
    testkit::ManualExecutor tap{scheduler, "tap"};
    Channel<HoldScrollEvent> holdScrolls{Buffering::unbounded};
    std::size_t received = 0;
    auto subscription = holdScrolls.subscribe(tap, [&](HoldScrollEvent) { ++received; });

    constexpr std::uint8_t reprogIndex = 3;
    HIDPPLink link;
    link.features.record(HIDPPFeature::reprogControls, reprogIndex);
    link.capabilities = HIDPPCapabilities{{{CID{0xC3}, true, true}}, false};
    link.plan = scrollPlan();
    link.receive(HIDPPReport{0x11, 0xFF, reprogIndex, 0x00, 0x00, 0xC3}, Instant{});
    link.receive(movement(reprogIndex, 0, 20), Instant{});

    const HIDPPReport report = movement(reprogIndex, 3, -2);
    std::size_t sent = 0;
    for (auto _ : state) {
        HIDPPOutput out = link.receive(report, Instant{});
        for (const auto& event : out.events) {
            if (const auto* scroll = event.as<HIDPPEvent::HoldScroll>()) holdScrolls.send(scroll->event);
        }
        if (++sent % drainEvery == 0) {
            state.PauseTiming();
            scheduler.runReady();
            state.ResumeTiming();
        }
    }
    scheduler.runReady();
    if (received != static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("not every report became a hold-scroll send");
    }
}
BENCHMARK(linkAndChannel);

}  // namespace
}  // namespace tindlewave
