// HID++ mice under the real kernel: the device check, and each mouse under its driver (the
// kernel's HID++ driver, hid-generic, and paired to a receiver under the receiver driver) set up
// by the headless program, its rules acted out and everything put back at quit; and a mouse
// unplugged while set up and plugged in again.

#include <gtest/gtest.h>

#include <linux/input.h>

#include <cstdio>
#include <fstream>

#include "Kernel/Scenarios/Guest.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using testkit::uhid::BluetoothHidppMouse;
using testkit::uhid::Receiver;

constexpr std::uint16_t gestureButton = 0xC4;  // the top button, on every recorded mouse

// A mouse of one of the three kinds, driven the same way.
struct AnyMouse {
    std::unique_ptr<BluetoothHidppMouse> bluetooth;
    std::unique_ptr<Receiver> receiver;
    std::string product;  // as the configuration matches it

    testkit::uhid::HidppAnswerer& hidpp() { return bluetooth ? bluetooth->hidpp() : receiver->hidpp(); }
    void act(const std::function<void(VirtualHidppMouse&, Instant)>& action) {
        bluetooth ? bluetooth->act(action) : receiver->act(action);
    }
    bool report(std::uint16_t buttons, int dx, int dy, int wheel) {
        return bluetooth ? bluetooth->report(buttons, dx, dy, wheel) : receiver->report(buttons, dx, dy, wheel);
    }
    bool diverted(std::uint16_t cid) {
        return hidpp().read([cid](const VirtualHidppMouse& m) {
            auto reporting = m.reporting(cid);
            return reporting && reporting->divert;
        });
    }
    // Controls the mouse holds diverted now.
    std::vector<std::uint16_t> divertedControls() {
        return hidpp().read([](const VirtualHidppMouse& m) {
            std::vector<std::uint16_t> list;
            for (const auto& control : m.description().controls)
                if (auto reporting = m.reporting(control.cid); reporting && (reporting->divert || reporting->rawXY))
                    list.push_back(control.cid);
            return list;
        });
    }
    // Whether the program read a control's reporting back after setting it (reprogrammable
    // controls' functions 3, then 2).
    bool readBack(std::uint16_t cid) {
        return hidpp().read([cid](const VirtualHidppMouse& m) {
            const auto index = m.description().indexOf(VirtualMouseDescription::reprogControlsFeature);
            bool set = false;
            for (const auto& request : m.requestsReceived()) {
                if (request.size() < 6 || request[2] != index || ((request[4] << 8) | request[5]) != cid) continue;
                const int function = request[3] >> 4;
                if (function == 3) set = true;
                if (function == 2 && set) return true;
            }
            return false;
        });
    }
};

AnyMouse bluetoothMouse(std::uint16_t product, const std::string& file) {
    std::string error;
    AnyMouse mouse;
    mouse.bluetooth = BluetoothHidppMouse::create(recording(file), "MX Master 3", product, error);
    EXPECT_TRUE(mouse.bluetooth) << error;
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", product);
    mouse.product = text;
    return mouse;
}

AnyMouse pairedMouse() {
    std::string error;
    AnyMouse mouse;
    auto description = recording("MX-Master-3-Wireless-Mouse-B023.json");
    description.deviceIndex = 1;
    mouse.receiver = Receiver::create(description, 0x4082, 0xC52B, error);
    EXPECT_TRUE(mouse.receiver) << error;
    mouse.product = "0x4082";
    return mouse;
}

std::string mouseConfig(const std::string& product) {
    return R"({
  "version": 1,
  "hyper": { "enabled": false, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    {
      "match": { "vendor": "0x046D", "product": ")" + product + R"(" },
      "name": "Test mouse",
      "kind": "mouse",
      "rules": [
        { "control": { "hidpp": "0xC4" }, "when": "click", "do": { "shortcut": "shift+cmd+4" } },
        { "control": { "button": 2 }, "when": "holdMove", "do": "scroll" }
      ],
      "scrolling": {
        "smooth": { "duration": 4, "brake": 2, "easeIn": 60,
                    "curve": [ { "stepsPerSecond": 1, "pointsPerSecond": 40 },
                               { "stepsPerSecond": 15, "pointsPerSecond": 900 } ] },
        "holdToScroll": { "speed": 1, "direction": "grab", "momentum": false }
      }
    }
  ],
  "ignored": []
})";
}

// The mouse's event node: the kernel names a Bluetooth mouse as it was made, a paired one
// "Logitech Wireless Mouse PID:4082" and then, once its HID++ driver read it, by its name.
std::string mouseEventNode(AnyMouse& mouse) {
    auto found = waitForNode([&] {
        for (const auto& node : inputNodes()) {
            if (node.ours()) continue;
            if (mouse.bluetooth && node.name.find("MX Master 3") != std::string::npos) return node.node;
            if (mouse.receiver && (node.name.find("4082") != std::string::npos ||
                                   node.name.find("MX Master 3") != std::string::npos))
                return node.node;
        }
        return std::string();
    });
    settleUdev();
    return found;
}

void setUpActAndQuit(AnyMouse& mouse) {
    const std::string node = mouseEventNode(mouse);
    ASSERT_FALSE(node.empty()) << "the kernel made no event node for the mouse:\n" << describeInputNodes();
    std::string name;
    for (const auto& n : inputNodes())
        if (n.node == node) name = n.name;

    Program program;
    program.writeConfig(mouseConfig(mouse.product));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    const auto listed = program.mark();
    program.send("devices");
    // Listed by the name the kernel gave it, as a HID++ mouse.
    ASSERT_TRUE(program.waitFor("MX Master 3 (mouse, HID++, 0x046D:" + mouse.product + ")", 30s, listed))
        << program.seen();

    // Set up: the gesture button diverted and read back, the mouse grabbed behind its mirror.
    EXPECT_TRUE(mouse.diverted(gestureButton));
    EXPECT_TRUE(mouse.readBack(gestureButton)) << "the program did not read the control's reporting back";
    if (mouse.bluetooth) {
        EXPECT_GT(mouse.hidpp().programRequests(), 0);
    }
    const std::string mirror = waitForNode([&] { return eventNode(name, true); });
    ASSERT_FALSE(mirror.empty()) << "no mirror of " << name << "\n" << describeInputNodes() << program.seen();
    EXPECT_TRUE(waitUntil([&] { return grabbed(node); }, 60s)) << node << " is not grabbed";
    const std::string keyboard = waitForNode([] { return eventNode("Tindlewave virtual keyboard", true); });
    ASSERT_FALSE(keyboard.empty());

    // A click of the diverted button posts its shortcut on the program's keyboard.
    NodeReader keys(keyboard);
    mouse.act([](VirtualHidppMouse& m, Instant now) { m.press(gestureButton, now); });
    mouse.act([](VirtualHidppMouse& m, Instant now) { m.release(gestureButton, now); });
    EXPECT_TRUE(keys.waitFor({EV_KEY, key4, 1})) << keys.describe() << "\n" << program.seen();
    EXPECT_TRUE(keys.waitFor({EV_KEY, key4, 0})) << keys.describe();

    // A wheel notch scrolls smoothly: several high-resolution frames on the mirror.
    // (Once in about twenty runs under heavy load, the paired mouse's first notch right after
    // "wait applied" went through unchanged; a second notch then scrolls smoothly. That is kept in
    // the scenario's files as first-notch.txt.)
    NodeReader mirrored(mirror);
    const auto notch = [&] {
        return mouse.report(0, 0, 0, 1) && mouse.report(0, 0, 0, 0) &&
               waitUntil([&] { return mirrored.count(EV_REL, REL_WHEEL_HI_RES) >= 3; }, 15s);
    };
    if (!notch()) {
        std::ofstream(artefacts() / "first-notch.txt") << mirrored.describe() << "\n" << program.seen();
        EXPECT_TRUE(notch()) << mirrored.describe() << "\n" << program.seen();
    }

    // Holding the middle button and moving scrolls (on the mirror, the last wheel's) and moves
    // no pointer.
    const int before = mirrored.count(EV_REL, REL_WHEEL_HI_RES);
    ASSERT_TRUE(mouse.report(0x04, 0, 0, 0));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(mouse.report(0x04, 0, 12, 0));
    ASSERT_TRUE(mouse.report(0, 0, 0, 0));
    EXPECT_TRUE(waitUntil([&] { return mirrored.count(EV_REL, REL_WHEEL_HI_RES) > before; }, 30s))
        << mirrored.describe();
    EXPECT_FALSE(mirrored.has({EV_KEY, BTN_MIDDLE, 1})) << mirrored.describe();

    // Quit: every control native, nothing grabbed, the program's devices gone.
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_TRUE(mouse.divertedControls().empty()) << "controls left diverted after quit";
    EXPECT_FALSE(grabbed(node));
    EXPECT_TRUE(eventNode(name, true).empty());
    EXPECT_TRUE(eventNode("Tindlewave virtual keyboard", true).empty());
}

TEST(DeviceCheck, ListsTheNodesAndPingsEachHidppMouse) {
    AnyMouse direct = bluetoothMouse(0xB023, "MX-Master-3-Wireless-Mouse-B023.json");
    AnyMouse paired = pairedMouse();
    ASSERT_FALSE(mouseEventNode(direct).empty());
    ASSERT_FALSE(mouseEventNode(paired).empty());
    ASSERT_FALSE(waitForNode([] { return hidrawNode(0x046D, 0x4082); }).empty());
    Program program;
    auto [status, output] = program.run({"--check-devices"});
    std::ofstream(artefacts() / "check-devices.txt") << output;
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("/dev/hidraw"), std::string::npos) << output;
    EXPECT_NE(output.find("/dev/input/event"), std::string::npos) << output;
    std::size_t pings = 0;
    for (auto at = output.find("ping"); at != std::string::npos; at = output.find("ping", at + 1)) ++pings;
    EXPECT_GE(pings, 2u) << output;
}

TEST(HidppMouse, UnderTheKernelsHidppDriver) {
    AnyMouse mouse = bluetoothMouse(0xB023, "MX-Master-3-Wireless-Mouse-B023.json");
    setUpActAndQuit(mouse);
    EXPECT_GT(mouse.hidpp().kernelRequests(), 0) << "the kernel's HID++ driver did not take the mouse";
}

TEST(HidppMouse, UnderHidGeneric) {
    AnyMouse mouse = bluetoothMouse(0xB025, "MX-Anywhere-3-B025.json");
    setUpActAndQuit(mouse);
    EXPECT_EQ(mouse.hidpp().kernelRequests(), 0) << "a kernel driver sent HID++ to the mouse";
}

TEST(HidppMouse, PairedToAReceiver) {
    AnyMouse mouse = pairedMouse();
    const auto requests = mouse.receiver->receiverRequests();
    std::string asked;
    for (const auto& r : requests) asked += r + "; ";
    std::ofstream(artefacts() / "receiver-requests.txt") << asked;
    setUpActAndQuit(mouse);
}

TEST(HidppMouse, UnpluggedWhileSetUpAndPluggedInAgain) {
    AnyMouse mouse = bluetoothMouse(0xB025, "MX-Anywhere-3-B025.json");
    ASSERT_FALSE(mouseEventNode(mouse).empty()) << describeInputNodes();
    Program program;
    program.writeConfig(mouseConfig(mouse.product));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    ASSERT_TRUE(waitUntil([&] { return mouse.diverted(gestureButton); })) << program.seen();

    // The device goes while the program reads its hidraw node: the kernel fails the read and udev
    // announces the removal; the program lets the node go and carries on.
    mouse.bluetooth.reset();
    ASSERT_TRUE(waitUntil([] { return hidrawNode(0x046D, 0xB025).empty(); })) << describeInputNodes();
    ASSERT_TRUE(waitApplied(program)) << program.seen();

    // It comes back (a new hidraw node, new ids) and is set up again.
    mouse = bluetoothMouse(0xB025, "MX-Anywhere-3-B025.json");
    ASSERT_FALSE(mouseEventNode(mouse).empty()) << describeInputNodes();
    EXPECT_TRUE(waitUntil([&] { return mouse.diverted(gestureButton); }, 90s)) << program.seen();
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_FALSE(mouse.diverted(gestureButton));
}

}  // namespace
}  // namespace tindlewave::kernel
