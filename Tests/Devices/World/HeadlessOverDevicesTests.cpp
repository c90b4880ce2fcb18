// The headless program over this machine's devices (emulated): the default world end to end.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "Core/Evdev/EvdevKeys.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "TestKit/HeadlessProcess.h"
#include "TestKit/Umockdev/EmulatedNode.h"
#include "TestKit/Umockdev/EvdevSide.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/HidppDeviceSide.h"
#include "TestKit/Umockdev/Testbed.h"
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

TEST(HeadlessOverDevices, SetsUpTheMouseAndKeyboardFiresARuleAndQuitsLeavingBothAsTheyWere) {
    Testbed testbed;
    const auto mouse = bluetoothHidppMouse(0);
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(testbed.add(mouse.text()));
    ASSERT_TRUE(testbed.add(keyboard.text()));
    ASSERT_TRUE(testbed.add(uinputNode().text()));
    auto recording = loadVirtualMouse(TW_DATA_ROOT "/devices/MX-Master-3-Wireless-Mouse-B023.json");
    ASSERT_TRUE(recording.ok());
    EmulatedNode hidraw(testbed, mouse.hidraw);
    HidppDeviceSide mouseSide(hidraw, *recording);
    KeyTableSide keyTable(testbed, keyboard.event, keyboardTable());
    UinputSide uinput(testbed);
    {
        Headless headless;
        overDevices(headless);
        writeConfig(headless);
        headless.start({});
        ASSERT_TRUE(headless.waitFor("Test Keyboard (connected, hyper on)")) << headless.seen;
        ASSERT_TRUE(headless.waitFor("MX Master 3 (connected, HID++ set up)")) << headless.seen;
        EXPECT_EQ(keyTable.table().at(0x70039), keyF18);
        EXPECT_TRUE(mouseSide.read([](const VirtualHidppMouse& m) {
            auto reporting = m.reporting(0xC4);
            return reporting && reporting->divert;
        }));

        mouseSide.act([](VirtualHidppMouse& m, Instant now) { m.press(0xC4, now); });
        mouseSide.act([](VirtualHidppMouse& m, Instant now) { m.release(0xC4, now); });
        EXPECT_TRUE(headless.waitFor("action: ")) << headless.seen;
        // The shortcut reaches the desktop through the program's own keyboard: the 4 goes down.
        bool posted = false;
        for (int i = 0; i < 200 && !posted; ++i) {
            const auto written = uinput.written("Tindlewave virtual keyboard");
            posted = std::find(written.begin(), written.end(), Code{EV_KEY, KEY_4, 1}) != written.end();
            if (!posted) std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(posted) << headless.seen;

        headless.send("quit");
        ASSERT_TRUE(headless.waitFor("at exit")) << headless.seen;
        const int status = headless.exitStatus();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
    }
    EXPECT_EQ(keyTable.table(), keyboardTable());
    EXPECT_FALSE(mouseSide.read([](const VirtualHidppMouse& m) {
        auto reporting = m.reporting(0xC4);
        return reporting && reporting->divert;
    }));
}

TEST(HeadlessOverDevices, WithoutDevicesItRunsSaysWhyAndTakesUpAKeyboardPluggedInLater) {
    Testbed testbed;
    Headless headless;
    overDevices(headless);
    headless.start({});
    ASSERT_TRUE(headless.waitFor("no devices found")) << headless.seen;
    EXPECT_NE(headless.seen.find("cannot use devices: /dev/uinput: No such file or directory"),
              std::string::npos)
        << headless.seen;

    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(testbed.add(keyboard.text()));
    KeyTableSide keyTable(testbed, keyboard.event, keyboardTable());
    bool listed = false;
    for (int i = 0; i < 100 && !listed; ++i) {
        headless.send("devices");
        listed = headless.waitFor("device: Test Keyboard (keyboard, 0x3412:0x7801)", 1s);
    }
    EXPECT_TRUE(listed) << headless.seen;
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit")) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
