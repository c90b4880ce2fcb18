#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "Model/VariantRecord.h"

namespace tindlewave {

// What can go wrong when a keyboard's key remapping is written or read: by hidutil, or by the
// program itself over the keyboard's own key table.
struct KeyMapError {
    // hidutil failed to start (status -1) or exited with a status other than 0.
    struct HidutilFailed {
        std::int32_t status;
        std::string output;  // everything it printed
        bool operator==(const HidutilFailed&) const = default;
    };
    // The read-back after a write listed no keyboard service for the matching text.
    struct NoServiceMatched {
        bool operator==(const NoServiceMatched&) const = default;
    };
    // A matching keyboard service did not report exactly the mappings just written.
    struct ServiceLagsDevice {
        bool operator==(const ServiceLagsDevice&) const = default;
    };
    // hidutil was killed after running too long.
    struct TimedOut {
        bool operator==(const TimedOut&) const = default;
    };
    // The keyboard's own key table could not be read or written; the reason names the device.
    struct DeviceFailed {
        std::string reason;
        bool operator==(const DeviceFailed&) const = default;
    };
    std::variant<HidutilFailed, NoServiceMatched, ServiceLagsDevice, TimedOut, DeviceFailed> value;

    static KeyMapError hidutilFailed(std::int32_t status, std::string output) {
        return {HidutilFailed{status, std::move(output)}};
    }
    static KeyMapError noServiceMatched() { return {NoServiceMatched{}}; }
    static KeyMapError serviceLagsDevice() { return {ServiceLagsDevice{}}; }
    static KeyMapError timedOut() { return {TimedOut{}}; }
    static KeyMapError deviceFailed(std::string reason) { return {DeviceFailed{std::move(reason)}}; }

    // The words the status shows, one line: e.g. "hidutil exited 1: …" (what it printed, its
    // lines joined by "; "), "hidutil timed out" or a device failure's reason.
    std::string description() const;

    bool operator==(const KeyMapError&) const = default;
};

}  // namespace tindlewave
