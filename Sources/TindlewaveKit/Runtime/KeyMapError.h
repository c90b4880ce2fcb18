#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace tindlewave {

// What can go wrong when hidutil writes or reads a keyboard's UserKeyMapping.
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
    std::variant<HidutilFailed, NoServiceMatched, ServiceLagsDevice, TimedOut> value;

    static KeyMapError hidutilFailed(std::int32_t status, std::string output) {
        return {HidutilFailed{status, std::move(output)}};
    }
    static KeyMapError noServiceMatched() { return {NoServiceMatched{}}; }
    static KeyMapError serviceLagsDevice() { return {ServiceLagsDevice{}}; }
    static KeyMapError timedOut() { return {TimedOut{}}; }

    // The words the status shows, e.g. "hidutil exited 1: …" or "hidutil timed out".
    std::string description() const;

    template <class C>
    bool is() const {
        return std::holds_alternative<C>(value);
    }
    template <class C>
    const C* as() const {
        return std::get_if<C>(&value);
    }

    bool operator==(const KeyMapError&) const = default;
};

}  // namespace tindlewave
