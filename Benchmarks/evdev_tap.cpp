// Every frame of every grabbed mouse and keyboard passes through the Linux event system on one
// thread, so its cost per frame bounds how fast a mouse may report (an 8000 Hz mouse leaves
// 125 µs per frame). Pipes stand in for the nodes and the uinput devices, so the system calls
// are real reads and writes. Measured:
// (a) an unmasked motion frame, from the node to the mirror (written on this thread, as the
//     reading thread writes while nothing waits for the writer's), beside a bare read-and-write
//     loop over the same pipes (the aim:
//     at most 1.3 times it, nothing allocated);
// (b) a wheel notch through translation, the tap host's pipeline and animator and the write of
//     the smooth-scroll frame that follows it, beside the bare pipeline's wheel case and the bare
//     loop (the aim: at most 1.5 times their sum).
// Each reports the margin left of 125 µs per frame.
// (c) A shortcut's key posted from another thread (as the action performer posts from the main
//     thread) to its bytes on the program's keyboard, with the tap thread on a run loop of its
//     own, beside a bare write and read of the same bytes on the posting thread; with no tap that
//     sees keys (written on the posting thread: the aim is at most 1.5 times the bare write, nothing
//     allocated), and with one (the hyper key's: the post goes through the tap thread).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <poll.h>

#include <array>
#include <chrono>
#include <future>
#include <optional>

#include "CountedAllocations.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/Tap/TapHost.h"
#include "TestKit/EvdevPipes.h"
#include "TestKit/ManualExecutor.h"
#include "TypicalTapRules.h"

namespace tindlewave {
namespace {

using testkit::ManualExecutor;
using testkit::ManualScheduler;
using Pipe = testkit::EvdevPipe;

constexpr SenderID mouse{0x1000};

input_event code(std::uint16_t type, std::uint16_t number, std::int32_t value) {
    input_event e{};
    e.type = type;
    e.code = number;
    e.value = value;
    return e;
}

const std::array<input_event, 3> motionFrame{code(EV_REL, REL_X, 3), code(EV_REL, REL_Y, -2),
                                             code(EV_SYN, SYN_REPORT, 0)};
const std::array<input_event, 3> wheelFrame{code(EV_REL, REL_WHEEL, 1),
                                            code(EV_REL, REL_WHEEL_HI_RES, 120),
                                            code(EV_SYN, SYN_REPORT, 0)};

void report(benchmark::State& state, long allocationsBefore,
            std::chrono::steady_clock::duration spent) {
    const long count = bench::allocationCount() - allocationsBefore;
    const double perFrame =
        std::chrono::duration<double, std::micro>(spent).count() / static_cast<double>(state.iterations());
    state.counters["allocs/frame"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    state.counters["margin_us_8000Hz"] = 125.0 - perFrame;
    if (count != 0) state.SkipWithError("the path allocated");
}

void drainPipe(int fd) {
    std::array<char, 4096> buffer;
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
}

// The Linux event system on a manual tap executor, its node, mirror and own devices on pipes.
struct Tapped {
    ManualScheduler scheduler;
    ManualExecutor tap{scheduler, "tap"};
    Pipe node, mirror, keyboard, pointer;
    // The manual clock moves only as the benchmark says: no stall watchdog, no login session.
    LinuxEventSystem events{tap, {.stallSeconds = 3600, .followSession = false}};

    Tapped() {
        InputDescription description;
        description.add(EV_REL, REL_X);
        description.add(EV_REL, REL_Y);
        description.add(EV_REL, REL_WHEEL);
        description.add(EV_REL, REL_WHEEL_HI_RES);
        description.add(EV_KEY, BTN_LEFT);
        testkit::adoptNode(events,
                           {mouse, "/dev/input/event0", EventNodeInfo::Kind::mouse, "input0"}, node,
                           description, mirror);
        testkit::adoptVirtualDevices(events, keyboard, pointer);
    }
};

// Should a write go to the writer's thread (a pipe momentarily full), it is waited for every 64
// frames, as a frame source faster than any mouse would outrun it (and grow its queue).
void keepUp(Tapped& world, unsigned turns) {
    if (turns % 64 == 0) world.events.awaitWrites();
}

// The system calls alone: the frame written into the node, read from it, written to the mirror,
// read from the mirror. An event system stands beside it, unused, so that the process has the
// same threads (glibc's reads and writes cost more once a process has a second thread).
void BM_BareReadWriteLoop(benchmark::State& state) {
    Tapped beside;
    Pipe node, mirror;
    std::array<input_event, 64> buffer;
    const long before = bench::allocationCount();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(::write(node.write, motionFrame.data(), sizeof motionFrame));
        const ssize_t n = ::read(node.read, buffer.data(), sizeof buffer);
        benchmark::DoNotOptimize(::write(mirror.write, buffer.data(), static_cast<std::size_t>(n)));
        benchmark::DoNotOptimize(::read(mirror.read, buffer.data(), sizeof buffer));
    }
    report(state, before, std::chrono::steady_clock::now() - start);
}
BENCHMARK(BM_BareReadWriteLoop);

// (a) A motion frame no tap sees: read, checked, written to the mirror as it came.
void BM_UnmaskedMotionFrameToMirror(benchmark::State& state) {
    Tapped world;
    // A tap that sees keys only, as the tap host's does: motion is not its business.
    auto port =
        world.events.createTap({EventLevel::hid, TapPlacement::headInsert, TapOptions::active,
                                eventMaskBit(EventType::keyDown)},
                               [](EventType, Event&, const auto&) { return TapAnswer::pass; });
    world.events.attach(*port, world.tap);
    std::array<input_event, 64> buffer;
    const long before = bench::allocationCount();
    const auto start = std::chrono::steady_clock::now();
    unsigned turns = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(::write(world.node.write, motionFrame.data(), sizeof motionFrame));
        world.events.readNow(mouse);
        keepUp(world, ++turns);
        benchmark::DoNotOptimize(::read(world.mirror.read, buffer.data(), sizeof buffer));
    }
    report(state, before, std::chrono::steady_clock::now() - start);
    world.events.invalidate(*port);
}
BENCHMARK(BM_UnmaskedMotionFrameToMirror);

// The tap pipeline's wheel case alone (as bench_tap_pipeline measures it).
void BM_BarePipelineWheel(benchmark::State& state) {
    TapPipeline pipeline(bench::typicalTapRules(mouse));
    const std::optional<HIDOrigin> origin = HIDOrigin{mouse, 1.0};
    Event wheel;
    wheel.type = EventType::scrollWheel;
    wheel.setInteger(IntegerField::scrollDelta1, 1);
    wheel.setFixedPoint(FixedPointField::scrollFixedDelta1, 1.0);
    const long before = bench::allocationCount();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        Event copy = wheel;
        TapVerdict verdict = pipeline.process(copy.type, copy, origin);
        benchmark::DoNotOptimize(verdict);
    }
    report(state, before, std::chrono::steady_clock::now() - start);
}
BENCHMARK(BM_BarePipelineWheel);

// (b) A wheel notch of a smoothed mouse: read, made an event, through the tap host (pipeline,
// animator), then the display's next frame posted and written to the mirror of the mouse (the
// wheel that scrolled last gets the frames, so its own settings apply).
void BM_WheelNotchToFirstSmoothFrame(benchmark::State& state) {
    Tapped world;
    TapHost host{world.events, world.tap, Channel<TapSignal>(Buffering::unbounded),
                 Channel<Action>(Buffering::unbounded)};
    world.tap.post([&] { host.follow(TapOrder{true, bench::typicalTapRules(mouse)}); });
    world.scheduler.runReady();
    // A frame period of the 60 Hz screen, so each notch is followed by one frame.
    const Duration frame = std::chrono::microseconds(16'700);
    ManualExecutor::Job read = [&] { world.events.readNow(mouse); };
    for (int i = 0; i < 50; ++i) {  // the animator and its clock at full size
        benchmark::DoNotOptimize(::write(world.node.write, wheelFrame.data(), sizeof wheelFrame));
        world.tap.run(read);
        world.scheduler.advance(frame);
    }
    drainPipe(world.mirror.read);
    std::array<input_event, 64> buffer;
    long written = 0;
    const long before = bench::allocationCount();
    const auto start = std::chrono::steady_clock::now();
    unsigned turns = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(::write(world.node.write, wheelFrame.data(), sizeof wheelFrame));
        world.tap.run(read);
        world.scheduler.advance(frame);
        keepUp(world, ++turns);
        const ssize_t n = ::read(world.mirror.read, buffer.data(), sizeof buffer);
        if (n > 0) written += n;
    }
    report(state, before, std::chrono::steady_clock::now() - start);
    // Named after the count: a counter's first use allocates its entry.
    state.counters["codes_written/notch"] = benchmark::Counter(
        static_cast<double>(written) / static_cast<double>(sizeof(input_event)),
        benchmark::Counter::kAvgIterations);
    world.tap.post([&] { host.shutdown(); });
    world.scheduler.runReady();
}
BENCHMARK(BM_WheelNotchToFirstSmoothFrame);

// (c) The event system on a tap thread of its own (a run loop), its own keyboard a pipe; the
// benchmark's thread posts a key down and up in turn and waits for each one's bytes.
struct Threaded {
    RunLoopExecutor tap{"bench.tap"};
    Pipe keyboard, pointer;
    std::optional<LinuxEventSystem> events;
    std::optional<TapPort> port;

    explicit Threaded(bool keyTap) {
        events.emplace(tap, LinuxEventSystem::Options{.stallSeconds = 3600, .followSession = false});
        onTap([&] {
            testkit::adoptVirtualDevices(*events, keyboard, pointer);
            if (!keyTap) return;
            port = events->createTap({EventLevel::hid, TapPlacement::headInsert, TapOptions::active,
                                      eventMaskBit(EventType::keyDown) | eventMaskBit(EventType::keyUp)},
                                     [](EventType, Event&, const auto&) { return TapAnswer::pass; });
            events->attach(*port, tap);
        });
    }
    ~Threaded() {
        onTap([&] {
            if (port) events->invalidate(*port);
        });
        tap.stop();
        tap.join();
        events.reset();  // after its executor stopped
    }
    template <typename F>
    void onTap(F work) {
        std::promise<void> done;
        tap.post([&] {
            work();
            done.set_value();
        });
        done.get_future().wait();
    }
};

void awaitBytes(int fd, std::array<input_event, 64>& buffer) {
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, 1000) == 0) {
    }
    benchmark::DoNotOptimize(::read(fd, buffer.data(), sizeof buffer));
}

Event keyEvent(bool down) {
    Event key;
    key.type = down ? EventType::keyDown : EventType::keyUp;
    key.setInteger(IntegerField::keyCode, 0x04);
    return key;
}

void postKeys(benchmark::State& state, bool keyTap) {
    Threaded world(keyTap);
    std::array<input_event, 64> buffer;
    const std::array<Event, 2> keys{keyEvent(true), keyEvent(false)};
    const long before = bench::allocationCount();
    unsigned turns = 0;
    for (auto _ : state) {
        world.events->post(keys[turns++ % 2], EventLevel::hid);
        awaitBytes(world.keyboard.read, buffer);
    }
    state.counters["allocs/post"] = benchmark::Counter(
        static_cast<double>(bench::allocationCount() - before), benchmark::Counter::kAvgIterations);
}

// The bytes of a key alone: written and read back on the posting thread.
void BM_BareKeyWriteAndRead(benchmark::State& state) {
    Pipe keyboard;
    std::array<input_event, 64> buffer;
    const std::array<input_event, 2> keyFrame{code(EV_KEY, KEY_A, 1), code(EV_SYN, SYN_REPORT, 0)};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::write(keyboard.write, keyFrame.data(), sizeof keyFrame));
        awaitBytes(keyboard.read, buffer);
    }
}
BENCHMARK(BM_BareKeyWriteAndRead)->UseRealTime();

void BM_KeyPostFromAnotherThread(benchmark::State& state) { postKeys(state, false); }
BENCHMARK(BM_KeyPostFromAnotherThread)->UseRealTime();

void BM_KeyPostFromAnotherThreadThroughKeyTap(benchmark::State& state) { postKeys(state, true); }
BENCHMARK(BM_KeyPostFromAnotherThreadThroughKeyTap)->UseRealTime();

}  // namespace
}  // namespace tindlewave
