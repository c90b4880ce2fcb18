#include "Platform/Linux/Permissions/DeviceRules.h"

namespace tindlewave {

const DeviceRule& mouseDeviceRule() {
    static constexpr DeviceRule rule{"70-tindlewave.rules", R"rule(# /etc/udev/rules.d/70-tindlewave.rules
# Gives the user at this computer's seat what Tindlewave needs for mice: HID++ mice's
# hidraw nodes, mice's event nodes and /dev/uinput. No keyboard (71-tindlewave-keyboards.rules).
# Sorts after 60-input-id.rules (ID_INPUT_*) and before 73-seat-late.rules (applies uaccess).
ACTION=="remove", GOTO="tindlewave_end"
# HID++ devices the kernel's Logitech HID++ driver has bound: mice paired to a receiver,
# HID++ mice over Bluetooth or USB.
SUBSYSTEM=="hidraw", DRIVERS=="logitech-hidpp-device", TAG+="uaccess"
# Logitech Bluetooth mice left to the generic driver (products 0xB0xx; keyboards are 0xB3xx).
SUBSYSTEM=="hidraw", KERNELS=="0005:046D:B0??.*", DRIVERS=="hid-generic", TAG+="uaccess"
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

}  // namespace tindlewave
