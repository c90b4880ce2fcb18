#pragma once

// The two keyboards of the kernel tier's keyboard scenarios: a USB keyboard made through uhid
// (hid-generic) and the machine's own i8042 keyboard (atkbd), whose keys the host presses. Both
// are driven by key names ("caps", "a", "b", "leftctrl").

#include <memory>
#include <set>
#include <string>

#include "Kernel/Scenarios/Guest.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {

struct Keyboard {
    std::unique_ptr<testkit::uhid::UsbKeyboard> usb;  // null: the machine's own keyboard
    std::string node;
    std::string name;
    std::uint32_t capsScan = 0;  // Caps Lock's scan code in its key table
    std::string match;           // the configuration's match for it

    bool press(const std::string& key);
    bool release(const std::string& key);
};

// The USB keyboard (046A:0011), made and its node settled in udev; or the i8042 keyboard.
Keyboard usbKeyboard();
Keyboard builtInKeyboard();

// A configuration with the hyper key on Caps Lock for each keyboard given (none: hyper off), and
// `extraRules` (JSON rule objects) on the first.
std::string hyperConfig(const std::vector<const Keyboard*>& keyboards, bool hyper = true,
                        const std::string& extraRules = "");

// `hyperConfig` for the keyboard, with the recorded MX Master 3's top button (0xC4) clicking
// Shift+Super+4.
std::string hyperAndTopButtonConfig(const Keyboard& keyboard);

// Whether the node has a Control, Alt, Shift and Super key down (either side) / none of them.
bool fourModifiersDown(const std::string& node);
bool noModifierDown(const std::string& node);

}  // namespace tindlewave::kernel
