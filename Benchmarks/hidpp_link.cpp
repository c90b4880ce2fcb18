// The link's hottest path: a raw-movement notice while a control is held, up to 1000 a second
// during a gesture. Measured while hold-to-scroll is under way (one event per notice) and while a
// swipe is still below its distance (no event), next to the bare copy of the 20-byte report, so
// the cost of the link shows as a ratio.

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

#include "Core/HIDPP/Link.h"

namespace tindlewave {
namespace {

constexpr std::uint8_t reprogIndex = 6;
constexpr CID gestureButton{0xC3};

HIDPPReport movement(std::int16_t dx, std::int16_t dy) {
    const auto x = static_cast<std::uint16_t>(dx);
    const auto y = static_cast<std::uint16_t>(dy);
    return {0x11,
            0xFF,
            reprogIndex,
            0x10,
            static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(x & 0xFF),
            static_cast<std::uint8_t>(y >> 8),
            static_cast<std::uint8_t>(y & 0xFF)};
}

// A link whose gesture button is held, fed enough movement to be past its distance when
// `scrolling`, else tracking a swipe far below it.
HIDPPLink heldLink(bool scrolling) {
    HIDPPLink link;
    link.features.record(HIDPPFeature::reprogControls, reprogIndex);
    link.capabilities = HIDPPCapabilities{{{gestureButton, true, true}}, false};
    const Action action = Action::system(SystemAction::spaceLeft);
    const GestureMoves moves =
        scrolling ? GestureMoves::scroll(HoldScrollPlan{0.4, Glide{0.5, 2}})
                  : GestureMoves::swipes({{Direction::left, action}}, GestureFire::onRelease);
    HIDPPSetup setup;
    setup.controls.insert({gestureButton, ControlBehavior::gesture(
                                              GesturePlan{scrolling ? 5.0 : 1e12, action, moves})});
    link.plan = setup;
    const HIDPPReport press = {0x11, 0xFF, reprogIndex, 0x00, 0x00, 0xC3};
    link.receive(press, Instant{});
    link.receive(movement(0, 10), Instant{});
    return link;
}

// Argument 1: the held control scrolls (one event per notice); 0: a swipe below its distance
// (no event).
void receiveRawMovement(benchmark::State& state) {
    HIDPPLink link = heldLink(state.range(0) != 0);
    const HIDPPReport report = movement(3, -2);
    Instant now{};
    for (auto _ : state) {
        now += std::chrono::milliseconds(1);
        HIDPPOutput out = link.receive(report, now);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(receiveRawMovement)->ArgName("scrolling")->Arg(1)->Arg(0);

// The floor: copying the report out of the input buffer, as any reader must.
void copyReport(benchmark::State& state) {
    const HIDPPReport report = movement(3, -2);
    HIDPPReport copy{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(report.data());
        std::memcpy(copy.data(), report.data(), report.size());
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(copyReport);

}  // namespace
}  // namespace tindlewave
