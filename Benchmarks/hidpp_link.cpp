// The link's hottest path: a raw-movement notice while a control is held, up to 1000 a second
// during a gesture. Measured in nanoseconds per notice while hold-to-scroll is under way (one
// event per notice) and while a swipe is still below its distance (no event), through the entry
// the session uses, which fills an output it keeps. Each reports its allocations per notice and
// fails when there are any.

#include <benchmark/benchmark.h>

#include "Core/HIDPP/Link.h"
#include "CountedAllocations.h"

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
    HIDPPOutput out;
    link.receive(report, now, out);  // the output's lists grow once, as the session's do
    const long before = bench::allocationCount();
    for (auto _ : state) {
        now += std::chrono::milliseconds(1);
        link.receive(report, now, out);
        benchmark::DoNotOptimize(out);
    }
    const long count = bench::allocationCount() - before;
    state.counters["allocs/notice"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    if (count != 0) state.SkipWithError("a raw-movement notice allocated");
}
BENCHMARK(receiveRawMovement)->ArgName("scrolling")->Arg(1)->Arg(0);

}  // namespace
}  // namespace tindlewave
