// The tap pipeline runs for every key, button and wheel event of the user's input, inside the
// system's event path. Its common paths are measured beside the cost of copying one event, and
// must allocate nothing: every benchmark reports its allocations per event (or per press) and
// fails when there are any. A press of each kind of button, and the held keys' handling of a
// key hold, are measured the same way.

#include <benchmark/benchmark.h>

#include "Core/Keys/HeldKeys.h"
#include "Core/Tap/TapPipeline.h"
#include "CountedAllocations.h"
#include "TypicalTapRules.h"

namespace tindlewave {
namespace {

constexpr SenderID mouse{0x1000};
constexpr SenderID keyboard{0x2000};
constexpr KeyCode f18{79};  // the hyper carrier of the typical rules

TapPipeline makePipeline() {
    return TapPipeline(bench::typicalTapRules(mouse));
}

// Keys come from the keyboard, everything else from the mouse.
std::optional<HIDOrigin> originOf(const Event& e) {
    return HIDOrigin{e.type == EventType::keyDown ? keyboard : mouse, 1.0};
}

Event keyDown(KeyCode code) {
    Event e;
    e.type = EventType::keyDown;
    e.flags = 0x100;
    e.location = {500, 400};
    e.setInteger(IntegerField::keyCode, code.rawValue);
    return e;
}

// Runs `event` through the pipeline over and over; the event is one that the pipeline leaves
// in the same state every time, so each iteration does the same work.
void runPath(benchmark::State& state, TapPipeline& pipeline, Event event) {
    const std::optional<HIDOrigin> origin = originOf(event);
    long before = bench::allocationCount();
    for (auto _ : state) {
        TapVerdict verdict = pipeline.process(event.type, event, origin);
        benchmark::DoNotOptimize(verdict);
        benchmark::DoNotOptimize(event);
    }
    long count = bench::allocationCount() - before;
    state.counters["allocs/event"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    if (count != 0) state.SkipWithError("the common path allocated");
}

// Both events start on a cache line. Left to where the stack happens to lie, which changes from
// run to run, the same copy takes either about 1.7 or about 2.4 ns, and every ratio with it.
void BM_CopyEvent(benchmark::State& state) {
    alignas(64) Event source = keyDown(KeyCode{0});
    source.setFixedPoint(FixedPointField::scrollFixedDelta1, 1.5);
    for (auto _ : state) {
        benchmark::DoNotOptimize(source);
        alignas(64) Event copy = source;
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyEvent);

void BM_KeyDownNoStageWants(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    runPath(state, pipeline, keyDown(KeyCode{0}));
}
BENCHMARK(BM_KeyDownNoStageWants);

void BM_KeyDownWhileHyperHeld(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    Event hyper = keyDown(f18);
    pipeline.process(hyper.type, hyper, originOf(hyper));
    runPath(state, pipeline, keyDown(KeyCode{0}));
}
BENCHMARK(BM_KeyDownWhileHyperHeld);

void BM_DragOfGestureButton(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    Event down;
    down.type = EventType::otherMouseDown;
    down.setInteger(IntegerField::buttonNumber, 2);
    pipeline.process(down.type, down, originOf(down));
    Event drag;
    drag.type = EventType::otherMouseDragged;
    drag.setInteger(IntegerField::buttonNumber, 2);
    drag.setInteger(IntegerField::deltaX, 1);
    runPath(state, pipeline, drag);
}
BENCHMARK(BM_DragOfGestureButton);

void BM_WheelNotchBecomesScrollTick(benchmark::State& state) {
    TapPipeline pipeline = makePipeline();
    Event wheel;
    wheel.type = EventType::scrollWheel;
    wheel.setInteger(IntegerField::scrollDelta1, 1);
    wheel.setFixedPoint(FixedPointField::scrollFixedDelta1, 1.0);
    runPath(state, pipeline, wheel);
}
BENCHMARK(BM_WheelNotchBecomesScrollTick);

Event buttonEvent(EventType type, std::int64_t number) {
    Event e;
    e.type = type;
    e.location = {500, 400};
    e.setInteger(IntegerField::buttonNumber, number);
    return e;
}

// Presses and lets go of a button over and over; reports the allocations per press (down and up).
void runPress(benchmark::State& state, std::int64_t number) {
    TapPipeline pipeline = makePipeline();
    const Event down = buttonEvent(EventType::otherMouseDown, number);
    const Event up = buttonEvent(EventType::otherMouseUp, number);
    long before = bench::allocationCount();
    for (auto _ : state) {
        Event event = down;
        TapVerdict pressed = pipeline.process(event.type, event, originOf(event));
        benchmark::DoNotOptimize(pressed);
        event = up;
        TapVerdict released = pipeline.process(event.type, event, originOf(event));
        benchmark::DoNotOptimize(released);
    }
    long count = bench::allocationCount() - before;
    state.counters["allocs/press"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    if (count != 0) state.SkipWithError("a press allocated");
}

void BM_PressOfSwipeGestureButton(benchmark::State& state) {
    runPress(state, 2);
}
BENCHMARK(BM_PressOfSwipeGestureButton);

void BM_PressOfHoldScrollButton(benchmark::State& state) {
    runPress(state, 5);
}
BENCHMARK(BM_PressOfHoldScrollButton);

void BM_PressOfActionButton(benchmark::State& state) {
    runPress(state, 3);
}
BENCHMARK(BM_PressOfActionButton);

void BM_PressOfKeyHoldButton(benchmark::State& state) {
    runPress(state, 6);
}
BENCHMARK(BM_PressOfKeyHoldButton);

// The held keys' side of a key-hold press: the press's events, then the release's.
void BM_HeldKeysPressAndRelease(benchmark::State& state) {
    HeldKeys keys;
    const KeyHolder holder = KeyHolder::button(mouse, 6);
    const KeyHoldEvent press = KeyHoldEvent::press(
        holder, KeyHold{{HeldModifier::leftCommand, HeldModifier::leftShift}, KeyCode{8}});
    const KeyHoldEvent release = KeyHoldEvent::release(holder);
    long before = bench::allocationCount();
    for (auto _ : state) {
        auto pressed = keys.receive(press, 0x100);
        benchmark::DoNotOptimize(pressed);
        auto released = keys.receive(release, keys.heldFlags() | 0x100);
        benchmark::DoNotOptimize(released);
    }
    long count = bench::allocationCount() - before;
    state.counters["allocs/press"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    if (count != 0) state.SkipWithError("holding keys allocated");
}
BENCHMARK(BM_HeldKeysPressAndRelease);

}  // namespace
}  // namespace tindlewave
