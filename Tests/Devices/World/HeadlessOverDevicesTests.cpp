// The headless program over this machine's devices (emulated): the default world end to end; and
// the program on screen where its toolkit fails it.

#include <gtest/gtest.h>

#include <linux/input.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "Core/Evdev/EvdevKeys.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "TestKit/HeadlessProcess.h"
#include "TestKit/SilentDisplay.h"
#include "TestKit/VirtualDisplay.h"
#include "TestKit/WaylandDisplay.h"
#include "TestKit/Umockdev/EmulatedNode.h"
#include "TestKit/Umockdev/EvdevSide.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/HidppDeviceSide.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"
#include "../KeyMap/KeyTableSide.h"

namespace tindlewave::testkit::umockdev {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t keyF18 = 188;

ScanCodeMap keyboardTable() {
    ScanCodeMap table;
    for (std::uint16_t usage = 0x04; usage <= 0xE7; ++usage) {
        auto key = evdevkeys::evdevCode(HIDUsage{usage});
        table[0x70000 + usage] = key ? *key : 0;
    }
    return table;
}

// The program in a process of its own, over the emulated machine of this one.
void overDevices(Headless& headless) {
    headless.simulate = false;
    headless.inherited = {"LD_PRELOAD", "UMOCKDEV_DIR", "TMPDIR"};
}

void writeConfig(const Headless& headless) {
    std::filesystem::create_directories(headless.home.path() / ".config" / "tindlewave");
    TempFolder::write((headless.home.path() / ".config" / "tindlewave" / "config.json").string(), R"({
  "version": 1,
  "hyper": { "enabled": true, "key": "capsLock", "onTap": "nothing" },
  "devices": [
    {
      "match": { "vendor": "0x046D", "product": "0xB023" },
      "name": "MX Master 3",
      "kind": "mouse",
      "rules": [ { "control": { "hidpp": "0xC4" }, "when": "click", "do": { "shortcut": "shift+cmd+4" } } ]
    },
    { "match": { "vendor": "0x3412", "product": "0x7801" }, "name": "Test Keyboard", "kind": "keyboard", "hyper": true }
  ],
  "ignored": []
}
)");
}

// A keyboard's key table whose reads and writes can be held unanswered, as a keyboard that does
// not answer while the program quits; released, they are answered from its table.
class HeldKeyTable {
  public:
    HeldKeyTable(Testbed& testbed, const std::string& devnode, ScanCodeMap table)
        : node_(testbed, devnode), table_(std::move(table)) {
        for (const unsigned long request : {EVIOCGKEYCODE_V2, EVIOCSKEYCODE_V2}) {
            node_.onIoctl(request, [this](const std::shared_ptr<IoctlCall>& call) {
                std::lock_guard lock(mutex_);
                if (holding_) {
                    held_.push_back(call);
                } else {
                    answer(*call);
                }
                return true;
            });
        }
    }
    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    // Answers every held call; false when none was held.
    bool release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        for (const auto& call : held_) answer(*call);
        return !std::exchange(held_, {}).empty();
    }
    std::size_t held() {
        std::lock_guard lock(mutex_);
        return held_.size();
    }

  private:
    void answer(IoctlCall& call) {
        auto entry = call.readAs<input_keymap_entry>();
        auto at = table_.end();
        if (call.request() == EVIOCGKEYCODE_V2 && (entry.flags & INPUT_KEYMAP_BY_INDEX)) {
            if (entry.index < table_.size()) at = std::next(table_.begin(), entry.index);
        } else {
            std::uint32_t scanCode = 0;
            std::memcpy(&scanCode, entry.scancode, std::min<std::size_t>(entry.len, sizeof scanCode));
            at = table_.find(scanCode);
        }
        if (at == table_.end()) {
            call.complete(-1, EINVAL);
            return;
        }
        if (call.request() == EVIOCSKEYCODE_V2) {
            at->second = static_cast<std::uint16_t>(entry.keycode);
        } else {
            entry.len = sizeof(std::uint32_t);
            std::memcpy(entry.scancode, &at->first, sizeof(std::uint32_t));
            entry.keycode = at->second;
            entry.index = static_cast<std::uint16_t>(std::distance(table_.begin(), at));
            call.writeAs(entry);
        }
        call.complete(0);
    }

    EmulatedNode node_;
    std::mutex mutex_;
    ScanCodeMap table_;
    bool holding_ = false;
    std::vector<std::shared_ptr<IoctlCall>> held_;
};

// This machine with a Bluetooth HID++ mouse, a USB keyboard and uinput, emulated: the mouse
// answers as the recorded one, the keyboard's key table as a keyboard's.
struct MouseAndKeyboard {
    MouseAndKeyboard() {
        if (!testbed.add(mouse.text()) || !testbed.add(keyboard.text()) || !testbed.add(uinputNode().text())) return;
        auto recording = loadVirtualMouse(TW_DATA_ROOT "/devices/MX-Master-3-Wireless-Mouse-B023.json");
        if (!recording.ok()) return;
        hidraw.emplace(testbed, mouse.hidraw);
        mouseSide.emplace(*hidraw, *recording);
        keyTable.emplace(testbed, keyboard.event, keyboardTable());
        uinput.emplace(testbed);
    }
    bool ready() const { return uinput.has_value(); }
    // Whether the mouse's button 0xC4 is diverted.
    bool diverted() {
        return mouseSide->read([](const VirtualHidppMouse& m) {
            auto reporting = m.reporting(0xC4);
            return reporting && reporting->divert;
        });
    }

    Testbed testbed;
    const FixtureDevice mouse = bluetoothHidppMouse(0);
    const FixtureDevice keyboard = usbKeyboard(1);
    std::optional<EmulatedNode> hidraw;
    std::optional<HidppDeviceSide> mouseSide;
    std::optional<KeyTableSide> keyTable;
    std::optional<UinputSide> uinput;
};

TEST(HeadlessOverDevices, SetsUpTheMouseAndKeyboardFiresARuleAndQuitsLeavingBothAsTheyWere) {
    MouseAndKeyboard machine;
    ASSERT_TRUE(machine.ready());
    auto& mouseSide = *machine.mouseSide;
    auto& keyTable = *machine.keyTable;
    auto& uinput = *machine.uinput;
    {
        Headless headless;
        overDevices(headless);
        writeConfig(headless);
        headless.start({});
        ASSERT_TRUE(headless.waitFor("Test Keyboard (connected, hyper on)")) << headless.seen;
        ASSERT_TRUE(headless.waitFor("MX Master 3 (connected, HID++ set up)")) << headless.seen;
        EXPECT_EQ(keyTable.table().at(0x70039), keyF18);
        EXPECT_TRUE(machine.diverted());

        mouseSide.act([](VirtualHidppMouse& m, Instant now) { m.press(0xC4, now); });
        mouseSide.act([](VirtualHidppMouse& m, Instant now) { m.release(0xC4, now); });
        EXPECT_TRUE(headless.waitFor("action: ")) << headless.seen;
        // The shortcut reaches the desktop through the program's own keyboard: the 4 goes down
        // (the emulation has no udev to announce that keyboard, so the post waits out the 5 s).
        EXPECT_TRUE(testkit::pollUntil(
            [&] {
                const auto written = uinput.written("Tindlewave virtual keyboard");
                return std::find(written.begin(), written.end(), Code{EV_KEY, KEY_4, 1}) != written.end();
            },
            30s, 10ms))
            << headless.seen;
        // Over this computer's devices the modifiers go by their Linux names.
        EXPECT_TRUE(headless.waitFor("flags 0x120000 (Shift+Super)")) << headless.seen;

        headless.send("quit");
        ASSERT_TRUE(headless.waitFor("at exit")) << headless.seen;
        const int status = headless.exitStatus();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
    }
    EXPECT_EQ(keyTable.table(), keyboardTable());
    EXPECT_FALSE(machine.diverted());
}

#ifdef TW_PROGRAM
// The toolkit's variables for an X display, and for a Wayland one.
std::vector<std::string> onX11(const std::string& display) { return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display}; }
std::vector<std::string> onWayland(const std::string& display) {
    return {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + display};
}

// The program on screen over the emulated devices, on the display the variables name.
void startOnDisplay(Headless& program, std::vector<std::string> display) {
    program.program = TW_PROGRAM;
    overDevices(program);
    program.variables = std::move(display);
    writeConfig(program);
    program.start({});
}

// The mouse diverted and the hyper key written into the keyboard's table.
bool setUp(MouseAndKeyboard& machine) {
    return testkit::pollUntil([&] { return machine.diverted() && machine.keyTable->table().at(0x70039) == keyF18; },
                              60s, 10ms);
}

// The program on screen, its devices set up, loses its display (the server ends: a logout, a
// crash, a virtual display stopped); the toolkit ends the program, which puts both devices back
// first, as its quit does, and ends with a failure. `broke`: what the toolkit says then.
template <class Display>
void displayGoneAfterTheStart(Display& display, std::vector<std::string> variables, const std::string& broke) {
    MouseAndKeyboard machine;
    ASSERT_TRUE(machine.ready());
    auto& keyTable = *machine.keyTable;
    {
        Headless program;
        startOnDisplay(program, std::move(variables));
        // Said in the event loop's first job: the toolkit is on its display.
        ASSERT_TRUE(program.waitFor("standard error is not a terminal", 60s)) << program.seen;
        ASSERT_TRUE(setUp(machine)) << program.seen;
        display.close();
        const int status = program.exitStatus();
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << program.seen;
        EXPECT_NE(program.seen.find(broke), std::string::npos) << program.seen;
    }
    EXPECT_EQ(keyTable.table(), keyboardTable());
    EXPECT_FALSE(machine.diverted());
}
#endif

// The program on screen sets the devices up while its toolkit still reaches for its display; a
// display that fails it then (the toolkit ends the program) finds both devices put back first.
TEST(WindowProgramOverDevices, ADisplayLostWhileTheDevicesAreSetUpFindsThemPutBack) {
#ifndef TW_PROGRAM
    GTEST_SKIP() << "built without the program on screen";
#else
    MouseAndKeyboard machine;
    ASSERT_TRUE(machine.ready());
    auto& keyTable = *machine.keyTable;
    testkit::SilentDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no free display number";
    {
        Headless program;
        startOnDisplay(program, onX11(display.name()));
        // The toolkit waits for the display's answer meanwhile.
        ASSERT_TRUE(setUp(machine)) << program.seen;
        display.close();
        // Said plainly, and ended with a failure of its own rather than the toolkit's abort.
        const int status = program.exitStatus();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << program.seen;
        EXPECT_NE(program.seen.find("tindlewave: cannot open the display " + display.name() + " ("),
                  std::string::npos)
            << program.seen;
        EXPECT_EQ(program.seen.find("Reinstalling"), std::string::npos) << program.seen;
    }
    EXPECT_EQ(keyTable.table(), keyboardTable());
    EXPECT_FALSE(machine.diverted());
#endif
}

// An X server that ends under the program.
TEST(WindowProgramOverDevices, ADisplayGoneAfterTheStartFindsTheDevicesPutBack) {
#ifndef TW_PROGRAM
    GTEST_SKIP() << "built without the program on screen";
#else
    testkit::VirtualDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no Xvfb here";
    displayGoneAfterTheStart(display, onX11(display.name()), "The X11 connection broke");
#endif
}

// A Wayland compositor that ends under the program (the toolkit then exits at once, without the
// process's exit handlers).
TEST(WindowProgramOverDevices, AWaylandCompositorGoneAfterTheStartFindsTheDevicesPutBack) {
#ifndef TW_PROGRAM
    GTEST_SKIP() << "built without the program on screen";
#else
    testkit::WaylandDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no weston here";
    displayGoneAfterTheStart(display, onWayland(display.name()), "The Wayland connection broke");
#endif
}

#ifdef TW_PROGRAM
// Whether a thread of process `pid` has the name `name`.
bool hasThread(pid_t pid, const std::string& name) {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        auto comm = TempFolder::read((task.path() / "comm").string());
        if (!comm.empty() && comm.back() == '\n') comm.pop_back();
        if (comm == name) return true;
    }
    return false;
}

// All the program's log files say.
std::string logOf(const Headless& program) {
    std::string all;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             program.home.path() / ".local" / "state" / "tindlewave" / "log", error))
        all += TempFolder::read(entry.path().string());
    return all;
}
#endif

// The program on screen has quit (every device put back, the engine's executor stopped) and waits
// for a key-map job still running (a keyboard that does not answer) when its display goes; the
// toolkit finds its connection broken as the program's windows go, and ends the program at once:
// nothing is left to put back, and nothing is waited for.
TEST(WindowProgramOverDevices, ADisplayGoneJustAfterTheQuitEndsTheProgramAtOnce) {
#ifndef TW_PROGRAM
    GTEST_SKIP() << "built without the program on screen";
#else
    Testbed testbed;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(testbed.add(keyboard.text()));
    ASSERT_TRUE(testbed.add(uinputNode().text()));
    HeldKeyTable keyTable(testbed, keyboard.event, keyboardTable());
    UinputSide uinput(testbed);
    testkit::WaylandDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no weston here";
    keyTable.hold();
    {
        Headless program;
        startOnDisplay(program, onWayland(display.name()));
        ASSERT_TRUE(program.waitFor("standard error is not a terminal", 60s)) << program.seen;
        ASSERT_TRUE(testkit::pollUntil([&] { return keyTable.held() > 0; }, 60s, 10ms)) << program.seen;
        ::kill(program.pid, SIGTERM);
        // The quit is done and the engine's executor has stopped: the program waits for the job.
        ASSERT_TRUE(testkit::pollUntil(
            [&] {
                return logOf(program).find("\"quitting (received SIGTERM)\"") != std::string::npos &&
                       !hasThread(program.pid, "tindlewave.hid");
            },
            60s, 10ms))
            << program.seen << logOf(program);
        display.close();
        EXPECT_TRUE(keyTable.release());
        const int status = program.exitStatus();
        EXPECT_TRUE(WIFEXITED(status)) << program.seen;
        EXPECT_NE(program.seen.find("The Wayland connection broke"), std::string::npos) << program.seen;
        const auto log = logOf(program);
        EXPECT_EQ(log.find("the toolkit ends the program"), std::string::npos) << log;
        EXPECT_EQ(log.find("quit before every device was put back"), std::string::npos) << log;
    }
#endif
}

// /dev/uinput and /dev/input are the emulated tree's, so that the machine's own (present or not)
// change nothing; what the program says without /dev/uinput is NodePermissionDevices' to check.
TEST(HeadlessOverDevices, WithoutDevicesItRunsSaysWhyAndTakesUpAKeyboardPluggedInLater) {
    Testbed testbed;
    ASSERT_TRUE(testbed.add(uinputNode().text()));
    std::filesystem::create_directories(testbed.rootDir() + "/dev/input");
    UinputSide uinput(testbed);
    Headless headless;
    overDevices(headless);
    headless.start({});
    ASSERT_TRUE(headless.waitFor("no devices found")) << headless.seen;
    EXPECT_EQ(headless.seen.find("cannot use devices"), std::string::npos) << headless.seen;

    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(testbed.add(keyboard.text()));
    KeyTableSide keyTable(testbed, keyboard.event, keyboardTable());
    EXPECT_TRUE(testkit::pollUntil(
        [&] {
            headless.send("devices");
            return headless.waitFor("device: Test Keyboard (keyboard, 0x3412:0x7801)", 1s);
        },
        60s, 0ms))
        << headless.seen;
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit")) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

// A key-map job still running when the program quits (a keyboard that does not answer) ends on the
// key map it was given: the program waits for it after its threads stop, and ends once it is done.
TEST(HeadlessOverDevices, AKeyMapJobStillRunningAtTheQuitEndsBeforeTheWorldGoes) {
    Testbed testbed;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(testbed.add(keyboard.text()));
    ASSERT_TRUE(testbed.add(uinputNode().text()));
    HeldKeyTable keyTable(testbed, keyboard.event, keyboardTable());
    UinputSide uinput(testbed);
    keyTable.hold();
    {
        Headless headless;
        overDevices(headless);
        writeConfig(headless);
        headless.start({});
        ASSERT_TRUE(headless.waitFor("Test Keyboard (connected")) << headless.seen;
        testkit::pollUntil([&] { return keyTable.held() > 0; }, 30s, 10ms);
        ASSERT_GT(keyTable.held(), 0u) << headless.seen;
        headless.send("quit");
        ASSERT_TRUE(headless.waitFor("at exit")) << headless.seen;
        EXPECT_TRUE(keyTable.release());
        const int status = headless.exitStatus();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
    }
}

// An input device without HID that is neither mouse nor keyboard, as the kernel makes a power
// button (keys, marked ID_INPUT_KEY) or the PC speaker (sounds only), numbered n.
std::string plainInputDevice(const std::string& parent, const std::string& name, int n, bool keys) {
    const std::string input = parent + "/input/input" + std::to_string(40 + n);
    DeviceText device(input);
    device.subsystem("input")
        .property("NAME", "\"" + name + "\"")
        .property("ID_INPUT", "1")
        .attribute("name", name)
        .attribute("phys", "")
        .attribute("id/bustype", "0019")
        .attribute("id/vendor", "0000")
        .attribute("id/product", "0001")
        .attribute("id/version", "0000")
        .attribute("capabilities/ev", keys ? "3" : "40001")
        .attribute("capabilities/key", keys ? "10000000000000 0" : "0");
    DeviceText event(input + "/event" + std::to_string(40 + n));
    event.subsystem("input")
        .characterNode("input/event" + std::to_string(40 + n), 13, 64u + 40u + unsigned(n))
        .property("ID_INPUT", "1");
    if (keys) {
        device.property("ID_INPUT_KEY", "1");
        event.property("ID_INPUT_KEY", "1");
    }
    return fixtureText({DeviceText(parent).subsystem("platform"), device, event});
}

// The listing names mice, keyboards and receivers by what they are, with the names the kernel
// gives them now, and says which devices it leaves out.
TEST(HeadlessOverDevices, DevicesListsMiceKeyboardsAndReceiversByWhatTheyAre) {
    Testbed testbed;
    const auto receiver = receiverWithPairedMouse(2);
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(testbed.add(keyboard.text()));
    ASSERT_TRUE(testbed.add(receiver.text()));
    ASSERT_TRUE(testbed.add(unrelatedDevice(4).text()));
    ASSERT_TRUE(testbed.add(ps2Touchpad(5).text()));
    ASSERT_TRUE(testbed.add(plainInputDevice("/devices/LNXSYSTM:00/LNXPWRBN:00", "Power Button", 1, true)));
    ASSERT_TRUE(testbed.add(plainInputDevice("/devices/platform/pcspkr", "PC Speaker", 2, false)));
    Headless headless;
    overDevices(headless);
    headless.start({});
    ASSERT_TRUE(headless.waitFor("device: Test Keyboard (keyboard, 0x3412:0x7801)")) << headless.seen;
    // The receiver's driver renames the paired mouse once it answers; udev said it before.
    testbed.setProperty(receiver.paired.interface, "HID_NAME", "MX Anywhere 3");
    headless.send("devices");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit")) << headless.seen;
    // The listing the command printed: after the one at start.
    const std::string listing = headless.seen.substr(headless.at("not listed") + 1);
    EXPECT_NE(listing.find("device: USB Receiver (receiver, 0x046D:0xC52B)"), std::string::npos)
        << headless.seen;
    EXPECT_NE(listing.find("device: MX Anywhere 3 (mouse, HID++, 0x046D:0x4082)"), std::string::npos)
        << headless.seen;
    EXPECT_NE(listing.find("not listed, neither mice nor keyboards: "), std::string::npos) << headless.seen;
    for (const char* name : {"Test Power Supply", "Power Button", "PC Speaker", "PS/2 Generic Touch Pad"}) {
        EXPECT_EQ(listing.find(std::string("device: ") + name), std::string::npos) << headless.seen;
        EXPECT_NE(listing.find(name), std::string::npos) << headless.seen;
    }
    EXPECT_EQ(headless.at("(mouse, 0x0000:0x0001)"), std::string::npos) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
