// The device rules under the real kernel and udevd: which nodes they tag for the seat's user.
// The mice's rule must reach the HID++ mice under each driver and uinput, and no keyboard udev can
// tell from a mouse: not a Logitech keyboard's hidraw node on the generic driver or on the HID++
// driver, not the receiver's own node (its reports carry paired keyboards' keys), not a
// keyboard's event node. The keyboards' rule adds
// the keyboards' event nodes. The rules go into udev's runtime folder for the scenario only.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Kernel/Scenarios/Guest.h"
#include "Platform/Linux/Permissions/DeviceRules.h"
#include "TestKit/Uhid/UhidDevice.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

namespace fs = std::filesystem;
using testkit::uhid::BluetoothHidppMouse;
using testkit::uhid::Receiver;
using testkit::uhid::UhidDevice;
using testkit::uhid::UhidIdentity;
using testkit::uhid::UsbKeyboard;

const fs::path runtimeRules = "/run/udev/rules.d";

// Whether udev has tagged the node `uaccess` (its database, as the seat's rule reads it).
bool tagged(const std::string& node) {
    std::string command = "udevadm info --query=property --name=" + node + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return false;
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
    for (const char* key : {"\nTAGS=", "\nCURRENT_TAGS="}) {
        auto at = ("\n" + output).find(key);
        if (at == std::string::npos) continue;
        auto end = ("\n" + output).find('\n', at + 1);
        if (("\n" + output).substr(at, end - at).find(":uaccess:") != std::string::npos) return true;
    }
    return false;
}

// The driver bound to a hidraw node's HID device.
std::string boundDriver(const std::string& node) {
    std::error_code error;
    const auto driver = fs::read_symlink("/sys/class/hidraw/" + fs::path(node).filename().string() + "/device/driver", error);
    return error ? std::string() : driver.filename().string();
}

// Installs the rules as the guide's commands do, into udev's runtime folder, and announces the
// nodes again; removes them at the end.
struct InstalledRules {
    std::vector<fs::path> files;
    void install(const DeviceRule& rule) {
        fs::create_directories(runtimeRules);
        files.push_back(runtimeRules / std::string(rule.fileName));
        std::ofstream(files.back()) << rule.text;
        announce();
    }
    static void announce() {
        [[maybe_unused]] int status = std::system(
            "udevadm control --reload && udevadm trigger --action=change --subsystem-match=hidraw "
            "--subsystem-match=input --subsystem-match=misc && udevadm settle --timeout=60");
    }
    ~InstalledRules() {
        for (const auto& file : files) fs::remove(file);
        announce();
    }
};

TEST(DeviceRules, TheMiceRuleReachesHidppMiceAndNoKeyboard) {
    std::string error;
    auto underHidpp = BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"), "MX Master 3",
                                                  0xB023, error);
    ASSERT_TRUE(underHidpp) << error;
    auto underGeneric =
        BluetoothHidppMouse::create(recording("MX-Anywhere-3-B025.json"), "MX Anywhere 3", 0xB025, error);
    ASSERT_TRUE(underGeneric) << error;
    auto paired = recording("MX-Master-3-Wireless-Mouse-B023.json");
    paired.deviceIndex = 1;
    auto receiver = Receiver::create(paired, 0x4082, 0xC52B, error);
    ASSERT_TRUE(receiver) << error;
    // A Logitech keyboard over Bluetooth left to the generic driver, and one over USB: their
    // hidraw nodes carry every key.
    auto bluetoothKeyboard = UhidDevice::create(
        UhidIdentity{"Logitech K380", "00:11:22:33:44:55", "66:77:88:99:aa:bb", 0x05, 0x046D, 0xB342, 0x0111,
                     testkit::uhid::bootKeyboardDescriptor()},
        [](UhidDevice&, auto, bool) {}, error);
    ASSERT_TRUE(bluetoothKeyboard) << error;
    auto usbKeyboard = UsbKeyboard::create("Logitech USB Keyboard", 0x046D, 0xC31C, error);
    ASSERT_TRUE(usbKeyboard) << error;
    // A Bluetooth keyboard that the kernel's HID++ driver binds (0xB35F is on its list): its keys
    // go through its HID++ node. Answering HID++ as the recorded mouse does is enough for the driver.
    auto hidppKeyboard = BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"),
                                                     "Logitech HID++ Keyboard", 0xB35F, error);
    ASSERT_TRUE(hidppKeyboard) << error;

    const auto hidraw = [](std::uint16_t vendor, std::uint16_t product) {
        return waitForNode([=] { return hidrawNode(vendor, product); });
    };
    const std::string mouseHidpp = hidraw(0x046D, 0xB023), mouseGeneric = hidraw(0x046D, 0xB025),
                      pairedHidraw = hidraw(0x046D, 0x4082), receiverHidraw = hidraw(0x046D, 0xC52B),
                      bluetoothKeyboardHidraw = hidraw(0x046D, 0xB342), usbKeyboardHidraw = hidraw(0x046D, 0xC31C),
                      hidppKeyboardHidraw = hidraw(0x046D, 0xB35F);
    const std::string bluetoothKeyboardEvent = waitForNode([] { return eventNode("Logitech K380"); });
    const std::string usbKeyboardEvent = waitForNode([] { return eventNode("Logitech USB Keyboard"); });
    const std::string mouseEvent = waitForNode([] { return eventNodeContaining("MX Anywhere 3"); });
    for (const auto& node : {mouseHidpp, mouseGeneric, pairedHidraw, receiverHidraw, bluetoothKeyboardHidraw,
                             usbKeyboardHidraw, hidppKeyboardHidraw, bluetoothKeyboardEvent, usbKeyboardEvent,
                             mouseEvent})
        ASSERT_FALSE(node.empty()) << describeInputNodes();
    settleUdev();

    InstalledRules rules;
    rules.install(mouseDeviceRule());
    EXPECT_TRUE(tagged(mouseHidpp)) << mouseHidpp << ": a mouse under the kernel's HID++ driver";
    EXPECT_TRUE(tagged(mouseGeneric)) << mouseGeneric << ": a Bluetooth mouse under the generic driver";
    EXPECT_TRUE(tagged(pairedHidraw)) << pairedHidraw << ": a mouse paired to a receiver";
    EXPECT_TRUE(tagged(mouseEvent)) << mouseEvent;
    EXPECT_TRUE(tagged("/dev/uinput"));
    EXPECT_FALSE(tagged(receiverHidraw)) << receiverHidraw << ": the receiver's own node";
    EXPECT_FALSE(tagged(bluetoothKeyboardHidraw)) << bluetoothKeyboardHidraw << ": a Bluetooth keyboard's";
    EXPECT_FALSE(tagged(usbKeyboardHidraw)) << usbKeyboardHidraw << ": a USB keyboard's";
    EXPECT_EQ(boundDriver(hidppKeyboardHidraw), "logitech-hidpp-device");
    EXPECT_FALSE(tagged(hidppKeyboardHidraw)) << hidppKeyboardHidraw << ": a Bluetooth keyboard's on the HID++ driver";
    EXPECT_FALSE(tagged(bluetoothKeyboardEvent)) << bluetoothKeyboardEvent;
    EXPECT_FALSE(tagged(usbKeyboardEvent)) << usbKeyboardEvent;

    rules.install(keyboardDeviceRule());
    EXPECT_TRUE(tagged(bluetoothKeyboardEvent)) << bluetoothKeyboardEvent;
    EXPECT_TRUE(tagged(usbKeyboardEvent)) << usbKeyboardEvent;
    EXPECT_FALSE(tagged(bluetoothKeyboardHidraw)) << "the keyboards' rule gives event nodes only";
}

}  // namespace
}  // namespace tindlewave::kernel
