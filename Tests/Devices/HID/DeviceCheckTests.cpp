// The device check against emulated devices: what it lists, the HID++ ping at the right index,
// and its status.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "Runtime/Worlds/DeviceCheck.h"
#include "TestKit/Umockdev/EmulatedNode.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/HidppDeviceSide.h"
#include "TestKit/Umockdev/Preload.h"
#include "TestKit/Umockdev/Testbed.h"

using namespace tindlewave;
using namespace tindlewave::testkit::umockdev;

namespace {

bool holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(DeviceCheck, ListsNodesPingsEveryHIDPPMouseAtItsIndexAndSucceedsWhenAllAnswer) {
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0);
    auto receiver = receiverWithPairedMouse(1, 3);
    auto keyboard = ps2Keyboard(4);
    for (const auto* device : {&mouse, &keyboard}) ASSERT_TRUE(testbed.add(device->text()));
    ASSERT_TRUE(testbed.add(receiver.text()));
    EmulatedNode mouseNode(testbed, mouse.hidraw);
    HidppDeviceSide mouseSide(mouseNode, VirtualMouseDescription::basic({}, false));
    EmulatedNode pairedNode(testbed, receiver.paired.hidraw);
    auto paired = VirtualMouseDescription::basic({}, false);
    paired.deviceIndex = 3;
    HidppDeviceSide pairedSide(pairedNode, paired);

    auto check = DeviceCheck::run(DeviceCheck::Options{std::chrono::milliseconds(2000)});
    EXPECT_EQ(check.status, 0) << check.text;
    EXPECT_TRUE(holds(check.text, "/dev/hidraw0  \"MX Master 3 Wireless Mouse\"  046D:B023  Bluetooth Low Energy  driver hid-generic"))
        << check.text;
    EXPECT_TRUE(holds(check.text, "HID++ on page 0xFF43, device index 0xFF; ping: answered in")) << check.text;
    EXPECT_TRUE(holds(check.text, "HID++ on page 0xFF00 (taken as 0xFF43), device index 0x03; ping: answered in"))
        << check.text;
    EXPECT_TRUE(holds(check.text, "a receiver: its paired devices are checked on their own nodes")) << check.text;
    EXPECT_TRUE(holds(check.text, "/dev/input/event4  keyboard  \"AT Translated Set 2 keyboard\"; read yes"))
        << check.text;
    EXPECT_TRUE(holds(check.text, "2 of 2 HID++ mice answered.")) << check.text;
    // Whether logind's session can be followed is said either way (without a system bus, why not).
    EXPECT_TRUE(holds(check.text, "\nLogin session (logind):\n  followed: ") ||
                holds(check.text, "\nLogin session (logind):\n  not followed: "))
        << check.text;
    // A ping only: nothing was set on either mouse.
    for (auto* side : {&mouseSide, &pairedSide}) {
        auto requests = side->read([](const VirtualHidppMouse& m) { return m.requestsReceived(); });
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0][2], 0x00);          // the root feature
        EXPECT_EQ(requests[0][3] >> 4, 1);        // its ping
    }
}

TEST(DeviceCheck, AMouseThatDoesNotAnswerFailsTheCheck) {
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    EmulatedNode node(testbed, mouse.hidraw);
    node.onWrite([](std::span<const std::uint8_t>) { return 0; });  // taken, never answered
    auto check = DeviceCheck::run(DeviceCheck::Options{std::chrono::milliseconds(100)});
    EXPECT_EQ(check.status, 1);
    EXPECT_TRUE(holds(check.text, "ping: no answer within 100 ms")) << check.text;
    EXPECT_TRUE(holds(check.text, "0 of 1 HID++ mice answered.")) << check.text;
    // It opened: access is not the matter.
    EXPECT_FALSE(holds(check.text, "needs read and write access")) << check.text;
    EXPECT_TRUE(holds(check.text, "1 mouse opened but did not answer as a HID++ 2.0 mouse")) << check.text;
}

TEST(DeviceCheck, AMouseThatCannotBeOpenedIsToldToNeedAccess) {
    if (rerunUnprivileged()) return;
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    // The node is a pseudo-terminal of this process: take every right on it away.
    auto target = std::filesystem::read_symlink(testbed.rootDir() + "/dev/hidraw0");
    ASSERT_EQ(::chmod(target.c_str(), 0), 0) << target;
    auto check = DeviceCheck::run(DeviceCheck::Options{std::chrono::milliseconds(100)});
    EXPECT_EQ(check.status, 1);
    EXPECT_TRUE(holds(check.text, "ping: not sent: cannot open (Permission denied)")) << check.text;
    EXPECT_TRUE(holds(check.text, "needs read and write access to its hidraw node")) << check.text;
    EXPECT_FALSE(holds(check.text, "opened but did not answer")) << check.text;
}

TEST(DeviceCheck, NamesTheDevicesGiveCannotSendEscapeSequences) {
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0, {.name = "Mouse\x1b[2J\x1b]0;title\x07"});
    ASSERT_TRUE(testbed.add(mouse.text()));
    EmulatedNode node(testbed, mouse.hidraw);
    HidppDeviceSide side(node, VirtualMouseDescription::basic({}, false));
    auto check = DeviceCheck::run(DeviceCheck::Options{std::chrono::milliseconds(2000)});
    for (char control : {'\x1b', '\x07'})
        EXPECT_EQ(check.text.find(control), std::string::npos) << check.text;
    EXPECT_TRUE(holds(check.text, "\"Mouse\\u001b[2J\\u001b]0;title\\u0007\"")) << check.text;
}

// uinput is told apart as the grants tell it: no node is the module not loaded (which no rule
// brings), a node there but refused is the device rule not installed.
TEST(DeviceCheck, SaysWhetherUinputIsThereAndWritableAndWhatMendsIt) {
    if (rerunUnprivileged()) return;
    Testbed testbed;
    ASSERT_TRUE(testbed.add(uinputNode().text()));
    auto target = std::filesystem::read_symlink(testbed.rootDir() + "/dev/uinput");
    const auto check = [](std::string uinput = "/dev/uinput") {
        return DeviceCheck::run(DeviceCheck::Options{.pingTimeout = std::chrono::milliseconds(100), .uinput = uinput}).text;
    };
    const std::string heading = "\n/dev/uinput (posting events, the mirrors of grabbed devices):\n";

    ASSERT_EQ(::chmod(target.c_str(), 0600), 0) << target;
    auto text = check();
    EXPECT_TRUE(holds(text, heading + "  present, mode 0600, owner ")) << text;
    EXPECT_TRUE(holds(text, "; write yes\n\n")) << text;

    ASSERT_EQ(::chmod(target.c_str(), 0400), 0) << target;
    text = check();
    EXPECT_TRUE(holds(text, "; write no (Permission denied)\n  install the device rule: README, \"Using it with real "
                            "devices\"\n"))
        << text;
    EXPECT_FALSE(holds(text, "modprobe")) << text;

    const std::string missing = testbed.rootDir() + "/dev/uinput-missing";
    text = check(missing);
    EXPECT_TRUE(holds(text, "\n" + missing + " (posting events, the mirrors of grabbed devices):\n"
                            "  missing (No such file or directory): the uinput module is not loaded\n"
                            "  load the uinput module: sudo modprobe uinput (and for the next boots: echo uinput | "
                            "sudo tee /etc/modules-load.d/uinput.conf)\n"))
        << text;
    EXPECT_FALSE(holds(text, "install the device rule")) << text;
}
