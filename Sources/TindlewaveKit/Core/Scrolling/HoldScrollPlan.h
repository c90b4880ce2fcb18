#pragma once

#include <optional>
#include <variant>

#include "Model/VariantRecord.h"

namespace tindlewave {

struct HoldToScroll;
struct SmoothScroll;

// How long the page coasts after a fling, and how hard it brakes (the decay exponent parameter of
// a scroll pulse's shape).
struct Glide {
    double seconds = 0;
    double brake = 0;

    bool operator==(const Glide&) const = default;
};

// How a control scrolls the page while it is held and moved.
struct HoldScrollPlan {
    double gain = 0;                // scroll points per unit of movement, signed
    std::optional<Glide> momentum;  // none: the page stops when the control is let go

    HoldScrollPlan() = default;
    HoldScrollPlan(double gainValue, std::optional<Glide> momentumValue)
        : gain(gainValue), momentum(momentumValue) {}
    // The plan of a device's hold-to-scroll settings. `glide` is the device's smooth-scrolling
    // settings (only their duration and brake are used: they set the coast); `pointsPerUnit` is
    // the size in points of one unit of the control's movement (0.4 for raw HID++ counts, 1.0
    // for event-tap points).
    HoldScrollPlan(const HoldToScroll& settings, const SmoothScroll& glide, double pointsPerUnit);

    bool operator==(const HoldScrollPlan&) const = default;
};

// What the gesture machine reports while a hold-to-scroll control is held and moved.
struct HoldScrollEvent {
    struct Began {
        HoldScrollPlan plan;
        bool operator==(const Began&) const = default;
    };
    // Movement already multiplied by the plan's gain, in points.
    struct Moved {
        double dx = 0;
        double dy = 0;
        bool operator==(const Moved&) const = default;
    };
    struct Ended {
        bool operator==(const Ended&) const = default;
    };

    std::variant<Began, Moved, Ended> value;

    static HoldScrollEvent began(HoldScrollPlan plan) { return {Began{plan}}; }
    static HoldScrollEvent moved(double dx, double dy) { return {Moved{dx, dy}}; }
    static HoldScrollEvent ended() { return {Ended{}}; }

    bool operator==(const HoldScrollEvent&) const = default;
};

}  // namespace tindlewave
