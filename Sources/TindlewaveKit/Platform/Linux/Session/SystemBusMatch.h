#pragma once

#include <systemd/sd-bus.h>

#include <string>

namespace tindlewave {

// A connection to the system bus with one signal match on it, as the logind watches hold it:
// both are let go together.
struct SystemBusMatch {
    sd_bus* bus = nullptr;
    sd_bus_slot* match = nullptr;

    SystemBusMatch() = default;
    SystemBusMatch(const SystemBusMatch&) = delete;
    SystemBusMatch& operator=(const SystemBusMatch&) = delete;
    ~SystemBusMatch();

    // Handles every message the bus has ready (the match's callback runs for each signal);
    // false once the connection is lost.
    bool processReady();
};

// "what: cause", the cause from the bus's error when it has a message, else from the code.
std::string busError(const char* what, int code, const sd_bus_error* error = nullptr);

}  // namespace tindlewave
