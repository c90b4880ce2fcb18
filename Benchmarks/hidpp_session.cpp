// One raw-movement report through the whole device side: the simulated interface delivers it,
// the session hands it to the link, the slot turns the link's hold-scroll event into a send on the
// hold-scroll channel, and the channel delivers it on the tap side. Measured next to the floor of
// that path: the link's own `receive` of the same report into an output it keeps, and one
// lock-free hand-off of the event (a single-producer ring). Both count the allocations per
// report, the tap side's deliveries included (they run outside the timed part, every 1024
// reports). With a job in flight (argument 1) the link keeps a steady deadline, which must not
// re-arm the session's wake-up per report.

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <memory>

#include "CountedAllocations.h"
#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "Platform/Simulated/HID/SimulatedHIDWorld.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Devices/Slot.h"
#include "Runtime/Stores/LogStore.h"
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
    // Warm up: every queue on the way reaches the size it keeps.
    Executor::Job warmUp = [&] {
        for (std::size_t i = 0; i < drainEvery; ++i) interface.deliver(report);
    };
    hid.run(warmUp);
    scheduler.runReady();
    received = 0;

    long allocations = 0;
    Executor::Job loop = [&] {
        const long before = bench::allocationCount();
        std::size_t sent = 0;
        for (auto _ : state) {
            interface.deliver(report);
            if (++sent % drainEvery == 0) {
                state.PauseTiming();
                scheduler.runReady();
                state.ResumeTiming();
            }
        }
        scheduler.runReady();
        allocations = bench::allocationCount() - before;
    };
    hid.run(loop);
    if (received != static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("not every report became a hold-scroll send");
    }
    if (slot.session()->wakeAt() != wakeAt || scheduler.timerCount() != timers) {
        state.SkipWithError("the wake-up was re-armed");
    }
    if (allocations != 0) state.SkipWithError("the path allocated");
    state.counters["timers"] = static_cast<double>(scheduler.timerCount());
    state.counters["allocs/report"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(throughTheSession)->ArgName("jobInFlight")->Arg(0)->Arg(1);

// A hand-off between one producer and one consumer without a lock: the producer writes the slot
// and publishes it with one release store; the consumer reads what was published.
template <class T, std::size_t N>
class HandOff {
  public:
    bool push(const T& value) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == N) return false;
        slots_[tail % N] = value;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    std::size_t drain() {
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t taken = tail - head_.load(std::memory_order_relaxed);
        head_.store(tail, std::memory_order_release);
        return taken;
    }

  private:
    std::array<T, N> slots_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

// The floor: the link's receive of the same report into an output it keeps, and one lock-free
// hand-off of the hold-scroll event.
void linkAndHandOff(benchmark::State& state) {
    constexpr std::uint8_t reprogIndex = 3;
    HIDPPLink link;
    link.features.record(HIDPPFeature::reprogControls, reprogIndex);
    link.capabilities = HIDPPCapabilities{{{CID{0xC3}, true, true}}, false};
    link.plan = scrollPlan();
    link.receive(HIDPPReport{0x11, 0xFF, reprogIndex, 0x00, 0x00, 0xC3}, Instant{});
    link.receive(movement(reprogIndex, 0, 20), Instant{});
    auto handOff = std::make_unique<HandOff<HoldScrollEvent, drainEvery>>();
    HIDPPOutput out;

    const HIDPPReport report = movement(reprogIndex, 3, -2);
    link.receive(report, Instant{}, out);  // the kept output reaches its size
    std::size_t received = 0;
    std::size_t sent = 0;
    const long before = bench::allocationCount();
    for (auto _ : state) {
        link.receive(report, Instant{}, out);
        for (const auto& event : out.events) {
            if (const auto* scroll = as<HIDPPEvent::HoldScroll>(event)) handOff->push(scroll->event);
        }
        if (++sent % drainEvery == 0) {
            state.PauseTiming();
            received += handOff->drain();
            state.ResumeTiming();
        }
    }
    received += handOff->drain();
    const long allocations = bench::allocationCount() - before;
    if (received != static_cast<std::size_t>(state.iterations())) {
        state.SkipWithError("not every report became a hand-off");
    }
    state.counters["allocs/report"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(linkAndHandOff);

}  // namespace
}  // namespace tindlewave
