#include "Platform/Linux/Permissions/DeviceRules.h"

namespace tindlewave {

const DeviceRule& mouseDeviceRule() {
    static constexpr DeviceRule rule{"70-tindlewave.rules", R"rule(# /etc/udev/rules.d/70-tindlewave.rules
# Gives the user at this computer's seat what Tindlewave needs for mice: HID++ mice's
# hidraw nodes, mice's event nodes and /dev/uinput. One kind of keyboard is reached too:
# a Logitech keyboard paired to a receiver (Unifying, Bolt, Lightspeed), whose HID++ node
# udev cannot tell from a paired mouse's, and whose keys go through that node. Other
# keyboards only with 71-tindlewave-keyboards.rules.
# Sorts after 60-input-id.rules (ID_INPUT_*) and before 73-seat-late.rules (applies uaccess).
ACTION=="remove", GOTO="tindlewave_end"
SUBSYSTEM!="hidraw", GOTO="tindlewave_hidraw_end"
# Logitech Bluetooth mice (products 0xB0xx; its Bluetooth keyboards are 0xB3xx), on the
# kernel's HID++ driver or left to the generic one.
KERNELS=="0005:046D:B0??.*", DRIVERS=="logitech-hidpp-device|hid-generic", TAG+="uaccess"
# HID++ mice on a USB cable that the HID++ driver has bound (0xC0xx; keyboards are 0xC3xx).
KERNELS=="0003:046D:C0??.*", DRIVERS=="logitech-hidpp-device", TAG+="uaccess"
# Devices paired to a receiver: the HID++ driver's node of each, never the receiver's own
# (its reports carry every paired keyboard's keys). udev knows a paired device only by
# the receiver and a wireless product number, which does not say mouse or keyboard.
DRIVERS=="logitech-djreceiver", GOTO="tindlewave_paired"
SUBSYSTEM=="hidraw", GOTO="tindlewave_hidraw_end"
LABEL="tindlewave_paired"
DRIVERS=="logitech-hidpp-device", TAG+="uaccess"
LABEL="tindlewave_hidraw_end"
# Mice's event nodes, but no node that is a keyboard too.
SUBSYSTEM=="input", KERNEL=="event*", ENV{ID_INPUT_MOUSE}=="1", ENV{ID_INPUT_KEYBOARD}!="1", TAG+="uaccess"
# Posting events, and the mirrors of grabbed devices.
SUBSYSTEM=="misc", KERNEL=="uinput", TAG+="uaccess", OPTIONS+="static_node=uinput"
LABEL="tindlewave_end"
)rule"};
    return rule;
}

const DeviceRule& keyboardDeviceRule() {
    static constexpr DeviceRule rule{"71-tindlewave-keyboards.rules", R"rule(# /etc/udev/rules.d/71-tindlewave-keyboards.rules
# Only for the hyper key and key routes: gives the user at this computer's seat the
# keyboards' event nodes. Every program you run can then read every key you type,
# passwords included, while you are logged in at this computer.
# Sorts after 60-input-id.rules (ID_INPUT_*) and before 73-seat-late.rules (applies uaccess).
ACTION=="remove", GOTO="tindlewave_keyboards_end"
SUBSYSTEM=="input", KERNEL=="event*", ENV{ID_INPUT_KEYBOARD}=="1", TAG+="uaccess"
LABEL="tindlewave_keyboards_end"
)rule"};
    return rule;
}

std::string deviceRuleCommands(bool hasUinput, bool keyboards) {
    // A quoted delimiter: the shell takes the text as it is, with no expansion.
    const auto write = [](const DeviceRule& rule) {
        return "sudo tee " + std::string(deviceRulesFolder) + "/" + std::string(rule.fileName) +
               " > /dev/null <<'END_OF_RULE'\n" + std::string(rule.text) + "END_OF_RULE\n";
    };
    std::string commands = write(mouseDeviceRule());
    if (keyboards) commands += write(keyboardDeviceRule());
    commands += "sudo udevadm control --reload\n";
    if (!hasUinput)
        commands += "sudo modprobe uinput\necho uinput | sudo tee /etc/modules-load.d/uinput.conf\n";
    commands += "sudo udevadm trigger --action=change --subsystem-match=hidraw "
                "--subsystem-match=input --subsystem-match=misc\n";
    return commands;
}

}  // namespace tindlewave
