#pragma once

#include <string>

#include "Core/Devices/DeviceIDs.h"

namespace tindlewave {

// One evdev node as the device registry publishes it.
struct EventNodeInfo {
    enum class Kind { mouse, keyboard, other };  // other: touch pads, tablets, everything else

    SenderID id;          // the registry id: the origin of the node's events
    std::string devnode;  // "/dev/input/event5"
    Kind kind = Kind::other;
    std::string sysname;  // of its input device ("input12"), to know the program's own
};

}  // namespace tindlewave
