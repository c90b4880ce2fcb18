#pragma once

// The Linux event system over emulated devices: a USB mouse with a high-resolution wheel, a
// HID++ mouse's event node, a USB keyboard, a touch pad, an input device of the program's own and
// /dev/uinput, found through the shared registry, all on one real tap executor.

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/Umockdev/EvdevSide.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"

namespace tindlewave::testkit::umockdev {

inline InputDescription mouseDescription(const std::string& name, const std::string& phys,
                                         std::uint16_t vendor, std::uint16_t product) {
    InputDescription d;
    d.id = {BUS_USB, vendor, product, 0x0111};
    d.name = name;
    d.phys = phys;
    for (std::uint16_t b = BTN_LEFT; b <= BTN_TASK; ++b) d.add(EV_KEY, b);
    for (auto rel : {REL_X, REL_Y, REL_HWHEEL, REL_WHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES})
        d.add(EV_REL, static_cast<std::uint16_t>(rel));
    d.add(EV_MSC, MSC_SCAN);
    return d;
}

// A USB keyboard whose keys go up to `lastKey`.
inline InputDescription keyboardDescription(std::uint16_t lastKey = KEY_F24) {
    InputDescription d;
    d.id = {BUS_USB, 0x3412, 0x7801, 0x0111};
    d.name = "Test Keyboard";
    d.phys = "usb-0000:00:14.0-3/input0";
    for (std::uint16_t k = KEY_ESC; k <= lastKey; ++k) d.add(EV_KEY, k);
    d.add(EV_MSC, MSC_SCAN);
    for (auto led : {LED_NUML, LED_CAPSL, LED_SCROLLL}) d.add(EV_LED, static_cast<std::uint16_t>(led));
    d.add(EV_REP, REP_DELAY);
    d.add(EV_REP, REP_PERIOD);
    return d;
}

inline InputDescription touchpadDescription() {
    InputDescription d;
    d.id = {BUS_I8042, 0x0002, 0x0007, 0x01B1};
    d.name = "SynPS/2 Synaptics TouchPad";
    d.add(EV_KEY, BTN_LEFT);
    d.add(EV_KEY, BTN_TOUCH);
    d.add(EV_ABS, ABS_MT_POSITION_X);
    return d;
}

struct EventDeviceWorld {
    Testbed testbed;
    FixtureDevice mouse = usbMouse(0);
    FixtureDevice hidppMouse = bluetoothHidppMouse(1);
    FixtureDevice keyboard = usbKeyboard(2);
    FixtureDevice touchpad = ps2Touchpad(3);
    FixtureDevice own = ownVirtualDevice(4);
    std::unique_ptr<UinputSide> uinput;
    std::unique_ptr<EvdevSide> mouseSide, hidppSide, keyboardSide, touchpadSide, ownSide;
    RunLoopExecutor input{"test.evdev"};
    std::unique_ptr<LinuxDeviceRegistry> registry;
    std::unique_ptr<LinuxEventSystem> events;

    // What the test's tap saw: each event as it came, with its origin.
    Waiter waiter;
    std::vector<std::pair<Event, std::optional<HIDOrigin>>> seen;
    std::function<TapAnswer(EventType, Event&)> answer;
    std::optional<TapPort> port;

    // Quick settling and busy tries, no session to follow, udev counted as announcing (the
    // emulation's own announces through the hook or `announce`), and a watchdog that a busy
    // machine never sets off (a test of the watchdog takes the stalling options).
    static LinuxEventSystem::Options quickOptions() {
        return {.stallSeconds = 30, .udevAnnounces = true, .settleSeconds = 0.01, .busyTries = 3,
                .busySeconds = 0.01, .followSession = false};
    }
    static LinuxEventSystem::Options stallingOptions() {
        auto options = quickOptions();
        options.stallSeconds = 1;
        return options;
    }

    // Whether the program's devices count as announced at every look (the isAnnounced hook: the
    // emulation has no udev of its own; see announce for udev's "add" through the registry), and
    // the event system's journal lines.
    std::atomic<bool> announcing{true};
    std::vector<std::string> journal;

    explicit EventDeviceWorld(bool withUinput = true,
                              InputDescription keyboardNode = keyboardDescription(),
                              LinuxEventSystem::Options options = quickOptions()) {
        if (!options.isAnnounced) options.isAnnounced = [this](const std::string&) { return announcing.load(); };
        options.journal = [this](const std::string& line) { waiter.update([&] { journal.push_back(line); }); };
        for (const auto* device : {&mouse, &hidppMouse, &keyboard, &touchpad, &own})
            EXPECT_TRUE(testbed.add(device->text()));
        if (withUinput) {
            EXPECT_TRUE(testbed.add(uinputNode().text()));
            uinput = std::make_unique<UinputSide>(testbed);
        }
        mouseSide = std::make_unique<EvdevSide>(
            testbed, mouse.event, mouseDescription("Test USB Mouse", "usb-0000:00:14.0-4/input0", 0x1234, 0x5678));
        hidppSide = std::make_unique<EvdevSide>(
            testbed, hidppMouse.event, mouseDescription("MX Master 3 Wireless Mouse", "d1:8a:3c:40:52:19", 0x046D, 0xB023));
        keyboardSide = std::make_unique<EvdevSide>(testbed, keyboard.event, std::move(keyboardNode));
        touchpadSide = std::make_unique<EvdevSide>(testbed, touchpad.event, touchpadDescription());
        InputDescription ownDescription = mouseDescription("Tindlewave virtual pointer", "tindlewave/4", 0, 0);
        ownSide = std::make_unique<EvdevSide>(testbed, own.event, ownDescription);
        onInput([&] {
            registry = std::make_unique<LinuxDeviceRegistry>(input);
            events = std::make_unique<LinuxEventSystem>(input, options);
            events->follow(*registry);
        });
    }
    ~EventDeviceWorld() {
        onInput([&] {
            if (port) events->invalidate(*port);
            events.reset();
            registry.reset();
        });
        input.stop();
        input.join();
    }

    // Runs `job` on the input executor, and waits until what it handed the writer is written.
    template <class F>
    void onInput(F job) {
        std::promise<void> done;
        input.post([&] {
            job();
            if (events) events->awaitWrites();
            done.set_value();
        });
        done.get_future().wait();
    }
    template <class T, class F>
    T read(F get) {
        T value{};
        onInput([&] { value = get(); });
        return value;
    }

    // Makes and attaches the test's tap; false when the system refused it.
    bool tap(std::uint64_t mask) {
        bool made = false;
        onInput([&] {
            port = events->createTap(
                {EventLevel::hid, TapPlacement::headInsert, TapOptions::active, mask},
                [this](EventType type, Event& event, const std::optional<HIDOrigin>& origin) {
                    TapAnswer result = answer ? answer(type, event) : TapAnswer::pass;
                    waiter.update([&] { seen.emplace_back(event, origin); });
                    return result;
                });
            made = port && events->attach(*port, input);
        });
        return made;
    }
    std::vector<std::string> grabbed() {
        return read<std::vector<std::string>>([&] { return events->grabbedNodes(); });
    }
    // Polls `condition` (on the test's thread) until it holds, for at most `within`.
    static bool eventually(const std::function<bool()>& condition,
                           std::chrono::seconds within = std::chrono::seconds(5)) {
        const auto limit = std::chrono::steady_clock::now() + within;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > limit) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // The tap's owner enables it again from inside the time-out's notice, as the tap host does.
    void enableAgainOnTimeout() {
        answer = [this](EventType type, Event&) {
            if (type == EventType::tapDisabledByTimeout) events->enable(*port, true);
            return TapAnswer::pass;
        };
    }
    // Holds the tap executor from its next job on (returns once it is held) until `holding` is
    // false.
    void hold(std::atomic<bool>& holding) {
        std::atomic<bool> held{false};
        input.post([&] {
            held = true;
            while (holding) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        eventually([&] { return held.load(); }, std::chrono::seconds(20));
    }
    // Holds the tap executor, the mouse moving meanwhile, until every node is let go of (the
    // watchdog's doing), then runs `meanwhile` on the test's thread and lets the executor go on.
    bool stallUntilReleased(const std::function<void()>& meanwhile) {
        std::atomic<bool> holding{true};
        hold(holding);
        mouseSide->send({{EV_REL, REL_X, 1}});
        const bool released = eventually([&] {
            return !mouseSide->isGrabbed() && !keyboardSide->isGrabbed() && !hidppSide->isGrabbed();
        }, std::chrono::seconds(20));
        meanwhile();
        holding = false;
        onInput([] {});
        return released;
    }
    std::size_t seenCount() {
        return waiter.read([&] { return seen.size(); });
    }
    // An input device of the program's own, with its event node, under the sysname uinput gave
    // it ("input92"), put into the emulated tree: the registry hears udev's "add" of the node.
    static FixtureDevice ownNode(const std::string& sysname, const std::string& name) {
        return ownVirtualDevice(std::stoi(sysname.substr(std::string("input").size())) - 20, name);
    }
    // udev announces the event node of the living uinput device `name` through the registry, as
    // it announces every device the program makes. False without such a device.
    bool announce(const std::string& name) {
        auto device = uinput->named(name);
        return device && testbed.add(ownNode(device->sysname, name).text());
    }
    // The registry id the registry gave the event node.
    std::optional<RegistryID> idOf(const FixtureDevice& device) {
        for (const auto& entry : registry->entries()) {
            if (entry.devnode == device.event) return entry.id;
        }
        return std::nullopt;
    }
};

// The value each code was last written with, over a device's writes: what it holds down.
inline std::map<std::pair<int, int>, int> lastValues(const std::vector<Code>& codes) {
    std::map<std::pair<int, int>, int> last;
    for (auto [type, code, value] : codes) {
        if (type == EV_KEY) last[{type, code}] = value;
    }
    return last;
}

inline bool nothingDown(const std::vector<Code>& codes) {
    for (const auto& [key, value] : lastValues(codes)) {
        if (value != 0) return false;
    }
    return true;
}

}  // namespace tindlewave::testkit::umockdev
