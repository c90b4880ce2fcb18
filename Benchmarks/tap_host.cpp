// The tap host runs inside the system's event path: every key, button and wheel event of the
// user goes through it. Each path is measured as events injected through the simulated event
// system into an installed tap host, next to the tap pipeline alone on the same event (and, for
// the wheel, the pipeline with the animator update that the host adds). Every benchmark reports
// events per second and its allocations per event, and fails when there are any.

#include <benchmark/benchmark.h>

#include "Core/Tap/TapPipeline.h"
#include "CountedAllocations.h"
#include "TypicalTapRules.h"
#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Tap/TapHost.h"
#include "TestKit/ManualExecutor.h"

namespace tindlewave {
namespace {

using testkit::ManualExecutor;
using testkit::ManualScheduler;

constexpr SenderID mouse{0x1000};
constexpr SenderID keyboard{0x2000};

Event keyDown() {
    Event e;
    e.type = EventType::keyDown;
    e.flags = 0x100;
    e.location = {500, 400};
    e.setInteger(IntegerField::keyCode, 0);
    return e;
}

Event button(EventType type, std::int64_t number, std::int64_t dx = 0) {
    Event e;
    e.type = type;
    e.location = {500, 400};
    e.setInteger(IntegerField::buttonNumber, number);
    e.setInteger(IntegerField::deltaX, dx);
    return e;
}

Event wheel() {
    Event e;
    e.type = EventType::scrollWheel;
    e.location = {500, 400};
    e.setInteger(IntegerField::scrollDelta1, 1);
    e.setFixedPoint(FixedPointField::scrollFixedDelta1, 1.0);
    return e;
}

void countAllocations(benchmark::State& state, long before) {
    long count = bench::allocationCount() - before;
    state.counters["allocs/event"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    if (count != 0) state.SkipWithError("the path allocated");
}

// An installed host on a manual tap executor; `prepare` events go through first.
struct Host {
    ManualScheduler scheduler;
    ManualExecutor tap{scheduler, "tap"};
    SimulatedPermissionGrants grants;
    SimulatedEventSystem events{tap, grants};
    TapHost host{events, tap, Channel<TapSignal>(Buffering::unbounded),
                 Channel<Action>(Buffering::unbounded)};

    Host() {
        tap.post([this] { host.follow(TapOrder{true, bench::typicalTapRules(mouse)}); });
        scheduler.runReady();
    }

    // Dispatches `event` over and over inside one job of the tap executor, as the system does.
    void run(benchmark::State& state, const Event& event, SenderID sender) {
        const HIDOrigin origin{sender, 1.0};
        for (int i = 0; i < 5000; ++i) events.dispatch(event, origin);  // logs at full size
        events.clearLogs();
        ManualExecutor::Job job = [&] {
            long before = bench::allocationCount();
            std::size_t n = 0;
            for (auto _ : state) {
                events.dispatch(event, origin);
                if (++n % 4096 == 0) events.clearLogs();  // keeps the capacity
            }
            countAllocations(state, before);
        };
        tap.run(job);
    }

    // Calls the host's tap callback alone, as the system calls it, on a fresh copy each time.
    void handle(benchmark::State& state, const Event& event, SenderID sender) {
        const std::optional<HIDOrigin> origin = HIDOrigin{sender, 1.0};
        ManualExecutor::Job job = [&] {
            long before = bench::allocationCount();
            for (auto _ : state) {
                Event copy = event;
                TapAnswer answer = host.handle(copy.type, copy, origin);
                benchmark::DoNotOptimize(answer);
                benchmark::DoNotOptimize(copy);
            }
            countAllocations(state, before);
        };
        tap.run(job);
    }
};

void runPipeline(benchmark::State& state, TapPipeline& pipeline, Event event, SenderID sender,
                 bool animate) {
    const std::optional<HIDOrigin> origin = HIDOrigin{sender, 1.0};
    ScrollAnimator animator;
    long before = bench::allocationCount();
    for (auto _ : state) {
        Event copy = event;
        TapVerdict verdict = pipeline.process(copy.type, copy, origin);
        if (animate) {
            if (const auto* scroll = as<TapVerdict::Scroll>(verdict))
                animator.tick(scroll->tick, 1000.0);
        }
        benchmark::DoNotOptimize(verdict);
        benchmark::DoNotOptimize(copy);
    }
    countAllocations(state, before);
}

TapPipeline makePipeline() {
    return TapPipeline(bench::typicalTapRules(mouse));
}

void BM_Pipeline_KeyNoStageWants(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    runPipeline(state, pipeline, keyDown(), keyboard, false);
}
BENCHMARK(BM_Pipeline_KeyNoStageWants);

void BM_Host_KeyNoStageWants(benchmark::State& state) {
    Host host;
    host.run(state, keyDown(), keyboard);
}
BENCHMARK(BM_Host_KeyNoStageWants);

// The host's callback alone: without the simulation's tap chain and delivery log.
void BM_HostCallback_KeyNoStageWants(benchmark::State& state) {
    Host host;
    host.handle(state, keyDown(), keyboard);
}
BENCHMARK(BM_HostCallback_KeyNoStageWants);

void BM_Pipeline_DragOfGestureButton(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    Event down = button(EventType::otherMouseDown, 2);
    pipeline.process(down.type, down, HIDOrigin{mouse, 0});
    runPipeline(state, pipeline, button(EventType::otherMouseDragged, 2, 1), mouse, false);
}
BENCHMARK(BM_Pipeline_DragOfGestureButton);

void BM_Host_DragOfGestureButton(benchmark::State& state) {
    Host host;
    host.events.dispatch(button(EventType::otherMouseDown, 2), HIDOrigin{mouse, 0});
    host.run(state, button(EventType::otherMouseDragged, 2, 1), mouse);
}
BENCHMARK(BM_Host_DragOfGestureButton);

void BM_Pipeline_WheelTick(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    runPipeline(state, pipeline, wheel(), mouse, false);
}
BENCHMARK(BM_Pipeline_WheelTick);

void BM_PipelineAndAnimator_WheelTick(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    runPipeline(state, pipeline, wheel(), mouse, true);
}
BENCHMARK(BM_PipelineAndAnimator_WheelTick);

// The first tick starts the frame clock; the ticks after it come while frames run.
void BM_Host_WheelTickWhileFramesRun(benchmark::State& state) {
    Host host;
    host.run(state, wheel(), mouse);
    if (!host.host.frames() || host.host.frames()->isPaused())
        state.SkipWithError("the frame clock is not running");
}
BENCHMARK(BM_Host_WheelTickWhileFramesRun);

}  // namespace
}  // namespace tindlewave
