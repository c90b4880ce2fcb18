// Where a user feels the program's speed, measured in one machine on the same devices and the
// same input beside floors of our own (a reader of the keyboard's node, a grab-and-re-emit
// pipeline, a HID++ daemon; Floors.h): keys paced 2 ms through the grab to the mirror's reader,
// a diverted HID++ press to the first key on the program's keyboard, each with the processor
// time it took (every thread of the process), and the time from start to the button diverted,
// for the headless program and the window program. Figures, printed; not limits.

#include <gtest/gtest.h>

#include <linux/input.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <fstream>
#include <optional>

#include "Kernel/Scenarios/Floors.h"
#include "Kernel/Scenarios/Keyboards.h"
#include "Kernel/Scenarios/Typing.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using MeasureClock = std::chrono::steady_clock;

constexpr std::uint16_t measuredButton = 0xC4;  // the mouse's top button, its rule a shortcut
constexpr int pacedReports = 800;               // 400 keys down and up, 2 ms apart
constexpr int measuredPresses = 40;

double msSince(MeasureClock::time_point from, MeasureClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// What was measured of one program or floor; a negative figure was not measured.
struct Measured {
    explicit Measured(std::string name) : who(std::move(name)) {}
    std::string who;
    std::vector<double> keyMs;   // each key through, report to read
    double cpuPerKeyMs = -1;
    std::vector<double> pressMs;  // each press, report to its first key
    double cpuPerPressMs = -1;
    double startMs = -1;          // start to the button diverted
    std::string keyThreads, pressThreads;  // where the time went, thread by thread
};

// Each thread's processor time and wake-ups between two looks, per unit of work: "name cpu ms,
// wakes" for every thread that took either, busiest first.
using Threads = std::map<pid_t, std::pair<std::string, ThreadTimes>>;
std::string perThread(const Threads& before, const Threads& after, int units) {
    std::vector<std::pair<double, std::string>> rows;
    for (const auto& [thread, now] : after) {
        const auto was = before.find(thread);
        const ThreadTimes taken = was == before.end() ? now.second : now.second - was->second.second;
        if (taken.runMs <= 0 && taken.waits <= 0) continue;
        char row[120];
        std::snprintf(row, sizeof row, "%s %.4f ms, %.2f wakes", now.first.c_str(), taken.runMs / units,
                      double(taken.waits) / units);
        rows.emplace_back(taken.runMs, row);
    }
    std::sort(rows.rbegin(), rows.rend());
    std::string text;
    for (const auto& [cpu, row] : rows) text += (text.empty() ? "" : "; ") + row;
    return text;
}

// Waits until the process takes no processor time for half a second (its start's work done), so
// that what it takes next is the measured work's.
void waitForQuiet(pid_t pid) {
    double last = -1;
    waitUntil([&] {
        const double now = processCpuMs(pid);
        const bool quiet = now == last;
        last = now;
        std::this_thread::sleep_for(450ms);
        return quiet;
    }, 30s);
}

// Types the paced keys, read from `node`; the processor time `pid` took over them (pid 0: none).
void typeThrough(Keyboard& keyboard, const std::string& node, pid_t pid, Measured& into) {
    NodeReader reader(node);
    ASSERT_TRUE(reader.ok()) << node;
    if (pid > 0) waitForQuiet(pid);
    const double before = pid > 0 ? processCpuMs(pid) : 0;
    const auto threadsBefore = pid > 0 ? threadsOf(pid) : Threads{};
    std::vector<Typed> sent;
    ASSERT_TRUE(typeKeys(*keyboard.usb, pacedReports, 2ms, sent));
    waitForLast(reader, sent);
    if (pid > 0) {
        into.cpuPerKeyMs = (processCpuMs(pid) - before) / pacedReports;
        into.keyThreads = perThread(threadsBefore, threadsOf(pid), pacedReports);
    }
    into.keyMs = latenciesMs(keysRead(reader), sent);
}

// Presses and lets go of the diverted button, one press at a time, each once the last one's keys
// were read from `node` (the keyboard its key is written to).
template <class Mouse>
void pressThrough(Mouse& mouse, const std::string& node, pid_t pid, Measured& into) {
    NodeReader reader(node);
    ASSERT_TRUE(reader.ok()) << node;
    waitForQuiet(pid);
    const double before = processCpuMs(pid);
    const auto threadsBefore = threadsOf(pid);
    // When the first key down since `from` was read; and whether every key down since then is up.
    auto firstDown = [&](std::size_t from) -> std::optional<MeasureClock::time_point> {
        const auto events = reader.events();
        const auto arrivals = reader.arrivals();
        for (std::size_t i = from; i < events.size(); ++i)
            if (events[i].type == EV_KEY && events[i].value == 1) return arrivals[i];
        return std::nullopt;
    };
    auto allUp = [&](std::size_t from) {
        const auto events = reader.events();
        int down = 0;
        for (std::size_t i = from; i < events.size(); ++i)
            if (events[i].type == EV_KEY && events[i].value != 2) down += events[i].value == 1 ? 1 : -1;
        return down == 0;
    };
    // Polled often: the arrivals are taken by the reader's own thread, this only paces the presses.
    auto waitFor = [&](const std::function<bool()>& condition) {
        const auto end = MeasureClock::now() + scaled(10s);
        while (!condition() && MeasureClock::now() < end) std::this_thread::sleep_for(2ms);
        return condition();
    };
    for (int press = 0; press < measuredPresses; ++press) {
        const std::size_t from = reader.size();
        const auto at = MeasureClock::now();
        mouse.act([](VirtualHidppMouse& m, Instant now) { m.press(measuredButton, now); });
        const bool wrote = waitFor([&] { return firstDown(from).has_value(); });
        mouse.act([](VirtualHidppMouse& m, Instant now) { m.release(measuredButton, now); });
        ASSERT_TRUE(wrote) << "press " << press << " wrote no key\n" << reader.describe();
        into.pressMs.push_back(msSince(at, *firstDown(from)));
        ASSERT_TRUE(waitFor([&] { return allUp(from); })) << "press " << press << " left a key down\n"
                                                         << reader.describe();
        std::this_thread::sleep_for(10ms);
    }
    into.cpuPerPressMs = (processCpuMs(pid) - before) / measuredPresses;
    into.pressThreads = perThread(threadsBefore, threadsOf(pid), measuredPresses);
}

// Polls the mouse until its button is diverted: the time since `from`, or -1.
double divertedAfter(testkit::uhid::BluetoothHidppMouse& mouse, MeasureClock::time_point from) {
    auto diverted = [&] {
        return mouse.hidpp().read([](const VirtualHidppMouse& m) {
            auto reporting = m.reporting(measuredButton);
            return reporting && reporting->divert;
        });
    };
    const auto end = MeasureClock::now() + scaled(120s);
    while (!diverted()) {
        if (MeasureClock::now() >= end) return -1;
        std::this_thread::sleep_for(2ms);
    }
    return msSince(from, MeasureClock::now());
}

bool buttonDiverted(testkit::uhid::BluetoothHidppMouse& mouse) {
    return mouse.hidpp().read([](const VirtualHidppMouse& m) {
        auto reporting = m.reporting(measuredButton);
        return reporting && reporting->divert;
    });
}

void measureProgram(Program& program, Keyboard& keyboard, testkit::uhid::BluetoothHidppMouse& mouse,
                    Measured& into) {
    program.writeConfig(hyperAndTopButtonConfig(keyboard));
    // Its libraries read once before (a device check ends before any window), as a desktop has
    // them: the machine reads the host's files over 9p, and a first read of the toolkit's
    // libraries there takes seconds that a desktop's disk and page cache do not.
    EXPECT_EQ(program.run({"--check-devices"}).first, 0);
    const auto started = MeasureClock::now();
    ASSERT_TRUE(program.start());
    into.startMs = divertedAfter(mouse, started);
    ASSERT_GE(into.startMs, 0) << "the button was not diverted\n" << program.seen();
    ASSERT_TRUE(waitUntil([&] { return grabbed(keyboard.node); }, 120s)) << program.seen();
    const std::string mirror = waitForNode([&] { return eventNode(keyboard.name, true); });
    ASSERT_FALSE(mirror.empty()) << describeInputNodes();
    const std::string own = waitForNode([] { return eventNode("Tindlewave virtual keyboard", true); });
    ASSERT_FALSE(own.empty()) << describeInputNodes();
    settleUdev();
    typeThrough(keyboard, mirror, program.pid(), into);
    pressThrough(mouse, own, program.pid(), into);
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_FALSE(buttonDiverted(mouse));
    EXPECT_FALSE(grabbed(keyboard.node));
}

std::string ratio(double value, double floor) {
    if (value < 0 || floor <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", value / floor);
    return text;
}

std::string figures(const std::vector<Measured>& all, std::size_t readerAt, std::size_t pipelineAt,
                    std::size_t twoStageAt, std::size_t daemonAt) {
    std::string text;
    char line[400];
    const Measured& reader = all[readerAt];
    const Measured& pipeline = all[pipelineAt];
    const Measured& twoStage = all[twoStageAt];
    const Measured& daemon = all[daemonAt];
    std::snprintf(line, sizeof line, "machine pace %.2f; %d key reports 2 ms apart, %d presses of a diverted HID++ button\n",
                  pace(), pacedReports, measuredPresses);
    text += line;
    const char* programs = std::getenv("TW_KERNEL_PROGRAMS");
    text += std::string("the programs: ") +
            (programs && *programs ? std::string(programs) : std::string("the scenario program's build's")) + "\n";
    text += "keys through the grab: median / p99 ms (keys read), CPU ms per key; ratios to the pipeline\n";
    for (const auto& m : all) {
        if (m.keyMs.empty()) continue;
        char cpu[32] = "-";
        if (m.cpuPerKeyMs >= 0) std::snprintf(cpu, sizeof cpu, "%.4f", m.cpuPerKeyMs);
        std::snprintf(line, sizeof line, "  %-16s %6.2f / %6.2f (%4zu)  %6s", m.who.c_str(), medianOf(m.keyMs),
                      percentileOf(m.keyMs, 0.99), m.keyMs.size(), cpu);
        text += line;
        if (&m != &reader && &m != &pipeline)
            text += "  median " + ratio(medianOf(m.keyMs), medianOf(pipeline.keyMs)) + ", p99 " +
                    ratio(percentileOf(m.keyMs, 0.99), percentileOf(pipeline.keyMs, 0.99)) + ", CPU " +
                    ratio(m.cpuPerKeyMs, pipeline.cpuPerKeyMs) + " (median " +
                    ratio(medianOf(m.keyMs), medianOf(reader.keyMs)) + " the node's reader)";
        if (&m != &reader && &m != &pipeline && &m != &twoStage)
            text += "; beside the two-stage pipeline: median " + ratio(medianOf(m.keyMs), medianOf(twoStage.keyMs)) +
                    ", CPU " + ratio(m.cpuPerKeyMs, twoStage.cpuPerKeyMs);
        text += "\n";
        if (!m.keyThreads.empty()) text += "    per key: " + m.keyThreads + "\n";
    }
    text += "a HID++ press to its first key: median / p99 ms, CPU ms per press; ratios to the daemon\n";
    for (const auto& m : all) {
        if (m.pressMs.empty()) continue;
        std::snprintf(line, sizeof line, "  %-16s %6.2f / %6.2f  %.4f", m.who.c_str(), medianOf(m.pressMs),
                      percentileOf(m.pressMs, 0.99), m.cpuPerPressMs);
        text += line;
        if (&m != &daemon)
            text += "  median " + ratio(medianOf(m.pressMs), medianOf(daemon.pressMs)) + ", p99 " +
                    ratio(percentileOf(m.pressMs, 0.99), percentileOf(daemon.pressMs, 0.99)) + ", CPU " +
                    ratio(m.cpuPerPressMs, daemon.cpuPerPressMs);
        text += "\n";
        if (!m.pressThreads.empty()) text += "    per press: " + m.pressThreads + "\n";
    }
    text += "start to the button diverted: ms; ratios to the daemon and to the headless program\n";
    const Measured* headless = nullptr;
    for (const auto& m : all)
        if (m.who == "headless") headless = &m;
    for (const auto& m : all) {
        if (m.startMs < 0) continue;
        std::snprintf(line, sizeof line, "  %-16s %8.0f", m.who.c_str(), m.startMs);
        text += line;
        if (&m != &daemon) text += "  " + ratio(m.startMs, daemon.startMs);
        if (headless && &m != headless && &m != &daemon) text += ", " + ratio(m.startMs, headless->startMs) + " the headless program's";
        text += "\n";
    }
    return text;
}

TEST(BesideFloorsOfOurOwn, KeysThroughTheGrabAHidppPressAndTheStart) {
    std::string error;
    auto mouse = testkit::uhid::BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"),
                                                            "MX Master 3", 0xB023, error);
    ASSERT_TRUE(mouse) << error;
    ASSERT_FALSE(waitForNode([] { return eventNodeContaining("MX Master 3"); }).empty()) << describeInputNodes();
    const std::string hidraw = waitForNode([] { return hidrawNode(0x046D, 0xB023); });
    ASSERT_FALSE(hidraw.empty());
    Keyboard keyboard = usbKeyboard();
    ASSERT_FALSE(keyboard.node.empty()) << describeInputNodes();
    settleUdev();

    std::vector<Measured> all{Measured("node's reader"), Measured("pipeline"), Measured("two-stage pipe"),
                              Measured("HID++ daemon"), Measured("headless")};
    typeThrough(keyboard, keyboard.node, 0, all[0]);
    // Each pipeline floor types through its own keyboard, and lets go of the node at its end.
    const auto throughPipeline = [&](FloorProcess pipeline, const char* name, Measured& measured) {
        ASSERT_TRUE(pipeline.waitReady()) << pipeline.output();
        const std::string node = waitForNode([name] { return eventNode(name); });
        ASSERT_FALSE(node.empty()) << describeInputNodes();
        settleUdev();
        typeThrough(keyboard, node, pipeline.pid(), measured);
        EXPECT_EQ(pipeline.stop(), 0) << pipeline.output();
        EXPECT_FALSE(grabbed(keyboard.node));
    };
    throughPipeline(FloorProcess::pipeline(keyboard.node), pipelineFloorKeyboard, all[1]);
    throughPipeline(FloorProcess::twoStage(keyboard.node), twoStageFloorKeyboard, all[2]);
    if (HasFatalFailure()) return;
    {
        const auto started = MeasureClock::now();
        auto daemon = FloorProcess::hidpp(hidraw, measuredButton);
        all[3].startMs = divertedAfter(*mouse, started);
        ASSERT_TRUE(daemon.waitReady()) << daemon.output();
        const std::string node = waitForNode([] { return eventNode(hidppFloorKeyboard); });
        ASSERT_FALSE(node.empty()) << describeInputNodes();
        settleUdev();
        pressThrough(*mouse, node, daemon.pid(), all[3]);
        EXPECT_EQ(daemon.stop(), 0) << daemon.output();
        EXPECT_FALSE(buttonDiverted(*mouse));
    }
    {
        Program program;
        measureProgram(program, keyboard, *mouse, all[4]);
    }
    std::string skipped;
#ifdef TW_WINDOW_PROGRAM
    {
        all.push_back(Measured("window"));
        VirtualScreen screen;
        ASSERT_TRUE(screen.ok());
        Program program(screen);
        measureProgram(program, keyboard, *mouse, all.back());
    }
#else
    skipped = "the window program: not built\n";
#endif
    const std::string text = figures(all, 0, 1, 2, 3) + skipped;
    std::printf("%s", text.c_str());
    std::ofstream(artefacts() / "beside-floors.txt") << text;
    RecordProperty("figures", text);
}

}  // namespace
}  // namespace tindlewave::kernel
