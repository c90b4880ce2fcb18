#pragma once

#include <optional>

#include "Core/HIDPP/Setup.h"

namespace tindlewave {

// A slot's memory of whether its device still owes the native set-up: once the program has sent
// a set-up of its own, every apply without a desired set-up puts the device back to native.
struct HIDPPWrites {
    bool owesNative = false;

    // The set-up to write for the desired one, or nothing when the device is to be left alone.
    std::optional<HIDPPSetup> send(const std::optional<HIDPPSetup>& desired) {
        if (desired) {
            owesNative = true;
            return desired;
        }
        if (owesNative) return HIDPPSetup::native();
        return std::nullopt;
    }

    bool operator==(const HIDPPWrites&) const = default;
};

}  // namespace tindlewave
