#pragma once

#include <optional>
#include <vector>

#include "Model/Identifiers.h"

namespace tindlewave {

// What HID++ discovery found on one mouse.
struct HIDPPCapabilities {
    // One reprogrammable control of the device.
    struct Control {
        CID cid;
        bool divertable = false;  // its presses can be sent to the program instead of the system
        bool rawXY = false;       // while diverted, it can also divert the raw movement

        bool operator==(const Control&) const = default;
    };

    std::vector<Control> controls;  // in the order of discovery's replies
    bool thumbWheel = false;

    // The first control with this id, or none.
    std::optional<Control> control(CID cid) const {
        for (const Control& entry : controls) {
            if (entry.cid == cid) return entry;
        }
        return std::nullopt;
    }

    bool operator==(const HIDPPCapabilities&) const = default;
};

}  // namespace tindlewave
