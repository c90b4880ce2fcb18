#pragma once

#include <chrono>
#include <string>

namespace tindlewave {

// What the program can see of this machine's mice and keyboards, and why, for a user to read or
// paste into a bug report: each hidraw node (access, owner and mode, name, ids, bus, driver, the
// HID++ page and device index) with a read-only HID++ ping (the root feature's ping, answered with
// the protocol version) and its round-trip time, each input event node (kind, access, name),
// uinput (there, its owner and mode, writable; what mends it when not: its module when the node
// is missing, else the device rule), whether logind's login session can be followed, and a
// summary that tells a mouse that could not be opened from one that opened and did not answer. Names the devices give are escaped
// (terminalText). Nothing is written to a device but the ping; nothing is grabbed or diverted.
struct DeviceCheck {
    struct Options {
        std::chrono::milliseconds pingTimeout{1000};
        std::string uinput = "/dev/uinput";
    };
    struct Outcome {
        std::string text;
        // 0 when at least one HID++ mouse was found and every one answered; 1 otherwise.
        int status = 1;
    };

    static Outcome run(const Options& options);
    static Outcome run() { return run(Options{}); }
};

}  // namespace tindlewave
