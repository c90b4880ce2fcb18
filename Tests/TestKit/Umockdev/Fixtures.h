#pragma once

// The devices the device tests plug into a testbed, in the shapes the kernel gives them: a
// Bluetooth Low Energy HID++ mouse (over uhid), a USB receiver with a paired HID++ mouse below
// it, a USB keyboard, a PS/2 keyboard and touch pad (input devices without HID), an unrelated HID
// device, /dev/uinput and an input device of the program's own. Each takes a number `n` that
// names its nodes (hidraw<n>, input/event<n>, input<20+n>, instance .000<n>), so several fit in
// one testbed and a replug can use fresh names. Tests add what they need (a hidraw node or event
// node to emulate, attributes) on top.

#include <cstdint>
#include <string>
#include <vector>

#include "TestKit/Umockdev/FixtureText.h"

namespace tindlewave::testkit::umockdev {

struct FixtureDevice {
    std::vector<DeviceText> devices;  // parents before children
    std::string interface;   // sysfs path of the hid device, or of the input device without HID
    std::string hidraw;      // "/dev/hidraw<n>"; empty without
    std::string hidrawPath;  // sysfs path of the hidraw node
    std::string input;       // sysfs path of input<20+n>; empty without
    std::string event;       // "/dev/input/event<n>"; empty without
    std::string eventPath;

    std::string text() const { return fixtureText(devices); }
    // Removal order for Testbed::unplug: the deepest first.
    std::vector<std::string> removalOrder() const;
};

struct HidppMouseIds {
    std::uint16_t productID = 0xB023;
    std::string name = "MX Master 3 Wireless Mouse";
    std::string address = "d1:8a:3c:40:52:19";  // HID_UNIQ
};

// Report descriptors of the fixtures.
std::vector<std::uint8_t> mouseDescriptor();  // {1,2}: report 2, 16 buttons, X/Y, wheel, pan
std::vector<std::uint8_t> bluetoothHidppMouseDescriptor();  // mouse + {0xFF43,0x0202} report 0x11
std::vector<std::uint8_t> pairedMouseDescriptor();  // mouse + {0xFF00,1} 0x10, {0xFF00,2} 0x11
std::vector<std::uint8_t> receiverDescriptor();     // {0xFF00,1}, {0xFF00,2}, {0xFF00,4}
std::vector<std::uint8_t> keyboardDescriptor();     // {1,6}, no report ids, 8-byte reports

FixtureDevice bluetoothHidppMouse(int n, const HidppMouseIds& ids = {});

struct ReceiverFixture {
    FixtureDevice receiver;  // the USB device, its interface, the receiver's hid device and node
    FixtureDevice paired;    // the paired mouse's hid device, hidraw, input and event nodes
    std::string text() const { return receiver.text() + paired.text(); }
};
// A receiver (046D:C52B on USB bus 1, port 2) with a mouse paired in `slot`, numbered n (receiver)
// and n + 1 (mouse).
ReceiverFixture receiverWithPairedMouse(int n, int slot = 1, std::uint16_t mouseProductID = 0x4082,
                                        const std::string& mouseName = "Paired Test Mouse");
// Another mouse paired to a receiver made before (numbered n).
FixtureDevice pairedMouse(const FixtureDevice& receiver, int n, int slot,
                          std::uint16_t productID = 0x4082,
                          const std::string& name = "Paired Test Mouse");

FixtureDevice usbMouse(int n);        // 1234:5678 on USB bus 1, port 4, high-resolution wheels
FixtureDevice usbKeyboard(int n);     // 3412:7801 on USB bus 1, port 3
FixtureDevice ps2Keyboard(int n);     // atkbd on serio0, no HID
FixtureDevice ps2Touchpad(int n);     // psmouse on serio1, no HID
FixtureDevice unrelatedDevice(int n); // a USB power device (page 0x84) with a hidraw node
FixtureDevice uinputNode();           // /dev/uinput
// An input device the program made through uinput (phys "tindlewave/<what>"), with its event node.
FixtureDevice ownVirtualDevice(int n, const std::string& name = "Tindlewave virtual pointer");

}  // namespace tindlewave::testkit::umockdev
