#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "Platform/Linux/Input/LinuxEventSystem.h"

namespace tindlewave::testkit {

// A non-blocking pipe in place of an input node (the event system reads `read`, the test writes
// `write`) or of a uinput device (the event system writes `write`, the test reads `read`).
struct EvdevPipe {
    int read = -1;
    int write = -1;

    EvdevPipe() {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~EvdevPipe() {
        if (read >= 0) ::close(read);
        if (write >= 0) ::close(write);
    }
    EvdevPipe(const EvdevPipe&) = delete;
    EvdevPipe& operator=(const EvdevPipe&) = delete;
};

// Gives `events` a grabbed node read from `node`, whose frames go to `mirror`, as a watch would
// have found it; its frames are read by readNow. The pipes keep their own ends.
inline void adoptNode(LinuxEventSystem& events, const EventNodeInfo& info, const EvdevPipe& node,
                      InputDescription description, const EvdevPipe& mirror) {
    events.adoptNode(info, ::dup(node.read), std::move(description),
                     UinputDevice::adopt(::dup(mirror.write)));
}

// Gives `events` its own keyboard and pointer, writing into the two pipes (known by the two
// sysnames where given).
inline void adoptVirtualDevices(LinuxEventSystem& events, const EvdevPipe& keyboard,
                                const EvdevPipe& pointer, const std::string& keyboardSysname = {},
                                const std::string& pointerSysname = {}) {
    events.adoptVirtualDevices(UinputDevice::adopt(::dup(keyboard.write), keyboardSysname),
                               UinputDevice::adopt(::dup(pointer.write), pointerSysname));
}

}  // namespace tindlewave::testkit
