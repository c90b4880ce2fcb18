#include "Platform/Linux/Session/SystemBusMatch.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace tindlewave {

SystemBusMatch::~SystemBusMatch() {
    sd_bus_slot_unref(match);
    sd_bus_flush_close_unref(bus);
}

bool SystemBusMatch::processReady() {
    for (;;) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) return false;
        if (r == 0) break;
    }
    return sd_bus_is_open(bus) > 0;
}

std::string busError(const char* what, int code, const sd_bus_error* error) {
    std::string text = std::string(what) + ": ";
    if (error && error->message) return text + error->message;
    return text + std::strerror(code < 0 ? -code : code);
}

}  // namespace tindlewave
