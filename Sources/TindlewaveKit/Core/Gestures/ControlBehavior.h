#pragma once

#include <optional>
#include <span>
#include <variant>

#include "Core/Gestures/GesturePlan.h"
#include "Core/Keys/HeldKeys.h"
#include "Model/Config.h"
#include "Model/Rule.h"
#include "Model/VariantRecord.h"

namespace tindlewave {

// The unit of the movement that will feed a control's gesture.
enum class MovementUnit {
    counts,  // HID++ raw-movement counts
    points,  // pointer points, seen through the event tap
};

// What one control does. Shared by HID++ controls and plain mouse buttons.
struct ControlBehavior {
    struct Press {  // the action fires on the press
        Action action;
        bool operator==(const Press&) const = default;
    };
    struct Gesture {  // hold-and-move: swipes or hold-to-scroll, with an optional click
        SharedGesturePlan plan;
        bool operator==(const Gesture&) const = default;
    };
    struct Hold {  // keys are held while the control is down
        KeyHold keyHold;
        bool operator==(const Hold&) const = default;
    };
    struct Native {  // nothing is changed
        bool operator==(const Native&) const = default;
    };

    std::variant<Press, Gesture, Hold, Native> value;

    static ControlBehavior press(Action action) { return {Press{std::move(action)}}; }
    static ControlBehavior gesture(GesturePlan plan) { return {Gesture{std::move(plan)}}; }
    static ControlBehavior hold(KeyHold keyHold) { return {Hold{std::move(keyHold)}}; }
    static ControlBehavior native() { return {Native{}}; }

    // The behaviour of one control from its rules (in profile order). A hold of keys wins over
    // everything else; hold-to-scroll wins over swipes. The gesture distance is the profile's
    // setting in raw counts, or 0.4 points per unit of it for pointer movement.
    static ControlBehavior fromRules(std::span<const Rule> rules, const DeviceProfile& profile,
                                     MovementUnit movement);

    bool operator==(const ControlBehavior&) const = default;
};

}  // namespace tindlewave
