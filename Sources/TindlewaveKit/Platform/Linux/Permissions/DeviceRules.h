#pragma once

#include <string>
#include <string_view>

namespace tindlewave {

// The device rules the program ships (Data/udev, installed as share/tindlewave/udev), built into
// the program so that what the guide shows and installs is exactly this text and never a file
// another process could have swapped first. A test keeps them equal to the shipped files.
struct DeviceRule {
    std::string_view fileName;  // under /etc/udev/rules.d
    std::string_view text;      // ends with a newline
};

// What the program needs for mice: HID++ mice's hidraw nodes, mice's event nodes, /dev/uinput.
const DeviceRule& mouseDeviceRule();
// Only when the configuration uses keyboards (hyper key, key routes): the keyboards' event nodes.
const DeviceRule& keyboardDeviceRule();

inline constexpr std::string_view deviceRulesFolder = "/etc/udev/rules.d";

// The commands that install the device rule, one per line, for a terminal: the rule's whole text
// is written by `sudo tee` from the commands themselves (a here-document), so what is installed
// is what the user reads, never a file another process could swap first. With `keyboards` (the
// configuration uses them) the keyboards' rule too; without `hasUinput` the commands that load
// the uinput module, now and at every boot.
std::string deviceRuleCommands(bool hasUinput, bool keyboards);

}  // namespace tindlewave
