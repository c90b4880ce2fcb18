#pragma once

#include <map>
#include <optional>
#include <vector>

#include "Core/Gestures/ControlBehavior.h"
#include "Model/Capabilities.h"
#include "Model/Config.h"
#include "Model/Identifiers.h"
#include "Model/Rule.h"

namespace tindlewave {

struct CompiledHIDPPSetup;

// The desired HID++ state of a mouse.
struct HIDPPSetup {
    // What each served control does; a divertable control without an entry is undiverted.
    std::map<CID, ControlBehavior> controls;
    bool thumbWheelInverted = false;  // the device reverses the thumb wheel's native direction
    bool listening = false;           // every control but 0x50 diverted, to learn a press
    bool thumbWheelDiverted = false;  // thumb-wheel rotation comes as notices

    // Everything undiverted and the wheel not inverted.
    static HIDPPSetup native() { return {}; }

    // Compiles the HID++ rules of a profile against what discovery found (absent capabilities:
    // nothing is known yet, so no rule is skipped for want of a control or an ability).
    static CompiledHIDPPSetup compile(const DeviceProfile& profile,
                                      const std::optional<HIDPPCapabilities>& capabilities);

    // The set-up as a device sees it: without the entries of controls it lacks or cannot divert,
    // which it is never told of and which send no notices.
    HIDPPSetup onDevice(const HIDPPCapabilities& capabilities) const;

    // The behaviour of a control, or none when it has no entry.
    const ControlBehavior* behavior(CID cid) const {
        auto found = controls.find(cid);
        return found == controls.end() ? nullptr : &found->second;
    }

    bool operator==(const HIDPPSetup&) const = default;
};

// A profile's set-up, and the rules the device cannot serve.
struct CompiledHIDPPSetup {
    std::optional<HIDPPSetup> setup;  // none when the profile has no HID++ rule at all
    std::vector<Rule> skipped;        // in profile order
    bool operator==(const CompiledHIDPPSetup&) const = default;
};

}  // namespace tindlewave
